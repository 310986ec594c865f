// Wave conditioning: every wave is brought to 16-bit range at 16000 Hz, its
// level is checked, a noisy one may be spectrally subtracted, and its mean is removed.
#pragma once

#include "frontend/CaudioFile.h"
#include "run/recogParam.h"

#include <cstdint>
#include <string>
#include <vector>

// The settings conditioning reads.
struct conditionOptions {
    std::string volCheckPrmFile;     // volume-check parameters; "" = the defaults
    int32_t useWaveReject = 0;       // 1 = a failed volume check is reported as an error
    int32_t useSpecSubtraction = 0;  // 1 = a noisy recording is spectrally subtracted
};

// The conditioning settings of a run's parameters.
conditionOptions conditionOptionsOf(const recogParam& param);

// What conditioning found out about a recording.
struct conditionReport {
    std::vector<std::string> warnings;  // volume-check messages
    bool spectrallySubtracted = false;  // the recording was taken as noisy and subtracted
};

// Conditions a recording as readAudio delivers it: afterwards its rate is
// 16000 Hz and its width 16 bits. Volume-check messages go to
// report.warnings and, with useWaveReject 1, are reported.
audioRecord conditionWave(audioRecord audio, const conditionOptions& options, conditionReport& report);

// readAudio, then conditionWave: the one way every caller turns a file into
// the samples the front end takes.
audioRecord readConditionedWave(const std::string& path, const conditionOptions& options, conditionReport& report);
