// The pitch-tracking parameter file, read over the 16 kHz defaults as the
// pipeline does and used for the pitch of a fixed half-second signal.
#include "fuzzFixtures.h"
#include "fuzzSupport.h"
#include "lib/pitch.h"
#include "run/utility.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    std::string path = fuzzSupport::writeInput("pitch.prm", data, size);
    const std::vector<int32_t>& signal = fuzzFixtures::testSignal();
    try {
        ptParam prm = initPtParam(16000, 16, 1, path);
        std::vector<float> pitch;
        int32_t frameNum = trackPitch(signal.data(), static_cast<int32_t>(signal.size()), prm, pitch);
        fuzzSupport::require(frameNum >= 0 && static_cast<size_t>(frameNum) == pitch.size(), "a pitch per frame");
        fuzzSupport::require(pitch.size() <= signal.size(), "no more frames than samples");
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    return 0;
}
