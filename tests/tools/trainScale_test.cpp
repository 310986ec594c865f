// Training at scale: full context sets, threads, shards with accumulator
// files, the driver script, the model header and the progress display.
#include "tools/train.h"

#include "decoder/macro.h"
#include "frontend/CMel.h"
#include "run/outputSink.h"
#include "run/utility.h"
#include "testUtil.h"
#include "trainFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>

using namespace trainFixtures;

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct toolRun {
    int status = -1;
    std::string printed, error;
};

// recognize-tool train in this process, its lines captured.
toolRun train(std::vector<std::string> options, const std::vector<std::string>& more) {
    options.insert(options.end(), more.begin(), more.end());
    toolRun run;
    scopedOutputCapture capture;
    run.error = errorOf([&] { run.status = toolTrain(options); });
    run.printed = capture.text();
    return run;
}

macroClass trainQuietly(const trainParam& param, std::string* printed = nullptr) {
    macroClass models;
    scopedOutputCapture capture;
    std::string error = errorOf([&] { models = trainModels(param); });
    EXPECT_EQ(error, "");
    if (printed) *printed = capture.text();
    return models;
}

// Every parameter but the name, bit for bit.
bool sameParameters(const hmmModel& a, const hmmModel& b, int32_t streams) {
    if (a.stateNum != b.stateNum || std::memcmp(a.transP, b.transP, sizeof a.transP) != 0) return false;
    for (int32_t s = 0; s < a.stateNum - 2; ++s)
        for (int32_t k = 0; k < streams; ++k) {
            const std::vector<gaussMixture>& x = a.state[s].stream[k].mixture;
            const std::vector<gaussMixture>& y = b.state[s].stream[k].mixture;
            if (x.size() != y.size() || std::memcmp(x.data(), y.data(), x.size() * sizeof(gaussMixture)) != 0)
                return false;
        }
    return true;
}

std::map<std::string, const hmmModel*> byName(const macroClass& models) {
    std::map<std::string, const hmmModel*> table;
    for (const hmmModel& m : models.models) table[m.name] = &m;
    return table;
}

const std::vector<std::string> PHONES = {"a", "b", "i", "k", "m", "o", "s", "u"};
const std::set<std::string> SEEN_CONTEXTS = {"a+sil", "b+a", "b+i", "i+sil", "k+i", "m+u", "o+sil", "s+o", "u+sil"};

}  // namespace

TEST(trainContexts, theFullSetHoldsEveryRightContextAndUnseenOnesKeepTheirMonophone) {
    scratchDir dir;
    trainParam param = corpusParam(dir, 24, 31);
    std::string printed;
    const macroClass trained = trainQuietly(param, &printed);

    std::vector<std::string> expected{"sil", "sp"};
    for (const std::string& p : PHONES) {
        expected.push_back(p + "+sil");
        for (const std::string& q : PHONES) expected.push_back(p + "+" + q);
    }
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> names;
    trained.getModelNames(names);
    ASSERT_EQ(names, expected);
    EXPECT_TRUE(contains(printed, "\tCloned 74 right-context models from their monophones; 63 of them occur in no "
                                  "transcript and keep their monophone's parameters\n"))
        << printed;
    // Models no transcript uses are never entered.
    for (const std::string& line : readLines(dir.file("words.count"), '%')) {
        std::vector<std::string> fields = splitString(line, '\t');
        ASSERT_EQ(fields.size(), 2u);
        if (SEEN_CONTEXTS.count(fields[0])) {
            EXPECT_GT(atoiLike(fields[1]), 0) << line;
        } else if (fields[0] != "sil" && fields[0] != "sp") {
            EXPECT_EQ(fields[1], "0") << line;
        }
    }

    // The same plan step by step, keeping the monophones as they are when the
    // context models are cloned from them.
    scopedOutputSilence silence;
    const trainSetupClass setup = prepareTraining(param);
    EXPECT_EQ(setup.m_unseenContexts, 63);
    int32_t dim = 0;
    const std::vector<trainUtterance> data = loadTrainingData(setup, 0, setup.m_entries.size(), dim);
    macroClass models = nextModelSet(setup, 0, macroClass(), accumulatePass(setup, 0, macroClass(), data, dim), 0);
    macroClass monophones;
    for (int32_t pass = 1; pass <= setup.passCount(); ++pass) {
        const trainStatsClass stats = accumulatePass(setup, pass, models, data, dim);
        if (pass < setup.passCount() && setup.m_plan[static_cast<size_t>(pass) + 1].change == trainStep::CLONE_CONTEXTS) {
            trainSetupClass noClone = setup;
            noClone.m_plan[static_cast<size_t>(pass) + 1].change = trainStep::NO_CHANGE;
            monophones = nextModelSet(noClone, pass, models, stats, 0);
        }
        models = nextModelSet(setup, pass, models, stats, 0);
    }
    ASSERT_EQ(monophones.modelNum, 10);  // sil, sp and the eight phones
    const auto mono = byName(monophones);
    const auto stepwise = byName(models);
    int32_t unseen = 0;
    for (const hmmModel& model : trained.models) {
        ASSERT_TRUE(stepwise.count(model.name));
        EXPECT_TRUE(sameParameters(model, *stepwise.at(model.name), 3)) << model.name;
        if (model.name == "sil" || model.name == "sp" || SEEN_CONTEXTS.count(model.name)) continue;
        ++unseen;
        EXPECT_TRUE(sameParameters(model, *mono.at(monophoneName(model.name)), 3)) << model.name;
        EXPECT_FALSE(sameParameters(model, *mono.at(monophoneName(model.name) == "a" ? "b" : "a"), 3));
    }
    EXPECT_EQ(unseen, 63);
    // Seen contexts moved away from their monophone in their own pass.
    EXPECT_FALSE(sameParameters(*stepwise.at("b+a"), *mono.at("b"), 3));
}

TEST(trainContexts, seenContextsGiveTheSetOfTheTranscriptsWithTheFullSetsParameters) {
    scratchDir dir;
    trainParam param = corpusParam(dir, 24, 32);
    param.mixtureNum = 2;
    const macroClass full = trainQuietly(param);
    param.fullContexts = false;
    param.outputPath = dir.file("seen.mac");
    std::string printed;
    const macroClass seen = trainQuietly(param, &printed);

    std::vector<std::string> names;
    seen.getModelNames(names);
    std::vector<std::string> expected(SEEN_CONTEXTS.begin(), SEEN_CONTEXTS.end());
    expected.push_back("sil");
    expected.push_back("sp");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
    EXPECT_TRUE(contains(printed, "\tCloned 11 right-context models from their monophones\n")) << printed;
    // The models of the unheard contexts take no part in any alignment, so
    // the others come out the same to the last bit.
    const auto fullModels = byName(full);
    for (const hmmModel& model : seen.models)
        EXPECT_TRUE(sameParameters(model, *fullModels.at(model.name), 3)) << model.name;
}

TEST(trainConcurrency, fourThreadsTrainTheModelsOfOne) {
    scratchDir dir;
    trainParam param = corpusParam(dir, 30, 33);
    param.mixtureNum = 2;
    param.outputPath = dir.file("one.mac");
    trainQuietly(param);
    param.threadNum = 4;
    param.outputPath = dir.file("four.mac");
    trainQuietly(param);
    EXPECT_EQ(readWholeFile(dir.file("one.mac")), readWholeFile(dir.file("four.mac")));
    EXPECT_EQ(readWholeFile(dir.file("one.count")), readWholeFile(dir.file("four.count")));
}

TEST(trainConcurrency, theStatisticsOfAPassAreTheSameInAnyNumberOfThreads) {
    scratchDir dir;
    trainParam param = corpusParam(dir, 12, 34);
    scopedOutputSilence silence;
    trainSetupClass setup = prepareTraining(param);
    int32_t dim = 0;
    const std::vector<trainUtterance> data = loadTrainingData(setup, 0, setup.m_entries.size(), dim);
    const macroClass models =
        nextModelSet(setup, 0, macroClass(), accumulatePass(setup, 0, macroClass(), data, dim), 0);
    const trainStatsClass one = accumulatePass(setup, 1, models, data, dim);
    ASSERT_EQ(one.m_utterances, 12);
    // More threads than utterances leaves some without work.
    for (int32_t threads : {2, 3, 16}) {
        setup.m_param.threadNum = threads;
        const trainStatsClass many = accumulatePass(setup, 1, models, data, dim);
        EXPECT_TRUE(many.m_values == one.m_values) << threads << " threads";
        EXPECT_TRUE(many.m_frameSum == one.m_frameSum && many.m_frameSq == one.m_frameSq) << threads;
        EXPECT_TRUE(many.m_logLike == one.m_logLike) << threads;
        EXPECT_EQ(many.m_frames, one.m_frames);
    }
    // Features computed in threads are those of one thread.
    setup.m_param.threadNum = 4;
    const std::vector<trainUtterance> threaded = loadTrainingData(setup, 0, setup.m_entries.size(), dim);
    ASSERT_EQ(threaded.size(), data.size());
    for (size_t i = 0; i < data.size(); ++i) EXPECT_TRUE(threaded[i].features == data[i].features) << i;
}

TEST(trainShards, threeShardsPassByPassGiveTheUnshardedModels) {
    scratchDir dir;
    trainParam param = corpusParam(dir, 25, 41);
    param.mixtureNum = 2;
    const std::vector<std::string> options = corpusOptions(param);
    ASSERT_EQ(train(options, {param.listPath, dir.file("whole.mac")}).status, 0);

    toolRun passes = train(options, {"--passes", param.listPath});
    ASSERT_EQ(passes.status, 0) << passes.error;
    const int32_t last = atoiLike(passes.printed);
    EXPECT_EQ(passes.printed, "4\n");  // monophones, with sp, contexts, two components
    std::string in = "-";
    for (int32_t pass = 0; pass <= last; ++pass) {
        const std::string p = std::to_string(pass);
        for (int32_t k = 1; k <= 3; ++k) {
            toolRun acc = train(options, {"--accumulate", std::to_string(k) + "/3", "--pass", p, param.listPath, in,
                                          dir.file("acc." + p + "." + std::to_string(k))});
            ASSERT_EQ(acc.status, 0) << acc.error;
        }
        const std::string out = pass < last ? dir.file("pass" + p + ".macb") : dir.file("sharded.mac");
        // Any order of the accumulators gives the same sums.
        toolRun merge = train(options, {"--merge", param.listPath, in, dir.file("acc." + p + ".3"),
                                        dir.file("acc." + p + ".1"), dir.file("acc." + p + ".2"), out});
        ASSERT_EQ(merge.status, 0) << merge.error;
        if (pass > 0) {
            EXPECT_TRUE(contains(merge.printed, ", pass ")) << merge.printed;
        }
        in = out;
    }
    EXPECT_EQ(readWholeFile(dir.file("whole.mac")), readWholeFile(dir.file("sharded.mac")));
    EXPECT_EQ(readWholeFile(dir.file("whole.count")), readWholeFile(dir.file("sharded.count")));

    // A shard's list entries are its own; every entry is in one shard.
    for (size_t n : {0u, 1u, 2u, 7u, 25u})
        for (int32_t count : {1, 2, 3, 8}) {
            size_t covered = 0;
            for (int32_t k = 1; k <= count; ++k) {
                size_t first = 0, end = 0;
                shardRange(n, k, count, first, end);
                EXPECT_EQ(first, covered);
                EXPECT_LE(end - first, n / static_cast<size_t>(count) + 1);
                covered = end;
            }
            EXPECT_EQ(covered, n);
        }
}

TEST(trainShards, aMergeRefusesAccumulatorsThatDoNotBelongTogether) {
    scratchDir dir;
    trainParam param = corpusParam(dir, 9, 42);
    const std::vector<std::string> options = corpusOptions(param);
    auto accumulate = [&](const std::vector<std::string>& opts, const std::string& shard, const std::string& pass,
                          const std::string& in, const std::string& name) {
        toolRun run = train(opts, {"--accumulate", shard, "--pass", pass, param.listPath, in, dir.file(name)});
        EXPECT_EQ(run.status, 0) << run.error;
        return dir.file(name);
    };
    const std::string a1 = accumulate(options, "1/2", "0", "-", "a1"), a2 = accumulate(options, "2/2", "0", "-", "a2");
    const std::string flat = dir.file("flat.mac");
    ASSERT_EQ(train(options, {"--merge", param.listPath, "-", a1, a2, flat}).status, 0);
    const std::string b1 = accumulate(options, "1/2", "1", flat, "b1");

    auto mergeError = [&](const std::vector<std::string>& opts, const std::vector<std::string>& accs,
                          const std::string& in) {
        std::vector<std::string> args{"--merge", param.listPath, in};
        args.insert(args.end(), accs.begin(), accs.end());
        args.push_back(dir.file("out.mac"));
        return train(opts, args).error;
    };
    EXPECT_TRUE(contains(mergeError(options, {a1}, "-"), "1 accumulators of pass 0 given; shards 2 of 2 are missing"));
    EXPECT_TRUE(contains(mergeError(options, {a1, a1}, "-"), "repeats shard 1 of 2"));
    EXPECT_TRUE(contains(mergeError(options, {b1, a2}, flat), "holds shard 2 of 2 of pass 0"));
    EXPECT_TRUE(contains(mergeError(options, {a1, a2}, flat), "pass 0 starts from no model set"));
    // Statistics of pass 1 gathered with another model set.
    const std::string b2 = accumulate(options, "2/2", "1", flat, "b2");
    const std::string other = dir.file("other.mac");
    ASSERT_EQ(train(options, {"--merge", param.listPath, flat, b1, b2, other}).status, 0);
    EXPECT_TRUE(contains(mergeError(options, {b1, b2}, other), "were gathered with another model set than " + other));
    // Another setting is another training.
    std::vector<std::string> twoPasses = options;
    twoPasses.push_back("-i");
    twoPasses.push_back("2");
    EXPECT_TRUE(contains(mergeError(twoPasses, {a1, a2}, "-"), "belongs to another training"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.mac")));
}

namespace {

uint64_t fnv64(const std::string& bytes, size_t n) {
    uint64_t h = 14695981039346656037ull;
    for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(bytes[i])) * 1099511628211ull;
    return h;
}

// The bytes with their last eight replaced by the checksum of the rest.
std::string resealed(std::string bytes) {
    const uint64_t h = fnv64(bytes, bytes.size() - 8);
    for (int i = 0; i < 8; ++i) bytes[bytes.size() - 8 + static_cast<size_t>(i)] = static_cast<char>((h >> (8 * i)) & 0xff);
    return bytes;
}

void putU32At(std::string& bytes, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xff);
}

// Statistics of two models (three states with two components, one state
// with one) in one stream, with values of every sign and size.
trainStatsClass sampleStats() {
    macroClass set;
    set.streamNum = 1;
    set.streamWidth[0] = MODEL_PARAM_NUM;
    for (int32_t emitting : {3, 1}) {
        hmmModel model{};
        model.name = emitting == 3 ? "k+a" : "sp";
        model.stateNum = emitting + 2;
        for (int32_t s = 0; s < emitting; ++s) model.state[s].stream[0].mixture.resize(emitting == 3 ? 2 : 1);
        set.models.push_back(model);
    }
    set.modelNum = 2;
    trainStatsClass stats;
    stats.shape(set, 13);
    for (size_t i = 0; i < stats.m_values.size(); ++i)
        stats.m_values[i] = toExact((i % 3 == 0 ? -1.0 : 1.0) * std::ldexp(1.0 + static_cast<double>(i), static_cast<int>(i % 60) - 20));
    for (size_t d = 0; d < 13; ++d) {
        stats.m_frameSum[d] = toExact(-3.25 * static_cast<double>(d));
        stats.m_frameSq[d] = toExact(1e9 + static_cast<double>(d));
    }
    stats.m_pass = 3;
    stats.m_shardIndex = 2;
    stats.m_shardCount = 5;
    stats.m_settingsKey = 0x0123456789abcdefull;
    stats.m_logLike = toExact(-123456.75);
    stats.m_frames = 4000;
    stats.m_allFrames = 4100;
    stats.m_utterances = 17;
    stats.m_skipped = 1;
    return stats;
}

}  // namespace

TEST(trainStatsFile, readsBackWhatItWrote) {
    scratchDir dir;
    const trainStatsClass stats = sampleStats();
    writeTrainStats(dir.file("acc"), stats);
    const trainStatsClass back = readTrainStats(dir.file("acc"));
    EXPECT_EQ(back.m_pass, 3);
    EXPECT_EQ(back.m_shardIndex, 2);
    EXPECT_EQ(back.m_shardCount, 5);
    EXPECT_EQ(back.m_settingsKey, stats.m_settingsKey);
    EXPECT_EQ(back.m_modelKey, stats.m_modelKey);
    EXPECT_EQ(back.m_dim, 13);
    EXPECT_EQ(back.m_streamNum, 1);
    EXPECT_EQ(back.m_emitting, stats.m_emitting);
    EXPECT_EQ(back.m_mixtures, stats.m_mixtures);
    EXPECT_EQ(back.m_valueStart, stats.m_valueStart);
    EXPECT_TRUE(back.m_values == stats.m_values);
    EXPECT_TRUE(back.m_frameSum == stats.m_frameSum && back.m_frameSq == stats.m_frameSq);
    EXPECT_TRUE(back.m_logLike == stats.m_logLike);
    EXPECT_EQ(back.m_frames, 4000);
    EXPECT_EQ(back.m_allFrames, 4100);
    EXPECT_EQ(back.m_utterances, 17);
    EXPECT_EQ(back.m_skipped, 1);
    // Per model: entries, two transitions per row, 27 values per component.
    EXPECT_EQ(back.m_values.size(), (1 + 6 + 3 * 2 * 27) + (1 + 2 + 27u));
}

TEST(trainStatsFile, refusesDamagedFilesBeforeAllocatingForThem) {
    scratchDir dir;
    writeTrainStats(dir.file("acc"), sampleStats());
    const std::string good = readWholeFile(dir.file("acc"));
    auto errorFor = [&](const std::string& bytes) {
        const std::string path = dir.write("bad", bytes);
        return errorOf([&] { readTrainStats(path); });
    };
    EXPECT_TRUE(contains(errorFor(""), "is not an accumulator file"));
    EXPECT_TRUE(contains(errorFor("RECOGACX" + good.substr(8)), "is not an accumulator file"));
    // Truncations are refused whatever field they end in: every length up to
    // the sizes of the second model, then lengths spread over the values and
    // each of the last bytes (without an error log for each).
    configureErrorLog(false, false);
    for (size_t n = 0; n < good.size(); n += n < 130 || n + 10 > good.size() ? 1 : 37) {
        const std::string e = errorFor(good.substr(0, n));
        EXPECT_TRUE(contains(e, "truncated") || contains(e, "not an accumulator file")) << n << ": " << e;
    }
    configureErrorLog(true, false);
    std::string flipped = good;
    flipped[good.size() / 2] ^= 0x10;
    EXPECT_TRUE(contains(errorFor(flipped), "its checksum does not match"));

    // Files whose checksum is right but whose sizes lie.
    std::string version = good;
    putU32At(version, 8, 2);
    EXPECT_TRUE(contains(errorFor(resealed(version)), "has version 2; this program reads version 1"));
    std::string manyModels = good;
    putU32At(manyModels, 48, 0xfffffff0u);
    EXPECT_TRUE(contains(errorFor(resealed(manyModels)), "truncated: the model sizes needs 17179869120 bytes"));
    std::string bigMixture = good;
    putU32At(bigMixture, 92 + 2 * 4, 33);  // the first state's components, after two emitting counts
    EXPECT_TRUE(contains(errorFor(resealed(bigMixture)), "malformed: the components of a stream is 33, not 1 to 32"));
    std::string moreStates = good;
    putU32At(moreStates, 92, 4);
    EXPECT_TRUE(contains(errorFor(resealed(moreStates)), "the emitting states of a model is 4"));
    std::string longer = good.substr(0, good.size() - 8) + std::string(16, '\0') + good.substr(good.size() - 8);
    EXPECT_TRUE(contains(errorFor(resealed(longer)), "its sizes call for"));
    std::string badShard = good;
    putU32At(badShard, 20, 1);  // shard 2 of 1
    EXPECT_TRUE(contains(errorFor(resealed(badShard)), "the shard count is 1, not 2 to"));
}

TEST(exactSum, sumsAreTheSameInAnyOrder) {
    lcgClass rng(77);
    std::vector<double> terms;
    for (int32_t i = 0; i < 2000; ++i)
        terms.push_back((rng.next() - 0.4) * std::ldexp(1.0, static_cast<int>(rng.below(60)) - 30));
    exactSum forward = 0, backward = 0;
    double plain = 0;
    for (double t : terms) {
        forward += toExact(t);
        plain += t;
    }
    for (size_t i = terms.size(); i-- > 0;) backward += toExact(terms[i]);
    EXPECT_TRUE(forward == backward);
    EXPECT_NEAR(fromExact(forward), plain, 1e-9 * std::fabs(plain) + 1e-9);
    // Multiples of 2^-48 are held exactly; finer values round to the nearest.
    EXPECT_EQ(fromExact(toExact(-2.5)), -2.5);
    EXPECT_EQ(fromExact(toExact(std::ldexp(3.0, -48))), std::ldexp(3.0, -48));
    EXPECT_EQ(fromExact(toExact(std::ldexp(1.0, -50))), 0.0);
    EXPECT_TRUE(contains(errorOf([] { toExact(std::nan("")); }), "cannot be summed exactly"));
    EXPECT_TRUE(contains(errorOf([] { toExact(1e30); }), "cannot be summed exactly"));
}

TEST(trainHeader, theModelSetCarriesTheKindOfItsFeatures) {
    EXPECT_EQ(parameterKindName(838), "MFCC_E_D_A");
    for (const char* name : {"MFCC_E_D_A_Z", "MFCC_0_D_A", "FBANK_E", "MELSPEC", "USER_D"})
        EXPECT_EQ(parseParameterKind(parameterKindName(parseParameterKind(name))), parseParameterKind(name)) << name;
    scratchDir dir;
    EXPECT_EQ(modelOptionLine(39, dir.write("z.cfg", "TARGETKIND = MFCC_E_D_A_Z\n")), "<VECSIZE> 39 <MFCC_E_D_A_Z> <DIAGC>");
    // Compression and checksum describe a feature file, not the features.
    EXPECT_EQ(modelOptionLine(39, dir.write("c.cfg", "TARGETKIND=MFCC_0_D_A_C_K\n")), "<VECSIZE> 39 <MFCC_D_A_0> <DIAGC>");
}

TEST(trainScript, parallelShardsOnThisMachineGiveTheUnshardedModels) {
    if (runCommand("command -v parallel >/dev/null 2>&1").status != 0) GTEST_SKIP() << "GNU parallel is not installed";
    scratchDir dir;
    trainParam param = corpusParam(dir, 20, 43);
    param.mixtureNum = 2;
    trainQuietly(param);
    const std::string script = std::string(RECOG_SOURCE_DIR) + "/scripts/train-parallel.sh";
    std::string command = shellQuote(script) + " -n 3 -j 2 -w " + shellQuote(dir.file("work")) + " -T " +
                          shellQuote(programPath("recognize-tool")) + " --";
    for (const std::string& option : corpusOptions(param)) command += " " + shellQuote(option);
    command += " " + shellQuote(param.listPath) + " " + shellQuote(dir.file("parallel.mac")) + " 2>&1";
    commandResult run = runCommand(command);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(contains(run.output, "Right-context models, pass 1 of 1: average log likelihood")) << run.output;
    EXPECT_EQ(readWholeFile(param.outputPath), readWholeFile(dir.file("parallel.mac")));
    EXPECT_EQ(readWholeFile(dir.file("words.count")), readWholeFile(dir.file("parallel.count")));
}

TEST(trainProgress, showsCountsRateAndTimeLeft) {
    EXPECT_EQ(progressLine("Monophones, pass 1 of 3", 10, 40, 5000, 20000, 2.0),
              "Monophones, pass 1 of 3: 10/40 utterances, 2500 frames/s, ETA 0:06");
    // Without a frame total the utterances tell the time left.
    EXPECT_EQ(progressLine("Features", 10, 40, 5000, 0, 2.0), "Features: 10/40 utterances, 2500 frames/s, ETA 0:06");
    EXPECT_EQ(progressLine("Features", 0, 40, 0, 0, 0.5), "Features: 0/40 utterances, 0 frames/s, ETA --:--");
    EXPECT_EQ(progressLine("P", 1, 2, 100, 36100, 10.0), "P: 1/2 utterances, 10 frames/s, ETA 1:00:00");
    EXPECT_EQ(progressLine("P", 2, 2, 100, 100, 1.0), "P: 2/2 utterances, 100 frames/s, ETA 0:00");
}
