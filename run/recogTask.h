// The run of the recognize program: one wave file, resources loaded for it.
#pragma once

#include "decoder/cmResult.h"
#include "run/recogParam.h"

#include <cstdint>

// Reads and conditions the wave named by param.wavFile, loads the resources
// and builds the net of the settings, and runs the utterance on that net.
// Returns the first text index of the best path.
int32_t recognizeWaveFile(recogParam& param, cmResult& result);
