#include "run/programSupport.h"

#include "run/utility.h"
#include "run/outputSink.h"

#include <cstdio>
#include <utility>

namespace {

// The usage block: the argument count, then every accepted command line from
// the shortest (fewestArguments words) to the longest, one per line. The
// second argument is the wave file or the wave list.
void printUsage(int argumentCount, const std::string& programName, const char* secondArgument,
                size_t fewestArguments) {
    const char* const words[] = {"recogParamFile", secondArgument, "txtFile", "useEpd", "outputDir",
                                 "syl",            "net",          "wpa",     "getPitch"};
    sinkPrintf("No. of command-line arguments: %d\n", argumentCount);
    sinkPrintf("No. of command-line arguments should within [1, 9].\n");
    std::string form = programName;
    for (size_t n = 1; n <= sizeof(words) / sizeof(words[0]); ++n) {
        form += std::string(" ") + words[n - 1];
        if (n < fewestArguments) continue;
        // The form that ends with useEpd has always carried a trailing space.
        sinkPrintf("%s%s%s\n", n == fewestArguments ? "Usage: " : "       ", form.c_str(), n == 4 ? " " : "");
    }
}

// Command-line arguments from position 2 on override these settings in turn;
// an empty argument overrides nothing.
void applyOverrides(recogParam& param, const std::vector<std::string>& args, const char* secondKey) {
    const char* const keys[] = {secondKey, "txtFile", "useEpd",  "outputDir",
                                "sylFile", "netFile", "wpaFile", "getPitch"};
    for (size_t i = 1; i < args.size() && i <= 8; ++i)
        if (!args[i].empty()) setRecogParamValue(param, keys[i - 1], args[i]);
}

}  // namespace

void printRecognizeUsage(int argumentCount, const std::string& programName) {
    printUsage(argumentCount, programName, "wavFile", 1);
}

void applyRecognizeOverrides(recogParam& param, const std::vector<std::string>& args) {
    applyOverrides(param, args, "wavFile");
}

void printResultBlock(const recogParam& param, const cmResult& result) {
    sinkPrintf("\n====== Recognition result ======\n");
    sinkPrintf("Text index = ");
    for (int32_t index : result.textIndices) sinkPrintf("%d ", index);
    sinkPrintf("\n");
    for (const std::string& text : result.texts) sinkPrintf("Text = %s\n", text.c_str());
    sinkPrintf("Phonetic alphabets = %s\n", result.phoneticAlphabets.c_str());
    if (param.language == "chinese") {
        // Labels in Big5: rzp pinyin, MPA pinyin, Hanyu pinyin, tone.
        sinkPrintf("\xB7\xE7\xBF" "A\xAB\xF7\xAD\xB5 = %s\n", result.rzpString.c_str());
        sinkPrintf("\xB0\xEA\xBB" "y\xAB\xF7\xAD\xB5 = %s\n", result.mpaString.c_str());
        sinkPrintf("\xBA~\xBB" "y\xAB\xF7\xAD\xB5 = %s\n", result.hanyuString.c_str());
        sinkPrintf("\xAD\xB5\xBD\xD5=%s\n", result.toneString.c_str());
    }
    sinkPrintf("Log probability = %g\n", static_cast<double>(result.pathLogLike));
    sinkPrintf("Score = %g\n", static_cast<double>(result.score));
}

void printBatchUsage(int argumentCount, const std::string& programName) {
    printUsage(argumentCount, programName, "wavFileList", 2);
}

void applyBatchOverrides(recogParam& param, const std::vector<std::string>& args) {
    applyOverrides(param, args, "wavFileList");
}
