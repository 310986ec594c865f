// The recognition pipeline: from a wave file and recognizable texts to a result.
#pragma once

#include "decoder/cmResult.h"
#include "run/recogParam.h"

#include <cstdint>

// Reads and conditions the wave named by param.wavFile and runs the pipeline
// on it. Returns the first text index of the best path.
int32_t recognizeWaveFile(recogParam& param, cmResult& result);
