// Random model sets for the benchmarks: every model has three emitting states
// of three 13-wide streams, a left-to-right topology and random means and
// variances from a small linear congruential generator (the same numbers on
// every machine).
#pragma once

#include "decoder/macro.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>

namespace benchModels {

// Uniform in [-1, 1).
class randomSource {
public:
    explicit randomSource(uint32_t seed) : m_seed(seed) {}
    float next() {
        m_seed = m_seed * 1664525u + 1013904223u;
        return static_cast<float>(m_seed >> 8) / 16777216.0f * 2.0f - 1.0f;
    }

private:
    uint32_t m_seed;
};

// A set as read from a file (not sorted, not converted): mixtureNum
// components per stream, model m named nameOf(m).
inline macroClass randomModelSet(int32_t modelNum, int32_t mixtureNum,
                                 const std::function<std::string(int32_t)>& nameOf, randomSource& random) {
    macroClass set;
    set.streamNum = 3;
    for (int32_t k = 0; k < 3; ++k) set.streamWidth[k] = MODEL_PARAM_NUM;
    set.optionText = "<VECSIZE> 39<NULLD><MFCC_E_D_A><DIAGC>";
    set.models.resize(static_cast<size_t>(modelNum));
    set.modelNum = modelNum;
    for (int32_t m = 0; m < modelNum; ++m) {
        hmmModel& model = set.models[static_cast<size_t>(m)];
        model.name = nameOf(m);
        model.stateNum = 5;
        for (int32_t s = 0; s < 3; ++s)
            for (int32_t k = 0; k < 3; ++k) {
                model.state[s].streamWeight[k] = 1;
                hmmStream& stream = model.state[s].stream[k];
                stream.mixture.resize(static_cast<size_t>(mixtureNum));
                for (gaussMixture& mix : stream.mixture) {
                    mix.weight = 1.0f / static_cast<float>(mixtureNum);
                    double gconst = MODEL_PARAM_NUM * std::log(2 * M_PI);
                    for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) {
                        mix.mean[d] = random.next();
                        mix.variance[d] = 0.5f + 0.4f * random.next();
                        gconst += std::log(mix.variance[d]);
                    }
                    mix.gconst = static_cast<float>(gconst);
                }
            }
        model.transP[0][1] = 1;
        for (int32_t i = 1; i < 4; ++i) {
            model.transP[i][i] = 0.6f;
            model.transP[i][i + 1] = 0.4f;
        }
    }
    return set;
}

}  // namespace benchModels
