// recognize-tool: the work around recognition (features, model conversion,
// training). Exit status: 0 on success, 1 after a reported error, 2 for a
// usage error.
#include "tools/tools.h"
#include "run/utility.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
struct subcommand {
    const char* name;
    int (*run)(const std::vector<std::string>&);
    const char* usage;
};

const subcommand subcommands[] = {
    {"features", toolFeatures, "features -C featureConfig [-E] [-P ptParamFile pitchOut] wavIn featOut"},
    {"convert-model", toolConvertModel, "convert-model [-C featureConfig] IN.mac OUT.macb | IN.macb OUT.mac"},
    {"train", toolTrain, "train -C featureConfig -L lexicon [options] trainList OUT.mac (options: train --help)"},
    {"bulk", toolBulk,
     "bulk [-j N] [--resume] [--shard K/N] [--xml-dir DIR] [--quiet] recogParamFile listFile resultsFile"},
    {"calibrate", toolCalibrate,
     "calibrate [-j N] [-k folds] recogParamFile scoredList humanScores.json OUT.cal (options: calibrate --help)"},
};

void printUsage(const char* program) {
    std::printf("Usage: %s SUBCOMMAND [ARGS...]\n", program);
    for (const subcommand& s : subcommands) std::printf("       %s %s\n", program, s.usage);
}
}  // namespace

int main(int argc, char** argv) {
    // Messages that name themselves errors get no second "Error: " in the log.
    configureErrorLog(true, true);
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        printUsage(argv[0]);
        return argc < 2 ? 2 : 0;
    }
    for (const subcommand& s : subcommands) {
        if (std::strcmp(argv[1], s.name) != 0) continue;
        try {
            return s.run(std::vector<std::string>(argv + 2, argv + argc));
        } catch (const recogError& e) {
            std::printf("%s\n", e.what());
            return 1;
        }
    }
    std::printf("Unknown subcommand: %s\n", argv[1]);
    printUsage(argv[0]);
    return 2;
}
