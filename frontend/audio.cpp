#include "frontend/audio.h"

#include "lib/audio.h"
#include "run/utility.h"

#include <algorithm>
#include <cstdlib>

volCheckPrm readVolCheckPrm(const std::string& path) {
    volCheckPrm prm;
    if (path.empty()) return prm;
    std::vector<std::string> keys, values;
    readKeyValueFile(path, keys, values);
    for (size_t i = 0; i < keys.size(); ++i) {
        float value = static_cast<float>(std::atof(values[i].c_str()));
        if (keys[i] == "maxVolTh")
            prm.maxVolTh = value;
        else if (keys[i] == "minVolTh")
            prm.minVolTh = value;
        else if (keys[i] == "satAmpRatio")
            prm.satAmpRatio = value;
        else if (keys[i] == "satSampleCountRatioTh")
            prm.satSampleCountRatioTh = value;
        else
            reportError(formatString("Error in parsing %s, unknown key = %s (line %d in %s)", path.c_str(),
                                     keys[i].c_str(), __LINE__, "audio"));
    }
    return prm;
}

int32_t checkVolume(const int32_t* samples, int32_t sampleCount, const std::string& volCheckPrmFile) {
    return checkVolume(samples, sampleCount, frameVolume(samples, sampleCount, 320, 160), volCheckPrmFile);
}

int32_t checkVolume(const int32_t* samples, int32_t sampleCount, const std::vector<int32_t>& volumes,
                    const std::string& volCheckPrmFile) {
    volCheckPrm prm = readVolCheckPrm(volCheckPrmFile);
    int32_t frames = static_cast<int32_t>(volumes.size());
    if (frames == 0) return 0;  // no whole frame: nothing to judge
    float maxVol = static_cast<float>(*std::max_element(volumes.begin(), volumes.end()));
    float minVol = static_cast<float>(*std::min_element(volumes.begin(), volumes.end()));

    float limit = prm.satAmpRatio * 32768;
    int32_t saturated = 0;
    for (int32_t i = 0; i < sampleCount; ++i)
        if (samples[i] > limit || samples[i] < -limit) ++saturated;
    int32_t saturatedPerFrame = saturated / frames;

    if (saturatedPerFrame > prm.satSampleCountRatioTh) return 3;
    if (minVol > prm.minVolTh * 320) return 2;
    if (prm.maxVolTh * 320 > maxVol) return 1;
    return 0;
}

int32_t checkVolume(const std::vector<int32_t>& samples, const std::string& volCheckPrmFile) {
    return checkVolume(samples.data(), static_cast<int32_t>(samples.size()), volCheckPrmFile);
}
