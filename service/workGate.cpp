#include "service/workGate.h"

bool workGate::enter() {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_running < m_workers) {
        ++m_running;
        return true;
    }
    if (m_waiting >= m_maxWaiting) return false;
    ++m_waiting;
    m_free.wait(lock, [this] { return m_running < m_workers; });
    --m_waiting;
    ++m_running;
    return true;
}

void workGate::leave() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_running;
    }
    m_free.notify_one();
}

int32_t workGate::running() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running;
}

int32_t workGate::waiting() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_waiting;
}
