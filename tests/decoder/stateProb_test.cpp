#include "decoder/stateProb.h"
#include "modelFixtures.h"
#include "run/utility.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

// A frame whose streams hold different values, so a wrong stream offset shows.
std::vector<float> rampFrame(float base) {
    std::vector<float> frame(39);
    for (int d = 0; d < 39; ++d) frame[d] = base + 0.1f * static_cast<float>(d % 13) + static_cast<float>(d / 13);
    return frame;
}

// Density written out directly in double precision.
double referenceDensity(const std::vector<float>& frame, int stream, float mean, float variance) {
    double sum = 13 * std::log(2 * M_PI) + 13 * std::log(static_cast<double>(variance));
    for (int d = 0; d < 13; ++d) {
        double diff = frame[stream * 13 + d] - mean;
        sum += diff * diff / variance;
    }
    return -0.5 * sum;
}

}  // namespace

TEST(stateLikelihood, singleMixturesGiveTheSumOfTheStreamDensities) {
    std::vector<hmmModel> models = {fixtureModel("m", 0.5f, 2.0f)};
    setFixtureMixtures(models[0], 0, 1, {1.0f}, {1.5f}, {0.5f});
    setFixtureMixtures(models[0], 0, 2, {1.0f}, {2.5f}, {4.0f});
    macroClass set = convertedFixture(fixtureModelSet(models));
    std::vector<float> frame = rampFrame(0.0f);

    float streams[3];
    const float means[3] = {0.5f, 1.5f, 2.5f}, variances[3] = {2.0f, 0.5f, 4.0f};
    for (int k = 0; k < 3; ++k) {
        streams[k] = getMixtureLogProb(frame.data(), set, 0, 0, k, 0);
        EXPECT_NEAR(streams[k], referenceDensity(frame, k, means[k], variances[k]), 1e-4) << k;
    }
    // Log weight 0: the log-sum with the initial log zero is the component itself.
    EXPECT_EQ(computeStateLogProb(frame.data(), set, 0, 0), streams[0] + streams[1] + streams[2]);
}

TEST(stateLikelihood, logSumOfMixtureComponents) {
    macroClass base = fixtureModelSet({fixtureModel("m", 0.0f, 1.0f, 3, 1)}, 1);
    std::vector<float> frame(13, 0.25f);

    // Two equal components of weight 0.5: v + ln 2 where v = ln 0.5 + density.
    macroClass equal = base;
    setFixtureMixtures(equal.models[0], 0, 0, {0.5f, 0.5f}, {0.0f, 0.0f}, {1.0f, 1.0f});
    equal.convertModels();
    float density = getMixtureLogProb(frame.data(), equal, 0, 0, 0, 0);
    float v = std::log(0.5f) + density;
    EXPECT_NEAR(computeStateLogProb(frame.data(), equal, 0, 0), v + std::log(2.0), 1e-5);

    // A second component whose quadratic term is larger by `gap` (one
    // dimension further off) adds ln(1 + e^-gap); beyond 23.0259 it
    // is left out.
    for (double gap : {2.0, 23.1}) {
        macroClass two = base;
        setFixtureMixtures(two.models[0], 0, 0, {0.5f, 0.5f}, {0.0f, 0.0f}, {1.0f, 1.0f});
        two.models[0].state[0].stream[0].mixture[1].mean[4] = 0.25f - static_cast<float>(std::sqrt(0.0625 + 2 * gap));
        two.convertModels();
        float first = std::log(0.5f) + getMixtureLogProb(frame.data(), two, 0, 0, 0, 0);
        float result = computeStateLogProb(frame.data(), two, 0, 0);
        if (gap > 23.0259)
            EXPECT_EQ(result, first);
        else
            EXPECT_NEAR(result, first + std::log1p(std::exp(-gap)), 1e-5);
    }

    // A sum that stays below -5e9 is log zero.
    macroClass hopeless = base;
    hopeless.models[0].state[0].stream[0].mixture[0].gconst = 1.2e10f;
    hopeless.convertModels();
    EXPECT_LT(getMixtureLogProb(frame.data(), hopeless, 0, 0, 0, 0), -5.9e9f);
    EXPECT_EQ(computeStateLogProb(frame.data(), hopeless, 0, 0), -1e10f);

    // Components of log weight -11.5 or less are skipped, however well they fit.
    macroClass skipped = base;
    setFixtureMixtures(skipped.models[0], 0, 0, {1.0f, std::exp(-11.6f)}, {50.0f, 0.25f}, {1.0f, 1.0f});
    skipped.convertModels();
    EXPECT_EQ(computeStateLogProb(frame.data(), skipped, 0, 0),
              getMixtureLogProb(frame.data(), skipped, 0, 0, 0, 0));

    // Only empty or negligible components: the stream is log zero.
    macroClass none = base;
    setFixtureMixtures(none.models[0], 0, 0, {0.0f, std::exp(-12.0f)}, {0.0f, 0.0f}, {1.0f, 1.0f});
    none.convertModels();
    EXPECT_EQ(computeStateLogProb(frame.data(), none, 0, 0), -1e10f);
}

TEST(stateLikelihood, theCacheComputesOncePerModelStateAndFrame) {
    macroClass set = convertedFixture(namedFixtureModels({"a", "b"}));
    probCacheClass cache;
    cache.resize(set.modelNum);
    std::vector<float> frame = rampFrame(0.0f);

    float first = cache.getStateLogProb(frame.data(), set, 1, 2, 7);
    EXPECT_EQ(first, computeStateLogProb(frame.data(), set, 1, 2));
    // Change the model: the same key still answers from the cache...
    set.models[1].state[2].stream[0].mixture[0].mean[0] += 3.0f;
    EXPECT_EQ(cache.getStateLogProb(frame.data(), set, 1, 2, 7), first);
    // ...other states and models have their own entries...
    EXPECT_EQ(cache.getStateLogProb(frame.data(), set, 1, 1, 7), computeStateLogProb(frame.data(), set, 1, 1));
    EXPECT_EQ(cache.getStateLogProb(frame.data(), set, 0, 2, 7), computeStateLogProb(frame.data(), set, 0, 2));
    EXPECT_EQ(cache.getStateLogProb(frame.data(), set, 1, 2, 7), first);
    // ...and a new frame key, or a reset, computes again.
    float changed = computeStateLogProb(frame.data(), set, 1, 2);
    EXPECT_NE(changed, first);
    EXPECT_EQ(cache.getStateLogProb(frame.data(), set, 1, 2, 8), changed);
    set.models[1].state[2].stream[0].mixture[0].mean[0] -= 3.0f;
    cache.reset();
    EXPECT_EQ(cache.getStateLogProb(frame.data(), set, 1, 2, 8), first);
}

TEST(stateLikelihood, modelProbIsTheBestLeftToRightAlignment) {
    std::vector<hmmModel> models = {fixtureModel("m", 0.0f, 1.0f, 5, 3, 0.6f)};
    models[0].transP[1][1] = 0.6f;
    models[0].transP[1][2] = 0.4f;
    models[0].transP[2][2] = 0.3f;
    models[0].transP[2][3] = 0.7f;
    models[0].transP[3][3] = 0.9f;
    models[0].transP[3][4] = 0.1f;
    for (int s = 0; s < 3; ++s) setFixtureMixtures(models[0], s, 0, {1.0f}, {static_cast<float>(s)}, {1.0f});
    macroClass set = convertedFixture(fixtureModelSet(models));
    const hmmModel& m = set.models[0];

    const int frames = 8, dim = 39;
    std::vector<float> features(frames * dim);
    for (int t = 0; t < frames; ++t)
        for (int d = 0; d < dim; ++d) features[t * dim + d] = std::cos(0.7f * t + 0.1f * d);
    auto b = [&](int s, int t) { return computeStateLogProb(features.data() + t * dim, set, 0, s); };

    probCacheClass cache;
    cache.resize(1);
    // Three frames pass through one state each: b0 + a12 + b1 + a23 + b2.
    float three = cache.modelProb(features.data(), dim, 2, 4, set, 0);
    EXPECT_FLOAT_EQ(three, b(0, 2) + m.transP[1][2] + b(1, 3) + m.transP[2][3] + b(2, 4));

    // Five frames: the best of all monotone alignments, found by enumeration.
    const int first = 3, n = 5;
    double best = -1e30;
    for (int end0 = 0; end0 < n - 2; ++end0)
        for (int end1 = end0 + 1; end1 < n - 1; ++end1) {
            double score = 0;
            for (int t = 0; t < n; ++t) {
                int s = t <= end0 ? 0 : t <= end1 ? 1 : 2;
                score += b(s, first + t);
                if (t > 0) {
                    int prev = t - 1 <= end0 ? 0 : t - 1 <= end1 ? 1 : 2;
                    score += m.transP[prev + 1][s + 1];
                }
            }
            best = std::max(best, score);
        }
    cache.reset();
    EXPECT_NEAR(cache.modelProb(features.data(), dim, first, first + n - 1, set, 0), best, 1e-3);

    testing::internal::CaptureStdout();
    EXPECT_EQ(cache.modelProb(features.data(), dim, 5, 6, set, 0), -1e10f);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Warning in viterbiClass::modelProb: modelIdx=0, frameId1=5, frameId2=6, frameNum=2<MAX_STATE_NUM=3\n");

    bool refused = false;
    try {
        cache.modelProb(features.data(), dim, 0, 3, set, 1);
    } catch (const recogError&) {
        refused = true;
    }
    EXPECT_TRUE(refused);
}
