// State likelihood: the log density of a feature frame under an emitting state
// of a converted model set (a diagonal-covariance Gaussian mixture per stream,
// summed over the streams), cached per model state and frame, and the best
// log likelihood of a three-state model over a span of frames.
// All logarithms are natural; -1e10 stands for log zero.
#pragma once

#include "decoder/macro.h"

#include <cstdint>
#include <vector>

// Fewest frames a span must have in modelProb: one per emitting state.
constexpr int32_t MAX_STATE_NUM = 3;

// Log density of one mixture component for the stream's slice of a frame:
// -0.5 * (gconst + sum of (x - mean)^2 * inverseVariance), in single precision.
// frame points at the first value of a frame (stream k at 13 * k).
float getMixtureLogProb(const float* frame, const macroClass& models, int32_t modelIdx,
                        int32_t stateIdx, int32_t streamIdx, int32_t mixtureIdx);

// Uncached state log likelihood: per stream, the log-sum of log weight plus
// component density over the components whose log weight is above -11.5
// (-1e10 when none), rounded to float; the streams are summed (stream weights
// are not applied). stateIdx counts emitting states from 0.
float computeStateLogProb(const float* frame, const macroClass& models, int32_t modelIdx,
                          int32_t stateIdx);

// One frame key and value per emitting state of a model.
struct probCacheEntry {
    int32_t frameKey[MAX_EMIT_STATE_NUM];  // absolute frame index of the value; -1 when empty
    float value[MAX_EMIT_STATE_NUM];       // state log likelihood at that frame
};

// The state-likelihood cache of one decoder: one frame per model state, which
// suits a frame-synchronous search (within a frame every candidate in the same
// model state reuses one evaluation). Not for use from two threads.
class probCacheClass {
public:
    std::vector<probCacheEntry> m_entries;  // one per model

    // Sizes the cache for a model count and empties it.
    void resize(int32_t modelNum);
    // Empties every entry (frame keys -1); call at the start of every search.
    void reset();

    // State log likelihood of emitting state stateIdx (0 to 2) of model
    // modelIdx for the frame at `frame`, whose absolute index is frameKey;
    // computed once per (model, state, frameKey) while the key stays stored.
    // modelIdx must be below the size given to resize.
    float getStateLogProb(const float* frame, const macroClass& models, int32_t modelIdx,
                          int32_t stateIdx, int32_t frameKey) {
        probCacheEntry& entry = m_entries[static_cast<size_t>(modelIdx)];
        if (entry.frameKey[stateIdx] == frameKey) return entry.value[stateIdx];
        float value = computeStateLogProb(frame, models, modelIdx, stateIdx);
        entry.frameKey[stateIdx] = frameKey;
        entry.value[stateIdx] = value;
        return value;
    }

    // Best log likelihood of the first three emitting states of model modelIdx,
    // as a strict left-to-right chain, over frames frameId1 to frameId2
    // inclusive of the utterance at `features` (frames of dim floats); the
    // model must be in its third state at the last frame. Entry and exit
    // transitions are not counted. Fewer than 3 frames: warning and -1e10.
    // A model index outside the set is fatal.
    float modelProb(const float* features, int32_t dim, int32_t frameId1, int32_t frameId2,
                    const macroClass& models, int32_t modelIdx);
};
