// The recognition pipeline: from a wave file and recognizable texts to a result.
#pragma once

#include "decoder/cmResult.h"
#include "decoder/macro.h"
#include "lexicon/dict.h"
#include "lexicon/net.h"
#include "lexicon/text.h"
#include "run/features.h"
#include "run/recogParam.h"

#include <cstdint>
#include <vector>

// Frame geometry of the whole pipeline: 20 ms frames every 10 ms at 16 kHz.
constexpr int32_t PIPELINE_FRAME_SIZE = 320;
constexpr int32_t PIPELINE_OVERLAP = 160;

// Reads and conditions the wave named by param.wavFile and runs the pipeline
// on it. Returns the first text index of the best path.
int32_t recognizeWaveFile(recogParam& param, cmResult& result);

// Loads every resource, builds the net, computes the features of the
// conditioned samples (16 kHz, 16-bit range) and runs recogCore.
int32_t runUtterance(recogParam& param, cmResult& result, const std::vector<int32_t>& samples, int32_t sampleRate,
                     int32_t bitsPerSample);

// Decoding, path to text, alignment, assessment scoring and result output of
// one utterance against a built net. Returns the text indices of the best path.
std::vector<int32_t> recogCore(const recogParam& param, const std::vector<int32_t>& samples, int32_t sampleRate,
                               int32_t bitsPerSample, const featureClass& features, int32_t pathCapacity,
                               int32_t candidateNum, const macroClass& models, dictClass& myDict, textClass& myText,
                               netClass& net, cmResult& result);
