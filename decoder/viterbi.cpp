#include "decoder/viterbi.h"

#include "run/utility.h"
#include "run/outputSink.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

const char* const UNIT = "viterbi";

// Emitting-state keys of a node's recombination table: phoneIdx * 3 + stateIdx.
constexpr int32_t KEY_STATES_PER_PHONE = 3;

// The one node that is no node's successor.
int32_t findStartNode(const netClass& net) {
    std::vector<uint8_t> hasIncoming(net.nodes.size(), 0);
    for (const netNode& node : net.nodes)
        for (int32_t next : node.nextNodes) hasIncoming[static_cast<size_t>(next)] = 1;
    int32_t start = -1, found = 0;
    for (size_t i = 0; i < net.nodes.size(); ++i)
        if (!hasIncoming[i]) {
            start = static_cast<int32_t>(i);
            ++found;
        }
    if (found != 1) reportError(formatString("Error: more than one starting nodes! (line %d of file %s)", __LINE__, UNIT));
    return start;
}

// The one node without successors.
int32_t findEndNode(const netClass& net) {
    int32_t end = -1, found = 0;
    for (size_t i = 0; i < net.nodes.size(); ++i)
        if (net.nodes[i].nextNodes.empty()) {
            end = static_cast<int32_t>(i);
            ++found;
        }
    if (found != 1) reportError(formatString("Error: more than one ending nodes! (line %d of file %s)", __LINE__, UNIT));
    return end;
}

// Refuses what the search would otherwise read out of bounds: successors
// outside the net, a null node among the word successors, a unit outside the
// dictionary, a unit without models, a model outside the set or the cache.
void checkNet(const netClass& net, const std::vector<pronEntry>& pronDict, const macroClass& models,
              int32_t cacheModelNum) {
    const int32_t nodeNum = static_cast<int32_t>(net.nodes.size());
    const int32_t pronNum = static_cast<int32_t>(pronDict.size());
    const int32_t modelNum = std::min(models.modelNum, static_cast<int32_t>(models.models.size()));
    for (int32_t i = 0; i < nodeNum; ++i) {
        const netNode& node = net.nodes[static_cast<size_t>(i)];
        for (int32_t next : node.nextNodes)
            if (next < 0 || next >= nodeNum)
                reportError(formatString("Error: node %d links to node %d of a net of %d nodes (line %d of file %s)", i,
                                         next, nodeNum, __LINE__, UNIT));
        for (int32_t next : node.nextRealNodes)
            if (next < 0 || next >= nodeNum || net.nodes[static_cast<size_t>(next)].sylIndex < 0)
                reportError(formatString("Error: node %d has word successor %d that is not a word node of the net "
                                         "(line %d of file %s)",
                                         i, next, __LINE__, UNIT));
        if (node.sylIndex < 0) continue;
        if (node.sylIndex >= pronNum)
            reportError(formatString("Error: node %d stands for unit %d of a dictionary of %d units (line %d of file %s)",
                                     i, node.sylIndex, pronNum, __LINE__, UNIT));
        const pronEntry& pron = pronDict[static_cast<size_t>(node.sylIndex)];
        if (pron.modelIndices.empty())
            reportError(formatString("Error: unit \"%s\" of node %d has no models (line %d of file %s)",
                                     pron.word.c_str(), i, __LINE__, UNIT));
        for (int32_t m : pron.modelIndices) {
            if (m < 0 || m >= modelNum || m >= cacheModelNum)
                reportError(formatString("Error: unit \"%s\" of node %d uses model %d of a set of %d models "
                                         "(decoder sized for %d) (line %d of file %s)",
                                         pron.word.c_str(), i, m, modelNum, cacheModelNum, __LINE__, UNIT));
            const int32_t stateNum = models.models[static_cast<size_t>(m)].stateNum;
            if (stateNum < 3 || stateNum > MAX_MODEL_STATE_NUM)
                reportError(formatString("Error: model %d has %d states (line %d of file %s)", m, stateNum, __LINE__,
                                         UNIT));
        }
    }
}

// Sort key of a score: NaN orders below everything, so that the order is total.
inline float sortScore(float logLike) {
    return std::isnan(logLike) ? -std::numeric_limits<float>::infinity() : logLike;
}

}  // namespace

viterbiClass::viterbiClass(int32_t arenaLen, int32_t modelNum)
    : m_modelNum(std::max(modelNum, 0)), m_arenaLen(std::max(arenaLen, 0)) {
    if (m_modelNum > 0) m_probCache.resize(m_modelNum);
    if (m_arenaLen > 0) {
        m_arena.resize(static_cast<size_t>(m_arenaLen));
        m_candidate.resize(static_cast<size_t>(m_arenaLen));
        for (int32_t k = 0; k < m_arenaLen; ++k) m_candidate[static_cast<size_t>(k)] = k;
    }
}

const searchCandidate& viterbiClass::candidateAt(int32_t position) const {
    if (position < 0 || position >= m_arenaLen)
        reportError(formatString("Error: candidate position %d outside the arena of %d (line %d of file %s)", position,
                                 m_arenaLen, __LINE__, UNIT));
    return m_arena[static_cast<size_t>(m_candidate[static_cast<size_t>(position)])];
}

candidateHistory viterbiClass::historyOf(int32_t position) const {
    const searchCandidate& cand = candidateAt(position);
    std::vector<int32_t> chain;
    chain.reserve(static_cast<size_t>(std::max(cand.phoneNum, 0)));
    for (int32_t e = cand.lastEntry; e >= 0 && static_cast<size_t>(e) < m_history.size() &&
                                     chain.size() < static_cast<size_t>(MAX_PHONE_NUM);
         e = m_history[static_cast<size_t>(e)].parent)
        chain.push_back(e);
    candidateHistory h;
    h.phoneIdxInSyl.reserve(chain.size());
    h.phoneEndFrame.reserve(chain.size());
    h.phoneLogLike.reserve(chain.size());
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const historyEntry& entry = m_history[static_cast<size_t>(*it)];
        if (entry.sylNodeIdx >= 0) {
            h.sylWordIdx.push_back(entry.sylWordIdx);
            h.sylNodeIdx.push_back(entry.sylNodeIdx);
            h.sylEndFrame.push_back(entry.endFrame);
            h.sylLogLike.push_back(entry.logLike);
        }
        h.phoneIdxInSyl.push_back(entry.phoneIdxInSyl);
        h.phoneEndFrame.push_back(entry.endFrame);
        h.phoneLogLike.push_back(entry.logLike);
    }
    return h;
}

void viterbiClass::useCacheFor(const float* features, int32_t dim) {
    if (features != m_cacheFeatures || dim != m_cacheDim) {
        m_probCache.reset();
        m_cacheFeatures = features;
        m_cacheDim = dim;
    }
}

float viterbiClass::modelProb(const float* features, int32_t dim, int32_t frameId1, int32_t frameId2,
                              const macroClass& models, int32_t modelIdx) {
    useCacheFor(features, dim);
    return m_probCache.modelProb(features, dim, frameId1, frameId2, models, modelIdx);
}

void viterbiClass::appendRecord(searchCandidate& cand, int32_t phoneIdxInSyl, int32_t endFrame, int32_t sylWordIdx,
                                int32_t nodeIdx) {
    if (nodeIdx >= 0) {
        if (cand.sylNum >= MAX_SYL_NUM)
            reportError(formatString("MAX_SYL_NUM exceeded! (line %d of file %s)", __LINE__, UNIT));
        ++cand.sylNum;
    }
    if (cand.phoneNum >= MAX_PHONE_NUM)
        reportError(formatString("MAX_PHONE_NUM (%d) exceeded! (line %d of file %s)", MAX_PHONE_NUM, __LINE__, UNIT));
    ++cand.phoneNum;
    historyEntry entry;
    entry.parent = cand.lastEntry;
    entry.phoneIdxInSyl = phoneIdxInSyl;
    entry.endFrame = endFrame;
    entry.logLike = cand.logLike;
    entry.sylWordIdx = sylWordIdx;
    entry.sylNodeIdx = nodeIdx;
    cand.lastEntry = static_cast<int32_t>(m_history.size());
    m_history.push_back(entry);
}

int32_t viterbiClass::initCandidates(const netClass& net, const std::vector<pronEntry>& pronDict,
                                     const float* features, int32_t dim, int32_t candidateNum,
                                     const macroClass& models) {
    m_probCache.reset();
    m_cacheFeatures = features;
    m_cacheDim = dim;
    m_history.clear();
    m_compactAt = m_compactMinSize;

    for (size_t i = 0; i < net.nodes.size(); ++i)
        for (int32_t next : net.nodes[i].nextNodes)
            if (next < 0 || static_cast<size_t>(next) >= net.nodes.size())
                reportError(formatString("Error: node %zu links to node %d of a net of %zu nodes (line %d of file %s)",
                                         i, next, net.nodes.size(), __LINE__, UNIT));
    m_startNode = findStartNode(net);
    m_endNode = findEndNode(net);
    checkNet(net, pronDict, models, m_modelNum);
    if (dim < models.streamNum * MODEL_PARAM_NUM || features == nullptr)
        reportError(formatString("Error: feature frames of dimension %d for %d streams (line %d of file %s)", dim,
                                 models.streamNum, __LINE__, UNIT));

    for (int32_t k = 0; k < m_arenaLen; ++k) {
        m_arena[static_cast<size_t>(k)] = searchCandidate();
        m_candidate[static_cast<size_t>(k)] = k;
    }

    const netNode& start = net.nodes[static_cast<size_t>(m_startNode)];
    const bool nullStart = start.sylIndex < 0;
    const int32_t nodeNumForFirstFrame = nullStart ? static_cast<int32_t>(start.nextRealNodes.size()) : 1;
    if (candidateNum > m_arenaLen)
        reportError(formatString("Error: m_arenaLen=%d, candidateNum=%d (line %d of file %s)", m_arenaLen, candidateNum,
                                 __LINE__, UNIT));
    if (nodeNumForFirstFrame > candidateNum)
        reportError(formatString("Error: nodeNumForFirstFrame=%d, candidateNum=%d (line %d of file %s)",
                                 nodeNumForFirstFrame, candidateNum, __LINE__, UNIT));

    for (int32_t k = 0; k < nodeNumForFirstFrame; ++k) {
        const int32_t t = nullStart ? start.nextRealNodes[static_cast<size_t>(k)] : m_startNode;
        const int32_t model =
            pronDict[static_cast<size_t>(net.nodes[static_cast<size_t>(t)].sylIndex)].modelIndices[0];
        searchCandidate& cand = m_arena[static_cast<size_t>(k)];
        cand.nodeIdx = t;
        cand.logLike = m_probCache.getStateLogProb(features, models, model, 0, 0);
    }
    return nodeNumForFirstFrame;
}

int32_t viterbiClass::advanceCandidates(const netClass& net, const std::vector<pronEntry>& pronDict,
                                        const float* features, int32_t dim, int32_t frameIdx, int32_t frameNum,
                                        int32_t count, const macroClass& models) {
    const float* frame = features + static_cast<size_t>(frameIdx) * static_cast<size_t>(dim);
    auto b = [&](int32_t model, int32_t state) {
        return m_probCache.getStateLogProb(frame, models, model, state, frameIdx);
    };
    count = std::min(count, m_arenaLen);
    int32_t j = count;
    bool full = false;
    auto reportFull = [&](int32_t position) {
        sinkPrintf("Warning: Arena is full! frameId=%d, candidateId=%d, lastPos (%d) > m_arenaLen-1 (%d)!\n",
                    frameIdx, position, j, m_arenaLen - 1);
        full = true;
    };

    for (int32_t p = 0; p < count; ++p) {
        searchCandidate& x = m_arena[static_cast<size_t>(m_candidate[static_cast<size_t>(p)])];
        if (x.logLike <= LOG_ZERO_SCORE) continue;
        const netNode& node = net.nodes[static_cast<size_t>(x.nodeIdx)];
        const std::vector<int32_t>& phones = pronDict[static_cast<size_t>(node.sylIndex)].modelIndices;
        const int32_t m = phones[static_cast<size_t>(x.phoneIdx)];
        const hmmModel& model = models.models[static_cast<size_t>(m)];
        const int32_t h = x.stateIdx;
        const float next = model.transP[h + 1][h + 2];

        if (h + 3 < model.stateNum) {
            // The next emitting state of the same phone.
            if (j >= m_arenaLen) {
                reportFull(p);
            } else {
                searchCandidate& y = m_arena[static_cast<size_t>(m_candidate[static_cast<size_t>(j)])];
                y = x;
                y.stateIdx = h + 1;
                y.logLike += next + b(m, h + 1);
                if (++j == m_arenaLen) reportFull(p);
            }
        } else if (static_cast<size_t>(x.phoneIdx) + 1 < phones.size()) {
            // The first state of the next phone; the phone left gets its record.
            if (j >= m_arenaLen) {
                reportFull(p);
            } else {
                searchCandidate& y = m_arena[static_cast<size_t>(m_candidate[static_cast<size_t>(j)])];
                y = x;
                y.stateIdx = 0;
                y.phoneIdx = x.phoneIdx + 1;
                y.logLike += next + b(phones[static_cast<size_t>(y.phoneIdx)], 0);
                appendRecord(y, x.phoneIdx, frameIdx - 1, -1, -1);
                if (++j == m_arenaLen) reportFull(p);
            }
        } else {
            // The first state of each word successor; the node and its last
            // phone get their records.
            const int32_t branchNum = static_cast<int32_t>(node.nextRealNodes.size());
            for (int32_t q = 0; q < branchNum; ++q) {
                if (j >= m_arenaLen) {
                    reportFull(p);
                    break;
                }
                const int32_t t = node.nextRealNodes[static_cast<size_t>(q)];
                searchCandidate& y = m_arena[static_cast<size_t>(m_candidate[static_cast<size_t>(j)])];
                y = x;
                y.nodeIdx = t;
                y.stateIdx = 0;
                y.phoneIdx = 0;
                if (t == m_endNode) {
                    y.logLike = LOG_ZERO_SCORE;
                } else {
                    const netNode& target = net.nodes[static_cast<size_t>(t)];
                    const int32_t first = pronDict[static_cast<size_t>(target.sylIndex)].modelIndices[0];
                    y.logLike += next + b(first, 0) + target.penalty;
                }
                appendRecord(y, x.phoneIdx, frameIdx - 1, node.sylIndex, x.nodeIdx);
                if (++j == m_arenaLen) {
                    sinkPrintf("Warning: Arena is full! frameId=%d/%d, candidateId=%d/%d, branchId=%d/%d, "
                                "lastPos (%d) > m_arenaLen-1 (%d)!\n",
                                frameIdx, frameNum, p, count, q, branchNum, j, m_arenaLen - 1);
                    full = true;
                    break;
                }
            }
        }

        // The candidate itself stays in its state.
        x.logLike += model.transP[h + 1][h + 1] + b(m, h);
        if (full) break;
    }
    return j;
}

void viterbiClass::recombineCandidates(const netClass& net, int32_t used) {
    used = std::min(used, m_arenaLen);
    if (m_nodeBlock.size() < net.nodes.size()) m_nodeBlock.assign(net.nodes.size(), -1);
    // Every node that this frame's candidates stand in gets a block of
    // MAX_STATE_NUM_IN_SYL slots; only the slots they use are cleared and read.
    m_touchedNodes.clear();
    for (int32_t p = 0; p < used; ++p) {
        const searchCandidate& c = m_arena[static_cast<size_t>(m_candidate[static_cast<size_t>(p)])];
        const int32_t key = c.phoneIdx * KEY_STATES_PER_PHONE + c.stateIdx;
        if (key >= MAX_STATE_NUM_IN_SYL)
            reportError(formatString("MAX_STATE_NUM_IN_SYL exceeded: index=%d, MAX_STATE_NUM_IN_SYL=%d (line %d of file %s)",
                                     key, MAX_STATE_NUM_IN_SYL, __LINE__, UNIT));
        int32_t& block = m_nodeBlock[static_cast<size_t>(c.nodeIdx)];
        if (block < 0) {
            block = static_cast<int32_t>(m_touchedNodes.size());
            m_touchedNodes.push_back(c.nodeIdx);
            const size_t needed = m_touchedNodes.size() * static_cast<size_t>(MAX_STATE_NUM_IN_SYL);
            if (m_recombine.size() < needed) m_recombine.resize(needed);
        }
        m_recombine[static_cast<size_t>(block) * MAX_STATE_NUM_IN_SYL + static_cast<size_t>(key)] = -1;
    }
    for (int32_t p = 0; p < used; ++p) {
        searchCandidate& c = m_arena[static_cast<size_t>(m_candidate[static_cast<size_t>(p)])];
        const size_t block = static_cast<size_t>(m_nodeBlock[static_cast<size_t>(c.nodeIdx)]);
        int32_t& slot =
            m_recombine[block * MAX_STATE_NUM_IN_SYL + static_cast<size_t>(c.phoneIdx * KEY_STATES_PER_PHONE + c.stateIdx)];
        if (slot < 0) {
            slot = p;
            continue;
        }
        searchCandidate& holder = m_arena[static_cast<size_t>(m_candidate[static_cast<size_t>(slot)])];
        if (c.logLike > holder.logLike) {
            holder.logLike = LOG_ZERO_SCORE;
            slot = p;
        } else {
            c.logLike = LOG_ZERO_SCORE;
        }
    }
    for (int32_t node : m_touchedNodes) m_nodeBlock[static_cast<size_t>(node)] = -1;
}

void viterbiClass::sortCandidates(int32_t used, int32_t keep) {
    // Each position becomes one 64-bit key: the score mapped to an unsigned
    // integer that orders like the float, inverted so that higher scores come
    // first, above the position, so that equal scores keep their order (a
    // stable sort by score). Only the first keep positions need their order.
    used = std::min(used, m_arenaLen);
    if (used <= 0) return;
    keep = std::max(0, std::min(keep, used));
    m_sortKeys.resize(static_cast<size_t>(used));
    m_sortOrder.assign(m_candidate.begin(), m_candidate.begin() + used);
    for (int32_t p = 0; p < used; ++p) {
        const float score = sortScore(m_arena[static_cast<size_t>(m_candidate[static_cast<size_t>(p)])].logLike);
        uint32_t bits;
        std::memcpy(&bits, &score, sizeof bits);
        bits = (bits & 0x80000000u) ? ~bits : (bits | 0x80000000u);  // ascending with the score
        m_sortKeys[static_cast<size_t>(p)] = (static_cast<uint64_t>(~bits) << 32) | static_cast<uint32_t>(p);
    }
    if (keep < used && keep > 0) {
        std::nth_element(m_sortKeys.begin(), m_sortKeys.begin() + (keep - 1), m_sortKeys.end());
        std::sort(m_sortKeys.begin(), m_sortKeys.begin() + keep);
    } else if (keep == used) {
        std::sort(m_sortKeys.begin(), m_sortKeys.end());
    }
    for (int32_t p = 0; p < used; ++p)
        m_candidate[static_cast<size_t>(p)] =
            m_sortOrder[static_cast<size_t>(m_sortKeys[static_cast<size_t>(p)] & 0xffffffffu)];
}

int32_t viterbiClass::candidateCountAt(int32_t frameIdx, int32_t count, int32_t useDescCandidateNum) {
    if (useDescCandidateNum != 0) {
        if (frameIdx == 60 || frameIdx == 75)
            count = static_cast<int32_t>(count * 0.8);
        else if (frameIdx == 100)
            count = static_cast<int32_t>(count * 0.7);
        else if (frameIdx == 120)
            count = static_cast<int32_t>(count * 0.6);
    }
    return count;
}

int32_t viterbiClass::pruneCandidates(int32_t frameIdx, int32_t count, float probTh, int32_t useDescCandidateNum) {
    count = std::min(candidateCountAt(frameIdx, count, useDescCandidateNum), m_arenaLen);
    if (count <= 0) return count;
    const float best = m_arena[static_cast<size_t>(m_candidate[0])].logLike;
    for (int32_t p = 0; p < count; ++p) {
        if (best - m_arena[static_cast<size_t>(m_candidate[static_cast<size_t>(p)])].logLike > probTh) {
            for (int32_t k = p; k < count; ++k)
                m_arena[static_cast<size_t>(m_candidate[static_cast<size_t>(k)])].logLike = LOG_ZERO_SCORE;
            break;
        }
    }
    return count;
}

void viterbiClass::finishCandidates(const netClass& net, int32_t frameNum, int32_t count) {
    const int32_t last = std::min({count, MAX_FINAL_CANDIDATE_NUM, m_arenaLen});
    for (int32_t p = 0; p < last; ++p) {
        searchCandidate& c = m_arena[static_cast<size_t>(m_candidate[static_cast<size_t>(p)])];
        if (c.nodeIdx == m_endNode) continue;
        appendRecord(c, c.phoneIdx, frameNum - 1, net.nodes[static_cast<size_t>(c.nodeIdx)].sylIndex, c.nodeIdx);
    }
}

void viterbiClass::compactHistory(int32_t count) {
    // Mark what the kept candidates reach (chains share their older parts, so
    // a walk stops at the first entry already marked), then move the marked
    // entries down in order; a parent always precedes its children, so its
    // new index is known when a child is moved.
    count = std::min(count, m_arenaLen);
    m_remap.assign(m_history.size(), -1);
    for (int32_t p = 0; p < count; ++p)
        for (int32_t e = m_arena[static_cast<size_t>(m_candidate[static_cast<size_t>(p)])].lastEntry;
             e >= 0 && m_remap[static_cast<size_t>(e)] < 0; e = m_history[static_cast<size_t>(e)].parent)
            m_remap[static_cast<size_t>(e)] = 0;
    int32_t kept = 0;
    for (size_t e = 0; e < m_history.size(); ++e) {
        if (m_remap[e] < 0) continue;
        historyEntry entry = m_history[e];
        if (entry.parent >= 0) entry.parent = m_remap[static_cast<size_t>(entry.parent)];
        m_history[static_cast<size_t>(kept)] = entry;
        m_remap[e] = kept++;
    }
    m_history.resize(static_cast<size_t>(kept));
    for (int32_t p = 0; p < m_arenaLen; ++p) {
        searchCandidate& c = m_arena[static_cast<size_t>(m_candidate[static_cast<size_t>(p)])];
        // Records beyond the count are free; they lose their (now stale) history.
        c.lastEntry = (p < count && c.lastEntry >= 0) ? m_remap[static_cast<size_t>(c.lastEntry)] : -1;
    }
    m_compactAt = std::max(m_compactMinSize, 2 * m_history.size());
}

int32_t viterbiClass::searchNet(const netClass& net, const std::vector<pronEntry>& pronDict, const float* features,
                                int32_t dim, int32_t frameNum, int32_t candidateNum, const macroClass& models,
                                float probTh, int32_t useDescCandidateNum) {
    if (frameNum < 1)
        reportError(formatString("Error: no frames to search (frameNum=%d) (line %d of file %s)", frameNum, __LINE__,
                                 UNIT));
    initCandidates(net, pronDict, features, dim, candidateNum, models);
    int32_t count = candidateNum;
    for (int32_t i = 1; i < frameNum; ++i) {
        const int32_t used = advanceCandidates(net, pronDict, features, dim, i, frameNum, count, models);
        recombineCandidates(net, used);
        // Positions from the new count on are free after pruning: their order does not matter.
        sortCandidates(used, candidateCountAt(i, count, useDescCandidateNum));
        count = pruneCandidates(i, count, probTh, useDescCandidateNum);
        if (m_history.size() >= m_compactAt) compactHistory(count);
    }
    finishCandidates(net, frameNum, count);
    return count;
}

int32_t viterbiClass::selectFinalCandidate(int32_t count, const netClass& net,
                                           const std::vector<pronEntry>& pronDict) const {
    const int32_t endNode = findEndNode(net);
    const int32_t last = std::min(count, m_arenaLen);
    // 0: not complete (or dead); 1: complete; 2: and in the last phone; 3: and in state 2.
    auto grade = [&](const searchCandidate& c) {
        if (c.logLike <= LOG_ZERO_SCORE || c.nodeIdx < 0 || static_cast<size_t>(c.nodeIdx) >= net.nodes.size())
            return 0;
        const netNode& node = net.nodes[static_cast<size_t>(c.nodeIdx)];
        if (node.nextNodes.empty() || node.nextNodes[0] != endNode) return 0;
        if (node.sylIndex < 0 || static_cast<size_t>(node.sylIndex) >= pronDict.size()) return 1;
        if (static_cast<size_t>(c.phoneIdx) + 1 != pronDict[static_cast<size_t>(node.sylIndex)].modelIndices.size())
            return 1;
        return c.stateIdx == 2 ? 3 : 2;
    };
    for (int32_t pass = 3; pass >= 1; --pass)
        for (int32_t p = 0; p < last; ++p)
            if (grade(m_arena[static_cast<size_t>(m_candidate[static_cast<size_t>(p)])]) >= pass) return p;
    return -1;
}
