#include "run/programSupport.h"

#include "frontend/CaudioFile.h"
#include "run/conditionWave.h"
#include "run/features.h"
#include "run/recogTask.h"
#include "run/searchNet.h"
#include "run/utility.h"

#include <cstdio>
#include <utility>

void printRecognizeUsage(int argumentCount, const std::string& programName) {
    const char* p = programName.c_str();
    std::printf("No. of command-line arguments: %d\n", argumentCount);
    std::printf("No. of command-line arguments should within [1, 9].\n");
    std::printf("Usage: %s recogParamFile\n", p);
    std::printf("       %s recogParamFile wavFile\n", p);
    std::printf("       %s recogParamFile wavFile txtFile\n", p);
    std::printf("       %s recogParamFile wavFile txtFile useEpd \n", p);
    std::printf("       %s recogParamFile wavFile txtFile useEpd outputDir\n", p);
    std::printf("       %s recogParamFile wavFile txtFile useEpd outputDir syl\n", p);
    std::printf("       %s recogParamFile wavFile txtFile useEpd outputDir syl net\n", p);
    std::printf("       %s recogParamFile wavFile txtFile useEpd outputDir syl net wpa\n", p);
    std::printf("       %s recogParamFile wavFile txtFile useEpd outputDir syl net wpa getPitch\n", p);
}

void applyRecognizeOverrides(recogParam& param, const std::vector<std::string>& args) {
    // Setting overridden by each argument position, from position 2 on.
    static const char* const keys[] = {"wavFile", "txtFile", "useEpd", "outputDir",
                                       "sylFile", "netFile", "wpaFile", "getPitch"};
    for (size_t i = 1; i < args.size() && i <= 8; ++i)
        if (!args[i].empty()) setRecogParamValue(param, keys[i - 1], args[i]);
}

void printResultBlock(const recogParam& param, const cmResult& result) {
    std::printf("\n====== Recognition result ======\n");
    std::printf("Text index = ");
    for (int32_t index : result.textIndices) std::printf("%d ", index);
    std::printf("\n");
    for (const std::string& text : result.texts) std::printf("Text = %s\n", text.c_str());
    std::printf("Phonetic alphabets = %s\n", result.phoneticAlphabets.c_str());
    if (param.language == "chinese") {
        // Labels in Big5: rzp pinyin, MPA pinyin, Hanyu pinyin, tone.
        std::printf("\xB7\xE7\xBF" "A\xAB\xF7\xAD\xB5 = %s\n", result.rzpString.c_str());
        std::printf("\xB0\xEA\xBB" "y\xAB\xF7\xAD\xB5 = %s\n", result.mpaString.c_str());
        std::printf("\xBA~\xBB" "y\xAB\xF7\xAD\xB5 = %s\n", result.hanyuString.c_str());
        std::printf("\xAD\xB5\xBD\xD5=%s\n", result.toneString.c_str());
    }
    std::printf("Log probability = %g\n", static_cast<double>(result.pathLogLike));
    std::printf("Score = %g\n", static_cast<double>(result.score));
}

void printBatchUsage(int argumentCount, const std::string& programName) {
    const char* p = programName.c_str();
    std::printf("No. of command-line arguments: %d\n", argumentCount);
    std::printf("No. of command-line arguments should within [1, 9].\n");
    std::printf("Usage: %s recogParamFile wavFileList\n", p);
    std::printf("       %s recogParamFile wavFileList txtFile\n", p);
    std::printf("       %s recogParamFile wavFileList txtFile useEpd \n", p);
    std::printf("       %s recogParamFile wavFileList txtFile useEpd outputDir\n", p);
    std::printf("       %s recogParamFile wavFileList txtFile useEpd outputDir syl\n", p);
    std::printf("       %s recogParamFile wavFileList txtFile useEpd outputDir syl net\n", p);
    std::printf("       %s recogParamFile wavFileList txtFile useEpd outputDir syl net wpa\n", p);
    std::printf("       %s recogParamFile wavFileList txtFile useEpd outputDir syl net wpa getPitch\n", p);
}

void applyBatchOverrides(recogParam& param, const std::vector<std::string>& args) {
    // Setting overridden by each argument position, from position 2 on.
    static const char* const keys[] = {"wavFileList", "txtFile", "useEpd", "outputDir",
                                       "sylFile",     "netFile", "wpaFile", "getPitch"};
    for (size_t i = 1; i < args.size() && i <= 8; ++i)
        if (!args[i].empty()) setRecogParamValue(param, keys[i - 1], args[i]);
}

bool applyBatchListLine(recogParam& param, const std::string& line, int lineNumber) {
    std::vector<std::string> fields = splitString(line, '\t');
    if (fields.size() < 3) {
        std::printf("Warning: line %d of the wave list \"%s\" has %d field(s), fewer than the three needed "
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
    std::printf("%4.3f sec: Read macro \"%s\" (modelNum=%d)\n", elapsedSeconds(start), param.macFile.c_str(),
                models.modelNum);
    loadLexicalResources(param, models, myDict, myText);
    searchSizes sizes = buildSearchNet(param, models, myDict, myText, net);

    std::vector<std::string> contents = readLines(param.wavFileList, '%');
    printStrVec(contents, "contents", "");

    const int lineNum = static_cast<int>(contents.size());
    for (int i = 1; i <= lineNum; ++i) {
        const std::string& line = contents[static_cast<size_t>(i - 1)];
        if (line.empty() || !applyBatchListLine(param, line, i)) continue;
        std::printf("\n======> %d/%d: xmlFile=%s, wavFile=%s, txtFile=%s, sylFile=%s\n", i, lineNum,
                    param.outputXmlFile.c_str(), param.wavFile.c_str(), param.txtFile.c_str(),
                    param.sylFile.c_str());

        int32_t sampleRate = 0, bitsPerSample = 0;
        std::vector<int32_t> samples = readAudioFile(param.wavFile, sampleRate, bitsPerSample);
        samples = conditionWave(std::move(samples), sampleRate, bitsPerSample, param, result);
        {
            featureClass features = computeFeatures(param, samples.data(), static_cast<int32_t>(samples.size()),
                                                    sampleRate, bitsPerSample, PIPELINE_FRAME_SIZE, PIPELINE_OVERLAP);
            recogCore(param, samples, sampleRate, bitsPerSample, features, sizes.pathCapacity, sizes.candidateNum,
                      models, myDict, myText, net, result);
        }
        samples = std::vector<int32_t>();
        std::printf("Score = %g\n", static_cast<double>(result.score));
    }
}
