#include "frontend/audio.h"
#include "run/utility.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

// Samples alternating between +amplitude and -amplitude: every frame of 320 has
// median 0 and volume amplitude * 320.
std::vector<int32_t> alternating(int32_t count, int32_t amplitude) {
    std::vector<int32_t> x(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) x[i] = i % 2 ? -amplitude : amplitude;
    return x;
}

// Half a second quiet (frame volume 3200), half a second loud (320000): a
// recording that passes the check with the defaults (99 frames).
std::vector<int32_t> normalRecording() {
    std::vector<int32_t> x = alternating(8000, 10);
    std::vector<int32_t> loud = alternating(8000, 1000);
    x.insert(x.end(), loud.begin(), loud.end());
    return x;
}

}  // namespace

TEST(VolumeCheckParameters, EmptyPathGivesDefaults) {
    volCheckPrm p = readVolCheckPrm("");
    EXPECT_FLOAT_EQ(p.maxVolTh, 140);
    EXPECT_FLOAT_EQ(p.minVolTh, 30);
    EXPECT_FLOAT_EQ(p.satAmpRatio, 0.95f);
    EXPECT_FLOAT_EQ(p.satSampleCountRatioTh, 0.005f);
}

TEST(VolumeCheckParameters, FileOverridesGivenKeysOnly) {
    scratchDir dir;
    std::string path = dir.write("vol.prm",
                                 "% thresholds\n"
                                 "  maxVolTh = 12.5  % louder\n"
                                 "satAmpRatio=0.5\n"
                                 "no equals sign here\n"
                                 "maxVolTh=99\n");
    volCheckPrm p = readVolCheckPrm(path);
    EXPECT_FLOAT_EQ(p.maxVolTh, 99);  // the later line wins
    EXPECT_FLOAT_EQ(p.satAmpRatio, 0.5f);
    EXPECT_FLOAT_EQ(p.minVolTh, 30);  // omitted keys keep their defaults
    EXPECT_FLOAT_EQ(p.satSampleCountRatioTh, 0.005f);
}

TEST(VolumeCheckParameters, UnknownOrMiscasedKeyIsReported) {
    scratchDir dir;
    std::string path = dir.write("vol.prm", "minVolTh=3\nMaxVolTh=4\n");
    testing::internal::CaptureStdout();
    try {
        readVolCheckPrm(path);
        ADD_FAILURE() << "no error";
    } catch (const recogError& e) {
        std::string expected = "Error in parsing " + path + ", unknown key = MaxVolTh (line ";
        EXPECT_EQ(std::string(e.what()).substr(0, expected.size()), expected);
        EXPECT_TRUE(std::regex_search(e.what(), std::regex(R"( \(line \d+ in audio\)$)"))) << e.what();
    }
    testing::internal::GetCapturedStdout();
    EXPECT_THROW(readVolCheckPrm(dir.file("missing.prm")), recogError);
}

TEST(VolumeCheck, VerdictsInOrderOfPrecedence) {
    EXPECT_EQ(checkVolume(normalRecording(), ""), 0);
    // Every frame quiet: the loudest is not above 140 * 320.
    EXPECT_EQ(checkVolume(alternating(16000, 10), ""), 1);
    // Every frame loud: the quietest is above 30 * 320.
    EXPECT_EQ(checkVolume(alternating(16000, 1000), ""), 2);
    // Volume 32000 everywhere fails both level tests; the noise verdict wins.
    EXPECT_EQ(checkVolume(alternating(16000, 100), ""), 2);
    // Saturation wins over both.
    std::vector<int32_t> saturatedQuiet = alternating(16000, 10);
    for (int i = 0; i < 200; ++i) saturatedQuiet[i * 50] = 32767;
    EXPECT_EQ(checkVolume(saturatedQuiet, ""), 3);
}

TEST(VolumeCheck, SaturationNeedsOneSampleBeyondTheLimitPerFrame) {
    // 99 frames; the limit is 0.95 * 32768 = 31129.6.
    std::vector<int32_t> x = normalRecording();
    for (int i = 0; i < 98; ++i) x[8000 + 50 * i] = i % 2 ? -32000 : 32000;
    x[15990] = 31129;  // not beyond the limit
    EXPECT_EQ(checkVolume(x, ""), 0);
    x[15990] = 31130;
    EXPECT_EQ(checkVolume(x, ""), 3);
    x[15990] = -31130;
    EXPECT_EQ(checkVolume(x, ""), 3);
}

TEST(VolumeCheck, ThresholdsComeFromTheFile) {
    scratchDir dir;
    std::string lenient = dir.write("lenient.prm", "maxVolTh=5\n");
    EXPECT_EQ(checkVolume(alternating(16000, 10), lenient), 0);
    std::string strict = dir.write("strict.prm", "minVolTh=5\n");
    EXPECT_EQ(checkVolume(normalRecording(), strict), 2);
}

TEST(VolumeCheck, NoWholeFrameGivesZero) {
    EXPECT_EQ(checkVolume(std::vector<int32_t>(319, 32767), ""), 0);
    EXPECT_EQ(checkVolume(std::vector<int32_t>{}, ""), 0);
    // One frame of full-scale samples is judged.
    EXPECT_EQ(checkVolume(std::vector<int32_t>(320, 32767), ""), 3);
}
