#include "tools/train.h"

#include "decoder/cmResult.h"
#include "decoder/stateProb.h"
#include "run/recogParam.h"
#include "run/recogTask.h"
#include "tools/tools.h"
#include "run/outputSink.h"
#include "run/utility.h"
#include "testUtil.h"
#include "trainFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace trainFixtures;

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A one-stream set of single-Gaussian models, one per entry of emitting (the
// number of emitting states), with distinct means and slightly different
// self-loops.
macroClass smallSet(const std::vector<int32_t>& emitting) {
    macroClass set;
    set.streamNum = 1;
    set.streamWidth[0] = MODEL_PARAM_NUM;
    for (size_t m = 0; m < emitting.size(); ++m) {
        hmmModel model{};
        model.name = std::string(1, static_cast<char>('a' + m));
        model.stateNum = emitting[m] + 2;
        model.transP[0][1] = 1;
        for (int32_t s = 0; s < emitting[m]; ++s) {
            gaussMixture mix{};
            mix.weight = 1;
            for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) {
                mix.mean[d] = static_cast<float>(m) - 0.5f * static_cast<float>(s) + 0.1f * static_cast<float>(d);
                mix.variance[d] = 1.0f + 0.1f * static_cast<float>(s);
            }
            mix.gconst = gaussConst(mix);
            model.state[s].streamWeight[0] = 1;
            model.state[s].stream[0].mixture.push_back(mix);
            const float stay = 0.5f + 0.1f * static_cast<float>(s);
            model.transP[s + 1][s + 1] = stay;
            model.transP[s + 1][s + 2] = 1 - stay;
        }
        set.models.push_back(model);
    }
    set.modelNum = static_cast<int32_t>(set.models.size());
    return set;
}

std::vector<float> randomFrames(int32_t frameNum, int32_t dim, uint32_t seed) {
    lcgClass rng(seed);
    std::vector<float> frames;
    for (int32_t i = 0; i < frameNum * dim; ++i) frames.push_back(static_cast<float>(rng.next() * 3 - 1));
    return frames;
}

// Log of the sum over every state sequence of the graph, by enumeration.
double bruteForceLogLike(const trainGraphClass& graph, const float* frames, int32_t frameNum, int32_t dim,
                         const macroClass& converted) {
    double total = 0;
    std::function<void(int32_t, int32_t, double)> walk = [&](int32_t state, int32_t t, double logLike) {
        logLike += computeStateLogProb(frames + t * dim, converted, graph.m_model[static_cast<size_t>(state)],
                                       graph.m_state[static_cast<size_t>(state)]);
        if (t + 1 == frameNum) {
            if (graph.m_finalLog[static_cast<size_t>(state)] > -1e9)
                total += std::exp(logLike + graph.m_finalLog[static_cast<size_t>(state)]);
            return;
        }
        for (const trainEdge& e : graph.m_edges)
            if (e.from == state) walk(e.to, t + 1, logLike + e.logProb);
    };
    for (int32_t i = 0; i < graph.stateCount(); ++i)
        if (graph.m_initLog[static_cast<size_t>(i)] > -1e9) walk(i, 0, graph.m_initLog[static_cast<size_t>(i)]);
    return std::log(total);
}

// The files a recognition run of the synthetic language reads, next to a model.
recogParam recognitionParam(const scratchDir& dir, const std::string& macPath, const std::string& countPath) {
    recogParam param;
    param.function = "recog";
    param.language = "english";
    param.macFile = macPath;
    param.modelCountFile = countPath;
    param.wpaFile = dir.write("recog.wpa", wpaText());
    param.tnmFile = dir.write("text.tnm", ".##$\n");
    param.featureConfigFile = dir.write("recog.cfg", featureConfig());
    param.qiYinFile = dir.write("qiyin.txt", "s\nk\n");
    param.phoneRank2scoreParamFile = dir.write("rank.prm", "0.1 1 0\n");
    param.scoreDiscountParamFile = dir.write("discount.prm", "0.5 0.9 0.9 0.9 1 0.95 0.95\n");
    param.comparisonMode = 1;
    param.maxCandidateNum = 1000;
    param.probTh = 100000;
    param.useDescCandidateNum = 0;
    return param;
}

}  // namespace

TEST(trainModels, trainsModelsThatRecognizeHeldOutUtterances) {
    scratchDir dir;
    lcgClass rng(7);
    std::string list = writeUtterances(dir, "train", 40, rng);
    // An utterance far too short for its words is left out of every pass.
    const std::string shortWave = dir.write("short.wav", waveFile(std::vector<int32_t>(1600, 0)));
    list += shortWave + "\tba ki mu\n";
    trainParam param;
    param.listPath = dir.write("train.list", "% synthetic words\n" + list);
    param.lexiconPath = dir.write("words.wpa", wpaText());
    param.featureConfigPath = dir.write("mfcc.cfg", featureConfig());
    param.outputPath = dir.file("words.mac");
    param.mixtureNum = 2;
    param.passNum = 2;
    param.fullContexts = false;  // only the contexts the transcripts use, as --contexts seen
    param.quiet = true;

    testing::internal::CaptureStdout();
    macroClass trained;
    std::string error = errorOf([&] { trained = trainModels(param); });
    std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_EQ(error, "");
    EXPECT_TRUE(contains(printed, "Warning: the wave " + shortWave + " (line 42 of " + param.listPath +
                                      ") has no alignment with its transcript"));
    EXPECT_TRUE(contains(printed, "Right-context models, pass 2 of 2: average log likelihood per frame = "));

    // The written set reads back with the names the English lexicon asks for
    // and the feature kind of the configuration in its header.
    macroClass models;
    models.readMacro(param.outputPath, false);
    EXPECT_EQ(models.optionText, "<VECSIZE> 39 <MFCC_E_D_A> <DIAGC>");
    std::vector<std::string> names;
    models.getModelNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"a+sil", "b+a", "b+i", "i+sil", "k+i", "m+u", "o+sil", "s+o", "sil",
                                               "sp", "u+sil"}));
    for (const hmmModel& model : models.models) {
        EXPECT_EQ(model.stateNum, model.name == "sp" ? 3 : 5) << model.name;
        for (int32_t s = 0; s < model.stateNum - 2; ++s)
            for (int32_t k = 0; k < 3; ++k) {
                const std::vector<gaussMixture>& mixture = model.state[s].stream[k].mixture;
                ASSERT_EQ(mixture.size(), 2u) << model.name;
                float weights = 0;
                for (const gaussMixture& mix : mixture) {
                    EXPECT_NEAR(mix.gconst, gaussConst(mix), 1e-3) << model.name;
                    weights += mix.weight;
                }
                EXPECT_NEAR(weights, 1.0f, 1e-5) << model.name;
            }
    }

    // The count file follows the sorted models; sil opens and closes every
    // utterance that was used.
    std::vector<std::string> counts = readLines(dir.file("words.count"), '%');
    ASSERT_EQ(counts.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        std::vector<std::string> fields = splitString(counts[i], '\t');
        ASSERT_EQ(fields.size(), 2u);
        EXPECT_EQ(fields[0], names[i]);
        if (names[i] != "sp") {
            EXPECT_GT(atoiLike(fields[1]), 0) << names[i];
        }
        if (names[i] == "sil") {
            EXPECT_EQ(atoiLike(fields[1]), 80);
        }
    }

    // Held-out utterances, each among five candidate texts of its length.
    lcgClass testRng(99);
    recogParam base = recognitionParam(dir, param.outputPath, dir.file("words.count"));
    int32_t right = 0;
    const int32_t tests = 8;
    for (int32_t i = 0; i < tests; ++i) {
        std::vector<std::string> spoken = randomWords(2 + testRng.below(2), testRng);
        std::string truth = joinWords(spoken);
        std::vector<std::string> candidates{truth};
        while (candidates.size() < 5) {
            std::string other = joinWords(randomWords(static_cast<int32_t>(spoken.size()), testRng));
            if (std::find(candidates.begin(), candidates.end(), other) == candidates.end())
                candidates.insert(candidates.begin() + testRng.below(static_cast<int32_t>(candidates.size()) + 1),
                                  other);
        }
        recogParam run = base;
        run.wavFile = dir.write("test" + std::to_string(i) + ".wav", waveFile(synthesize(spoken, testRng)));
        run.txtFile = joinStrings(candidates, "#");
        cmResult result;
        testing::internal::CaptureStdout();
        error = errorOf([&] { recognizeWaveFile(run, result); });
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(error, "");
        ASSERT_EQ(result.texts.size(), 1u);
        EXPECT_EQ(result.texts[0], truth);
        if (result.texts[0] == truth) ++right;
    }
    EXPECT_EQ(right, tests);
}

TEST(trainModels, aPamLexiconGivesItsOwnModelNames) {
    scratchDir dir;
    lcgClass rng(21);
    trainParam param;
    param.listPath = dir.write("train.list", writeUtterances(dir, "u", 20, rng));
    param.lexiconPath = dir.write("units.pam", "ba\tb+a a\nbi\tb+i i\nki\tk i\nmu\tm u\nso\ts o\n");
    param.featureConfigPath = dir.write("mfcc.cfg", featureConfig());
    param.outputPath = dir.file("units.macb");
    param.countPath = dir.file("units.counts");
    param.passNum = 1;
    param.optionalSp = false;
    testing::internal::CaptureStdout();
    std::string error = errorOf([&] { trainModels(param); });
    std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_EQ(error, "");
    EXPECT_FALSE(contains(printed, "short pause"));
    macroClass models;
    models.readMacro(param.outputPath, true);
    std::vector<std::string> names;
    models.getModelNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b+a", "b+i", "i", "k", "m", "o", "s", "sil", "u"}));
    EXPECT_EQ(readLines(param.countPath, '%').size(), names.size());
}

TEST(forwardBackward, sumsOverEveryStateSequenceAndCountsEachFrameOnce) {
    // sil-like model a (3 states), optional b (1 state), then a or c (2 states).
    macroClass set = smallSet({3, 1, 2});
    macroClass converted = set;
    converted.convertModels();
    std::vector<trainSegment> segments(3);
    segments[0].alternatives = {{0}};
    segments[1].optional = true;
    segments[1].alternatives = {{1}};
    segments[2].alternatives = {{0}, {2}};
    trainGraphClass graph;
    graph.build(segments, set);
    ASSERT_EQ(graph.stateCount(), 3 + 1 + 3 + 2);
    EXPECT_GT(graph.m_initLog[0], -1);
    for (int32_t i = 1; i < graph.stateCount(); ++i) EXPECT_LT(graph.m_initLog[static_cast<size_t>(i)], -1e9);
    // Only the last state of each final alternative may end the utterance.
    EXPECT_GT(graph.m_finalLog[6], -1e9);
    EXPECT_GT(graph.m_finalLog[8], -1e9);
    EXPECT_LT(graph.m_finalLog[2], -1e9);

    const int32_t frameNum = 9;
    std::vector<float> frames = randomFrames(frameNum, MODEL_PARAM_NUM, 3);
    trainAccumClass acc;
    acc.reset(set);
    double logLike = forwardBackward(graph, frames.data(), frameNum, MODEL_PARAM_NUM, converted, 1e9, &acc);
    EXPECT_NEAR(logLike, bruteForceLogLike(graph, frames.data(), frameNum, MODEL_PARAM_NUM, converted), 1e-4);

    // Every frame is in exactly one state; every transition leaves one.
    double occupancy = 0, transitions = 0;
    for (size_t m = 0; m < acc.m_mix.size(); ++m) {
        for (const auto& state : acc.m_mix[m])
            for (const mixtureAccum& ma : state[0]) occupancy += ma.occ;
        for (const auto& row : acc.m_trans[m])
            for (double c : row) transitions += c;
    }
    EXPECT_NEAR(occupancy, frameNum, 1e-6);
    EXPECT_NEAR(transitions, frameNum, 1e-6);  // T - 1 steps and the final exit
    EXPECT_NEAR(acc.m_entries[0] + acc.m_entries[2], 2.0, 1e-6);  // first a, then a or c
    EXPECT_EQ(acc.m_utterances, 1);

    // Too few frames for the shortest sequence (3 + 2 states): no alignment.
    EXPECT_LT(forwardBackward(graph, frames.data(), 4, MODEL_PARAM_NUM, converted, 1e9, nullptr), -1e9);
    EXPECT_GT(forwardBackward(graph, frames.data(), 5, MODEL_PARAM_NUM, converted, 1e9, nullptr), -1e9);
}

TEST(updateModels, aSingleStateTakesTheSampleStatisticsWithTheVarianceFloor) {
    macroClass set = smallSet({1});
    macroClass converted = set;
    converted.convertModels();
    std::vector<trainSegment> segments(1);
    segments[0].alternatives = {{0}};
    trainGraphClass graph;
    graph.build(segments, set);
    const int32_t frameNum = 20;
    std::vector<float> frames = randomFrames(frameNum, MODEL_PARAM_NUM, 11);
    for (int32_t t = 0; t < frameNum; ++t) frames[static_cast<size_t>(t * MODEL_PARAM_NUM + 5)] = 2.5f;  // constant
    trainAccumClass acc;
    acc.reset(set);
    forwardBackward(graph, frames.data(), frameNum, MODEL_PARAM_NUM, converted, 1e9, &acc);
    std::vector<float> floor(MODEL_PARAM_NUM, 0.01f);
    EXPECT_EQ(updateModels(set, acc, floor, 3.0), 0);

    const gaussMixture& mix = set.models[0].state[0].stream[0].mixture[0];
    for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) {
        double sum = 0, sq = 0;
        for (int32_t t = 0; t < frameNum; ++t) {
            const double v = frames[static_cast<size_t>(t * MODEL_PARAM_NUM + d)];
            sum += v;
            sq += v * v;
        }
        const double mean = sum / frameNum;
        EXPECT_NEAR(mix.mean[d], mean, 1e-5);
        EXPECT_NEAR(mix.variance[d], std::max(sq / frameNum - mean * mean, 0.01), 1e-5);
    }
    EXPECT_FLOAT_EQ(mix.variance[5], 0.01f);
    EXPECT_NEAR(mix.gconst, gaussConst(mix), 1e-5);
    // 19 self-loops and one exit.
    EXPECT_NEAR(set.models[0].transP[1][1], 19.0 / 20.0, 1e-6);
    EXPECT_NEAR(set.models[0].transP[1][2], 1.0 / 20.0, 1e-6);

    // A state seen for fewer frames than the minimum keeps its parameters.
    macroClass untouched = smallSet({1});
    EXPECT_EQ(updateModels(untouched, acc, floor, 100.0), 1);
    EXPECT_EQ(untouched.models[0].state[0].stream[0].mixture[0].mean[0], smallSet({1}).models[0].state[0].stream[0].mixture[0].mean[0]);
}

TEST(splitMixtures, splitsTheHeaviestComponentUntilTheTarget) {
    macroClass set = smallSet({3});
    const gaussMixture original = set.models[0].state[0].stream[0].mixture[0];
    splitMixtures(set, 3);
    const std::vector<gaussMixture>& mixture = set.models[0].state[0].stream[0].mixture;
    ASSERT_EQ(mixture.size(), 3u);
    // First split: 0.5 and 0.5; second: the first of them again.
    EXPECT_FLOAT_EQ(mixture[0].weight, 0.25f);
    EXPECT_FLOAT_EQ(mixture[1].weight, 0.5f);
    EXPECT_FLOAT_EQ(mixture[2].weight, 0.25f);
    const float sd = std::sqrt(original.variance[0]);
    EXPECT_NEAR(mixture[1].mean[0], original.mean[0] - 0.2f * sd, 1e-6);
    EXPECT_NEAR(mixture[0].mean[0], original.mean[0] + 0.4f * sd, 1e-6);
    EXPECT_NEAR(mixture[2].mean[0], original.mean[0], 1e-6);
    for (int32_t s = 1; s < 3; ++s) EXPECT_EQ(set.models[0].state[s].stream[0].mixture.size(), 3u);
    splitMixtures(set, 2);  // already more: unchanged
    EXPECT_EQ(set.models[0].state[0].stream[0].mixture.size(), 3u);
    EXPECT_NE(errorOf([&] { splitMixtures(set, 33); }), "");
}

TEST(trainLexicon, namesModelsAsTheRecognizerDoes) {
    EXPECT_EQ(englishModelNames("h_e_l_o"), (std::vector<std::string>{"h+e", "e+l", "l+o", "o+sil"}));
    EXPECT_EQ(englishModelNames("sil"), (std::vector<std::string>{"sil"}));
    EXPECT_EQ(monophoneName("h+e"), "h");
    EXPECT_EQ(monophoneName("sil"), "sil");

    scratchDir dir;
    trainLexiconClass english;
    english.read(dir.write("w.wpa", "hello\th_e_l_o#h_a_l_o\nhi\th_ay\n"));
    ASSERT_EQ(english.find("hello"), 0);
    ASSERT_EQ(english.m_prons[0].size(), 2u);
    EXPECT_EQ(english.m_prons[0][1], (std::vector<std::string>{"h+a", "a+l", "l+o", "o+sil"}));
    EXPECT_EQ(english.find("bye"), -1);

    // A pam file keeps its names; a repeated unit adds an alternative.
    trainLexiconClass pam;
    pam.read(dir.write("units.pam", "% units\nba\tb+a a\nba  b+a a+sil\nma\tm+a a\n"));
    EXPECT_FALSE(pam.m_english);
    ASSERT_EQ(pam.find("ba"), 0);
    EXPECT_EQ(pam.m_prons[0], (std::vector<std::vector<std::string>>{{"b+a", "a"}, {"b+a", "a+sil"}}));
    EXPECT_TRUE(contains(errorOf([&] { pam.read(dir.write("bad.pam", "ba b+a a\nma\n")); }),
                         "line 2 of " + dir.file("bad.pam") + " gives the unit \"ma\" no models"));
    EXPECT_TRUE(contains(errorOf([&] { pam.read(dir.file("none.pam")); }), "cannot open the lexicon"));
    EXPECT_TRUE(contains(errorOf([&] { english.read(dir.write("empty.wpa", "x\ta__b\n")); }), "has an empty phone"));
}

TEST(trainModels, reportsBadListsMissingWordsAndUnreadableWaves) {
    scratchDir dir;
    lcgClass rng(5);
    trainParam param;
    param.lexiconPath = dir.write("words.wpa", wpaText());
    param.featureConfigPath = dir.write("mfcc.cfg", featureConfig());
    param.outputPath = dir.file("out.mac");
    const std::string wave = dir.write("a.wav", waveFile(synthesize({"ba"}, rng)));

    auto errorWithList = [&](const std::string& listText) {
        param.listPath = dir.write("list.txt", listText);
        testing::internal::CaptureStdout();
        std::string e = errorOf([&] { trainModels(param); });
        testing::internal::GetCapturedStdout();
        return e;
    };
    EXPECT_TRUE(contains(errorWithList(wave + " ba\n"), "line 1 of " + dir.file("list.txt") + " has no tab"));
    EXPECT_TRUE(contains(errorWithList(wave + "\tba\n\n" + wave + "\t  \n"), "empty transcript at line 3 of"));
    EXPECT_TRUE(contains(errorWithList("% nothing\n"), "holds no utterance"));
    std::string missing = errorWithList(wave + "\tBA xx\n" + wave + "\tyy xx\n");
    EXPECT_TRUE(contains(missing, "2 words of the training list " + dir.file("list.txt") +
                                      " are not in the lexicon " + param.lexiconPath + ": \"xx\" (line 1), \"yy\" (line 2)"))
        << missing;
    EXPECT_TRUE(contains(errorWithList(wave + "\tba\n" + dir.file("gone.wav") + "\tki\n"),
                         "cannot read the wave " + dir.file("gone.wav") + " named at line 2 of"));
    const std::string notWave = dir.write("b.wav", "not a wave at all");
    EXPECT_TRUE(contains(errorWithList(notWave + "\tba\n"), "cannot use the wave " + notWave + " named at line 1 of"));

    // A transcript far too long for one alignment is refused before its tables are allocated.
    std::string manyWords;
    for (int32_t i = 0; i < 1700; ++i) manyWords += " ba";
    const std::string longWave = dir.write("long.wav", waveFile(std::vector<int32_t>(16000 * 20, 0)));
    EXPECT_TRUE(contains(errorWithList(longWave + "\t" + manyWords + "\n"),
                         "cannot align the wave " + longWave + " (line 1 of"));

    // Two interleaved channels would pass for one channel at twice the rate.
    const std::string stereo = dir.write("stereo.wav", waveFile(synthesize({"ba", "ba"}, rng), 2));
    EXPECT_TRUE(contains(errorWithList(wave + "\tba\n" + stereo + "\tba\n"),
                         "the wave " + stereo + " named at line 2 of " + dir.file("list.txt") +
                             " has 2 channels; training takes one-channel recordings only"));

    param.outputPath = dir.file("out.txt");
    EXPECT_TRUE(contains(errorWithList(wave + "\tba\n"), "must end in .mac or .macb"));
    param.outputPath = dir.file("out.mac");
    param.mixtureNum = 33;
    EXPECT_TRUE(contains(errorWithList(wave + "\tba\n"), "33 components per stream is outside 1 to 32"));
}

TEST(toolTrain, printsItsUsageAndGivesStatusTwoForIncompleteArguments) {
    const std::vector<std::string> base = {"-C", "cfg", "-L", "lex.wpa"};
    auto status = [&](std::vector<std::string> extra, std::string& printed) {
        std::vector<std::string> args = base;
        args.insert(args.end(), extra.begin(), extra.end());
        scopedOutputCapture capture;
        int s = toolTrain(args);
        printed = capture.text();
        return s;
    };
    std::string printed;
    {
        scopedOutputCapture capture;
        EXPECT_EQ(toolTrain({"-C", "cfg", "list", "out.mac"}), 2);
        EXPECT_TRUE(contains(capture.text(), "Usage: recognize-tool train -C featureConfig -L lexicon")) << capture.text();
    }
    EXPECT_EQ(status({"-m", "two", "list", "out.mac"}, printed), 2);
    EXPECT_TRUE(contains(printed, "Unknown, incomplete or malformed option -m"));
    EXPECT_EQ(status({"-j", "0", "list", "out.mac"}, printed), 2);
    EXPECT_EQ(status({"--contexts", "some", "list", "out.mac"}, printed), 2);
    // The steps of a sharded training: a shard must exist, a pass goes with
    // --accumulate, and each step has its own files.
    EXPECT_EQ(status({"--accumulate", "4/3", "--pass", "0", "list", "-", "acc"}, printed), 2);
    EXPECT_EQ(status({"--accumulate", "0/3", "--pass", "0", "list", "-", "acc"}, printed), 2);
    EXPECT_EQ(status({"--accumulate", "1/3", "list", "-", "acc"}, printed), 2);
    EXPECT_EQ(status({"--pass", "1", "list", "out.mac"}, printed), 2);
    EXPECT_EQ(status({"--merge", "list", "in.mac", "out.mac"}, printed), 2);
    EXPECT_EQ(status({"--passes", "list", "extra"}, printed), 2);
    EXPECT_EQ(status({"--help"}, printed), 0);
    EXPECT_TRUE(contains(printed, "--accumulate K/N"));
}
