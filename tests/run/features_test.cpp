#include "run/features.h"

#include "frontend/CMel.h"
#include "lib/pitch.h"
#include "run/utility.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

const double PI = 3.14159265358979323846;

// A voiced sound: the first harmonics of f0 with falling amplitudes.
std::vector<int32_t> voiced(double f0, int32_t count, double amplitude = 8000) {
    std::vector<int32_t> s(count);
    for (int32_t i = 0; i < count; ++i) {
        double v = 0;
        for (int h = 1; h <= 6; ++h) v += std::sin(2 * PI * f0 * h * i / 16000 + h) / h;
        s[i] = static_cast<int32_t>(amplitude * v / 2);
    }
    return s;
}

std::vector<int32_t> noise(int32_t count, int32_t amplitude, uint32_t seed = 3) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int32_t> d(-amplitude, amplitude);
    std::vector<int32_t> s(count);
    for (int32_t& v : s) v = d(gen);
    return s;
}

std::vector<int32_t> concat(std::initializer_list<std::vector<int32_t>> parts) {
    std::vector<int32_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Reads "name=value" from the progress output.
int32_t printedValue(const std::string& out, const std::string& name) {
    size_t at = out.find(name + "=");
    if (at == std::string::npos) return -999999;
    return std::atoi(out.c_str() + at + name.size() + 1);
}

struct featureRun {
    featureClass features;
    std::string output;
};

featureRun run(const recogParam& param, const std::vector<int32_t>& samples) {
    featureRun r;
    testing::internal::CaptureStdout();
    try {
        r.features = computeFeatures(featureOptionsOf(param), samples.data(), static_cast<int32_t>(samples.size()), 16000, 16, 320, 160);
    } catch (...) {
        r.output = testing::internal::GetCapturedStdout();
        throw;
    }
    r.output = testing::internal::GetCapturedStdout();
    return r;
}

std::vector<float> directMfcc(const std::string& config, const int32_t* samples, int32_t count) {
    CMel mel;
    int32_t T, D;
    testing::internal::CaptureStdout();
    mel.computeMfcc(samples, 16000, 16, count, config, T, D);
    testing::internal::GetCapturedStdout();
    return mel.m_features;
}

}  // namespace

TEST(ComputeFeatures, WithoutEndpointDetectionTheWholeWaveIsUsed) {
    scratchDir dir;
    recogParam param;
    param.useEpd = 0;
    param.featureConfigFile = dir.write("mfcc.cfg", "TARGETKIND=MFCC_E_D_A\n");
    std::vector<int32_t> s = concat({noise(5000, 50), voiced(200, 6000), noise(5001, 50)});
    featureRun r = run(param, s);
    EXPECT_EQ(r.features.m_frameNum, (16001 - 320) / 160 + 1);
    EXPECT_EQ(r.features.m_dim, 39);
    EXPECT_EQ(r.features.m_beginFrameId, 0);
    EXPECT_EQ(r.features.m_parameterKind, 838);
    EXPECT_EQ(r.features.m_framePeriod, 100000);
    EXPECT_EQ(r.features.m_data, directMfcc(param.featureConfigFile, s.data(), 16001));
    // The progress lines, in order.
    size_t epd = r.output.find(" sec: EPD\n\twaveBeginIndex=0, waveEndIndex=16000\n"
                               "\twaveBeginFrameId=0, waveEndFrameId=100\n");
    size_t mfcc = r.output.find(" sec: Compute MFCC (cfgFile=" + param.featureConfigFile + ")\n");
    EXPECT_NE(epd, std::string::npos) << r.output;
    EXPECT_NE(mfcc, std::string::npos) << r.output;
    EXPECT_LT(epd, mfcc);
}

TEST(ComputeFeatures, EndpointDetectionKeepsTheSpeechSpan) {
    scratchDir dir;
    recogParam param;
    param.useEpd = 1;
    param.featureConfigFile = dir.write("mfcc.cfg", "");
    std::vector<int32_t> s = concat({noise(8000, 30), voiced(180, 9600), noise(8000, 30, 5)});
    featureRun r = run(param, s);
    int32_t begin = printedValue(r.output, "waveBeginIndex"), end = printedValue(r.output, "waveEndIndex");
    int32_t beginFrame = printedValue(r.output, "waveBeginFrameId"), endFrame = printedValue(r.output, "waveEndFrameId");
    // The span starts on a frame boundary near the voice and covers it.
    EXPECT_EQ(begin, 160 * beginFrame);
    EXPECT_EQ(end, 160 * endFrame + 319);
    EXPECT_EQ(r.features.m_beginFrameId, beginFrame);
    EXPECT_GE(begin, 8000 - 400);
    EXPECT_LE(begin, 8000 + 200);
    EXPECT_GE(end, 17600 - 200);
    EXPECT_LE(end, 17600 + 600);
    const int32_t length = end - begin + 1;
    EXPECT_EQ(r.features.m_frameNum, (length - 320) / 160 + 1);
    EXPECT_EQ(r.features.m_data, directMfcc(param.featureConfigFile, s.data() + begin, length));
}

TEST(ComputeFeatures, NoSpeechFoundKeepsTheWholeWave) {
    scratchDir dir;
    recogParam param;
    param.useEpd = 1;
    param.featureConfigFile = dir.write("mfcc.cfg", "");
    std::vector<int32_t> silence(4000, 0);
    featureRun r = run(param, silence);
    EXPECT_NE(r.output.find("Warning: no speech segment"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("waveBeginIndex=0, waveEndIndex=3999\n"), std::string::npos) << r.output;
    EXPECT_EQ(r.features.m_frameNum, (4000 - 320) / 160 + 1);

    // An empty wave gives no frames and no error.
    param.useEpd = 0;
    featureRun empty = run(param, std::vector<int32_t>());
    EXPECT_EQ(empty.features.m_frameNum, 0);
    EXPECT_TRUE(empty.features.m_data.empty());
}

TEST(ComputeFeatures, FrameLimit) {
    scratchDir dir;
    recogParam param;
    param.useEpd = 0;
    // One frame per sample with 32-sample windows: 40,031 samples give 40,000 frames.
    param.featureConfigFile = dir.write("dense.cfg", "TARGETKIND=MFCC_0\nWINDOWSIZE=20000\nTARGETRATE=625\nNUMCHANS=10\n");
    std::vector<int32_t> s = noise(40032, 1000);
    s.pop_back();
    EXPECT_EQ(run(param, s).features.m_frameNum, 40000);
    s.push_back(5);
    try {
        run(param, s);
        FAIL() << "40,001 frames accepted";
    } catch (const recogError& e) {
        EXPECT_STREQ(e.what(), "frameNum = 40001 > 40000, frameNum too big!");
    }
}

TEST(ComputeFeatures, HtkParameterFileLayout) {
    featureClass f;
    f.m_frameNum = 2;
    f.m_dim = 2;
    f.m_framePeriod = 100000;
    f.m_parameterKind = 6 | PARAM_KIND_0 | PARAM_KIND_C | PARAM_KIND_K;
    f.m_data = {1.0f, -2.0f, 0.5f, 0.0f};
    std::string bytes = htkParameterFile(f);
    const unsigned char expected[] = {0, 0, 0, 2, 0, 1, 0x86, 0xa0, 0, 8, 0x20, 0x06,  // header
                                      0x3f, 0x80, 0, 0, 0xc0, 0, 0, 0, 0x3f, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(bytes.size(), sizeof expected);
    for (size_t i = 0; i < bytes.size(); ++i) EXPECT_EQ(static_cast<unsigned char>(bytes[i]), expected[i]) << i;
}

TEST(WholeUtterancePitch, SecondPassNarrowsTheLimitsAroundTheMedian) {
    // Mostly a 150 Hz voice, with a short 1000 Hz whistle (83 semitones) inside.
    std::vector<int32_t> s = concat({noise(3200, 20), voiced(150, 16000), voiced(1000, 3200, 3000),
                                     voiced(150, 8000), noise(3200, 20, 8)});
    const int32_t n = static_cast<int32_t>(s.size());
    testing::internal::CaptureStdout();
    ptParam prm = initPtParam(16000, 16, 1, "");
    std::vector<float> single;
    trackPitch(s.data(), n, prm, single);
    std::vector<float> pitch = wholeUtterancePitch(s.data(), n, prm);
    testing::internal::GetCapturedStdout();

    const float voice = static_cast<float>(freqToSemitone(150));
    ASSERT_EQ(pitch.size(), single.size());
    EXPECT_NEAR(medianOfNonZero(pitch), voice, 0.1);
    int32_t whistleFirst = 0, whistleSecond = 0;
    for (size_t t = 0; t < pitch.size(); ++t) {
        if (single[t] > 80) ++whistleFirst;
        if (pitch[t] != 0) {
            EXPECT_GE(pitch[t], voice - 12 - 0.5f) << t;
            EXPECT_LE(pitch[t], voice + 12 + 0.5f) << t;
        }
        if (pitch[t] > 80) ++whistleSecond;
    }
    EXPECT_GT(whistleFirst, 5);
    EXPECT_EQ(whistleSecond, 0);
}

TEST(WholeUtterancePitch, LevelAndOffsetDoNotMatter) {
    std::vector<int32_t> loud = concat({noise(3200, 20), voiced(220, 12800), noise(3200, 20, 4)});
    std::vector<int32_t> quiet(loud.size());
    for (size_t i = 0; i < loud.size(); ++i) quiet[i] = loud[i] / 8 - 2500;
    testing::internal::CaptureStdout();
    ptParam prm = initPtParam(16000, 16, 1, "");
    std::vector<float> a = wholeUtterancePitch(loud.data(), static_cast<int32_t>(loud.size()), prm);
    std::vector<float> b = wholeUtterancePitch(quiet.data(), static_cast<int32_t>(quiet.size()), prm);
    // Silence has no pitch and needs no second pass.
    std::vector<int32_t> silence(8000, 0);
    std::vector<float> none = wholeUtterancePitch(silence.data(), 8000, prm);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(a.size(), b.size());
    // 220 Hz lies between lags 72 and 73.
    EXPECT_NEAR(medianOfNonZero(a), freqToSemitone(220), 0.15);
    EXPECT_EQ(medianOfNonZero(b), medianOfNonZero(a));
    ASSERT_EQ(none.size(), size_t((8000 - 480) / 160));
    for (float v : none) EXPECT_EQ(v, 0);

    prm.nbits = 40;
    EXPECT_THROW(wholeUtterancePitch(loud.data(), 1000, prm), recogError);
}
