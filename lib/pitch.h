// Pitch tracking: one pitch value per frame of a wave, in semitones on the
// scale 69 + 12 log2(f / 440), with 0 for frames that carry no pitch. Each
// frame's pitch function (autocorrelation or average magnitude difference)
// yields candidate lags; dynamic programming picks one lag per frame; volume
// endpoint detection, a clarity threshold and a median filter clean the result.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Pitch-tracking settings. The field names are the keys of the parameter file.
struct ptParam {
    int32_t fs = 16000;             // sample rate, Hz
    int32_t nbits = 16;             // sample width, bits
    int32_t pfType = 1;             // 1 autocorrelation (frame2acf), 0 magnitude difference (frame2amdf)
    int32_t frameSize = 640;        // frame length, samples
    int32_t overlap = 480;          // samples shared by neighbouring frames
    int32_t pfLen = 320;            // lags 0..pfLen-1 of each frame's pitch function
    int32_t ppcNum = 10;            // read and kept
    float minPitch = 30;            // lowest pitch, semitones
    float maxPitch = 84;            // highest pitch, semitones
    float pitchRangeMax = 24;       // semitones around the median for the second pass
    float pitchDiffMax = 5;         // read and kept
    float maxMedianPitchDiff = 20;  // read and kept
    int32_t dpMethod = 1;           // 1 transition cost on lag differences, 2 on semitone differences
    int32_t dpPosDiffOrder = 2;     // 1 absolute difference, otherwise squared
    int32_t dpUseLocalOptim = 0;    // 1 only local optima of the pitch function are candidates
    float pfWeight = 1;             // weight of the pitch-function value
    float indexDiffWeight = 6;      // weight of the transition cost
    int32_t useVolThreshold = 1;    // zero the pitch outside the speech found by epdByVol
    int32_t useClarityThreshold = 1;  // zero the pitch of frames with low clarity
    float clarityRatio = 0.6f;      // fraction of the highest clarity
    int32_t medianFilterOrder = 5;  // running median when greater than 2
    int32_t cutLeadingTrailingZero = 0;  // drop leading and trailing frames of pitch 0
};

// The pitch candidates of a run of frames, stored flat: the candidates of
// frame t are entries m_frameStart[t] to m_frameStart[t + 1] - 1, in
// ascending lag order.
class pitchCandidateSetClass {
public:
    // Starts a new frame; the candidates added next belong to it.
    void addFrame() { m_frameStart.push_back(static_cast<int32_t>(m_lags.size())); }
    void addCandidate(int32_t lag, float value) {
        m_lags.push_back(lag);
        m_values.push_back(value);
    }
    int32_t frameNum() const { return static_cast<int32_t>(m_frameStart.size()); }
    int32_t frameBegin(int32_t t) const { return m_frameStart[t]; }
    int32_t frameEnd(int32_t t) const {
        return t + 1 < frameNum() ? m_frameStart[t + 1] : static_cast<int32_t>(m_lags.size());
    }
    void clear() {
        m_lags.clear();
        m_values.clear();
        m_frameStart.clear();
    }

    std::vector<int32_t> m_lags;        // lag in samples (frequency fs / lag)
    std::vector<float> m_values;        // pitch-function value at the lag
    std::vector<int32_t> m_frameStart;  // first candidate of each frame
};

// Largest pitch-function matrix (frames x lags) trackPitch accepts, and the
// longest frame; larger ones only come from broken parameters.
constexpr int64_t MAX_PITCH_FUNCTION_VALUES = int64_t(1) << 27;
constexpr int32_t MAX_PITCH_FRAME_SIZE = 1 << 16;

// Semitones of a frequency in Hz and back; both give 0 for an argument <= 0.
double freqToSemitone(double freq);
double semitoneToFreq(double semitone);

// Defaults for the sample rate (frame size, overlap and the dynamic-programming
// keys depend on fs, and on pfType for the latter), then the file at path when
// it exists, then a warning when a frame is shorter than 32 ms.
ptParam initPtParam(int32_t fs, int32_t nbits, int32_t pfType, const std::string& path);
// Overrides fields from key=value lines; an unknown key is reported.
void readPtParam(const std::string& path, ptParam& prm);

// Pitch functions of one frame into output[0..pfLen-1].
// frame2acf: autocorrelation after removing the frame's integer mean.
// frame2amdf: mean absolute difference at each lag; no mean removed.
void frame2acf(const int32_t* frame, int32_t frameSize, float* output, int32_t pfLen);
void frame2amdf(const int32_t* frame, int32_t frameSize, float* output, int32_t pfLen);

// Pitch function of every frame (frames start every frameSize - overlap
// samples), frame after frame, pfLen values each, not normalised. The
// autocorrelation is computed through the FFT (the sums of frame2acf up to
// rounding). Reports a pfType other than 0 and 1.
std::vector<float> framePitchFunction(const int32_t* samples, int32_t sampleCount, const ptParam& prm);

// Lag range of the pitch limits: minLag = fs / semitoneToFreq(maxPitch) and
// maxLag = fs / semitoneToFreq(minPitch), rounded half away from zero, maxLag
// lowered to pfLen - 1 and minLag raised to 1.
void pitchLagRange(const ptParam& prm, int32_t& minLag, int32_t& maxLag);

// Pitch (semitones) and clarity (0..1) of one frame's pitch function of pfLen
// values, searching lags from minLag to maxLag.
void framePitchAndClarity(const float* pf, int32_t pfLen, int32_t pfType, int32_t fs, int32_t minLag,
                          int32_t maxLag, float& pitch, float& clarity);

// Adds the candidate lags of one frame's pitch function to the set's last
// frame: local optima (dpUseLocalOptim 1) or every lag, kept when within
// minLag..upperLag and not 0, each with the function's value there.
void pitchCandidates(const float* pf, const ptParam& prm, int32_t minLag, int32_t upperLag,
                     pitchCandidateSetClass& set);

// Dynamic programming over the frames firstFrame..lastFrame of the set, each
// with at least one candidate: returns the chosen lag of every frame of the
// run. The score of a candidate is pfWeight times its value plus the best of
// the previous frame's scores less (autocorrelation) or plus (difference
// function) the transition cost; ties keep the earliest candidate.
std::vector<int32_t> pitchDp(const pitchCandidateSetClass& set, int32_t firstFrame, int32_t lastFrame,
                             const ptParam& prm);

// The transition step of pitchDp: for each position x[k] of the current
// frame, the index j of the previous frame maximising
// gain[j] - weight * |pos[j] - x[k]| (squared: the distance squared), the
// earliest j on ties. pos and x ascend (not strictly). With a positive weight
// the search takes linear time (running maxima, or the upper envelope of the
// parabolas); otherwise it tries every pair.
void bestTransitions(const std::vector<double>& pos, const std::vector<double>& gain, const std::vector<double>& x,
                     double weight, bool squared, std::vector<int32_t>& best);

// Pitch of every frame of the samples into pitch (resized to the count
// returned). Frames start every frameSize - overlap samples; fewer samples
// than one frame give no frame. Reports parameters it cannot work with.
int32_t trackPitch(const int32_t* samples, int32_t sampleCount, const ptParam& prm, std::vector<float>& pitch);

// Running median of the given order: frames order/2 .. T-1-order/2 take the
// median of the order unfiltered values around them (the mean of the two middle
// ones for an even order); frames nearer the ends keep their values.
std::vector<float> medianFilter(const std::vector<float>& values, int32_t order);
// Removes the frames before the first and after the last non-zero value,
// moving the rest to the front; returns the count left (0 when all are zero)
// and resizes values to it.
int32_t cutLeadingTrailingZero(std::vector<float>& values);
// Median of the non-zero values (the mean of the two middle ones for an even
// count); 0 when there are none.
float medianOfNonZero(const std::vector<float>& values);
