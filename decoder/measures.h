// Measurements of an aligned and ranked result that a calibration maps onto
// human scores: per phone its likelihood ratio and posterior among the
// competitors of its ranking, its rank and duration, and a frame-level
// goodness of pronunciation (GOP) against the monophone classes of the model
// set; per word the mean and minimum of its phones' measurements; per
// utterance the speech rate and the pauses between words.
// Logarithms are natural; frames are 10 ms apart.
#pragma once

#include "decoder/cmResult.h"
#include "decoder/macro.h"

#include <cstdint>
#include <string>
#include <vector>

// Names of the phone measurements, in the order of cmPhone::measures:
// "llr", "logPosterior", "rank", "frames", "gop", "classGop", "classMatch".
const char* phoneMeasureName(int32_t index);
// Index of a phone measurement's name; -1 for another name.
int32_t phoneMeasureIndex(const std::string& name);

// Inner pauses of at least this many frames count as pauses.
constexpr int32_t MEASURE_PAUSE_MIN_FRAMES = 10;

// The monophone classes of a model set: the name parts before the first '+'
// of every model except "sp" and the fillers ("sil" is a class: a phone that
// sounds like silence is one that was left out). Holds the emitting states
// of one Gaussian per stream flattened into one row each, so that a frame's
// likelihood under every state is one pass over contiguous memory.
class monophoneClasses {
public:
    std::vector<std::string> names;          // class names, in order of first model
    std::vector<int32_t> classOfModel;       // per model its class; -1 for sp and fillers
    std::vector<std::vector<int32_t>> members;  // per class its models

    explicit monophoneClasses(const macroClass& models);

    // The log likelihoods of one frame under every flattened state row: per
    // row the sum over the streams of log weight plus Gaussian log density
    // (in another order of additions than computeStateLogProb).
    void rowLogLikes(const float* frame, std::vector<float>& rows) const;
    // Best emitting-state log likelihood of a model at a frame, from the
    // frame's rows or, for a model with a mixture, bestStateLogLike.
    float modelBest(const std::vector<float>& rows, const float* frame, const macroClass& models,
                    int32_t modelIdx) const;
    // The same for a frame alone.
    float modelBest(const float* frame, const macroClass& models, int32_t modelIdx) const;

private:
    // Rows are stored dimension by dimension (value d of row r at d * m_rowNum
    // + r), so that one pass over a dimension updates every row in order.
    std::vector<float> m_mean, m_inverseVariance;
    std::vector<float> m_constant;           // per row: sum of log weights - gconst / 2
    std::vector<int32_t> m_firstRow, m_rowCount;   // per model; m_firstRow -1 = not flattened
    int32_t m_dim = 0;                       // feature values of a frame
    int32_t m_rowNum = 0;
};

// Per-frame summary of every monophone class, computed once per frame on
// first use: for frame t, the best emitting-state log likelihood of each
// class (the best over its models) and their log-sum. Holds a pointer to the
// features and models, which must outlive it. Not for use from two threads.
class frameClassTable {
public:
    frameClassTable(const monophoneClasses& classes, const macroClass& models, const float* features, int32_t dim,
                    int32_t frameNum);
    // Best state log likelihood of each class at frame t (0 <= t < frameNum).
    const float* classBest(int32_t t);
    // Log of the sum over the classes of their best state likelihoods at frame t.
    double logSum(int32_t t);
    // Frames computed so far.
    int32_t computedFrames() const { return m_computed; }

    // Best emitting-state log likelihood of a model at frame t.
    float modelBest(int32_t t, int32_t modelIdx);

private:
    void compute(int32_t t);
    void rowsOf(int32_t t);
    const monophoneClasses& m_classes;
    const macroClass& m_models;
    const float* m_features;
    int32_t m_dim, m_frameNum;
    int32_t m_computed = 0;
    std::vector<float> m_best;     // frameNum x class count
    std::vector<double> m_logSum;  // per frame
    std::vector<char> m_done;      // per frame
    std::vector<float> m_rows;     // the state rows of frame m_rowsFrame
    int32_t m_rowsFrame = -1;
};

// Best emitting-state log likelihood of a model at one frame.
float bestStateLogLike(const float* frame, const macroClass& models, int32_t modelIdx);

// What measureResult computes.
struct measureOptions {
    // The frame-level GOP and class measures ("gop", "classGop",
    // "classMatch"); they evaluate every model's states at every scored
    // frame. Without it they are 0.
    bool frameGop = true;
};

// Fills the measurements of a ranked result (rankPhones first; frames still
// counting from the first feature frame): for every scored phone of every
// scored node, with d its frames,
//   llr          (logLike - best other competitor's logLike) / d (0 without another),
//   logPosterior (logLike - log-sum of the competitors' logLikes) / d,
//   rank         phoneRank, frames d,
//   gop          mean over its frames of log(best state likelihood of its own model
//                / sum over the monophone classes of their best state likelihoods),
//   classGop     the same with its own class's best in the numerator,
//   classMatch   share of its frames where its own class is the best class;
// per scored node the mean and minimum of its phones' measurements; for the
// result the mean over all scored phones, the inner pauses (sp or sil nodes
// of at least MEASURE_PAUSE_MIN_FRAMES frames between the first and last
// scored node), the speech seconds from the first scored node's start to the
// last one's end, and the speech rate in scored phones per second of that
// span without its pauses. features holds frameNum frames of dim floats.
// Reports a phone outside the frames or with a model outside the set.
void measureResult(cmResult& result, const float* features, int32_t dim, int32_t frameNum, const macroClass& models,
                   const monophoneClasses& classes, const measureOptions& options);
