#include "run/programSupport.h"

#include <gtest/gtest.h>

TEST(ProgramSupport, OverridesSkipEmptyArguments) {
    recogParam p;
    p.wavFile = "file.wav";
    p.txtFile = "texts.txt";
    p.outputDir = "out";
    applyRecognizeOverrides(p, {"param.txt", "", "", "1"});
    EXPECT_EQ(p.wavFile, "file.wav");
    EXPECT_EQ(p.txtFile, "texts.txt");
    EXPECT_EQ(p.useEpd, 1);
    EXPECT_EQ(p.outputDir, "out");

    applyRecognizeOverrides(p, {"param.txt", "w.wav", "t", "yes", "o", "s.syl", "n.net", "x.wpa", "1"});
    EXPECT_EQ(p.wavFile, "w.wav");
    EXPECT_EQ(p.txtFile, "t");
    EXPECT_EQ(p.useEpd, 0);  // no digits
    EXPECT_EQ(p.outputDir, "o");
    EXPECT_EQ(p.sylFile, "s.syl");
    EXPECT_EQ(p.netFile, "n.net");
    EXPECT_EQ(p.wpaFile, "x.wpa");
    EXPECT_EQ(p.getPitch, 1);
}

TEST(ProgramSupport, ResultBlock) {
    recogParam p;
    p.language = "english";
    cmResult r;
    r.pathLogLike = -1234.5678f;
    r.score = 87.5f;
    testing::internal::CaptureStdout();
    printResultBlock(p, r);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\n====== Recognition result ======\nText index = \nPhonetic alphabets = \n"
              "Log probability = -1234.57\nScore = 87.5\n");

    r.textIndices = {3, 7};
    r.texts = {"one", "two"};
    r.phoneticAlphabets = "sil-a-sil";
    r.rzpString = "R";
    r.toneString = "T";
    p.language = "Chinese";  // the Big5 lines need the exact name
    testing::internal::CaptureStdout();
    printResultBlock(p, r);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Text index = 3 7 \nText = one\nText = two\nPhonetic alphabets = sil-a-sil\nLog"),
              std::string::npos);
    EXPECT_EQ(out.find(" = R\n"), std::string::npos);

    p.language = "chinese";
    testing::internal::CaptureStdout();
    printResultBlock(p, r);
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("sil-a-sil\n\xB7\xE7\xBF" "A\xAB\xF7\xAD\xB5 = R\n"
                       "\xB0\xEA\xBBy\xAB\xF7\xAD\xB5 = \n"
                       "\xBA~\xBBy\xAB\xF7\xAD\xB5 = \n"
                       "\xAD\xB5\xBD\xD5=T\nLog probability"),
              std::string::npos);
}
