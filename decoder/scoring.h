// Assessment scores of an aligned result: the rank of every phone among
// competing models, the counts of the conditions that make a result less
// reliable, the four timber scores of phones and nodes on a 0-100 scale and
// the overall discounted score. Nodes named "sp", "sil", "filler", "fillerC"
// and "fillerV" and phones beginning with "sil+" are never scored.
// All logarithms are natural; frames are 10 ms apart.
#pragma once

#include "decoder/cmResult.h"

#include <cstdint>
#include <string>
#include <vector>

class macroClass;
class viterbiClass;
class recogParam;

// The settings and files that ranking and scoring read.
struct scoringOptions {
    std::string epsFile;                      // acceptable substitutes; "" = none
    std::string phoneRank2scoreParamFile;     // w, s, m of timber score 1
    std::string scoreDiscountParamFile;       // one ratio per discount type
    std::string cmParamFile;                  // per-model bell parameters; used when the file exists
    int32_t useAllModelAsCompetingModel = 0;  // 1 = every scored model competes with every phone
    // Tables read beforehand; each one that is null is read from its file
    // when the result holds none, as without them.
    const std::vector<std::string>* cmLines = nullptr;        // lines of cmParamFile
    const std::vector<epsEntry>* epsTable = nullptr;          // epsFile
    const std::vector<float>* rankScoreParams = nullptr;      // phoneRank2scoreParamFile
    const std::vector<float>* discountRatio = nullptr;        // scoreDiscountParamFile
};

// The scoring settings of a run's parameters.
scoringOptions scoringOptionsOf(const recogParam& param);

// Discount types, in the order of cmResult::discountOccurrence.
constexpr int32_t DISCOUNT_TYPE_NUM = 7;
constexpr int32_t DISCOUNT_SYL_NUM = 4;  // the syllable-count difference, reported but not applied
// Description of discount type i (0 to DISCOUNT_TYPE_NUM - 1).
const char* discountTypeText(int32_t type);

// Numbers each parameter file must hold.
constexpr size_t RANK_SCORE_PARAM_NUM = 3;  // w, s, m of timber score 1

// 100 / (1 + ((x - m) / w)^(2 s)), evaluated as 100 / (1 + (((x - m) / w)^2)^s);
// 100 where x equals m.
double bellScore(double x, double w, double s, double m);

// epsTable = the lines of the file ("%" comments), each "phone<TAB>substitute...".
void readEpsTable(cmResult& result, const std::string& path);
// rankScoreParams = the numbers of the file; fewer than RANK_SCORE_PARAM_NUM is reported.
void readRankScoreParams(cmResult& result, const std::string& path);
// Prints "\tRead <path>...", then discountRatio = the numbers of the file;
// fewer than DISCOUNT_TYPE_NUM is reported.
void readDiscountRatios(cmResult& result, const std::string& path);

// Ranks every scored phone of every scored node among its competitors: the
// models sharing its right context (the name from its first '+' on), or, with
// useAllModelAsCompetingModel or a name without '+', every model other than
// "sp", "sil" and the fillers; the phone's own model always competes. Each
// competitor's log likelihood over the phone's frames is decoder.modelProb;
// ties count as ranked above; with epsFile, acceptable substitutes just above
// the phone do not count. Sets scoredPhoneNum, scoredFrameNum, scoredNodeNum,
// weightedRankRatio, avgLogLike and per phone modelIdx, logLike, competitors,
// phoneRank, rankRatio, timeRatio and epsNames. features holds frameNum
// frames of dim floats. Reports a phone whose name is not a model and a phone
// outside the frames.
void rankPhones(cmResult& result, const float* features, int32_t dim, int32_t frameNum, const macroClass& models,
                viterbiClass& decoder, const scoringOptions& options);

// discountOccurrence = the seven counts over the nodes first..last (an empty
// range when last < first). Uses scoredNodeNum of rankPhones and textSylNum.
void countDiscounts(cmResult& result, int32_t first, int32_t last, bool pathComplete);

// Timber scores 1 to 4 of the scored phones and nodes first..last (all others
// -1), then avgTimberScore, discTimberScore, timberScore and score. Reads the
// rank score parameters and discount ratios when the result holds none, and
// the per-model bell parameters of cmParamFile when that file exists. Reports
// missing numbers, a cmParamFile with fewer lines than models and a line that
// does not parse.
void computeTimberScores(cmResult& result, int32_t first, int32_t last, const scoringOptions& options,
                         const macroClass& models);
