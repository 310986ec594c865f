// From the decoded best path to the recognized texts: the path's units joined
// into a syllable path ("ni-hao"), matched against the syllable sequences of the
// texts (textClass::m_sylVs), and syllable paths converted between the
// notations held in the columns of the pinyin table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class dictClass;
class recogParam;
class textClass;

// Turns the best path (the sylIndex of each node on it, in path order) into the
// syllable path and finds the texts it spells by param.comparisonMode:
// 1 exact match, else an entry the path starts, else (assess with a syllable
// file and addLink4startAnywhere) an entry holding the path; 2 an entry holding
// the path; 3 keyword spotting: every entry found inside the path, the first
// one giving text.keywordStartSyl (units before it) and text.keywordSylNum.
// A leading and a trailing "sil" are left out except in keyword mode; sausage
// nets (netType 1 without a syllable file) also drop "sp"/"sil" (not in
// Japanese) and match nothing: text 0, entry -1. textIndices come out sorted
// without duplicates, sylIndices (entries of m_sylVs) in m_sylVs order; both
// are replaced. Returns the path without its framing "-".
// Fatal: an empty path, a unit outside m_pronDict, comparisonMode not 1 to 3,
// a searched m_sylVs entry without a tab and text index, no matching entry
// (after printing diagnostics and m_sylVs).
std::string pinyin2text(textClass& text, const std::vector<int32_t>& path, const dictClass& dict,
                        std::vector<int32_t>& textIndices, std::vector<int32_t>& sylIndices,
                        const recogParam& param);

// True for the units that carry no text and are never scored: "sp", "sil",
// "filler", "fillerC" and "fillerV".
bool isUnscoredUnit(const std::string& unit);

// Where keyword spotting found its first keyword: units of the path before
// it and its unit count; -1 and -1 when nothing was spotted.
struct keywordSpan {
    int32_t startSyl = -1;
    int32_t sylNum = -1;
};

// pinyin2text leaving the texts unchanged: the keyword span goes to keyword.
std::string pinyin2text(const textClass& text, const std::vector<int32_t>& path, const dictClass& dict,
                        std::vector<int32_t>& textIndices, std::vector<int32_t>& sylIndices,
                        const recogParam& param, keywordSpan& keyword);

// Appends the matches of sylPath (framed by "-") among the m_sylVs entries,
// each entry read as "-" + syllables + "-": mode 0 equal, 1 the entry starts
// with sylPath, 2 sylPath occurs in the entry. Fatal: another mode, a searched
// entry without a tab and text index.
void searchSylVs(const textClass& text, const std::string& sylPath, int32_t mode, std::vector<int32_t>& textIndices,
                 std::vector<int32_t>& sylIndices);

// The target column of the first pinyin-table row whose source column equals
// the syllable (rows without both columns are passed over); the syllable itself
// when none does, with a warning unless it is "sp", "sil", "filler", "fillerC"
// or "fillerV". Columns count from 0.
std::string convertSyllable(const std::string& syllable, const std::vector<std::vector<std::string>>& pinyinTable,
                            int32_t sourceColumn, int32_t targetColumn);

// Every "-"-separated syllable of the path converted by convertSyllable,
// joined again by "-".
std::string convertPath(const std::string& sylPath, const std::vector<std::vector<std::string>>& pinyinTable,
                        int32_t sourceColumn, int32_t targetColumn);
