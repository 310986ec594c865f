#include "lib/pitch.h"

#include "lib/fftwPlan.h"

#include "lib/audio.h"
#include "run/utility.h"
#include "run/outputSink.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>

namespace {

const char* const UNIT = "lib/audio";

// Lag in samples of a pitch in semitones, rounded half away from zero; a
// pitch without a frequency (or beyond the int range) gives a lag larger than
// any pitch function.
int32_t lagOfPitch(int32_t fs, double semitone) {
    double freq = semitoneToFreq(semitone);
    if (!(freq > 0)) return std::numeric_limits<int32_t>::max();
    double lag = fs / freq;
    if (!(lag < 2e9)) return std::numeric_limits<int32_t>::max();
    return roundToInt(lag);
}

// Autocorrelation of frames through the FFT: the same sums as frame2acf,
// computed in O(N log N) per frame with an FFT long enough that no lag wraps.
class autocorrelationClass {
public:
    autocorrelationClass(int32_t frameSize, int32_t pfLen) : m_frameSize(frameSize), m_pfLen(pfLen) {
        m_fftSize = 2;
        while (m_fftSize < frameSize + pfLen) m_fftSize *= 2;
        m_time.assign(m_fftSize, 0.0f);
        m_freq.assign(2 * (m_fftSize / 2 + 1), 0.0f);
        fftwf_complex* freq = reinterpret_cast<fftwf_complex*>(m_freq.data());
        m_forward = planRealToComplex(m_fftSize, m_time.data(), freq);
        m_backward = planComplexToReal(m_fftSize, freq, m_time.data());
        if (!m_forward || !m_backward)
            reportError(formatString("Cannot plan a %d-point FFT (line %d of file %s)", m_fftSize, __LINE__, UNIT));
    }
    void compute(const int32_t* frame, float* output) {
        int64_t sum = 0;
        for (int32_t i = 0; i < m_frameSize; ++i) sum += frame[i];
        int64_t mean = sum / m_frameSize;
        for (int32_t i = 0; i < m_frameSize; ++i) m_time[i] = static_cast<float>(frame[i] - mean);
        std::fill(m_time.begin() + m_frameSize, m_time.end(), 0.0f);
        fftwf_execute(m_forward.get());
        for (size_t k = 0; k < m_freq.size(); k += 2) {
            m_freq[k] = m_freq[k] * m_freq[k] + m_freq[k + 1] * m_freq[k + 1];
            m_freq[k + 1] = 0;
        }
        fftwf_execute(m_backward.get());
        const float scale = 1.0f / static_cast<float>(m_fftSize);
        for (int32_t lag = 0; lag < m_pfLen; ++lag) output[lag] = lag < m_frameSize ? m_time[lag] * scale : 0.0f;
    }

private:
    int32_t m_frameSize, m_pfLen, m_fftSize;
    std::vector<float> m_time, m_freq;
    fftwPlanPtr m_forward, m_backward;
};

void checkPtParam(const ptParam& prm) {
    if (prm.fs <= 0)
        reportError(formatString("Pitch tracking needs a positive sample rate, fs=%d (line %d of file %s)", prm.fs,
                                 __LINE__, UNIT));
    if (prm.frameSize < 2 || prm.frameSize > MAX_PITCH_FRAME_SIZE)
        reportError(formatString("Pitch frameSize=%d is outside 2 to %d (line %d of file %s)", prm.frameSize,
                                 MAX_PITCH_FRAME_SIZE, __LINE__, UNIT));
    if (prm.overlap < 0 || prm.overlap >= prm.frameSize)
        reportError(formatString("Pitch overlap=%d is outside 0 to frameSize-1=%d (line %d of file %s)", prm.overlap,
                                 prm.frameSize - 1, __LINE__, UNIT));
    if (prm.pfLen < 2 || prm.pfLen > prm.frameSize)
        reportError(formatString("Pitch pfLen=%d is outside 2 to frameSize=%d (line %d of file %s)", prm.pfLen,
                                 prm.frameSize, __LINE__, UNIT));
}

// For each candidate k of the current frame, the candidate j of the previous
// frame maximising g[j] - cost(|pos[j] - x[k]|), the earliest j on ties.
// Positions ascend with the candidate index in both frames (not strictly).
class transitionSearchClass {
public:
    transitionSearchClass(double weight, bool squared) : m_weight(weight), m_squared(squared) {}

    double cost(double distance) const {
        return m_squared ? m_weight * distance * distance : m_weight * distance;
    }
    double gain(const std::vector<double>& pos, const std::vector<double>& g, int32_t j, double x) const {
        return g[j] - cost(std::fabs(pos[j] - x));
    }
    // Keeps the better of two predecessors for position x (earliest on ties).
    int32_t better(const std::vector<double>& pos, const std::vector<double>& g, int32_t a, int32_t b,
                   double x) const {
        if (a < 0) return b;
        if (b < 0) return a;
        double ga = gain(pos, g, a, x), gb = gain(pos, g, b, x);
        if (ga > gb) return a;
        if (gb > ga) return b;
        return std::min(a, b);
    }

    void search(const std::vector<double>& pos, const std::vector<double>& g, const std::vector<double>& x,
                std::vector<int32_t>& best) const {
        const size_t n = pos.size(), m = x.size();
        best.assign(m, -1);
        // Small frames, and weights that do not make the cost grow with the
        // distance, are searched exhaustively.
        if (n * m <= 256 || !(m_weight > 0) || !std::isfinite(m_weight)) {
            for (size_t k = 0; k < m; ++k) {
                int32_t b = 0;
                double bestGain = gain(pos, g, 0, x[k]);
                for (size_t j = 1; j < n; ++j) {
                    double v = gain(pos, g, static_cast<int32_t>(j), x[k]);
                    if (v > bestGain) {
                        bestGain = v;
                        b = static_cast<int32_t>(j);
                    }
                }
                best[k] = b;
            }
            return;
        }
        if (m_squared) searchSquared(pos, g, x, best);
        else searchLinear(pos, g, x, best);
    }

private:
    // g[j] - w |x - p_j| = (g[j] + w p_j) - w x for p_j <= x, and
    // (g[j] - w p_j) + w x for p_j >= x: a running maximum from the left and
    // one from the right.
    void searchLinear(const std::vector<double>& pos, const std::vector<double>& g, const std::vector<double>& x,
                      std::vector<int32_t>& best) const {
        const int32_t n = static_cast<int32_t>(pos.size());
        std::vector<int32_t> suffixBest(n);
        int32_t s = n - 1;
        for (int32_t j = n - 1; j >= 0; --j) {
            if (g[j] - m_weight * pos[j] >= g[s] - m_weight * pos[s]) s = j;
            suffixBest[j] = s;
        }
        int32_t prefix = -1, next = 0;
        for (size_t k = 0; k < x.size(); ++k) {
            while (next < n && pos[next] <= x[k]) {
                if (prefix < 0 || g[next] + m_weight * pos[next] > g[prefix] + m_weight * pos[prefix]) prefix = next;
                ++next;
            }
            int32_t right = -1;
            int32_t first = next;
            while (first > 0 && pos[first - 1] == x[k]) --first;  // positions equal to x count on both sides
            if (first < n) right = suffixBest[first];
            best[k] = better(pos, g, prefix, right, x[k]);
        }
    }

    // Upper envelope of the parabolas g[j] - w (x - p_j)^2, evaluated at the
    // ascending positions x; the envelope neighbours of the winner are checked
    // directly so that rounding at the boundaries cannot pick a worse one.
    void searchSquared(const std::vector<double>& pos, const std::vector<double>& g, const std::vector<double>& x,
                       std::vector<int32_t>& best) const {
        const int32_t n = static_cast<int32_t>(pos.size());
        std::vector<int32_t> v;
        std::vector<double> z;  // z[t]: left end of the interval where v[t] is best
        v.reserve(n);
        z.reserve(n);
        for (int32_t j = 0; j < n; ++j) {
            if (!v.empty() && pos[v.back()] == pos[j]) {
                if (!(g[j] > g[v.back()])) continue;  // the earlier one wins at equal position
                v.pop_back();
                z.pop_back();
            }
            double s = -std::numeric_limits<double>::infinity();
            while (!v.empty()) {
                int32_t i = v.back();
                s = (pos[i] + pos[j]) / 2 + (g[i] - g[j]) / (2 * m_weight * (pos[j] - pos[i]));
                if (s <= z.back()) {
                    v.pop_back();
                    z.pop_back();
                    s = -std::numeric_limits<double>::infinity();
                } else {
                    break;
                }
            }
            v.push_back(j);
            z.push_back(v.size() == 1 ? -std::numeric_limits<double>::infinity() : s);
        }
        size_t t = 0;
        for (size_t k = 0; k < x.size(); ++k) {
            while (t + 1 < v.size() && z[t + 1] < x[k]) ++t;
            int32_t b = v[t];
            if (t > 0) b = better(pos, g, b, v[t - 1], x[k]);
            if (t + 1 < v.size()) b = better(pos, g, b, v[t + 1], x[k]);
            best[k] = b;
        }
    }

    double m_weight;
    bool m_squared;
};

}  // namespace

void bestTransitions(const std::vector<double>& pos, const std::vector<double>& gain, const std::vector<double>& x,
                     double weight, bool squared, std::vector<int32_t>& best) {
    transitionSearchClass(weight, squared).search(pos, gain, x, best);
}

double freqToSemitone(double freq) {
    if (freq <= 0) return 0;
    return 69 + 12 * std::log2(freq / 440);
}

double semitoneToFreq(double semitone) {
    if (semitone <= 0) return 0;
    return 440 * std::pow(2.0, (semitone - 69) / 12);
}

void readPtParam(const std::string& path, ptParam& prm) {
    std::vector<std::string> keys, values;
    readKeyValueFile(path, keys, values);
    for (size_t i = 0; i < keys.size(); ++i) {
        const std::string& k = keys[i];
        const std::string& v = values[i];
        float f = std::strtof(v.c_str(), nullptr);
        int32_t n = atoiLike(v);
        if (k == "fs") prm.fs = n;
        else if (k == "nbits") prm.nbits = n;
        else if (k == "pfType") prm.pfType = n;
        else if (k == "frameSize") prm.frameSize = n;
        else if (k == "overlap") prm.overlap = n;
        else if (k == "pfLen") prm.pfLen = n;
        else if (k == "ppcNum") prm.ppcNum = n;
        else if (k == "minPitch") prm.minPitch = f;
        else if (k == "maxPitch") prm.maxPitch = f;
        else if (k == "pitchRangeMax") prm.pitchRangeMax = f;
        else if (k == "pitchDiffMax") prm.pitchDiffMax = f;
        else if (k == "maxMedianPitchDiff") prm.maxMedianPitchDiff = f;
        else if (k == "dpMethod") prm.dpMethod = n;
        else if (k == "dpPosDiffOrder") prm.dpPosDiffOrder = n;
        else if (k == "dpUseLocalOptim") prm.dpUseLocalOptim = truncToInt(std::strtod(v.c_str(), nullptr));
        else if (k == "pfWeight") prm.pfWeight = f;
        else if (k == "indexDiffWeight") prm.indexDiffWeight = f;
        else if (k == "useVolThreshold") prm.useVolThreshold = n;
        else if (k == "useClarityThreshold") prm.useClarityThreshold = n;
        else if (k == "clarityRatio") prm.clarityRatio = f;
        else if (k == "medianFilterOrder") prm.medianFilterOrder = n;
        else if (k == "cutLeadingTrailingZero") prm.cutLeadingTrailingZero = n;
        else
            reportError(formatString("Error in parsing %s, unknown key = %s (line %d in %s)", path.c_str(), k.c_str(),
                                     __LINE__, "audio"));
    }
}

ptParam initPtParam(int32_t fs, int32_t nbits, int32_t pfType, const std::string& path) {
    ptParam prm;
    prm.fs = fs;
    prm.nbits = nbits;
    prm.pfType = pfType;
    if (fs == 8000) {
        prm.frameSize = 256;
        prm.overlap = 0;
    } else if (fs == 16000) {
        prm.frameSize = 640;
        prm.overlap = 480;
    } else {
        int64_t size = (static_cast<int64_t>(fs) * 256 + 7999) / 8000;  // rounded up
        if (fs <= 0) size = 0;
        if (size % 2 == 1) ++size;
        prm.frameSize = static_cast<int32_t>(std::min<int64_t>(size, std::numeric_limits<int32_t>::max() - 1));
        prm.overlap = 0;
    }
    prm.pfLen = prm.frameSize / 2;
    prm.dpMethod = 1;
    prm.dpPosDiffOrder = 1;
    prm.dpUseLocalOptim = 1;
    prm.pfWeight = 1;
    prm.indexDiffWeight = 1;
    if (pfType == 1 && fs == 8000 && prm.frameSize == 256 && prm.overlap == 0) {
        prm.dpMethod = 2;
        prm.pfWeight = 4;
        prm.indexDiffWeight = 388;
    } else if (pfType == 1 && fs == 16000 && prm.frameSize == 640 && prm.overlap == 480) {
        prm.dpPosDiffOrder = 2;
        prm.dpUseLocalOptim = 0;
        prm.indexDiffWeight = 6;
    }
    if (fileExists(path)) readPtParam(path, prm);
    if (prm.fs > 0) {
        double frameDuration = prm.frameSize * 1000.0 / prm.fs;
        if (frameDuration < 32)
            sinkPrintf("Warning: frameSize too small! (frameSize=%d, frameDuration=%g ms < minFrameDuration=%g ms)\n",
                        prm.frameSize, frameDuration, 32.0);
    }
    return prm;
}

void frame2acf(const int32_t* frame, int32_t frameSize, float* output, int32_t pfLen) {
    int64_t sum = 0;
    for (int32_t i = 0; i < frameSize; ++i) sum += frame[i];
    int64_t mean = frameSize > 0 ? sum / frameSize : 0;
    std::vector<int64_t> x(frame, frame + frameSize);
    for (int64_t& v : x) v -= mean;
    for (int32_t lag = 0; lag < pfLen; ++lag) {
        float acc = 0;
        for (int32_t i = 0; i < frameSize - lag; ++i) acc += static_cast<float>(x[i] * x[i + lag]);
        output[lag] = acc;
    }
}

void frame2amdf(const int32_t* frame, int32_t frameSize, float* output, int32_t pfLen) {
    for (int32_t lag = 0; lag < pfLen; ++lag) {
        if (lag >= frameSize) {
            output[lag] = 0;
            continue;
        }
        float acc = 0;
        for (int32_t i = 0; i < frameSize - lag; ++i)
            acc += static_cast<float>(std::llabs(static_cast<int64_t>(frame[i]) - frame[i + lag]));
        output[lag] = acc / static_cast<float>(frameSize - lag);
    }
}

void framePitchAndClarity(const float* pf, int32_t pfLen, int32_t pfType, int32_t fs, int32_t minLag,
                          int32_t maxLag, float& pitch, float& clarity) {
    pitch = 0;
    clarity = 0;
    if (minLag < 0 || minLag >= pfLen) return;
    const bool acf = pfType == 1;
    // First lag from minLag on where the function turns towards a peak (acf)
    // or a valley (amdf); minLag when there is none.
    int32_t i = minLag;
    while (i < pfLen - 1 && !(acf ? pf[i + 1] > pf[i] : pf[i] > pf[i + 1])) ++i;
    if (i >= pfLen - 1) i = minLag;
    if (maxLag < i) return;
    int32_t bestLag = i;
    float largest = pf[i];
    for (int32_t lag = i + 1; lag <= maxLag; ++lag) {
        if (acf ? pf[lag] > pf[bestLag] : pf[lag] < pf[bestLag]) bestLag = lag;
        largest = std::max(largest, pf[lag]);
    }
    if (bestLag <= 0) return;
    pitch = static_cast<float>(freqToSemitone(static_cast<double>(fs) / bestLag));
    if (acf) {
        if (pf[0] == 0) return;
        clarity = std::max(pf[bestLag], 0.0f) / pf[0];
        if (clarity > 1) clarity = 0;
    } else {
        clarity = largest == 0 ? 0.0f : 1 - pf[bestLag] / largest;
    }
}

void pitchCandidates(const float* pf, const ptParam& prm, int32_t minLag, int32_t upperLag,
                     pitchCandidateSetClass& set) {
    auto keep = [&](int32_t lag) {
        if (lag != 0 && lag >= minLag && lag <= upperLag) set.addCandidate(lag, pf[lag]);
    };
    if (prm.dpUseLocalOptim == 1) {
        const bool acf = prm.pfType == 1;
        int32_t turn = -1;  // last lag where the function rose (acf) or fell (amdf)
        bool used = true;   // whether that turn has given its candidate
        for (int32_t j = 1; j < prm.pfLen; ++j) {
            bool towards = acf ? pf[j - 1] < pf[j] : pf[j - 1] > pf[j];
            bool away = acf ? pf[j - 1] > pf[j] : pf[j - 1] < pf[j];
            if (towards) {
                turn = j;
                used = false;
            } else if (away && !used) {
                keep((j + turn) / 2);
                used = true;
            }
        }
    } else {
        for (int32_t lag = std::max(minLag, 1); lag < prm.pfLen && lag <= upperLag; ++lag) keep(lag);
    }
}

std::vector<int32_t> pitchDp(const pitchCandidateSetClass& set, int32_t firstFrame, int32_t lastFrame,
                             const ptParam& prm) {
    const int32_t runLength = lastFrame - firstFrame + 1;
    std::vector<int32_t> chosenLags(std::max(runLength, 0), 0);
    if (runLength <= 0) return chosenLags;
    const bool acf = prm.pfType == 1;
    const double sign = acf ? 1.0 : -1.0;  // the difference function minimises: search on negated scores
    const double pfWeight = prm.pfWeight;

    // Position of a lag on the axis the transition cost measures, ascending
    // with the candidate order: the lag itself, or minus ten times its
    // semitone value rounded.
    std::vector<double> semitonePos;
    if (prm.dpMethod == 2) {
        int32_t maxLag = 0;
        for (int32_t i = set.frameBegin(firstFrame); i < set.frameEnd(lastFrame); ++i)
            maxLag = std::max(maxLag, set.m_lags[i]);
        semitonePos.assign(static_cast<size_t>(maxLag) + 1, 0.0);
        for (int32_t lag = 1; lag <= maxLag; ++lag)
            semitonePos[lag] = -roundToInt(10 * freqToSemitone(static_cast<double>(prm.fs) / lag));
    }
    auto position = [&](int32_t lag) {
        if (prm.dpMethod != 2) return static_cast<double>(lag);
        return lag > 0 ? semitonePos[lag] : 0.0;
    };
    transitionSearchClass search(prm.indexDiffWeight, prm.dpPosDiffOrder != 1);

    // Back links of every candidate of the run; scores of two frames at a time.
    const int32_t base = set.frameBegin(firstFrame);
    std::vector<int32_t> backLink(static_cast<size_t>(set.frameEnd(lastFrame) - base), -1);
    std::vector<double> prevScore, score, prevPos, prevGain, curPos;
    std::vector<int32_t> best;
    for (int32_t i = set.frameBegin(firstFrame); i < set.frameEnd(firstFrame); ++i)
        prevScore.push_back(pfWeight * set.m_values[i]);
    for (int32_t t = firstFrame + 1; t <= lastFrame; ++t) {
        const int32_t pb = set.frameBegin(t - 1), pe = set.frameEnd(t - 1);
        const int32_t cb = set.frameBegin(t), ce = set.frameEnd(t);
        prevPos.resize(pe - pb);
        prevGain.resize(pe - pb);
        for (int32_t j = pb; j < pe; ++j) {
            prevPos[j - pb] = position(set.m_lags[j]);
            prevGain[j - pb] = sign * prevScore[j - pb];
        }
        curPos.resize(ce - cb);
        for (int32_t k = cb; k < ce; ++k) curPos[k - cb] = position(set.m_lags[k]);
        search.search(prevPos, prevGain, curPos, best);
        score.resize(ce - cb);
        for (int32_t k = 0; k < ce - cb; ++k) {
            int32_t j = best[k];
            double transition = search.cost(std::fabs(prevPos[j] - curPos[k]));
            double bestScore = acf ? prevScore[j] - transition : prevScore[j] + transition;
            score[k] = pfWeight * set.m_values[cb + k] + bestScore;
            backLink[cb + k - base] = pb + j;
        }
        prevScore.swap(score);
    }
    const int32_t lb = set.frameBegin(lastFrame);
    int32_t k = 0;
    for (size_t i = 1; i < prevScore.size(); ++i)
        if (acf ? prevScore[i] > prevScore[k] : prevScore[i] < prevScore[k]) k = static_cast<int32_t>(i);
    int32_t index = lb + k;
    for (int32_t t = lastFrame; t >= firstFrame; --t) {
        chosenLags[t - firstFrame] = set.m_lags[index];
        index = backLink[index - base];
    }
    return chosenLags;
}

std::vector<float> medianFilter(const std::vector<float>& values, int32_t order) {
    std::vector<float> out = values;
    const int64_t T = static_cast<int64_t>(values.size());
    if (order < 1 || order > T) return out;
    const int64_t half = order / 2;
    std::vector<float> window(order);
    for (int64_t i = half; i <= T - 1 - half; ++i) {
        if (i - half + order > T) break;
        std::copy(values.begin() + (i - half), values.begin() + (i - half + order), window.begin());
        std::sort(window.begin(), window.end());
        out[i] = order % 2 == 1 ? window[order / 2] : (window[order / 2 - 1] + window[order / 2]) / 2;
    }
    return out;
}

int32_t cutLeadingTrailingZero(std::vector<float>& values) {
    size_t first = 0;
    while (first < values.size() && values[first] == 0) ++first;
    if (first == values.size()) {
        values.clear();
        return 0;
    }
    size_t last = values.size() - 1;
    while (values[last] == 0) --last;
    values.erase(values.begin() + static_cast<std::ptrdiff_t>(last + 1), values.end());
    values.erase(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(first));
    return static_cast<int32_t>(values.size());
}

float medianOfNonZero(const std::vector<float>& values) {
    std::vector<float> nonZero;
    for (float v : values)
        if (v != 0) nonZero.push_back(v);
    if (nonZero.empty()) return 0;
    std::sort(nonZero.begin(), nonZero.end());
    size_t n = nonZero.size();
    return n % 2 == 1 ? nonZero[n / 2] : (nonZero[n / 2 - 1] + nonZero[n / 2]) / 2;
}

std::vector<float> framePitchFunction(const int32_t* samples, int32_t sampleCount, const ptParam& prm) {
    checkPtParam(prm);
    const int32_t T = frameCount(sampleCount, prm.frameSize, prm.overlap);
    const int32_t hop = prm.frameSize - prm.overlap;
    const int32_t pfLen = prm.pfLen;
    if (T == 0) return {};
    if (prm.pfType != 0 && prm.pfType != 1)
        reportError(formatString("Unknown pfType=%d (line %d of file %s)", prm.pfType, __LINE__, UNIT));
    if (static_cast<int64_t>(T) * pfLen > MAX_PITCH_FUNCTION_VALUES)
        reportError(formatString("Pitch tracking of %d frames of %d lags is too large (line %d of file %s)", T, pfLen,
                                 __LINE__, UNIT));
    std::vector<float> pf(static_cast<size_t>(T) * pfLen);
    if (prm.pfType == 1) {
        autocorrelationClass acf(prm.frameSize, pfLen);
        for (int32_t t = 0; t < T; ++t)
            acf.compute(samples + static_cast<size_t>(t) * hop, &pf[static_cast<size_t>(t) * pfLen]);
    } else {
        for (int32_t t = 0; t < T; ++t)
            frame2amdf(samples + static_cast<size_t>(t) * hop, prm.frameSize, &pf[static_cast<size_t>(t) * pfLen],
                       pfLen);
    }
    return pf;
}

void pitchLagRange(const ptParam& prm, int32_t& minLag, int32_t& maxLag) {
    minLag = std::max(1, lagOfPitch(prm.fs, prm.maxPitch));
    maxLag = std::min(lagOfPitch(prm.fs, prm.minPitch), prm.pfLen - 1);
}

int32_t trackPitch(const int32_t* samples, int32_t sampleCount, const ptParam& prm, std::vector<float>& pitch) {
    checkPtParam(prm);
    const int32_t T = frameCount(sampleCount, prm.frameSize, prm.overlap);
    const int32_t pfLen = prm.pfLen;
    pitch.assign(T, 0.0f);
    if (T == 0) return 0;

    // Pitch function of every frame, normalised so that the largest absolute
    // value over the utterance is 2^20.
    std::vector<float> pf = framePitchFunction(samples, sampleCount, prm);
    float maxAbs = 0;
    for (float v : pf) maxAbs = std::max(maxAbs, std::fabs(v));
    if (maxAbs == 0) {
        // No signal at all: every pitch stays 0.
        return prm.cutLeadingTrailingZero ? cutLeadingTrailingZero(pitch) : T;
    }
    for (float& v : pf) v = v / maxAbs * 1048576.0f;

    int32_t minLag, maxLag;
    pitchLagRange(prm, minLag, maxLag);
    const int32_t upperLag = lagOfPitch(prm.fs, prm.minPitch);

    // Clarity weighting, then the candidates of every frame.
    pitchCandidateSetClass candidates;
    for (int32_t t = 0; t < T; ++t) {
        float* row = &pf[static_cast<size_t>(t) * pfLen];
        float framePitch, clarity;
        framePitchAndClarity(row, pfLen, prm.pfType, prm.fs, minLag, maxLag, framePitch, clarity);
        for (int32_t i = 0; i < pfLen; ++i) row[i] *= clarity;
        candidates.addFrame();
        pitchCandidates(row, prm, minLag, upperLag, candidates);
    }

    // Dynamic programming over every run of consecutive frames with candidates.
    std::vector<int32_t> chosenLag(T, 0);
    auto hasCandidates = [&](int32_t t) { return candidates.frameEnd(t) > candidates.frameBegin(t); };
    for (int32_t start = 0; start < T;) {
        if (!hasCandidates(start)) {
            ++start;
            continue;
        }
        int32_t end = start;
        while (end + 1 < T && hasCandidates(end + 1)) ++end;
        std::vector<int32_t> lags = pitchDp(candidates, start, end, prm);
        for (int32_t t = start; t <= end; ++t) {
            int32_t lag = lags[t - start];
            chosenLag[t] = lag;
            pitch[t] = static_cast<float>(std::log(static_cast<double>(prm.fs) / lag / 440) * 12 / 0.69314718055995 + 69);
        }
        start = end + 1;
    }

    if (prm.useVolThreshold) {
        epdParam epd = initEpdParam(prm.fs);
        std::vector<epdSegment> segments = epdByVol(samples, sampleCount, prm.fs, epd);
        if (segments.empty())
            sinkPrintf("Warning: Cannot find any segment after epdByVol! (line %d of file %s)\n", __LINE__, UNIT);
        std::vector<uint8_t> speech(T, 0);
        for (const epdSegment& s : segments) {
            int32_t b = sampleToFrame(frameCenterSample(s.beginFrame, epd.frameSize, epd.overlap), prm.frameSize, prm.overlap);
            int32_t e = sampleToFrame(frameCenterSample(s.endFrame, epd.frameSize, epd.overlap), prm.frameSize, prm.overlap);
            b = std::min(std::max(b, 0), T - 1);
            e = std::min(std::max(e, 0), T - 1);
            for (int32_t t = b; t <= e; ++t) speech[t] = 1;
        }
        for (int32_t t = 0; t < T; ++t)
            if (!speech[t]) pitch[t] = 0;
    }

    if (prm.useClarityThreshold) {
        std::vector<float> clarity(T, 0.0f);
        float highest = 0;
        for (int32_t t = 0; t < T; ++t) {
            const float* row = &pf[static_cast<size_t>(t) * pfLen];
            int32_t lag = chosenLag[t];
            if (lag > 0 && row[0] != 0) {
                float c = row[lag] / row[0];
                clarity[t] = c < 0 || c > 1 ? 0.0f : c;
            }
            highest = std::max(highest, clarity[t]);
        }
        for (int32_t t = 0; t < T; ++t)
            if (clarity[t] < prm.clarityRatio * highest) pitch[t] = 0;
    }

    if (prm.medianFilterOrder > 2) pitch = medianFilter(pitch, prm.medianFilterOrder);
    if (prm.cutLeadingTrailingZero) return cutLeadingTrailingZero(pitch);
    return T;
}
