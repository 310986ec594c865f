// recognize-tool train: the whole training in one process, or one pass of it
// split over shards of the list (statistics into accumulator files, merged
// into the next model set) for training over several processes or machines.
#include "tools/train.h"
#include "tools/toolArgs.h"
#include "tools/tools.h"

#include "run/outputSink.h"
#include "run/utility.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

const char* const UNIT = "train";

const char* const USAGE =
    "Usage: recognize-tool train -C featureConfig -L lexicon [options] trainList model.mac\n"
    "       recognize-tool train -C featureConfig -L lexicon [options] --passes trainList\n"
    "       recognize-tool train -C featureConfig -L lexicon [options] --accumulate K/N --pass P trainList IN.mac ACC\n"
    "       recognize-tool train -C featureConfig -L lexicon [options] --merge trainList IN.mac ACC... OUT.mac\n"
    "  -C featureConfig  feature configuration, the one the recognizer will use\n"
    "  -L lexicon        English .wpa/.wpab file, or a pam file (\"unit<white>model model ...\")\n"
    "  -m mixtures       Gaussian components per stream of the final models (default 1, at most 32)\n"
    "  -i passes         re-estimation passes per training stage (default 3)\n"
    "  -c countFile      model count file to write (default: the model path with extension \"count\")\n"
    "  -E                endpoint detection before features (the recognizer's useEpd=1)\n"
    "  -n                no optional short pause \"sp\" between words\n"
    "  -f fraction       variance floor as a fraction of the global variance (default 0.01)\n"
    "  -b beam           forward pruning beam in natural-log units (default 250)\n"
    "  -j threads        threads for features and statistics (default: one per core)\n"
    "  --contexts full   English lexicon: every p+q and p+sil of its phones; those no transcript\n"
    "                    uses keep their trained monophone (the default)\n"
    "  --contexts seen   only the right contexts the transcripts use\n"
    "  --quiet           no progress display on standard error\n"
    "  trainList         lines \"wave<TAB>words of the transcript\"; lines beginning with % are comments\n"
    "  model.mac         model file to write: .mac (text) or .macb (binary)\n"
    "Training over several processes or machines, pass by pass (scripts/train-parallel.sh drives it):\n"
    "  --passes          prints the number of the last pass; pass 0 gathers the feature statistics\n"
    "                    of the flat start, passes 1 to the last re-estimate\n"
    "  --accumulate K/N  gathers the statistics of pass P over shard K (1 to N) of the list with the\n"
    "  --pass P          model set IN.mac of that pass (\"-\" for pass 0) into the accumulator file ACC\n"
    "  --merge           adds the accumulators of one pass (every shard once) and writes the model\n"
    "                    set of the next pass to OUT.mac; after the last pass OUT.mac is the trained\n"
    "                    model set and its count file is written too\n"
    "Every step must be given the same options, list, lexicon and configuration; the accumulators\n"
    "carry a fingerprint of them and of their model set, and a merge refuses any mismatch.\n"
    "Exit status: 0 on success, 1 after a reported error, 2 for a usage error.\n";

bool parseNumber(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end != nullptr && *end == '\0' && std::isfinite(value);
}

int usageError(const std::string& message) {
    if (!message.empty()) sinkPrintf("%s\n", message.c_str());
    sinkPrintf("%s", USAGE);
    return 2;
}

macroClass readPassModels(const std::string& path, int32_t pass) {
    macroClass models;
    if (pass == 0) {
        if (path != "-")
            reportError(formatString("Error: pass 0 starts from no model set; give \"-\" instead of %s (line %d of %s)",
                                     path.c_str(), __LINE__, UNIT));
        return models;
    }
    models.readMacro(path, false);
    return models;
}

void writePassModels(const std::string& path, const macroClass& models) {
    const std::string ext = fileExtension(path);
    if (ext == "macb" || ext == "MACB")
        models.writeMacBinary(path);
    else
        models.writeMacText(path);
    sinkPrintf("\t===> Saved %s (%d models)\n", path.c_str(), models.modelNum);
}

void accumulateShard(trainParam param, int32_t shard, int32_t shards, int32_t pass, const std::string& listPath,
                     const std::string& inPath, const std::string& accPath) {
    param.listPath = listPath;
    param.outputPath.clear();
    checkTrainParam(param);
    checkWritablePath(accPath, "accumulator file");
    const trainSetupClass setup = prepareTraining(param);
    if (pass > setup.passCount())
        reportError(formatString("Error: pass %d is past the last pass %d of this training (line %d of %s)", pass,
                                 setup.passCount(), __LINE__, UNIT));
    const macroClass models = readPassModels(inPath, pass);
    size_t first = 0, last = 0;
    shardRange(setup.m_entries.size(), shard, shards, first, last);
    if (first == last)
        sinkPrintf("\tShard %d of %d: none of the %zu list entries\n", shard, shards, setup.m_entries.size());
    else
        sinkPrintf("\tShard %d of %d: list entries %zu to %zu of %zu\n", shard, shards, first + 1, last,
                   setup.m_entries.size());
    int32_t dim = 0;
    const std::vector<trainUtterance> data = loadTrainingData(setup, first, last, dim);
    const int64_t start = clockMs();
    trainStatsClass stats = accumulatePass(setup, pass, models, data, dim);
    stats.m_shardIndex = shard;
    stats.m_shardCount = shards;
    writeTrainStats(accPath, stats);
    sinkPrintf("%4.3f sec: Statistics of pass %d over shard %d of %d (%d utterances aligned, %d skipped)\n",
               elapsedSeconds(start), pass, shard, shards, stats.m_utterances, stats.m_skipped);
    sinkPrintf("\t===> Saved %s\n", accPath.c_str());
}

void mergeShards(trainParam param, const std::string& listPath, const std::string& inPath,
                 const std::vector<std::string>& accPaths, const std::string& outPath) {
    const int64_t start = clockMs();
    param.listPath = listPath;
    param.outputPath = outPath;
    checkTrainParam(param);
    checkWritablePath(outPath, "model file");
    const trainSetupClass setup = prepareTraining(param);

    // One at a time, so that only two accumulators are ever in memory.
    trainStatsClass total;
    std::vector<int32_t> seen;
    for (size_t i = 0; i < accPaths.size(); ++i) {
        trainStatsClass stats = readTrainStats(accPaths[i]);
        if (stats.m_settingsKey != setup.m_settingsKey)
            reportError(formatString("Error: the accumulator %s belongs to another training: its list, lexicon, "
                                     "feature configuration or settings differ from these (line %d of %s)",
                                     accPaths[i].c_str(), __LINE__, UNIT));
        if (i > 0 && (stats.m_pass != total.m_pass || stats.m_shardCount != total.m_shardCount))
            reportError(formatString("Error: the accumulator %s holds shard %d of %d of pass %d; %s holds one of %d "
                                     "of pass %d (line %d of %s)",
                                     accPaths[i].c_str(), stats.m_shardIndex, stats.m_shardCount, stats.m_pass,
                                     accPaths[0].c_str(), total.m_shardCount, total.m_pass, __LINE__, UNIT));
        if (std::find(seen.begin(), seen.end(), stats.m_shardIndex) != seen.end())
            reportError(formatString("Error: the accumulator %s repeats shard %d of %d (line %d of %s)",
                                     accPaths[i].c_str(), stats.m_shardIndex, stats.m_shardCount, __LINE__, UNIT));
        seen.push_back(stats.m_shardIndex);
        if (i == 0)
            total = std::move(stats);
        else
            total.add(stats);
    }
    if (static_cast<int32_t>(seen.size()) != total.m_shardCount) {
        std::vector<int32_t> absent;
        for (int32_t k = 1; k <= total.m_shardCount; ++k)
            if (std::find(seen.begin(), seen.end(), k) == seen.end()) absent.push_back(k);
        reportError(formatString("Error: %d accumulators of pass %d given; shards %s of %d are missing (line %d of %s)",
                                 static_cast<int32_t>(seen.size()), total.m_pass, joinInts(absent, ", ").c_str(),
                                 total.m_shardCount, __LINE__, UNIT));
    }
    const int32_t pass = total.m_pass;
    if (pass > setup.passCount())
        reportError(formatString("Error: the accumulators are of pass %d, past the last pass %d of this training "
                                 "(line %d of %s)",
                                 pass, setup.passCount(), __LINE__, UNIT));
    const bool last = pass == setup.passCount();
    if (last) checkWritablePath(modelCountPath(setup.m_param), "model count file");
    macroClass models = readPassModels(inPath, pass);
    if (pass > 0 && total.m_modelKey != modelSetKey(models))
        reportError(formatString("Error: the accumulators of pass %d were gathered with another model set than %s "
                                 "(line %d of %s)",
                                 pass, inPath.c_str(), __LINE__, UNIT));
    macroClass next = nextModelSet(setup, pass, std::move(models), total, elapsedSeconds(start));
    if (last)
        writeTrainedModels(setup, std::move(next), total);
    else
        writePassModels(outPath, next);
}

}  // namespace

int toolTrain(const std::vector<std::string>& args) {
    enum { WHOLE, PASSES, ACCUMULATE, MERGE } mode = WHOLE;
    trainParam param;
    int32_t shard = 0, shards = 0, pass = -1;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        const std::string value = hasValue ? args[i + 1] : std::string();
        double number = 0;
        if (a == "-C" && hasValue) {
            param.featureConfigPath = args[++i];
        } else if (a == "-L" && hasValue) {
            param.lexiconPath = args[++i];
        } else if (a == "-c" && hasValue) {
            param.countPath = args[++i];
        } else if ((a == "-m" || a == "-i") && hasValue && parseNumber(value, number) &&
                   number == std::floor(number) && std::fabs(number) < 1e6) {
            (a == "-m" ? param.mixtureNum : param.passNum) = static_cast<int32_t>(number);
            ++i;
        } else if ((a == "-f" || a == "-b") && hasValue && parseNumber(value, number)) {
            (a == "-f" ? param.varianceFloor : param.beam) = static_cast<float>(number);
            ++i;
        } else if (a == "-j" && hasValue && parseCount(value, param.threadNum, 1, 1000000)) {
            ++i;
        } else if (a == "--contexts" && hasValue && (value == "full" || value == "seen")) {
            param.fullContexts = value == "full";
            ++i;
        } else if (a == "--quiet") {
            param.quiet = true;
        } else if (a == "-E") {
            param.useEpd = 1;
        } else if (a == "-n") {
            param.optionalSp = false;
        } else if (a == "--passes" && mode == WHOLE) {
            mode = PASSES;
        } else if (a == "--accumulate" && mode == WHOLE && hasValue && parseShard(value, shard, shards)) {
            mode = ACCUMULATE;
            ++i;
        } else if (a == "--pass" && hasValue && parseCount(value, pass, 0, 1000000)) {
            ++i;
        } else if (a == "--merge" && mode == WHOLE) {
            mode = MERGE;
        } else if (a == "--help" || a == "-h") {
            sinkPrintf("%s", USAGE);
            return 0;
        } else if (!a.empty() && a[0] == '-' && a.size() > 1) {
            return usageError("Unknown, incomplete or malformed option " + a);
        } else {
            positional.push_back(a);
        }
    }
    if (param.featureConfigPath.empty() || param.lexiconPath.empty()) return usageError("");
    if ((pass >= 0) != (mode == ACCUMULATE)) return usageError("--pass goes with --accumulate, and only with it");
    switch (mode) {
        case WHOLE:
            if (positional.size() != 2) return usageError("");
            param.listPath = positional[0];
            param.outputPath = positional[1];
            trainModels(param);
            return 0;
        case PASSES: {
            if (positional.size() != 1) return usageError("");
            param.listPath = positional[0];
            int32_t passes = 0;
            {
                scopedOutputSilence silence;
                passes = prepareTraining(param).passCount();
            }
            sinkPrintf("%d\n", passes);
            return 0;
        }
        case ACCUMULATE:
            if (positional.size() != 3) return usageError("");
            accumulateShard(param, shard, shards, pass, positional[0], positional[1], positional[2]);
            return 0;
        case MERGE:
            if (positional.size() < 4) return usageError("");
            mergeShards(param, positional[0], positional[1],
                        std::vector<std::string>(positional.begin() + 2, positional.end() - 1), positional.back());
            return 0;
    }
    return 0;
}
