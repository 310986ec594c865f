// The batch program: its command line, the settings taken from each list
// line, and whole batches over synthetic sounds against one search net.
#include "pipelineFixtures.h"
#include "run/batch.h"
#include "run/programSupport.h"
#include "run/utility.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace pipelineFixtures;

namespace {

const char* usageTail =
    "No. of command-line arguments should within [1, 9].\n"
    "Usage: @ recogParamFile wavFileList\n"
    "       @ recogParamFile wavFileList txtFile\n"
    "       @ recogParamFile wavFileList txtFile useEpd \n"
    "       @ recogParamFile wavFileList txtFile useEpd outputDir\n"
    "       @ recogParamFile wavFileList txtFile useEpd outputDir syl\n"
    "       @ recogParamFile wavFileList txtFile useEpd outputDir syl net\n"
    "       @ recogParamFile wavFileList txtFile useEpd outputDir syl net wpa\n"
    "       @ recogParamFile wavFileList txtFile useEpd outputDir syl net wpa getPitch\n";

std::string expectedUsage(int count, const std::string& program) {
    std::string text = "No. of command-line arguments: " + std::to_string(count) + "\n" + usageTail;
    return replaceAll(text, "@", program);
}

// Runs recognize-batch with the arguments (quoted) and returns what it printed.
commandResult runBatch(const std::vector<std::string>& args) {
    std::string command = "TEMP=/nonexistent " + shellQuote(programPath("recognize-batch"));
    for (const std::string& a : args) command += " " + shellQuote(a);
    commandResult r = runCommand(command + " 2>&1");
    if (std::getenv("RECOG_TEST_SHOW_OUTPUT")) std::printf("%s", r.output.c_str());
    return r;
}

// Every value printed after "label" up to its line end, in order.
std::vector<std::string> lineValues(const std::string& output, const std::string& label) {
    std::vector<std::string> values;
    for (size_t pos = output.find(label); pos != std::string::npos; pos = output.find(label, pos)) {
        pos += label.size();
        values.push_back(output.substr(pos, output.find('\n', pos) - pos));
    }
    return values;
}

size_t countOf(const std::string& text, const std::string& part) { return lineValues(text, part).size(); }

// Settings of a record after applying one list line (the given English or other language).
recogParam afterLine(const std::string& language, const std::string& line, const std::string& sylBefore = "") {
    recogParam param;
    param.language = language;
    param.sylFile = sylBefore;
    param.txtFile = "from-params.txt";
    testing::internal::CaptureStdout();
    applyBatchListLine(param, line, 1);
    testing::internal::GetCapturedStdout();
    return param;
}

class BatchRuns : public sharedSetupTest {};

}  // namespace

TEST(BatchProgram, WrongArgumentCountPrintsUsage) {
    std::string prog = programPath("recognize-batch");
    for (const char* extra : {"", " params.txt", " 1 2 3 4 5 6 7 8 9 10"}) {
        commandResult r = runCommand(shellQuote(prog) + extra);
        int count = static_cast<int>(splitString(trimSpace(extra), ' ').size());
        EXPECT_EQ(r.status, 1) << extra;
        EXPECT_EQ(r.output, expectedUsage(count, prog)) << extra;
    }
}

TEST(BatchProgram, OverridesFollowTheBatchPositions) {
    recogParam param;
    param.txtFile = "kept.txt";
    param.outputDir = "kept-dir";
    applyBatchOverrides(param, {"p.prm", "list.txt", "", "7x", "out", "a.syl", "a.net", "a.wpa", "1"});
    EXPECT_EQ(param.wavFileList, "list.txt");
    EXPECT_EQ(param.txtFile, "kept.txt");  // an empty argument overrides nothing
    EXPECT_EQ(param.useEpd, 7);
    EXPECT_EQ(param.outputDir, "out");
    EXPECT_EQ(param.sylFile, "a.syl");
    EXPECT_EQ(param.netFile, "a.net");
    EXPECT_EQ(param.wpaFile, "a.wpa");
    EXPECT_EQ(param.getPitch, 1);
    EXPECT_EQ(param.wavFile, "");  // the list, not a wave, is argument 2
}

TEST(BatchListLine, EnglishTurnsBackslashesAndUnderscores) {
    recogParam english = afterLine("english", "u1.xml\tC:\\waves\\u1.wav\tone_two_three");
    EXPECT_EQ(english.outputXmlFile, "u1.xml");
    EXPECT_EQ(english.wavFile, "C:/waves/u1.wav");
    EXPECT_EQ(english.txtFile, "one two three");
    EXPECT_EQ(english.sylFile, "");
    // Only English texts lose their underscores; every language's paths get slashes.
    recogParam taiwanese = afterLine("taiwanese", "u1.xml\tdir\\u1.wav\tab_cd");
    EXPECT_EQ(taiwanese.wavFile, "dir/u1.wav");
    EXPECT_EQ(taiwanese.txtFile, "ab_cd");
    EXPECT_EQ(afterLine("English", "x\ty\ta_b").txtFile, "a_b");  // the comparison is exact
}

TEST(BatchListLine, SyllableFileOnlyFromExactlyFourFields) {
    EXPECT_EQ(afterLine("taiwanese", "x.xml\tw.wav\tt\tnew.syl", "old.syl").sylFile, "new.syl");
    EXPECT_EQ(afterLine("taiwanese", "x.xml\tw.wav\tt", "old.syl").sylFile, "old.syl");
    recogParam five = afterLine("taiwanese", "x.xml\tw.wav\tt\tnew.syl\textra", "old.syl");
    EXPECT_EQ(five.sylFile, "old.syl");
    EXPECT_EQ(five.wavFile, "w.wav");
    // An empty fourth field still counts as four fields and clears the setting.
    EXPECT_EQ(afterLine("taiwanese", "x.xml\tw.wav\tt\t", "old.syl").sylFile, "");
}

TEST(BatchListLine, ShortLineIsSkippedWithItsNumber) {
    for (const std::string line : {"only-one-field", "two\tfields", "   "}) {
        recogParam param;
        param.wavFileList = "list.txt";
        param.wavFile = "before.wav";
        testing::internal::CaptureStdout();
        bool used = applyBatchListLine(param, line, 12);
        std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_FALSE(used) << line;
        EXPECT_EQ(param.wavFile, "before.wav");
        EXPECT_EQ(printed.rfind("Warning: line 12 of the wave list \"list.txt\"", 0), 0u) << printed;
    }
}

TEST(BatchListLine, OverlongFieldIsReported) {
    recogParam param;
    std::string line = "x.xml\t" + std::string(PARAM_TEXT_CAPACITY + 1, 'w') + "\ttext";
    EXPECT_THROW(applyBatchListLine(param, line, 1), recogError);
}

TEST_F(BatchRuns, CommentOnlyListBuildsTheNetAndEndsCleanly) {
    setup& s = *s_setup;
    std::string out = s.dir.file("empty-out");
    std::filesystem::create_directories(out);
    std::string texts = s.dir.write("empty-texts.txt", "one two\nthree four\n");
    std::string list = s.dir.write("comments.lst", "% xml\twave\ttext\n\n%another comment\n");
    std::string param = s.params("empty.prm", "language=english\nfunction=recog\ncomparisonMode=1\n"
                                              "modelCountFile=/no/such/counts.txt\n");
    commandResult r = runBatch({param, list, texts, "", out});
    EXPECT_EQ(r.status, 0);
    // The model set is read without the count file, whose path is wrong here.
    EXPECT_NE(r.output.find(" sec: Read macro \"" + s.mac + "\" (modelNum=29)\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(" sec: Generated tree net (nodeNum="), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(out + "/output.net"));
    std::string tail = "contents has zero element!\n";
    ASSERT_GE(r.output.size(), tail.size());
    EXPECT_EQ(r.output.substr(r.output.size() - tail.size()), tail) << r.output;
    EXPECT_EQ(r.output.find("======>"), std::string::npos);
}

TEST_F(BatchRuns, EachFileHasItsXmlAndTheLastOneTheSummaries) {
    setup& s = *s_setup;
    std::string out = s.dir.file("batch-out");
    std::filesystem::create_directories(out);
    std::string texts = s.dir.write("batch-texts.txt", "one two\nthree four\nfive one\ntwo one\n");
    std::string param = s.params("batch.prm", "language=english\nfunction=recog\ncomparisonMode=1\n");
    std::vector<std::string> waves = {s.wave("b0.wav", {"sil", "b", "a", "d", "c", "sil"}),
                                      s.wave("b1.wav", {"sil", "a", "b", "c", "d", "sil"}, 0.25, 11),
                                      s.wave("b2.wav", {"sil", "c", "d", "a", "b", "sil"}, 0.2, 13)};
    // The list names the waves with backslashes and joins words with
    // underscores, as lists written on other systems do.
    std::string listText = "% xml\twave\ttext\n";
    for (size_t i = 0; i < waves.size(); ++i)
        listText += "u" + std::to_string(i) + ".xml\t" + replaceAll(waves[i], "/", "\\") + "\tsome_words\n";
    std::string list = s.dir.write("batch.lst", listText);

    commandResult r = runBatch({param, list, texts, "", out});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(countOf(r.output, " sec: Generated tree net"), 1u);  // one net for the batch
    EXPECT_EQ(countOf(r.output, " sec: Read wave file"), 0u);
    EXPECT_EQ(countOf(r.output, "\ncontents[0] = % xml"), 0u);  // comment lines are not listed
    EXPECT_NE(r.output.find("\ncontents[2] = u2.xml\t" + replaceAll(waves[2], "/", "\\") + "\tsome_words\n"),
              std::string::npos);
    std::vector<std::string> heads = lineValues(r.output, "\n======> ");
    ASSERT_EQ(heads.size(), 3u) << r.output;
    for (size_t i = 0; i < waves.size(); ++i)
        EXPECT_EQ(heads[i], std::to_string(i + 1) + "/3: xmlFile=u" + std::to_string(i) + ".xml, wavFile=" +
                                waves[i] + ", txtFile=some words, sylFile=");

    // Every file is decoded against the one net, as recognize decodes it alone.
    std::vector<std::string> scores = lineValues(r.output, "\nScore = ");
    std::vector<std::string> found = lineValues(r.output, "\ttextIndex=");
    ASSERT_EQ(scores.size(), 3u);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found, (std::vector<std::string>{"1 ===> three four", "0 ===> one two", "3 ===> two one"}));
    for (size_t i = 0; i < waves.size(); ++i) {
        commandResult alone = runRecognize({param, waves[i], texts});
        ASSERT_EQ(alone.status, 0);
        EXPECT_EQ(lineValues(alone.output, "\nScore = "), std::vector<std::string>{scores[i]}) << i;
        EXPECT_EQ(lineValues(alone.output, "\ttextIndex="), std::vector<std::string>{found[i]}) << i;
    }

    // Each XML under its own name; the summaries hold the last file's result.
    const char* words[] = {"three", "one", "two"};
    for (size_t i = 0; i < waves.size(); ++i) {
        std::string xml = readWholeFile(out + "/u" + std::to_string(i) + ".xml");
        EXPECT_EQ(xml.rfind("<?xml", 0), 0u) << i;
        EXPECT_NE(xml.find(">" + std::string(words[i]) + "<"), std::string::npos) << i;
    }
    EXPECT_FALSE(std::filesystem::exists(out + "/output.xml"));
    EXPECT_EQ(std::atof(readWholeFile(out + "/score.txt").c_str()), std::atof(scores[2].c_str()));
    std::string summary = readWholeFile(out + "/recogResult.txt");
    EXPECT_EQ(summary.rfind("Text index=3\nText=two one\nScore=", 0), 0u) << summary;
}

TEST_F(BatchRuns, FourthFieldStaysSetForTheFollowingLines) {
    setup& s = *s_setup;
    std::string out = s.dir.file("syl-out");
    std::filesystem::create_directories(out);
    std::string texts = s.dir.write("syl-batch.txt", "three four\n");
    std::string syl = s.dir.write("designated.syl", "b_a-d_c\t0\n");
    std::string param = s.params("syl-batch.prm", "language=english\nfunction=assess\ncomparisonMode=1\n");
    std::string wav = s.wave("s.wav", {"sil", "b", "a", "d", "c", "sil"});
    std::string list = s.dir.write("syl.lst", "first.xml\t" + wav + "\tthree_four\n" +
                                                 "second.xml\t" + wav + "\tthree_four\t" + syl + "\n" +
                                                 "third.xml\t" + wav + "\tthree_four\n" +
                                                 "fourth.xml\t" + wav + "\tthree_four\n");
    commandResult r = runBatch({param, list, texts, "", out});
    ASSERT_EQ(r.status, 0) << r.output;
    std::vector<std::string> heads = lineValues(r.output, "\n======> ");
    ASSERT_EQ(heads.size(), 4u) << r.output;
    EXPECT_EQ(heads[0].substr(heads[0].find("sylFile=")), "sylFile=");
    for (size_t i = 1; i < 4; ++i) EXPECT_EQ(heads[i].substr(heads[i].find("sylFile=")), "sylFile=" + syl) << i;
    // With a syllable file the assessment runs its confusion check for the
    // second line and every line after it.
    EXPECT_EQ(countOf(r.output, "/confusingPath.txt\n"), 3u) << r.output;
    EXPECT_EQ(countOf(r.output, "\nScore = "), 4u);
}

TEST_F(BatchRuns, WarningsAccumulateOverTheBatch) {
    setup& s = *s_setup;
    std::string out = s.dir.file("warn-out");
    std::filesystem::create_directories(out);
    std::string texts = s.dir.write("warn.txt", "one two\n");
    // A volume threshold no recording reaches: every file draws a warning.
    std::string volume = s.dir.write("loud.prm", "maxVolTh=1000000000\nminVolTh=1000000000\n");
    std::string param =
        s.params("warn.prm", "language=english\nfunction=assess\ncomparisonMode=1\nvolCheckPrmFile=" + volume + "\n");
    std::string wav = s.wave("w.wav", {"sil", "a", "b", "c", "d", "sil"});
    std::string list = s.dir.write("warn.lst", "w1.xml\t" + wav + "\tx\nw2.xml\t" + wav + "\tx\nw3.xml\t" + wav +
                                                   "\tx\n");
    commandResult r = runBatch({param, list, texts, "", out});
    ASSERT_EQ(r.status, 0) << r.output;
    for (int i = 1; i <= 3; ++i) {
        std::string xml = readWholeFile(out + "/w" + std::to_string(i) + ".xml");
        std::string cell = "<warningMessage idx=\"1\" type=\"cell\" size=\"1 " + std::to_string(i) + "\">";
        EXPECT_NE(xml.find(cell), std::string::npos) << i;
    }
}

TEST_F(BatchRuns, ErrorEndsTheBatchWithStatusZeroAndShortLinesAreSkipped) {
    setup& s = *s_setup;
    std::string texts = s.dir.write("error-texts.txt", "one two\nthree four\n");
    std::string param = s.params("error.prm", "language=english\nfunction=recog\ncomparisonMode=1\n");
    std::string wav = s.wave("e.wav", {"sil", "a", "b", "c", "d", "sil"});
    std::string missing = s.dir.file("missing.wav");
    std::string list = s.dir.write("error.lst", "no-wave-here\n"
                                                "e1.xml\t" + wav + "\tx\n" +
                                                "e2.xml\t" + missing + "\tx\n" +
                                                "e3.xml\t" + wav + "\tx\n");
    commandResult r = runBatch({param, list, texts});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("Warning: line 1 of the wave list \"" + list + "\" has 1 field(s)"), std::string::npos)
        << r.output;
    EXPECT_EQ(countOf(r.output, "\n======> "), 2u);
    EXPECT_EQ(countOf(r.output, "\nScore = "), 1u);
    EXPECT_EQ(countOf(r.output, "======> 4/4"), 0u);
    std::string ending = "Can't open wave file " + missing;
    EXPECT_NE(r.output.find(ending), std::string::npos) << r.output;
    EXPECT_EQ(r.output.back(), '\n');

    // A failing resource ends the batch before the list is read.
    std::string bad = s.params("bad.prm", "language=english\nfunction=recog\ncomparisonMode=1\nmacFile=/no/such.mac\n");
    commandResult early = runBatch({bad, list, texts});
    EXPECT_EQ(early.status, 0);
    EXPECT_NE(early.output.find("Cannot open file /no/such.mac"), std::string::npos) << early.output;
    EXPECT_EQ(early.output.find("contents"), std::string::npos);
}
