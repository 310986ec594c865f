// Whole runs of the recognize program on synthetic sounds with models
// estimated from them.
#include "pipelineFixtures.h"
#include "../frontend/flvFixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace pipelineFixtures;

namespace {

class EndToEnd : public sharedSetupTest {};

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

namespace {

// Values of the node-level elements named tag (two tabs deep) of the XML.
std::vector<std::string> nodeElements(const std::string& xml, const std::string& tag) {
    std::vector<std::string> values;
    std::string open = "\n\t\t<" + tag + " idx=\"";
    for (size_t pos = xml.find(open); pos != std::string::npos; pos = xml.find(open, pos + 1)) {
        size_t start = xml.find('>', pos) + 1;
        values.push_back(xml.substr(start, xml.find("</" + tag + ">", start) - start));
    }
    return values;
}

// The "1 n" size attribute of each node-level element named tag.
std::vector<int> nodeElementSizes(const std::string& xml, const std::string& tag) {
    std::vector<int> sizes;
    std::string open = "\n\t\t<" + tag + " idx=\"";
    for (size_t pos = xml.find(open); pos != std::string::npos; pos = xml.find(open, pos + 1)) {
        size_t size = xml.find("size=\"1 ", pos) + 8;
        sizes.push_back(std::atoi(xml.c_str() + size));
    }
    return sizes;
}

}  // namespace

TEST_F(EndToEnd, LabelFileReplacesTheAlignment) {
    setup& s = *s_setup;
    std::string out = s.dir.file("label-out");
    std::filesystem::create_directories(out);
    std::string texts = s.dir.write("label.txt", "three four\n");
    // Times in 100 ns: sil 0-0.3 s, b_a 0.3-0.7 s, d_c 0.7-1.1 s, sil to 1.4 s.
    std::string label = s.dir.write("align.lab",
                                    "0 3000000 sil -10 sil\n"
                                    "3000000 5000000 b+a -5 b_a\n"
                                    "5000000 7000000 a+sil -5\n"
                                    "7000000 9000000 d+c -5 d_c\n"
                                    "9000000 11000000 c+sil -5\n"
                                    "11000000 14000000 sil -5 sil\n");
    std::string param = s.params("label.prm", "language=english\nfunction=assess\ncomparisonMode=1\ninputLabFile=" +
                                                  label + "\n");
    std::string wav = s.wave("label.wav", {"sil", "b", "a", "d", "c", "sil"});
    commandResult r = runRecognize({param, wav, texts, "", out});
    ASSERT_EQ(r.status, 0) << r.output;
    std::string xml = readWholeFile(out + "/output.xml");
    EXPECT_EQ(nodeElements(xml, "name"), (std::vector<std::string>{"sil", "b_a", "d_c", "sil"}));
    EXPECT_EQ(nodeElements(xml, "interval"), (std::vector<std::string>{"0 0.3", "0.3 0.7", "0.7 1.1", "1.1 1.4"}));
    EXPECT_EQ(nodeElements(xml, "text"), (std::vector<std::string>{"", "three", "four", ""}));
}

TEST_F(EndToEnd, PitchListsCoverEveryFrameOfEveryNode) {
    setup& s = *s_setup;
    std::string out = s.dir.file("pitch-out");
    std::filesystem::create_directories(out);
    std::string texts = s.dir.write("pitch.txt", "one two\n");
    std::string param = s.params("pitch.prm", "language=english\nfunction=assess\ncomparisonMode=1\n");
    std::string wav = s.wave("pitch.wav", {"sil", "a", "b", "c", "d", "sil"}, 0.3);
    commandResult r = runRecognize({param, wav, texts, "", out, "", "", "", "1"});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(" sec: Volume and pitch computation (based on the whole utterance)\n"), std::string::npos);
    std::string xml = readWholeFile(out + "/output.xml");
    std::vector<std::string> intervals = nodeElements(xml, "interval");
    std::vector<int> pitchSizes = nodeElementSizes(xml, "pitch");
    std::vector<int> volumeSizes = nodeElementSizes(xml, "volume");
    ASSERT_EQ(pitchSizes.size(), intervals.size());
    ASSERT_GE(intervals.size(), 3u);
    int total = 0;
    for (size_t i = 0; i < intervals.size(); ++i) {
        double from = 0, to = 0;
        std::sscanf(intervals[i].c_str(), "%lf %lf", &from, &to);
        int frames = static_cast<int>(std::lround((to - from) * 100));
        EXPECT_EQ(pitchSizes[i], frames) << i;
        EXPECT_EQ(volumeSizes[i], frames) << i;
        total += frames;
    }
    EXPECT_EQ(total, 180 - 1);  // frames of 1.8 s of audio at 20 ms frames every 10 ms
    // The tone of class "a" (300 Hz) is found: semitone 69 + 12 log2(300 / 440) is about 62.4.
    std::vector<std::string> pitches = nodeElements(xml, "pitch");
    double first = std::atof(pitches[1].c_str() + pitches[1].find(' ', pitches[1].size() / 2));
    EXPECT_NEAR(first, 62.4, 1.0) << pitches[1];
}

TEST_F(EndToEnd, ChineseRunUsesBig5TextsAndThePinyinTable) {
    setup& s = *s_setup;
    std::string table = s.dir.write("pinyin.tab", "1\tab\tAB-mpa\tab\n2\tcd\tCD-mpa\tcd\n");
    // Big5 characters one, two and three.
    std::string wpa = s.dir.write("chars.wpa",
                                  "\xA4\x40\t1\tx\t1\ty\n"
                                  "\xA4\x47\t2\tx\t4\ty\n"
                                  "\xA4\x54\t1,2\tx\t2,3\ty\n");
    std::string texts = s.dir.write("chinese.txt", "\xA4\x40\xA4\x47\n\xA4\x47\xA4\x40\n");
    std::string param = s.params("chinese.prm", "language=chinese\nfunction=recog\ncomparisonMode=1\npinyinType=rzp\n"
                                                "pyTableFile=" + table + "\nwpaFile=" + wpa + "\n");
    std::string wav = s.wave("chinese.wav", {"sil", "c", "d", "a", "b", "sil"});
    commandResult r = runRecognize({param, wav, texts});
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("0.000 sec: Read pinyinTable"), std::string::npos) << r.output;
    EXPECT_EQ(lineValue(r.output, "Text index = "), "1 ") << r.output;
    EXPECT_EQ(lineValue(r.output, "\nText = "), "\xA4\x47\xA4\x40");
    EXPECT_EQ(lineValue(r.output, "Phonetic alphabets = "), "cd-ab");
    EXPECT_EQ(lineValue(r.output, "\xB7\xE7\xBF" "A\xAB\xF7\xAD\xB5 = "), "cd-ab");
    EXPECT_EQ(lineValue(r.output, "\xB0\xEA\xBBy\xAB\xF7\xAD\xB5 = "), "CD-mpa-AB-mpa");
    EXPECT_EQ(lineValue(r.output, "\xBA~\xBBy\xAB\xF7\xAD\xB5 = "), "cd-ab");
    EXPECT_EQ(lineValue(r.output, "\xAD\xB5\xBD\xD5="), "4-1");
}

TEST_F(EndToEnd, JapaneseAndTaiwaneseRunFromSyllableFiles) {
    setup& s = *s_setup;
    std::string texts = s.dir.write("syl-texts.txt", "first\nsecond\n");
    std::string syl = s.dir.write("texts.syl", "ab-cd\t0\nba-dc\t1\n");
    std::string wav = s.wave("syl.wav", {"sil", "b", "a", "d", "c", "sil"});
    for (const char* language : {"japanese", "taiwanese"}) {
        std::string param = s.params(std::string(language) + ".prm",
                                     "language=" + std::string(language) + "\nfunction=recog\ncomparisonMode=1\n" +
                                         "wpaFile=/no/such/file.wpa\n");
        commandResult r = runRecognize({param, wav, texts, "", "", syl});
        ASSERT_EQ(r.status, 0);
        EXPECT_EQ(lineValue(r.output, "\nText = "), "second") << language << r.output;
        EXPECT_EQ(lineValue(r.output, "Phonetic alphabets = "), "ba-dc") << language;
    }
    // Japanese texts cannot be listed without a syllable file.
    std::string param = s.params("japanese-nosyl.prm", "language=japanese\nfunction=recog\ncomparisonMode=1\n");
    commandResult r = runRecognize({param, wav, texts});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("This is not allowed for Japanese! (line "), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Recognition result"), std::string::npos);
}

TEST_F(EndToEnd, FlvInputIsDecodedResampledAndAssessed) {
    setup& s = *s_setup;
    // 15,360 samples (1.92 s) of Nellymoser audio at 8 kHz in one audio tag: 30,719 samples at 16 kHz.
    std::string flv = s.dir.write("speech.flv", flvFixture::file({flvFixture::audioTag(0x52, flvFixture::nellyBlocks(60))}));
    std::string texts = s.dir.write("flv.txt", "one two\n");
    std::string param = s.params("flv.prm", "language=english\nfunction=assess\ncomparisonMode=1\n");
    commandResult r = runRecognize({param, flv, texts});
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("fs=8000 ===> Resample to have fs=16000\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(" sec: Read wave file \"" + flv + "\"\n"), std::string::npos);
    EXPECT_NE(r.output.find("\twaveBeginIndex=0, waveEndIndex=30718\n"), std::string::npos) << r.output;
    EXPECT_EQ(lineValue(r.output, "\nText = "), "one two");
}

TEST_F(EndToEnd, ConfusingPathIsReportedAndRealigned) {
    setup& s = *s_setup;
    std::string out = s.dir.file("confusion-out");
    std::filesystem::create_directories(out);
    std::string texts = s.dir.write("confusion.txt", "designated text\n");
    // Entry 0 is the designated pronunciation, entry 1 a confusable one.
    std::string syl = s.dir.write("texts.syl2", "ab-cd\t0\nba-dc\t0\n");
    std::string param = s.params("confusion.prm",
                                 "language=taiwanese\nfunction=assess\ncomparisonMode=1\nusePaddedHardSp=0\n");
    std::string wav = s.wave("confusion.wav", {"sil", "b", "a", "d", "c", "sil"});
    commandResult r = runRecognize({param, wav, texts, "", out, syl});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(" (Check if a confusing path is taken instead of the correct one)\n"), std::string::npos);
    EXPECT_EQ(lineValue(r.output, "Phonetic alphabets = "), "ba-dc");
    EXPECT_EQ(readWholeFile(out + "/confusingPath.txt"), "Designated: ab-cd\nIdentified: ba-dc\nab ===> ba\ncd ===> dc\n");
    // The nodes now carry the designated syllables, re-aligned within their own spans.
    std::string xml = readWholeFile(out + "/output.xml");
    EXPECT_EQ(nodeElements(xml, "name"), (std::vector<std::string>{"sil", "ab", "cd", "sil"})) << xml.substr(0, 3000);

    // Without a syl2 file the report stays empty.
    std::string plain = s.dir.write("texts.syl", "ab-cd\t0\nba-dc\t0\n");
    r = runRecognize({param, wav, texts, "", out, plain});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(readWholeFile(out + "/confusingPath.txt"), "");
}
