// Where the library's console lines go: progress lines, warnings and "Saved"
// notices of every stage are written through sinkPrintf, never straight to
// standard output. By default they reach standard output, in order with the
// programs' own printf lines; a caller that runs utterances as a library can
// capture a thread's lines (to put an utterance's warnings into its result) or
// silence them.
#pragma once

#include <string>

// Formats like printf and writes the text to the calling thread's sink.
void sinkPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// While alive, the lines of the calling thread go into text() instead of
// standard output (with passThrough, into both); an enclosing capture resumes
// when it ends.
class scopedOutputCapture {
public:
    explicit scopedOutputCapture(bool passThrough = false);
    ~scopedOutputCapture();
    scopedOutputCapture(const scopedOutputCapture&) = delete;
    scopedOutputCapture& operator=(const scopedOutputCapture&) = delete;
    const std::string& text() const { return m_text; }

private:
    std::string m_text;
    std::string* m_previous;
    bool m_previousPassThrough;
};

// While alive, the lines of the calling thread are dropped.
class scopedOutputSilence {
public:
    scopedOutputSilence();
    ~scopedOutputSilence();
    scopedOutputSilence(const scopedOutputSilence&) = delete;
    scopedOutputSilence& operator=(const scopedOutputSilence&) = delete;

private:
    bool m_previous;
};
