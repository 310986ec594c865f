#include "run/recogTask.h"

#include "run/utility.h"

// Placeholder until the pipeline stages exist: recognition is not available yet.
int32_t recognizeWaveFile(recogParam& param, cmResult& result) {
    (void)result;
    reportError(formatString("Recognition is not available yet in this build (wave file %s) (line %d in %s)",
                             param.wavFile.c_str(), __LINE__, "recogTask"));
}
