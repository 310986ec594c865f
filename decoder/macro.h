// The acoustic model set: one continuous-density HMM per phone (or sub-word
// unit) with diagonal-covariance Gaussian mixtures per state and stream and a
// transition matrix per model. Read from a text model file (.mac, HTK-style
// master macro file) or its binary dump (.macb), sorted by name and converted
// into the form the decoder evaluates: log mixture weights, inverse variances,
// log transition probabilities.
#pragma once

#include "frontend/featureLayout.h"

#include <cstdint>
#include <string>
#include <vector>

// Fixed limits of one model record.
constexpr int32_t MODEL_PARAM_NUM = MAX_PARAM_NUM;  // values per stream; stream k is frame[13 k .. 13 k + 12]
constexpr int32_t MAX_MIXTURE_NUM = 32;     // mixture components per stream
constexpr int32_t MAX_STREAM_NUM = 3;       // feature streams
constexpr int32_t MAX_MODEL_STATE_NUM = 5;  // states per model, entry and exit included
constexpr int32_t MAX_EMIT_STATE_NUM = 3;   // emitting states per model
constexpr int32_t MAX_MODEL_NAME_LEN = 49;  // bytes of a model name

// One diagonal-covariance Gaussian. The binary image is 112 bytes, in this order.
struct gaussMixture {
    float weight;                     // mixture weight; after conversion its natural log (0 -> -1e10)
    float mean[MODEL_PARAM_NUM];      // mean vector
    float variance[MODEL_PARAM_NUM];  // diagonal variances; after conversion their reciprocals
    float gconst;                     // 13 ln(2 pi) + sum of ln(variance), as stored in the file
};

// The components of a stream are held in one small block per stream, in
// load order, so that the few components a state really has lie together
// (a fixed block of MAX_MIXTURE_NUM slots would make a single-Gaussian model
// some twenty times larger and scatter the data that the likelihood reads).
struct hmmStream {
    // The components, 1 to MAX_MIXTURE_NUM of them (mixture.size() is the
    // stream's mixture count). Slots that a text file declares but does not
    // list stay zero-filled (weight 0) and never contribute.
    std::vector<gaussMixture> mixture;
};

struct hmmState {
    float streamWeight[MAX_STREAM_NUM];  // as read; not used in likelihoods
    hmmStream stream[MAX_STREAM_NUM];    // one per stream of the model set
};

// A model; `hmmModel model{};` gives an empty, zero-filled one.
struct hmmModel {
    std::string name;                    // at most MAX_MODEL_NAME_LEN bytes, e.g. "a+b"
    float logCount;                      // ln of the model count file's count; 0 when none
    int32_t stateNum;                    // states including entry and exit, 3 to 5
    hmmState state[MAX_EMIT_STATE_NUM];  // emitting states: file state s is state[s - 2]
    // Entry (i, j) is the transition from state i to state j, states counted
    // from 0 (entry) to stateNum - 1 (exit); entries beyond stateNum stay 0.
    // After conversion non-zero entries are natural logs and zero entries -1e10.
    float transP[MAX_MODEL_STATE_NUM][MAX_MODEL_STATE_NUM];
};

// Gaussian constant of a component from its variances: 13 ln(2 pi) + the sum
// of ln(variance), each variance floored at 1e-30 as the conversion floors it.
float gconstFromVariances(const float* variance);

class macroClass {
public:
    int32_t modelNum = 0;                             // number of models; always models.size()
    int32_t streamNum = 0;                            // feature streams, 1 to MAX_STREAM_NUM
    int32_t streamWidth[MAX_STREAM_NUM] = {0, 0, 0};  // MODEL_PARAM_NUM for every used stream
    std::string optionText;                           // global option line of a text file, kept as read
    std::vector<hmmModel> models;                     // index = position after sortModels
    bool isConverted = false;                         // true after convertModels

    // Drops the models held, reads the file chosen by its extension ("mac" or
    // "MAC": text, "macb" or "MACB": binary; anything else is refused) and,
    // when convert is true, sorts and converts. A failed read leaves the set
    // empty.
    void readMacro(const std::string& path, bool convert);
    // The two readers behind readMacro; each replaces the whole content and
    // leaves the models in file order, as read.
    void readMacText(const std::string& path);
    void readMacBinary(const std::string& path);

    // Ascending unsigned byte order of the names.
    void sortModels();
    // Log weights, inverse variances (floored at 1e-30 both ways), log transitions.
    void convertModels();

    // Sets every logCount to 0, then, if the file exists, takes line i
    // ("name<TAB>count", "%" comment lines skipped) as the count of model i.
    void readModelCountFile(const std::string& path);

    // Index of the model of that name (binary search over the sorted set), or
    // the index findSubstituteModel gives.
    int32_t findModelIndex(const std::string& name) const;
    // -1 for "sp", "sil", "filler", "fillerC", "fillerV"; otherwise, for a
    // name "left+right", the first model named "left+sil...", else the first
    // named "left+...", else model 0, with a warning. A name without '+' is fatal.
    int32_t findSubstituteModel(const std::string& name) const;
    // Clears the list and appends every model name in index order.
    void getModelNames(std::vector<std::string>& list) const;

    // Writers of an unconverted set (refused once converted): the text layout
    // that readMacText reads, and the binary layout that readMacBinary reads.
    // Models are written in their current order.
    void writeMacText(const std::string& path) const;
    void writeMacBinary(const std::string& path) const;
};
