#include "run/outputSink.h"

#include <cstdarg>
#include <cstdio>

namespace {

thread_local std::string* t_capture = nullptr;
thread_local bool t_passThrough = false;
thread_local bool t_silent = false;

}  // namespace

void sinkPrintf(const char* format, ...) {
    if (t_silent) return;
    va_list args;
    va_start(args, format);
    if (!t_capture || t_passThrough) {
        va_list copy;
        va_copy(copy, args);
        std::vprintf(format, copy);
        va_end(copy);
        if (!t_capture) {
            va_end(args);
            return;
        }
    }
    va_list copy;
    va_copy(copy, args);
    char small[512];
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n > 0 && static_cast<size_t>(n) < sizeof small) {
        t_capture->append(small, static_cast<size_t>(n));
    } else if (n > 0) {
        size_t at = t_capture->size();
        t_capture->resize(at + static_cast<size_t>(n) + 1);
        std::vsnprintf(&(*t_capture)[at], static_cast<size_t>(n) + 1, format, args);
        t_capture->resize(at + static_cast<size_t>(n));
    }
    va_end(args);
}

scopedOutputCapture::scopedOutputCapture(bool passThrough)
    : m_previous(t_capture), m_previousPassThrough(t_passThrough) {
    t_capture = &m_text;
    t_passThrough = passThrough;
}

scopedOutputCapture::~scopedOutputCapture() {
    t_capture = m_previous;
    t_passThrough = m_previousPassThrough;
}

scopedOutputSilence::scopedOutputSilence() : m_previous(t_silent) { t_silent = true; }

scopedOutputSilence::~scopedOutputSilence() { t_silent = m_previous; }
