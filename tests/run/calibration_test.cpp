// Calibration to human scores: the pairing of engine and human units, the
// ridge fit, the speaker folds, the calibration file and its refusal for
// another model set or configuration, and the fit of all levels on samples
// whose human scores follow known measurements.
#include "../decoder/modelFixtures.h"
#include "decoder/measures.h"
#include "run/calibration.h"
#include "run/calibrationFit.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

const int32_t GOP = phoneMeasureIndex("gop");
const int32_t CLASS_MATCH = phoneMeasureIndex("classMatch");
const int32_t FRAMES = phoneMeasureIndex("frames");

using pairs = std::vector<std::pair<int32_t, int32_t>>;

TEST(alignSequences, pairsMatchesAndSubstitutionsButNotInsertionsOrDeletions) {
    EXPECT_EQ(alignSequences({"a", "b", "c"}, {"a", "b", "c"}), (pairs{{0, 0}, {1, 1}, {2, 2}}));
    // b left out by the second
    EXPECT_EQ(alignSequences({"a", "b", "c"}, {"a", "c"}), (pairs{{0, 0}, {2, 1}}));
    // x added by the second
    EXPECT_EQ(alignSequences({"k", "ao", "l"}, {"k", "x", "ao", "l"}), (pairs{{0, 0}, {1, 2}, {2, 3}}));
    // a substitution keeps to the diagonal
    EXPECT_EQ(alignSequences({"ih", "t"}, {"iy", "t"}), (pairs{{0, 0}, {1, 1}}));
    EXPECT_EQ(alignSequences({"eh", "k", "s"}, {"ih", "k", "s", "t"}), (pairs{{0, 0}, {1, 1}, {2, 2}}));
    EXPECT_TRUE(alignSequences({}, {"a"}).empty());
    EXPECT_TRUE(alignSequences({"a"}, {}).empty());
}

measuredPhone phoneNamed(const std::string& name, float gop = -1, float frames = 8) {
    measuredPhone p;
    p.phone = name;
    p.measures[GOP] = gop;
    p.measures[FRAMES] = frames;
    p.measures[CLASS_MATCH] = gop > -2 ? 1.0f : 0.0f;
    return p;
}

measuredWord wordOf(const std::string& text, const std::vector<std::string>& phones) {
    measuredWord w;
    w.text = text;
    for (const std::string& p : phones) w.phones.push_back(phoneNamed(p));
    return w;
}

humanWord humanWordOf(const std::string& text, const std::vector<std::string>& phones, float accuracy = 10) {
    humanWord w;
    w.text = text;
    w.accuracy = accuracy;
    w.phones = phones;
    w.phoneAccuracy.assign(phones.size(), 2.0f);
    return w;
}

TEST(pairUtterance, pairsWordsInOrderAndPhonesOfAnotherPronunciationByEditDistance) {
    measuredUtterance engine;
    engine.words = {wordOf("a", {"ey"}), wordOf("cat", {"k", "ae", "t"}), wordOf("sat", {"s", "ae", "t"})};
    humanUtterance human;
    human.words = {humanWordOf("A", {"ah"}), humanWordOf("CAT", {"k", "ae", "t"}), humanWordOf("SAT", {"s", "ae", "d", "t"})};
    utterancePairing pairing = pairUtterance(engine, human);
    EXPECT_EQ(pairing.humanWord, (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(pairing.humanPhone[0], (std::vector<int32_t>{0}));  // same length: by position
    EXPECT_EQ(pairing.humanPhone[2], (std::vector<int32_t>{0, 1, 3}));
}

TEST(pairUtterance, alignsWordsByTextWhenTheCountsDiffer) {
    measuredUtterance engine;
    engine.words = {wordOf("we", {"w", "iy"}), wordOf("bear", {"b", "eh", "r"})};
    humanUtterance human;
    human.words = {humanWordOf("WE", {"w", "iy"}), humanWordOf("CALL", {"k", "ao", "l"}),
                   humanWordOf("BEAR", {"b", "eh", "r"})};
    utterancePairing pairing = pairUtterance(engine, human);
    EXPECT_EQ(pairing.humanWord, (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(pairing.humanPhone[1], (std::vector<int32_t>{0, 1, 2}));
}

TEST(readHumanScores, readsTheCorpusLayoutInTheEngineSpellingOfPhones) {
    EXPECT_EQ(engineSpellingOfPhone("AE1"), "ae");
    EXPECT_EQ(engineSpellingOfPhone("HH"), "hh");
    scratchDir dir;
    std::string path = dir.write("scores.json", R"({"000010011": {"accuracy": 8, "completeness": 10, "fluency": 9,
        "prosodic": 9, "text": "WE BEAR", "total": 7, "words": [
        {"accuracy": 10, "phones": ["W", "IY0"], "phones-accuracy": [2, 1.8], "stress": 10, "text": "WE", "total": 10},
        {"accuracy": 6, "phones": ["B", "EH0", "R"], "phones-accuracy": [2, 1, 0], "stress": 10, "text": "BEAR", "total": 6}]}})");
    std::map<std::string, humanUtterance> scores = readHumanScores(path);
    ASSERT_EQ(scores.size(), 1u);
    const humanUtterance& h = scores.at("000010011");
    EXPECT_EQ(h.accuracy, 8);
    EXPECT_EQ(h.fluency, 9);
    EXPECT_EQ(h.total, 7);
    ASSERT_EQ(h.words.size(), 2u);
    EXPECT_EQ(h.words[1].phones, (std::vector<std::string>{"b", "eh", "r"}));
    EXPECT_EQ(h.words[1].phoneAccuracy, (std::vector<float>{2, 1, 0}));
    EXPECT_FLOAT_EQ(h.words[0].phoneAccuracy[1], 1.8f);

    std::string uneven = dir.write("uneven.json", R"({"1": {"accuracy": 8, "fluency": 9, "total": 7, "words": [
        {"accuracy": 10, "phones": ["W", "IY0"], "phones-accuracy": [2], "text": "WE"}]}})");
    EXPECT_NE(errorOf([&] { readHumanScores(uneven); }).find("2 phones and 1 phone scores"), std::string::npos);
    std::string partial = dir.write("partial.json", R"({"1": {"fluency": 9, "total": 7}})");
    EXPECT_NE(errorOf([&] { readHumanScores(partial); }).find("do not parse"), std::string::npos);
}

TEST(speakerFolds, putEverySpeakerInOneFoldAndBalanceTheFolds) {
    std::vector<std::string> speakers;
    for (int s = 0; s < 11; ++s)
        for (int k = 0; k < 3 + s % 4; ++k) speakers.push_back("SPEAKER" + std::to_string(s));
    std::vector<int32_t> folds = speakerFolds(speakers, 5);
    ASSERT_EQ(folds.size(), speakers.size());
    std::map<std::string, std::set<int32_t>> foldsOfSpeaker;
    std::vector<size_t> count(5, 0);
    for (size_t i = 0; i < speakers.size(); ++i) {
        foldsOfSpeaker[speakers[i]].insert(folds[i]);
        ASSERT_GE(folds[i], 0);
        ASSERT_LT(folds[i], 5);
        ++count[static_cast<size_t>(folds[i])];
    }
    for (const auto& entry : foldsOfSpeaker) EXPECT_EQ(entry.second.size(), 1u) << entry.first;
    for (size_t c : count) {
        EXPECT_GT(c, 0u);
        EXPECT_LE(c, speakers.size() / 5 + 6);
    }
}

TEST(fitRidge, recoversKnownCoefficientsAndShrinksThemAsThePenaltyGrows) {
    std::mt19937 rng(3);
    std::normal_distribution<double> normal(0.0, 1.0);
    const int n = 400;
    Eigen::MatrixXd x(n, 3);
    Eigen::VectorXd y(n);
    for (int i = 0; i < n; ++i) {
        for (int k = 0; k < 3; ++k) x(i, k) = normal(rng);
        y(i) = 2.0 * x(i, 0) - 3.0 * x(i, 1) + 0.5 * x(i, 2) + 1.25 + 0.01 * normal(rng);
    }
    ridgeSolution s = fitRidge(x, y, Eigen::VectorXd::Constant(3, 1e-6));
    EXPECT_NEAR(s.weights(0), 2.0, 0.01);
    EXPECT_NEAR(s.weights(1), -3.0, 0.01);
    EXPECT_NEAR(s.weights(2), 0.5, 0.01);
    EXPECT_NEAR(s.intercept, 1.25, 0.01);
    // Penalties shrink the weights, never the intercept toward 0.
    ridgeSolution strong = fitRidge(x, y, Eigen::VectorXd::Constant(3, 1e6));
    EXPECT_LT(strong.weights.norm(), 0.01);
    EXPECT_NEAR(strong.intercept, y.mean(), 0.05);
    ridgeSolution middle = fitRidge(x, y, Eigen::VectorXd::Constant(3, 400));
    EXPECT_LT(middle.weights.norm(), s.weights.norm());
    EXPECT_GT(middle.weights.norm(), strong.weights.norm());
    // The sums give the same solution as the design.
    Eigen::MatrixXd a(n, 4);
    a << x, Eigen::VectorXd::Ones(n);
    ridgeSolution fromSums = solveRidge(a.transpose() * a, a.transpose() * y, Eigen::VectorXd::Constant(3, 400));
    EXPECT_NEAR((fromSums.weights - middle.weights).norm(), 0.0, 1e-9);
    EXPECT_NE(errorOf([&] { fitRidge(x, y, Eigen::VectorXd::Constant(2, 1)); }).find("penalties"), std::string::npos);
}

TEST(pearsonCorrelation, isOneForALineMinusOneReversedAndZeroForAConstant) {
    EXPECT_NEAR(pearsonCorrelation({1, 2, 3, 4}, {3, 5, 7, 9}), 1.0, 1e-12);
    EXPECT_NEAR(pearsonCorrelation({1, 2, 3, 4}, {4, 3, 2, 1}), -1.0, 1e-12);
    EXPECT_EQ(pearsonCorrelation({1, 2, 3}, {5, 5, 5}), 0.0);
    EXPECT_NEAR(pearsonCorrelation({1, 2, 3, 4}, {1, 3, 2, 4}), 0.8, 1e-12);
}

// A calibration whose levels are set by hand.
calibrationClass handCalibration() {
    calibrationClass c;
    c.target.modelDigest = "fnv1a64:0123456789abcdef";
    c.target.modelCount = 3;
    c.target.modelFile = "three.mac";
    c.target.featureSettings = "TARGETKIND=838;NUMCEPS=12";
    c.target.measureSettings = "competitors=rightContext";
    for (int32_t level = 0; level < LEVEL_NUM; ++level) {
        levelModel& m = c.levels[level];
        m.fitted = true;
        m.family = "hinge";
        m.lambda = 10;
        m.terms = {{0, false, 0.0f}, {0, true, -1.5f}, {2, false, 0.0f}};
        m.center = {-1.0f, 0.25f, 0.5f};
        m.spread = {0.5f, 0.2f, 0.25f};
        m.weights = {0.3f, -0.1f, 0.2f};
        m.intercept = level == LEVEL_PHONE ? 1.5f : 7.0f;
        m.enginePearson = 0.2f;
        m.pearson = 0.4f;
    }
    c.levels[LEVEL_PHONE].offsets = {{"aa", 0.1f}, {"t", -0.2f}};
    c.levels[LEVEL_PHONE].offsetLambda = 30;
    return c;
}

measuredUtterance threeWords() {
    measuredUtterance u;
    u.words = {wordOf("we", {"w", "iy"}), wordOf("call", {"k", "aa", "l"}), wordOf("it", {"ih", "t"})};
    u.words[1].phones[1].measures[GOP] = -4;
    u.speechSeconds = 1.2f;
    u.speechRate = 6;
    u.pauseSeconds = {0.3f};
    return u;
}

TEST(calibrationFile, readsBackWhatWasWrittenAndPredictsTheSame) {
    scratchDir dir;
    calibrationClass c = handCalibration();
    std::string path = dir.file("hand.cal");
    c.save(path);
    calibrationClass back;
    back.load(path);
    EXPECT_EQ(back.target.modelDigest, c.target.modelDigest);
    EXPECT_EQ(back.target.modelCount, 3);
    EXPECT_EQ(back.target.featureSettings, c.target.featureSettings);
    for (int32_t level = 0; level < LEVEL_NUM; ++level) {
        ASSERT_TRUE(back.levels[level].fitted);
        ASSERT_EQ(back.levels[level].terms.size(), 3u);
        EXPECT_TRUE(back.levels[level].terms[1].hinge);
        EXPECT_FLOAT_EQ(back.levels[level].terms[1].knot, -1.5f);
    }
    EXPECT_FLOAT_EQ(back.levels[LEVEL_PHONE].offsets.at("t"), -0.2f);
    const measuredUtterance u = threeWords();
    utterancePredictions a = predictUtterance(c, u), b = predictUtterance(back, u);
    ASSERT_EQ(a.lower.phone.size(), 3u);
    for (size_t w = 0; w < 3; ++w) {
        EXPECT_EQ(a.lower.word[w], b.lower.word[w]);
        for (size_t p = 0; p < a.lower.phone[w].size(); ++p) {
            EXPECT_EQ(a.lower.phone[w][p], b.lower.phone[w][p]);
            EXPECT_GE(a.lower.phone[w][p], 0.0f);
            EXPECT_LE(a.lower.phone[w][p], 2.0f);
        }
    }
    for (int k = 0; k < 3; ++k) EXPECT_EQ(a.sentence[k], b.sentence[k]);
    // The low GOP of "aa" lowers its prediction below its word's other phones'.
    EXPECT_LT(a.lower.phone[1][1], a.lower.phone[1][0]);
    // The file is small, readable JSON.
    EXPECT_LT(readWholeFile(path).size(), 8000u);
    EXPECT_NE(readWholeFile(path).find("\"phoneAccuracy\""), std::string::npos);
}

TEST(calibrationFile, refusesAnotherFormatAVersionItDoesNotReadAndAnUnknownInput) {
    scratchDir dir;
    EXPECT_NE(errorOf([&] { calibrationClass().load(dir.write("a.cal", "{\"format\": \"other\"}")); })
                  .find("is not a calibration file"),
              std::string::npos);
    EXPECT_NE(errorOf([&] { calibrationClass().load(dir.write("b.cal", "not json")); }).find("is not JSON"),
              std::string::npos);
    nlohmann::json doc = handCalibration().toJson();
    doc["version"] = 99;
    EXPECT_NE(errorOf([&] { calibrationClass().load(dir.write("c.cal", doc.dump())); }).find("version 99"),
              std::string::npos);
    doc = handCalibration().toJson();
    doc["levels"]["wordAccuracy"]["terms"][0]["input"] = "loudness";
    EXPECT_NE(errorOf([&] { calibrationClass().load(dir.write("d.cal", doc.dump())); }).find("\"loudness\""),
              std::string::npos);
    doc = handCalibration().toJson();
    doc["levels"]["total"]["terms"][1].erase("weight");
    EXPECT_NE(errorOf([&] { calibrationClass().load(dir.write("e.cal", doc.dump())); }).find("does not parse"),
              std::string::npos);
    doc = handCalibration().toJson();
    doc["levels"]["total"]["terms"][2]["spread"] = 0;
    EXPECT_NE(errorOf([&] { calibrationClass().load(dir.write("f.cal", doc.dump())); }).find("not positive"),
              std::string::npos);
}

TEST(calibrationFile, isRefusedForAnotherModelSetFeatureConfigurationOrMeasurement) {
    calibrationClass c = handCalibration();
    calibrationTarget same = c.target;
    EXPECT_EQ(errorOf([&] { c.checkTarget(same); }), "");
    calibrationTarget other = same;
    other.modelDigest = "fnv1a64:fedcba9876543210";
    other.modelFile = "other.mac";
    std::string message = errorOf([&] { c.checkTarget(other); });
    EXPECT_NE(message.find("fitted for the model set three.mac (3 models"), std::string::npos) << message;
    EXPECT_NE(message.find("other.mac"), std::string::npos) << message;
    other = same;
    other.modelCount = 4;
    EXPECT_NE(errorOf([&] { c.checkTarget(other); }).find("model set"), std::string::npos);
    other = same;
    other.featureSettings = "TARGETKIND=838;NUMCEPS=13";
    message = errorOf([&] { c.checkTarget(other); });
    EXPECT_NE(message.find("fitted NUMCEPS=12, now NUMCEPS=13"), std::string::npos) << message;
    other = same;
    other.measureSettings = "competitors=all";
    EXPECT_NE(errorOf([&] { c.checkTarget(other); }).find("measurement settings"), std::string::npos);
}

TEST(calibrationTarget, changesWithAnyModelParameterAndWithTheFeatureConfiguration) {
    macroClass a = convertedFixture(namedFixtureModels({"a+b", "b+sil", "sil", "sp"}));
    macroClass b = a;
    EXPECT_EQ(modelSetDigest(a), modelSetDigest(b));
    b.models[1].state[2].stream[1].mixture[0].mean[5] += 0.001f;
    EXPECT_NE(modelSetDigest(a), modelSetDigest(b));
    macroClass c = a;
    c.models[0].name = "a+c";
    EXPECT_NE(modelSetDigest(a), modelSetDigest(c));

    scratchDir dir;
    recogParam param;
    param.featureConfigFile = dir.write("one.cfg", "TARGETKIND = MFCC_E_D_A\nNUMCEPS = 12\n");
    const std::string one = featureSettingsText(param);
    param.featureConfigFile = dir.write("same.cfg", "% the same, spelt otherwise\nTARGETKIND=MFCC_E_D_A\n");
    EXPECT_EQ(featureSettingsText(param), one);
    param.featureConfigFile = dir.write("z.cfg", "TARGETKIND = MFCC_E_D_A_Z\n");
    EXPECT_NE(featureSettingsText(param), one);
    param.useEpd = 1;
    param.featureConfigFile = dir.file("one.cfg");
    EXPECT_NE(featureSettingsText(param), one);
    param.useEpd = 0;
    const std::string rightContext = measureSettingsText(param);
    param.useAllModelAsCompetingModel = 1;
    EXPECT_NE(measureSettingsText(param), rightContext);
}

TEST(measuredUtterance, readsBackFromItsJson) {
    measuredUtterance u = threeWords();
    u.id = "000010011";
    u.speaker = "SPEAKER0001";
    u.engineScore = 77.5f;
    u.missingWords = 1;
    u.complete = false;
    u.words[2].nodeIndex = 5;
    u.words[2].phones[1].phoneIndex = 1;
    u.words[2].phones[1].engineScore = 42;
    measuredUtterance back = measuredUtteranceFromJson(measuredUtteranceJson(u));
    EXPECT_EQ(back.id, u.id);
    EXPECT_EQ(back.speaker, u.speaker);
    EXPECT_EQ(back.engineScore, 77.5f);
    EXPECT_EQ(back.missingWords, 1);
    EXPECT_FALSE(back.complete);
    EXPECT_EQ(back.pauseSeconds, u.pauseSeconds);
    ASSERT_EQ(back.words.size(), 3u);
    EXPECT_EQ(back.words[2].nodeIndex, 5);
    EXPECT_EQ(back.words[2].phones[1].engineScore, 42);
    EXPECT_EQ(back.words[1].phones[1].measures[GOP], -4);
    nlohmann::json broken = measuredUtteranceJson(u);
    broken["words"][0]["phones"][0]["m"].erase(0);
    EXPECT_NE(errorOf([&] { measuredUtteranceFromJson(broken); }).find("measurements"), std::string::npos);
}

// Samples whose human phone scores follow the GOP, each speaker with a level
// of his own; the engine's own scores are noise.
std::vector<calibrationSample> knownSamples(int32_t speakers, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> uniform(0.0, 100.0);
    const std::vector<std::string> phones = {"aa", "b", "k", "s", "t", "iy"};
    std::vector<calibrationSample> samples;
    for (int32_t s = 0; s < speakers; ++s) {
        const double skill = normal(rng);
        for (int32_t u = 0; u < 8; ++u) {
            calibrationSample sample;
            sample.measured.speaker = "S" + std::to_string(s);
            sample.measured.id = sample.measured.speaker + "_" + std::to_string(u);
            sample.measured.engineScore = static_cast<float>(uniform(rng));
            sample.measured.speechRate = static_cast<float>(8 + normal(rng));
            sample.measured.speechSeconds = 2;
            double sentence = 0;
            int32_t phoneCount = 0;
            for (int32_t w = 0; w < 3; ++w) {
                measuredWord word;
                word.text = "w" + std::to_string(w);
                word.engineScore = static_cast<float>(uniform(rng));
                humanWord human;
                human.text = word.text;
                double wordSum = 0;
                for (int32_t p = 0; p < 3; ++p) {
                    const double gop = -2.0 + 0.8 * skill + normal(rng);
                    measuredPhone mp = phoneNamed(phones[static_cast<size_t>((w * 3 + p + u) % 6)],
                                                  static_cast<float>(gop), static_cast<float>(5 + p));
                    mp.engineScore = static_cast<float>(uniform(rng));
                    const double score = std::min(2.0, std::max(0.0, 1.6 + 0.4 * (gop + 2) + 0.1 * normal(rng)));
                    human.phones.push_back(mp.phone);
                    human.phoneAccuracy.push_back(static_cast<float>(score));
                    word.phones.push_back(mp);
                    wordSum += score;
                    ++phoneCount;
                }
                human.accuracy = static_cast<float>(std::min(10.0, 5 * wordSum / 3 + 0.3 * normal(rng)));
                sentence += wordSum;
                sample.measured.words.push_back(word);
                sample.human.words.push_back(human);
            }
            sample.human.accuracy = static_cast<float>(std::min(10.0, 5 * sentence / phoneCount + 0.2 * normal(rng)));
            sample.human.fluency = sample.human.accuracy;
            sample.human.total = sample.human.accuracy;
            samples.push_back(sample);
        }
    }
    return samples;
}

TEST(fitCalibration, learnsHumanScoresThatFollowTheMeasurementsBetterThanTheEngineScores) {
    std::vector<calibrationSample> samples = knownSamples(10, 11);
    calibrationClass calibration;
    calibrationFitOptions options;
    calibrationFitReport report = fitCalibration(samples, options, calibration);
    EXPECT_EQ(report.recordings, samples.size());
    EXPECT_EQ(report.speakers, 10u);
    EXPECT_EQ(report.levels[LEVEL_PHONE].units, 10u * 8 * 9);
    EXPECT_EQ(report.levels[LEVEL_WORD].units, 10u * 8 * 3);
    for (int32_t level = 0; level < LEVEL_NUM; ++level) {
        const levelFitReport& r = report.levels[level];
        EXPECT_TRUE(calibration.levels[level].fitted);
        EXPECT_LT(std::fabs(r.enginePearson), 0.3) << calibrationLevelName(level);
        EXPECT_GT(r.pearson, 0.8) << calibrationLevelName(level);
        EXPECT_FALSE(r.best.empty());
        EXPECT_EQ(calibration.levels[level].pearson, static_cast<float>(r.pearson));
    }
    // A phone's prediction rises with its GOP.
    measuredUtterance u = samples[0].measured;
    u.words[0].phones[0].measures[GOP] = -4;
    utterancePredictions low = predictUtterance(calibration, u);
    u.words[0].phones[0].measures[GOP] = 0;
    utterancePredictions high = predictUtterance(calibration, u);
    EXPECT_GT(high.lower.phone[0][0], low.lower.phone[0][0] + 0.3f);
    EXPECT_GT(high.lower.word[0], low.lower.word[0]);
    EXPECT_GE(high.sentence[0], low.sentence[0]);
}

TEST(fitCalibration, refusesFewerSpeakersThanFolds) {
    std::vector<calibrationSample> samples = knownSamples(3, 5);
    calibrationClass calibration;
    calibrationFitOptions options;
    EXPECT_NE(errorOf([&] { fitCalibration(samples, options, calibration); }).find("3 speakers for 5 folds"),
              std::string::npos);
    options.folds = 3;
    EXPECT_EQ(errorOf([&] { fitCalibration(samples, options, calibration); }), "");
}

TEST(calibrationInputs, fillOneValuePerNamedInputOfEveryLevel) {
    measuredUtterance u = threeWords();
    lowerPredictions lower;
    lower.phone = {{1.0f, 2.0f}, {2.0f, 0.5f, 2.0f}, {1.5f, 1.5f}};
    lower.word = {8, 4, 9};
    std::vector<float> in;
    calibrationInputs(u, LEVEL_PHONE, 1, 1, lower, in);
    const auto& phoneNames = calibrationInputNames(LEVEL_PHONE);
    ASSERT_EQ(in.size(), phoneNames.size());
    auto at = [&](const std::vector<std::string>& names, const std::string& name) {
        return in[static_cast<size_t>(std::find(names.begin(), names.end(), name) - names.begin())];
    };
    EXPECT_EQ(at(phoneNames, "gop"), -4);
    EXPECT_EQ(at(phoneNames, "prevGop"), -1);
    EXPECT_EQ(at(phoneNames, "wordMinGop"), -4);
    EXPECT_EQ(at(phoneNames, "wordInitial"), 0);
    calibrationInputs(u, LEVEL_PHONE, 2, 0, lower, in);
    EXPECT_EQ(at(phoneNames, "wordInitial"), 1);
    calibrationInputs(u, LEVEL_WORD, 1, -1, lower, in);
    const auto& wordNames = calibrationInputNames(LEVEL_WORD);
    ASSERT_EQ(in.size(), wordNames.size());
    EXPECT_FLOAT_EQ(at(wordNames, "phonePredMean"), 1.5f);
    EXPECT_FLOAT_EQ(at(wordNames, "phonePredMin"), 0.5f);
    EXPECT_FLOAT_EQ(at(wordNames, "minGop"), -4);
    calibrationInputs(u, LEVEL_SENTENCE, -1, -1, lower, in);
    const auto& sentenceNames = calibrationInputNames(LEVEL_SENTENCE);
    ASSERT_EQ(in.size(), sentenceNames.size());
    EXPECT_FLOAT_EQ(at(sentenceNames, "wordPredMin"), 4);
    EXPECT_FLOAT_EQ(at(sentenceNames, "pauses"), 1);
    EXPECT_FLOAT_EQ(at(sentenceNames, "phonePredLowShare"), 2.0f / 7);
    EXPECT_FLOAT_EQ(at(sentenceNames, "secondsPerWord"), 0.4f);
    // The groups: own, then context, then the lower predictions.
    EXPECT_EQ(calibrationInputGroup(LEVEL_PHONE, 0), 0);
    EXPECT_EQ(calibrationInputGroup(LEVEL_PHONE, static_cast<int32_t>(phoneNames.size()) - 1), 1);
    EXPECT_EQ(calibrationInputGroup(LEVEL_WORD, static_cast<int32_t>(wordNames.size()) - 1), 2);
    EXPECT_EQ(calibrationInputGroup(LEVEL_SENTENCE, static_cast<int32_t>(sentenceNames.size()) - 1), 2);
    EXPECT_EQ(calibrationInputGroup(LEVEL_SENTENCE, 0), 0);
}

}  // namespace
