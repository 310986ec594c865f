// Binary wpa files (.wpab): little-endian counts and lengths before the bytes.
#include "fuzzSupport.h"
#include "lexicon/dict.h"
#include "run/utility.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    std::string path = fuzzSupport::writeInput("input.wpab", data, size);
    dictClass dict;
    try {
        dict.wpaRead(path, "english");
        size_t bytes = 4;
        for (const wpaEntry& entry : dict.m_wpa) {
            fuzzSupport::require(entry.word.size() <= static_cast<size_t>(MAX_WPAB_WORD_LEN), "word within its limit");
            bytes += 8 + entry.word.size();
            for (const std::string& pa : entry.pa) {
                fuzzSupport::require(pa.size() <= static_cast<size_t>(MAX_WPAB_PA_LEN), "PA within its limit");
                bytes += 4 + pa.size();
            }
        }
        fuzzSupport::require(bytes <= size, "entries no larger than the file");
        dict.wpaSort();
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    return 0;
}
