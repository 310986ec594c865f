#include "service/workGate.h"

workGate::workGate(int32_t workers, int32_t maxWaiting)
    : m_workers(workers > 0 ? workers : 1), m_maxWaiting(maxWaiting > 0 ? maxWaiting : 0) {
    for (int32_t i = 0; i < m_workers; ++i) m_threads.emplace_back([this] { work(); });
}

workGate::~workGate() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
    }
    m_queued.notify_all();
    for (std::thread& t : m_threads) t.join();
}

bool workGate::run(const std::function<void()>& job) {
    pending entry;
    entry.job = &job;
    std::unique_lock<std::mutex> lock(m_mutex);
    // Waiting jobs are those queued beyond the idle workers.
    int32_t idle = m_workers - m_running;
    if (static_cast<int32_t>(m_queue.size()) - idle >= m_maxWaiting) return false;
    m_queue.push_back(&entry);
    m_queued.notify_one();
    m_done.wait(lock, [&entry] { return entry.done; });
    return true;
}

void workGate::work() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_queued.wait(lock, [this] { return m_closing || !m_queue.empty(); });
        if (m_queue.empty()) return;  // closing with nothing left
        pending* entry = m_queue.front();
        m_queue.pop_front();
        ++m_running;
        lock.unlock();
        (*entry->job)();
        lock.lock();
        --m_running;
        entry->done = true;
        m_done.notify_all();
    }
}

int32_t workGate::running() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running;
}

int32_t workGate::waiting() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    int32_t queued = static_cast<int32_t>(m_queue.size());
    int32_t idle = m_workers - m_running;
    return queued > idle ? queued - idle : 0;
}
