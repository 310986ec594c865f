// Admission of requests to the engine: a fixed number of requests run at
// once, a bounded number wait for their turn, and the rest are turned away at
// once so that an overloaded server answers rather than piling up work.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

class workGate {
public:
    workGate(int32_t workers, int32_t maxWaiting) : m_workers(workers), m_maxWaiting(maxWaiting) {}

    // Waits for a free worker and takes it; false, at once, when every worker
    // is busy and maxWaiting requests already wait.
    bool enter();
    // Gives back the worker taken by enter.
    void leave();

    int32_t running() const;
    // Requests the gate holds at most: running and waiting.
    int32_t capacity() const { return m_workers + m_maxWaiting; }
    int32_t waiting() const;

private:
    const int32_t m_workers;
    const int32_t m_maxWaiting;
    mutable std::mutex m_mutex;
    std::condition_variable m_free;
    int32_t m_running = 0;
    int32_t m_waiting = 0;
};

// Holds a worker of a gate for its lifetime when admitted.
class gatePass {
public:
    explicit gatePass(workGate& gate) : m_gate(gate), m_admitted(gate.enter()) {}
    ~gatePass() {
        if (m_admitted) m_gate.leave();
    }
    gatePass(const gatePass&) = delete;
    gatePass& operator=(const gatePass&) = delete;
    bool admitted() const { return m_admitted; }

private:
    workGate& m_gate;
    bool m_admitted;
};
