#include "frontend/noiseSubtraction.h"
#include "run/utility.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>

namespace {

std::vector<int32_t> whiteNoise(int32_t count, int32_t amplitude, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int32_t> value(-amplitude, amplitude);
    std::vector<int32_t> x(static_cast<size_t>(count));
    for (int32_t& v : x) v = value(random);
    return x;
}

double energy(const std::vector<int32_t>& x, size_t begin, size_t end) {
    double e = 0;
    for (size_t i = begin; i < end; ++i) e += static_cast<double>(x[i]) * x[i];
    return e;
}

}  // namespace

TEST(SpectralSubtraction, OutputLengthDropsTheSamplesBeyondTheLastFrame) {
    // n = 512, d = 307, h = 205 at 16000 Hz: F = 76 frames, M = 307 + 205 * 76.
    EXPECT_EQ(spectralSubtraction(whiteNoise(16000, 100, 1), 16000).size(), 15887u);
    EXPECT_EQ(spectralSubtraction(whiteNoise(4512, 100, 2), 16000).size(), 307u + 205u * 20u);
    // At 8000 Hz: n = 256, d = 153, h = 103; F = (8000 - 153) / 103 = 76.
    EXPECT_EQ(spectralSubtraction(whiteNoise(8000, 100, 3), 8000).size(), 153u + 103u * 76u);
}

TEST(SpectralSubtraction, ZeroNoiseGivesTheWindowWeightedInput) {
    // A silent first quarter second makes the noise estimate zero in every bin:
    // each frame comes back windowed, and output sample s is the sum over the
    // frames t covering it of round(w(s - t h) x(s)).
    const int32_t n = 512, d = 307, h = 205;
    std::vector<int32_t> x(4000, 0);
    std::vector<int32_t> signal = whiteNoise(8000, 8000, 4);
    x.insert(x.end(), signal.begin(), signal.end());
    std::vector<int32_t> y = spectralSubtraction(x, 16000);
    int32_t frames = (static_cast<int32_t>(x.size()) - d) / h;
    ASSERT_EQ(y.size(), static_cast<size_t>(d + h * frames));

    std::vector<double> window(n);
    for (int32_t j = 0; j < n; ++j) window[j] = 0.54 - 0.46 * std::cos(2 * M_PI * j / (n - 1));
    std::vector<int32_t> expected(y.size(), 0);
    for (int32_t t = 0; t < frames; ++t)
        for (int32_t j = 0; j < n; ++j) expected[t * h + j] += roundToInt(window[j] * x[t * h + j]);

    int32_t mismatches = 0;
    for (size_t s = 0; s < y.size(); ++s) {
        // Single-precision transforms may move a term that lies near a half by one.
        EXPECT_NEAR(y[s], expected[s], 2) << "sample " << s;
        if (y[s] != expected[s]) ++mismatches;
    }
    EXPECT_LT(mismatches, static_cast<int32_t>(y.size()) / 20);
    // In the middle of the wave the overlapping windows add up to about 1.35.
    double ratio = 0;
    for (size_t s = 6000; s < 10000; ++s)
        if (x[s] != 0) ratio += static_cast<double>(y[s]) / x[s] / 4000;
    EXPECT_NEAR(ratio, 1.35, 0.1);
}

// The algorithm step by step in double precision with a plain DFT: noise power
// per bin from the first quarter second, power minus noise (at least 0) with the
// frame's phase, inverse transform, rounded overlap-add.
static std::vector<int32_t> referenceSubtraction(const std::vector<int32_t>& x) {
    const int32_t n = 512, d = 307, h = 205, quarter = 4000;
    std::vector<double> w(n);
    for (int32_t j = 0; j < n; ++j) w[j] = 0.54 - 0.46 * std::cos(2 * M_PI * j / (n - 1));
    std::vector<std::complex<double>> twiddle(n);
    for (int32_t j = 0; j < n; ++j) twiddle[j] = std::polar(1.0, -2 * M_PI * j / n);
    auto dft = [&](int32_t start) {
        std::vector<std::complex<double>> X(n);
        for (int32_t k = 0; k < n; ++k)
            for (int32_t j = 0; j < n; ++j) X[k] += w[j] * x[start + j] * twiddle[(static_cast<int64_t>(j) * k) % n];
        return X;
    };
    int32_t noiseFrames = (quarter - d) / h;
    std::vector<double> noise(n, 0.0);
    for (int32_t q = 0; q < noiseFrames; ++q) {
        std::vector<std::complex<double>> X = dft(q * h);
        for (int32_t k = 0; k < n; ++k) noise[k] += std::norm(X[k]) / noiseFrames;
    }
    int32_t frames = (static_cast<int32_t>(x.size()) - d) / h;
    std::vector<int32_t> y(static_cast<size_t>(d + h * frames), 0);
    for (int32_t t = 0; t < frames; ++t) {
        std::vector<std::complex<double>> X = dft(t * h);
        for (int32_t k = 0; k < n; ++k) {
            double phase = std::atan2(X[k].imag(), X[k].real());
            X[k] = std::polar(std::sqrt(std::max(0.0, std::norm(X[k]) - noise[k])), phase);
        }
        for (int32_t j = 0; j < n; ++j) {
            std::complex<double> v = 0;
            for (int32_t k = 0; k < n; ++k) v += X[k] * std::conj(twiddle[(static_cast<int64_t>(j) * k) % n]);
            y[t * h + j] += roundToInt(v.real() / n);
        }
    }
    return y;
}

TEST(SpectralSubtraction, MatchesTheAlgorithmComputedDirectly) {
    // Stationary noise, with a tone after the first quarter second.
    std::vector<int32_t> x = whiteNoise(6000, 2000, 5);
    for (int32_t i = 4000; i < 6000; ++i) x[i] += static_cast<int32_t>(6000 * std::sin(2 * M_PI * 440 * i / 16000.0));
    std::vector<int32_t> y = spectralSubtraction(x, 16000);
    std::vector<int32_t> expected = referenceSubtraction(x);
    ASSERT_EQ(y.size(), expected.size());
    for (size_t s = 0; s < y.size(); ++s) ASSERT_NEAR(y[s], expected[s], 2) << "sample " << s;
}

TEST(SpectralSubtraction, RemovesStationaryNoiseAndKeepsTheSignal) {
    const int32_t count = 32000;
    std::vector<int32_t> x = whiteNoise(count, 300, 5);
    // A loud tone in the second half.
    for (int32_t i = 16000; i < count; ++i) x[i] += static_cast<int32_t>(6000 * std::sin(2 * M_PI * 440 * i / 16000.0));
    std::vector<int32_t> y = spectralSubtraction(x, 16000);
    // Unchanged frames would come back about 1.35 times as large. Subtracting the
    // mean noise power leaves about a third of white noise's energy.
    double noiseIn = energy(x, 5000, 15000) * 1.35 * 1.35;
    double noiseOut = energy(y, 5000, 15000);
    EXPECT_LT(noiseOut, 0.5 * noiseIn);
    double toneIn = energy(x, 20000, 30000) * 1.35 * 1.35;
    double toneOut = energy(y, 20000, 30000);
    EXPECT_GT(toneOut, 0.8 * toneIn);
    EXPECT_LT(toneOut, 1.2 * toneIn);
}

TEST(SpectralSubtraction, TooShortRecordingIsReturnedUnchanged) {
    EXPECT_EQ(specSubMinSampleCount(16000), 4000 + 512);
    std::vector<int32_t> x = whiteNoise(4511, 100, 6);
    testing::internal::CaptureStdout();
    std::vector<int32_t> y = spectralSubtraction(x, 16000);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(y, x);
    EXPECT_EQ(out.rfind("Warning", 0), 0u) << out;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(spectralSubtraction({}, 16000).empty());
    testing::internal::GetCapturedStdout();
}
