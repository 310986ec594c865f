// The Viterbi decoder: a frame-synchronous token-passing search of a net
// (netClass) over the feature frames of one utterance. Every live hypothesis
// (a candidate) knows its whole history: the nodes it has left with their end
// frames and scores, and the phones it has left with theirs, so that the chosen
// candidate itself is the segmentation that path-to-text and the assessment read.
//
// Histories are shared: a candidate record is small (position in the net, score,
// record counts and the index of its last history entry), and its history is a
// chain of entries in one append-only pool (m_history), each entry linking to
// the one before it. A spawn copies the small record and appends at most one
// entry; the pool is compacted (entries no kept candidate reaches are dropped)
// when it grows large. candidateHistory gives the complete history as lists.
//
// Scores are natural logarithms; -1e10 (LOG_ZERO_SCORE) marks a dead candidate.
#pragma once

#include "decoder/macro.h"
#include "decoder/stateProb.h"
#include "lexicon/dict.h"
#include "lexicon/net.h"

#include <cstdint>
#include <vector>

// Most node records and phone records one candidate may hold.
constexpr int32_t MAX_SYL_NUM = 1000;
constexpr int32_t MAX_PHONE_NUM = 3000;
// Candidates that receive the final records at the end of a search.
constexpr int32_t MAX_FINAL_CANDIDATE_NUM = 101;
// Log zero: the score of a dead candidate.
constexpr float LOG_ZERO_SCORE = -1e10f;

// One step of a history: a phone record and, when sylNodeIdx >= 0, the node
// record made at the same moment (a node is always left together with its last
// phone, so both records share end frame and score).
struct historyEntry {
    int32_t parent = -1;         // previous entry of the same history; -1 at its start
    int32_t phoneIdxInSyl = 0;   // position of the phone left in its node's pronunciation
    int32_t endFrame = 0;        // last frame of the phone (and of the node)
    float logLike = 0;           // score of the candidate when the record was made
    int32_t sylWordIdx = -1;     // node record: the node's sylIndex (m_pronDict entry)
    int32_t sylNodeIdx = -1;     // node record: the node's index; -1 for a phone record only
};

// A candidate record. Copied whole when a candidate spawns another.
struct searchCandidate {
    int32_t stateIdx = 0;         // emitting state in the current phone's model, from 0
    int32_t phoneIdx = 0;         // position of the current phone in the node's pronunciation
    int32_t nodeIdx = 0;          // current node of the net
    float logLike = LOG_ZERO_SCORE;  // cumulative log score; LOG_ZERO_SCORE or less: dead
    int32_t sylNum = 0;           // completed node records
    int32_t phoneNum = 0;         // completed phone records
    int32_t lastEntry = -1;       // last entry of its history in m_history; -1 for none
};

// The complete history of one candidate as plain lists, oldest record first.
// The node lists have sylNum entries, the phone lists phoneNum. Phone k spans
// from phoneEndFrame[k - 1] + 1 (0 for the first) to phoneEndFrame[k]; nodes
// likewise. A record's score includes the step that left the unit. Dead
// candidates that never left the first node get their final records too: the
// unused positions of the first frame stand in node 0, whose sylIndex may be -1.
struct candidateHistory {
    std::vector<int32_t> sylWordIdx;   // m_pronDict entry of each completed node
    std::vector<int32_t> sylNodeIdx;   // net node index of each completed node
    std::vector<int32_t> sylEndFrame;  // last frame of each completed node
    std::vector<float> sylLogLike;     // score when each node was left
    std::vector<int32_t> phoneIdxInSyl;  // position of each completed phone in its node's pronunciation
    std::vector<int32_t> phoneEndFrame;  // last frame of each completed phone
    std::vector<float> phoneLogLike;     // score when each phone was left
};

class viterbiClass {
public:
    int32_t m_modelNum = 0;          // models of the model set; size of the likelihood cache
    int32_t m_arenaLen = 0;          // candidate records in the arena
    probCacheClass m_probCache;      // state likelihoods, one frame per model state
    std::vector<searchCandidate> m_arena;  // m_arenaLen records, allocated at construction
    // Working order of the candidates: position p holds arena record m_candidate[p].
    // Sorting and pruning permute these indices, never the records.
    std::vector<int32_t> m_candidate;
    std::vector<historyEntry> m_history;   // the shared history pool
    // Pool size at which the first compaction of a search runs; later ones run
    // when the pool has doubled what the last one kept. Lowered by tests.
    size_t m_compactMinSize = size_t(1) << 16;

    // Allocates the arena and the cache (nothing for a count of 0 or less).
    viterbiClass(int32_t arenaLen, int32_t modelNum);

    // Searches the net over frames 0 .. frameNum - 1 of features (frameNum x dim
    // floats, frame after frame) with candidateNum candidates per frame, the
    // beam probTh and, when useDescCandidateNum is non-zero, the candidate count
    // shrinking at frames 60, 75, 100 and 120. The net is only read: every
    // table the search writes is the decoder's own. Returns the candidate count after the last frame; the
    // candidates are then at positions 0 .. count - 1, best first, and the first
    // MAX_FINAL_CANDIDATE_NUM of them (unless in the end node) carry the final
    // node and phone records. Fatal: a start or end node that is not unique,
    // candidateNum above m_arenaLen or below the first frame's candidates, a
    // node or model index outside the net, dictionary or model set, a node
    // without models, and the record limits MAX_SYL_NUM, MAX_PHONE_NUM and
    // MAX_STATE_NUM_IN_SYL.
    int32_t searchNet(const netClass& net, const std::vector<pronEntry>& pronDict, const float* features, int32_t dim,
                      int32_t frameNum, int32_t candidateNum, const macroClass& models, float probTh,
                      int32_t useDescCandidateNum);

    // Position (below count) of the candidate that stands for the result: the
    // first live candidate whose node is complete (its first nextNodes entry
    // is the end node) in the last phone and last state; else the first
    // complete one in the last phone; else the first complete one. -1 when no
    // live candidate is complete. Fatal: an end node that is not unique.
    int32_t selectFinalCandidate(int32_t count, const netClass& net, const std::vector<pronEntry>& pronDict) const;

    // The candidate at a position of the working order (0 .. m_arenaLen - 1;
    // after a search only positions below its count hold candidates).
    const searchCandidate& candidateAt(int32_t position) const;
    // The complete history of the candidate at a position.
    candidateHistory historyOf(int32_t position) const;

    // Best log likelihood of the three-state model modelIdx over frames
    // frameId1 .. frameId2 of features (see probCacheClass::modelProb), sharing
    // the search's likelihood cache; the cache is emptied when features or dim
    // differ from those it holds values of.
    float modelProb(const float* features, int32_t dim, int32_t frameId1, int32_t frameId2, const macroClass& models,
                    int32_t modelIdx);

    // The stages of searchNet, callable on their own for tests.

    // Empties the cache and the history pool, resets the arena and places the
    // first frame's candidates. Returns their number.
    int32_t initCandidates(const netClass& net, const std::vector<pronEntry>& pronDict, const float* features,
                           int32_t dim, int32_t candidateNum, const macroClass& models);
    // Spawns and advances the candidates at positions 0 .. count - 1 into
    // frame frameIdx. Returns the number of positions in use afterwards.
    int32_t advanceCandidates(const netClass& net, const std::vector<pronEntry>& pronDict, const float* features,
                              int32_t dim, int32_t frameIdx, int32_t frameNum, int32_t count,
                              const macroClass& models);
    // One candidate per node, phone and state among positions 0 .. used - 1:
    // the lower score is killed; on equal scores the lower position survives.
    void recombineCandidates(const netClass& net, int32_t used);
    // Orders positions 0 .. used - 1 by score, highest first, equal scores
    // keeping their order (a stable sort). Only the first keep positions are
    // guaranteed in that order; the others hold the rest in any order.
    void sortCandidates(int32_t used, int32_t keep);
    void sortCandidates(int32_t used) { sortCandidates(used, used); }
    // The candidate count of a frame: with useDescCandidateNum, count * 0.8 at
    // frames 60 and 75, * 0.7 at frame 100, * 0.6 at frame 120 (truncated).
    static int32_t candidateCountAt(int32_t frameIdx, int32_t count, int32_t useDescCandidateNum);
    // Applies the descending count and the beam; returns the new count.
    int32_t pruneCandidates(int32_t frameIdx, int32_t count, float probTh, int32_t useDescCandidateNum);
    // Appends the final node and phone records (end frame frameNum - 1) to the
    // first MAX_FINAL_CANDIDATE_NUM of the count candidates not in the end node.
    void finishCandidates(const netClass& net, int32_t frameNum, int32_t count);

private:
    int32_t m_startNode = -1;        // start and end node of the current search
    int32_t m_endNode = -1;
    const float* m_cacheFeatures = nullptr;  // features the cache holds values of (not owned)
    int32_t m_cacheDim = 0;
    size_t m_compactAt = 0;          // pool size at which the next compaction runs
    std::vector<uint64_t> m_sortKeys;   // sorting work space: (inverted score, position) keys
    std::vector<int32_t> m_sortOrder;   // sorting work space: the order before sorting
    std::vector<int32_t> m_remap;    // compaction work space: new index of each pool entry, -1 dropped
    // Recombination work space: per net node its block of MAX_STATE_NUM_IN_SYL
    // slots in m_recombine during one frame (-1 none), and the nodes given one.
    std::vector<int32_t> m_nodeBlock;
    std::vector<int32_t> m_recombine;
    std::vector<int32_t> m_touchedNodes;

    // Appends a phone record (and a node record when nodeIdx >= 0) to a candidate.
    void appendRecord(searchCandidate& cand, int32_t phoneIdxInSyl, int32_t endFrame, int32_t sylWordIdx,
                      int32_t nodeIdx);
    // Drops the pool entries that no candidate at positions 0 .. count - 1 reaches.
    void compactHistory(int32_t count);
    // The cache serves these features (emptied if it held values of others).
    void useCacheFor(const float* features, int32_t dim);
};
