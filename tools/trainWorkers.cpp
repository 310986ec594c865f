// Threads of the trainer and the progress display they report to.
#include "tools/train.h"

#include "run/utility.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include <unistd.h>

namespace {

// How often the display is refreshed in place on a terminal, and how often a
// line is written to a file or pipe.
constexpr int64_t TERMINAL_INTERVAL_MS = 250;
constexpr int64_t LOG_INTERVAL_MS = 5000;

std::string clockText(double seconds) {
    if (!(seconds >= 0) || seconds > 359999) return "--:--";
    const long long s = static_cast<long long>(seconds + 0.5);
    if (s >= 3600) return formatString("%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return formatString("%lld:%02lld", s / 60, s % 60);
}

}  // namespace

std::string progressLine(const char* what, int32_t done, int32_t total, int64_t frames, int64_t totalFrames,
                         double seconds) {
    const double rate = seconds > 0 ? static_cast<double>(frames) / seconds : 0.0;
    double left = -1;
    if (done >= total) {
        left = 0;
    } else if (totalFrames > 0 && frames > 0) {
        left = static_cast<double>(totalFrames - frames) / rate;
    } else if (done > 0) {
        left = seconds * static_cast<double>(total - done) / static_cast<double>(done);
    }
    return formatString("%s: %d/%d utterances, %.0f frames/s, ETA %s", what, done, total, rate,
                        clockText(left).c_str());
}

trainProgressClass::trainProgressClass(const std::string& what, int32_t total, int64_t totalFrames, bool quiet)
    : m_what(what), m_total(total), m_totalFrames(totalFrames), m_quiet(quiet) {
    m_terminal = isatty(STDERR_FILENO) != 0;
    m_startMs = clockMs();
    m_shownMs = m_startMs;
}

void trainProgressClass::advance(int64_t frames) {
    m_frames += frames;
    ++m_done;
}

void trainProgressClass::show(bool final) {
    if (m_quiet) return;
    const int64_t now = clockMs();
    if (m_terminal) {
        if (final) {
            if (m_inPlace) std::fputs("\r\033[K", stderr);
            m_inPlace = false;
            return;
        }
        if (now - m_shownMs < TERMINAL_INTERVAL_MS) return;
    } else if (final || now - m_shownMs < LOG_INTERVAL_MS) {
        return;
    }
    m_shownMs = now;
    const std::string line = progressLine(m_what.c_str(), m_done.load(), m_total, m_frames.load(), m_totalFrames,
                                          static_cast<double>(now - m_startMs) / 1000.0);
    if (m_terminal) {
        // Standard output first, so that its lines do not land inside ours.
        std::fflush(stdout);
        std::fprintf(stderr, "\r%s\033[K", line.c_str());
        m_inPlace = true;
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    std::fflush(stderr);
}

int32_t trainThreadCount(int32_t threadNum) {
    if (threadNum > 0) return threadNum;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int32_t>(cores);
}

void runWorkers(int32_t threads, const std::function<void(int32_t)>& work, trainProgressClass& progress) {
    threads = std::max(threads, 1);
    std::mutex lock;
    std::condition_variable ended;
    int32_t running = 0;
    std::vector<std::exception_ptr> errors(static_cast<size_t>(threads));
    std::vector<std::thread> pool;
    pool.reserve(static_cast<size_t>(threads));
    for (int32_t w = 0; w < threads; ++w) {
        {
            std::lock_guard<std::mutex> guard(lock);
            ++running;
        }
        try {
            pool.emplace_back([&, w] {
                try {
                    work(w);
                } catch (...) {
                    errors[static_cast<size_t>(w)] = std::current_exception();
                }
                std::lock_guard<std::mutex> guard(lock);
                --running;
                ended.notify_all();
            });
        } catch (const std::system_error&) {
            std::lock_guard<std::mutex> guard(lock);
            --running;
            break;
        }
    }
    if (pool.empty()) {
        // Not even one thread: the work runs here, without a display.
        work(0);
        return;
    }
    {
        std::unique_lock<std::mutex> guard(lock);
        while (running > 0) {
            ended.wait_for(guard, std::chrono::milliseconds(TERMINAL_INTERVAL_MS));
            guard.unlock();
            progress.show(false);
            guard.lock();
        }
    }
    for (std::thread& t : pool) t.join();
    progress.show(true);
    for (const std::exception_ptr& e : errors)
        if (e) std::rethrow_exception(e);
}
