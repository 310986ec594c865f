#include "decoder/viterbi.h"
#include "modelFixtures.h"
#include "run/utility.h"
#include "testUtil.h"
#include "viterbiFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

// The message with the source line number replaced by N.
std::string withoutLine(const std::string& message) {
    size_t at = message.find("(line ");
    if (at == std::string::npos) return message;
    size_t end = message.find(' ', at + 6);
    return message.substr(0, at + 6) + "N" + message.substr(end);
}

// b(model, state) of one frame value, as the decoder computes it.
float stateProb(const macroClass& models, int32_t model, int32_t state, float value) {
    std::vector<float> frame = framesOf({value});
    return computeStateLogProb(frame.data(), models, model, state);
}

// A chain: null start 0 -> word 2 (unit 0) -> word 3 (unit 1) -> null end 1.
struct chainCase {
    netClass net = fixtureNet({-1, -1, 0, 1}, {{0, 2}, {2, 3}, {3, 1}});
    std::vector<pronEntry> dict = fixturePronDict({{0}, {1}});
    macroClass models = fixtureModels({0.0f, 2.0f}, {3, 3});
};

void expectSameAsReference(viterbiClass& fast, int32_t fastCount, refDecoder& ref, int32_t refCount,
                           const std::string& label) {
    ASSERT_EQ(fastCount, refCount) << label;
    for (int32_t p = 0; p < std::min(fastCount, fast.m_arenaLen); ++p) {
        const searchCandidate& c = fast.candidateAt(p);
        const refCandidate& r = *ref.cand[static_cast<size_t>(p)];
        ASSERT_EQ(c.nodeIdx, r.nodeIdx) << label << " position " << p;
        ASSERT_EQ(c.phoneIdx, r.phoneIdx) << label << " position " << p;
        ASSERT_EQ(c.stateIdx, r.stateIdx) << label << " position " << p;
        ASSERT_EQ(c.logLike, r.logLike) << label << " position " << p;
        ASSERT_EQ(c.sylNum, static_cast<int32_t>(r.sylWordIdx.size())) << label << " position " << p;
        ASSERT_EQ(c.phoneNum, static_cast<int32_t>(r.phoneIdxInSyl.size())) << label << " position " << p;
        candidateHistory h = fast.historyOf(p);
        ASSERT_EQ(h.sylWordIdx, r.sylWordIdx) << label << " position " << p;
        ASSERT_EQ(h.sylNodeIdx, r.sylNodeIdx) << label << " position " << p;
        ASSERT_EQ(h.sylEndFrame, r.sylEndFrame) << label << " position " << p;
        ASSERT_EQ(h.sylLogLike, r.sylLogLike) << label << " position " << p;
        ASSERT_EQ(h.phoneIdxInSyl, r.phoneIdxInSyl) << label << " position " << p;
        ASSERT_EQ(h.phoneEndFrame, r.phoneEndFrame) << label << " position " << p;
        ASSERT_EQ(h.phoneLogLike, r.phoneLogLike) << label << " position " << p;
    }
}

}  // namespace

TEST(viterbiSearch, randomNetsMatchTheFullHistoryReference) {
    std::mt19937 rng(20240611);
    int withFull = 0, withDesc = 0;
    for (int trial = 0; trial < 400; ++trial) {
        auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        const int32_t frameNum = uniform(0, 3) == 0 ? uniform(121, 220) : uniform(1, 60);
        randomNetCase rc = randomNet(rng, frameNum);
        // Now and then more than the 101 candidates that receive final records.
        const int32_t candidateNum = rc.firstFrameNum + (uniform(0, 5) == 0 ? uniform(95, 140) : uniform(0, 20));
        // A tight arena now and then, so that it fills up.
        const int32_t arenaLen = uniform(0, 3) == 0 ? candidateNum + uniform(1, 4) : 5 * candidateNum + 1;
        const float probThs[] = {0.0f, 4.0f, 15.0f, 1000.0f};
        const float probTh = probThs[uniform(0, 3)];
        const int32_t desc = uniform(0, 1);
        const std::string label = "trial " + std::to_string(trial);

        refDecoder ref(arenaLen);
        netClass refNet = rc.net;
        const int32_t refCount = ref.search(refNet, rc.dict, rc.frames.data(), MODEL_PARAM_NUM, frameNum, candidateNum,
                                            rc.models, probTh, desc);

        viterbiClass fast(arenaLen, rc.models.modelNum);
        if (trial % 2 == 0) fast.m_compactMinSize = 8;  // compact nearly every frame
        testing::internal::CaptureStdout();
        const int32_t count = fast.searchNet(rc.net, rc.dict, rc.frames.data(), MODEL_PARAM_NUM, frameNum,
                                             candidateNum, rc.models, probTh, desc);
        std::string out = testing::internal::GetCapturedStdout();
        if (out.find("Arena is full") != std::string::npos) ++withFull;
        if (desc && frameNum > 60) ++withDesc;

        expectSameAsReference(fast, count, ref, refCount, label);
        ASSERT_EQ(fast.selectFinalCandidate(count, rc.net, rc.dict), ref.select(refCount, refNet, rc.dict)) << label;
    }
    EXPECT_GT(withFull, 10);  // the trials do reach the arena's end
    EXPECT_GT(withDesc, 10);
}

TEST(viterbiSearch, aSecondSearchWithTheSameObjectStartsAfresh) {
    std::mt19937 rng(7);
    randomNetCase first = randomNet(rng, 80), second = randomNet(rng, 50);
    const int32_t candidateNum = std::max(first.firstFrameNum, second.firstFrameNum) + 5;
    const int32_t modelNum = std::max(first.models.modelNum, second.models.modelNum);
    viterbiClass reused(5 * candidateNum, modelNum);
    reused.m_compactMinSize = 4;
    reused.searchNet(first.net, first.dict, first.frames.data(), MODEL_PARAM_NUM, 80, candidateNum, first.models,
                     20.0f, 0);
    int32_t count = reused.searchNet(second.net, second.dict, second.frames.data(), MODEL_PARAM_NUM, 50,
                                     candidateNum, second.models, 20.0f, 0);
    refDecoder ref(5 * candidateNum);
    netClass refNet = second.net;
    int32_t refCount = ref.search(refNet, second.dict, second.frames.data(), MODEL_PARAM_NUM, 50, candidateNum,
                                  second.models, 20.0f, 0);
    expectSameAsReference(reused, count, ref, refCount, "second search");
}

TEST(viterbiSearch, recordsHoldTheScoreAfterTheStepThatLeavesTheUnit) {
    chainCase c;
    c.net.nodes[3].penalty = -2.0f;
    std::vector<float> frames = framesOf({0.0f, 2.0f, 2.0f});
    viterbiClass v(50, 2);
    int32_t count = v.searchNet(c.net, c.dict, frames.data(), MODEL_PARAM_NUM, 3, 10, c.models, 1000.0f, 0);
    ASSERT_EQ(count, 10);

    const hmmModel& m0 = c.models.models[0];
    const hmmModel& m1 = c.models.models[1];
    // Node 2 over frame 0, node 3 over frames 1 and 2.
    const float enter3 = stateProb(c.models, 0, 0, 0.0f) + (m0.transP[1][2] + stateProb(c.models, 1, 0, 2.0f) + -2.0f);
    const float final = enter3 + (m1.transP[1][1] + stateProb(c.models, 1, 0, 2.0f));
    int32_t found = -1;
    for (int32_t p = 0; p < count; ++p)
        if (v.candidateAt(p).nodeIdx == 3 && v.historyOf(p).sylEndFrame.front() == 0) found = p;
    ASSERT_GE(found, 0);
    const searchCandidate& best = v.candidateAt(found);
    EXPECT_EQ(best.logLike, final);
    candidateHistory h = v.historyOf(found);
    EXPECT_EQ(h.sylWordIdx, (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(h.sylNodeIdx, (std::vector<int32_t>{2, 3}));
    EXPECT_EQ(h.sylEndFrame, (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(h.sylLogLike, (std::vector<float>{enter3, final}));
    EXPECT_EQ(h.phoneIdxInSyl, (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(h.phoneEndFrame, (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(h.phoneLogLike, (std::vector<float>{enter3, final}));
    // Node 3 leads to the end node: complete, last phone; its one state is 0, not 2.
    EXPECT_EQ(v.selectFinalCandidate(count, c.net, c.dict), 0);
}

TEST(viterbiSearch, phonesOfAPronunciationFollowEachOtherWithTheirOwnRecords) {
    // One unit of three phones (1, 2 and 1 emitting states), frames fitting each in turn.
    netClass net = fixtureNet({-1, -1, 0}, {{0, 2}, {2, 1}});
    std::vector<pronEntry> dict = fixturePronDict({{0, 1, 0}});
    macroClass models = fixtureModels({0.0f, 3.0f}, {3, 4});
    std::vector<float> frames = framesOf({0, 3, 3, 0, 0});
    viterbiClass v(100, 2);
    int32_t count = v.searchNet(net, dict, frames.data(), MODEL_PARAM_NUM, 5, 20, models, 1000.0f, 0);
    int32_t pos = v.selectFinalCandidate(count, net, dict);
    ASSERT_GE(pos, 0);
    const searchCandidate& c = v.candidateAt(pos);
    EXPECT_EQ(c.phoneIdx, 2);
    candidateHistory h = v.historyOf(pos);
    EXPECT_EQ(h.phoneIdxInSyl, (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(h.phoneEndFrame, (std::vector<int32_t>{0, 2, 4}));
    EXPECT_EQ(h.sylEndFrame, (std::vector<int32_t>{4}));
    EXPECT_EQ(c.phoneNum, 3);
    EXPECT_EQ(c.sylNum, 1);
}

TEST(viterbiSearch, aWordStartNodeGivesOneFirstFrameCandidateInThatNode) {
    netClass net = fixtureNet({1, -1, 0}, {{0, 2}, {2, 1}});
    std::vector<pronEntry> dict = fixturePronDict({{0}, {1}});
    macroClass models = fixtureModels({0.0f, 2.0f}, {3, 3});
    std::vector<float> frames = framesOf({1.0f});
    viterbiClass v(20, 2);
    EXPECT_EQ(v.initCandidates(net, dict, frames.data(), MODEL_PARAM_NUM, 4, models), 1);
    EXPECT_EQ(v.candidateAt(0).nodeIdx, 0);
    EXPECT_EQ(v.candidateAt(0).logLike, stateProb(models, 1, 0, 1.0f));
    EXPECT_EQ(v.candidateAt(1).logLike, LOG_ZERO_SCORE);
}

TEST(viterbiSearch, aOneFrameUtteranceFinishesTheFirstFrameCandidates) {
    netClass net = fixtureNet({-1, -1, 0, 1}, {{0, 2}, {0, 3}, {2, 1}, {3, 1}});
    std::vector<pronEntry> dict = fixturePronDict({{0}, {1, 0}});
    macroClass models = fixtureModels({0.0f, 2.0f}, {3, 5});
    std::vector<float> frames = framesOf({0.5f});
    viterbiClass v(20, 2);
    ASSERT_EQ(v.searchNet(net, dict, frames.data(), MODEL_PARAM_NUM, 1, 3, models, 10.0f, 0), 3);
    for (int32_t p = 0; p < 2; ++p) {
        const searchCandidate& c = v.candidateAt(p);
        EXPECT_EQ(c.nodeIdx, 2 + p);
        candidateHistory h = v.historyOf(p);
        EXPECT_EQ(h.sylNodeIdx, (std::vector<int32_t>{2 + p}));
        EXPECT_EQ(h.sylWordIdx, (std::vector<int32_t>{p}));
        EXPECT_EQ(h.sylEndFrame, (std::vector<int32_t>{0}));
        EXPECT_EQ(h.sylLogLike, (std::vector<float>{c.logLike}));
        EXPECT_EQ(h.phoneIdxInSyl, (std::vector<int32_t>{0}));
        EXPECT_EQ(h.phoneEndFrame, (std::vector<int32_t>{0}));
    }
    // Node 2 (one phone, state 0) is complete and in its last phone; node 3 is not in its last phone.
    EXPECT_EQ(v.selectFinalCandidate(3, net, dict), 0);
}

TEST(viterbiSearch, aLastStateWithoutSuccessorsOnlyLoops) {
    // Word start node 0 of one one-state phone; its only successor is the null end.
    netClass net = fixtureNet({0, -1}, {{0, 1}});
    std::vector<pronEntry> dict = fixturePronDict({{0}});
    macroClass models = fixtureModels({1.0f}, {3});
    std::vector<float> frames = framesOf({1, 1, 1, 1, 1});
    viterbiClass v(20, 1);
    ASSERT_EQ(v.searchNet(net, dict, frames.data(), MODEL_PARAM_NUM, 5, 3, models, 1000.0f, 0), 3);
    const float b = stateProb(models, 0, 0, 1.0f);
    float expected = b;
    for (int i = 1; i < 5; ++i) expected += models.models[0].transP[1][1] + b;
    EXPECT_EQ(v.candidateAt(0).logLike, expected);
    EXPECT_EQ(v.candidateAt(1).logLike, LOG_ZERO_SCORE);
    EXPECT_EQ(v.candidateAt(2).logLike, LOG_ZERO_SCORE);
    EXPECT_EQ(v.historyOf(0).phoneEndFrame, (std::vector<int32_t>{4}));
}

TEST(viterbiSearch, enteringAWordEndNodeKillsTheCopy) {
    // Start null 0 -> word 2 -> word end node 1.
    netClass net = fixtureNet({-1, 1, 0}, {{0, 2}, {2, 1}});
    std::vector<pronEntry> dict = fixturePronDict({{0}, {0}});
    macroClass models = fixtureModels({0.0f}, {3});
    std::vector<float> frames = framesOf({0, 0, 0});
    viterbiClass v(20, 1);
    int32_t count = v.searchNet(net, dict, frames.data(), MODEL_PARAM_NUM, 3, 4, models, 1000.0f, 0);
    for (int32_t p = 0; p < count; ++p) {
        const searchCandidate& c = v.candidateAt(p);
        if (c.nodeIdx == 1) {
            EXPECT_EQ(c.logLike, LOG_ZERO_SCORE);
            EXPECT_EQ(c.sylNum, 1);  // the node record of node 2, but no final record in the end node
        }
    }
    // Node 2's first successor is the end node, so its candidate is complete.
    EXPECT_EQ(v.selectFinalCandidate(count, net, dict), 0);
    EXPECT_EQ(v.candidateAt(0).nodeIdx, 2);
}

TEST(viterbiSearch, theArenaFillingUpStopsTheCandidateLoop) {
    // Start null -> A (2) and E (3); A -> B, C, D; all one-state phones.
    netClass net = fixtureNet({-1, -1, 0, 1, 0, 0, 0},
                              {{0, 2}, {0, 3}, {2, 4}, {2, 5}, {2, 6}, {3, 1}, {4, 1}, {5, 1}, {6, 1}});
    std::vector<pronEntry> dict = fixturePronDict({{0}, {1}});
    macroClass models = fixtureModels({0.0f, 3.0f}, {3, 3});
    std::vector<float> frames = framesOf({0, 0});
    viterbiClass v(4, 2);
    ASSERT_EQ(v.initCandidates(net, dict, frames.data(), MODEL_PARAM_NUM, 2, models), 2);
    const float eBefore = v.candidateAt(1).logLike;
    testing::internal::CaptureStdout();
    int32_t used = v.advanceCandidates(net, dict, frames.data(), MODEL_PARAM_NUM, 1, 2, 2, models);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(used, 4);
    EXPECT_EQ(out,
              "Warning: Arena is full! frameId=1/2, candidateId=0/2, branchId=1/3, lastPos (4) > m_arenaLen-1 (3)!\n");
    EXPECT_EQ(v.candidateAt(2).nodeIdx, 4);
    EXPECT_EQ(v.candidateAt(3).nodeIdx, 5);
    EXPECT_EQ(v.candidateAt(1).logLike, eBefore);  // E was not advanced

    // A state step that takes the last position gives the short warning.
    netClass chain = fixtureNet({-1, -1, 0}, {{0, 2}, {2, 1}});
    macroClass threeStates = fixtureModels({0.0f}, {5});
    std::vector<pronEntry> one = fixturePronDict({{0}});
    viterbiClass w(2, 1);
    w.initCandidates(chain, one, frames.data(), MODEL_PARAM_NUM, 1, threeStates);
    testing::internal::CaptureStdout();
    EXPECT_EQ(w.advanceCandidates(chain, one, frames.data(), MODEL_PARAM_NUM, 1, 2, 1, threeStates), 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Warning: Arena is full! frameId=1, candidateId=0, lastPos (2) > m_arenaLen-1 (1)!\n");
}

TEST(viterbiSearch, anArenaWithoutFreePositionsSpawnsNothing) {
    chainCase c;
    std::vector<float> frames = framesOf({0, 0, 2, 2});
    viterbiClass v(2, 2);
    testing::internal::CaptureStdout();
    int32_t count = v.searchNet(c.net, c.dict, frames.data(), MODEL_PARAM_NUM, 4, 2, c.models, 1000.0f, 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(count, 2);
    EXPECT_NE(out.find("lastPos (2) > m_arenaLen-1 (1)"), std::string::npos);
    EXPECT_EQ(v.candidateAt(0).nodeIdx, 2);  // never left its first node
}

TEST(viterbiSearch, recombinationKeepsTheBetterAndOnTiesTheLowerPosition) {
    chainCase c;
    viterbiClass v(6, 2);
    auto place = [&](int32_t pos, int32_t node, int32_t phone, int32_t state, float score) {
        searchCandidate& r = v.m_arena[static_cast<size_t>(v.m_candidate[static_cast<size_t>(pos)])];
        r = searchCandidate();
        r.nodeIdx = node;
        r.phoneIdx = phone;
        r.stateIdx = state;
        r.logLike = score;
    };
    place(0, 2, 0, 1, -5.0f);
    place(1, 2, 0, 1, -5.0f);  // tie with position 0: dies
    place(2, 3, 0, 0, -9.0f);
    place(3, 3, 0, 0, -4.0f);  // better than position 2: survives
    place(4, 2, 0, 2, -7.0f);  // another state of node 2: untouched
    v.recombineCandidates(c.net, 5);
    EXPECT_EQ(v.candidateAt(0).logLike, -5.0f);
    EXPECT_EQ(v.candidateAt(1).logLike, LOG_ZERO_SCORE);
    EXPECT_EQ(v.candidateAt(2).logLike, LOG_ZERO_SCORE);
    EXPECT_EQ(v.candidateAt(3).logLike, -4.0f);
    EXPECT_EQ(v.candidateAt(4).logLike, -7.0f);

    place(5, 2, 50, 0, -1.0f);
    EXPECT_EQ(withoutLine(errorOf([&] { v.recombineCandidates(c.net, 6); })),
              "MAX_STATE_NUM_IN_SYL exceeded: index=150, MAX_STATE_NUM_IN_SYL=150 (line N of file viterbi)");
}

TEST(viterbiSearch, sortingIsByScoreAndKeepsTheOrderOfEqualScores) {
    viterbiClass v(5, 1);
    const float scores[] = {1.0f, 3.0f, 1.0f, 3.0f, LOG_ZERO_SCORE};
    for (int32_t p = 0; p < 5; ++p) v.m_arena[static_cast<size_t>(p)].logLike = scores[p];
    v.sortCandidates(5);
    EXPECT_EQ(v.m_candidate, (std::vector<int32_t>{1, 3, 0, 2, 4}));
}

TEST(viterbiSearch, pruningAppliesTheBeamAndTheDescendingCounts) {
    viterbiClass v(200, 1);
    const float scores[] = {-1.0f, -3.0f, -3.5f, -2.0f};  // position 3 lies after the first one beyond the beam
    for (int32_t p = 0; p < 4; ++p) v.m_arena[static_cast<size_t>(p)].logLike = scores[p];
    EXPECT_EQ(v.pruneCandidates(10, 4, 2.0f, 1), 4);
    EXPECT_EQ(v.candidateAt(1).logLike, -3.0f);  // exactly probTh below the best survives
    EXPECT_EQ(v.candidateAt(2).logLike, LOG_ZERO_SCORE);
    EXPECT_EQ(v.candidateAt(3).logLike, LOG_ZERO_SCORE);

    // probTh 0 keeps only the candidates equal to the best.
    const float tied[] = {-1.0f, -1.0f, -1.0001f};
    for (int32_t p = 0; p < 3; ++p) v.m_arena[static_cast<size_t>(p)].logLike = tied[p];
    v.pruneCandidates(10, 3, 0.0f, 0);
    EXPECT_EQ(v.candidateAt(1).logLike, -1.0f);
    EXPECT_EQ(v.candidateAt(2).logLike, LOG_ZERO_SCORE);

    int32_t count = 100;
    std::vector<int32_t> counts;
    for (int32_t frame = 1; frame < 130; ++frame) {
        int32_t before = count;
        count = v.pruneCandidates(frame, count, 1000.0f, 1);
        if (count != before) counts.push_back(count);
    }
    EXPECT_EQ(counts, (std::vector<int32_t>{80, 64, 44, 26}));
    EXPECT_EQ(v.pruneCandidates(60, 100, 1000.0f, 0), 100);
}

TEST(viterbiSearch, theDescendingCountsShrinkAWholeSearch) {
    std::mt19937 rng(3);
    randomNetCase rc = randomNet(rng, 130);
    viterbiClass v(500, rc.models.modelNum);
    testing::internal::CaptureStdout();
    EXPECT_EQ(v.searchNet(rc.net, rc.dict, rc.frames.data(), MODEL_PARAM_NUM, 130, 100, rc.models, 1000.0f, 1), 26);
    testing::internal::GetCapturedStdout();
}

TEST(viterbiSearch, aZeroBeamLeavesOnlyTheBestScore) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 20; ++trial) {
        randomNetCase rc = randomNet(rng, 40);
        viterbiClass v(400, rc.models.modelNum);
        int32_t count = v.searchNet(rc.net, rc.dict, rc.frames.data(), MODEL_PARAM_NUM, 40, rc.firstFrameNum + 30,
                                    rc.models, 0.0f, 0);
        const float best = v.candidateAt(0).logLike;
        EXPECT_GT(best, LOG_ZERO_SCORE);
        for (int32_t p = 0; p < count; ++p) {
            float s = v.candidateAt(p).logLike;
            EXPECT_TRUE(s == best || s == LOG_ZERO_SCORE) << "trial " << trial << " position " << p;
        }
    }
}

TEST(viterbiSearch, sizeChecksOfTheFirstFrame) {
    chainCase c;
    std::vector<float> frames = framesOf({0, 0});
    viterbiClass v(10, 2);
    EXPECT_EQ(withoutLine(errorOf([&] {
                  v.searchNet(c.net, c.dict, frames.data(), MODEL_PARAM_NUM, 2, 0, c.models, 10.0f, 0);
              })),
              "Error: nodeNumForFirstFrame=1, candidateNum=0 (line N of file viterbi)");
    EXPECT_EQ(withoutLine(errorOf([&] {
                  v.searchNet(c.net, c.dict, frames.data(), MODEL_PARAM_NUM, 2, 11, c.models, 10.0f, 0);
              })),
              "Error: m_arenaLen=10, candidateNum=11 (line N of file viterbi)");
    // A null start with more word successors than candidates.
    netClass fan = fixtureNet({-1, -1, 0, 1, 0}, {{0, 2}, {0, 3}, {0, 4}, {2, 1}, {3, 1}, {4, 1}});
    EXPECT_EQ(withoutLine(errorOf([&] {
                  v.searchNet(fan, c.dict, frames.data(), MODEL_PARAM_NUM, 2, 2, c.models, 10.0f, 0);
              })),
              "Error: nodeNumForFirstFrame=3, candidateNum=2 (line N of file viterbi)");
    EXPECT_EQ(errorOf([&] { v.searchNet(fan, c.dict, frames.data(), MODEL_PARAM_NUM, 2, 3, c.models, 10.0f, 0); }),
              "");
}

TEST(viterbiSearch, startAndEndNodesMustBeUnique) {
    chainCase c;
    std::vector<float> frames = framesOf({0, 0});
    viterbiClass v(10, 2);
    netClass twoStarts = fixtureNet({-1, -1, 0, 1}, {{0, 2}, {3, 1}, {2, 1}});
    EXPECT_EQ(withoutLine(errorOf([&] {
                  v.searchNet(twoStarts, c.dict, frames.data(), MODEL_PARAM_NUM, 2, 5, c.models, 10.0f, 0);
              })),
              "Error: more than one starting nodes! (line N of file viterbi)");
    netClass twoEnds = fixtureNet({-1, -1, 0, 1}, {{0, 2}, {0, 3}, {2, 1}});
    EXPECT_EQ(withoutLine(errorOf([&] {
                  v.searchNet(twoEnds, c.dict, frames.data(), MODEL_PARAM_NUM, 2, 5, c.models, 10.0f, 0);
              })),
              "Error: more than one ending nodes! (line N of file viterbi)");
    EXPECT_EQ(withoutLine(errorOf([&] { v.selectFinalCandidate(5, twoEnds, c.dict); })),
              "Error: more than one ending nodes! (line N of file viterbi)");
    netClass cycle = fixtureNet({0, 1}, {{0, 1}, {1, 0}});  // every node has a predecessor
    EXPECT_EQ(withoutLine(errorOf([&] {
                  v.searchNet(cycle, c.dict, frames.data(), MODEL_PARAM_NUM, 2, 5, c.models, 10.0f, 0);
              })),
              "Error: more than one starting nodes! (line N of file viterbi)");
}

TEST(viterbiSearch, inputsTheSearchCannotReadAreRefused) {
    chainCase c;
    std::vector<float> frames = framesOf({0, 0});
    viterbiClass v(10, 2);
    auto search = [&](netClass& net, const std::vector<pronEntry>& dict, int32_t frameNum, int32_t dim) {
        return errorOf([&] { v.searchNet(net, dict, frames.data(), dim, frameNum, 5, c.models, 10.0f, 0); });
    };
    EXPECT_NE(search(c.net, c.dict, 0, MODEL_PARAM_NUM).find("no frames"), std::string::npos);
    EXPECT_NE(search(c.net, c.dict, 2, 5).find("dimension 5"), std::string::npos);
    netClass outside = c.net;
    outside.nodes[3].sylIndex = 7;
    EXPECT_NE(search(outside, c.dict, 2, MODEL_PARAM_NUM).find("unit 7"), std::string::npos);
    std::vector<pronEntry> badModel = fixturePronDict({{0}, {2}});
    EXPECT_NE(search(c.net, badModel, 2, MODEL_PARAM_NUM).find("uses model 2"), std::string::npos);
    std::vector<pronEntry> noModel = fixturePronDict({{0}, {}});
    EXPECT_NE(search(c.net, noModel, 2, MODEL_PARAM_NUM).find("has no models"), std::string::npos);
    netClass badLink = c.net;
    badLink.nodes[2].nextNodes.push_back(9);
    EXPECT_NE(search(badLink, c.dict, 2, MODEL_PARAM_NUM).find("links to node 9"), std::string::npos);
    // A decoder sized for fewer models than the set holds.
    viterbiClass small(10, 1);
    EXPECT_NE(errorOf([&] {
                  small.searchNet(c.net, c.dict, frames.data(), MODEL_PARAM_NUM, 2, 5, c.models, 10.0f, 0);
              }).find("decoder sized for 1"),
              std::string::npos);
}

TEST(viterbiSearch, recordLimitsAreFatal) {
    macroClass models = fixtureModels({0.0f}, {3}, 0.4f);  // moving on beats staying
    netClass loop = fixtureNet({-1, -1, 0}, {{0, 2}, {2, 2}, {2, 1}});
    std::vector<float> frames = framesOf(std::vector<float>(3002, 0.0f));
    viterbiClass v(20, 1);

    std::vector<pronEntry> onePhone = fixturePronDict({{0}});
    EXPECT_EQ(withoutLine(errorOf([&] {
                  v.searchNet(loop, onePhone, frames.data(), MODEL_PARAM_NUM, 1001, 4, models, 1e6f, 0);
              })),
              "MAX_SYL_NUM exceeded! (line N of file viterbi)");  // the final record is the 1001st
    EXPECT_EQ(errorOf([&] { v.searchNet(loop, onePhone, frames.data(), MODEL_PARAM_NUM, 1000, 4, models, 1e6f, 0); }),
              "");
    EXPECT_EQ(v.candidateAt(0).sylNum, 1000);

    std::vector<pronEntry> fourPhones = fixturePronDict({{0, 0, 0, 0}});
    EXPECT_EQ(withoutLine(errorOf([&] {
                  v.searchNet(loop, fourPhones, frames.data(), MODEL_PARAM_NUM, 3002, 4, models, 1e6f, 0);
              })),
              "MAX_PHONE_NUM (3000) exceeded! (line N of file viterbi)");

    // 50 one-state phones fit the recombination table; the 51st does not.
    netClass chain = fixtureNet({-1, -1, 0}, {{0, 2}, {2, 1}});
    std::vector<pronEntry> fifty = fixturePronDict({std::vector<int32_t>(50, 0)});
    std::vector<pronEntry> fiftyOne = fixturePronDict({std::vector<int32_t>(51, 0)});
    EXPECT_EQ(errorOf([&] { v.searchNet(chain, fifty, frames.data(), MODEL_PARAM_NUM, 60, 4, models, 1e6f, 0); }), "");
    EXPECT_EQ(withoutLine(errorOf([&] {
                  v.searchNet(chain, fiftyOne, frames.data(), MODEL_PARAM_NUM, 60, 4, models, 1e6f, 0);
              })),
              "MAX_STATE_NUM_IN_SYL exceeded: index=150, MAX_STATE_NUM_IN_SYL=150 (line N of file viterbi)");
}

TEST(viterbiSearch, finalCandidateTakesThreePasses) {
    // Node 2 (two phones) leads to the end; node 3 does not (its first successor is node 2).
    netClass net = fixtureNet({-1, -1, 0, 1}, {{0, 2}, {0, 3}, {2, 1}, {3, 2}, {3, 1}});
    std::vector<pronEntry> dict = fixturePronDict({{0, 0}, {0}});
    viterbiClass v(6, 1);
    auto place = [&](int32_t pos, int32_t node, int32_t phone, int32_t state, float score) {
        searchCandidate& r = v.m_arena[static_cast<size_t>(v.m_candidate[static_cast<size_t>(pos)])];
        r.nodeIdx = node;
        r.phoneIdx = phone;
        r.stateIdx = state;
        r.logLike = score;
    };
    place(0, 3, 0, 2, -1.0f);  // not complete
    place(1, 2, 0, 2, -2.0f);  // complete, not in the last phone
    place(2, 2, 1, 1, -3.0f);  // complete, last phone
    place(3, 2, 1, 2, -4.0f);  // complete, last phone, state 2
    place(4, 2, 1, 2, LOG_ZERO_SCORE);  // dead: never chosen
    EXPECT_EQ(v.selectFinalCandidate(5, net, dict), 3);
    EXPECT_EQ(v.selectFinalCandidate(3, net, dict), 2);
    EXPECT_EQ(v.selectFinalCandidate(2, net, dict), 1);
    EXPECT_EQ(v.selectFinalCandidate(1, net, dict), -1);
    place(0, 2, 1, 2, LOG_ZERO_SCORE);
    place(1, 2, 1, 1, LOG_ZERO_SCORE);
    EXPECT_EQ(v.selectFinalCandidate(2, net, dict), -1);
}

TEST(viterbiSearch, modelProbDoesNotServeValuesOfOtherFeatures) {
    chainCase c;
    c.models = fixtureModels({0.0f, 2.0f}, {5, 5});
    std::vector<float> searched = framesOf({0, 0, 0, 0});
    std::vector<float> other = framesOf({2, 2, 2, 2, 2, 2});
    viterbiClass v(20, 2);
    v.searchNet(c.net, c.dict, searched.data(), MODEL_PARAM_NUM, 4, 4, c.models, 1000.0f, 0);
    probCacheClass fresh;
    fresh.resize(2);
    for (int32_t m = 0; m < 2; ++m) {
        // Spans whose first frames the search has just evaluated (frame 3).
        for (int32_t first = 2; first <= 3; ++first) {
            fresh.reset();
            const float expected = fresh.modelProb(other.data(), MODEL_PARAM_NUM, first, first + 2, c.models, m);
            EXPECT_GT(expected, LOG_ZERO_SCORE);
            EXPECT_EQ(v.modelProb(other.data(), MODEL_PARAM_NUM, first, first + 2, c.models, m), expected);
            v.searchNet(c.net, c.dict, searched.data(), MODEL_PARAM_NUM, 4, 4, c.models, 1000.0f, 0);
        }
        fresh.reset();
        EXPECT_EQ(v.modelProb(searched.data(), MODEL_PARAM_NUM, 1, 3, c.models, m),
                  fresh.modelProb(searched.data(), MODEL_PARAM_NUM, 1, 3, c.models, m));
    }
}

TEST(viterbiSearch, historiesStaySmallWhenCompacted) {
    // A long search of a looping net: the pool holds what the kept candidates
    // reach, not every record ever made.
    macroClass models = fixtureModels({0.0f, 1.0f}, {3, 4}, 0.5f);
    netClass loop = fixtureNet({-1, -1, 0, 1}, {{0, 2}, {2, 3}, {3, 2}, {3, 1}});
    std::vector<pronEntry> dict = fixturePronDict({{0, 1}, {1, 0}});
    std::vector<float> values;
    for (int t = 0; t < 2900; ++t) values.push_back(static_cast<float>((t / 3) % 2));
    std::vector<float> frames = framesOf(values);
    viterbiClass v(100, 2);
    v.m_compactMinSize = 256;
    int32_t count = v.searchNet(loop, dict, frames.data(), MODEL_PARAM_NUM, 2900, 20, models, 50.0f, 0);
    int64_t records = 0;
    for (int32_t p = 0; p < count; ++p) records += v.candidateAt(p).phoneNum;
    EXPECT_GT(v.candidateAt(0).phoneNum, 1000);
    EXPECT_LT(static_cast<int64_t>(v.m_history.size()), records / 4);
    refDecoder ref(100);
    int32_t refCount = ref.search(loop, dict, frames.data(), MODEL_PARAM_NUM, 2900, 20, models, 50.0f, 0);
    expectSameAsReference(v, count, ref, refCount, "long search");
}
