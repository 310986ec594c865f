#include "frontend/flvimpl.h"

#include "run/utility.h"

// Placeholder until FLV decoding exists.
std::vector<int32_t> readFlvAudioFile(const std::string& path, int32_t&, int32_t&) {
    reportError(formatString("FLV input is not available yet in this build: %s (line %d of %s)", path.c_str(),
                             __LINE__, "flvimpl"));
}
