#include "run/conditionWave.h"

#include "frontend/audio.h"
#include "frontend/noiseSubtraction.h"
#include "lib/audio.h"
#include "run/utility.h"
#include "run/outputSink.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const int32_t TARGET_RATE = 16000;
const int32_t TARGET_BITS = 16;
// Frame volumes whose 90th percentile is less than this many times the 10th
// percentile show too little contrast: the recording is taken as noisy.
const float NOISY_VOLUME_RATIO = 2.35456f;

// Linear interpolation from rate to 16000 Hz; the first and last samples are kept.
std::vector<int32_t> resampleTo16k(const std::vector<int32_t>& in, int32_t rate) {
    const int64_t count = static_cast<int64_t>(in.size());
    if (count == 0) return {};
    double newCountReal = std::floor((count - 1) * static_cast<double>(TARGET_RATE) / rate) + 1;
    if (newCountReal > INT32_MAX)
        reportError(formatString("Resampling %lld samples from %d Hz gives too many samples (line %d in %s)",
                                 static_cast<long long>(count), rate, __LINE__, "recogTask"));
    const int64_t newCount = static_cast<int64_t>(newCountReal);
    std::vector<int32_t> out(static_cast<size_t>(newCount));
    out[0] = in[0];
    out[newCount - 1] = in[count - 1];
    for (int64_t i = 1; i + 1 < newCount; ++i) {
        double p = static_cast<double>(i) * rate / TARGET_RATE;
        int64_t j = static_cast<int64_t>(std::floor(p));
        double f = p - static_cast<double>(j);
        int32_t next = j + 1 < count ? in[j + 1] : in[count - 1];
        float v = static_cast<float>((1 - f) * in[j] + f * next);
        out[i] = roundToInt(v);
    }
    return out;
}

// Reports the message of a failed volume check (with useWaveReject it ends the run).
void applyVolumeCheck(int32_t verdict, const conditionOptions& options, conditionReport& report) {
    std::string message;
    if (verdict == 1)
        message = formatString(
            "Volume check: Max volume too small. Please increase the microphone's gain. (line %d in %s)", __LINE__,
            "recogTask");
    else if (verdict == 2)
        message = formatString("Volume check: Min volume too big. Please use a uni-directional microphone. Do not "
                               "use builtin microphones of notebooks. (line %d in %s)",
                               __LINE__, "recogTask");
    else if (verdict == 3)
        message = formatString("Volume check: Too many saturated wave samples. Please decrease the microphone's "
                               "gain. Please do not turn on gain boost. (line %d in %s)",
                               __LINE__, "recogTask");
    else
        return;
    report.warnings.push_back(message);
    if (options.useWaveReject == 1) reportError(message);
}

// Ratio of the 90th- to the 10th-percentile of the frame volumes (frames of 320
// samples every 160); a negative value when there are fewer than two frames.
float frameVolumeContrast(std::vector<int32_t> volumes) {
    int32_t n = static_cast<int32_t>(volumes.size());
    if (n < 2) return -1.0f;
    std::sort(volumes.begin(), volumes.end());
    int32_t k = std::max(1, n / 10);
    int32_t low = volumes[k - 1];
    if (low == 0) low = 1;
    int32_t high = volumes[n - k - 1];
    return static_cast<float>(high) / static_cast<float>(low);
}

}  // namespace

conditionOptions conditionOptionsOf(const recogParam& param) {
    conditionOptions options;
    options.volCheckPrmFile = param.volCheckPrmFile;
    options.useWaveReject = param.useWaveReject;
    options.useSpecSubtraction = param.useSpecSubtraction;
    return options;
}

audioRecord conditionWave(audioRecord audio, const conditionOptions& options, conditionReport& report) {
    std::vector<int32_t>& samples = audio.samples;
    int32_t& sampleRate = audio.sampleRate;
    int32_t& bitsPerSample = audio.bitsPerSample;
    // Amplification to the 16-bit range. 8-bit samples are unsigned: their offset
    // of 128 goes first, so that the volume check sees the signal and not the offset.
    if (bitsPerSample != TARGET_BITS) {
        if (bitsPerSample < 1 || bitsPerSample > TARGET_BITS)
            reportError(formatString("Cannot amplify %d-bit samples to %d bits (line %d in %s)", bitsPerSample,
                                     TARGET_BITS, __LINE__, "recogTask"));
        sinkPrintf("nbits=%d ===> Amplify to have nbits=%d\n", bitsPerSample, TARGET_BITS);
        int32_t gain = 1 << (TARGET_BITS - bitsPerSample);
        int32_t offset = bitsPerSample == 8 ? 128 : 0;
        for (int32_t& s : samples) s = (s - offset) * gain;
        bitsPerSample = TARGET_BITS;
    }

    if (sampleRate != TARGET_RATE) {
        if (sampleRate <= 0)
            reportError(formatString("Cannot resample from a sample rate of %d Hz (line %d in %s)", sampleRate,
                                     __LINE__, "recogTask"));
        sinkPrintf("fs=%d ===> Resample to have fs=%d\n", sampleRate, TARGET_RATE);
        samples = resampleTo16k(samples, sampleRate);
        sampleRate = TARGET_RATE;
    }

    // The volume check and the noise test judge the same frame volumes.
    std::vector<int32_t> volumes = frameVolume(samples, 320, 160);
    applyVolumeCheck(checkVolume(samples.data(), static_cast<int32_t>(samples.size()), volumes, options.volCheckPrmFile),
                     options, report);

    // Noise test: a recording whose frame volumes show little contrast is
    // spectrally subtracted when that is allowed.
    float contrast = frameVolumeContrast(std::move(volumes));
    if (contrast >= 0 && contrast < NOISY_VOLUME_RATIO && options.useSpecSubtraction != 0) {
        int32_t needed = specSubMinSampleCount(TARGET_RATE);
        if (static_cast<int64_t>(samples.size()) < needed) {
            sinkPrintf("Warning: the recording is too short for spectrum subtraction (%d samples, at least %d "
                        "needed); skipped.\n",
                        static_cast<int32_t>(samples.size()), needed);
        } else {
            sinkPrintf("Perform spectrum subtraction...\n");
            report.spectrallySubtracted = true;
            samples = spectralSubtraction(samples, TARGET_RATE);
        }
    }

    // Mean removal, the mean truncated toward zero.
    if (!samples.empty()) {
        int64_t sum = 0;
        for (int32_t s : samples) sum += s;
        int64_t mean = sum / static_cast<int64_t>(samples.size());
        for (int32_t& s : samples) s = static_cast<int32_t>(s - mean);
    }
    return audio;
}

audioRecord readConditionedWave(const std::string& path, const conditionOptions& options, conditionReport& report) {
    return conditionWave(readAudio(path), options, report);
}
