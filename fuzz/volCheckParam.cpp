// The volume-check parameter file, read and used for the check of a fixed
// half-second signal.
#include "frontend/audio.h"
#include "fuzzFixtures.h"
#include "fuzzSupport.h"
#include "run/utility.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    std::string path = fuzzSupport::writeInput("volCheck.prm", data, size);
    try {
        readVolCheckPrm(path);
        int32_t verdict = checkVolume(fuzzFixtures::testSignal(), path);
        fuzzSupport::require(verdict >= 0 && verdict <= 3, "a verdict of 0 to 3");
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    return 0;
}
