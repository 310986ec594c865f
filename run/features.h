// Feature extraction of the pipeline: endpoint detection and MFCC of the kept
// span, and the two-pass pitch of the whole utterance.
#pragma once

#include "lib/pitch.h"
#include "run/recogParam.h"

#include <cstdint>
#include <string>
#include <vector>

// Most frames one utterance may have (about 400 s of speech).
constexpr int32_t MAX_FRAME_NUM = 40000;

// The feature matrix of one utterance, owned by the pipeline.
class featureClass {
public:
    std::vector<float> m_data;     // m_frameNum x m_dim floats, frame after frame
    int32_t m_frameNum = 0;        // frames
    int32_t m_dim = 0;             // values per frame
    int32_t m_beginFrameId = 0;    // first frame of the kept span, in frames of the whole wave
    int32_t m_beginSample = 0;     // first and last sample of the kept span
    int32_t m_endSample = -1;
    uint16_t m_parameterKind = 0;  // TARGETKIND code of the configuration
    int32_t m_framePeriod = 0;     // TARGETRATE, frame shift in 100 ns
};

// The settings feature extraction reads.
struct featureOptions {
    std::string featureConfigFile;  // CMel configuration file
    int32_t useEpd = 0;             // 1 = endpoint detection keeps the speech span only
};

// The feature settings of a run's parameters.
featureOptions featureOptionsOf(const recogParam& param);

// Finds the speech span with epdByVolDiff when options.useEpd is 1 (the whole
// wave otherwise, or when no speech is found), snaps it to frames of the
// given geometry and computes MFCC of it under options.featureConfigFile.
// Prints the "EPD" and "Compute MFCC" progress lines. More than
// MAX_FRAME_NUM frames are reported.
featureClass computeFeatures(const featureOptions& options, const int32_t* samples, int32_t sampleCount,
                             int32_t sampleRate, int32_t bitsPerSample, int32_t frameSize, int32_t overlap);

// Pitch of the whole utterance in two passes: on a copy of the samples with
// their mean removed and their peak scaled to 2^nbits / 2, track with the
// limits of prm, then again with the limits narrowed to pitchRangeMax around
// the median of the non-zero pitch of the first pass. One value per frame of
// the prm framing (fewer with cutLeadingTrailingZero). A wave without pitch
// in the first pass gives the first pass's result.
std::vector<float> wholeUtterancePitch(const int32_t* samples, int32_t sampleCount, ptParam prm);

// The features as an HTK parameter file: a 12-byte big-endian header (frame
// count, frame period in 100 ns, bytes per frame, parameter kind without the
// compression and checksum qualifiers), then the frames as big-endian float32.
std::string htkParameterFile(const featureClass& features);
