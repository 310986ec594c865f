#include "decoder/stateProb.h"

#include "run/utility.h"
#include "run/outputSink.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const char* const UNIT = "viterbi";

// Log zero, and the limits of the log-sum of mixture components.
constexpr double LOG_ZERO = -1e10;
constexpr double LOG_SUM_MIN_DIFF = -23.0259;  // e^-23.0259 = 1e-10: too small to matter
constexpr double LOG_SUM_FLOOR = -5e9;         // below this a sum is log zero
constexpr float SKIP_LOG_WEIGHT = -11.5f;      // components of no more weight are skipped

// -0.5 * (gconst + sum of (x - mean)^2 * inverseVariance) over one stream.
// The sum runs in four interleaved partial sums (dimensions d, d + 4, d + 8,
// d + 12 in lane d % 4) added pairwise at the end: a fixed order, so results
// do not depend on the compiler, and one the compiler can keep in one vector
// register instead of a chain of 13 dependent additions.
inline float componentLogDensity(const float* x, const gaussMixture& mix) {
    static_assert(MODEL_PARAM_NUM == 13, "the partial sums cover 13 values");
    float lane[4];
    for (int32_t l = 0; l < 4; ++l) {
        float diff = x[l] - mix.mean[l];
        lane[l] = diff * diff * mix.variance[l];
    }
    for (int32_t d = 4; d < 12; d += 4)
        for (int32_t l = 0; l < 4; ++l) {
            float diff = x[d + l] - mix.mean[d + l];
            lane[l] += diff * diff * mix.variance[d + l];
        }
    float diff = x[12] - mix.mean[12];
    lane[0] += diff * diff * mix.variance[12];
    return -0.5f * (mix.gconst + ((lane[0] + lane[1]) + (lane[2] + lane[3])));
}

}  // namespace

float getMixtureLogProb(const float* frame, const macroClass& models, int32_t modelIdx, int32_t stateIdx,
                        int32_t streamIdx, int32_t mixtureIdx) {
    const gaussMixture& mix =
        models.models[static_cast<size_t>(modelIdx)].state[stateIdx].stream[streamIdx].mixture[mixtureIdx];
    return componentLogDensity(frame + streamIdx * MODEL_PARAM_NUM, mix);
}

float computeStateLogProb(const float* frame, const macroClass& models, int32_t modelIdx, int32_t stateIdx) {
    const hmmState& state = models.models[static_cast<size_t>(modelIdx)].state[stateIdx];
    float total = 0;
    for (int32_t k = 0; k < models.streamNum; ++k) {
        const hmmStream& stream = state.stream[k];
        const float* x = frame + k * MODEL_PARAM_NUM;
        double acc = LOG_ZERO;
        for (const gaussMixture& mix : stream.mixture) {
            if (!(mix.weight > SKIP_LOG_WEIGHT)) continue;
            double v = mix.weight + componentLogDensity(x, mix);
            double hi = acc, lo = v;
            if (v > acc) {
                hi = v;
                lo = acc;
            }
            double diff = lo - hi;
            if (diff < LOG_SUM_MIN_DIFF)
                acc = hi < LOG_SUM_FLOOR ? LOG_ZERO : hi;
            else
                acc = hi + std::log(1.0 + std::exp(diff));
        }
        total += static_cast<float>(acc);
    }
    return total;
}

void probCacheClass::resize(int32_t modelNum) {
    m_entries.assign(static_cast<size_t>(std::max(modelNum, 0)), probCacheEntry{});
    reset();
}

void probCacheClass::reset() {
    for (probCacheEntry& entry : m_entries)
        for (int32_t s = 0; s < MAX_EMIT_STATE_NUM; ++s) {
            entry.frameKey[s] = -1;
            entry.value[s] = 0;
        }
}

float probCacheClass::modelProb(const float* features, int32_t dim, int32_t frameId1, int32_t frameId2,
                                const macroClass& models, int32_t modelIdx) {
    if (modelIdx < 0 || modelIdx >= models.modelNum || static_cast<size_t>(modelIdx) >= m_entries.size())
        reportError(formatString("Error: modelProb asked for model %d of %d (cache for %zu) (line %d of file %s)",
                                 modelIdx, models.modelNum, m_entries.size(), __LINE__, UNIT));
    const int32_t n = frameId2 - frameId1 + 1;
    if (n < MAX_STATE_NUM) {
        sinkPrintf("Warning in viterbiClass::modelProb: modelIdx=%d, frameId1=%d, frameId2=%d, "
                    "frameNum=%d<MAX_STATE_NUM=%d\n",
                    modelIdx, frameId1, frameId2, n, MAX_STATE_NUM);
        return static_cast<float>(LOG_ZERO);
    }
    if (frameId1 < 0 || dim < models.streamNum * MODEL_PARAM_NUM)
        reportError(formatString("Error: modelProb over frames %d to %d of dimension %d (line %d of file %s)",
                                 frameId1, frameId2, dim, __LINE__, UNIT));

    const hmmModel& model = models.models[static_cast<size_t>(modelIdx)];
    auto b = [&](int32_t s, int32_t t) {
        int32_t frame = frameId1 + t;
        return getStateLogProb(features + static_cast<size_t>(frame) * static_cast<size_t>(dim), models, modelIdx,
                               s, frame);
    };
    auto a = [&](int32_t i, int32_t j) { return model.transP[i][j]; };

    // Two rows of the n x 3 table suffice: row t only reads row t - 1.
    const float logZero = static_cast<float>(LOG_ZERO);
    float prev[MAX_STATE_NUM] = {b(0, 0), logZero, logZero};
    float cur[MAX_STATE_NUM];
    for (int32_t t = 1; t < n; ++t) {
        cur[0] = prev[0] + a(1, 1) + b(0, t);
        for (int32_t s = 1; s < MAX_STATE_NUM; ++s)
            cur[s] = b(s, t) + std::max(prev[s - 1] + a(s, s + 1), prev[s] + a(s + 1, s + 1));
        std::copy(cur, cur + MAX_STATE_NUM, prev);
    }
    return prev[2];
}
