// The re-estimation engine of the trainer: utterance graphs, forward-backward
// with a pruning beam, the statistics it gathers, and the parameter updates
// and mixture splitting that use them.
#include "decoder/stateProb.h"
#include "tools/train.h"
#include "run/utility.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace {

const char* const UNIT = "train";

constexpr double LOG_ZERO = -1e10;
constexpr double LOG_DEAD = -0.5e10;        // a log value below this is log zero
constexpr double LOG_SUM_MIN_DIFF = -23.0259;  // smaller terms do not change a log-sum
// Occupancies below this are too small to change any statistic.
constexpr double MIN_OCCUPANCY = 1e-6;
// Smallest component weight and transition probability an update leaves;
// weights stay well above the decoder's skipping threshold (log weight -11.5).
constexpr double MIN_MIX_WEIGHT = 1e-4;
constexpr double MIN_TRANS_PROB = 1e-4;
// A component seen for fewer frames keeps its mean and variance.
constexpr double MIN_MIX_OCC = 1.0;
// Largest frames x graph states of one utterance: the forward and backward
// tables take 16 bytes per cell (some 320 MB at this limit), so a transcript
// far too long for its wave, or the reverse, is refused before allocating.
constexpr double MAX_TRELLIS_CELLS = 2e7;

double logAdd(double a, double b) {
    if (a < b) std::swap(a, b);
    if (b <= LOG_DEAD) return a <= LOG_DEAD ? LOG_ZERO : a;
    double d = b - a;
    if (d < LOG_SUM_MIN_DIFF) return a;
    return a + std::log1p(std::exp(d));
}

double logOf(float p) { return p > 0 ? std::log(static_cast<double>(p)) : LOG_ZERO; }

}  // namespace

float gaussConst(const gaussMixture& mix) { return gconstFromVariances(mix.variance); }

void trainGraphClass::build(const std::vector<trainSegment>& segments, const macroClass& models) {
    m_model.clear();
    m_state.clear();
    m_initLog.clear();
    m_finalLog.clear();
    m_edges.clear();
    // Exit states of the chains that may precede the next segment; -1 stands
    // for the start of the utterance.
    std::vector<int32_t> frontier{-1};
    for (const trainSegment& segment : segments) {
        std::vector<int32_t> next;
        for (const std::vector<int32_t>& chain : segment.alternatives) {
            if (chain.empty()) continue;
            int32_t previousLast = -1;  // last state of the previous model of this chain
            for (int32_t m : chain) {
                if (m < 0 || static_cast<size_t>(m) >= models.models.size())
                    reportError(formatString("Error: model index %d outside the model set (line %d of %s)", m,
                                             __LINE__, UNIT));
                const hmmModel& model = models.models[static_cast<size_t>(m)];
                const int32_t emitting = model.stateNum - 2;
                if (emitting < 1 || emitting > MAX_EMIT_STATE_NUM)
                    reportError(formatString("Error: model %s has %d states (line %d of %s)", model.name.c_str(),
                                             model.stateNum, __LINE__, UNIT));
                const int32_t first = stateCount();
                for (int32_t s = 0; s < emitting; ++s) {
                    m_model.push_back(m);
                    m_state.push_back(s);
                    m_initLog.push_back(LOG_ZERO);
                    m_finalLog.push_back(LOG_ZERO);
                    // Self-loop and the step to the next emitting state.
                    m_edges.push_back({first + s, first + s, logOf(model.transP[s + 1][s + 1]), m, s + 1, s + 1});
                    if (s + 1 < emitting)
                        m_edges.push_back({first + s, first + s + 1, logOf(model.transP[s + 1][s + 2]), m, s + 1, s + 2});
                }
                const double entryLog = logOf(model.transP[0][1]);
                if (previousLast < 0) {
                    for (int32_t from : frontier) {
                        if (from < 0) {
                            m_initLog[static_cast<size_t>(first)] = entryLog;
                            continue;
                        }
                        const hmmModel& fromModel = models.models[static_cast<size_t>(m_model[static_cast<size_t>(from)])];
                        const int32_t row = fromModel.stateNum - 2;
                        m_edges.push_back({from, first, logOf(fromModel.transP[row][row + 1]) + entryLog,
                                           m_model[static_cast<size_t>(from)], row, row + 1});
                    }
                } else {
                    const hmmModel& fromModel = models.models[static_cast<size_t>(m_model[static_cast<size_t>(previousLast)])];
                    const int32_t row = fromModel.stateNum - 2;
                    m_edges.push_back({previousLast, first, logOf(fromModel.transP[row][row + 1]) + entryLog,
                                       m_model[static_cast<size_t>(previousLast)], row, row + 1});
                }
                previousLast = first + emitting - 1;
            }
            next.push_back(previousLast);
        }
        if (segment.optional) next.insert(next.end(), frontier.begin(), frontier.end());
        frontier = next;
    }
    for (int32_t last : frontier) {
        if (last < 0) continue;  // an utterance that may be empty cannot end here
        const hmmModel& model = models.models[static_cast<size_t>(m_model[static_cast<size_t>(last)])];
        const int32_t row = model.stateNum - 2;
        m_finalLog[static_cast<size_t>(last)] = logOf(model.transP[row][row + 1]);
    }
    // Transitions of probability 0 never carry a path.
    m_edges.erase(std::remove_if(m_edges.begin(), m_edges.end(),
                                 [](const trainEdge& e) { return e.logProb <= LOG_DEAD; }),
                  m_edges.end());

    const int32_t n = stateCount();
    m_inStart.assign(static_cast<size_t>(n) + 1, 0);
    m_outStart.assign(static_cast<size_t>(n) + 1, 0);
    for (const trainEdge& e : m_edges) {
        ++m_inStart[static_cast<size_t>(e.to) + 1];
        ++m_outStart[static_cast<size_t>(e.from) + 1];
    }
    for (int32_t i = 0; i < n; ++i) {
        m_inStart[static_cast<size_t>(i) + 1] += m_inStart[static_cast<size_t>(i)];
        m_outStart[static_cast<size_t>(i) + 1] += m_outStart[static_cast<size_t>(i)];
    }
    m_inEdges.assign(m_edges.size(), 0);
    m_outEdges.assign(m_edges.size(), 0);
    std::vector<int32_t> inFill(m_inStart.begin(), m_inStart.end() - 1);
    std::vector<int32_t> outFill(m_outStart.begin(), m_outStart.end() - 1);
    for (size_t k = 0; k < m_edges.size(); ++k) {
        m_inEdges[static_cast<size_t>(inFill[static_cast<size_t>(m_edges[k].to)]++)] = static_cast<int32_t>(k);
        m_outEdges[static_cast<size_t>(outFill[static_cast<size_t>(m_edges[k].from)]++)] = static_cast<int32_t>(k);
    }
}

void trainAccumClass::reset(const macroClass& models) {
    const size_t n = models.models.size();
    m_mix.assign(n, {});
    m_trans.assign(n, {});
    m_entries.assign(n, 0.0);
    for (size_t m = 0; m < n; ++m) {
        const hmmModel& model = models.models[m];
        for (int32_t s = 0; s < model.stateNum - 2 && s < MAX_EMIT_STATE_NUM; ++s)
            for (int32_t k = 0; k < models.streamNum; ++k)
                m_mix[m][static_cast<size_t>(s)][static_cast<size_t>(k)].assign(model.state[s].stream[k].mixture.size(),
                                                                               mixtureAccum{});
    }
    m_logLike = 0;
    m_frames = 0;
    m_utterances = 0;
    m_skipped = 0;
}

double forwardBackward(const trainGraphClass& graph, const float* features, int32_t frameNum, int32_t dim,
                       const macroClass& converted, double beam, trainAccumClass* acc) {
    const int32_t n = graph.stateCount();
    if (frameNum <= 0 || n == 0) return LOG_ZERO;
    if (dim != converted.streamNum * MODEL_PARAM_NUM)
        reportError(formatString("Error: features of %d values do not match %d streams of %d (line %d of %s)", dim,
                                 converted.streamNum, MODEL_PARAM_NUM, __LINE__, UNIT));
    if (acc != nullptr && acc->m_mix.size() != converted.models.size())
        reportError(formatString("Error: statistics of %d models for a set of %d (line %d of %s)",
                                 static_cast<int32_t>(acc->m_mix.size()), static_cast<int32_t>(converted.models.size()),
                                 __LINE__, UNIT));
    const size_t T = static_cast<size_t>(frameNum), N = static_cast<size_t>(n);

    if (static_cast<double>(T) * static_cast<double>(N) > MAX_TRELLIS_CELLS)
        reportError(formatString("Error: %d frames and %d model states are too many to align at once; at most %.0f "
                                 "of their products are allowed (line %d of %s)",
                                 frameNum, n, MAX_TRELLIS_CELLS, __LINE__, UNIT));

    // Graph states that share a model state share its likelihoods.
    std::vector<int32_t> unit(N);
    std::map<std::pair<int32_t, int32_t>, int32_t> units;
    for (size_t i = 0; i < N; ++i) {
        auto inserted = units.emplace(std::make_pair(graph.m_model[i], graph.m_state[i]),
                                      static_cast<int32_t>(units.size()));
        unit[i] = inserted.first->second;
    }
    const size_t U = units.size();
    const double unknown = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> emission(T * U, unknown);
    auto b = [&](size_t t, size_t i) {
        double& v = emission[t * U + static_cast<size_t>(unit[i])];
        if (std::isnan(v))
            v = computeStateLogProb(features + t * static_cast<size_t>(dim), converted, graph.m_model[i],
                                    graph.m_state[i]);
        return v;
    };

    // Forward, keeping only states within the beam of the best one.
    std::vector<double> alpha(T * N, LOG_ZERO);
    for (size_t i = 0; i < N; ++i)
        if (graph.m_initLog[i] > LOG_DEAD) alpha[i] = graph.m_initLog[i] + b(0, i);
    for (size_t t = 0;; ++t) {
        double* row = &alpha[t * N];
        double best = LOG_ZERO;
        for (size_t i = 0; i < N; ++i) best = std::max(best, row[i]);
        if (best <= LOG_DEAD) return LOG_ZERO;
        for (size_t i = 0; i < N; ++i)
            if (row[i] < best - beam) row[i] = LOG_ZERO;
        if (t + 1 == T) break;
        double* nextRow = &alpha[(t + 1) * N];
        for (size_t j = 0; j < N; ++j) {
            double sum = LOG_ZERO;
            for (int32_t k = graph.m_inStart[j]; k < graph.m_inStart[j + 1]; ++k) {
                const trainEdge& e = graph.m_edges[static_cast<size_t>(graph.m_inEdges[static_cast<size_t>(k)])];
                const double from = row[static_cast<size_t>(e.from)];
                if (from > LOG_DEAD) sum = logAdd(sum, from + e.logProb);
            }
            if (sum > LOG_DEAD) nextRow[j] = sum + b(t + 1, j);
        }
    }
    double logLike = LOG_ZERO;
    for (size_t i = 0; i < N; ++i) {
        const double a = alpha[(T - 1) * N + i];
        if (a > LOG_DEAD && graph.m_finalLog[i] > LOG_DEAD) logLike = logAdd(logLike, a + graph.m_finalLog[i]);
    }
    if (logLike <= LOG_DEAD || acc == nullptr) return logLike;

    // Backward over the states the forward pass kept.
    std::vector<double> beta(T * N, LOG_ZERO);
    for (size_t i = 0; i < N; ++i)
        if (alpha[(T - 1) * N + i] > LOG_DEAD) beta[(T - 1) * N + i] = graph.m_finalLog[i];
    for (size_t t = T - 1; t-- > 0;) {
        for (size_t i = 0; i < N; ++i) {
            if (alpha[t * N + i] <= LOG_DEAD) continue;
            double sum = LOG_ZERO;
            for (int32_t k = graph.m_outStart[i]; k < graph.m_outStart[i + 1]; ++k) {
                const trainEdge& e = graph.m_edges[static_cast<size_t>(graph.m_outEdges[static_cast<size_t>(k)])];
                const size_t j = static_cast<size_t>(e.to);
                const double after = beta[(t + 1) * N + j];
                if (after > LOG_DEAD && alpha[(t + 1) * N + j] > LOG_DEAD)
                    sum = logAdd(sum, e.logProb + b(t + 1, j) + after);
            }
            beta[t * N + i] = sum;
        }
    }

    // Statistics: state and component occupancies, transitions, model entries.
    const int32_t streams = converted.streamNum;
    std::vector<double> componentLog;
    for (size_t t = 0; t < T; ++t) {
        const float* frame = features + t * static_cast<size_t>(dim);
        for (size_t i = 0; i < N; ++i) {
            const double a = alpha[t * N + i], be = beta[t * N + i];
            if (a <= LOG_DEAD || be <= LOG_DEAD) continue;
            const double gamma = std::exp(a + be - logLike);
            if (gamma < MIN_OCCUPANCY) continue;
            const int32_t m = graph.m_model[i], s = graph.m_state[i];
            if (t == 0 && graph.m_initLog[i] > LOG_DEAD) acc->m_entries[static_cast<size_t>(m)] += gamma;
            const hmmState& state = converted.models[static_cast<size_t>(m)].state[s];
            for (int32_t k = 0; k < streams; ++k) {
                const std::vector<gaussMixture>& mixture = state.stream[k].mixture;
                std::vector<mixtureAccum>& target = acc->m_mix[static_cast<size_t>(m)][static_cast<size_t>(s)][static_cast<size_t>(k)];
                const float* x = frame + k * MODEL_PARAM_NUM;
                componentLog.assign(mixture.size(), LOG_ZERO);
                double total = LOG_ZERO;
                for (size_t c = 0; c < mixture.size(); ++c) {
                    if (!(mixture[c].weight > -11.5f)) continue;
                    componentLog[c] = mixture[c].weight + getMixtureLogProb(frame, converted, m, s, k,
                                                                            static_cast<int32_t>(c));
                    total = logAdd(total, componentLog[c]);
                }
                if (total <= LOG_DEAD) continue;
                for (size_t c = 0; c < mixture.size(); ++c) {
                    if (componentLog[c] <= LOG_DEAD) continue;
                    const double post = gamma * std::exp(componentLog[c] - total);
                    if (post < MIN_OCCUPANCY) continue;
                    mixtureAccum& ma = target[c];
                    ma.occ += post;
                    for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) {
                        const double v = x[d];
                        ma.sum[static_cast<size_t>(d)] += post * v;
                        ma.sq[static_cast<size_t>(d)] += post * v * v;
                    }
                }
            }
            // Transitions leaving this state at frame t.
            if (t + 1 < T) {
                for (int32_t k = graph.m_outStart[i]; k < graph.m_outStart[i + 1]; ++k) {
                    const trainEdge& e = graph.m_edges[static_cast<size_t>(graph.m_outEdges[static_cast<size_t>(k)])];
                    const size_t j = static_cast<size_t>(e.to);
                    const double after = beta[(t + 1) * N + j];
                    if (after <= LOG_DEAD || alpha[(t + 1) * N + j] <= LOG_DEAD) continue;
                    const double xi = std::exp(a + e.logProb + b(t + 1, j) + after - logLike);
                    acc->m_trans[static_cast<size_t>(e.model)][static_cast<size_t>(e.row)][static_cast<size_t>(e.col)] += xi;
                    // Reaching a first state other than by its self-loop enters a model.
                    if (graph.m_state[j] == 0 && e.from != e.to)
                        acc->m_entries[static_cast<size_t>(graph.m_model[j])] += xi;
                }
            } else if (graph.m_finalLog[i] > LOG_DEAD) {
                const hmmModel& model = converted.models[static_cast<size_t>(m)];
                const int32_t row = model.stateNum - 2;
                const double xi = std::exp(a + graph.m_finalLog[i] - logLike);
                acc->m_trans[static_cast<size_t>(m)][static_cast<size_t>(row)][static_cast<size_t>(row) + 1] += xi;
            }
        }
    }
    acc->m_logLike += logLike;
    acc->m_frames += frameNum;
    acc->m_utterances += 1;
    return logLike;
}

int32_t updateModels(macroClass& models, const trainAccumClass& acc, const std::vector<float>& varFloor,
                     double minOcc) {
    int32_t kept = 0;
    if (acc.m_mix.size() != models.models.size())
        reportError(formatString("Error: statistics of %d models for a set of %d (line %d of %s)",
                                 static_cast<int32_t>(acc.m_mix.size()), static_cast<int32_t>(models.models.size()),
                                 __LINE__, UNIT));
    for (size_t m = 0; m < models.models.size(); ++m) {
        hmmModel& model = models.models[m];
        const int32_t emitting = model.stateNum - 2;
        for (int32_t s = 0; s < emitting; ++s) {
            hmmState& state = model.state[s];
            double stateOcc = 0;
            for (const mixtureAccum& ma : acc.m_mix[m][static_cast<size_t>(s)][0]) stateOcc += ma.occ;
            if (stateOcc < minOcc) {
                if (stateOcc > 0) ++kept;
                continue;
            }
            for (int32_t k = 0; k < models.streamNum; ++k) {
                std::vector<gaussMixture>& mixture = state.stream[k].mixture;
                const std::vector<mixtureAccum>& stats = acc.m_mix[m][static_cast<size_t>(s)][static_cast<size_t>(k)];
                if (stats.size() != mixture.size())
                    reportError(formatString("Error: statistics of %d components for %d in model %s (line %d of %s)",
                                             static_cast<int32_t>(stats.size()), static_cast<int32_t>(mixture.size()),
                                             model.name.c_str(), __LINE__, UNIT));
                double weightSum = 0;
                for (size_t c = 0; c < mixture.size(); ++c) {
                    const mixtureAccum& ma = stats[c];
                    gaussMixture& mix = mixture[c];
                    if (ma.occ >= MIN_MIX_OCC) {
                        for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) {
                            const double mean = ma.sum[static_cast<size_t>(d)] / ma.occ;
                            const double var = ma.sq[static_cast<size_t>(d)] / ma.occ - mean * mean;
                            mix.mean[d] = static_cast<float>(mean);
                            mix.variance[d] =
                                std::max(static_cast<float>(var), varFloor[static_cast<size_t>(k * MODEL_PARAM_NUM + d)]);
                        }
                        mix.gconst = gaussConst(mix);
                    }
                    mix.weight = static_cast<float>(std::max(ma.occ / stateOcc, MIN_MIX_WEIGHT));
                    weightSum += mix.weight;
                }
                for (gaussMixture& mix : mixture) mix.weight = static_cast<float>(mix.weight / weightSum);
            }
        }
        // Each emitting row: self-loop and the step onwards (the exit for the last state).
        for (int32_t r = 1; r <= emitting; ++r) {
            const double stay = acc.m_trans[m][static_cast<size_t>(r)][static_cast<size_t>(r)];
            const double leave = acc.m_trans[m][static_cast<size_t>(r)][static_cast<size_t>(r) + 1];
            if (stay + leave < minOcc) continue;
            double pStay = std::min(std::max(stay / (stay + leave), MIN_TRANS_PROB), 1.0 - MIN_TRANS_PROB);
            model.transP[r][r] = static_cast<float>(pStay);
            model.transP[r][r + 1] = static_cast<float>(1.0 - pStay);
        }
    }
    return kept;
}

void splitMixtures(macroClass& models, int32_t target) {
    if (target < 1 || target > MAX_MIXTURE_NUM)
        reportError(formatString("Error: %d components per stream is outside 1 to %d (line %d of %s)", target,
                                 MAX_MIXTURE_NUM, __LINE__, UNIT));
    for (hmmModel& model : models.models) {
        for (int32_t s = 0; s < model.stateNum - 2; ++s) {
            for (int32_t k = 0; k < models.streamNum; ++k) {
                std::vector<gaussMixture>& mixture = model.state[s].stream[k].mixture;
                while (!mixture.empty() && static_cast<int32_t>(mixture.size()) < target) {
                    size_t heaviest = 0;
                    for (size_t c = 1; c < mixture.size(); ++c)
                        if (mixture[c].weight > mixture[heaviest].weight) heaviest = c;
                    gaussMixture copy = mixture[heaviest];
                    gaussMixture& original = mixture[heaviest];
                    original.weight *= 0.5f;
                    copy.weight = original.weight;
                    for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) {
                        const float shift = 0.2f * std::sqrt(original.variance[d]);
                        original.mean[d] += shift;
                        copy.mean[d] -= shift;
                    }
                    mixture.push_back(copy);
                }
            }
        }
    }
}
