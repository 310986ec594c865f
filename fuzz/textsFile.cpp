// The recognizable texts: a file of lines (or, when no such file exists, the
// value itself split at "#"), normalized and listed as syllable sequences
// against fixed English and Chinese wpa tables.
#include "fuzzSupport.h"
#include "lexicon/dict.h"
#include "lexicon/text.h"
#include "run/recogParam.h"
#include "run/utility.h"

namespace {

wpaEntry entryOf(const std::string& word, const std::vector<std::string>& pa,
                 const std::vector<std::string>& tones = {}) {
    wpaEntry entry;
    entry.word = word;
    entry.pa = pa;
    entry.paNotation = tones;
    return entry;
}

// Lists the texts held in text.m_txtVs for both languages.
void listTexts(textClass& text) {
    static const std::vector<wpaEntry> englishWpa = {
        entryOf("a", {"ax", "ey"}), entryOf("hello", {"h_ax_l_ow"}), entryOf("the", {"dh_ax"}),
        entryOf("world", {"w_er_l_d"})};
    static const std::vector<wpaEntry> chineseWpa = {
        entryOf("\xA6\x6E", {"hao", "hao"}, {"3", "4"}), entryOf("\xA7\x41", {"ni"}, {"3"})};
    static const std::vector<std::vector<std::string>> pinyinTable;
    recogParam param;
    param.language = "english";
    try {
        text.textsNormalize(param);
        text.englishListing(englishWpa);
        for (const std::string& entry : text.m_sylVs) fuzzSupport::require(entry.find('\t') != std::string::npos, "an index");
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    param.language = "chinese";
    try {
        text.textsNormalize(param);
        text.chineseListing(chineseWpa, pinyinTable, "rzp");
        fuzzSupport::require(text.m_sylVs.size() == text.m_sylVsNotation.size(), "tones parallel to the sequences");
        text.addBetweenSyllables("-sp-");
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    std::string path = fuzzSupport::writeInput("texts.txt", data, size);
    textClass text;
    try {
        text.textsRead(path);
        fuzzSupport::require(!text.m_txtVs.empty(), "at least one text");
        listTexts(text);
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }

    // The same bytes as a "#"-joined value, when they name no file (no "/" and
    // nothing in the working directory) and hold no zero byte, which a setting
    // read from a file cannot hold.
    std::string value(reinterpret_cast<const char*>(data), size);
    if (value.find('/') == std::string::npos && value.find('\0') == std::string::npos && !fileExists(value)) {
        textClass joined;
        try {
            joined.textsRead(value);
            listTexts(joined);
        } catch (const recogError& e) {
            fuzzSupport::reported(e);
        }
    }
    return 0;
}
