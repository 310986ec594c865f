#include "decoder/scoring.h"

#include "decoder/macro.h"
#include "decoder/mlf.h"
#include "decoder/viterbi.h"
#include "run/recogParam.h"
#include "run/utility.h"
#include "run/outputSink.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace {

const char* const UNIT = "mlf";

// Bell parameters w, s, m of timber score 2 when no cmParamFile exists:
// 100 / (1 + 20 r).
constexpr float DEFAULT_CM_PARAMS[3] = {0.05f, 0.5f, 0.0f};
// Fields of a cmParamFile line; the last holds "[w s m]".
constexpr size_t CM_PARAM_FIELD_NUM = 6;

// Frame thresholds of the discount counts (100 frames per second).
constexpr int32_t SHORT_PHONE_MAX_FRAMES = 3;
constexpr int32_t LONG_PHONE_MIN_FRAMES = 70;
constexpr int32_t LONG_PAUSE_FRAMES = 50;  // inner pauses longer than this count
constexpr float SYLLABLE_LENGTH_RATIO = 4.0f;
constexpr float LOUD_SILENCE_LEVEL = 0.1f;     // share of the volume range above the quietest frame
constexpr int32_t LOUD_SILENCE_FRAMES_1 = 4;   // more loud frames than this add 1
constexpr int32_t LOUD_SILENCE_FRAMES_2 = 30;  // and more than this another 1

int32_t frameCount(int32_t startFrame, int32_t endFrame) { return endFrame - startFrame + 1; }

bool isPauseName(const std::string& name) { return name == "sp" || name == "sil"; }

// Short phones make an over-short syllable; plosive-like onsets "b+", "d+",
// "g+", "h+" are short by nature and do not count.
bool isShortPhone(const cmPhone& phone) {
    if (phone.startFrame < 0 || !isScoredPhoneName(phone.name)) return false;
    std::string head = phone.name.substr(0, 2);
    if (head == "b+" || head == "d+" || head == "g+" || head == "h+") return false;
    return frameCount(phone.startFrame, phone.endFrame) <= SHORT_PHONE_MAX_FRAMES;
}

bool isLongPhone(const cmPhone& phone) {
    return phone.startFrame >= 0 && isScoredPhoneName(phone.name) &&
           frameCount(phone.startFrame, phone.endFrame) >= LONG_PHONE_MIN_FRAMES;
}

// The per-model bell parameters of cmParamFile: line modelIdx, six tab-separated
// fields, the sixth "[w s m]".
void cmParamsOfModel(const std::vector<std::string>& lines, const std::string& path, const macroClass& models,
                     int32_t modelIdx, float params[3]) {
    const std::string& line = lines[static_cast<size_t>(modelIdx)];
    std::vector<std::string> fields = splitString(line, '\t');
    if (fields.size() == CM_PARAM_FIELD_NUM &&
        std::sscanf(fields[5].c_str(), "[%g %g %g]", &params[0], &params[1], &params[2]) == 3)
        return;
    sinkPrintf("modelName=%s\n", models.models[static_cast<size_t>(modelIdx)].name.c_str());
    sinkPrintf("modelIndex=%d\n", modelIdx);
    sinkPrintf("contents[%d]=%s\n", modelIdx, line.c_str());
    reportError(formatString("Error: Cannot parse %s (line %d of file %s)", path.c_str(), __LINE__, UNIT));
}

// Timber score 4: the posterior of the phone's model among its competitors,
// the model counts serving as priors.
double posteriorScore(const cmPhone& phone, const macroClass& models) {
    if (phone.competingModelIdx.empty()) return 0.0;
    double total = 0.0;
    for (size_t c = 0; c < phone.competingModelIdx.size(); ++c) {
        double v = static_cast<double>(models.models[static_cast<size_t>(phone.competingModelIdx[c])].logCount) +
                   static_cast<double>(phone.competingLogLike[c]);
        if (c == 0) {
            total = v;
        } else {
            double hi = std::max(total, v), lo = std::min(total, v);
            total = hi + std::log(1.0 + std::exp(lo - hi));
        }
    }
    double own = static_cast<double>(models.models[static_cast<size_t>(phone.modelIdx)].logCount) +
                 static_cast<double>(phone.logLike);
    return 100.0 * std::exp(own - total);
}

// Timber score 3: where the phone's log likelihood lies between the worst and
// the best competitor, squared onto 0..100.
double spreadScore(const cmPhone& phone) {
    if (phone.competingLogLike.empty()) return 0.0;
    auto range = std::minmax_element(phone.competingLogLike.begin(), phone.competingLogLike.end());
    double lo = *range.first, hi = *range.second;
    double q = lo < hi ? (static_cast<double>(phone.logLike) - lo) * 100.0 / (hi - lo) : 0.0;
    return q * q / 100.0;
}

void setTimberScores(float scores[4], float value) { std::fill(scores, scores + 4, value); }

}  // namespace

const char* discountTypeText(int32_t type) {
    static const char* const texts[DISCOUNT_TYPE_NUM] = {
        "Incomplete Viterbi search path",
        "No. of over-short syllables",
        "No. of overlong syllables",
        "No. of sp longer than 0.25 sec",
        "Difference between identified and actual no. of syllables",
        "Ratio between the longest and shortest syllables greater than 4",
        "Volume of sil too large",
    };
    return type >= 0 && type < DISCOUNT_TYPE_NUM ? texts[type] : "";
}

double bellScore(double x, double w, double s, double m) {
    if (x == m) return 100.0;
    double z = (x - m) / w;
    return 100.0 / (1.0 + std::pow(z * z, s));
}

void readEpsTable(cmResult& result, const std::string& path) {
    result.epsTable.clear();
    for (const std::string& line : readLines(path, '%')) {
        std::vector<std::string> fields = splitString(line, '\t');
        epsEntry entry;
        entry.name = fields[0];
        entry.substitutes.assign(fields.begin() + 1, fields.end());
        result.epsTable.push_back(std::move(entry));
    }
}

void readRankScoreParams(cmResult& result, const std::string& path) {
    std::vector<float> params = readFloatFile(path);
    if (params.size() < RANK_SCORE_PARAM_NUM)
        reportError(
            formatString("Error: %s holds %zu numbers; the rank score needs %zu (width, slope, centre) "
                         "(line %d of file %s)",
                         path.c_str(), params.size(), RANK_SCORE_PARAM_NUM, __LINE__, UNIT));
    result.rankScoreParams = std::move(params);
}

void readDiscountRatios(cmResult& result, const std::string& path) {
    sinkPrintf("\tRead %s...\n", path.c_str());
    std::vector<float> ratios = readFloatFile(path);
    if (ratios.size() < static_cast<size_t>(DISCOUNT_TYPE_NUM))
        reportError(
            formatString("Error: %s holds %zu numbers; one discount ratio is needed for each of the %d "
                         "discount types (line %d of file %s)",
                         path.c_str(), ratios.size(), DISCOUNT_TYPE_NUM, __LINE__, UNIT));
    result.discountRatio = std::move(ratios);
}

void rankPhones(cmResult& result, const float* features, int32_t dim, int32_t frameNum, const macroClass& models,
                viterbiClass& decoder, const scoringOptions& param) {
    result.scoredPhoneNum = 0;
    result.scoredFrameNum = 0;
    result.scoredNodeNum = 0;
    for (const cmNode& node : result.nodes) {
        if (!isScoredNodeName(node.name)) continue;
        ++result.scoredNodeNum;
        result.scoredPhoneNum += static_cast<int32_t>(node.phones.size());
        for (const cmPhone& phone : node.phones)
            if (isScoredPhoneName(phone.name)) result.scoredFrameNum += frameCount(phone.startFrame, phone.endFrame);
    }

    std::vector<std::string> names;
    models.getModelNames(names);
    std::vector<int32_t> generalCompetitors;
    for (size_t i = 0; i < names.size(); ++i)
        if (isScoredNodeName(names[i])) generalCompetitors.push_back(static_cast<int32_t>(i));

    const bool useEps = !param.epsFile.empty();
    if (useEps && result.epsTable.empty()) {
        if (param.epsTable)
            result.epsTable = *param.epsTable;
        else
            readEpsTable(result, param.epsFile);
    }

    result.weightedRankRatio = 0.0f;
    double logLikeSum = 0.0;
    std::vector<int32_t> competitors;
    std::vector<float> logLikes;
    std::vector<size_t> order;
    for (cmNode& node : result.nodes) {
        if (!isScoredNodeName(node.name)) continue;
        for (cmPhone& phone : node.phones) {
            if (!isScoredPhoneName(phone.name)) continue;

            phone.epsNames.clear();
            for (const epsEntry& entry : result.epsTable) {
                if (entry.name == phone.name) {
                    phone.epsNames = entry.substitutes;
                    break;
                }
            }

            std::vector<int32_t> own = strVecLinSearch(names, phone.name, 3);
            if (own.empty())
                reportError(
                    formatString("Error: phone \"%s\" of node \"%s\" is not a model of the model set "
                                 "(line %d of file %s)",
                                 phone.name.c_str(), node.name.c_str(), __LINE__, UNIT));
            phone.modelIdx = own[0];
            if (phone.endFrame >= phone.startFrame && (phone.startFrame < 0 || phone.endFrame >= frameNum))
                reportError(
                    formatString("Error: phone \"%s\" spans frames %d to %d, outside the %d feature frames "
                                 "(line %d of file %s)",
                                 phone.name.c_str(), phone.startFrame, phone.endFrame, frameNum, __LINE__, UNIT));

            size_t plus = phone.name.find('+');
            if (param.useAllModelAsCompetingModel != 0 || plus == std::string::npos)
                competitors = generalCompetitors;
            else
                competitors = strVecLinSearch(names, phone.name.substr(plus), 2);
            if (std::find(competitors.begin(), competitors.end(), phone.modelIdx) == competitors.end())
                competitors.push_back(phone.modelIdx);

            logLikes.resize(competitors.size());
            for (size_t c = 0; c < competitors.size(); ++c) {
                logLikes[c] =
                    decoder.modelProb(features, dim, phone.startFrame, phone.endFrame, models, competitors[c]);
                if (competitors[c] == phone.modelIdx) phone.logLike = logLikes[c];
            }

            order.resize(competitors.size());
            std::iota(order.begin(), order.end(), size_t{0});
            std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return logLikes[a] > logLikes[b]; });
            phone.competingModelIdx.resize(order.size());
            phone.competingLogLike.resize(order.size());
            int32_t atLeast = 0;
            for (size_t c = 0; c < order.size(); ++c) {
                phone.competingModelIdx[c] = competitors[order[c]];
                phone.competingLogLike[c] = logLikes[order[c]];
                if (logLikes[order[c]] >= phone.logLike) ++atLeast;
            }
            phone.phoneRank = atLeast - 1;

            // Acceptable substitutes right above the phone do not count against it.
            if (useEps) {
                for (int32_t c = phone.phoneRank - 1; c >= 0; --c) {
                    const std::string& name =
                        names[static_cast<size_t>(phone.competingModelIdx[static_cast<size_t>(c)])];
                    if (std::find(phone.epsNames.begin(), phone.epsNames.end(), name) == phone.epsNames.end()) break;
                    --phone.phoneRank;
                }
            }

            const int32_t frames = frameCount(phone.startFrame, phone.endFrame);
            phone.timeRatio = result.scoredFrameNum != 0
                                  ? static_cast<float>(frames) / static_cast<float>(result.scoredFrameNum)
                                  : 0.0f;
            phone.rankRatio = static_cast<float>(phone.phoneRank) / static_cast<float>(competitors.size());
            result.weightedRankRatio += phone.timeRatio * phone.rankRatio;
            logLikeSum += static_cast<double>(phone.logLike);
        }
    }
    result.avgLogLike =
        result.scoredFrameNum != 0 ? static_cast<float>(logLikeSum / static_cast<double>(result.scoredFrameNum)) : 0.0f;
}

void countDiscounts(cmResult& result, int32_t first, int32_t last, bool pathComplete) {
    const int32_t nodeNum = static_cast<int32_t>(result.nodes.size());
    if (last >= first && (first < 0 || last >= nodeNum))
        reportError(formatString("Error: discount range of nodes %d to %d outside the %d nodes (line %d of file %s)",
                                 first, last, nodeNum, __LINE__, UNIT));
    std::vector<int32_t>& count = result.discountOccurrence;
    count.assign(static_cast<size_t>(DISCOUNT_TYPE_NUM), 0);

    count[0] = pathComplete ? 0 : 1;

    // Over-short and overlong syllables, and the extremes of the syllable lengths.
    int32_t longest = 0, shortest = 0;
    bool anyScored = false;
    for (int32_t k = first; k <= last; ++k) {
        const cmNode& node = result.nodes[static_cast<size_t>(k)];
        if (!isScoredNodeName(node.name)) continue;
        int32_t phoneNum = static_cast<int32_t>(node.phones.size());
        int32_t shortNum = 0;
        bool hasLong = false;
        for (const cmPhone& phone : node.phones) {
            if (isShortPhone(phone)) ++shortNum;
            if (isLongPhone(phone)) hasLong = true;
        }
        if ((phoneNum > 0 && shortNum == phoneNum) || (2 * shortNum > phoneNum && phoneNum >= 3)) ++count[1];
        if (hasLong) ++count[2];
        int32_t length = frameCount(node.startFrame, node.endFrame);
        longest = anyScored ? std::max(longest, length) : length;
        shortest = anyScored ? std::min(shortest, length) : length;
        anyScored = true;
    }

    // Long pauses inside the range.
    for (int32_t k = first + 1; k < last; ++k) {
        const cmNode& node = result.nodes[static_cast<size_t>(k)];
        if (isPauseName(node.name) && frameCount(node.startFrame, node.endFrame) > LONG_PAUSE_FRAMES) ++count[3];
    }

    count[DISCOUNT_SYL_NUM] = result.textSylNum < 0 ? 0 : std::abs(result.textSylNum - result.scoredNodeNum);

    if (anyScored && static_cast<float>(longest) > SYLLABLE_LENGTH_RATIO * static_cast<float>(shortest)) count[5] = 1;

    // Loud silences: frames of a pause louder than a tenth of the volume range.
    bool anyVolume = false;
    int32_t vmin = 0, vmax = 0;
    for (int32_t k = first; k <= last; ++k) {
        for (float v : result.nodes[static_cast<size_t>(k)].volume) {
            int32_t iv = static_cast<int32_t>(v);
            vmin = anyVolume ? std::min(vmin, iv) : iv;
            vmax = anyVolume ? std::max(vmax, iv) : iv;
            anyVolume = true;
        }
    }
    if (anyVolume && vmax > vmin) {
        const float range = static_cast<float>(vmax) - static_cast<float>(vmin);
        for (int32_t k = first; k <= last; ++k) {
            const cmNode& node = result.nodes[static_cast<size_t>(k)];
            if (!isPauseName(node.name)) continue;
            int32_t loud = 0;
            for (float v : node.volume)
                if ((v - static_cast<float>(vmin)) / range > LOUD_SILENCE_LEVEL) ++loud;
            if (loud > LOUD_SILENCE_FRAMES_1) ++count[6];
            if (loud > LOUD_SILENCE_FRAMES_2) ++count[6];
        }
    }
}

scoringOptions scoringOptionsOf(const recogParam& param) {
    scoringOptions options;
    options.epsFile = param.epsFile;
    options.phoneRank2scoreParamFile = param.phoneRank2scoreParamFile;
    options.scoreDiscountParamFile = param.scoreDiscountParamFile;
    options.cmParamFile = param.cmParamFile;
    options.useAllModelAsCompetingModel = param.useAllModelAsCompetingModel;
    return options;
}

void computeTimberScores(cmResult& result, int32_t first, int32_t last, const scoringOptions& param,
                         const macroClass& models) {
    const int32_t nodeNum = static_cast<int32_t>(result.nodes.size());
    if (last >= first && (first < 0 || last >= nodeNum))
        reportError(formatString("Error: scoring range of nodes %d to %d outside the %d nodes (line %d of file %s)",
                                 first, last, nodeNum, __LINE__, UNIT));
    for (cmNode& node : result.nodes) {
        setTimberScores(node.timberScores, -1.0f);
        for (cmPhone& phone : node.phones) setTimberScores(phone.timberScores, -1.0f);
    }

    if (result.rankScoreParams.empty()) {
        if (param.rankScoreParams)
            result.rankScoreParams = *param.rankScoreParams;
        else
            readRankScoreParams(result, param.phoneRank2scoreParamFile);
    }
    if (result.rankScoreParams.size() < RANK_SCORE_PARAM_NUM)
        reportError(formatString("Error: %zu rank score parameters; %zu are needed (line %d of file %s)",
                                 result.rankScoreParams.size(), RANK_SCORE_PARAM_NUM, __LINE__, UNIT));
    const double w1 = result.rankScoreParams[0], s1 = result.rankScoreParams[1], m1 = result.rankScoreParams[2];

    std::vector<std::string> readCmLines;
    const bool useCmFile = param.cmLines || fileExists(param.cmParamFile);
    if (useCmFile && !param.cmLines) readCmLines = readLines(param.cmParamFile, '%');
    const std::vector<std::string>& cmLines = param.cmLines ? *param.cmLines : readCmLines;
    if (useCmFile) {
        if (cmLines.size() < static_cast<size_t>(models.modelNum))
            reportError(
                formatString("Error: %s has %zu parameter lines for %d models; the lines of models %zu to %d "
                             "are missing (line %d of file %s)",
                             param.cmParamFile.c_str(), cmLines.size(), models.modelNum, cmLines.size(),
                             models.modelNum - 1, __LINE__, UNIT));
    }

    for (int32_t k = first; k <= last; ++k) {
        cmNode& node = result.nodes[static_cast<size_t>(k)];
        if (!isScoredNodeName(node.name)) continue;
        double sum[4] = {0, 0, 0, 0};
        double weight = 0.0;
        bool anyScoredPhone = false;
        for (cmPhone& phone : node.phones) {
            if (!isScoredPhoneName(phone.name)) continue;
            anyScoredPhone = true;
            if (phone.modelIdx < 0 || phone.modelIdx >= models.modelNum)
                reportError(
                    formatString("Error: phone \"%s\" has model index %d of %d; rank the phones first "
                                 "(line %d of file %s)",
                                 phone.name.c_str(), phone.modelIdx, models.modelNum, __LINE__, UNIT));
            const double r = phone.rankRatio;
            if (useCmFile)
                cmParamsOfModel(cmLines, param.cmParamFile, models, phone.modelIdx, phone.cmParams);
            else
                std::copy(DEFAULT_CM_PARAMS, DEFAULT_CM_PARAMS + 3, phone.cmParams);

            phone.timberScores[0] = static_cast<float>(bellScore(r, w1, s1, m1));
            phone.timberScores[1] =
                static_cast<float>(bellScore(r, phone.cmParams[0], phone.cmParams[1], phone.cmParams[2]));
            phone.timberScores[2] = static_cast<float>(spreadScore(phone));
            phone.timberScores[3] = static_cast<float>(posteriorScore(phone, models));
            for (int32_t i = 0; i < 4; ++i) sum[i] += static_cast<double>(phone.timberScores[i]) * phone.timeRatio;
            weight += static_cast<double>(phone.timeRatio);
        }
        if (!anyScoredPhone) {
            // A node of "sil+" phones only carries no speech to judge.
            setTimberScores(node.timberScores, 0.0f);
            for (cmPhone& phone : node.phones) setTimberScores(phone.timberScores, 0.0f);
            continue;
        }
        for (int32_t i = 0; i < 4; ++i)
            node.timberScores[i] = weight != 0.0 ? static_cast<float>(sum[i] / weight) : 0.0f;
        node.timberScores[3] = std::min(node.timberScores[3], 100.0f);
    }

    // Duration-weighted averages over the scored nodes of the range.
    double sum[3] = {0, 0, 0};
    double duration = 0.0;
    for (int32_t k = first; k <= last; ++k) {
        const cmNode& node = result.nodes[static_cast<size_t>(k)];
        if (!isScoredNodeName(node.name)) continue;
        double d = frameCount(node.startFrame, node.endFrame);
        for (int32_t i = 0; i < 3; ++i) sum[i] += static_cast<double>(node.timberScores[i]) * d;
        duration += d;
    }
    for (int32_t i = 0; i < 3; ++i)
        result.avgTimberScore[i] = duration != 0.0 ? static_cast<float>(sum[i] / duration) : 0.0f;

    if (result.discountRatio.empty()) {
        if (param.discountRatio) {
            sinkPrintf("\tRead %s...\n", param.scoreDiscountParamFile.c_str());
            result.discountRatio = *param.discountRatio;
        } else {
            readDiscountRatios(result, param.scoreDiscountParamFile);
        }
    }
    if (result.discountRatio.size() < static_cast<size_t>(DISCOUNT_TYPE_NUM))
        reportError(formatString("Error: %zu discount ratios for %d discount types (line %d of file %s)",
                                 result.discountRatio.size(), DISCOUNT_TYPE_NUM, __LINE__, UNIT));
    double factor = 1.0;
    for (int32_t j = 0; j < DISCOUNT_TYPE_NUM; ++j) {
        if (j == DISCOUNT_SYL_NUM) continue;
        int32_t occurrence = static_cast<size_t>(j) < result.discountOccurrence.size()
                                 ? result.discountOccurrence[static_cast<size_t>(j)]
                                 : 0;
        factor *= std::pow(static_cast<double>(result.discountRatio[static_cast<size_t>(j)]), occurrence);
    }
    // Keyword mode has no text syllable count (-1); without one the syllable
    // ratio is left out rather than turning the score negative or infinite.
    if (result.textSylNum > 0)
        factor *= static_cast<double>(result.recogSylNum) / static_cast<double>(result.textSylNum);
    for (int32_t i = 0; i < 3; ++i) result.discTimberScore[i] = static_cast<float>(result.avgTimberScore[i] * factor);

    for (cmNode& node : result.nodes) {
        node.timberScore = node.timberScores[1];
        for (cmPhone& phone : node.phones) phone.timberScore = phone.timberScores[1];
    }
    result.timberScore = result.discTimberScore[1];
    result.score = result.discTimberScore[1];
}
