#include "testUtil.h"

#include <gtest/gtest.h>

namespace {
const char* usageTail =
    "No. of command-line arguments should within [1, 9].\n"
    "Usage: @ recogParamFile\n"
    "       @ recogParamFile wavFile\n"
    "       @ recogParamFile wavFile txtFile\n"
    "       @ recogParamFile wavFile txtFile useEpd \n"
    "       @ recogParamFile wavFile txtFile useEpd outputDir\n"
    "       @ recogParamFile wavFile txtFile useEpd outputDir syl\n"
    "       @ recogParamFile wavFile txtFile useEpd outputDir syl net\n"
    "       @ recogParamFile wavFile txtFile useEpd outputDir syl net wpa\n"
    "       @ recogParamFile wavFile txtFile useEpd outputDir syl net wpa getPitch\n";

std::string expectedUsage(int count, const std::string& program) {
    std::string text = "No. of command-line arguments: " + std::to_string(count) + "\n" + usageTail;
    std::string out;
    for (char c : text) {
        if (c == '@') out += program;
        else out += c;
    }
    return out;
}
}  // namespace

TEST(RecognizeProgram, WrongArgumentCountPrintsUsage) {
    std::string prog = programPath("recognize");
    commandResult none = runCommand(shellQuote(prog));
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.output, expectedUsage(0, prog));
    commandResult ten = runCommand(shellQuote(prog) + " 1 2 3 4 5 6 7 8 9 10");
    EXPECT_EQ(ten.status, 1);
    EXPECT_EQ(ten.output, expectedUsage(10, prog));
}

TEST(RecognizeProgram, UnknownKeyEndsWithMessageAndLog) {
    scratchDir dir;
    std::string param = dir.write("p.txt", "macFile=a.mac\nLanguage=english\n");
    std::string logDir = dir.file("logs");
    runCommand("mkdir " + shellQuote(logDir));
    commandResult r = runCommand("TEMP=" + shellQuote(logDir) + " " + shellQuote(programPath("recognize")) + " " +
                                 shellQuote(param));
    EXPECT_EQ(r.status, 0);
    std::string saved = "\nSaved error log at " + logDir + "/error_";
    ASSERT_EQ(r.output.rfind(saved, 0), 0u) << r.output;
    size_t lineEnd = r.output.find("...\n");
    ASSERT_NE(lineEnd, std::string::npos);
    std::string logPath = r.output.substr(20, lineEnd - 20);
    std::string message = r.output.substr(lineEnd + 4);
    EXPECT_EQ(message.rfind("Error in parsing " + param + ", unknown key = Language (line ", 0), 0u) << message;
    EXPECT_EQ(message.substr(message.size() - 15), " in recogTask)\n");
    EXPECT_EQ(readWholeFile(logPath), "Error: " + message);
    EXPECT_EQ(r.output.find("Recognition result"), std::string::npos);
}

TEST(RecognizeProgram, MissingParameterFileAndMissingWaveEndWithStatusZero) {
    scratchDir dir;
    std::string prog = shellQuote(programPath("recognize"));
    commandResult r = runCommand("TEMP=/nonexistent " + prog + " " + shellQuote(dir.file("none.txt")));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "Cannot open file " + dir.file("none.txt") + r.output.substr(r.output.find(" (line ")));

    std::string param = dir.write("p.txt", "language=english\n");
    r = runCommand("TEMP=/nonexistent " + prog + " " + shellQuote(param) + " " + shellQuote(dir.file("no.wav")));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find(dir.file("no.wav")), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Recognition result"), std::string::npos);
}

TEST(RecognizeProgram, OverlongArgumentIsRefused) {
    scratchDir dir;
    std::string param = dir.write("p.txt", "language=english\n");
    commandResult r = runCommand("TEMP=/nonexistent " + shellQuote(programPath("recognize")) + " " +
                                 shellQuote(param) + " " + std::string(1200, 'w'));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("wavFile"), std::string::npos) << r.output.substr(0, 200);
}
