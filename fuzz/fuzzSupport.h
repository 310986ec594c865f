// Shared pieces of the fuzz targets: a per-process scratch directory for the
// input files, quiet standard output, and checks whose failure libFuzzer
// records as a finding.
//
// Every target writes the input bytes to a file (the readers take paths),
// calls the reader and treats recogError, the system's reported error, as a
// normal outcome. Anything else (a sanitizer report, a crash, a hang past
// -timeout, an allocation past -malloc_limit_mb, a failed check) is a finding.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "run/utility.h"

#include <fcntl.h>
#include <unistd.h>

namespace fuzzSupport {

// Removes the scratch directory when the process ends normally.
inline std::string& scratchPath() {
    static std::string path;
    return path;
}

inline void removeScratch() {
    std::error_code ignored;
    if (!scratchPath().empty()) std::filesystem::remove_all(scratchPath(), ignored);
}

// A directory of this process alone: under /dev/shm when it exists (the
// targets write a file per execution), else under TMPDIR or /tmp. Error logs of
// reportError go there as well ("TEMP" is pointed at it), so that a campaign
// does not fill the system's temporary directory.
inline const std::string& scratchDir() {
    if (!scratchPath().empty()) return scratchPath();
    std::string base = "/dev/shm";
    if (access(base.c_str(), W_OK) != 0) {
        const char* tmp = std::getenv("TMPDIR");
        base = tmp && *tmp ? tmp : "/tmp";
    }
    std::string pattern = base + "/recogFuzz.XXXXXX";
    if (!mkdtemp(&pattern[0])) {
        std::perror("fuzz scratch directory");
        std::abort();
    }
    scratchPath() = pattern;
    unsetenv("temp");
    setenv("TEMP", pattern.c_str(), 1);
    std::atexit(removeScratch);
    return scratchPath();
}

// Writes the bytes to a file of that name in the scratch directory and
// returns its path. The name carries the extension the reader dispatches on.
inline std::string writeInput(const std::string& name, const uint8_t* data, size_t size) {
    std::string path = scratchDir() + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || (size > 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
    return path;
}

inline std::string writeInput(const std::string& name, const std::string& bytes) {
    return writeInput(name, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// The readers print progress lines and warnings on standard output; at tens of
// thousands of executions a second they would bury libFuzzer's own report
// (which goes to standard error). Set FUZZ_SHOW_STDOUT=1 to keep them, e.g.
// when replaying one input.
inline void quietStdout() {
    static bool done = false;
    if (done) return;
    done = true;
    const char* show = std::getenv("FUZZ_SHOW_STDOUT");
    if (show && *show == '1') return;
    std::fflush(stdout);
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        close(null);
    }
}

// Ends the process with a message on standard error when the condition fails;
// libFuzzer saves the input as a crash.
inline void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

// A reported error is a normal outcome; FUZZ_SHOW_ERRORS=1 prints it on
// standard error, to see what a given input runs into.
inline void reported(const recogError& error) {
    static const bool show = [] {
        const char* value = std::getenv("FUZZ_SHOW_ERRORS");
        return value && *value == '1';
    }();
    if (show) std::fprintf(stderr, "reported: %s\n", error.what());
}

// Called first by every target.
inline void setUp() {
    scratchDir();
    quietStdout();
}

}  // namespace fuzzSupport
