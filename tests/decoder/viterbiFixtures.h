// Helpers of the decoder tests: nets built node by node, random nets, models
// and frames, and a plain reference decoder whose candidates carry their whole
// history in their own lists (copied whole at every spawn), written straight
// from the search rules, to compare the shared-history decoder against.
#pragma once

#include "decoder/macro.h"
#include "decoder/stateProb.h"
#include "decoder/viterbi.h"
#include "lexicon/dict.h"
#include "lexicon/net.h"
#include "decoder/modelFixtures.h"

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <array>
#include <vector>

// A net from the sylIndex of every node (-1: null node "!NULL") and its links
// (from, to) in link order; nextRealNodes resolved.
inline netClass fixtureNet(const std::vector<int32_t>& sylIndices, const std::vector<std::pair<int, int>>& links) {
    netClass net;
    net.nodeNum = static_cast<int32_t>(sylIndices.size());
    net.linkNum = static_cast<int32_t>(links.size());
    net.nodes.resize(sylIndices.size());
    for (size_t i = 0; i < sylIndices.size(); ++i) {
        net.nodes[i].sylIndex = sylIndices[i];
        net.nodes[i].word = sylIndices[i] < 0 ? "!NULL" : "u" + std::to_string(sylIndices[i]);
    }
    for (const auto& link : links) net.nodes[static_cast<size_t>(link.first)].nextNodes.push_back(link.second);
    net.resolveAllSuccessors();
    return net;
}

// A dictionary whose entry i has the model indices prons[i] (words "u<i>").
inline std::vector<pronEntry> fixturePronDict(const std::vector<std::vector<int32_t>>& prons) {
    std::vector<pronEntry> dict;
    for (size_t i = 0; i < prons.size(); ++i) dict.push_back(pronEntry{"u" + std::to_string(i), prons[i]});
    return dict;
}

// Converted one-stream models "m0", "m1", ... with the given means and state
// counts (names sort in index order for fewer than 10 models).
inline macroClass fixtureModels(const std::vector<float>& means, const std::vector<int32_t>& stateNums,
                                float selfLoop = 0.6f) {
    std::vector<hmmModel> models;
    for (size_t i = 0; i < means.size(); ++i)
        models.push_back(fixtureModel("m" + std::to_string(i), means[i], 1.0f, stateNums[i], 1, selfLoop));
    return convertedFixture(fixtureModelSet(models, 1));
}

// Frames of MODEL_PARAM_NUM values: frame t has every value values[t].
inline std::vector<float> framesOf(const std::vector<float>& values) {
    std::vector<float> frames;
    for (float v : values) frames.insert(frames.end(), MODEL_PARAM_NUM, v);
    return frames;
}

// ---- reference decoder ------------------------------------------------------

struct refCandidate {
    int32_t stateIdx = 0, phoneIdx = 0, nodeIdx = 0;
    float logLike = -1e10f;
    std::vector<int32_t> sylWordIdx, sylNodeIdx, sylEndFrame;
    std::vector<float> sylLogLike;
    std::vector<int32_t> phoneIdxInSyl, phoneEndFrame;
    std::vector<float> phoneLogLike;
};

class refDecoder {
public:
    int32_t arenaLen;
    std::vector<refCandidate> arena;
    std::vector<refCandidate*> cand;

    explicit refDecoder(int32_t len) : arenaLen(len), arena(static_cast<size_t>(len)), cand(static_cast<size_t>(len)) {}

    static int32_t endNodeOf(const netClass& net) {
        for (size_t i = 0; i < net.nodes.size(); ++i)
            if (net.nodes[i].nextNodes.empty()) return static_cast<int32_t>(i);
        return -1;
    }

    int32_t search(netClass& net, const std::vector<pronEntry>& dict, const float* features, int32_t dim,
                   int32_t frameNum, int32_t candidateNum, const macroClass& models, float probTh, int32_t desc) {
        std::vector<int> incoming(net.nodes.size(), 0);
        for (const netNode& node : net.nodes)
            for (int32_t n : node.nextNodes) incoming[static_cast<size_t>(n)]++;
        int32_t start = static_cast<int32_t>(std::find(incoming.begin(), incoming.end(), 0) - incoming.begin());
        int32_t end = endNodeOf(net);
        for (int32_t k = 0; k < arenaLen; ++k) {
            arena[static_cast<size_t>(k)] = refCandidate();
            cand[static_cast<size_t>(k)] = &arena[static_cast<size_t>(k)];
        }
        auto b = [&](int32_t frame, int32_t model, int32_t state) {
            return computeStateLogProb(features + static_cast<size_t>(frame) * static_cast<size_t>(dim), models, model,
                                       state);
        };
        auto firstModel = [&](int32_t node) {
            return dict[static_cast<size_t>(net.nodes[static_cast<size_t>(node)].sylIndex)].modelIndices[0];
        };
        std::vector<int32_t> firstNodes;
        if (net.nodes[static_cast<size_t>(start)].sylIndex < 0)
            firstNodes = net.nodes[static_cast<size_t>(start)].nextRealNodes;
        else
            firstNodes = {start};
        for (size_t k = 0; k < firstNodes.size(); ++k) {
            cand[k]->nodeIdx = firstNodes[k];
            cand[k]->logLike = b(0, firstModel(firstNodes[k]), 0);
        }

        int32_t a = candidateNum;
        for (int32_t i = 1; i < frameNum; ++i) {
            int32_t j = a;
            bool full = false;
            for (int32_t p = 0; p < a && !full; ++p) {
                refCandidate& x = *cand[static_cast<size_t>(p)];
                if (x.logLike <= -1e10f) continue;
                const netNode& node = net.nodes[static_cast<size_t>(x.nodeIdx)];
                const std::vector<int32_t>& phones = dict[static_cast<size_t>(node.sylIndex)].modelIndices;
                int32_t m = phones[static_cast<size_t>(x.phoneIdx)];
                const hmmModel& model = models.models[static_cast<size_t>(m)];
                int32_t h = x.stateIdx;
                float next = model.transP[h + 1][h + 2];
                if (h + 3 < model.stateNum) {
                    refCandidate& y = *cand[static_cast<size_t>(j)];
                    y = x;
                    y.stateIdx = h + 1;
                    y.logLike += next + b(i, m, h + 1);
                    if (++j == arenaLen) full = true;
                } else if (static_cast<size_t>(x.phoneIdx) + 1 < phones.size()) {
                    refCandidate& y = *cand[static_cast<size_t>(j)];
                    y = x;
                    y.stateIdx = 0;
                    y.phoneIdx++;
                    y.logLike += next + b(i, phones[static_cast<size_t>(y.phoneIdx)], 0);
                    y.phoneIdxInSyl.push_back(x.phoneIdx);
                    y.phoneEndFrame.push_back(i - 1);
                    y.phoneLogLike.push_back(y.logLike);
                    if (++j == arenaLen) full = true;
                } else {
                    for (int32_t t : node.nextRealNodes) {
                        refCandidate& y = *cand[static_cast<size_t>(j)];
                        y = x;
                        y.nodeIdx = t;
                        y.stateIdx = 0;
                        y.phoneIdx = 0;
                        if (t == end)
                            y.logLike = -1e10f;
                        else
                            y.logLike += next + b(i, firstModel(t), 0) + net.nodes[static_cast<size_t>(t)].penalty;
                        y.sylWordIdx.push_back(node.sylIndex);
                        y.sylNodeIdx.push_back(x.nodeIdx);
                        y.sylEndFrame.push_back(i - 1);
                        y.sylLogLike.push_back(y.logLike);
                        y.phoneIdxInSyl.push_back(x.phoneIdx);
                        y.phoneEndFrame.push_back(i - 1);
                        y.phoneLogLike.push_back(y.logLike);
                        if (++j == arenaLen) {
                            full = true;
                            break;
                        }
                    }
                }
                x.logLike += model.transP[h + 1][h + 1] + b(i, m, h);
            }
            // Recombination with the whole table of every node cleared.
            std::vector<std::array<int32_t, MAX_STATE_NUM_IN_SYL>> table(net.nodes.size());
            for (int32_t p = 0; p < j; ++p) table[static_cast<size_t>(cand[static_cast<size_t>(p)]->nodeIdx)].fill(-1);
            for (int32_t p = 0; p < j; ++p) {
                refCandidate* c = cand[static_cast<size_t>(p)];
                int32_t& slot =
                    table[static_cast<size_t>(c->nodeIdx)][static_cast<size_t>(c->phoneIdx * 3 + c->stateIdx)];
                if (slot == -1) {
                    slot = p;
                } else if (c->logLike > cand[static_cast<size_t>(slot)]->logLike) {
                    cand[static_cast<size_t>(slot)]->logLike = -1e10f;
                    slot = p;
                } else {
                    c->logLike = -1e10f;
                }
            }
            std::stable_sort(cand.begin(), cand.begin() + j,
                             [](const refCandidate* u, const refCandidate* v) { return u->logLike > v->logLike; });
            if (desc) {
                if (i == 60 || i == 75) a = static_cast<int32_t>(a * 0.8);
                if (i == 100) a = static_cast<int32_t>(a * 0.7);
                if (i == 120) a = static_cast<int32_t>(a * 0.6);
            }
            float best = cand[0]->logLike;
            for (int32_t p = 0; p < a; ++p)
                if (best - cand[static_cast<size_t>(p)]->logLike > probTh) {
                    for (int32_t k = p; k < a; ++k) cand[static_cast<size_t>(k)]->logLike = -1e10f;
                    break;
                }
        }
        for (int32_t p = 0; p < std::min(a, 101); ++p) {
            refCandidate& c = *cand[static_cast<size_t>(p)];
            if (c.nodeIdx == end) continue;
            c.sylWordIdx.push_back(net.nodes[static_cast<size_t>(c.nodeIdx)].sylIndex);
            c.sylNodeIdx.push_back(c.nodeIdx);
            c.sylEndFrame.push_back(frameNum - 1);
            c.sylLogLike.push_back(c.logLike);
            c.phoneIdxInSyl.push_back(c.phoneIdx);
            c.phoneEndFrame.push_back(frameNum - 1);
            c.phoneLogLike.push_back(c.logLike);
        }
        return a;
    }

    // The three passes over live candidates.
    int32_t select(int32_t count, const netClass& net, const std::vector<pronEntry>& dict) const {
        int32_t end = endNodeOf(net);
        auto complete = [&](const refCandidate& c) {
            const netNode& node = net.nodes[static_cast<size_t>(c.nodeIdx)];
            return c.logLike > -1e10f && !node.nextNodes.empty() && node.nextNodes[0] == end;
        };
        auto lastPhone = [&](const refCandidate& c) {
            int32_t s = net.nodes[static_cast<size_t>(c.nodeIdx)].sylIndex;
            return s >= 0 && static_cast<size_t>(c.phoneIdx) + 1 == dict[static_cast<size_t>(s)].modelIndices.size();
        };
        for (int32_t p = 0; p < count; ++p)
            if (complete(*cand[static_cast<size_t>(p)]) && lastPhone(*cand[static_cast<size_t>(p)]) &&
                cand[static_cast<size_t>(p)]->stateIdx == 2)
                return p;
        for (int32_t p = 0; p < count; ++p)
            if (complete(*cand[static_cast<size_t>(p)]) && lastPhone(*cand[static_cast<size_t>(p)])) return p;
        for (int32_t p = 0; p < count; ++p)
            if (complete(*cand[static_cast<size_t>(p)])) return p;
        return -1;
    }
};

// ---- random nets ------------------------------------------------------------

struct randomNetCase {
    netClass net;
    std::vector<pronEntry> dict;
    macroClass models;
    std::vector<float> frames;
    int32_t frameNum = 0;
    int32_t firstFrameNum = 0;  // candidates of the first frame
};

// A random net over a handful of units: a null (or, sometimes, word) start,
// a null (or, sometimes, word) end, word nodes with cycles, null nodes in
// between, units sharing pronunciations (so that scores tie), some penalties;
// models of one to three emitting states; frames of few distinct values.
inline randomNetCase randomNet(std::mt19937& rng, int32_t frameNum) {
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    randomNetCase rc;
    const int modelNum = uniform(2, 5);
    std::vector<float> means;
    std::vector<int32_t> stateNums;
    for (int m = 0; m < modelNum; ++m) {
        means.push_back(static_cast<float>(uniform(0, 3)));
        stateNums.push_back(uniform(3, 5));
    }
    rc.models = fixtureModels(means, stateNums, uniform(0, 1) ? 0.6f : 0.5f);

    const int unitNum = uniform(2, 6);
    std::vector<std::vector<int32_t>> prons;
    for (int u = 0; u < unitNum; ++u) {
        if (u > 0 && uniform(0, 3) == 0) {
            prons.push_back(prons[static_cast<size_t>(uniform(0, u - 1))]);  // same models, another unit
            continue;
        }
        std::vector<int32_t> p;
        for (int k = uniform(1, 4); k > 0; --k) p.push_back(uniform(0, modelNum - 1));
        prons.push_back(p);
    }
    rc.dict = fixturePronDict(prons);

    const bool wordStart = uniform(0, 4) == 0, wordEnd = uniform(0, 4) == 0;
    const int realNum = uniform(2, 8), nullNum = uniform(0, 2);
    // Nodes: 0 start, 1 end, 2 .. realNum+1 words, then the null nodes.
    std::vector<int32_t> syl(static_cast<size_t>(2 + realNum + nullNum), -1);
    syl[0] = wordStart ? uniform(0, unitNum - 1) : -1;
    syl[1] = wordEnd ? uniform(0, unitNum - 1) : -1;
    for (int r = 0; r < realNum; ++r) syl[static_cast<size_t>(2 + r)] = uniform(0, unitNum - 1);
    const int nodeNum = static_cast<int>(syl.size());
    std::vector<std::pair<int, int>> links;
    auto anyTarget = [&]() {
        int k = uniform(0, realNum + nullNum);
        return k == realNum + nullNum ? 1 : 2 + k;  // a word node, a null node or the end
    };
    for (int k = uniform(1, 3); k > 0; --k) links.emplace_back(0, 2 + uniform(0, realNum + nullNum - 1));
    for (int n = 2; n < nodeNum; ++n) {
        bool isNull = syl[static_cast<size_t>(n)] < 0;
        for (int k = uniform(1, 3); k > 0; --k) {
            int t = anyTarget();
            if (isNull && t >= 2 + realNum) t = 1;  // no chains of null nodes
            links.emplace_back(n, t);
        }
    }
    links.emplace_back(2 + uniform(0, realNum - 1), 1);
    std::vector<int> incoming(static_cast<size_t>(nodeNum), 0);
    for (const auto& l : links) incoming[static_cast<size_t>(l.second)]++;
    for (int n = 2; n < nodeNum; ++n)
        if (incoming[static_cast<size_t>(n)] == 0) links.emplace_back(0, n);
    rc.net = fixtureNet(syl, links);
    for (netNode& node : rc.net.nodes)
        if (node.sylIndex >= 0 && uniform(0, 5) == 0) node.penalty = -static_cast<float>(uniform(1, 8));

    rc.frameNum = frameNum;
    std::vector<float> values;
    for (int t = 0; t < frameNum; ++t) values.push_back(static_cast<float>(uniform(0, 6)) * 0.5f);
    rc.frames = framesOf(values);
    rc.firstFrameNum = wordStart ? 1 : static_cast<int32_t>(rc.net.nodes[0].nextRealNodes.size());
    return rc;
}
