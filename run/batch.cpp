#include "run/batch.h"

#include "run/conditionWave.h"
#include "run/outputSink.h"
#include "run/resources.h"
#include "run/utility.h"
#include "run/utteranceRun.h"

#include <utility>

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
    resourceOptions options;
    options.readCountFile = false;
    recogResources resources;
    loadResources(param, options, resources);
    // Net building may change settings (a syllable file selects the tree net).
    param = resources.param;

    std::vector<std::string> contents = readLines(param.wavFileList, '%');
    printStrVec(contents, "contents", "");

    // Spectral subtraction of one file keeps the decoder's candidate count
    // fixed for the files after it, as one set of settings serves them all.
    bool subtracted = false;
    const int lineNum = static_cast<int>(contents.size());
    for (int i = 1; i <= lineNum; ++i) {
        const std::string& line = contents[static_cast<size_t>(i - 1)];
        if (line.empty() || !applyBatchListLine(param, line, i)) continue;
        sinkPrintf("\n======> %d/%d: xmlFile=%s, wavFile=%s, txtFile=%s, sylFile=%s\n", i, lineNum,
                   param.outputXmlFile.c_str(), param.wavFile.c_str(), param.txtFile.c_str(), param.sylFile.c_str());

        conditionReport report;
        audioRecord audio;
        try {
            audio = readConditionedWave(param.wavFile, conditionOptionsOf(param), report);
        } catch (const recogError&) {
            result.warningMessages.insert(result.warningMessages.end(), report.warnings.begin(), report.warnings.end());
            throw;
        }
        result.warningMessages.insert(result.warningMessages.end(), report.warnings.begin(), report.warnings.end());
        subtracted = subtracted || report.spectrallySubtracted;

        utteranceSettings settings = sharedNetSettings(resources);
        settings.txtFile = param.txtFile;
        settings.sylFile = param.sylFile;
        settings.wavFile = param.wavFile;
        settings.outputXmlFile = param.outputXmlFile;
        settings.spectrallySubtracted = subtracted;
        runUtterance(resources, audio, settings, result);
        sinkPrintf("Score = %g\n", static_cast<double>(result.score));
    }
}
