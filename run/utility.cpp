#include "run/utility.h"
#include "run/outputSink.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

extern char** environ;

std::string formatString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(&out[0], out.size(), format, args);
        out.resize(static_cast<size_t>(n));
    }
    va_end(args);
    return out;
}

// Value of the environment variable "temp", whatever its letter case.
static std::string tempDirectory() {
    for (char** env = environ; env && *env; ++env) {
        const char* entry = *env;
        const char* eq = std::strchr(entry, '=');
        if (!eq || eq - entry != 4) continue;
        if (toLowerAscii(std::string(entry, 4)) == "temp") return std::string(eq + 1);
    }
    return "/tmp";
}

namespace {

std::atomic<bool> g_errorLogWritten{true};
std::atomic<bool> g_errorLogSinglePrefix{false};
thread_local bool t_errorLogOff = false;

}  // namespace

void configureErrorLog(bool written, bool singlePrefix) {
    g_errorLogWritten = written;
    g_errorLogSinglePrefix = singlePrefix;
}

scopedErrorLogOff::scopedErrorLogOff() : m_previous(t_errorLogOff) { t_errorLogOff = true; }

scopedErrorLogOff::~scopedErrorLogOff() { t_errorLogOff = m_previous; }

void reportError(const std::string& message) {
    if (!g_errorLogWritten || t_errorLogOff) throw recogError(message);
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::string path = tempDirectory() + "/" +
                       formatString("error_%04d%02d%02d_%02d%02d%02d.log", local.tm_year + 1900,
                                    local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                                    local.tm_sec);
    // Errors within the same second share the log name: each is appended, so
    // none overwrites the one before.
    if (FILE* log = std::fopen(path.c_str(), "a")) {
        sinkPrintf("\nSaved error log at %s...\n", path.c_str());
        const bool prefixed = message.compare(0, 7, "Error: ") == 0;
        std::fprintf(log, "%s%s\n", g_errorLogSinglePrefix && prefixed ? "" : "Error: ", message.c_str());
        std::fclose(log);
    }
    throw recogError(message);
}

int64_t clockMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

double elapsedSeconds(int64_t startMs) { return static_cast<double>(clockMs() - startMs) / 1000.0; }

filePtr openFileOrFail(const std::string& path, const char* mode) {
    FILE* f = std::fopen(path.c_str(), mode);
    if (!f) reportError(formatString("Cannot open file %s (line %d of %s)", path.c_str(), __LINE__, "utility"));
    return filePtr(f);
}

bool fileExists(const std::string& path) {
    if (path.empty()) return false;
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return false;
    std::fclose(f);
    return true;
}

long fileSize(const std::string& path) {
    filePtr f = openFileOrFail(path, "rb");
    std::fseek(f.get(), 0, SEEK_END);
    return std::ftell(f.get());
}

std::string readAllBytes(FILE* file) {
    std::string data;
    // A regular file's size is known: one allocation instead of a copy per
    // growth (up to 256 MB; beyond that the string grows as it reads).
    struct stat info {};
    const long at = std::ftell(file);
    if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) && at >= 0 && info.st_size > at)
        data.reserve(static_cast<size_t>(std::min<int64_t>(info.st_size - at, int64_t{256} << 20)));
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) data.append(buffer, n);
    return data;
}

std::string readFileBytes(const std::string& path) {
    filePtr f = openFileOrFail(path, "rb");
    return readAllBytes(f.get());
}

std::vector<std::string> readLines(const std::string& path, char commentChar) {
    const size_t maxRead = 99999;  // a line buffer of 100,000 bytes holds this many characters
    std::string data = readFileBytes(path);
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < data.size()) {
        // One read: up to and including the next line feed, at most maxRead characters,
        // where a CR LF pair counts as the single line feed it stands for.
        std::string line;
        while (pos < data.size() && line.size() < maxRead) {
            char c = data[pos];
            if (c == '\r' && pos + 1 < data.size() && data[pos + 1] == '\n') {
                ++pos;
                continue;
            }
            line.push_back(c);
            ++pos;
            if (c == '\n') break;
        }
        if (line.size() == maxRead)
            sinkPrintf("Warning: Array is likely too small for reading string from %s!!! (line %d of file %s)\n",
                        path.c_str(), __LINE__, "utility");
        if (!line.empty() && line.back() == '\n') line.pop_back();
        if (line.empty()) continue;
        if (commentChar != 0 && line[0] == commentChar) continue;
        lines.push_back(std::move(line));
    }
    return lines;
}

void readKeyValueFile(const std::string& path, std::vector<std::string>& keys,
                      std::vector<std::string>& values) {
    keys.clear();
    values.clear();
    for (std::string line : readLines(path, 0)) {
        size_t percent = line.find('%');
        if (percent != std::string::npos) line.erase(percent);
        line = trimSpace(line);
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        keys.push_back(trimSpace(line.substr(0, eq)));
        values.push_back(trimSpace(line.substr(eq + 1)));
    }
}

std::vector<std::vector<std::string>> readTsvFile(const std::string& path) {
    std::vector<std::vector<std::string>> table;
    for (const std::string& line : readLines(path, 0)) table.push_back(splitString(line, '\t'));
    return table;
}

std::vector<float> readFloatFile(const std::string& path) {
    std::string data = readFileBytes(path);
    std::vector<float> values;
    const char* p = data.c_str();
    const char* end = p + data.size();
    while (p < end) {
        char* next = nullptr;
        float v = std::strtof(p, &next);
        if (next == p) break;
        values.push_back(v);
        p = next;
    }
    return values;
}

void writeLines(const std::string& path, const std::vector<std::string>& lines) {
    filePtr f = openFileOrFail(path, "w");
    for (const std::string& line : lines) {
        std::fwrite(line.data(), 1, line.size(), f.get());
        std::fputc('\n', f.get());
    }
}

void writeFloatValue(const std::string& path, double x) {
    filePtr f = openFileOrFail(path, "w");
    std::fprintf(f.get(), "%g\n", x);
}

void printStrVec(const std::vector<std::string>& list, const std::string& name, const std::string& path) {
    if (!path.empty()) {
        writeLines(path, list);
        return;
    }
    if (list.empty()) sinkPrintf("%s has zero element!\n", name.c_str());
    for (size_t i = 0; i < list.size(); ++i)
        sinkPrintf("%s[%d] = %s\n", name.c_str(), static_cast<int>(i), list[i].c_str());
}

std::string trimSpace(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

void splitString(const std::string& s, char delimiter, std::vector<std::string>& out, bool append) {
    if (!append) out.clear();
    if (s.empty()) return;
    size_t start = 0;
    while (true) {
        size_t pos = s.find(delimiter, start);
        if (pos == std::string::npos) {
            out.push_back(s.substr(start));
            return;
        }
        out.push_back(s.substr(start, pos - start));
        start = pos + 1;
    }
}

std::vector<std::string> splitString(const std::string& s, char delimiter) {
    std::vector<std::string> out;
    splitString(s, delimiter, out, false);
    return out;
}

std::string joinStrings(const std::vector<std::string>& list, const std::string& separator) {
    std::string out;
    for (size_t i = 0; i < list.size(); ++i) {
        if (i) out += separator;
        out += list[i];
    }
    return out;
}

std::string joinInts(const std::vector<int32_t>& list, const std::string& separator) {
    std::string out;
    for (size_t i = 0; i < list.size(); ++i) {
        if (i) out += separator;
        out += std::to_string(list[i]);
    }
    return out;
}

std::string replaceAll(const std::string& s, const std::string& from, const std::string& to) {
    if (from.empty()) return s;
    std::string out;
    size_t start = 0;
    while (true) {
        size_t pos = s.find(from, start);
        if (pos == std::string::npos) break;
        out.append(s, start, pos - start);
        out += to;
        start = pos + from.size();
    }
    out.append(s, start, std::string::npos);
    return out;
}

std::string toLowerAscii(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

std::vector<std::string> removeEmptyStrings(const std::vector<std::string>& list) {
    std::vector<std::string> out;
    for (const std::string& s : list)
        if (!s.empty()) out.push_back(s);
    return out;
}

std::string fileExtension(const std::string& path) {
    size_t dot = path.rfind('.');
    if (dot == std::string::npos) return "";
    return path.substr(dot + 1);
}

int roundToInt(float x) { return x > 0 ? static_cast<int>(x + 0.5f) : static_cast<int>(x - 0.5f); }
int roundToInt(double x) { return x > 0 ? static_cast<int>(x + 0.5) : static_cast<int>(x - 0.5); }

std::vector<std::string> expandCombinations(const std::vector<std::vector<std::string>>& lists) {
    if (lists.empty()) return {};
    std::vector<std::string> result = lists[0];
    for (size_t l = 1; l < lists.size(); ++l) {
        std::vector<std::string> next;
        next.reserve(result.size() * lists[l].size());
        for (const std::string& alternative : lists[l])
            for (const std::string& prefix : result) next.push_back(prefix + "-" + alternative);
        result.swap(next);
    }
    return result;
}

std::vector<int32_t> strVecLinSearch(const std::vector<std::string>& list, const std::string& key,
                                     int matchPos) {
    std::vector<int32_t> found;
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string& element = list[i];
        size_t pos = element.find(key);
        if (pos == std::string::npos) continue;
        bool match = false;
        switch (matchPos) {
            case 0: match = true; break;
            case 1: match = pos == 0; break;
            case 2: match = pos + key.size() == element.size(); break;
            case 3: match = pos == 0 && element.size() == key.size(); break;
            default:
                reportError(formatString("Unknown matchPos in strVecLinSearch (line %d of %s)", __LINE__, "utility"));
        }
        if (match) found.push_back(static_cast<int32_t>(i));
    }
    return found;
}

int32_t truncToInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

int32_t atoiLike(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    int64_t value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        value = value * 10 + (s[i] - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
    }
    if (negative) value = -value;
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}
