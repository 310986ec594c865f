#include "frontend/noiseSubtraction.h"

#include "lib/fftwPlan.h"

#include "run/utility.h"
#include "run/outputSink.h"

#include <fftw3.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <memory>
#include <type_traits>

namespace {

// Frame geometry of spectral subtraction at rate fs.
struct specSubFrames {
    int32_t length;   // n = fs * 0.032 (512 at 16000 Hz)
    int32_t overlap;  // d = n * 0.6 (307)
    int32_t hop;      // h = n - d (205)
    int32_t quarter;  // samples in the first quarter second, the noise estimate's span
};

specSubFrames frameGeometry(int32_t fs) {
    specSubFrames g;
    g.length = static_cast<int32_t>(fs * 0.032);
    g.overlap = static_cast<int32_t>(g.length * 0.6);
    g.hop = g.length - g.overlap;
    g.quarter = static_cast<int32_t>(fs * 0.25);
    return g;
}

}  // namespace

int32_t specSubMinSampleCount(int32_t fs) {
    specSubFrames g = frameGeometry(fs);
    return g.quarter + g.length;
}

std::vector<int32_t> spectralSubtraction(const std::vector<int32_t>& samples, int32_t fs) {
    specSubFrames g = frameGeometry(fs);
    if (g.length < 4 || g.hop < 1)
        reportError(formatString("Sample rate %d is too low for spectral subtraction (line %d of %s)", fs,
                                 __LINE__, "specSub"));
    const int32_t n = g.length, d = g.overlap, h = g.hop;
    const int32_t sampleCount = static_cast<int32_t>(samples.size());
    if (sampleCount < g.quarter + n) {
        // The noise estimate needs the first quarter second, and at least one frame must follow.
        sinkPrintf("Warning: %d samples are too few for spectrum subtraction (at least %d needed); skipped.\n",
                    sampleCount, g.quarter + n);
        return samples;
    }

    std::vector<float> window(static_cast<size_t>(n));
    for (int32_t j = 0; j < n; ++j)
        window[j] = static_cast<float>(0.54 - 0.46 * std::cos(2.0 * M_PI * j / (n - 1)));

    // A real frame has a Hermitian spectrum, so bins 0 to n/2 carry it whole.
    const int32_t bins = n / 2 + 1;
    std::vector<float> frame(static_cast<size_t>(n));
    std::vector<std::complex<float>> spectrum(static_cast<size_t>(bins));
    fftwf_complex* spectrumData = reinterpret_cast<fftwf_complex*>(spectrum.data());
    fftwPlanPtr forward = planRealToComplex(n, frame.data(), spectrumData);
    fftwPlanPtr backward = planComplexToReal(n, spectrumData, frame.data());
    if (!forward || !backward)
        reportError(formatString("Cannot plan a transform of length %d (line %d of %s)", n, __LINE__, "specSub"));

    auto transformFrame = [&](int32_t start) {
        for (int32_t j = 0; j < n; ++j) frame[j] = static_cast<float>(samples[start + j]) * window[j];
        fftwf_execute(forward.get());
    };

    // Noise power per bin, averaged over the frames of the first quarter second.
    // The last of them ends at Q * h + d, within the quarter second.
    const int32_t noiseFrames = (g.quarter - d) / h;
    std::vector<float> noise(static_cast<size_t>(bins), 0.0f);
    for (int32_t q = 0; q < noiseFrames; ++q) {
        transformFrame(q * h);
        for (int32_t k = 0; k < bins; ++k) noise[k] += std::norm(spectrum[k]);
    }
    for (float& v : noise) v /= static_cast<float>(noiseFrames);

    // Every frame: power minus noise (at least 0) with the frame's own phase,
    // back to time, overlap-added. The last frame ends at F * h + d = output length.
    const int32_t frames = (sampleCount - d) / h;
    std::vector<int32_t> output(static_cast<size_t>(d + h * frames), 0);
    const float inverseScale = 1.0f / static_cast<float>(n);
    for (int32_t t = 0; t < frames; ++t) {
        transformFrame(t * h);
        for (int32_t k = 0; k < bins; ++k) {
            float power = std::norm(spectrum[k]);
            float reduced = power - noise[k];
            // sqrt(P) (cos phi + i sin phi) = X * sqrt(P) / |X|; a zero bin stays zero.
            float magnitude = std::sqrt(power);
            spectrum[k] = (reduced > 0 && magnitude > 0) ? spectrum[k] * (std::sqrt(reduced) / magnitude)
                                                         : std::complex<float>(0.0f, 0.0f);
        }
        fftwf_execute(backward.get());
        int32_t* out = &output[static_cast<size_t>(t) * h];
        for (int32_t j = 0; j < n; ++j) out[j] += roundToInt(frame[j] * inverseScale);
    }
    return output;
}
