#include "lib/audio.h"
#include "run/utility.h"

#include <gtest/gtest.h>

namespace {

// Frames of 256 samples at 16000 Hz whose volume is amplitude * 256: the samples
// alternate between +amplitude and -amplitude, so the median is 0.
std::vector<int32_t> framesOfAmplitude(const std::vector<int32_t>& amplitudes) {
    std::vector<int32_t> samples;
    for (int32_t a : amplitudes)
        for (int j = 0; j < 256; ++j) samples.push_back(j % 2 ? -a : a);
    return samples;
}

// Volumes of m frames: 0 everywhere except 100 in the given [begin, end] ranges.
std::vector<int32_t> volumesWithRuns(int32_t m, const std::vector<std::pair<int32_t, int32_t>>& runs) {
    std::vector<int32_t> volumes(static_cast<size_t>(m), 0);
    for (auto run : runs)
        for (int32_t i = run.first; i <= run.second; ++i) volumes[i] = 100;
    return volumes;
}

std::vector<std::pair<int32_t, int32_t>> spans(const std::vector<epdSegment>& segments) {
    std::vector<std::pair<int32_t, int32_t>> out;
    for (const epdSegment& s : segments) {
        EXPECT_EQ(s.duration, s.endFrame - s.beginFrame + 1);
        EXPECT_EQ(s.keep, 1);
        out.emplace_back(s.beginFrame, s.endFrame);
    }
    return out;
}

using spanList = std::vector<std::pair<int32_t, int32_t>>;

}  // namespace

TEST(Framing, CountsWholeFramesOnly) {
    EXPECT_EQ(frameCount(19200, 256, 0), 75);
    EXPECT_EQ(frameCount(16000, 320, 160), 99);
    EXPECT_EQ(frameCount(320, 320, 160), 1);
    EXPECT_EQ(frameCount(479, 320, 160), 1);
    EXPECT_EQ(frameCount(480, 320, 160), 2);
    EXPECT_EQ(frameCount(319, 320, 160), 0);
    EXPECT_EQ(frameCount(0, 320, 160), 0);
    EXPECT_EQ(frameCount(100, 0, 0), 0);
    EXPECT_EQ(frameCount(100, 10, 10), 0);
}

TEST(Framing, CentresAndSampleToFrame) {
    EXPECT_EQ(frameCenterSample(0, 256, 0), 127);
    EXPECT_EQ(frameCenterSample(3, 320, 160), 160 + 480 - 1);
    // (s + 1 - 160) / 160, rounded half away from zero, at least 0.
    EXPECT_EQ(sampleToFrame(639, 320, 160), 3);
    EXPECT_EQ(sampleToFrame(399, 320, 160), 2);  // 1.5 rounds up
    EXPECT_EQ(sampleToFrame(0, 320, 160), 0);    // negative raised to 0
    for (int32_t i = 0; i < 50; ++i) EXPECT_EQ(sampleToFrame(frameCenterSample(i, 256, 0), 256, 0), i);
}

TEST(FrameVolume, SumsDistanceFromTheIntegerMedian) {
    // Frames of 4 with overlap 2: [1,2,3,10] and [3,10,-4,-4].
    std::vector<int32_t> x{1, 2, 3, 10, -4, -4};
    // Median of the first: (2 + 3) / 2 = 2, volume 1 + 0 + 1 + 8.
    // Median of the second: (-4 + 3) / 2 = 0 (truncated toward zero), volume 3 + 10 + 4 + 4.
    EXPECT_EQ(frameVolume(x, 4, 2), (std::vector<int32_t>{10, 21}));
    EXPECT_EQ(frameVolumeFloat(x, 4, 2), (std::vector<float>{10.0f, 21.0f}));
    // Odd frame length: the middle value.
    EXPECT_EQ(frameVolume(std::vector<int32_t>{7, -100, 9}, 3, 0), (std::vector<int32_t>{2 + 107 + 0}));
    // A constant frame has no volume in either measure.
    std::vector<int32_t> flat(512, -1234);
    EXPECT_EQ(frameVolume(flat, 256, 0), (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(frameVolumeDiff(flat, 256, 0, 4), (std::vector<int32_t>{0, 0}));
    // Samples shorter than a frame give no frame.
    EXPECT_TRUE(frameVolume(std::vector<int32_t>(255, 3), 256, 0).empty());
    // Full-scale frames do not overflow.
    std::vector<int32_t> loud = framesOfAmplitude({32767});
    EXPECT_EQ(frameVolume(loud, 256, 0)[0], 32767 * 256);
}

TEST(FrameVolumeDiff, AppliesBinomialDifferences) {
    // A unit impulse: every order sums the absolute coefficients once per position
    // that covers it.
    std::vector<int32_t> impulse(16, 0);
    impulse[8] = 1;
    EXPECT_EQ(frameVolumeDiff(impulse, 16, 0, 1)[0], 2);
    EXPECT_EQ(frameVolumeDiff(impulse, 16, 0, 2)[0], 4);
    EXPECT_EQ(frameVolumeDiff(impulse, 16, 0, 4)[0], 16);
    EXPECT_EQ(frameVolumeDiff(impulse, 16, 0, 5)[0], 32);
    // An order-q difference removes a polynomial of degree q - 1.
    std::vector<int32_t> cubic;
    for (int32_t n = 0; n < 32; ++n) cubic.push_back(n * n * n - 5 * n);
    EXPECT_EQ(frameVolumeDiff(cubic, 32, 0, 4)[0], 0);
    EXPECT_NE(frameVolumeDiff(cubic, 32, 0, 3)[0], 0);
    // Positions run from 0 to frameSize - q - 1: the last sample of a frame is
    // reached, the next frame's first is not.
    std::vector<int32_t> edge(8, 0);
    edge[3] = 1;
    EXPECT_EQ(frameVolumeDiff(edge, 4, 0, 1), (std::vector<int32_t>{1, 0}));
    // Alternating +-50 under order 4: |(-1 - 4 - 6 - 4 - 1) * 50| at 252 positions.
    EXPECT_EQ(frameVolumeDiff(framesOfAmplitude({50}), 256, 0, 4)[0], 800 * 252);

    testing::internal::CaptureStdout();
    EXPECT_THROW(frameVolumeDiff(impulse, 16, 0, 6), recogError);
    EXPECT_THROW(frameVolumeDiff(impulse, 16, 0, 0), recogError);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Unsupported order!\n"), std::string::npos);
}

TEST(EndpointDetection, ParametersFollowTheSampleRate) {
    epdParam p = initEpdParam(16000);
    EXPECT_EQ(p.frameSize, 256);
    EXPECT_EQ(p.overlap, 0);
    EXPECT_EQ(p.thresholdDivisor, 10);
    EXPECT_EQ(p.diffThresholdDivisor, 10);
    EXPECT_EQ(p.diffOrder, 4);
    EXPECT_FLOAT_EQ(p.minSegmentDuration, 0.05f);
    EXPECT_FLOAT_EQ(p.maxGapDuration, 0.7f);
    EXPECT_FLOAT_EQ(p.lastSegmentMaxDuration, 0.1f);
    EXPECT_EQ(initEpdParam(8000).frameSize, 128);
    EXPECT_EQ(initEpdParam(11025).frameSize, 176);
}

TEST(EndpointDetection, ShortRunsAreDropped) {
    epdParam p = initEpdParam(16000);
    // Volumes 0, 0, 100, 100, 0: threshold 10, one run of two frames, at most u = 3: dropped.
    EXPECT_TRUE(epdFromVolumes({0, 0, 100, 100, 0}, 16000, 256, 10, p).empty());
    // Three frames are still dropped, four are kept.
    EXPECT_TRUE(epdFromVolumes(volumesWithRuns(10, {{2, 4}}), 16000, 256, 10, p).empty());
    EXPECT_EQ(spans(epdFromVolumes(volumesWithRuns(10, {{2, 5}}), 16000, 256, 10, p)), (spanList{{2, 5}}));
    // A frame exactly at the threshold is not speech: 0, 10 ... with low 0 and high 100.
    std::vector<int32_t> v = volumesWithRuns(12, {{1, 8}});
    v[4] = 10;
    EXPECT_EQ(spans(epdFromVolumes(v, 16000, 256, 10, p)), (spanList{{5, 8}}));
}

TEST(EndpointDetection, ShortFinalRunAfterLongGapIsDropped) {
    epdParam p = initEpdParam(16000);  // v = 44, w = 6 frames
    // Kept run 10..29; the final run begins gap frames after frame 29.
    auto detect = [&](int32_t gap, int32_t length) {
        int32_t begin = 29 + gap;
        return spans(epdFromVolumes(volumesWithRuns(120, {{10, 29}, {begin, begin + length - 1}}), 16000, 256, 10, p));
    };
    EXPECT_EQ(detect(45, 6), (spanList{{10, 29}}));
    EXPECT_EQ(detect(44, 6), (spanList{{10, 29}, {73, 78}}));
    EXPECT_EQ(detect(45, 7), (spanList{{10, 29}, {74, 80}}));
    // A lone run has no run before it and stays.
    EXPECT_EQ(spans(epdFromVolumes(volumesWithRuns(60, {{40, 45}}), 16000, 256, 10, p)), (spanList{{40, 45}}));
    // Only the last run is examined: an earlier short run after a long gap stays.
    EXPECT_EQ(spans(epdFromVolumes(volumesWithRuns(200, {{10, 29}, {80, 85}, {140, 170}}), 16000, 256, 10, p)),
              (spanList{{10, 29}, {80, 85}, {140, 170}}));
}

TEST(EndpointDetection, RobustExtremesUseTheKthValue) {
    epdParam p = initEpdParam(16000);
    // 75 frames: k = 2, so neither the single quietest nor the single loudest frame
    // sets the range: low = 5, high = 100, threshold = 5 + 95 / 10 = 14.
    std::vector<int32_t> v(75, 5);
    v[0] = 0;
    for (int32_t i = 20; i < 40; ++i) v[i] = 100;
    v[60] = 100000;                                // a one-frame run, dropped as too short
    for (int32_t i = 50; i < 54; ++i) v[i] = 15;   // above the threshold
    for (int32_t i = 55; i < 59; ++i) v[i] = 14;   // at the threshold: not speech
    EXPECT_EQ(spans(epdFromVolumes(v, 16000, 256, 10, p)), (spanList{{20, 39}, {50, 53}}));
    // The divisor sets how far up the range the threshold lies: 5 + 95 / 2 = 52.
    EXPECT_EQ(spans(epdFromVolumes(v, 16000, 256, 2, p)), (spanList{{20, 39}}));
    // With 100 frames k = 3: two outliers do not set the high value (1000, threshold 100).
    std::vector<int32_t> w(100, 0);
    for (int32_t i = 10; i < 50; ++i) w[i] = 1000;
    w[70] = w[71] = 50000;
    for (int32_t i = 80; i < 90; ++i) w[i] = 150;
    EXPECT_EQ(spans(epdFromVolumes(w, 16000, 256, 10, p)), (spanList{{10, 49}, {80, 89}}));
}

TEST(EndpointDetection, FindsSpeechInSamples) {
    epdParam p = initEpdParam(16000);
    // 75 frames: silence, 20 frames of speech, silence, 10 frames of speech, silence.
    std::vector<int32_t> amplitudes(75, 0);
    for (int32_t i = 10; i < 30; ++i) amplitudes[i] = 3000;
    for (int32_t i = 40; i < 50; ++i) amplitudes[i] = 2000;
    std::vector<int32_t> samples = framesOfAmplitude(amplitudes);
    spanList expected{{10, 29}, {40, 49}};
    EXPECT_EQ(spans(epdByVol(samples, 16000, p)), expected);
    EXPECT_EQ(spans(epdByVolDiff(samples, 16000, p)), expected);
    // Samples beyond the last whole frame are ignored.
    samples.resize(samples.size() + 100, 30000);
    EXPECT_EQ(spans(epdByVol(samples, 16000, p)), expected);
}

TEST(EndpointDetection, TooFewSamplesGiveNoSegment) {
    epdParam p = initEpdParam(16000);
    EXPECT_TRUE(epdByVol(std::vector<int32_t>{}, 16000, p).empty());
    EXPECT_TRUE(epdByVol(std::vector<int32_t>(255, 100), 16000, p).empty());
    EXPECT_TRUE(epdByVolDiff(std::vector<int32_t>(255, 100), 16000, p).empty());
    // One frame: low = high, nothing exceeds the threshold.
    EXPECT_TRUE(epdByVol(framesOfAmplitude({1000}), 16000, p).empty());
}
