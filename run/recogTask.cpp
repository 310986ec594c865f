#include "run/recogTask.h"

#include "run/conditionWave.h"
#include "run/outputSink.h"
#include "run/resources.h"
#include "run/utility.h"
#include "run/utteranceRun.h"

int32_t recognizeWaveFile(recogParam& param, cmResult& result) {
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
    return textIndices.empty() ? -1 : textIndices[0];
}
