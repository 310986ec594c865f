// The engine workers of the service: a fixed number of threads run the
// engine work of requests, a bounded number of requests wait for their turn,
// and the rest are turned away at once so that an overloaded server answers
// rather than piling up work. Only these threads ever run the engine, so its
// per-thread state and memory stay with a fixed set of threads however many
// connections come and go.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class workGate {
public:
    workGate(int32_t workers, int32_t maxWaiting);
    ~workGate();
    workGate(const workGate&) = delete;
    workGate& operator=(const workGate&) = delete;

    // Runs the job on a worker and returns when it has run; false, at once
    // and without running it, when every worker is busy and maxWaiting jobs
    // already wait. The job must not throw.
    bool run(const std::function<void()>& job);

    int32_t running() const;
    int32_t waiting() const;
    // Requests the gate holds at most: running and waiting.
    int32_t capacity() const { return m_workers + m_maxWaiting; }

private:
    struct pending {
        const std::function<void()>* job;
        bool done = false;
    };
    void work();

    const int32_t m_workers;
    const int32_t m_maxWaiting;
    mutable std::mutex m_mutex;
    std::condition_variable m_queued;  // a job was queued, or the gate closes
    std::condition_variable m_done;    // a job has run
    std::deque<pending*> m_queue;
    int32_t m_running = 0;
    bool m_closing = false;
    std::vector<std::thread> m_threads;
};
