// The pinyin table: tab-separated rows, used by a fixed Chinese wpa file (rows
// by number, fourth field as PA) and by the notation conversion of a path.
#include "fuzzSupport.h"
#include "lexicon/dict.h"
#include "lexicon/pathToText.h"
#include "run/utility.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    // Two Big5 characters whose entries name rows 1 to 3 of the table.
    static const std::string wpaPath = fuzzSupport::writeInput(
        "fixed.wpa", std::string("\xA7\x41\t1\tx\t3\ty\n\xA6\x6E\t2,3\tx\t3,4\ty\n"));
    std::string path = fuzzSupport::writeInput("pinyin.txt", data, size);
    dictClass dict;
    try {
        dict.pinyinTableRead(path);
        for (int32_t source = 0; source < 4; ++source)
            for (int32_t target = 0; target < 5; ++target)
                convertPath("ni-hao-sil-sp-a", dict.m_pinyinTable, source, target);
        dict.wpaReadText(wpaPath, "chinese", dict.m_wpa);
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    return 0;
}
