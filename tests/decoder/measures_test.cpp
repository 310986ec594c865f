// Measurements of an aligned result for calibration: the ranking ratios, the
// frame-level GOP against the monophone classes, word means and minima, and
// the utterance's pauses and speech rate.
#include "decoder/measures.h"
#include "decoder/scoring.h"
#include "decoder/stateProb.h"
#include "decoder/viterbi.h"
#include "modelFixtures.h"
#include "run/recogParam.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr int32_t DIM = 3 * MODEL_PARAM_NUM;

const int32_t GOP = phoneMeasureIndex("gop");
const int32_t CLASS_GOP = phoneMeasureIndex("classGop");
const int32_t CLASS_MATCH = phoneMeasureIndex("classMatch");
const int32_t LLR = phoneMeasureIndex("llr");
const int32_t LOG_POSTERIOR = phoneMeasureIndex("logPosterior");
const int32_t FRAMES = phoneMeasureIndex("frames");
const int32_t RANK = phoneMeasureIndex("rank");

// Two phone classes whose models lie close together (a: means 0 and 0.5,
// b: 5 and 5.5), silence at 10, a short pause and a filler.
macroClass classModels() {
    return convertedFixture(fixtureModelSet({fixtureModel("a+b", 0.0f), fixtureModel("a+sil", 0.5f),
                                             fixtureModel("b+a", 5.0f), fixtureModel("b+sil", 5.5f),
                                             fixtureModel("sil", 10.0f), fixtureModel("sp", 10.0f, 1.0f, 3),
                                             fixtureModel("filler", 2.5f)}));
}

void appendFrames(std::vector<float>& frames, int32_t n, float value) {
    frames.insert(frames.end(), static_cast<size_t>(n) * DIM, value);
}

cmPhone phoneOf(const macroClass& models, const std::string& name, int32_t start, int32_t end) {
    cmPhone p;
    p.name = name;
    p.modelIdx = models.findModelIndex(name);
    p.startFrame = start;
    p.endFrame = end;
    p.phoneRank = 0;
    return p;
}

cmNode nodeOf(const std::string& name, int32_t start, int32_t end, std::vector<cmPhone> phones = {}) {
    cmNode n;
    n.name = name;
    n.text = name;
    n.startFrame = start;
    n.endFrame = end;
    n.phones = std::move(phones);
    return n;
}

// sil 0-4, word "ab" (a+b spoken as a at 5-14, a+sil spoken as b at 15-24),
// sp 25-39, word "b" (b+sil as b, 40-49), sp 50-54, word "ba" (b+a as b, 55-64), sil 65-69.
struct fixture {
    macroClass models = classModels();
    std::vector<float> frames;
    cmResult result;
    fixture() {
        appendFrames(frames, 5, 10.0f);
        appendFrames(frames, 10, 0.0f);
        appendFrames(frames, 10, 5.0f);
        appendFrames(frames, 15, 10.0f);
        appendFrames(frames, 10, 5.0f);
        appendFrames(frames, 5, 10.0f);
        appendFrames(frames, 10, 5.0f);
        appendFrames(frames, 5, 10.0f);
        result.nodes = {nodeOf("sil", 0, 4, {phoneOf(models, "sil", 0, 4)}),
                        nodeOf("ab", 5, 24, {phoneOf(models, "a+b", 5, 14), phoneOf(models, "a+sil", 15, 24)}),
                        nodeOf("sp", 25, 39, {phoneOf(models, "sp", 25, 39)}),
                        nodeOf("b", 40, 49, {phoneOf(models, "b+sil", 40, 49)}),
                        nodeOf("sp", 50, 54, {phoneOf(models, "sp", 50, 54)}),
                        nodeOf("ba", 55, 64, {phoneOf(models, "b+a", 55, 64)}),
                        nodeOf("sil", 65, 69, {phoneOf(models, "sil", 65, 69)})};
    }
    int32_t frameNum() const { return static_cast<int32_t>(frames.size() / DIM); }
    void measure(bool frameGop = true) {
        monophoneClasses classes(models);
        measureOptions options;
        options.frameGop = frameGop;
        measureResult(result, frames.data(), DIM, frameNum(), models, classes, options);
    }
    const cmPhone& phone(size_t node, size_t k) const { return result.nodes[node].phones[k]; }
};

TEST(monophoneClasses, groupModelsByTheirNameBeforePlusAndLeaveOutPausesAndFillers) {
    macroClass models = classModels();
    monophoneClasses classes(models);
    ASSERT_EQ(classes.names, (std::vector<std::string>{"a", "b", "sil"}));
    EXPECT_EQ(classes.members[0], (std::vector<int32_t>{models.findModelIndex("a+b"), models.findModelIndex("a+sil")}));
    EXPECT_EQ(classes.classOfModel[static_cast<size_t>(models.findModelIndex("b+sil"))], 1);
    EXPECT_EQ(classes.classOfModel[static_cast<size_t>(models.findModelIndex("sp"))], -1);
    EXPECT_EQ(classes.classOfModel[static_cast<size_t>(models.findModelIndex("filler"))], -1);
}

TEST(frameClassTable, holdsEachClassBestStateAndTheirLogSumComputedOncePerFrame) {
    fixture f;
    monophoneClasses classes(f.models);
    frameClassTable table(classes, f.models, f.frames.data(), DIM, f.frameNum());
    const float* best = table.classBest(7);
    const float* frame = f.frames.data() + 7 * DIM;
    const float a = std::max(bestStateLogLike(frame, f.models, f.models.findModelIndex("a+b")),
                             bestStateLogLike(frame, f.models, f.models.findModelIndex("a+sil")));
    EXPECT_FLOAT_EQ(best[0], a);
    EXPECT_FLOAT_EQ(best[2], bestStateLogLike(frame, f.models, f.models.findModelIndex("sil")));
    const double sum = std::log(std::exp(double(best[0]) - best[0]) + std::exp(double(best[1]) - best[0]) +
                                std::exp(double(best[2]) - best[0])) + best[0];
    EXPECT_NEAR(table.logSum(7), sum, 1e-6 * std::fabs(sum));
    table.classBest(7);
    table.logSum(7);
    EXPECT_EQ(table.computedFrames(), 1);
    table.classBest(8);
    EXPECT_EQ(table.computedFrames(), 2);
    EXPECT_NE(errorOf([&] { table.classBest(f.frameNum()); }).find("outside"), std::string::npos);
}

TEST(measureResult, givesAPhoneSpokenAsItsModelAHigherGopThanOneSpokenAsAnotherClass) {
    fixture f;
    f.measure();
    const cmPhone& matching = f.phone(1, 0);   // a+b over frames of a
    const cmPhone& mismatched = f.phone(1, 1); // a+sil over frames of b
    ASSERT_TRUE(matching.measured && mismatched.measured);
    EXPECT_GT(matching.measures[GOP], mismatched.measures[GOP] + 10.0f);
    EXPECT_LE(matching.measures[GOP], 0.0f);
    EXPECT_GT(matching.measures[GOP], -1.0f);
    EXPECT_FLOAT_EQ(matching.measures[CLASS_MATCH], 1.0f);
    EXPECT_FLOAT_EQ(mismatched.measures[CLASS_MATCH], 0.0f);
    // Its own class's best is at least its own model's.
    EXPECT_GE(mismatched.measures[CLASS_GOP], mismatched.measures[GOP]);
    EXPECT_FLOAT_EQ(matching.measures[FRAMES], 10.0f);
    // Pauses, silences and their phones carry no measurements.
    EXPECT_FALSE(f.result.nodes[0].measured);
    EXPECT_FALSE(f.phone(2, 0).measured);
}

TEST(measureResult, gopIsTheMeanOfTheFrameLogRatiosToTheClassSum) {
    fixture f;
    f.measure();
    monophoneClasses classes(f.models);
    const cmPhone& p = f.phone(1, 1);
    double expected = 0, expectedClass = 0;
    for (int32_t t = p.startFrame; t <= p.endFrame; ++t) {
        const float* frame = f.frames.data() + static_cast<size_t>(t) * DIM;
        std::vector<double> best;
        for (const auto& members : classes.members) {
            double b = -1e30;
            for (int32_t m : members) b = std::max<double>(b, bestStateLogLike(frame, f.models, m));
            best.push_back(b);
        }
        double top = *std::max_element(best.begin(), best.end()), sum = 0;
        for (double b : best) sum += std::exp(b - top);
        const double logSum = top + std::log(sum);
        expected += bestStateLogLike(frame, f.models, p.modelIdx) - logSum;
        expectedClass += best[0] - logSum;
    }
    EXPECT_NEAR(p.measures[GOP], expected / 10, 1e-3);
    EXPECT_NEAR(p.measures[CLASS_GOP], expectedClass / 10, 1e-3);
}

TEST(measureResult, takesRatioAndPosteriorFromTheRankingPerFrame) {
    fixture f;
    cmPhone& best = f.result.nodes[3].phones[0];  // 10 frames
    best.competingModelIdx = {best.modelIdx, 0, 2};
    best.competingLogLike = {-100, -120, -130};
    best.logLike = -100;
    cmPhone& second = f.result.nodes[5].phones[0];
    second.competingModelIdx = {1, second.modelIdx};
    second.competingLogLike = {-90, -100};
    second.logLike = -100;
    second.phoneRank = 1;
    f.measure(false);
    EXPECT_NEAR(best.measures[LLR], 2.0, 1e-5);
    const double logSum = std::log(std::exp(0.0) + std::exp(-20.0) + std::exp(-30.0)) - 100;
    EXPECT_NEAR(best.measures[LOG_POSTERIOR], (-100 - logSum) / 10, 1e-5);
    EXPECT_NEAR(second.measures[LLR], -1.0, 1e-5);
    EXPECT_NEAR(second.measures[LOG_POSTERIOR], (-100 - (-90 + std::log1p(std::exp(-10.0)))) / 10, 1e-5);
    EXPECT_FLOAT_EQ(second.measures[RANK], 1.0f);
    // Without the frame measures they stay 0.
    EXPECT_EQ(best.measures[GOP], 0.0f);
    EXPECT_EQ(best.measures[CLASS_MATCH], 0.0f);
    // A phone without competitors has no ratio and no posterior.
    EXPECT_EQ(f.phone(1, 0).measures[LLR], 0.0f);
    EXPECT_EQ(f.phone(1, 0).measures[LOG_POSTERIOR], 0.0f);
}

TEST(measureResult, givesWordsTheMeanAndMinimumOfTheirPhones) {
    fixture f;
    f.measure();
    const cmNode& word = f.result.nodes[1];
    ASSERT_TRUE(word.measured);
    const float a = word.phones[0].measures[GOP], b = word.phones[1].measures[GOP];
    EXPECT_FLOAT_EQ(word.measureMean[GOP], (a + b) / 2);
    EXPECT_FLOAT_EQ(word.measureMin[GOP], std::min(a, b));
    EXPECT_FLOAT_EQ(word.measureMin[CLASS_MATCH], 0.0f);
    EXPECT_FLOAT_EQ(f.result.nodes[3].measureMean[GOP], f.phone(3, 0).measures[GOP]);
    EXPECT_EQ(f.result.measuredPhoneNum, 4);
    double sum = 0;
    for (size_t n : {1, 3, 5})
        for (const cmPhone& p : f.result.nodes[n].phones) sum += p.measures[GOP];
    EXPECT_NEAR(f.result.measureMean[GOP], sum / 4, 1e-4);
}

TEST(measureResult, countsInnerPausesOfTenFramesOrMoreAndTheSpeechRateWithoutThem) {
    fixture f;
    f.measure();
    ASSERT_TRUE(f.result.measured);
    ASSERT_EQ(f.result.pauseSeconds.size(), 1u);  // the 5-frame pause is too short
    EXPECT_FLOAT_EQ(f.result.pauseSeconds[0], 0.15f);
    EXPECT_FLOAT_EQ(f.result.speechSeconds, 0.60f);  // frames 5 to 64
    EXPECT_NEAR(f.result.speechRate, 4 * 100.0 / (60 - 15), 1e-4);
}

TEST(measureResult, reportsAPhoneOutsideTheFramesOrWithoutAModel) {
    fixture f;
    f.result.nodes[5].phones[0].endFrame = f.frameNum();
    EXPECT_NE(errorOf([&] { f.measure(); }).find("outside the 70 feature frames"), std::string::npos);
    fixture g;
    g.result.nodes[1].phones[0].modelIdx = 99;
    EXPECT_NE(errorOf([&] { g.measure(); }).find("model index 99"), std::string::npos);
}

TEST(measureResult, agreesWithTheRankingOfRankPhones) {
    fixture f;
    recogParam param;
    param.phoneRank2scoreParamFile = "";
    viterbiClass decoder(0, f.models.modelNum);
    scoringOptions options = scoringOptionsOf(param);
    options.useAllModelAsCompetingModel = 1;
    rankPhones(f.result, f.frames.data(), DIM, f.frameNum(), f.models, decoder, options);
    f.measure();
    // a+sil over frames of b: the b models rank above it.
    const cmPhone& mismatched = f.phone(1, 1);
    EXPECT_GT(mismatched.phoneRank, 0);
    EXPECT_LT(mismatched.measures[LLR], 0.0f);
    EXPECT_FLOAT_EQ(mismatched.measures[RANK], static_cast<float>(mismatched.phoneRank));
    const cmPhone& matching = f.phone(1, 0);
    EXPECT_EQ(matching.phoneRank, 0);
    EXPECT_GT(matching.measures[LLR], 0.0f);
    EXPECT_GT(matching.measures[LOG_POSTERIOR], mismatched.measures[LOG_POSTERIOR]);
}

}  // namespace
