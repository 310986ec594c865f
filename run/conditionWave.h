// Wave conditioning: every wave is brought to 16-bit range at 16000 Hz, its
// level is checked, a noisy one may be spectrally subtracted, and its mean is removed.
#pragma once

#include "decoder/cmResult.h"
#include "run/recogParam.h"

#include <cstdint>
#include <vector>

// Conditions the samples delivered by readAudioFile and returns the new samples
// (the count is the vector size). Afterwards sampleRate is 16000 and
// bitsPerSample 16. Volume-check messages go to result.warningMessages and, with
// param.useWaveReject 1, are reported; param.useDescCandidateNum is set to 0 when
// spectral subtraction is performed.
std::vector<int32_t> conditionWave(std::vector<int32_t> samples, int32_t& sampleRate, int32_t& bitsPerSample,
                                   recogParam& param, cmResult& result);
