// The recognizable texts of an utterance and the syllable sequences by which
// they may be said: reading, normalization, listing from the wpa table, syllable
// files and the Japanese syllable rules. Texts are byte strings (Big5 for
// Chinese, never converted).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lexicon/dict.h"

class recogParam;

// Most syllable sequences the listing of one text may produce.
constexpr uint64_t MAX_LISTING_NUM = 1000000;
// Longest text the normalization rules may make (ten times the longest line a
// text file delivers); replacement rules that grow a text each time they apply
// would otherwise multiply its length rule after rule.
constexpr size_t MAX_NORMALIZED_TEXT_LEN = 1000000;

// One line of the text normalization map: pattern#replacement#operation.
struct textNormRule {
    std::string pattern;
    std::string replacement;
    std::string operation;  // first character: "$" strip trailing, "^" strip leading, "g" replace all
};

class textClass {
public:
    std::vector<std::string> m_txtVs;            // the recognizable texts, unchanged
    std::vector<textNormRule> m_textNormSp;      // the text normalization map, in file order
    std::vector<std::string> m_txtVsNormalized;  // one normalized text per entry of m_txtVs
    // Syllable sequences: syllables joined by "-", optionally a tab and the index
    // of the text in m_txtVs the sequence says.
    std::vector<std::string> m_sylVs;
    std::vector<std::string> m_sylVsNotation;  // Chinese listing: tones parallel to m_sylVs
    std::vector<std::string> netVs;            // net text lines of the last built net
    int32_t keywordStartSyl = 0;               // first matched keyword entry: start unit
    int32_t keywordSylNum = 0;                 // and its unit count

    // m_txtVs = the lines of the file of that name or, when there is no such
    // file, the value split at "#". With literal the value is never taken as
    // a file name. An empty value or no text is reported.
    void textsRead(const std::string& txtFile, bool literal = false);

    // Replaces target by the rules of a normalization map (lines split at the
    // separator, at least three fields). An empty path gives no rules. A "$" or "^"
    // rule without a pattern is refused.
    void textNormMapRead(const std::string& path, char separator, std::vector<textNormRule>& target);

    // m_txtVsNormalized = each text cut at its first tab and normalized.
    void textsNormalize(const recogParam& param);

    // English texts are lower-cased (A-Z), then the rules apply in map order.
    void normalizeText(std::string& text, const recogParam& param) const;

    // Appends the words of a text: Chinese two-byte characters, Japanese one "X"
    // per byte, English the text split at single spaces; nothing otherwise.
    static void splitWords(const std::string& text, const std::string& language, std::vector<std::string>& out);

    // m_sylVs = the lines of a syllable file.
    void sylFileRead(const std::string& path);

    // Japanese only: rewrites every m_sylVs entry by the fixed syllable rules and,
    // with an output directory, writes outputDir/output.syl.
    void japaneseSyllableRules(const recogParam& param);

    // Lists every syllable sequence of every normalized Chinese text from the
    // characters' PAs (first character varying fastest), with the tones in
    // m_sylVsNotation. A character without an entry is warned about and skipped.
    void chineseListing(const std::vector<wpaEntry>& wpa, const std::vector<std::vector<std::string>>& pinyinTable,
                        const std::string& pinyinType);

    // Lists every PA sequence of every normalized English text; a word without
    // an entry is reported.
    void englishListing(const std::vector<wpaEntry>& wpa);

    // Replaces every "-" of every m_sylVs entry by the separator (e.g. "-sp-").
    void addBetweenSyllables(const std::string& separator);
};
