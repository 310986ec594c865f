// FLV files: the container walk and the Nellymoser decoding of decodeFlvAudio.
//
// A corrupt container ends the process with status 255 by design, which
// libFuzzer would count as a finding ("fuzz target exited"). The target keeps
// that outcome apart from the fuzzing itself:
//   1. flvEndsProcess walks the container by the documented rules and tells
//      whether the reader will end the process, and the longest prefix that it
//      reads to the end without doing so (the tags before the corrupt one).
//   2. decodeFlvAudio runs in this process on the whole input when it is
//      accepted, else on that prefix, so libFuzzer sees the coverage of every
//      tag the reader accepts and decodes.
//   3. An input that must end the process is also run whole in a forked child
//      (every input when FUZZ_FLV_FORK_EVERY=1; by default one in
//      DEFAULT_FORK_EVERY, picked by a hash of the bytes so that a replayed
//      input takes the same path, since a fork costs far more than a decoding),
//      which must end with status 255 (or the system's reported error for a
//      block that cannot be decoded before the corrupt tag); a crash, a
//      sanitizer report or another status there is a finding, reported with
//      the child's standard error.
// The link wraps exit() (-Wl,--wrap=exit): inside the reader it leaves the
// child at once with the status asked for (no atexit handlers, so libFuzzer's
// "fuzz target exited" handler does not run there), and in this process it
// turns an exit the container walk did not predict into a finding. Every other
// exit() of the process goes to the real one.
#include "frontend/flvimpl.h"
#include "fuzzSupport.h"
#include "run/utility.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include <sys/wait.h>

namespace {

enum class exitMode { passThrough, inReader, inChild };
exitMode g_exitMode = exitMode::passThrough;

// Status of a child whose reader raised recogError.
constexpr int REPORTED_STATUS = 3;
constexpr uint32_t DEFAULT_FORK_EVERY = 16;

// True for the inputs that are also run whole in a child.
bool forkThisInput(const uint8_t* data, size_t size) {
    static const uint32_t every = [] {
        const char* value = std::getenv("FUZZ_FLV_FORK_EVERY");
        long n = value ? std::strtol(value, nullptr, 10) : 0;
        return n >= 1 ? static_cast<uint32_t>(n) : DEFAULT_FORK_EVERY;
    }();
    uint32_t hash = 2166136261u;  // FNV-1a
    for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
    return hash % every == 0;
}

uint32_t bigEndian(const uint8_t* p, int byteCount) {
    uint32_t value = 0;
    for (int i = 0; i < byteCount; ++i) value = (value << 8) | p[i];
    return value;
}

// True when decodeFlvAudio ends the process on these bytes. cleanPrefix is the
// length of the longest prefix it reads without ending the process.
bool flvEndsProcess(const uint8_t* d, size_t size, size_t& cleanPrefix) {
    cleanPrefix = size;
    if (size < 4 || std::memcmp(d, "FLV", 3) != 0 || d[3] != 1) return false;
    size_t pos = 9;
    uint32_t expectedTagSize = 0;
    bool haveFormat = false;
    uint8_t formatFlags = 0;
    while (pos < size) {
        if (size - pos < 4 || bigEndian(d + pos, 4) != expectedTagSize) {
            cleanPrefix = pos;
            return true;
        }
        pos += 4;
        if (pos >= size) break;
        const size_t tagStart = pos;
        const uint8_t* tag = d + pos;
        if (size - pos < 11 || tag[9] != 0 || tag[10] != 0) {
            cleanPrefix = tagStart;
            return true;
        }
        uint32_t dataSize = bigEndian(tag + 1, 3);
        if (size - pos - 11 < dataSize) {
            cleanPrefix = tagStart;
            return true;
        }
        if (tag[0] == 8 && dataSize != 0) {
            uint8_t flags = tag[11];
            if (!haveFormat) {
                int soundFormat = flags >> 4;
                if (soundFormat != 5 && soundFormat != 6) {
                    cleanPrefix = tagStart;
                    return true;
                }
                haveFormat = true;
                formatFlags = flags;
            } else if (flags != formatFlags) {
                cleanPrefix = tagStart;
                return true;
            }
        }
        pos += 11 + dataSize;
        expectedTagSize = static_cast<uint32_t>(11 + dataSize);
    }
    return false;
}

// Decodes in this process and checks what comes back.
void decodeHere(const std::string& path, size_t size) {
    int32_t sampleRate = 0, bitsPerSample = 0, channelCount = 0;
    g_exitMode = exitMode::inReader;
    try {
        std::vector<int16_t> samples = decodeFlvAudio(path, sampleRate, bitsPerSample, channelCount);
        fuzzSupport::require(samples.size() / NELLY_BLOCK_SAMPLES <= size / NELLY_BLOCK_BYTES,
                             "at most one block of samples per 64 bytes");
        fuzzSupport::require(sampleRate == 0 || sampleRate == 5500 || sampleRate == 8000 || sampleRate == 11025 ||
                                 sampleRate == 22050 || sampleRate == 44100,
                             "a rate of the audio flags");
        fuzzSupport::require(channelCount == 1 || channelCount == 2, "one or two channels");
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    g_exitMode = exitMode::passThrough;
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs the reader on the whole input in a child, which must end the process
// as documented.
void expectExitInChild(const std::string& path) {
    const std::string errPath = fuzzSupport::scratchDir() + "/child.err";
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = fork();
    fuzzSupport::require(pid >= 0, "fork");
    if (pid == 0) {
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (err >= 0) {
            dup2(err, STDERR_FILENO);
            close(err);
        }
        g_exitMode = exitMode::inChild;
        int status = 0;
        try {
            int32_t sampleRate = 0, bitsPerSample = 0, channelCount = 0;
            decodeFlvAudio(path, sampleRate, bitsPerSample, channelCount);
        } catch (const recogError& e) {
            fuzzSupport::reported(e);
            status = REPORTED_STATUS;
        }
        // The reader returned: it did not end the process as the container walk said.
        _exit(status);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) fuzzSupport::require(false, "waitpid");
    }
    bool expected = WIFEXITED(status) && (WEXITSTATUS(status) == 255 || WEXITSTATUS(status) == REPORTED_STATUS);
    if (!expected) {
        std::cerr << "decodeFlvAudio in the child: "
                  << (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                          : "exit status " + std::to_string(WEXITSTATUS(status)))
                  << " where status 255 was expected; its standard error:\n"
                  << fileText(errPath) << std::endl;
        std::abort();
    }
}

}  // namespace

extern "C" void __real_exit(int status);

extern "C" void __wrap_exit(int status) {
    if (g_exitMode == exitMode::inChild) {
        std::fflush(stdout);
        std::fflush(stderr);
        _exit(status & 0xff);
    }
    if (g_exitMode == exitMode::inReader) {
        std::fprintf(stderr, "decodeFlvAudio ended the process with status %d on an input whose container the "
                             "harness accepted\n", status);
        std::abort();
    }
    __real_exit(status);
    __builtin_unreachable();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    std::string path = fuzzSupport::writeInput("input.flv", data, size);
    size_t cleanPrefix = size;
    if (!flvEndsProcess(data, size, cleanPrefix)) {
        decodeHere(path, size);
        return 0;
    }
    decodeHere(fuzzSupport::writeInput("prefix.flv", data, cleanPrefix), cleanPrefix);
    if (forkThisInput(data, size)) expectExitInChild(path);
    return 0;
}
