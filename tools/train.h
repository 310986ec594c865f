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
//      and re-estimated; by default every p+q and p+sil over the lexicon's
//      phones, so that any text the lexicon can spell finds its models;
//   5. mixture splitting up to the chosen number of components per stream,
//      with re-estimation after every split;
//   6. the model set (text layout of readMacText, gconst included, with the
//      feature kind in its option line) and a model count file with the
//      expected number of occurrences of each model.
//
// A training is a plan of passes (trainPlan). Each pass gathers statistics
// over the utterances (trainStatsClass, summed exactly so that threads and
// machines can share the work in any order) and turns them into the model set
// of the next pass (nextModelSet). One process can run the whole plan, or
// separate processes can each gather the statistics of a shard of the list
// into an accumulator file, merged into the next model set by another.
#pragma once

#include "decoder/macro.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <set>
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
    bool fullContexts = true;       // English lexicon: every p+q and p+sil of its phones, not only those heard
    int32_t threadNum = 0;          // threads for features and statistics; 0 = one per core
    bool quiet = false;             // no progress display on standard error
};

// Reports settings outside their ranges and a model path (when given) that
// does not end in .mac or .macb.
void checkTrainParam(const trainParam& param);
// The count file of the settings: countPath, or the model path with extension "count".
std::string modelCountPath(const trainParam& param);

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

// One pass of a training and the change of the model set before it.
struct trainStep {
    enum changeKind { NO_CHANGE, FLAT_START, ADD_SHORT_PAUSE, CLONE_CONTEXTS, SPLIT_MIXTURES };
    changeKind change = NO_CHANGE;  // what makes this pass's set from the one before
    int32_t mixtures = 1;           // components per stream after SPLIT_MIXTURES
    std::string stage;              // stage name of the log
    int32_t stagePass = 0;          // pass within the stage, from 1
    int32_t stagePasses = 0;        // passes of the stage
    bool context = false;           // utterance graphs of the lexicon's own model names (else monophones)
    bool withSp = false;            // an optional "sp" between words
};

// Everything a training derives from its settings, list and lexicon before
// any wave is read: the words of each utterance, the model names of the
// stages and the plan of passes.
class trainSetupClass {
public:
    trainParam m_param;
    trainLexiconClass m_lexicon;
    std::vector<trainListEntry> m_entries;
    std::vector<std::vector<int32_t>> m_words;  // lexicon entries of each list entry, in spoken order
    std::set<std::string> m_monophones;         // flat-start models: "sil" and the monophones
    std::set<std::string> m_contextNames;       // models of the context stage but "sil" and "sp"
    int32_t m_unseenMonophones = 0;             // monophones of the lexicon that no transcript uses
    int32_t m_unseenContexts = 0;               // context names that no transcript uses
    bool m_hasContext = false;                  // the lexicon names models other than monophones
    bool m_lexiconUsesSp = false;               // "sp" occurs in pronunciations
    // m_plan[0]: the statistics of the features alone (for the flat start);
    // m_plan[1 ..]: the re-estimation passes.
    std::vector<trainStep> m_plan;
    uint64_t m_settingsKey = 0;  // fingerprint of list, lexicon, configuration and settings

    int32_t passCount() const { return static_cast<int32_t>(m_plan.size()) - 1; }
};

// Checks the settings, reads the list and the lexicon, checks every word
// (all missing words are reported at once) and makes the plan.
trainSetupClass prepareTraining(const trainParam& param);

// One training utterance: its features and the lexicon entries of its words.
struct trainUtterance {
    std::string wavPath;
    int32_t listLine = 0;
    int32_t frameNum = 0;
    std::vector<float> features;  // frameNum x dim, frame after frame
    std::vector<int32_t> words;   // trainLexiconClass entries, in spoken order
};

// Computes the features of list entries first to last - 1 as the recognizer
// does, in param.threadNum threads. dim receives the feature dimension (0
// when the range is empty). A recording of more than one channel is refused.
std::vector<trainUtterance> loadTrainingData(const trainSetupClass& setup, size_t first, size_t last, int32_t& dim);

// The entries [first, last) of shard `index` (1 to count) of n entries:
// contiguous stretches of nearly equal size, in list order.
void shardRange(size_t n, int32_t index, int32_t count, size_t& first, size_t& last);

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

// Statistics in double precision: those of one utterance while it is aligned,
// and the totals of a pass when the models are updated.
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
// of such states that were seen at all (states without any frame are not
// counted).
int32_t updateModels(macroClass& models, const trainAccumClass& acc, const std::vector<float>& varFloor,
                     double minOcc);

// Splits the heaviest component of every stream of every state (means moved
// by +-0.2 standard deviations, weight halved) until each stream has
// `target` components. Streams that already have as many stay unchanged.
void splitMixtures(macroClass& models, int32_t target);

// 13 ln(2 pi) + sum of ln(variance): the constant every component carries.
float gaussConst(const gaussMixture& mix);

// A statistic summed exactly: a fixed-point number with EXACT_FRACTION_BITS
// fraction bits in 128 bits. Sums of such numbers do not depend on the order
// of their terms, so statistics gathered in any number of threads or shards
// add up to the same last bit.
__extension__ typedef __int128 exactSum;
constexpr int EXACT_FRACTION_BITS = 48;
// Rounds to the nearest fixed-point value; a value that is not finite or not
// below 2^70 in magnitude is reported.
exactSum toExact(double v);
double fromExact(exactSum v);

// The statistics of one pass over some utterances, summed exactly, with what
// they belong to. Per model the values are: the expected entries, for each
// emitting row r the transitions (r, r) and (r, r + 1), then for each state,
// stream and component the occupancy, the 13 weighted sums and the 13
// weighted squares.
class trainStatsClass {
public:
    int32_t m_pass = 0;                          // the pass of the plan
    int32_t m_shardIndex = 1, m_shardCount = 1;  // shard of the list they cover
    uint64_t m_settingsKey = 0;                  // trainSetupClass::m_settingsKey
    uint64_t m_modelKey = 0;                     // modelSetKey of the set they were gathered with
    int32_t m_dim = 0;                           // feature dimension; 0 without frames
    int32_t m_streamNum = 0;
    std::vector<int32_t> m_emitting;             // [model] emitting states
    std::vector<int32_t> m_mixtures;             // components of each model, state and stream in turn
    std::vector<size_t> m_mixtureStart;          // [model] first entry of m_mixtures
    std::vector<size_t> m_valueStart;            // [model] first value; one more entry closes the last
    std::vector<exactSum> m_values;
    exactSum m_logLike = 0;                      // sum of the log likelihoods of the aligned utterances
    int64_t m_frames = 0;                        // frames of the aligned utterances
    int32_t m_utterances = 0;                    // aligned utterances
    int32_t m_skipped = 0;                       // utterances without an alignment
    // Every frame of every utterance covered, aligned or not: the statistics
    // of the flat start and of the variance floor.
    int64_t m_allFrames = 0;
    std::vector<exactSum> m_frameSum, m_frameSq;  // [dim]

    // Zero statistics shaped for the model set (none for an empty set).
    void shape(const macroClass& models, int32_t dim);
    // Adds the statistics of model m from acc (same shape as this model).
    void addModel(const trainAccumClass& acc, int32_t m);
    // The same in two steps, so that the conversion can run outside a lock:
    // appends model m's values of acc, converted, to out; adds such values
    // and returns the end of those it took.
    void appendExactModel(const trainAccumClass& acc, int32_t m, std::vector<exactSum>& out) const;
    const exactSum* addExactModel(int32_t m, const exactSum* values);
    // Adds one utterance's frames to the frame statistics; the same from
    // sums made by exactFrameSums.
    void addFrames(const float* features, int32_t frameNum, int32_t dim);
    void addFrameSums(const std::vector<exactSum>& sum, const std::vector<exactSum>& sq, int32_t frameNum);
    // Adds statistics of the same pass, settings and model set.
    void add(const trainStatsClass& other);
    // The totals in double precision, shaped like the model set.
    trainAccumClass toAccum() const;
};

// The sums and the sums of squares of every dimension of one utterance's
// frames (in double over the utterance, then made exact).
void exactFrameSums(const float* features, int32_t frameNum, int32_t dim, std::vector<exactSum>& sum,
                    std::vector<exactSum>& sq);

// A fingerprint of a model set: names, sizes and every parameter.
uint64_t modelSetKey(const macroClass& models);

// The accumulator file: a binary image of trainStatsClass. The reader checks
// the magic, the version, every size against the bytes that follow and a
// checksum before it allocates anything for them.
void writeTrainStats(const std::string& path, const trainStatsClass& stats);
trainStatsClass readTrainStats(const std::string& path);

// The statistics of pass `pass` of the plan over the utterances, gathered in
// setup.m_param.threadNum threads; for pass 0 only the frame statistics
// (models is then empty). The result does not depend on the thread count.
trainStatsClass accumulatePass(const trainSetupClass& setup, int32_t pass, const macroClass& models,
                               const std::vector<trainUtterance>& data, int32_t dim);

// The model set that follows pass `pass`, given the set the pass used (empty
// for pass 0) and its merged statistics: for pass 0 the flat start, else the
// re-estimated set with the change of the next pass applied (none after the
// last). Prints the pass's log line; seconds is the time it took.
macroClass nextModelSet(const trainSetupClass& setup, int32_t pass, macroClass models, const trainStatsClass& stats,
                        double seconds);

// Writes the set of the last pass, sorted by name, with the header of the
// feature configuration, and the count file from the last pass's
// statistics. Returns the sorted set.
macroClass writeTrainedModels(const trainSetupClass& setup, macroClass models, const trainStatsClass& stats);

// The option line of a model set of vecSize values per frame from the
// feature configuration: "<VECSIZE> 39 <MFCC_E_D_A> <DIAGC>".
std::string modelOptionLine(int32_t vecSize, const std::string& featureConfigPath);
// The name of a parameter kind code ("MFCC_E_D_A" for 838).
std::string parameterKindName(uint16_t kind);

// Makes sure a file can be written before the long work that ends in it: the
// file is opened for appending (created if missing) and a created file is
// removed again; an existing one is kept as it is. Reports a path that cannot
// be written, naming what it was for.
void checkWritablePath(const std::string& path, const char* what);

// Runs the whole training of the settings, printing its progress, and writes
// the model file and the model count file. Returns the written model set
// (sorted by name, not converted).
macroClass trainModels(const trainParam& param);

// The progress display of one stage of work over utterances, on standard
// error: rewritten in place on a terminal, else a line every few seconds.
class trainProgressClass {
public:
    trainProgressClass(const std::string& what, int32_t total, int64_t totalFrames, bool quiet);
    // One more utterance of this many frames is done; called by any thread.
    void advance(int64_t frames);
    // Shows the state when it is time to (always with final); final also
    // clears a line shown in place. Called by one thread only.
    void show(bool final);

    std::string m_what;
    int32_t m_total = 0;
    int64_t m_totalFrames = 0;
    bool m_quiet = false;
    bool m_terminal = false;
    int64_t m_startMs = 0, m_shownMs = 0;
    bool m_inPlace = false;  // a line stands on the terminal
    std::atomic<int32_t> m_done{0};
    std::atomic<int64_t> m_frames{0};
};

// The threads a setting asks for: threadNum, or one per core for 0.
int32_t trainThreadCount(int32_t threadNum);

// Runs work(0) .. work(threads - 1) in threads of their own while this thread
// shows the progress; returns when every one has ended, rethrowing the
// exception of the lowest-numbered worker that ended with one. A thread that
// cannot be started leaves its share to the others (the work is expected to
// draw its items from a shared counter).
void runWorkers(int32_t threads, const std::function<void(int32_t)>& work, trainProgressClass& progress);

// One line of the progress display: utterances done of total, frames per
// second and the time left, estimated from the frames when totalFrames is
// known (above 0), else from the utterances.
std::string progressLine(const char* what, int32_t done, int32_t total, int64_t frames, int64_t totalFrames,
                         double seconds);

// recognize-tool train: parses the arguments and runs the training, one
// shard's statistics of a pass, or the merge of a pass.
int toolTrain(const std::vector<std::string>& args);
