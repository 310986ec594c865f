// Fitting a calibration (run/calibration.h) to human scores: pairing the
// engine's words and phones with the raters', ridge regression, folds by
// speaker, and the choice of each level's mapping by speaker-held-out
// cross-validation.
#pragma once

#include "run/calibration.h"

#include <Eigen/Dense>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Human scores of one recording, in the layout of speechocean762's
// scores.json: sentence scores 0-10, per word accuracy 0-10 and per phone
// accuracy 0-2 (2 correct, 1 accented, 0 wrong or missing).
struct humanWord {
    std::string text;                  // as the raters' text spells it
    float accuracy = -1;
    std::vector<std::string> phones;   // engine spelling: lower case, no stress digits
    std::vector<float> phoneAccuracy;  // per phone
};
struct humanUtterance {
    float accuracy = -1, fluency = -1, total = -1, completeness = -1, prosodic = -1;
    std::vector<humanWord> words;
};

// An ARPAbet phone with its stress digit ("AE1") in the engine's spelling ("ae").
std::string engineSpellingOfPhone(const std::string& phone);
// utterance id -> scores. Reports an unreadable file, a record without the
// sentence scores, and a word whose phones and phone scores differ in number.
std::map<std::string, humanUtterance> readHumanScores(const std::string& path);

// The pairs (i, j) of a least-cost edit-distance alignment of a and b that
// match or substitute (insertions and deletions pair nothing); a match costs
// 0, a substitution, insertion or deletion 1. On equal costs the path keeps
// to the diagonal.
std::vector<std::pair<int32_t, int32_t>> alignSequences(const std::vector<std::string>& a,
                                                        const std::vector<std::string>& b);

// Which engine words and phones of an utterance the human scores score.
struct utterancePairing {
    std::vector<int32_t> humanWord;                // per engine word: the human word, -1 none
    std::vector<std::vector<int32_t>> humanPhone;  // per engine word and phone: the human phone, -1 none
};
// Words in order when both have as many, else aligned by their lower-case
// texts; the phones of a paired word position by position when both have
// as many, else aligned by edit distance.
utterancePairing pairUtterance(const measuredUtterance& engine, const humanUtterance& human);

// One fold (0 .. foldNum - 1) per distinct speaker, speakers in order of
// first appearance dealt to the fold with the fewest items so far: every
// item of a speaker lands in its speaker's fold. Returns the fold per item.
std::vector<int32_t> speakerFolds(const std::vector<std::string>& speakers, int32_t foldNum);

// Ridge regression with an unpenalized intercept: minimizes
// |y - X w - b|^2 + sum_k penalty_k w_k^2. Solved from the normal equations.
struct ridgeSolution {
    Eigen::VectorXd weights;
    double intercept = 0;
};
ridgeSolution fitRidge(const Eigen::MatrixXd& x, const Eigen::VectorXd& y, const Eigen::VectorXd& penalty);
// The same from the sums of a design with an appended column of ones:
// gram = [X 1]^T [X 1], xty = [X 1]^T y; penalty covers the columns of X.
ridgeSolution solveRidge(const Eigen::MatrixXd& gram, const Eigen::VectorXd& xty, const Eigen::VectorXd& penalty);

// Pearson correlation of two equally long lists; 0 when either is constant.
double pearsonCorrelation(const std::vector<double>& a, const std::vector<double>& b);

// One recording for fitting: its measurements and human scores.
struct calibrationSample {
    measuredUtterance measured;  // measured.speaker decides the fold
    humanUtterance human;
};

struct calibrationFitOptions {
    int32_t folds = 5;                                      // speaker folds of the cross-validation
    std::vector<double> lambdas = {1, 10, 100, 1000};       // penalties of the standardized terms tried
    std::vector<double> offsetLambdas = {3, 30, 300};       // penalties of the phone offsets tried
    std::vector<double> knotQuantiles = {0.25, 0.5, 0.75};  // hinge knots, as quantiles of the input
};

// The cross-validated figures of one mapping tried at one level.
struct familyScore {
    std::string family;
    double lambda = 0, offsetLambda = 0;
    double pearson = 0;
};
struct levelFitReport {
    size_t units = 0;                // scored units (phones, words, sentences)
    double enginePearson = 0;        // the engine's own score against the human scores
    double pearson = 0;              // the chosen mapping, cross-validated
    double engineClassAccuracy = 0;  // phone level: rounded engine score / 50 against the rounded human score
    double classAccuracy = 0;        // phone level: the rounded cross-validated prediction
    double majorityClassAccuracy = 0;  // phone level: always the most frequent class
    familyScore chosen;
    std::vector<familyScore> best;   // per family its best penalties
};
struct calibrationFitReport {
    levelFitReport levels[LEVEL_NUM];
    size_t recordings = 0, speakers = 0;
    int32_t folds = 0;
    double seconds = 0;
};

// Fits every level: per level each family of mappings with each penalty is
// cross-validated over the speaker folds (the levels below fixed at their
// choice, their predictions for a level's inputs always coming from models
// that saw neither the held-out speakers nor the unit's own fold), the best
// by pooled Pearson correlation is refitted on all samples into
// calibration.levels. Reports fewer speakers than folds.
calibrationFitReport fitCalibration(const std::vector<calibrationSample>& samples,
                                    const calibrationFitOptions& options, calibrationClass& calibration);
