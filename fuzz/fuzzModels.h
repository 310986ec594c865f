// Comparison of two model sets read from files, for the write-and-read-back
// checks of the model targets.
#pragma once

#include <cmath>
#include <cstring>

#include "decoder/macro.h"
#include "fuzzSupport.h"
#include "run/utility.h"

namespace fuzzModels {

// Equal values, or both not a number (a NaN may come back with another payload).
inline bool sameFloat(float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }

inline bool sameMixture(const gaussMixture& a, const gaussMixture& b) {
    if (!sameFloat(a.weight, b.weight) || !sameFloat(a.gconst, b.gconst)) return false;
    for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d)
        if (!sameFloat(a.mean[d], b.mean[d]) || !sameFloat(a.variance[d], b.variance[d])) return false;
    return true;
}

// Same models in the same order with the same content (stream weights and
// transitions included); the option line is not compared.
inline bool sameModelSet(const macroClass& a, const macroClass& b) {
    if (a.modelNum != b.modelNum || a.models.size() != b.models.size() || a.streamNum != b.streamNum) return false;
    for (size_t m = 0; m < a.models.size(); ++m) {
        const hmmModel& x = a.models[m];
        const hmmModel& y = b.models[m];
        if (x.name != y.name || x.stateNum != y.stateNum) return false;
        for (int32_t s = 0; s < x.stateNum - 2; ++s) {
            for (int32_t k = 0; k < a.streamNum; ++k) {
                if (!sameFloat(x.state[s].streamWeight[k], y.state[s].streamWeight[k])) return false;
                const auto& mx = x.state[s].stream[k].mixture;
                const auto& my = y.state[s].stream[k].mixture;
                if (mx.size() != my.size()) return false;
                for (size_t j = 0; j < mx.size(); ++j)
                    if (!sameMixture(mx[j], my[j])) return false;
            }
        }
        for (int32_t i = 0; i < x.stateNum; ++i)
            for (int32_t j = 0; j < x.stateNum; ++j)
                if (!sameFloat(x.transP[i][j], y.transP[i][j])) return false;
    }
    return true;
}

// Basic shape of a set as the readers leave it.
inline bool wellFormed(const macroClass& set) {
    if (set.modelNum != static_cast<int32_t>(set.models.size()) || set.streamNum < 1 ||
        set.streamNum > MAX_STREAM_NUM)
        return false;
    for (const hmmModel& model : set.models) {
        if (model.name.size() > static_cast<size_t>(MAX_MODEL_NAME_LEN) || model.stateNum < 3 ||
            model.stateNum > MAX_MODEL_STATE_NUM)
            return false;
        for (int32_t s = 0; s < model.stateNum - 2; ++s)
            for (int32_t k = 0; k < set.streamNum; ++k) {
                size_t n = model.state[s].stream[k].mixture.size();
                if (n < 1 || n > static_cast<size_t>(MAX_MIXTURE_NUM)) return false;
            }
    }
    return true;
}

// Reads the file as loaded for a run (sorted and converted), then as stored
// into `stored`; both must be well formed. False when the file is refused.
inline bool readBothWays(const std::string& path, macroClass& stored) {
    try {
        macroClass loaded;
        loaded.readMacro(path, true);
        fuzzSupport::require(wellFormed(loaded), "a well-formed converted set");
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    try {
        stored.readMacro(path, false);
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
        return false;
    }
    fuzzSupport::require(wellFormed(stored), "a well-formed set");
    return true;
}

}  // namespace fuzzModels
