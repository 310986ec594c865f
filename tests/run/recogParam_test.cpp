#include "run/recogParam.h"
#include "run/utility.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {
std::string paramFileError(const std::string& path) {
    setenv("TEMP", "/nonexistent", 1);
    recogParam param;
    return errorOf([&] { readRecogParam(path, param); });
}
}  // namespace

TEST(RecogParam, CommentsOnlyGiveDefaults) {
    scratchDir dir;
    recogParam p;
    p.language = "x";
    p.maxCandidateNum = 9;
    readRecogParam(dir.write("p.txt", "% nothing\n\n   \t\n% language=english\n"), p);
    EXPECT_EQ(p.language, "");
    EXPECT_EQ(p.txtFile, "");
    EXPECT_EQ(p.maxCandidateNum, 0);
    EXPECT_EQ(p.usePaddedHardSp, 1);
    EXPECT_EQ(p.usePaddedSoftSil, 1);
    EXPECT_EQ(p.useLeadingTrailingSil, 1);
    EXPECT_EQ(p.useDescCandidateNum, 1);
    EXPECT_EQ(p.useEpd, 0);
    EXPECT_EQ(p.addLink4skippableLeadingSil, 0);
}

TEST(RecogParam, ValuesTrimmedCommentsCutAndAtoi) {
    scratchDir dir;
    recogParam p;
    readRecogParam(dir.write("p.txt",
                             "   outputDir =  my results dir   % where results go\n"
                             "txtFile=a=b\n"
                             "macFile=models/100%done.mac\n"
                             "probTh=0.5\n"
                             "maxCandidateNum = 3abc\n"
                             "nodePenalty=-20\n"
                             "language=english\n"
                             "language=chinese\n"
                             "function=assess\r\n"),
                   p);
    EXPECT_EQ(p.outputDir, "my results dir");
    EXPECT_EQ(p.txtFile, "a=b");
    EXPECT_EQ(p.macFile, "models/100");
    EXPECT_EQ(p.probTh, 0);
    EXPECT_EQ(p.maxCandidateNum, 3);
    EXPECT_EQ(p.nodePenalty, -20);
    EXPECT_EQ(p.language, "chinese");
    EXPECT_EQ(p.function, "assess");
}

TEST(RecogParam, EveryKeyIsKnown) {
    const char* keys[] = {"language", "macFile", "modelCountFile", "pinyinType", "dicFile", "wpaFile",
                          "wpaAddendaFile", "pyTableFile", "qiYinFile", "tnmFile", "featureConfigFile",
                          "wavFile", "wavFileList", "txtFile", "sylFile", "netFile", "outputDir", "outWavDir",
                          "function", "outputXmlFile", "phoneRank2scoreParamFile", "scoreDiscountParamFile",
                          "cmParamFile", "epsFile", "inputLabFile", "useAllModelAsCompetingModel",
                          "usePaddedHardSp", "usePaddedSoftSil", "useLeadingTrailingSil", "ptParamFile",
                          "volCheckPrmFile", "fillerType", "getUvScore", "getPitch", "useEpd", "netType",
                          "maxCandidateNum", "probTh", "comparisonMode", "wordPenalty", "nodePenalty",
                          "useWaveReject", "useDescCandidateNum", "useSpecSubtraction", "addLink4stopAnywhere",
                          "addLink4startAnywhere", "addLink4forwardJump", "addLink4skippableTrailingSil",
                          "addLink4skippableLeadingSil"};
    EXPECT_EQ(sizeof keys / sizeof keys[0], 49u);
    std::string text;
    for (const char* k : keys) text += std::string(k) + "=7\n";
    scratchDir dir;
    recogParam p;
    readRecogParam(dir.write("p.txt", text), p);
    EXPECT_EQ(p.language, "7");
    EXPECT_EQ(p.addLink4skippableLeadingSil, 7);
    EXPECT_EQ(p.useDescCandidateNum, 7);
    EXPECT_EQ(p.inputLabFile, "7");
    EXPECT_EQ(p.useLeadingTrailingSil, 7);
}

TEST(RecogParam, UnknownAndMiscasedKeysFail) {
    scratchDir dir;
    std::string path = dir.write("p.txt", "macFile=a\nLanguage=english\n");
    std::string m = paramFileError(path);
    EXPECT_EQ(m.rfind("Error in parsing " + path + ", unknown key = Language (line ", 0), 0u) << m;
    EXPECT_EQ(m.substr(m.size() - 14), " in recogTask)");

    std::string empty = dir.write("q.txt", "=value\n");
    EXPECT_EQ(paramFileError(empty).rfind("Error in parsing " + empty + ", unknown key =  (line ", 0), 0u);
    EXPECT_EQ(paramFileError(dir.file("missing")).rfind("Cannot open file ", 0), 0u);
}

TEST(RecogParam, OverlongValuesAreRefused) {
    scratchDir dir;
    std::string ok = dir.write("ok.txt", "macFile=" + std::string(999, 'm') + "\ntxtFile=" + std::string(9999, 't') + "\n");
    recogParam p;
    readRecogParam(ok, p);
    EXPECT_EQ(p.macFile.size(), 999u);
    EXPECT_EQ(p.txtFile.size(), 9999u);

    std::string m = paramFileError(dir.write("a.txt", "macFile=" + std::string(1000, 'm') + "\n"));
    EXPECT_NE(m.find("macFile"), std::string::npos) << m;
    EXPECT_NE(m.find("999"), std::string::npos) << m;
    m = paramFileError(dir.write("b.txt", "txtFile=" + std::string(10000, 't') + "\n"));
    EXPECT_NE(m.find("txtFile"), std::string::npos) << m;
    EXPECT_NE(m.find("9999"), std::string::npos) << m;
}
