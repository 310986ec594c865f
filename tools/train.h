// Model training: left-to-right continuous HMMs (3 emitting states, one
// diagonal-covariance Gaussian mixture per stream and state) from waves with
// word transcripts, in the manner of the classic HMM toolkits:
//
//   1. features of every wave from the recognizer's own front end (the same
//      conditioning and the same CMel configuration);
//   2. flat start: every monophone state gets the global mean and variance;
//      variances are floored at a fraction of the global variance throughout;
//   3. embedded Baum-Welch re-estimation over the concatenated models of each
//      utterance: "sil", the phones of each word, an optional short pause "sp"
//      between words, "sil";
//   4. right-context models "p+q" (and "p+sil" at word ends), named as the
//      English lexicon of the recognizer names them, cloned from monophone p
//      and re-estimated;
//   5. mixture splitting up to the chosen number of components per stream,
//      with re-estimation after every split;
//   6. the model set (text layout of readMacText, gconst included) and a model
//      count file with the expected number of occurrences of each model.
#pragma once

#include "decoder/macro.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Settings of one training run; the defaults are those of the command line.
class trainParam {
public:
    std::string listPath;           // training list: "wave<TAB>transcript" lines, "%" comment lines
    std::string lexiconPath;        // .wpa or .wpab (English) or a pam file (syllable languages)
    std::string featureConfigPath;  // feature configuration, the one the recognizer uses
    std::string outputPath;         // model file to write: .mac text or .macb binary
    std::string countPath;          // model count file to write; "" = outputPath with extension "count"
    int32_t mixtureNum = 1;         // Gaussian components per stream of the final models, 1 to 32
    int32_t passNum = 3;            // re-estimation passes per training stage, at least 1
    int32_t useEpd = 0;             // 1 = endpoint detection before features (the recognizer's useEpd)
    bool optionalSp = true;         // offer a short pause "sp" between words
    float varianceFloor = 0.01f;    // variance floor as a fraction of the global variance
    float beam = 250.0f;            // forward pruning beam in natural-log units
};

// One line of a training list.
struct trainListEntry {
    std::string wavPath;     // as written (relative paths are relative to the working directory)
    std::string transcript;  // the words, separated by white space
    int32_t line = 0;        // line number in the list file, from 1
};

// Reads a training list: one utterance per line, the wave path, a tab, the
// words of the transcript; empty lines and lines beginning with "%" are
// skipped. A line without a tab or with an empty transcript is reported.
std::vector<trainListEntry> readTrainList(const std::string& path);

// Model names of one English phonetic alphabet string ("h_e_l_o"), as the
// recognizer's English lexicon names them: each phone followed by "+" and the
// next phone, the last by "+sil"; the phones "sil" and "sp" stand alone.
std::vector<std::string> englishModelNames(const std::string& pa);

// The part of a model name before its first "+" (the whole name without one).
std::string monophoneName(const std::string& name);

// The pronunciations of the words a training list may use.
class trainLexiconClass {
public:
    bool m_english = true;            // true for a wpa lexicon (words lower-cased)
    std::vector<std::string> m_words;  // ascending byte order, unique
    // For each word: its alternative pronunciations, each a list of model names.
    std::vector<std::vector<std::vector<std::string>>> m_prons;

    // Reads an English .wpa/.wpab file (by extension) or else a pam file
    // ("word<white>model model ...", "%" comment lines; repeated words add
    // alternatives). A missing file or a pam line without models is reported.
    void read(const std::string& path);
    // Index of the word, or -1.
    int32_t find(const std::string& word) const;
};

// One training utterance: its features and the lexicon entries of its words.
struct trainUtterance {
    std::string wavPath;
    int32_t listLine = 0;
    int32_t frameNum = 0;
    std::vector<float> features;  // frameNum x dim, frame after frame
    std::vector<int32_t> words;   // trainLexiconClass entries, in spoken order
};

// Reads the list, checks every word against the lexicon (all missing words
// are reported at once) and computes the features of every wave as the
// recognizer does. dim receives the feature dimension.
std::vector<trainUtterance> loadTrainingData(const trainParam& param, const trainLexiconClass& lexicon,
                                             int32_t& dim);

// A stretch of an utterance's model sequence: one of several alternative
// model chains, or nothing when optional.
struct trainSegment {
    bool optional = false;
    std::vector<std::vector<int32_t>> alternatives;  // model indices of each alternative chain
};

// A transition of an utterance graph and the model transition it counts for.
struct trainEdge {
    int32_t from = 0, to = 0;  // graph states
    double logProb = 0;        // natural log of the transition probability
    int32_t model = 0;         // model whose transP entry (row, col) this transition uses
    int32_t row = 0, col = 0;
};

// The emitting states of one utterance's model sequence and their transitions.
class trainGraphClass {
public:
    std::vector<int32_t> m_model;    // model index of each graph state
    std::vector<int32_t> m_state;    // emitting state (from 0) of each graph state
    std::vector<double> m_initLog;   // log probability of starting in the state; -1e10 = cannot
    std::vector<double> m_finalLog;  // log probability of ending after the state; -1e10 = cannot
    std::vector<trainEdge> m_edges;
    // Incoming and outgoing edges of each state: edges m_inEdges[m_inStart[n] ..
    // m_inStart[n + 1] - 1], likewise for outgoing.
    std::vector<int32_t> m_inStart, m_inEdges, m_outStart, m_outEdges;

    // Builds the graph of the segments from the transition probabilities of an
    // unconverted model set. Each model instance brings its emitting states
    // with their self-loops and forward transitions; the exit of each chain
    // leads into the first state of every chain of the next segment (and past
    // an optional segment).
    void build(const std::vector<trainSegment>& segments, const macroClass& models);
    int32_t stateCount() const { return static_cast<int32_t>(m_model.size()); }
};

// Statistics of one Gaussian component.
struct mixtureAccum {
    double occ = 0;                       // expected frames
    std::array<double, MODEL_PARAM_NUM> sum{};  // occupancy-weighted sum of the frames
    std::array<double, MODEL_PARAM_NUM> sq{};   // and of their squares
};

// The statistics of one re-estimation pass.
class trainAccumClass {
public:
    // [model][emitting state][stream][component]
    std::vector<std::array<std::array<std::vector<mixtureAccum>, MAX_STREAM_NUM>, MAX_EMIT_STATE_NUM>> m_mix;
    // [model]: expected transition counts, entry (i, j) as in transP
    std::vector<std::array<std::array<double, MAX_MODEL_STATE_NUM>, MAX_MODEL_STATE_NUM>> m_trans;
    std::vector<double> m_entries;  // [model]: expected number of times the model was entered
    double m_logLike = 0;           // sum of the utterances' log likelihoods
    int64_t m_frames = 0;           // frames of the utterances that were used
    int32_t m_utterances = 0;       // utterances used
    int32_t m_skipped = 0;          // utterances without an alignment

    // Sizes the statistics for the model set and sets them to zero.
    void reset(const macroClass& models);
};

// Forward-backward over one utterance: returns the log likelihood of the
// frames under the graph (the sum over all state sequences), or -1e10 when no
// sequence survives the beam. With acc given, adds the state, component and
// transition occupancies to it. `converted` is the converted copy of the set
// the graph was built from; likelihoods are those the decoder computes.
double forwardBackward(const trainGraphClass& graph, const float* features, int32_t frameNum, int32_t dim,
                       const macroClass& converted, double beam, trainAccumClass* acc);

// Re-estimates means, variances (floored at varFloor, one value per feature
// dimension), component weights and transitions from the statistics. States
// seen for fewer than minOcc frames keep their parameters. Returns the number
// of such states.
int32_t updateModels(macroClass& models, const trainAccumClass& acc, const std::vector<float>& varFloor,
                     double minOcc);

// Splits the heaviest component of every stream of every state (means moved
// by +-0.2 standard deviations, weight halved) until each stream has
// `target` components. Streams that already have as many stay unchanged.
void splitMixtures(macroClass& models, int32_t target);

// 13 ln(2 pi) + sum of ln(variance): the constant every component carries.
float gaussConst(const gaussMixture& mix);

// Runs the whole training of the settings, printing its progress, and writes
// the model file and the model count file. Returns the written model set
// (sorted by name, not converted).
macroClass trainModels(const trainParam& param);

// recognize-tool train: parses the arguments into a trainParam and runs trainModels.
int toolTrain(const std::vector<std::string>& args);
