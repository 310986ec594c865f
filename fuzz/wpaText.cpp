// wpa text files: read as English ("word<TAB>pa#pa") and as Chinese (five
// fields, rows of a fixed pinyin table), then merged as addenda and sorted as
// the lexicon loading does.
#include "fuzzSupport.h"
#include "lexicon/dict.h"
#include "run/utility.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    std::string path = fuzzSupport::writeInput("input.wpa", data, size);

    dictClass english;
    try {
        english.wpaRead(path, "english");
        english.wpaReadText(path, "english", english.m_wpaAddenda);
        english.wpaMerge();
        fuzzSupport::require(english.m_wpaAddenda.empty(), "addenda emptied by the merge");
        english.wpaSort();
        for (size_t i = 1; i < english.m_wpa.size(); ++i)
            fuzzSupport::require(english.m_wpa[i - 1].word <= english.m_wpa[i].word, "sorted entries");
        for (const wpaEntry& entry : english.m_wpa) fuzzSupport::require(english.wpaFind(entry.word) >= 0, "found");
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }

    dictClass chinese;
    chinese.m_pinyinTable = {{"ni", "ni", "ni", "ni3x"}, {"hao", "hau", "hao", "hao"}, {"short", "x"}};
    try {
        chinese.wpaRead(path, "chinese");
        chinese.wpaSort();
        for (const wpaEntry& entry : chinese.m_wpa) {
            fuzzSupport::require(chinese.wpaFind(entry.word) >= 0, "found");
            for (const std::string& pa : entry.pa) fuzzSupport::require(pa == "ni3x" || pa == "hao", "a PA of the table");
        }
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    return 0;
}
