#include "lexicon/pathToText.h"

#include "lexicon/dict.h"
#include "lexicon/text.h"
#include "run/recogParam.h"
#include "run/utility.h"
#include "run/outputSink.h"

#include <algorithm>
#include <cstdio>

namespace {

const char* const UNIT = "text";

// An m_sylVs entry split into its syllables (before the first tab) and its
// text index (the decimal value after it). An entry without a tab carries no
// text index and is refused.
struct sylEntry {
    std::string syllables;
    int32_t textIndex = 0;
};

sylEntry splitSylEntry(const std::vector<std::string>& sylVs, size_t n) {
    const std::string& entry = sylVs[n];
    std::vector<std::string> fields;
    splitString(entry, '\t', fields);
    if (fields.size() < 2)
        reportError(formatString("Error: m_sylVs[%d] = \"%s\" has no text index after a tab (line %d of file %s)",
                                 static_cast<int>(n), entry.c_str(), __LINE__, UNIT));
    return sylEntry{fields[0], atoiLike(fields[1])};
}

int32_t countDashes(const std::string& s, size_t length) {
    return static_cast<int32_t>(std::count(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(length), '-'));
}

}  // namespace

bool isUnscoredUnit(const std::string& s) {
    return s == "sp" || s == "sil" || s == "filler" || s == "fillerC" || s == "fillerV";
}

void searchSylVs(const textClass& text, const std::string& sylPath, int32_t mode, std::vector<int32_t>& textIndices,
                 std::vector<int32_t>& sylIndices) {
    if (mode < 0 || mode > 2) reportError("Unknown mode in searchSylVs()!");
    for (size_t n = 0; n < text.m_sylVs.size(); ++n) {
        const sylEntry entry = splitSylEntry(text.m_sylVs, n);
        const std::string s = "-" + entry.syllables + "-";
        bool match = false;
        if (mode == 0)
            match = s == sylPath;
        else if (mode == 1)
            match = s.compare(0, sylPath.size(), sylPath) == 0 && s.size() >= sylPath.size();
        else
            match = s.find(sylPath) != std::string::npos;
        if (match) {
            textIndices.push_back(entry.textIndex);
            sylIndices.push_back(static_cast<int32_t>(n));
        }
    }
}

std::string pinyin2text(textClass& text, const std::vector<int32_t>& path, const dictClass& dict,
                        std::vector<int32_t>& textIndices, std::vector<int32_t>& sylIndices,
                        const recogParam& param) {
    keywordSpan keyword;
    text.keywordStartSyl = -1;
    text.keywordSylNum = -1;
    std::string sylPath = pinyin2text(static_cast<const textClass&>(text), path, dict, textIndices, sylIndices,
                                      param, keyword);
    text.keywordStartSyl = keyword.startSyl;
    text.keywordSylNum = keyword.sylNum;
    return sylPath;
}

std::string pinyin2text(const textClass& text, const std::vector<int32_t>& path, const dictClass& dict,
                        std::vector<int32_t>& textIndices, std::vector<int32_t>& sylIndices,
                        const recogParam& param, keywordSpan& keyword) {
    keyword = keywordSpan();
    textIndices.clear();
    sylIndices.clear();
    if (path.empty()) reportError("The best syllable path has zero length!");

    // The path text: every unit followed by "-". Outside keyword mode a leading
    // and a trailing "sil" are left out, and in sausage nets (but not for
    // Japanese) every "sp" and "sil"; keyword mode keeps every unit so that
    // keywordStartSyl counts the units before the keyword.
    const bool keywordMode = param.comparisonMode == 3;
    const size_t n = path.size();
    std::string sylPath;
    for (size_t i = 0; i < n; ++i) {
        const int32_t index = path[i];
        if (index < 0 || static_cast<size_t>(index) >= dict.m_pronDict.size())
            reportError(formatString("Error in textClass::pinyin2text(): unit %d of the path is not in m_pronDict "
                                     "(size %d) (line %d of file %s)",
                                     index, static_cast<int>(dict.m_pronDict.size()), __LINE__, UNIT));
        const std::string& word = dict.m_pronDict[static_cast<size_t>(index)].word;
        if (!keywordMode) {
            if (i == 0 && word == "sil") continue;
            if (i == n - 1 && word == "sil") continue;
            if (param.language != "japanese" && param.netType == 1 && (word == "sp" || word == "sil")) continue;
        }
        sylPath += word + "-";
    }

    // Sausage nets spell the single text; nothing to search.
    if (param.netType == 1 && param.sylFile.empty()) {
        if (!sylPath.empty() && sylPath.back() == '-') sylPath.pop_back();
        textIndices.push_back(0);
        sylIndices.push_back(-1);
        return sylPath;
    }

    sylPath = "-" + sylPath;
    if (param.comparisonMode == 1) {
        if (param.function == "assess" && param.usePaddedSoftSil == 1) sylPath = replaceAll(sylPath, "-sil-", "-");
        searchSylVs(text, sylPath, 0, textIndices, sylIndices);
        if (textIndices.empty()) searchSylVs(text, sylPath, 1, textIndices, sylIndices);
        if (textIndices.empty() && param.function == "assess" && !param.sylFile.empty() &&
            param.addLink4startAnywhere == 1)
            searchSylVs(text, sylPath, 2, textIndices, sylIndices);
    } else if (param.comparisonMode == 2) {
        searchSylVs(text, sylPath, 2, textIndices, sylIndices);
    } else if (param.comparisonMode == 3) {
        for (size_t k = 0; k < text.m_sylVs.size(); ++k) {
            const sylEntry entry = splitSylEntry(text.m_sylVs, k);
            const std::string entryText = "-" + entry.syllables + "-";
            const size_t pos = sylPath.find(entryText);
            if (pos == std::string::npos) continue;
            if (textIndices.empty()) {
                keyword.startSyl = countDashes(sylPath, pos + 1) - 1;
                keyword.sylNum = countDashes(entryText, entryText.size()) - 1;
            }
            textIndices.push_back(entry.textIndex);
            sylIndices.push_back(static_cast<int32_t>(k));
        }
    } else {
        reportError(formatString("Unknown comparisonMode = %d", param.comparisonMode));
    }

    if (textIndices.empty()) {
        sinkPrintf("Error in textClass::pinyin2text(): Cannot find sylPath within m_sylVs (shown next) at line %d "
                    "of file %s!\n",
                    __LINE__, UNIT);
        sinkPrintf("sylPath=%s (line=%d, file=%s)\n", sylPath.c_str(), __LINE__, UNIT);
        sinkPrintf("recogParamP->comparisonMode=%d (line=%d, file=%s)\n", param.comparisonMode, __LINE__, UNIT);
        sinkPrintf("recogParamP->netType=%d (line=%d, file=%s)\n", param.netType, __LINE__, UNIT);
        printStrVec(text.m_sylVs, "m_sylVs", "");
        reportError(formatString("Error in textClass::pinyin2text(): Cannot find sylPath within m_sylVs (line %d of "
                                 "file %s)",
                                 __LINE__, UNIT));
    }

    std::sort(textIndices.begin(), textIndices.end());
    textIndices.erase(std::unique(textIndices.begin(), textIndices.end()), textIndices.end());
    // Drop the framing "-" (a path of no units is the single "-").
    size_t begin = sylPath.front() == '-' ? 1 : 0;
    size_t end = sylPath.size();
    if (end > begin && sylPath[end - 1] == '-') --end;
    return sylPath.substr(begin, end - begin);
}

std::string convertSyllable(const std::string& syllable, const std::vector<std::vector<std::string>>& pinyinTable,
                            int32_t sourceColumn, int32_t targetColumn) {
    if (sourceColumn >= 0 && targetColumn >= 0) {
        const size_t needed = static_cast<size_t>(std::max(sourceColumn, targetColumn)) + 1;
        for (const std::vector<std::string>& row : pinyinTable)
            if (row.size() >= needed && row[static_cast<size_t>(sourceColumn)] == syllable)
                return row[static_cast<size_t>(targetColumn)];
    }
    if (!isUnscoredUnit(syllable)) sinkPrintf("Warning: Cannot find %s in the pinyinTable!\n", syllable.c_str());
    return syllable;
}

std::string convertPath(const std::string& sylPath, const std::vector<std::vector<std::string>>& pinyinTable,
                        int32_t sourceColumn, int32_t targetColumn) {
    std::vector<std::string> pieces;
    splitString(sylPath, '-', pieces);
    for (std::string& piece : pieces) piece = convertSyllable(piece, pinyinTable, sourceColumn, targetColumn);
    return joinStrings(pieces, "-");
}
