#include "run/conditionWave.h"
#include "decoder/cmResult.h"
#include "frontend/noiseSubtraction.h"
#include "run/utility.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <regex>

namespace {

std::vector<int32_t> alternating(int32_t count, int32_t amplitude, int32_t center = 0) {
    std::vector<int32_t> x(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) x[i] = center + (i % 2 ? -amplitude : amplitude);
    return x;
}

// Quiet half second then loud half second: passes the volume check and shows
// enough contrast not to count as noisy.
std::vector<int32_t> cleanRecording() {
    std::vector<int32_t> x = alternating(8000, 10);
    std::vector<int32_t> loud = alternating(8000, 1000);
    x.insert(x.end(), loud.begin(), loud.end());
    return x;
}

std::vector<int32_t> whiteNoise(int32_t count, int32_t amplitude, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int32_t> value(-amplitude, amplitude);
    std::vector<int32_t> x(static_cast<size_t>(count));
    for (int32_t& v : x) v = value(random);
    return x;
}

struct conditioned {
    std::vector<int32_t> samples;
    int32_t sampleRate;
    int32_t bitsPerSample;
    std::string printed;
};

conditioned condition(std::vector<int32_t> samples, int32_t rate, int32_t bits, recogParam& param,
                      cmResult& result) {
    conditioned c;
    c.sampleRate = rate;
    c.bitsPerSample = bits;
    testing::internal::CaptureStdout();
    try {
        audioRecord audio{std::move(samples), rate, bits, 1};
        conditionReport report;
        try {
            audio = conditionWave(std::move(audio), conditionOptionsOf(param), report);
        } catch (...) {
            result.warningMessages.insert(result.warningMessages.end(), report.warnings.begin(), report.warnings.end());
            throw;
        }
        result.warningMessages.insert(result.warningMessages.end(), report.warnings.begin(), report.warnings.end());
        if (report.spectrallySubtracted) param.useDescCandidateNum = 0;
        c.samples = std::move(audio.samples);
        c.sampleRate = audio.sampleRate;
        c.bitsPerSample = audio.bitsPerSample;
    } catch (...) {
        c.printed = testing::internal::GetCapturedStdout();
        throw;
    }
    c.printed = testing::internal::GetCapturedStdout();
    return c;
}

std::vector<int32_t> minus(std::vector<int32_t> x, int32_t m) {
    for (int32_t& v : x) v -= m;
    return x;
}

const char* const MESSAGE_PREFIX[] = {
    "",
    "Volume check: Max volume too small. Please increase the microphone's gain. (line ",
    "Volume check: Min volume too big. Please use a uni-directional microphone. Do not use builtin microphones of "
    "notebooks. (line ",
    "Volume check: Too many saturated wave samples. Please decrease the microphone's gain. Please do not turn on gain "
    "boost. (line ",
};

bool isVolumeMessage(const std::string& message, int verdict) {
    std::string prefix = MESSAGE_PREFIX[verdict];
    return message.compare(0, prefix.size(), prefix) == 0 &&
           std::regex_match(message.substr(prefix.size()), std::regex(R"(\d+ in recogTask\))"));
}

}  // namespace

TEST(ConditionWave, CleanWaveOnlyLosesItsMean) {
    // Mean -7.5 is truncated toward zero to -7.
    std::vector<int32_t> x = minus(cleanRecording(), 7);
    x[0] -= 8000;
    recogParam param;
    cmResult result;
    conditioned c = condition(x, 16000, 16, param, result);
    EXPECT_EQ(c.samples, minus(x, -7));
    EXPECT_EQ(c.sampleRate, 16000);
    EXPECT_EQ(c.bitsPerSample, 16);
    EXPECT_EQ(c.printed, "");
    EXPECT_TRUE(result.warningMessages.empty());
    EXPECT_EQ(param.useDescCandidateNum, 1);
}

TEST(ConditionWave, ResamplesEightKilohertzLinearly) {
    std::vector<int32_t> x = whiteNoise(8001, 5000, 7);
    x[100] = 1, x[101] = 2;    // mean 1.5 rounds to 2
    x[200] = -1, x[201] = -2;  // mean -1.5 rounds to -2
    recogParam param;
    cmResult result;
    conditioned c = condition(x, 8000, 16, param, result);
    EXPECT_EQ(c.printed.rfind("fs=8000 ===> Resample to have fs=16000\n", 0), 0u) << c.printed;
    EXPECT_EQ(c.sampleRate, 16000);
    ASSERT_EQ(c.samples.size(), 16001u);

    std::vector<int32_t> expected(16001);
    for (size_t i = 0; i < 8001; ++i) expected[2 * i] = x[i];
    for (size_t i = 0; i < 8000; ++i) expected[2 * i + 1] = roundToInt((x[i] + x[i + 1]) / 2.0);
    EXPECT_EQ(expected[201], 2);
    EXPECT_EQ(expected[401], -2);
    int64_t sum = 0;
    for (int32_t v : expected) sum += v;
    EXPECT_EQ(c.samples, minus(expected, static_cast<int32_t>(sum / 16001)));
}

TEST(ConditionWave, ResamplesDownToSixteenKilohertz) {
    std::vector<int32_t> x(44101);
    for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<int32_t>(i % 441) * 10 - 2200;
    recogParam param;
    cmResult result;
    conditioned c = condition(x, 44100, 16, param, result);
    // floor(44100 * 16000 / 44100) + 1 samples; first and last kept.
    ASSERT_EQ(c.samples.size(), 16001u);
    int32_t mean = x.front() - c.samples.front();
    EXPECT_EQ(c.samples.back() + mean, x.back());
    // Output 1 lies at 2.75625 input samples: 0.24375 * x[2] + 0.75625 * x[3].
    EXPECT_EQ(c.samples[1] + mean, roundToInt(static_cast<float>(0.24375 * x[2] + 0.75625 * x[3])));
}

TEST(ConditionWave, EightBitInputLosesItsOffsetBeforeTheVolumeCheck) {
    // Unsigned 8-bit samples: silence at 128, then a normal level of +-40.
    std::vector<int32_t> x = alternating(8000, 0, 128);
    std::vector<int32_t> loud = alternating(8000, 40, 128);
    x.insert(x.end(), loud.begin(), loud.end());
    recogParam param;
    param.useWaveReject = 1;
    cmResult result;
    conditioned c = condition(x, 16000, 8, param, result);
    EXPECT_EQ(c.printed, "nbits=8 ===> Amplify to have nbits=16\n");
    EXPECT_EQ(c.bitsPerSample, 16);
    EXPECT_TRUE(result.warningMessages.empty());
    std::vector<int32_t> expected = alternating(8000, 0);
    std::vector<int32_t> loudExpected = alternating(8000, 40 * 256);
    expected.insert(expected.end(), loudExpected.begin(), loudExpected.end());
    EXPECT_EQ(c.samples, expected);
}

TEST(ConditionWave, FailedVolumeCheckWarnsOrRejects) {
    struct verdictCase {
        int verdict;
        std::vector<int32_t> samples;
    };
    std::vector<int32_t> saturated = cleanRecording();
    for (int i = 0; i < 200; ++i) saturated[8000 + 20 * i] = 32767;
    std::vector<verdictCase> cases = {
        {1, alternating(16000, 10)},
        {2, alternating(16000, 1000)},
        {3, saturated},
    };
    for (const verdictCase& vc : cases) {
        recogParam param;
        cmResult result;
        conditioned c = condition(vc.samples, 16000, 16, param, result);
        ASSERT_EQ(result.warningMessages.size(), 1u) << vc.verdict;
        EXPECT_TRUE(isVolumeMessage(result.warningMessages[0], vc.verdict)) << result.warningMessages[0];
        EXPECT_EQ(c.samples.size(), vc.samples.size());

        param.useWaveReject = 1;
        cmResult rejected;
        try {
            condition(vc.samples, 16000, 16, param, rejected);
            ADD_FAILURE() << "verdict " << vc.verdict << " not rejected";
        } catch (const recogError& e) {
            EXPECT_EQ(std::string(e.what()), result.warningMessages[0]);
        }
        EXPECT_EQ(rejected.warningMessages, result.warningMessages);
    }
}

TEST(ConditionWave, NoisyRecordingIsSpectrallySubtractedWhenAllowed) {
    std::vector<int32_t> noise = whiteNoise(32000, 300, 8);
    recogParam param;
    cmResult result;
    conditioned kept = condition(noise, 16000, 16, param, result);
    EXPECT_EQ(kept.samples.size(), 32000u);
    EXPECT_EQ(param.useDescCandidateNum, 1);
    EXPECT_EQ(kept.printed.find("spectrum"), std::string::npos);

    param.useSpecSubtraction = 1;
    conditioned subtracted = condition(noise, 16000, 16, param, result);
    EXPECT_EQ(subtracted.printed, "Perform spectrum subtraction...\n");
    EXPECT_EQ(subtracted.samples.size(), 307u + 205u * ((32000u - 307u) / 205u));
    EXPECT_EQ(param.useDescCandidateNum, 0);
    // The output is the spectral subtraction of the input, mean removed.
    std::vector<int32_t> expected = spectralSubtraction(noise, 16000);
    int64_t sum = 0;
    for (int32_t v : expected) sum += v;
    EXPECT_EQ(subtracted.samples, minus(expected, static_cast<int32_t>(sum / static_cast<int64_t>(expected.size()))));

    // A clean recording is left alone even when subtraction is allowed.
    recogParam cleanParam;
    cleanParam.useSpecSubtraction = 1;
    conditioned clean = condition(cleanRecording(), 16000, 16, cleanParam, result);
    EXPECT_EQ(clean.samples.size(), 16000u);
    EXPECT_EQ(cleanParam.useDescCandidateNum, 1);
}

TEST(ConditionWave, SilenceCountsAsNoisy) {
    recogParam param;
    param.useSpecSubtraction = 1;
    cmResult result;
    conditioned c = condition(std::vector<int32_t>(16000, 0), 16000, 16, param, result);
    EXPECT_EQ(c.samples, std::vector<int32_t>(15887, 0));
    EXPECT_EQ(param.useDescCandidateNum, 0);
    ASSERT_EQ(result.warningMessages.size(), 1u);
    EXPECT_TRUE(isVolumeMessage(result.warningMessages[0], 1));
}

TEST(ConditionWave, ShortRecordingsSkipWhatTheyCannotSupport) {
    // Noisy but shorter than a quarter second plus one frame: subtraction is skipped with a warning.
    recogParam param;
    param.useSpecSubtraction = 1;
    cmResult result;
    conditioned c = condition(whiteNoise(4511, 300, 9), 16000, 16, param, result);
    EXPECT_EQ(c.samples.size(), 4511u);
    EXPECT_EQ(param.useDescCandidateNum, 1);
    EXPECT_EQ(c.printed.rfind("Warning", 0), 0u) << c.printed;

    // One frame: no noise test at all. No samples: nothing to do.
    conditioned one = condition(std::vector<int32_t>(400, 0), 16000, 16, param, result);
    EXPECT_EQ(one.samples.size(), 400u);
    EXPECT_EQ(param.useDescCandidateNum, 1);
    EXPECT_EQ(one.printed, "");
    conditioned none = condition({}, 8000, 8, param, result);
    EXPECT_TRUE(none.samples.empty());
    EXPECT_EQ(none.sampleRate, 16000);
    EXPECT_EQ(none.bitsPerSample, 16);
}
