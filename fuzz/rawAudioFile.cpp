// Headerless 16-bit audio read by the "raw" extension.
#include "frontend/CaudioFile.h"
#include "fuzzSupport.h"
#include "run/utility.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    std::string path = fuzzSupport::writeInput("input.raw", data, size);
    int32_t sampleRate = 0, bitsPerSample = 0;
    try {
        std::vector<int32_t> samples = readAudioFile(path, sampleRate, bitsPerSample);
        fuzzSupport::require(sampleRate == 16000 && bitsPerSample == 16, "raw audio is 16 bits at 16 kHz");
        fuzzSupport::require(samples.size() == size / 2, "one sample per two bytes");
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    return 0;
}
