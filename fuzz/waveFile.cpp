// RIFF WAVE files (linear PCM of 8 or 16 bits, mu-law) read by their extension.
#include "frontend/CaudioFile.h"
#include "fuzzSupport.h"
#include "run/utility.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    std::string path = fuzzSupport::writeInput("input.wav", data, size);
    int32_t sampleRate = 0, bitsPerSample = 0;
    try {
        std::vector<int32_t> samples = readAudioFile(path, sampleRate, bitsPerSample);
        fuzzSupport::require(bitsPerSample == 8 || bitsPerSample == 16, "8 or 16 bits per sample");
        fuzzSupport::require(sampleRate >= static_cast<int32_t>(waveClass::MIN_SAMPLE_RATE) &&
                                 sampleRate <= static_cast<int32_t>(waveClass::MAX_SAMPLE_RATE),
                             "sample rate within the accepted range");
        // A sample takes at least one byte of the file (mu-law: one byte, one sample).
        fuzzSupport::require(samples.size() <= size, "no more samples than bytes");
        for (int32_t v : samples)
            fuzzSupport::require(bitsPerSample == 8 ? v >= 0 && v <= 255 : v >= -32768 && v <= 32767,
                                 "samples within their width");
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    return 0;
}
