// The feature configuration file, read by CMel and used at once for the MFCC
// frames of a fixed half-second signal (the reader itself only stores values;
// their checks live where the front end derives its geometry from them).
#include "frontend/CMel.h"
#include "fuzzFixtures.h"
#include "fuzzSupport.h"
#include "run/utility.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    std::string path = fuzzSupport::writeInput("feature.cfg", data, size);
    const std::vector<int32_t>& signal = fuzzFixtures::testSignal();
    try {
        CMel mel;
        int32_t frameNum = 0, dim = 0;
        mel.computeMfcc(signal.data(), 16000, 16, static_cast<int32_t>(signal.size()), path, frameNum, dim);
        fuzzSupport::require(frameNum >= 0 && dim >= 0, "non-negative geometry");
        fuzzSupport::require(mel.m_features.size() == static_cast<size_t>(frameNum) * static_cast<size_t>(dim),
                             "frames x dim features");
        fuzzSupport::require(static_cast<size_t>(frameNum) <= signal.size(), "no more frames than samples");
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    return 0;
}
