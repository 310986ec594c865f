#include "decoder/measures.h"

#include "decoder/mlf.h"
#include "decoder/stateProb.h"
#include "run/utility.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const char* const UNIT = "measures";

const char* const MEASURE_NAMES[PHONE_MEASURE_NUM] = {"llr",      "logPosterior", "rank",      "frames",
                                                      "gop",      "classGop",     "classMatch"};
enum { LLR, LOG_POSTERIOR, RANK, FRAMES, GOP, CLASS_GOP, CLASS_MATCH };

bool isFillerOrPause(const std::string& name) {
    return name == "sp" || name == "filler" || name == "fillerC" || name == "fillerV";
}

bool isPauseNode(const std::string& name) { return name == "sp" || name == "sil"; }

double logAdd(double a, double b) {
    if (a < b) std::swap(a, b);
    if (b == -std::numeric_limits<double>::infinity()) return a;
    return a + std::log1p(std::exp(b - a));
}

int32_t frameCount(int32_t startFrame, int32_t endFrame) { return endFrame - startFrame + 1; }

// Likelihood ratio, posterior, rank and duration from the phone's ranking.
void rankingMeasures(cmPhone& phone) {
    const double frames = std::max(1, frameCount(phone.startFrame, phone.endFrame));
    double bestOther = -std::numeric_limits<double>::infinity();
    double logSum = -std::numeric_limits<double>::infinity();
    bool ownSeen = false;
    for (size_t c = 0; c < phone.competingModelIdx.size(); ++c) {
        const double v = phone.competingLogLike[c];
        logSum = logAdd(logSum, v);
        if (phone.competingModelIdx[c] == phone.modelIdx && !ownSeen) {
            ownSeen = true;
            continue;
        }
        bestOther = std::max(bestOther, v);
    }
    const double own = phone.logLike;
    phone.measures[LLR] = std::isfinite(bestOther) ? static_cast<float>((own - bestOther) / frames) : 0.0f;
    phone.measures[LOG_POSTERIOR] = std::isfinite(logSum) ? static_cast<float>((own - logSum) / frames) : 0.0f;
    phone.measures[RANK] = static_cast<float>(phone.phoneRank);
    phone.measures[FRAMES] = static_cast<float>(frameCount(phone.startFrame, phone.endFrame));
}

}  // namespace

const char* phoneMeasureName(int32_t index) {
    return index >= 0 && index < PHONE_MEASURE_NUM ? MEASURE_NAMES[index] : "";
}

int32_t phoneMeasureIndex(const std::string& name) {
    for (int32_t i = 0; i < PHONE_MEASURE_NUM; ++i)
        if (name == MEASURE_NAMES[i]) return i;
    return -1;
}

monophoneClasses::monophoneClasses(const macroClass& models) {
    m_dim = models.streamNum * MODEL_PARAM_NUM;
    m_firstRow.assign(models.models.size(), -1);
    m_rowCount.assign(models.models.size(), 0);
    // The flattened states, row after row, then transposed.
    std::vector<float> means, inverses;
    for (size_t m = 0; m < models.models.size(); ++m) {
        const hmmModel& model = models.models[m];
        const int32_t emitting = std::min(MAX_EMIT_STATE_NUM, std::max(1, model.stateNum - 2));
        bool single = models.isConverted;
        for (int32_t s = 0; s < emitting && single; ++s)
            for (int32_t k = 0; k < models.streamNum; ++k) {
                const auto& mixture = model.state[s].stream[k].mixture;
                // A lone component of no weight is skipped by computeStateLogProb.
                if (mixture.size() != 1 || !(mixture[0].weight > -11.5f)) single = false;
            }
        if (!single) continue;
        m_firstRow[m] = static_cast<int32_t>(m_constant.size());
        m_rowCount[m] = emitting;
        for (int32_t s = 0; s < emitting; ++s) {
            double constant = 0;
            for (int32_t k = 0; k < models.streamNum; ++k) {
                const gaussMixture& mix = model.state[s].stream[k].mixture[0];
                constant += mix.weight - 0.5 * mix.gconst;
                means.insert(means.end(), mix.mean, mix.mean + MODEL_PARAM_NUM);
                inverses.insert(inverses.end(), mix.variance, mix.variance + MODEL_PARAM_NUM);
            }
            m_constant.push_back(static_cast<float>(constant));
        }
    }
    m_rowNum = static_cast<int32_t>(m_constant.size());
    m_mean.resize(means.size());
    m_inverseVariance.resize(inverses.size());
    for (int32_t r = 0; r < m_rowNum; ++r)
        for (int32_t d = 0; d < m_dim; ++d) {
            m_mean[static_cast<size_t>(d) * m_rowNum + r] = means[static_cast<size_t>(r) * m_dim + d];
            m_inverseVariance[static_cast<size_t>(d) * m_rowNum + r] = inverses[static_cast<size_t>(r) * m_dim + d];
        }

    classOfModel.assign(models.models.size(), -1);
    for (size_t m = 0; m < models.models.size(); ++m) {
        const std::string& name = models.models[m].name;
        const std::string base = name.substr(0, name.find('+'));
        if (isFillerOrPause(base)) continue;
        auto it = std::find(names.begin(), names.end(), base);
        int32_t c = static_cast<int32_t>(it - names.begin());
        if (it == names.end()) {
            names.push_back(base);
            members.emplace_back();
        }
        classOfModel[m] = c;
        members[static_cast<size_t>(c)].push_back(static_cast<int32_t>(m));
    }
}

float bestStateLogLike(const float* frame, const macroClass& models, int32_t modelIdx) {
    const hmmModel& model = models.models[static_cast<size_t>(modelIdx)];
    const int32_t emitting = std::min(MAX_EMIT_STATE_NUM, std::max(1, model.stateNum - 2));
    float best = computeStateLogProb(frame, models, modelIdx, 0);
    for (int32_t s = 1; s < emitting; ++s) best = std::max(best, computeStateLogProb(frame, models, modelIdx, s));
    return best;
}

void monophoneClasses::rowLogLikes(const float* frame, std::vector<float>& rows) const {
    rows.assign(static_cast<size_t>(m_rowNum), 0.0f);
    float* acc = rows.data();
    for (int32_t d = 0; d < m_dim; ++d) {
        const float x = frame[d];
        const float* mean = m_mean.data() + static_cast<size_t>(d) * m_rowNum;
        const float* inverse = m_inverseVariance.data() + static_cast<size_t>(d) * m_rowNum;
        for (int32_t r = 0; r < m_rowNum; ++r) {
            const float diff = x - mean[r];
            acc[r] += diff * diff * inverse[r];
        }
    }
    for (int32_t r = 0; r < m_rowNum; ++r) acc[r] = m_constant[static_cast<size_t>(r)] - 0.5f * acc[r];
}

float monophoneClasses::modelBest(const std::vector<float>& rows, const float* frame, const macroClass& models,
                                  int32_t modelIdx) const {
    const int32_t first = m_firstRow[static_cast<size_t>(modelIdx)];
    if (first < 0) return bestStateLogLike(frame, models, modelIdx);
    float best = rows[static_cast<size_t>(first)];
    for (int32_t r = first + 1; r < first + m_rowCount[static_cast<size_t>(modelIdx)]; ++r)
        best = std::max(best, rows[static_cast<size_t>(r)]);
    return best;
}

float monophoneClasses::modelBest(const float* frame, const macroClass& models, int32_t modelIdx) const {
    std::vector<float> rows;
    if (m_firstRow[static_cast<size_t>(modelIdx)] >= 0) rowLogLikes(frame, rows);
    return modelBest(rows, frame, models, modelIdx);
}

frameClassTable::frameClassTable(const monophoneClasses& classes, const macroClass& models, const float* features,
                                 int32_t dim, int32_t frameNum)
    : m_classes(classes), m_models(models), m_features(features), m_dim(dim), m_frameNum(frameNum) {
    const size_t frames = static_cast<size_t>(std::max(0, frameNum));
    m_best.assign(frames * classes.names.size(), 0.0f);
    m_logSum.assign(frames, 0.0);
    m_done.assign(frames, 0);
}

void frameClassTable::compute(int32_t t) {
    if (t < 0 || t >= m_frameNum)
        reportError(formatString("Error: frame %d outside the %d feature frames (line %d of file %s)", t, m_frameNum,
                                 __LINE__, UNIT));
    if (m_done[static_cast<size_t>(t)]) return;
    const float* frame = m_features + static_cast<size_t>(t) * static_cast<size_t>(m_dim);
    const size_t classNum = m_classes.names.size();
    float* best = m_best.data() + static_cast<size_t>(t) * classNum;
    double sum = -std::numeric_limits<double>::infinity();
    rowsOf(t);
    for (size_t c = 0; c < classNum; ++c) {
        float b = -std::numeric_limits<float>::infinity();
        for (int32_t m : m_classes.members[c]) b = std::max(b, m_classes.modelBest(m_rows, frame, m_models, m));
        best[c] = b;
        sum = logAdd(sum, b);
    }
    m_logSum[static_cast<size_t>(t)] = sum;
    m_done[static_cast<size_t>(t)] = 1;
    ++m_computed;
}

void frameClassTable::rowsOf(int32_t t) {
    if (m_rowsFrame == t) return;
    m_classes.rowLogLikes(m_features + static_cast<size_t>(t) * static_cast<size_t>(m_dim), m_rows);
    m_rowsFrame = t;
}

float frameClassTable::modelBest(int32_t t, int32_t modelIdx) {
    if (t < 0 || t >= m_frameNum)
        reportError(formatString("Error: frame %d outside the %d feature frames (line %d of file %s)", t, m_frameNum,
                                 __LINE__, UNIT));
    rowsOf(t);
    return m_classes.modelBest(m_rows, m_features + static_cast<size_t>(t) * static_cast<size_t>(m_dim), m_models,
                               modelIdx);
}

const float* frameClassTable::classBest(int32_t t) {
    compute(t);
    return m_best.data() + static_cast<size_t>(t) * m_classes.names.size();
}

double frameClassTable::logSum(int32_t t) {
    compute(t);
    return m_logSum[static_cast<size_t>(t)];
}

void measureResult(cmResult& result, const float* features, int32_t dim, int32_t frameNum, const macroClass& models,
                   const monophoneClasses& classes, const measureOptions& options) {
    frameClassTable table(classes, models, features, dim, frameNum);
    const size_t classNum = classes.names.size();
    double sum[PHONE_MEASURE_NUM] = {};
    int32_t measured = 0, firstScored = -1, lastScored = -1;

    for (size_t n = 0; n < result.nodes.size(); ++n) {
        cmNode& node = result.nodes[n];
        node.measured = false;
        node.accuracy = -1;
        for (cmPhone& phone : node.phones) {
            phone.measured = false;
            phone.accuracy = -1;
        }
        if (!isScoredNodeName(node.name)) continue;
        if (firstScored < 0) firstScored = static_cast<int32_t>(n);
        lastScored = static_cast<int32_t>(n);
        int32_t nodePhones = 0;
        for (cmPhone& phone : node.phones) {
            if (!isScoredPhoneName(phone.name)) continue;
            if (phone.modelIdx < 0 || phone.modelIdx >= models.modelNum)
                reportError(formatString("Error: phone \"%s\" has model index %d of %d; rank the phones first "
                                         "(line %d of file %s)",
                                         phone.name.c_str(), phone.modelIdx, models.modelNum, __LINE__, UNIT));
            if (phone.startFrame < 0 || phone.endFrame >= frameNum || phone.endFrame < phone.startFrame)
                reportError(formatString("Error: phone \"%s\" spans frames %d to %d, outside the %d feature frames "
                                         "(line %d of file %s)",
                                         phone.name.c_str(), phone.startFrame, phone.endFrame, frameNum, __LINE__,
                                         UNIT));
            std::fill(phone.measures, phone.measures + PHONE_MEASURE_NUM, 0.0f);
            rankingMeasures(phone);
            const int32_t own = classes.classOfModel[static_cast<size_t>(phone.modelIdx)];
            if (options.frameGop && classNum > 0) {
                double gop = 0, classGop = 0;
                int32_t match = 0;
                for (int32_t t = phone.startFrame; t <= phone.endFrame; ++t) {
                    const float* best = table.classBest(t);
                    const double logSum = table.logSum(t);
                    gop += table.modelBest(t, phone.modelIdx) - logSum;
                    if (own >= 0) {
                        classGop += best[own] - logSum;
                        const float* top = std::max_element(best, best + classNum);
                        if (top - best == own) ++match;
                    }
                }
                const double frames = frameCount(phone.startFrame, phone.endFrame);
                phone.measures[GOP] = static_cast<float>(gop / frames);
                phone.measures[CLASS_GOP] = own >= 0 ? static_cast<float>(classGop / frames) : phone.measures[GOP];
                phone.measures[CLASS_MATCH] = static_cast<float>(match / frames);
            }
            phone.measured = true;
            for (int32_t i = 0; i < PHONE_MEASURE_NUM; ++i) {
                sum[i] += phone.measures[i];
                node.measureMean[i] = nodePhones == 0 ? phone.measures[i] : node.measureMean[i] + phone.measures[i];
                node.measureMin[i] = nodePhones == 0 ? phone.measures[i] : std::min(node.measureMin[i], phone.measures[i]);
            }
            ++nodePhones;
            ++measured;
        }
        if (nodePhones > 0) {
            for (int32_t i = 0; i < PHONE_MEASURE_NUM; ++i) node.measureMean[i] /= static_cast<float>(nodePhones);
            node.measured = true;
        }
    }

    result.measuredPhoneNum = measured;
    for (int32_t i = 0; i < PHONE_MEASURE_NUM; ++i)
        result.measureMean[i] = measured > 0 ? static_cast<float>(sum[i] / measured) : 0.0f;
    result.pauseSeconds.clear();
    result.speechSeconds = 0;
    result.speechRate = 0;
    if (firstScored >= 0) {
        int32_t pauseFrames = 0;
        for (int32_t n = firstScored + 1; n < lastScored; ++n) {
            const cmNode& node = result.nodes[static_cast<size_t>(n)];
            const int32_t frames = frameCount(node.startFrame, node.endFrame);
            if (!isPauseNode(node.name) || frames < MEASURE_PAUSE_MIN_FRAMES) continue;
            result.pauseSeconds.push_back(static_cast<float>(frames) / 100.0f);
            pauseFrames += frames;
        }
        const int32_t span = frameCount(result.nodes[static_cast<size_t>(firstScored)].startFrame,
                                        result.nodes[static_cast<size_t>(lastScored)].endFrame);
        result.speechSeconds = static_cast<float>(span) / 100.0f;
        const int32_t spoken = span - pauseFrames;
        result.speechRate = spoken > 0 ? static_cast<float>(measured) * 100.0f / static_cast<float>(spoken) : 0.0f;
    }
    result.measured = true;
    result.calibrated = false;
}
