#include "run/programSupport.h"

#include "frontend/CaudioFile.h"
#include "run/conditionWave.h"
#include "run/features.h"
#include "run/recogTask.h"
#include "run/searchNet.h"
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

bool applyBatchListLine(recogParam& param, const std::string& line, int lineNumber) {
    std::vector<std::string> fields = splitString(line, '\t');
    if (fields.size() < 3) {
        sinkPrintf("Warning: line %d of the wave list \"%s\" has %d field(s), fewer than the three needed "
                    "(xml file, wave file, text); skipped: %s\n",
                    lineNumber, param.wavFileList.c_str(), static_cast<int>(fields.size()), line.c_str());
        return false;
    }
    std::string text = fields[2];
    if (param.language == "english") text = replaceAll(text, "_", " ");
    // Through the settings table, so that a value longer than its field is reported.
    setRecogParamValue(param, "outputXmlFile", fields[0]);
    setRecogParamValue(param, "wavFile", replaceAll(fields[1], "\\", "/"));
    setRecogParamValue(param, "txtFile", text);
    if (fields.size() == 4) setRecogParamValue(param, "sylFile", fields[3]);
    return true;
}

void recognizeBatch(recogParam& param, cmResult& result) {
    macroClass models;
    dictClass myDict;
    textClass myText;
    netClass net;

    int64_t start = clockMs();
    models.readMacro(param.macFile, true);
    sinkPrintf("%4.3f sec: Read macro \"%s\" (modelNum=%d)\n", elapsedSeconds(start), param.macFile.c_str(),
                models.modelNum);
    loadLexicalResources(param, models, myDict, myText);
    searchSizes sizes = buildSearchNet(param, models, myDict, myText, net);

    std::vector<std::string> contents = readLines(param.wavFileList, '%');
    printStrVec(contents, "contents", "");

    const int lineNum = static_cast<int>(contents.size());
    for (int i = 1; i <= lineNum; ++i) {
        const std::string& line = contents[static_cast<size_t>(i - 1)];
        if (line.empty() || !applyBatchListLine(param, line, i)) continue;
        sinkPrintf("\n======> %d/%d: xmlFile=%s, wavFile=%s, txtFile=%s, sylFile=%s\n", i, lineNum,
                    param.outputXmlFile.c_str(), param.wavFile.c_str(), param.txtFile.c_str(),
                    param.sylFile.c_str());

        conditionReport report;
        audioRecord audio;
        try {
            audio = readConditionedWave(param.wavFile, conditionOptionsOf(param), report);
        } catch (const recogError&) {
            result.warningMessages.insert(result.warningMessages.end(), report.warnings.begin(), report.warnings.end());
            throw;
        }
        result.warningMessages.insert(result.warningMessages.end(), report.warnings.begin(), report.warnings.end());
        if (report.spectrallySubtracted) param.useDescCandidateNum = 0;
        {
            featureClass features = computeFeatures(featureOptionsOf(param), audio.samples.data(),
                                                    static_cast<int32_t>(audio.samples.size()), audio.sampleRate,
                                                    audio.bitsPerSample, PIPELINE_FRAME_SIZE, PIPELINE_OVERLAP);
            recogCore(param, audio.samples, audio.sampleRate, audio.bitsPerSample, features, sizes.pathCapacity,
                      sizes.candidateNum, models, myDict, myText, net, result);
        }
        sinkPrintf("Score = %g\n", static_cast<double>(result.score));
    }
}
