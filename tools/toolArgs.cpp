#include "tools/toolArgs.h"

#include <cerrno>
#include <cstdlib>

bool parseCount(const std::string& text, int32_t& value, int32_t low, int32_t high) {
    if (text.empty() || text.find_first_not_of("+-0123456789") != std::string::npos) return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) return false;
    value = static_cast<int32_t>(v);
    return true;
}

bool parseShard(const std::string& text, int32_t& index, int32_t& count) {
    const size_t slash = text.find('/');
    if (slash == std::string::npos) return false;
    return parseCount(text.substr(0, slash), index, 1, 1000000) &&
           parseCount(text.substr(slash + 1), count, 1, 1000000) && index <= count;
}
