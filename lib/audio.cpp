#include "lib/audio.h"

#include "run/utility.h"
#include "run/outputSink.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

int32_t frameCount(int32_t sampleCount, int32_t frameSize, int32_t overlap) {
    int32_t hop = frameSize - overlap;
    if (hop <= 0 || frameSize <= 0 || sampleCount < frameSize) return 0;
    return (sampleCount - overlap) / hop;
}

int32_t frameCenterSample(int32_t frameIndex, int32_t frameSize, int32_t overlap) {
    return frameSize / 2 + frameIndex * (frameSize - overlap) - 1;
}

int32_t sampleToFrame(int32_t sampleIndex, int32_t frameSize, int32_t overlap) {
    float position = (static_cast<float>(sampleIndex) + 1.0f - static_cast<float>(frameSize) * 0.5f) /
                     static_cast<float>(frameSize - overlap);
    return std::max(0, roundToInt(position));
}

// Sums are kept in 64 bits and clamped, so samples outside the 16-bit range
// cannot overflow a frame's volume.
static int32_t clampToInt32(int64_t v) {
    return static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(v, INT32_MIN), INT32_MAX));
}

// Integer median of a frame; scratch receives a copy of the frame and is reordered.
static int64_t frameMedian(const int32_t* frame, int32_t frameSize, std::vector<int32_t>& scratch) {
    scratch.assign(frame, frame + frameSize);
    size_t upper = static_cast<size_t>(frameSize) / 2;
    std::nth_element(scratch.begin(), scratch.begin() + upper, scratch.end());
    int64_t upperValue = scratch[upper];
    if (frameSize % 2 == 1) return upperValue;
    // Every element before position upper is no greater than it; the largest of
    // them is the lower middle value.
    int64_t lowerValue = *std::max_element(scratch.begin(), scratch.begin() + upper);
    return (lowerValue + upperValue) / 2;
}

// Per frame, the sum of absolute deviations from the frame's median,
// accumulated in Sum and stored as finish(sum).
template <class Volume, class Sum, class Finish>
std::vector<Volume> medianDeviationSums(const int32_t* samples, int32_t sampleCount, int32_t frameSize,
                                        int32_t overlap, Finish finish) {
    int32_t frames = frameCount(sampleCount, frameSize, overlap);
    int32_t hop = frameSize - overlap;
    std::vector<Volume> volumes(static_cast<size_t>(frames));
    std::vector<int32_t> scratch;
    for (int32_t i = 0; i < frames; ++i) {
        const int32_t* frame = samples + static_cast<size_t>(i) * hop;
        int64_t median = frameMedian(frame, frameSize, scratch);
        Sum sum = 0;
        for (int32_t j = 0; j < frameSize; ++j) sum += static_cast<Sum>(std::llabs(frame[j] - median));
        volumes[i] = finish(sum);
    }
    return volumes;
}

std::vector<int32_t> frameVolume(const int32_t* samples, int32_t sampleCount, int32_t frameSize,
                                 int32_t overlap) {
    return medianDeviationSums<int32_t, int64_t>(samples, sampleCount, frameSize, overlap, clampToInt32);
}

std::vector<int32_t> frameVolume(const std::vector<int32_t>& samples, int32_t frameSize, int32_t overlap) {
    return frameVolume(samples.data(), static_cast<int32_t>(samples.size()), frameSize, overlap);
}

std::vector<float> frameVolumeFloat(const int32_t* samples, int32_t sampleCount, int32_t frameSize,
                                    int32_t overlap) {
    return medianDeviationSums<float, float>(samples, sampleCount, frameSize, overlap, [](float sum) { return sum; });
}

std::vector<float> frameVolumeFloat(const std::vector<int32_t>& samples, int32_t frameSize, int32_t overlap) {
    return frameVolumeFloat(samples.data(), static_cast<int32_t>(samples.size()), frameSize, overlap);
}

std::vector<int32_t> frameVolumeDiff(const int32_t* samples, int32_t sampleCount, int32_t frameSize,
                                     int32_t overlap, int32_t order) {
    static const int32_t COEFFICIENTS[5][6] = {
        {-1, 1},
        {-1, 2, -1},
        {-1, 3, -3, 1},
        {-1, 4, -6, 4, -1},
        {-1, 5, -10, 10, -5, 1},
    };
    if (order < 1 || order > 5) {
        sinkPrintf("Unsupported order!\n");
        reportError(formatString("Unsupported order %d of the difference volume (line %d of %s)", order,
                                 __LINE__, "lib/audio"));
    }
    const int32_t* c = COEFFICIENTS[order - 1];
    int32_t frames = frameCount(sampleCount, frameSize, overlap);
    int32_t hop = frameSize - overlap;
    std::vector<int32_t> volumes(static_cast<size_t>(frames));
    for (int32_t i = 0; i < frames; ++i) {
        const int32_t* frame = samples + static_cast<size_t>(i) * hop;
        int64_t sum = 0;
        for (int32_t n = 0; n + order < frameSize; ++n) {
            int64_t dot = 0;
            for (int32_t q = 0; q <= order; ++q) dot += static_cast<int64_t>(c[q]) * frame[n + q];
            sum += std::llabs(dot);
        }
        volumes[i] = clampToInt32(sum);
    }
    return volumes;
}

std::vector<int32_t> frameVolumeDiff(const std::vector<int32_t>& samples, int32_t frameSize, int32_t overlap,
                                     int32_t order) {
    return frameVolumeDiff(samples.data(), static_cast<int32_t>(samples.size()), frameSize, overlap, order);
}

epdParam initEpdParam(int32_t fs) {
    epdParam prm;
    prm.frameSize = static_cast<int32_t>(fs / 62.5);
    prm.overlap = 0;
    prm.thresholdDivisor = 10;
    prm.diffThresholdDivisor = 10;
    prm.diffOrder = 4;
    prm.minSegmentDuration = 0.05f;
    prm.maxGapDuration = 0.7f;
    prm.lastSegmentMaxDuration = 0.1f;
    return prm;
}

std::vector<epdSegment> findSpeechRuns(const std::vector<uint8_t>& isSpeech) {
    std::vector<epdSegment> runs;
    int32_t count = static_cast<int32_t>(isSpeech.size());
    for (int32_t i = 0; i < count;) {
        if (!isSpeech[i]) {
            ++i;
            continue;
        }
        epdSegment run;
        run.beginFrame = i;
        while (i < count && isSpeech[i]) ++i;
        run.endFrame = i - 1;
        run.duration = run.endFrame - run.beginFrame + 1;
        run.keep = 1;
        runs.push_back(run);
    }
    return runs;
}

std::vector<epdSegment> epdFromVolumes(const std::vector<int32_t>& volumes, int32_t fs, int32_t hop,
                                       int32_t divisor, const epdParam& prm) {
    int32_t m = static_cast<int32_t>(volumes.size());
    if (m < 1 || hop <= 0) return {};
    if (divisor == 0)
        reportError(formatString("Threshold divisor of endpoint detection is 0 (line %d of %s)", __LINE__,
                                 "lib/audio"));

    // Durations in frames.
    float framesPerSecond = static_cast<float>(fs) / static_cast<float>(hop);
    int32_t minRun = roundToInt(prm.minSegmentDuration * framesPerSecond);
    int32_t maxGap = roundToInt(prm.maxGapDuration * framesPerSecond);
    int32_t lastRunMax = roundToInt(prm.lastSegmentMaxDuration * framesPerSecond);

    // The threshold lies 1/divisor up between robust extremes (the k-th smallest
    // and k-th largest volume).
    std::vector<int32_t> sorted(volumes);
    std::sort(sorted.begin(), sorted.end());
    int32_t k = std::max(1, roundToInt(m * 0.03125));
    int64_t low = sorted[k - 1];
    int64_t high = sorted[m - k];
    int64_t threshold = low + (high - low) / divisor;

    std::vector<uint8_t> isSpeech(static_cast<size_t>(m));
    for (int32_t i = 0; i < m; ++i) isSpeech[i] = volumes[i] > threshold ? 1 : 0;
    std::vector<epdSegment> runs = findSpeechRuns(isSpeech);

    for (epdSegment& run : runs)
        if (run.duration <= minRun) run.keep = 0;

    // A short final run far from the rest is taken as a click or breath.
    int32_t last = -1, previous = -1;
    for (int32_t i = static_cast<int32_t>(runs.size()) - 1; i >= 0; --i) {
        if (!runs[i].keep) continue;
        if (last < 0) {
            last = i;
        } else {
            previous = i;
            break;
        }
    }
    if (last >= 0 && previous >= 0 && runs[last].beginFrame - runs[previous].endFrame > maxGap &&
        runs[last].duration <= lastRunMax)
        runs[last].keep = 0;

    std::vector<epdSegment> kept;
    for (const epdSegment& run : runs)
        if (run.keep) kept.push_back(run);
    return kept;
}

std::vector<epdSegment> epdByVol(const int32_t* samples, int32_t sampleCount, int32_t fs, const epdParam& prm) {
    std::vector<int32_t> volumes = frameVolume(samples, sampleCount, prm.frameSize, prm.overlap);
    return epdFromVolumes(volumes, fs, prm.frameSize - prm.overlap, prm.thresholdDivisor, prm);
}

std::vector<epdSegment> epdByVol(const std::vector<int32_t>& samples, int32_t fs, const epdParam& prm) {
    return epdByVol(samples.data(), static_cast<int32_t>(samples.size()), fs, prm);
}

std::vector<epdSegment> epdByVolDiff(const int32_t* samples, int32_t sampleCount, int32_t fs,
                                     const epdParam& prm) {
    std::vector<int32_t> volumes = frameVolume(samples, sampleCount, prm.frameSize, prm.overlap);
    std::vector<int32_t> diffVolumes =
        frameVolumeDiff(samples, sampleCount, prm.frameSize, prm.overlap, prm.diffOrder);
    for (size_t i = 0; i < volumes.size(); ++i)
        volumes[i] = clampToInt32((static_cast<int64_t>(volumes[i]) + diffVolumes[i]) / 2);
    return epdFromVolumes(volumes, fs, prm.frameSize - prm.overlap, prm.diffThresholdDivisor, prm);
}

std::vector<epdSegment> epdByVolDiff(const std::vector<int32_t>& samples, int32_t fs, const epdParam& prm) {
    return epdByVolDiff(samples.data(), static_cast<int32_t>(samples.size()), fs, prm);
}
