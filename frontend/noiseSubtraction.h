// Spectral subtraction of stationary background noise.
#pragma once

#include <cstdint>
#include <vector>

// Fewest samples spectralSubtraction works on at rate fs: a quarter second for
// the noise estimate plus one frame.
int32_t specSubMinSampleCount(int32_t fs);

// Estimates the noise power spectrum from the first quarter second, subtracts it
// from the power spectrum of every frame (frames of fs * 0.032 samples, 60 %
// overlap, Hamming window on analysis), keeps each frame's phase and overlap-adds
// the frames. Returns d + h * F samples (d overlap, h hop, F = (N - d) / h frames).
// A recording shorter than specSubMinSampleCount(fs) is returned unchanged with a
// printed warning.
std::vector<int32_t> spectralSubtraction(const std::vector<int32_t>& samples, int32_t fs);
