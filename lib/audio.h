// Shared signal routines: framing, frame volume and volume-based endpoint
// detection. Samples are 32-bit integers holding 16-bit values.
#pragma once

#include <cstdint>
#include <vector>

// Endpoint-detection settings; initEpdParam(fs) fills them for a sample rate.
struct epdParam {
    int32_t frameSize = 256;              // frame length in samples (fs / 62.5)
    int32_t overlap = 0;                  // samples shared by neighbouring frames
    int32_t thresholdDivisor = 10;        // epdByVol: threshold lies 1/divisor up the volume range
    int32_t diffThresholdDivisor = 10;    // the same for epdByVolDiff
    int32_t diffOrder = 4;                // order of the difference filter of frameVolumeDiff
    float minSegmentDuration = 0.05f;     // seconds; speech runs this short or shorter are dropped
    float maxGapDuration = 0.7f;          // seconds; gap before a final short run
    float lastSegmentMaxDuration = 0.1f;  // seconds; a final run this short after such a gap is dropped
};

// One speech run, in frames.
struct epdSegment {
    int32_t beginFrame = 0;  // first frame of the run
    int32_t endFrame = 0;    // last frame of the run (inclusive)
    int32_t duration = 0;    // endFrame - beginFrame + 1
    int32_t keep = 1;        // 1 while the run is kept, 0 once dropped
};

// Number of whole frames: (sampleCount - overlap) / (frameSize - overlap),
// integer division; 0 when there is no whole frame or the hop is not positive.
int32_t frameCount(int32_t sampleCount, int32_t frameSize, int32_t overlap);
// Sample at the centre of frame i: frameSize / 2 + i * hop - 1.
int32_t frameCenterSample(int32_t frameIndex, int32_t frameSize, int32_t overlap);
// Frame whose centre is nearest to sample s: (s + 1 - frameSize * 0.5) / hop in
// single precision, rounded half away from zero, at least 0.
int32_t sampleToFrame(int32_t sampleIndex, int32_t frameSize, int32_t overlap);

// Volume of every whole frame: the sum of |x - m| over the frame, m being the
// frame's integer median (for an even count the mean of the two middle values,
// integer division). Integer sums; frameVolumeFloat sums in single precision.
std::vector<int32_t> frameVolume(const int32_t* samples, int32_t sampleCount, int32_t frameSize,
                                 int32_t overlap);
std::vector<int32_t> frameVolume(const std::vector<int32_t>& samples, int32_t frameSize, int32_t overlap);
std::vector<float> frameVolumeFloat(const int32_t* samples, int32_t sampleCount, int32_t frameSize,
                                    int32_t overlap);
std::vector<float> frameVolumeFloat(const std::vector<int32_t>& samples, int32_t frameSize, int32_t overlap);

// Difference volume of every whole frame: the sum of |c . x[n..n+order]| over the
// positions n of the frame, c being the binomial coefficients of the given order
// with alternating signs starting with -1. Orders 1 to 5; another order is reported.
std::vector<int32_t> frameVolumeDiff(const int32_t* samples, int32_t sampleCount, int32_t frameSize,
                                     int32_t overlap, int32_t order);
std::vector<int32_t> frameVolumeDiff(const std::vector<int32_t>& samples, int32_t frameSize, int32_t overlap,
                                     int32_t order);

// Endpoint-detection settings for sample rate fs (frame size fs / 62.5).
epdParam initEpdParam(int32_t fs);

// Speech runs found by frame volume (epdByVol) or by the mean of frame volume and
// difference volume (epdByVolDiff). Returns only the kept runs, in time order;
// an empty list when nothing survives or there is no whole frame.
std::vector<epdSegment> epdByVol(const int32_t* samples, int32_t sampleCount, int32_t fs, const epdParam& prm);
std::vector<epdSegment> epdByVol(const std::vector<int32_t>& samples, int32_t fs, const epdParam& prm);
std::vector<epdSegment> epdByVolDiff(const int32_t* samples, int32_t sampleCount, int32_t fs, const epdParam& prm);
std::vector<epdSegment> epdByVolDiff(const std::vector<int32_t>& samples, int32_t fs, const epdParam& prm);

// Endpoint detection on given frame volumes (the steps after the volume measure):
// durations, threshold, runs and dropping. Used by epdByVol and epdByVolDiff.
std::vector<epdSegment> epdFromVolumes(const std::vector<int32_t>& volumes, int32_t fs, int32_t hop,
                                       int32_t divisor, const epdParam& prm);

// Every maximal run of frames whose flag is set, with keep flag 1, in time order.
std::vector<epdSegment> findSpeechRuns(const std::vector<uint8_t>& isSpeech);
