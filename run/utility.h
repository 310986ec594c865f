// Utilities shared by every stage: the one way of failing, progress timing,
// file helpers that fail through the error path, and string-list helpers.
// Strings are byte strings; no character set is interpreted.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// The single error type of the system. Only the programs' main routines catch it.
class recogError : public std::runtime_error {
public:
    explicit recogError(const std::string& message) : std::runtime_error(message) {}
};

// printf-style formatting into a std::string of any length.
std::string formatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Appends the error log ("Error: <message>") to error_YYYYMMDD_HHMMSS.log in
// the directory named by the environment variable "temp" (any letter case;
// /tmp when unset), prints "\nSaved error log at <path>...\n" when the log
// could be written, and throws recogError carrying the message. Never returns.
[[noreturn]] void reportError(const std::string& message);

// Process-wide error log settings: written = false keeps reportError from
// writing any log (a service must not leave a file per bad request);
// singlePrefix = true writes a message that already begins with "Error: "
// without a second prefix. The defaults are true and false.
void configureErrorLog(bool written, bool singlePrefix);

// While alive, reportError on the calling thread writes no log.
class scopedErrorLogOff {
public:
    scopedErrorLogOff();
    ~scopedErrorLogOff();
    scopedErrorLogOff(const scopedErrorLogOff&) = delete;
    scopedErrorLogOff& operator=(const scopedErrorLogOff&) = delete;

private:
    bool m_previous;
};

// Milliseconds of a wall clock; elapsedSeconds(start) = (now - start) / 1000.
int64_t clockMs();
double elapsedSeconds(int64_t startMs);

// Closes a FILE when the owner goes away.
struct fileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using filePtr = std::unique_ptr<FILE, fileCloser>;

// Opens the file or reports "Cannot open file %s (line %d of utility)".
filePtr openFileOrFail(const std::string& path, const char* mode);
bool fileExists(const std::string& path);
// Size in bytes; reports an unopenable file.
long fileSize(const std::string& path);
// Whole file as bytes; reports an unopenable file.
std::string readFileBytes(const std::string& path);
// Every byte left in an open file.
std::string readAllBytes(FILE* file);

// Non-empty lines whose first byte differs from commentChar (0 skips only empty
// lines). CR LF counts as a line end. A line of 99,999 bytes or more is read
// in pieces of 99,999 bytes, with a warning for each full piece.
std::vector<std::string> readLines(const std::string& path, char commentChar);
// key=value lines; "%" starts a comment; keys and values trimmed.
void readKeyValueFile(const std::string& path, std::vector<std::string>& keys,
                      std::vector<std::string>& values);
std::vector<std::vector<std::string>> readTsvFile(const std::string& path);
// Floats separated by white space, up to the first text that is not a number.
std::vector<float> readFloatFile(const std::string& path);
void writeLines(const std::string& path, const std::vector<std::string>& lines);
void writeFloatValue(const std::string& path, double x);
void printStrVec(const std::vector<std::string>& list, const std::string& name,
                 const std::string& path);

std::string trimSpace(const std::string& s);
void splitString(const std::string& s, char delimiter, std::vector<std::string>& out,
                 bool append = false);
std::vector<std::string> splitString(const std::string& s, char delimiter);
std::string joinStrings(const std::vector<std::string>& list, const std::string& separator);
std::string joinInts(const std::vector<int32_t>& list, const std::string& separator);
std::string replaceAll(const std::string& s, const std::string& from, const std::string& to);
std::string toLowerAscii(const std::string& s);
std::vector<std::string> removeEmptyStrings(const std::vector<std::string>& list);
std::string fileExtension(const std::string& path);
// Halves round away from zero.
int roundToInt(float x);
int roundToInt(double x);
// Truncation toward zero that saturates at the 32-bit range instead of
// overflowing (a value such as 1e30 in a settings file must not be undefined
// behaviour); NaN gives 0.
int32_t truncToInt(double v);
std::vector<std::string> expandCombinations(const std::vector<std::vector<std::string>>& lists);
// matchPos: 0 anywhere, 1 prefix, 2 suffix (first occurrence), 3 equal.
std::vector<int32_t> strVecLinSearch(const std::vector<std::string>& list, const std::string& key,
                                     int matchPos);

// Like atoi: leading white space, optional sign, digits up to the first other
// byte; no digits gives 0. Out-of-range values saturate.
int32_t atoiLike(const std::string& s);
