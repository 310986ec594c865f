#include "run/recogTask.h"

#include "run/conditionWave.h"
#include "run/outputSink.h"
#include "run/resources.h"
#include "run/resultJson.h"
#include "run/utility.h"
#include "run/utteranceRun.h"

#include <memory>

int32_t recognizeWaveFile(recogParam& param, cmResult& result) {
    // With a JSON document to write, the run's lines are also kept for its warnings.
    std::unique_ptr<scopedOutputCapture> capture;
    if (!param.jsonFile.empty()) capture = std::make_unique<scopedOutputCapture>(true);
    int64_t start = clockMs();
    conditionReport report;
    audioRecord audio = readConditionedWave(param.wavFile, conditionOptionsOf(param), report);
    result.warningMessages.insert(result.warningMessages.end(), report.warnings.begin(), report.warnings.end());
    sinkPrintf("%4.3f sec: Read wave file \"%s\"\n", elapsedSeconds(start), param.wavFile.c_str());

    recogResources resources;
    loadResources(param, resourceOptions(), resources);
    utteranceSettings settings = sharedNetSettings(resources);
    settings.spectrallySubtracted = report.spectrallySubtracted;
    std::vector<int32_t> textIndices = runUtterance(resources, audio, settings, result);
    if (capture) {
        resultJsonContext context = resultJsonContextOf(resources.param);
        context.extraWarnings = warningLinesOf(capture->text());
        context.totalSeconds = elapsedSeconds(start);
        capture.reset();
        writeResultJson(param.jsonFile, result, resources.models, context);
        sinkPrintf("\t===> Saved %s\n", param.jsonFile.c_str());
    }
    return textIndices.empty() ? -1 : textIndices[0];
}
