// The English lexicon and model set of the shared assessment data: reading,
// listing and the dictionary built from real texts. Skipped when the shared
// data is not present.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "decoder/macro.h"
#include "lexicon/dict.h"
#include "lexicon/text.h"
#include "run/recogParam.h"
#include "run/utility.h"
#include "testUtil.h"

namespace {

const std::string ANCHOR_DIR = RECOG_SOURCE_DIR "/../shared/anchors/so762";

bool anchorsPresent() {
    struct stat st;
    return stat((ANCHOR_DIR + "/so762.wpa").c_str(), &st) == 0 && stat((ANCHOR_DIR + "/so762.mac").c_str(), &st) == 0;
}

TEST(englishAnchor, everyTestTextIsListedAndGetsModelsWithoutSubstitution) {
    if (!anchorsPresent()) GTEST_SKIP() << "no shared anchor data at " << ANCHOR_DIR;
    dictClass dict;
    dict.wpaRead(ANCHOR_DIR + "/so762.wpa", "english");
    ASSERT_GT(dict.m_wpa.size(), 1000u);
    for (size_t i = 1; i < dict.m_wpa.size(); ++i) ASSERT_LT(dict.m_wpa[i - 1].word, dict.m_wpa[i].word);
    for (size_t i = 0; i < dict.m_wpa.size(); i += 97) EXPECT_EQ(dict.wpaFind(dict.m_wpa[i].word), static_cast<int32_t>(i));

    // The third column of the test split holds the prompted texts.
    std::vector<std::string> texts;
    for (const auto& row : readTsvFile(ANCHOR_DIR + "/test.tsv"))
        if (row.size() >= 3 && !row[0].empty() && row[0][0] != '%') texts.push_back(row[2]);
    ASSERT_GT(texts.size(), 100u);
    scratchDir dir;
    std::string textFile = dir.write("texts.txt", joinStrings(texts, "\n") + "\n");

    recogParam param;
    param.language = "english";
    textClass text;
    text.textNormMapRead(ANCHOR_DIR + "/en.tnm", '#', text.m_textNormSp);
    text.textsRead(textFile);
    text.textsNormalize(param);
    ASSERT_EQ(text.m_txtVsNormalized.size(), texts.size());
    for (const std::string& t : text.m_txtVsNormalized) {
        EXPECT_EQ(t, toLowerAscii(t));
        EXPECT_TRUE(t.empty() || (t.back() != '.' && t.back() != '?' && t.back() != '!')) << t;
    }

    text.englishListing(dict.m_wpa);
    ASSERT_GE(text.m_sylVs.size(), texts.size());
    std::vector<bool> listed(texts.size(), false);
    for (const std::string& entry : text.m_sylVs) {
        std::vector<std::string> parts = splitString(entry, '\t');
        ASSERT_EQ(parts.size(), 2u) << entry;
        int32_t index = atoiLike(parts[1]);
        ASSERT_TRUE(index >= 0 && static_cast<size_t>(index) < texts.size()) << entry;
        listed[index] = true;
    }
    for (size_t i = 0; i < listed.size(); ++i) EXPECT_TRUE(listed[i]) << "text " << i << " not listed";

    macroClass models;
    models.readMacro(ANCHOR_DIR + "/so762.mac", true);
    testing::internal::CaptureStdout();
    dict.pronDictFromTexts(text.m_txtVsNormalized, models);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("Warning of model substitution"), std::string::npos) << out.substr(0, 500);

    // Every syllable of the listing is a unit of the dictionary, whose models all exist.
    for (size_t i = 1; i < dict.m_pronDict.size(); ++i)
        ASSERT_LT(dict.m_pronDict[i - 1].word, dict.m_pronDict[i].word);
    for (const std::string& entry : text.m_sylVs)
        for (const std::string& syllable : splitString(entry.substr(0, entry.find('\t')), '-'))
            ASSERT_GE(dict.pronDictFind(syllable), 0) << syllable;
    for (const pronEntry& e : dict.m_pronDict) {
        if (e.word == "sil" || e.word == "sp") continue;
        ASSERT_FALSE(e.modelIndices.empty()) << e.word;
        for (int32_t m : e.modelIndices) ASSERT_GE(m, 0) << e.word;
        // The last phone's model has the right context "sil".
        const std::string& last = models.models[e.modelIndices.back()].name;
        EXPECT_EQ(last.substr(last.size() - 4), "+sil") << e.word;
    }
}

}  // namespace
