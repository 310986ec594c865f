// The result of one utterance: what was recognized, its alignment into nodes
// (syllables or words) and phones, and the assessment scores.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Measurements per phone (names in decoder/measures.h).
constexpr int32_t PHONE_MEASURE_NUM = 7;

struct cmPhone {
    std::string name;                     // model name of the phone
    int32_t modelIdx = 0;                 // index of the phone's model in the model set
    int32_t startFrame = 0, endFrame = 0; // first and last frame
    float cumLogLike = 0;                 // cumulative log score when the phone was left
    float logLike = 0;                    // log likelihood of the phone's own model over its span
    std::vector<int32_t> competingModelIdx;  // competitors, best first
    std::vector<float> competingLogLike;     // their log likelihoods, same order
    float cmParams[3] = {0, 0, 0};        // bell parameters w, s, m of timber score 2
    std::vector<std::string> epsNames;    // acceptable substitutes
    int32_t phoneRank = -1;               // competitors ranked above the phone
    float rankRatio = 0;                  // phoneRank / number of competitors
    float timeRatio = 0;                  // phone frames / scoredFrameNum
    float timberScore = -1;               // reported phone score (= timber score 2)
    float timberScores[4] = {-1, -1, -1, -1};
    bool pitched = false;                 // whether the phone carries pitch
    std::vector<float> volume, pitch;     // per frame
    // Calibration (decoder/measures.h, run/calibration.h).
    bool measured = false;                // measures hold the phone's measurements
    float measures[PHONE_MEASURE_NUM] = {};
    float accuracy = -1;                  // calibrated accuracy on the human scale; -1 = none
};

struct cmNode {
    std::string name;                     // phonetic alphabets of the node's word
    std::string text;                     // text of the node ("" for sil, sp, fillers)
    int32_t startFrame = 0, endFrame = 0; // first and last frame
    float timberScore = -1;               // reported node score (= timber score 2)
    float timberScores[4] = {-1, -1, -1, -1};
    std::vector<cmPhone> phones;          // in time order
    float cumLogLike = 0;                 // cumulative log score when the node was left
    std::vector<float> volume, pitch;     // per frame
    // Calibration: mean and minimum of the measurements of its measured phones.
    bool measured = false;
    float measureMean[PHONE_MEASURE_NUM] = {};
    float measureMin[PHONE_MEASURE_NUM] = {};
    float accuracy = -1;                  // calibrated accuracy on the human scale; -1 = none
};

struct epsEntry {
    std::string name;                     // a phone
    std::vector<std::string> substitutes; // its acceptable substitutes
};

// One keyword found by a keyword-mode search.
struct cmKeyword {
    std::string name;                  // the keyword's text
    float score = 0;                   // duration-weighted score of its nodes
    int32_t firstNode = 0, nodeCount = 0;  // its nodes in cmResult::nodes
    std::vector<int32_t> textIndices;  // its text index
};

struct cmResult {
    // Recognition fields.
    std::vector<int32_t> textIndices;     // indices into the texts of those on the best path
    std::vector<std::string> texts;       // those texts, same order
    std::string phoneticAlphabets;        // phonetic-alphabet string of the best path
    std::string rzpString, mpaString, hanyuString, toneString;  // Chinese notations

    // Alignment and assessment.
    std::vector<cmNode> nodes;            // passed nodes in time order
    int32_t scoredPhoneNum = 0;
    int32_t scoredFrameNum = 0;
    float weightedRankRatio = 0;
    float avgLogLike = 0;
    float pathLogLike = 0;                // score of the chosen candidate
    int32_t scoredNodeNum = 0;
    std::vector<int32_t> discountOccurrence;  // the seven discount counts
    std::vector<float> discountRatio;         // one ratio per discount type
    float avgTimberScore[3] = {0, 0, 0};
    float discTimberScore[3] = {0, 0, 0};
    float timberScore = 0;                // overall timber score
    float score = 0;                      // overall score
    int32_t textSylNum = -1;              // syllables of the given text; -1 in keyword mode
    int32_t recogSylNum = 0;              // syllables of the decoded path other than "sil"
    std::vector<epsEntry> epsTable;
    std::vector<float> rankScoreParams;
    std::vector<std::string> sylList, textList, warningMessages;

    // Facts of the run for reports other than the XML.
    bool pathComplete = true;             // the search ended on a complete path
    int32_t searchTries = 0;              // searches run (more than one when widened)
    int32_t candidateNum = 0;             // candidates per frame of the last search
    int32_t speechBeginSample = 0;        // span the features were computed of, in samples
    int32_t speechEndSample = -1;         //   of the conditioned 16 kHz wave (last sample)
    int32_t sampleCount = 0;              // samples of the conditioned wave
    std::vector<cmKeyword> keywords;      // keyword mode: the keywords found
    std::vector<std::pair<std::string, double>> stageSeconds;  // wall time of each stage, in order

    // Calibration: utterance measurements and the calibrated sentence scores.
    bool measured = false;                // the fields below and the phones' measures are set
    int32_t measuredPhoneNum = 0;
    float measureMean[PHONE_MEASURE_NUM] = {};  // over the measured phones
    float speechSeconds = 0;              // first scored node's start to last one's end
    float speechRate = 0;                 // scored phones per second of speech without pauses
    std::vector<float> pauseSeconds;      // inner pauses, in order
    bool calibrated = false;              // accuracy, fluency, total and those of nodes and phones set
    float accuracy = -1, fluency = -1, total = -1;  // on the human scales
};
