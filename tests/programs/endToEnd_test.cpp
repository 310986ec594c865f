// Whole runs of the recognize program on synthetic sounds with models
// estimated from them.
#include "pipelineFixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace pipelineFixtures;

namespace {

// The value printed after "label" up to the line end.
std::string lineValue(const std::string& output, const std::string& label) {
    size_t pos = output.find(label);
    if (pos == std::string::npos) return "<missing " + label + ">";
    pos += label.size();
    return output.substr(pos, output.find('\n', pos) - pos);
}

class EndToEnd : public testing::Test {
protected:
    static void SetUpTestSuite() { s_setup = new setup(); }
    static void TearDownTestSuite() {
        delete s_setup;
        s_setup = nullptr;
    }
    static setup* s_setup;
};
setup* EndToEnd::s_setup = nullptr;

}  // namespace

TEST_F(EndToEnd, RecognitionPicksTheSpokenTextAmongSeveral) {
    setup& s = *s_setup;
    std::string texts = s.dir.write("texts.txt", "one two\nthree four\nfive one\ntwo one\n");
    std::string param = s.params("recog.prm", "language=english\nfunction=recog\ncomparisonMode=1\n");
    struct caseOf {
        std::vector<std::string> classes;
        std::string index, text, pa;
    };
    std::vector<caseOf> cases = {
        {{"sil", "a", "b", "c", "d", "sil"}, "0 ", "one two", "a_b-c_d"},
        {{"sil", "b", "a", "d", "c", "sil"}, "1 ", "three four", "b_a-d_c"},
        {{"sil", "c", "d", "a", "b", "sil"}, "3 ", "two one", "c_d-a_b"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        std::string wav = s.wave("r" + std::to_string(i) + ".wav", cases[i].classes);
        commandResult r = runRecognize({param, wav, texts});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(lineValue(r.output, "Text index = "), cases[i].index) << r.output;
        EXPECT_EQ(lineValue(r.output, "\nText = "), cases[i].text) << r.output;
        EXPECT_EQ(lineValue(r.output, "Phonetic alphabets = "), cases[i].pa);
        EXPECT_EQ(r.output.find("\xB7\xE7\xBF"), std::string::npos);  // no Chinese lines
    }
}

TEST_F(EndToEnd, AssessmentWritesConsistentResultFiles) {
    setup& s = *s_setup;
    std::string out = s.dir.file("assess-out");
    std::filesystem::create_directories(out);
    std::string texts = s.dir.write("assess.txt", "three four five\n");
    std::string param = s.params("assess.prm", "language=english\nfunction=assess\ncomparisonMode=1\n");
    std::string wav = s.wave("assess.wav", {"sil", "b", "a", "d", "c", "a", "c", "sil"});
    commandResult r = runRecognize({param, wav, texts, "", out});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(lineValue(r.output, "\nText = "), "three four five") << r.output;

    for (const char* name : {"output.nt", "output.syl", "output.dic", "output.net", "output.netb", "output.wpa",
                             "output.xml", "score.txt", "recogResult.txt"})
        EXPECT_TRUE(std::filesystem::exists(out + "/" + name)) << name;
    std::string summary = readWholeFile(out + "/recogResult.txt");
    EXPECT_EQ(summary.rfind("Text index=0\nText=three four five\nScore=", 0), 0u) << summary;
    EXPECT_NE(summary.find("\nRZP=\nMPA=\nHanYu=\nTone=\nLogProb="), std::string::npos);

    // The printed score, score.txt and recogResult.txt agree; a correctly read
    // text keeps its score within 0..100 (no syllable-count inflation).
    double printed = std::atof(lineValue(r.output, "\nScore = ").c_str());
    double saved = std::atof(readWholeFile(out + "/score.txt").c_str());
    double summaryScore = std::atof(lineValue(summary, "Score=").c_str());
    EXPECT_NEAR(printed, saved, 1e-3 * std::max(1.0, std::fabs(saved)));
    EXPECT_NEAR(summaryScore, saved, 1e-3 * std::max(1.0, std::fabs(saved)));
    EXPECT_GT(saved, 50.0) << r.output;
    EXPECT_LE(saved, 100.0);

    std::string xml = readWholeFile(out + "/output.xml");
    if (std::getenv("RECOG_TEST_SHOW_OUTPUT")) std::printf("%s", xml.c_str());
    EXPECT_EQ(xml.rfind("<?xml", 0), 0u);
    for (const char* word : {"three", "four", "five"}) EXPECT_NE(xml.find(word), std::string::npos) << word;
}

TEST_F(EndToEnd, KeywordModeFindsTheKeywordBetweenFillers) {
    setup& s = *s_setup;
    std::string texts = s.dir.write("keywords.txt", "first keyword\nsecond keyword\n");
    std::string syl = s.dir.write("keywords.syl", "ba\t0\ncd-dc\t1\n");
    std::string param = s.params("keyword.prm", "language=taiwanese\nfunction=recog\ncomparisonMode=3\n");
    std::string wav = s.wave("keyword.wav", {"sil", "e", "e", "c", "d", "d", "c", "e", "sil"});
    commandResult r = runRecognize({param, wav, texts, "", "", syl});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(lineValue(r.output, "Text index = "), "1 ") << r.output;
    EXPECT_NE(r.output.find("keyword[0]:\n\tname=second keyword\n\tscore="), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\tsecond keyword \n"), std::string::npos);
    // Fillers and silences stay on the path around the keyword.
    std::string path = lineValue(r.output, "Phonetic alphabets = ");
    EXPECT_NE(path.find("-cd-dc-"), std::string::npos) << path;
    EXPECT_NE(path.find("filler"), std::string::npos) << path;
}
