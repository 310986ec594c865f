// Volume check of a conditioned wave and its parameter file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Volume-check thresholds (keys of the volume-check file).
struct volCheckPrm {
    float maxVolTh = 140;                  // the loudest frame must exceed maxVolTh * 320
    float minVolTh = 30;                   // the quietest frame must not exceed minVolTh * 320
    float satAmpRatio = 0.95f;             // a sample is saturated beyond +-satAmpRatio * 32768
    float satSampleCountRatioTh = 0.005f;  // limit on saturated samples per frame
};

// Reads key=value lines; an empty path gives the defaults, a key that the file
// omits keeps its default, and an unknown key is reported.
volCheckPrm readVolCheckPrm(const std::string& path);

// Volume check over frames of 320 samples every 160: 3 too many saturated
// samples, 2 quietest frame too loud, 1 loudest frame too quiet, 0 fine.
// Fewer than 320 samples give 0.
int32_t checkVolume(const int32_t* samples, int32_t sampleCount, const std::string& volCheckPrmFile);
int32_t checkVolume(const std::vector<int32_t>& samples, const std::string& volCheckPrmFile);
// The same with the frame volumes (frames of 320 samples every 160) already computed.
int32_t checkVolume(const int32_t* samples, int32_t sampleCount, const std::vector<int32_t>& volumes,
                    const std::string& volCheckPrmFile);
