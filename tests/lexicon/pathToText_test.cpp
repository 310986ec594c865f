#include "lexicon/pathToText.h"
#include "lexicon/lexiconFixtures.h"
#include "lexicon/netFixtures.h"
#include "lexicon/text.h"
#include "run/recogParam.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The m_pronDict indices of the named units.
std::vector<int32_t> pathOf(const dictClass& dict, const std::vector<std::string>& words) {
    std::vector<int32_t> path;
    for (const std::string& w : words) path.push_back(dict.pronDictFind(w));
    return path;
}

recogParam modeParam(int32_t comparisonMode, const std::string& function = "recog") {
    recogParam p = plainParam();
    p.comparisonMode = comparisonMode;
    p.function = function;
    p.netType = 0;
    return p;
}

struct matchResult {
    std::string path;
    std::vector<int32_t> texts, entries;
};

matchResult match(textClass& text, const std::vector<std::string>& units, const recogParam& param) {
    dictClass dict = syllableDict();
    matchResult r;
    r.path = pinyin2text(text, pathOf(dict, units), dict, r.texts, r.entries, param);
    return r;
}

std::vector<std::vector<std::string>> pinyinRows() {
    return {{"0", "ni", "n-i", "ni3"}, {"1", "hao", "h-au", "hao3"}, {"2", "short"}};
}

}  // namespace

TEST(pinyin2text, leadingAndTrailingSilAreLeftOutAndTheExactEntryMatches) {
    textClass text = sylText({"ni-men\t0", "ni-hao\t1", "ni-hao-ma\t2", "ni-hao\t3"});
    matchResult r = match(text, {"sil", "ni", "hao", "sil"}, modeParam(1));
    EXPECT_EQ(r.path, "ni-hao");
    EXPECT_EQ(r.texts, (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(r.entries, (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(text.keywordStartSyl, -1);
    EXPECT_EQ(text.keywordSylNum, -1);
    // A sil inside the path stays.
    textClass inner = sylText({"ni-sil-hao\t4"});
    EXPECT_EQ(match(inner, {"sil", "ni", "sil", "hao"}, modeParam(1)).path, "ni-sil-hao");
}

TEST(pinyin2text, modeOneFallsBackToEntriesThePathStarts) {
    textClass text = sylText({"nin-hao\t0", "ni-hao\t1", "ni-men\t1", "hao-ni\t2"});
    matchResult r = match(text, {"ni"}, modeParam(1));
    EXPECT_EQ(r.path, "ni");
    EXPECT_EQ(r.texts, (std::vector<int32_t>{1}));  // by whole syllables: not "nin-hao"; index 1 once
    EXPECT_EQ(r.entries, (std::vector<int32_t>{1, 2}));

    // A path of one sil is "-": a prefix of every entry.
    matchResult all = match(text, {"sil"}, modeParam(1));
    EXPECT_EQ(all.path, "");
    EXPECT_EQ(all.texts, (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(all.entries, (std::vector<int32_t>{0, 1, 2, 3}));
}

TEST(pinyin2text, modeOneLooksInsideEntriesOnlyForAssessWithStartAnywhere) {
    textClass text = sylText({"a-ni-hao\t0", "ni-men\t1"});
    recogParam assess = modeParam(1, "assess");
    assess.sylFile = "given.syl";
    EXPECT_NE(errorOf([&] { match(text, {"hao"}, assess); }), "");
    assess.addLink4startAnywhere = 1;
    matchResult r = match(text, {"hao"}, assess);
    EXPECT_EQ(r.texts, (std::vector<int32_t>{0}));
    EXPECT_EQ(r.entries, (std::vector<int32_t>{0}));
    assess.sylFile = "";
    EXPECT_NE(errorOf([&] { match(text, {"hao"}, assess); }), "");
}

TEST(pinyin2text, assessWithSoftSilDropsSilencesBetweenSyllables) {
    textClass text = sylText({"ni-hao-ma\t0"});
    recogParam assess = modeParam(1, "assess");
    assess.usePaddedSoftSil = 1;
    dictClass dict = unitDict({"hao", "ma", "ni", "sil"});
    std::vector<int32_t> texts, entries;
    EXPECT_EQ(pinyin2text(text, pathOf(dict, {"sil", "ni", "sil", "hao", "sil", "ma", "sil"}), dict, texts, entries,
                          assess),
              "ni-hao-ma");
    EXPECT_EQ(texts, (std::vector<int32_t>{0}));
    recogParam recog = modeParam(1);
    EXPECT_NE(errorOf([&] {
                  pinyin2text(text, pathOf(dict, {"ni", "sil", "hao", "ma"}), dict, texts, entries, recog);
              }),
              "");
}

TEST(pinyin2text, modeTwoFindsThePathInsideEntries) {
    textClass text = sylText({"a-ni-hao-b\t5", "ni-men\t6", "ni-hao\t7"});
    matchResult r = match(text, {"sil", "ni", "hao"}, modeParam(2));
    EXPECT_EQ(r.path, "ni-hao");
    EXPECT_EQ(r.texts, (std::vector<int32_t>{5, 7}));
    EXPECT_EQ(r.entries, (std::vector<int32_t>{0, 2}));
}

TEST(pinyin2text, keywordModeKeepsEveryUnitAndCountsTheUnitsBeforeTheKeyword) {
    textClass text = sylText({"x1-x2\t0", "ni-hao\t1", "hao\t2"});
    matchResult r = match(text, {"sil", "fillerC", "ni", "hao", "fillerV", "sil"}, modeParam(3));
    EXPECT_EQ(r.path, "sil-fillerC-ni-hao-fillerV-sil");
    EXPECT_EQ(r.texts, (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(r.entries, (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(text.keywordStartSyl, 2);  // from the first matched entry, ni-hao
    EXPECT_EQ(text.keywordSylNum, 2);

    textClass none = sylText({"x1-x2\t0"});
    EXPECT_NE(errorOf([&] { match(none, {"sil", "ni", "sil"}, modeParam(3)); }), "");
    EXPECT_EQ(none.keywordStartSyl, -1);
}

TEST(pinyin2text, sausageNetsSpellTheOneTextWithoutSearching) {
    textClass text;  // no m_sylVs at all
    recogParam sausage = modeParam(0);
    sausage.netType = 1;
    matchResult r = match(text, {"sil", "ni", "sp", "hao", "sil", "sil"}, sausage);
    EXPECT_EQ(r.path, "ni-hao");
    EXPECT_EQ(r.texts, (std::vector<int32_t>{0}));
    EXPECT_EQ(r.entries, (std::vector<int32_t>{-1}));
    sausage.language = "japanese";
    EXPECT_EQ(match(text, {"sil", "ni", "sp", "hao", "sil", "sil"}, sausage).path, "ni-sp-hao-sil");
    EXPECT_EQ(match(text, {"sil"}, sausage).path, "");
    // With a syllable file the tree-net matching applies.
    sausage.sylFile = "given.syl";
    EXPECT_EQ(withoutLineNumbers(errorOf([&] { match(text, {"ni"}, sausage); })), "Unknown comparisonMode = 0");
}

TEST(pinyin2text, refusedInputs) {
    textClass text = sylText({"ni-hao\t0"});
    EXPECT_EQ(errorOf([&] { match(text, {}, modeParam(1)); }), "The best syllable path has zero length!");
    EXPECT_EQ(errorOf([&] { match(text, {"ni", "hao"}, modeParam(0)); }), "Unknown comparisonMode = 0");
    EXPECT_EQ(errorOf([&] { match(text, {"ni", "hao"}, modeParam(4)); }), "Unknown comparisonMode = 4");
    dictClass dict = syllableDict();
    std::vector<int32_t> texts, entries;
    EXPECT_NE(errorOf([&] { pinyin2text(text, {99}, dict, texts, entries, modeParam(1)); }).find("unit 99"),
              std::string::npos);
    // An entry without a tab carries no text index.
    textClass noTab = sylText({"ni-hao"});
    EXPECT_EQ(withoutLineNumbers(errorOf([&] { match(noTab, {"ni", "hao"}, modeParam(1)); })),
              "Error: m_sylVs[0] = \"ni-hao\" has no text index after a tab (line N of file text)");
    EXPECT_NE(errorOf([&] { match(noTab, {"ni", "hao"}, modeParam(3)); }), "");
}

TEST(pinyin2text, noMatchPrintsDiagnosticsAndTheEntries) {
    textClass text = sylText({"ni-men\t0", "a-b\t1"});
    testing::internal::CaptureStdout();
    std::string error = errorOf([&] { match(text, {"sil", "hao", "ni", "sil"}, modeParam(2)); });
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(withoutLineNumbers(error),
              "Error in textClass::pinyin2text(): Cannot find sylPath within m_sylVs (line N of file text)");
    std::string lines = withoutLineNumbers(out.substr(0, out.find("\nSaved error log")));
    EXPECT_EQ(lines,
              "Error in textClass::pinyin2text(): Cannot find sylPath within m_sylVs (shown next) at line N of file "
              "text!\n"
              "sylPath=-hao-ni- (line=N, file=text)\n"
              "recogParamP->comparisonMode=2 (line=N, file=text)\n"
              "recogParamP->netType=0 (line=N, file=text)\n"
              "m_sylVs[0] = ni-men\t0\n"
              "m_sylVs[1] = a-b\t1\n");
}

TEST(searchSylVs, modesCompareWholeSyllables) {
    textClass text = sylText({"ni-hao\t0", "nin-hao\t1", "a-ni-hao\t2"});
    std::vector<int32_t> texts{9}, entries{9};
    searchSylVs(text, "-ni-hao-", 0, texts, entries);
    EXPECT_EQ(texts, (std::vector<int32_t>{9, 0}));  // appends
    EXPECT_EQ(entries, (std::vector<int32_t>{9, 0}));
    texts.clear();
    entries.clear();
    searchSylVs(text, "-ni-", 1, texts, entries);
    EXPECT_EQ(entries, (std::vector<int32_t>{0}));
    entries.clear();
    searchSylVs(text, "-ni-", 2, texts, entries);
    EXPECT_EQ(entries, (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(errorOf([&] { searchSylVs(text, "-ni-", 3, texts, entries); }), "Unknown mode in searchSylVs()!");
}

TEST(convertPath, syllablesGoFromOneColumnToAnother) {
    const auto rows = pinyinRows();
    testing::internal::CaptureStdout();
    EXPECT_EQ(convertPath("ni-hao", rows, 1, 2), "n-i-h-au");
    EXPECT_EQ(convertPath("ni3-hao3", rows, 3, 1), "ni-hao");
    EXPECT_EQ(convertPath("sil-ni-fillerC-sp-fillerV-filler-hao", rows, 1, 3), "sil-ni3-fillerC-sp-fillerV-filler-hao3");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // fillers and silences pass without a warning

    testing::internal::CaptureStdout();
    EXPECT_EQ(convertPath("ni-xyz", rows, 1, 3), "ni3-xyz");
    EXPECT_EQ(convertSyllable("short", rows, 1, 3), "short");  // the row lacks column 3
    EXPECT_EQ(convertPath("", rows, 1, 2), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Warning: Cannot find xyz in the pinyinTable!\nWarning: Cannot find short in the pinyinTable!\n");
}
