// Calibration to human scores: the mapping of an utterance's measurements
// (decoder/measures.h) onto the scales of human raters, at five levels -
// phone accuracy (0-2), word accuracy, sentence accuracy, fluency and total
// (0-10) - read from a small JSON file that recognize-tool calibrate writes.
//
// Each level is a ridge regression over named inputs of its unit (the unit's
// own measurements, those of its word and utterance, and at the word and
// sentence levels the predictions of the levels below), each input taken as
// it is ("linear") or as max(0, x - knot) ("hinge"), standardized, plus at
// the phone level one offset per phone. The file records the model set, the
// feature configuration and the measurement settings it was fitted for; it
// is refused for any other.
#pragma once

#include "decoder/cmResult.h"
#include "decoder/macro.h"
#include "run/recogParam.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The levels, in the order they are fitted and applied.
enum calibrationLevel { LEVEL_PHONE, LEVEL_WORD, LEVEL_SENTENCE, LEVEL_FLUENCY, LEVEL_TOTAL, LEVEL_NUM };
// "phoneAccuracy", "wordAccuracy", "sentenceAccuracy", "fluency", "total".
const char* calibrationLevelName(int32_t level);
// Lowest and highest score of a level's human scale (0-2 for phones, 0-10 otherwise).
void calibrationLevelScale(int32_t level, float& low, float& high);

// The measurements of one result that the calibration reads, as calibrate
// caches them.
struct measuredPhone {
    std::string phone;                      // monophone: the model name before '+'
    float measures[PHONE_MEASURE_NUM] = {};
    float engineScore = 0;                  // the engine's phone score (0-100)
    int32_t phoneIndex = 0;                 // position in its node's phones
};
struct measuredWord {
    std::string text;                       // the node's text
    float engineScore = 0;                  // the engine's node score (0-100)
    std::vector<measuredPhone> phones;      // its measured phones, in order
    int32_t nodeIndex = 0;                  // position in the result's nodes
};
struct measuredUtterance {
    std::string id, speaker;                // set by the caller; not from the result
    float engineScore = 0;                  // the engine's overall score (0-100)
    bool complete = true;                   // the search ended on a complete path
    int32_t missingWords = 0;               // text words minus scored nodes (0 when unknown)
    float speechSeconds = 0, speechRate = 0;
    std::vector<float> pauseSeconds;
    std::vector<measuredWord> words;        // the measured scored nodes, in order
};

// The measured words and phones of a measured result.
measuredUtterance measuredUtteranceOf(const cmResult& result);
nlohmann::json measuredUtteranceJson(const measuredUtterance& utterance);
// Reports a record that lacks a field.
measuredUtterance measuredUtteranceFromJson(const nlohmann::json& record);

// The names of a level's inputs, in the order calibrationInputs fills them.
const std::vector<std::string>& calibrationInputNames(int32_t level);

// The group of a level's input: 0 the unit's own measurements, 1 those of
// its neighbours, word and utterance, 2 the predictions of the levels below.
int32_t calibrationInputGroup(int32_t level, int32_t input);

// Predictions of the lower levels for one utterance, where a level's inputs use them.
struct lowerPredictions {
    std::vector<std::vector<float>> phone;  // per word, per phone: predicted phone accuracy
    std::vector<float> word;                // per word: predicted word accuracy
};

// The inputs of one unit of a level: the phone (word, phone) of the
// utterance, the word (word, -1) or the utterance (-1, -1); lower holds the
// predictions of the levels below (the phone level reads none).
void calibrationInputs(const measuredUtterance& utterance, int32_t level, int32_t word, int32_t phone,
                       const lowerPredictions& lower, std::vector<float>& inputs);

// One term of a level: an input, as it is or as max(0, x - knot).
struct calibrationTerm {
    int32_t input = 0;     // index into calibrationInputNames(level)
    bool hinge = false;
    float knot = 0;
};

// The fitted mapping of one level.
struct levelModel {
    bool fitted = false;
    std::string family;            // how it was chosen, e.g. "hinge+context"
    float lambda = 0;              // ridge penalty of the standardized terms
    float offsetLambda = 0;        // ridge penalty of the phone offsets
    std::vector<calibrationTerm> terms;
    std::vector<float> center, spread, weights;  // per term
    float intercept = 0;
    std::map<std::string, float> offsets;        // phone level: per monophone
    // Cross-validated Pearson correlation with the human scores: the engine's
    // own score and this mapping (recorded for the reader; not used).
    float enginePearson = 0, pearson = 0;

    // The value of a term for the level's inputs.
    double termValue(size_t term, const std::vector<float>& inputs) const;
    // The mapping of a unit's inputs (and its phone at the phone level),
    // clipped to the level's scale.
    float predict(int32_t level, const std::vector<float>& inputs, const std::string& phone = std::string()) const;
};

// What a calibration was fitted for; a calibration applies only where all agree.
struct calibrationTarget {
    std::string modelDigest;       // modelSetDigest of the model set
    int32_t modelCount = 0;
    std::string modelFile;         // the model file's name, for messages
    std::string featureSettings;   // featureSettingsText of the parameters
    std::string measureSettings;   // measureSettingsText of the parameters
};

// Digest of bytes ("fnv1a64:" and 16 hex digits).
std::string bytesDigest(const std::string& bytes);
// Digest of a model set's names and parameters, as bytesDigest.
std::string modelSetDigest(const macroClass& models);
// The feature configuration as the front end reads it, one "KEY=value" per
// field joined by ";", and the endpoint-detection switch.
std::string featureSettingsText(const recogParam& param);
// The settings the measurements depend on: the competitors of the ranking,
// the acceptable substitutes, the measurement names and the GOP classes.
std::string measureSettingsText(const recogParam& param);
// The target of the loaded models under the parameters.
calibrationTarget calibrationTargetOf(const macroClass& models, const recogParam& param);

class calibrationClass {
public:
    static constexpr int32_t FORMAT_VERSION = 1;
    calibrationTarget target;
    levelModel levels[LEVEL_NUM];
    nlohmann::json training;       // what it was fitted on (counts, folds), for the reader

    // Reads a calibration file; reports an unreadable file, another format or
    // version, and a level that does not parse.
    void load(const std::string& path);
    void save(const std::string& path) const;
    nlohmann::ordered_json toJson() const;  // members in the order the file shows them
    void fromJson(const nlohmann::json& doc, const std::string& path);

    // Reports, naming what differs, when the calibration was fitted for
    // another model set, feature configuration or measurement settings.
    void checkTarget(const calibrationTarget& current) const;

    // Sets the calibrated accuracy of every measured phone and word and the
    // sentence accuracy, fluency and total of a measured result (levels not
    // fitted stay -1), and result.calibrated.
    void apply(cmResult& result) const;
};

// Predictions of every level for one utterance with the calibration's
// models: per word and phone, per word, and the three sentence levels.
struct utterancePredictions {
    lowerPredictions lower;
    float sentence[3] = {-1, -1, -1};  // sentence accuracy, fluency, total
};
utterancePredictions predictUtterance(const calibrationClass& calibration, const measuredUtterance& utterance);

// The measurement stage of an utterance run: measures the ranked result
// (frames counting from the first feature frame) and, with a calibration,
// applies it.
void measureAndCalibrate(cmResult& result, const float* features, int32_t dim, int32_t frameNum,
                         const macroClass& models, const calibrationClass* calibration);
