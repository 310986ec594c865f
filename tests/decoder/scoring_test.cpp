#include "decoder/macro.h"
#include "decoder/mlf.h"
#include "decoder/scoring.h"
#include "decoder/viterbi.h"
#include "modelFixtures.h"
#include "run/recogParam.h"
#include "scoringFixtures.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr int32_t DIM = 3 * MODEL_PARAM_NUM;

// Frames whose values are given per frame (every value of frame t is values[t]).
std::vector<float> framesOf(const std::vector<float>& values) {
    std::vector<float> frames;
    for (float v : values) frames.insert(frames.end(), DIM, v);
    return frames;
}

// n frames of value v appended to a list of per-frame values.
void appendFrames(std::vector<float>& values, int n, float v) { values.insert(values.end(), n, v); }

// Ranks the result's phones against the models over the frames.
void rank(cmResult& result, const macroClass& models, const std::vector<float>& frames, const recogParam& param) {
    viterbiClass decoder(0, models.modelNum);
    rankPhones(result, frames.data(), DIM, static_cast<int32_t>(frames.size() / DIM), models, decoder, scoringOptionsOf(param));
}

// A phone as ranking leaves it.
cmPhone rankedPhone(const std::string& name, int32_t start, int32_t end, int32_t modelIdx, float rankRatio,
                    float logLike = -10, std::vector<int32_t> competitors = {}, std::vector<float> logLikes = {}) {
    cmPhone phone = scorePhone(name, start, end);
    phone.modelIdx = modelIdx;
    phone.rankRatio = rankRatio;
    phone.logLike = logLike;
    phone.competingModelIdx = competitors.empty() ? std::vector<int32_t>{modelIdx} : competitors;
    phone.competingLogLike = logLikes.empty() ? std::vector<float>{logLike} : logLikes;
    return phone;
}

// A result ready for computeTimberScores without parameter files:
// timber score 1 uses the default bell of timber score 2, no discounts.
cmResult readyResult(std::vector<cmNode> nodes) {
    cmResult result;
    result.nodes = std::move(nodes);
    result.rankScoreParams = {0.05f, 0.5f, 0.0f};
    result.discountRatio.assign(DISCOUNT_TYPE_NUM, 1.0f);
    result.discountOccurrence.assign(DISCOUNT_TYPE_NUM, 0);
    result.textSylNum = -1;
    return result;
}

// Time ratios as ranking sets them: phone frames over the scored frames.
void setTimeRatios(cmResult& result) {
    int32_t total = 0;
    for (const cmNode& node : result.nodes)
        for (const cmPhone& phone : node.phones)
            if (isScoredNodeName(node.name) && isScoredPhoneName(phone.name))
                total += phone.endFrame - phone.startFrame + 1;
    for (cmNode& node : result.nodes)
        for (cmPhone& phone : node.phones)
            phone.timeRatio = static_cast<float>(phone.endFrame - phone.startFrame + 1) / static_cast<float>(total);
}

macroClass threeModels() { return convertedFixture(namedFixtureModels({"a+b", "c+b", "d+b"})); }

}  // namespace

// ---- ranking ----

TEST(rankPhones, aPhoneWhoseOwnModelFitsBestRanksFirstAndScoresFull) {
    macroClass models = convertedFixture(namedFixtureModels({"a+b", "c+b", "d+b", "sil", "sp"}));
    std::vector<float> values;
    appendFrames(values, 10, 3.0f);
    appendFrames(values, 20, 0.0f);
    std::vector<float> frames = framesOf(values);
    cmResult result;
    result.nodes = {scoreNode("sil", {scorePhone("sil", 0, 9)}), scoreNode("a", {scorePhone("a+b", 10, 29)})};
    recogParam param;
    rank(result, models, frames, param);
    result.rankScoreParams = {0.05f, 0.5f, 0.0f};
    result.discountRatio.assign(DISCOUNT_TYPE_NUM, 1.0f);

    const cmPhone& phone = result.nodes[1].phones[0];
    EXPECT_EQ(phone.modelIdx, 0);
    EXPECT_EQ(phone.phoneRank, 0);
    EXPECT_EQ(phone.rankRatio, 0.0f);
    // Only the models of the right context "+b" compete, best first.
    EXPECT_EQ(phone.competingModelIdx, (std::vector<int32_t>{0, 1, 2}));
    EXPECT_GT(phone.competingLogLike[0], phone.competingLogLike[1]);
    EXPECT_GT(phone.competingLogLike[1], phone.competingLogLike[2]);
    probCacheClass cache;
    cache.resize(models.modelNum);
    EXPECT_EQ(phone.logLike, cache.modelProb(frames.data(), DIM, 10, 29, models, 0));
    EXPECT_EQ(phone.competingLogLike[0], phone.logLike);
    // The silence node is not ranked.
    EXPECT_EQ(result.nodes[0].phones[0].phoneRank, -1);
    EXPECT_TRUE(result.nodes[0].phones[0].competingModelIdx.empty());

    computeTimberScores(result, 0, 1, scoringOptionsOf(param), models);
    EXPECT_FLOAT_EQ(phone.timberScores[0], 100.0f);
    EXPECT_FLOAT_EQ(phone.timberScores[1], 100.0f);
    EXPECT_FLOAT_EQ(phone.timberScores[2], 100.0f);
    EXPECT_NEAR(phone.timberScores[3], 100.0f, 1e-3);
    EXPECT_FLOAT_EQ(phone.timberScore, 100.0f);
    EXPECT_FLOAT_EQ(result.nodes[1].timberScore, 100.0f);
    EXPECT_EQ(result.nodes[0].timberScore, -1.0f);
}

TEST(rankPhones, countsFramesAndRatiosOverTheScoredPhonesOnly) {
    macroClass models = threeModels();  // means 0, 1, 2
    std::vector<float> values;
    appendFrames(values, 10, 0.0f);  // a+b fits best
    appendFrames(values, 5, 0.0f);   // "sil+b": not scored
    appendFrames(values, 20, 2.0f);  // d+b fits best, c+b second
    appendFrames(values, 5, 0.0f);   // sp node
    cmResult result;
    result.nodes = {scoreNode("ac", {scorePhone("a+b", 0, 9), scorePhone("sil+b", 10, 14), scorePhone("c+b", 15, 34)}),
                    scoreNode("sp", {scorePhone("sp", 35, 39)})};
    recogParam param;
    rank(result, models, framesOf(values), param);

    EXPECT_EQ(result.scoredNodeNum, 1);
    EXPECT_EQ(result.scoredPhoneNum, 3);  // the "sil+" phone belongs to a scored node
    EXPECT_EQ(result.scoredFrameNum, 30);
    const cmPhone& a = result.nodes[0].phones[0];
    const cmPhone& c = result.nodes[0].phones[2];
    EXPECT_FLOAT_EQ(a.timeRatio, 10.0f / 30.0f);
    EXPECT_FLOAT_EQ(c.timeRatio, 20.0f / 30.0f);
    EXPECT_EQ(c.phoneRank, 1);
    EXPECT_FLOAT_EQ(c.rankRatio, 1.0f / 3.0f);
    EXPECT_EQ(result.nodes[0].phones[1].phoneRank, -1);
    EXPECT_FLOAT_EQ(result.weightedRankRatio, 20.0f / 30.0f / 3.0f);
    EXPECT_FLOAT_EQ(result.avgLogLike, (a.logLike + c.logLike) / 30.0f);
}

TEST(rankPhones, aCompetitorOfEqualLikelihoodCountsAsRankedAbove) {
    // "a+b" and "e+b" are the same model under two names.
    macroClass models = convertedFixture(
        fixtureModelSet({fixtureModel("a+b", 0.0f), fixtureModel("c+b", 5.0f), fixtureModel("e+b", 0.0f)}));
    cmResult result;
    result.nodes = {scoreNode("a", {scorePhone("a+b", 0, 9)}), scoreNode("e", {scorePhone("e+b", 10, 19)})};
    recogParam param;
    rank(result, models, framesOf(std::vector<float>(20, 0.0f)), param);
    for (const cmNode& node : result.nodes) {
        EXPECT_EQ(node.phones[0].phoneRank, 1) << node.name;
        EXPECT_FLOAT_EQ(node.phones[0].rankRatio, 1.0f / 3.0f) << node.name;
    }
}

TEST(rankPhones, acceptableSubstitutesRightAboveThePhoneDoNotCount) {
    scratchDir dir;
    // Means 0..3: on frames of 0 the order is p, q, r, s.
    macroClass models = convertedFixture(namedFixtureModels({"p+b", "q+b", "r+b", "s+b"}));
    std::vector<float> frames = framesOf(std::vector<float>(10, 0.0f));
    auto rankOfS = [&](const std::string& epsText) {
        cmResult result;
        result.nodes = {scoreNode("s", {scorePhone("s+b", 0, 9)})};
        recogParam param;
        if (!epsText.empty()) param.epsFile = dir.write("eps.txt", epsText);
        rank(result, models, frames, param);
        return result.nodes[0].phones[0].phoneRank;
    };
    EXPECT_EQ(rankOfS(""), 3);
    // The two competitors just above are substitutes: the rank drops by 2.
    EXPECT_EQ(rankOfS("% substitutes\ns+b\tr+b\tq+b\n"), 1);
    // "q+b" between them is not a substitute: the walk stops there.
    EXPECT_EQ(rankOfS("s+b\tr+b\tp+b\n"), 2);
    // A substitute that is not adjacent does not count.
    EXPECT_EQ(rankOfS("s+b\tq+b\n"), 3);
    // Substitutes listed for another phone do not apply.
    EXPECT_EQ(rankOfS("r+b\tq+b\tp+b\n"), 3);
}

TEST(rankPhones, theEpsTableIsReadOnceAndGivesEachPhoneItsSubstitutes) {
    scratchDir dir;
    macroClass models = threeModels();
    cmResult result;
    result.nodes = {scoreNode("c", {scorePhone("c+b", 0, 9), scorePhone("a+b", 10, 19)})};
    recogParam param;
    param.epsFile = dir.write("eps.txt", "c+b\ta+b\td+b\n");
    rank(result, models, framesOf(std::vector<float>(20, 0.0f)), param);
    EXPECT_EQ(result.nodes[0].phones[0].epsNames, (std::vector<std::string>{"a+b", "d+b"}));
    EXPECT_TRUE(result.nodes[0].phones[1].epsNames.empty());
    ASSERT_EQ(result.epsTable.size(), 1u);
    // A table already held is not read again.
    param.epsFile = dir.file("missing.txt");
    EXPECT_EQ(errorOf([&] { rank(result, models, framesOf(std::vector<float>(20, 0.0f)), param); }), "");
}

TEST(rankPhones, competitorsWithoutRightContextOrWithAllModelsExcludeSilencesAndFillers) {
    macroClass models = convertedFixture(namedFixtureModels({"a", "b+c", "filler", "fillerC", "fillerV", "sil", "sp"}));
    std::vector<float> frames = framesOf(std::vector<float>(20, 0.0f));
    cmResult result;
    result.nodes = {scoreNode("a", {scorePhone("a", 0, 9)}), scoreNode("b", {scorePhone("b+c", 10, 19)})};
    recogParam param;
    rank(result, models, frames, param);
    EXPECT_EQ(result.nodes[0].phones[0].competingModelIdx, (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(result.nodes[1].phones[0].competingModelIdx, (std::vector<int32_t>{1}));

    param.useAllModelAsCompetingModel = 1;
    rank(result, models, frames, param);
    std::vector<int32_t> both = result.nodes[1].phones[0].competingModelIdx;
    std::sort(both.begin(), both.end());
    EXPECT_EQ(both, (std::vector<int32_t>{0, 1}));
}

TEST(rankPhones, refusesAPhoneThatIsNoModelOrLiesOutsideTheFrames) {
    macroClass models = threeModels();
    std::vector<float> frames = framesOf(std::vector<float>(30, 0.0f));
    recogParam param;
    cmResult result;
    result.nodes = {scoreNode("x", {scorePhone("x+b", 0, 9)})};
    EXPECT_EQ(withoutLine(errorOf([&] { rank(result, models, frames, param); })),
              "Error: phone \"x+b\" of node \"x\" is not a model of the model set (line N of file mlf)");
    result.nodes = {scoreNode("a", {scorePhone("a+b", 25, 34)})};
    EXPECT_EQ(withoutLine(errorOf([&] { rank(result, models, frames, param); })),
              "Error: phone \"a+b\" spans frames 25 to 34, outside the 30 feature frames (line N of file mlf)");
    result.nodes = {scoreNode("a", {scorePhone("a+b", -1, 5)})};
    EXPECT_NE(errorOf([&] { rank(result, models, frames, param); }), "");
}

// ---- timber scores ----

TEST(computeTimberScores, theDefaultBellGivesOneSixthAtAQuarterRank) {
    macroClass models = threeModels();
    cmResult result = readyResult({scoreNode("a", {rankedPhone("a+b", 0, 9, 0, 0.25f)})});
    setTimeRatios(result);
    recogParam param;
    computeTimberScores(result, 0, 0, scoringOptionsOf(param), models);
    const cmPhone& phone = result.nodes[0].phones[0];
    EXPECT_FLOAT_EQ(phone.timberScores[1], 100.0f / 6.0f);
    EXPECT_FLOAT_EQ(phone.timberScore, 100.0f / 6.0f);
    EXPECT_EQ(phone.cmParams[0], 0.05f);
    EXPECT_EQ(phone.cmParams[1], 0.5f);
    EXPECT_EQ(phone.cmParams[2], 0.0f);

    // Timber score 1 takes width, slope and centre from the rank score parameters.
    result.rankScoreParams = {0.1f, 1.0f, 0.5f};
    computeTimberScores(result, 0, 0, scoringOptionsOf(param), models);
    EXPECT_FLOAT_EQ(phone.timberScores[0], 100.0f / 7.25f);
    EXPECT_DOUBLE_EQ(bellScore(0.5, 0.1, 1.0, 0.5), 100.0);
}

TEST(computeTimberScores, cmParamFileGivesEachModelItsBell) {
    scratchDir dir;
    macroClass models = threeModels();
    recogParam param;
    param.cmParamFile = dir.write("cm.txt",
                                  "% model parameters\n"
                                  "a+b\t1\t2\t3\t4\t[0.05 0.5 0]\n"
                                  "c+b\t1\t2\t3\t4\t[0.1 1 0]\n"
                                  "d+b\t1\t2\t3\t4\t[0.05 0.5 0]\n");
    cmResult result = readyResult({scoreNode("c", {rankedPhone("c+b", 0, 9, 1, 0.25f)})});
    setTimeRatios(result);
    computeTimberScores(result, 0, 0, scoringOptionsOf(param), models);
    const cmPhone& phone = result.nodes[0].phones[0];
    EXPECT_FLOAT_EQ(phone.timberScores[1], 100.0f / 7.25f);
    EXPECT_EQ(phone.cmParams[0], 0.1f);
    EXPECT_EQ(phone.cmParams[1], 1.0f);
    EXPECT_EQ(phone.cmParams[2], 0.0f);
}

TEST(computeTimberScores, refusesAnUnparsableOrShortCmParamFile) {
    scratchDir dir;
    macroClass models = threeModels();
    recogParam param;
    param.cmParamFile = dir.write("cm.txt",
                                  "a+b\t1\t2\t3\t4\t[0.05 0.5 0]\n"
                                  "c+b\t1\t2\t3\t[0.1 1 0]\n"
                                  "d+b\t1\t2\t3\t4\t[0.05 0.5 0]\n");
    cmResult result = readyResult({scoreNode("c", {rankedPhone("c+b", 0, 9, 1, 0.25f)})});
    setTimeRatios(result);
    std::string message;
    std::string printed =
        printedBy([&] { message = errorOf([&] { computeTimberScores(result, 0, 0, scoringOptionsOf(param), models); }); });
    const std::string diagnostics = "modelName=c+b\nmodelIndex=1\ncontents[1]=c+b\t1\t2\t3\t[0.1 1 0]\n";
    EXPECT_EQ(printed.substr(0, diagnostics.size()), diagnostics);
    EXPECT_EQ(withoutLine(message), "Error: Cannot parse " + param.cmParamFile + " (line N of file mlf)");

    // A line for a model that is not scored is not parsed.
    cmResult other = readyResult({scoreNode("a", {rankedPhone("a+b", 0, 9, 0, 0.25f)})});
    setTimeRatios(other);
    EXPECT_EQ(errorOf([&] { computeTimberScores(other, 0, 0, scoringOptionsOf(param), models); }), "");

    param.cmParamFile = dir.write("short.txt", "a+b\t1\t2\t3\t4\t[0.05 0.5 0]\nc+b\t1\t2\t3\t4\t[0.1 1 0]\n");
    EXPECT_EQ(withoutLine(errorOf([&] { computeTimberScores(other, 0, 0, scoringOptionsOf(param), models); })),
              "Error: " + param.cmParamFile +
                  " has 2 parameter lines for 3 models; the lines of models 2 to 2 are missing (line N of file mlf)");
}

TEST(computeTimberScores, timberScore3PlacesThePhoneBetweenItsWorstAndBestCompetitor) {
    macroClass models = threeModels();
    auto score3 = [&](float logLike, std::vector<float> logLikes) {
        cmResult result =
            readyResult({scoreNode("a", {rankedPhone("a+b", 0, 9, 0, 0.0f, logLike, {0, 1, 2}, logLikes)})});
        setTimeRatios(result);
        recogParam param;
        computeTimberScores(result, 0, 0, scoringOptionsOf(param), models);
        return result.nodes[0].phones[0].timberScores[2];
    };
    EXPECT_FLOAT_EQ(score3(-10, {-10, -20, -30}), 100.0f);
    EXPECT_FLOAT_EQ(score3(-30, {-10, -20, -30}), 0.0f);
    EXPECT_FLOAT_EQ(score3(-20, {-10, -20, -30}), 25.0f);
    EXPECT_FLOAT_EQ(score3(-10, {-10, -10, -10}), 0.0f);
}

TEST(computeTimberScores, timberScore4IsThePosteriorWithModelCountsAsPriors) {
    macroClass models = threeModels();
    auto score4 = [&](const macroClass& set) {
        cmResult result = readyResult({scoreNode("a", {rankedPhone("a+b", 0, 9, 0, 0.0f, -10, {0, 1}, {-10, -10})})});
        setTimeRatios(result);
        recogParam param;
        computeTimberScores(result, 0, 0, scoringOptionsOf(param), set);
        return result.nodes[0].phones[0].timberScores[3];
    };
    EXPECT_FLOAT_EQ(score4(models), 50.0f);
    models.models[0].logCount = std::log(3.0f);
    EXPECT_NEAR(score4(models), 75.0f, 1e-4);
}

TEST(computeTimberScores, aNodeScoreIsTheTimeWeightedMeanOfItsScoredPhones) {
    macroClass models = threeModels();
    cmResult result =
        readyResult({scoreNode("ac", {rankedPhone("a+b", 0, 9, 0, 0.0f), rankedPhone("sil+b", 10, 19, 0, 1.0f),
                                      rankedPhone("c+b", 20, 49, 1, 0.25f)})});
    setTimeRatios(result);
    recogParam param;
    computeTimberScores(result, 0, 0, scoringOptionsOf(param), models);
    const cmNode& node = result.nodes[0];
    EXPECT_FLOAT_EQ(node.timberScores[1], 0.25f * 100.0f + 0.75f * 100.0f / 6.0f);
    EXPECT_FLOAT_EQ(node.timberScore, node.timberScores[1]);
    EXPECT_EQ(node.phones[1].timberScores[1], -1.0f);
    EXPECT_EQ(node.phones[1].timberScore, -1.0f);
}

TEST(computeTimberScores, theNodeValueOfTimberScore4IsCappedAt100) {
    macroClass models = threeModels();
    // The own model is not among the listed competitors, so its posterior exceeds 1.
    cmResult result = readyResult({scoreNode("a", {rankedPhone("a+b", 0, 9, 0, 0.0f, -10, {1}, {-20})})});
    setTimeRatios(result);
    recogParam param;
    computeTimberScores(result, 0, 0, scoringOptionsOf(param), models);
    EXPECT_GT(result.nodes[0].phones[0].timberScores[3], 100.0f);
    EXPECT_EQ(result.nodes[0].timberScores[3], 100.0f);
}

TEST(computeTimberScores, aNodeOfSilPlusPhonesOnlyScoresZero) {
    macroClass models = threeModels();
    cmResult result =
        readyResult({scoreNode("x", {rankedPhone("sil+a", 0, 9, 0, 0.5f)}),
                     scoreNode("y", {rankedPhone("sil+a", 10, 19, 0, 0.5f), rankedPhone("sil+b", 20, 29, 0, 0.5f)}),
                     scoreNode("sil", {rankedPhone("sil", 30, 39, 0, 0.5f)})});
    setTimeRatios(result);
    recogParam param;
    computeTimberScores(result, 0, 2, scoringOptionsOf(param), models);
    for (int k = 0; k < 2; ++k) {
        const cmNode& node = result.nodes[static_cast<size_t>(k)];
        for (int i = 0; i < 4; ++i) EXPECT_EQ(node.timberScores[i], 0.0f) << node.name;
        for (const cmPhone& phone : node.phones)
            for (int i = 0; i < 4; ++i) EXPECT_EQ(phone.timberScores[i], 0.0f) << node.name;
    }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(result.nodes[2].timberScores[i], -1.0f);
}

TEST(computeTimberScores, theOverallScoreIsTheDurationWeightedMeanDiscounted) {
    macroClass models = threeModels();
    cmResult result = readyResult({scoreNode("sil", {rankedPhone("sil", 0, 99, 0, 1.0f)}),
                                   scoreNode("a", {rankedPhone("a+b", 100, 109, 0, 0.0f)}),
                                   scoreNode("c", {rankedPhone("c+b", 110, 139, 1, 0.25f)})});
    setTimeRatios(result);
    result.discountOccurrence = {1, 0, 2, 0, 3, 0, 0};
    result.discountRatio = {0.8f, 0.5f, 0.9f, 0.5f, 0.1f, 0.5f, 0.5f};
    result.recogSylNum = 3;
    result.textSylNum = 2;
    recogParam param;
    computeTimberScores(result, 0, 2, scoringOptionsOf(param), models);
    const float avg2 = (100.0f * 10 + 100.0f / 6.0f * 30) / 40;
    EXPECT_FLOAT_EQ(result.avgTimberScore[1], avg2);
    EXPECT_FLOAT_EQ(result.avgTimberScore[0], avg2);  // same bell for timber score 1 here
    // Index 4 (the syllable-count difference) is not applied.
    const float factor = 0.8f * 0.9f * 0.9f * 1.5f;
    EXPECT_FLOAT_EQ(result.discTimberScore[1], avg2 * factor);
    EXPECT_FLOAT_EQ(result.timberScore, avg2 * factor);
    EXPECT_FLOAT_EQ(result.score, avg2 * factor);

    // Keyword mode: no text syllable count, no syllable factor.
    result.textSylNum = -1;
    computeTimberScores(result, 0, 2, scoringOptionsOf(param), models);
    EXPECT_FLOAT_EQ(result.score, avg2 * 0.8f * 0.9f * 0.9f);

    // Only the range counts; nodes outside it keep -1.
    computeTimberScores(result, 2, 2, scoringOptionsOf(param), models);
    EXPECT_EQ(result.nodes[1].timberScore, -1.0f);
    EXPECT_FLOAT_EQ(result.avgTimberScore[1], 100.0f / 6.0f);
}

TEST(computeTimberScores, readsTheParameterFilesOnceAndRefusesMissingNumbers) {
    scratchDir dir;
    macroClass models = threeModels();
    cmResult result = readyResult({scoreNode("a", {rankedPhone("a+b", 0, 9, 0, 0.25f)})});
    setTimeRatios(result);
    result.rankScoreParams.clear();
    result.discountRatio.clear();
    recogParam param;
    param.phoneRank2scoreParamFile = dir.write("rank.txt", "0.1 1\n0.25\n");
    param.scoreDiscountParamFile = dir.write("discount.txt", "1 1 1 1 1 1 0.5\n");
    std::string printed = printedBy([&] { computeTimberScores(result, 0, 0, scoringOptionsOf(param), models); });
    EXPECT_EQ(printed, "\tRead " + param.scoreDiscountParamFile + "...\n");
    EXPECT_EQ(result.rankScoreParams, (std::vector<float>{0.1f, 1.0f, 0.25f}));
    EXPECT_EQ(result.discountRatio.size(), 7u);
    EXPECT_FLOAT_EQ(result.nodes[0].phones[0].timberScores[0], 100.0f);
    // Held values are not read again.
    EXPECT_EQ(printedBy([&] { computeTimberScores(result, 0, 0, scoringOptionsOf(param), models); }), "");

    result.rankScoreParams.clear();
    param.phoneRank2scoreParamFile = dir.write("rank2.txt", "0.1 1\n");
    EXPECT_EQ(withoutLine(errorOf([&] { computeTimberScores(result, 0, 0, scoringOptionsOf(param), models); })),
              "Error: " + param.phoneRank2scoreParamFile +
                  " holds 2 numbers; the rank score needs 3 (width, slope, centre) (line N of file mlf)");

    result.rankScoreParams = {0.05f, 0.5f, 0.0f};
    result.discountRatio.clear();
    param.scoreDiscountParamFile = dir.write("discount6.txt", "1 1 1 1 1 1\n");
    std::string message;
    printedBy([&] { message = errorOf([&] { computeTimberScores(result, 0, 0, scoringOptionsOf(param), models); }); });
    EXPECT_EQ(withoutLine(message), "Error: " + param.scoreDiscountParamFile +
                                        " holds 6 numbers; one discount ratio is needed for each of the 7 discount "
                                        "types (line N of file mlf)");
    EXPECT_TRUE(result.discountRatio.empty());

    param.scoreDiscountParamFile = dir.file("none.txt");
    printedBy([&] { message = errorOf([&] { computeTimberScores(result, 0, 0, scoringOptionsOf(param), models); }); });
    EXPECT_NE(message.find("Cannot open file " + param.scoreDiscountParamFile), std::string::npos);
}

// ---- discount counts ----

TEST(countDiscounts, aCleanCompletePathHasNoDiscountAndOnlyTheSyllableRatioScales) {
    macroClass models = threeModels();
    cmResult result =
        readyResult({scoreNode("sil", {rankedPhone("sil", 0, 59, 0, 1.0f)}),
                     scoreNode("a", {rankedPhone("a+b", 60, 63, 0, 0.0f), rankedPhone("c+b", 64, 132, 1, 0.0f)}),
                     scoreNode("sp", {rankedPhone("sp", 133, 182, 0, 1.0f)}),
                     scoreNode("c", {rankedPhone("c+b", 183, 202, 1, 0.0f)}),
                     scoreNode("sil", {rankedPhone("sil", 203, 300, 0, 1.0f)})});
    setTimeRatios(result);
    for (cmNode& node : result.nodes)
        node.volume.assign(static_cast<size_t>(node.endFrame - node.startFrame + 1),
                           node.name == "sil" || node.name == "sp" ? 10.0f : 500.0f);
    result.discountRatio = {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
    result.scoredNodeNum = 2;
    result.textSylNum = 2;
    result.recogSylNum = 3;
    countDiscounts(result, 0, 4, true);
    EXPECT_EQ(result.discountOccurrence, std::vector<int32_t>(7, 0));
    recogParam param;
    computeTimberScores(result, 0, 4, scoringOptionsOf(param), models);
    EXPECT_FLOAT_EQ(result.score, 100.0f * 1.5f);
}

TEST(countDiscounts, countsIncompletePathsAndShortAndLongSyllables) {
    cmResult result;
    result.nodes = {
        scoreNode("s1", {scorePhone("a+b", 0, 2), scorePhone("c+b", 3, 5)}),                             // all short
        scoreNode("s2", {scorePhone("a+b", 6, 7), scorePhone("c+b", 8, 9), scorePhone("d+b", 10, 29)}),  // 2 of 3
        scoreNode("n1", {scorePhone("a+b", 30, 31), scorePhone("c+b", 32, 41)}),                         // 1 of 2
        scoreNode("n2", {scorePhone("b+a", 42, 43), scorePhone("g+a", 44, 44), scorePhone("h+a", 45, 45)}),
        scoreNode("n3", {scorePhone("sil+a", 46, 47), scorePhone("c+b", 48, 60)}),
        scoreNode("sil", {scorePhone("sil", 61, 62)}),
        scoreNode("l1", {scorePhone("a+b", 63, 132)}),   // 70 frames
        scoreNode("n4", {scorePhone("a+b", 133, 201)}),  // 69 frames
        scoreNode("n5", {scorePhone("sil+b", 202, 301)}),
        scoreNode("n6", {scorePhone("a+b", -1, 1)}),  // negative start: neither short nor long
    };
    countDiscounts(result, 0, 9, false);
    EXPECT_EQ(result.discountOccurrence[0], 1);
    EXPECT_EQ(result.discountOccurrence[1], 2);
    EXPECT_EQ(result.discountOccurrence[2], 1);
    countDiscounts(result, 0, 9, true);
    EXPECT_EQ(result.discountOccurrence[0], 0);
}

TEST(countDiscounts, countsLongInnerPausesSyllableCountAndLengthRatio) {
    cmResult result;
    result.nodes = {scoreNode("sp", {}, 0, 99),       // first: not counted
                    scoreNode("a", {}, 100, 109),     // 10 frames
                    scoreNode("sil", {}, 110, 160),   // 51 frames
                    scoreNode("b", {}, 161, 200),     // 40 frames
                    scoreNode("sp", {}, 201, 250),    // 50 frames
                    scoreNode("sil", {}, 251, 400)};  // last: not counted
    result.scoredNodeNum = 2;
    result.textSylNum = 5;
    countDiscounts(result, 0, 5, true);
    EXPECT_EQ(result.discountOccurrence[3], 1);
    EXPECT_EQ(result.discountOccurrence[4], 3);
    EXPECT_EQ(result.discountOccurrence[5], 0);  // 40 / 10 is not greater than 4
    result.nodes[3].endFrame = 201;
    result.textSylNum = -1;
    countDiscounts(result, 0, 5, true);
    EXPECT_EQ(result.discountOccurrence[4], 0);
    EXPECT_EQ(result.discountOccurrence[5], 1);
    // A sub-range: the pause at 2 is now the range's first node.
    countDiscounts(result, 2, 4, true);
    EXPECT_EQ(result.discountOccurrence[3], 0);
    EXPECT_EQ(result.discountOccurrence[5], 0);
}

TEST(countDiscounts, countsLoudSilenceFrames) {
    auto loudness = [](int loudFrames, float level, float speech) {
        cmResult result;
        result.nodes = {scoreNode("a", {}, 0, 9), scoreNode("sil", {}, 10, 59), scoreNode("sp", {}, 60, 61)};
        result.nodes[0].volume = {0.0f, speech, 1000.0f};
        result.nodes[1].volume.assign(50, 0.0f);
        for (int i = 0; i < loudFrames; ++i) result.nodes[1].volume[static_cast<size_t>(i)] = level;
        countDiscounts(result, 0, 2, true);
        return result.discountOccurrence[6];
    };
    EXPECT_EQ(loudness(4, 200.0f, 500.0f), 0);
    EXPECT_EQ(loudness(5, 200.0f, 500.0f), 1);
    EXPECT_EQ(loudness(30, 200.0f, 500.0f), 1);
    EXPECT_EQ(loudness(31, 200.0f, 500.0f), 2);
    EXPECT_EQ(loudness(40, 100.0f, 500.0f), 0);  // exactly a tenth of the range is not loud

    // All volumes equal: nothing is loud.
    cmResult flat;
    flat.nodes = {scoreNode("sil", {}, 0, 39)};
    flat.nodes[0].volume.assign(40, 7.0f);
    countDiscounts(flat, 0, 0, true);
    EXPECT_EQ(flat.discountOccurrence[6], 0);
}

TEST(countDiscounts, refusesARangeOutsideTheNodes) {
    cmResult result;
    result.nodes = {scoreNode("a", {}, 0, 9)};
    EXPECT_NE(errorOf([&] { countDiscounts(result, 0, 1, true); }), "");
    EXPECT_EQ(errorOf([&] { countDiscounts(result, 0, -1, true); }), "");
    EXPECT_EQ(result.discountOccurrence, std::vector<int32_t>(7, 0));
}
