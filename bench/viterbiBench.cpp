// Viterbi search benchmark: a tree net of 50 English-like texts of 8 words
// (3-phone right-context pronunciations over 40 phones, 3 emitting states,
// single Gaussians over 39 values), features of 1,000 frames drawn along one
// of the texts, decoder sizes as the pipeline sets them from the net's fan-out
// and maxCandidateNum, a beam wide enough that the candidate count prunes.
//   bench_viterbiBench [plain|keyword] [maxCandidateNum] [frameNum] [probTh] [candidateNum]
// A given candidateNum replaces the pipeline's sizing (arena 5x, keyword 100x).
// Prints the search time, real-time factor and the history pool size; measure
// peak memory with /usr/bin/time -v.
#include "decoder/macro.h"
#include "decoder/viterbi.h"
#include "lexicon/dict.h"
#include "lexicon/net.h"
#include "lexicon/text.h"
#include "run/recogParam.h"
#include "run/utility.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int32_t PHONE_NUM = 40;
constexpr int32_t VOCABULARY = 300;
constexpr int32_t TEXT_NUM = 50;
constexpr int32_t WORDS_PER_TEXT = 8;
constexpr int32_t DIM = 3 * MODEL_PARAM_NUM;

std::mt19937 g_rng(2024);

float uniformValue(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(g_rng); }
int32_t uniformInt(int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(g_rng); }

// A converted three-state single-Gaussian model with random means.
hmmModel randomModel(const std::string& name) {
    hmmModel model{};
    model.name = name;
    model.stateNum = 5;
    for (int32_t s = 0; s < 3; ++s)
        for (int32_t k = 0; k < 3; ++k) {
            model.state[s].streamWeight[k] = 1;
            gaussMixture mix{};
            mix.weight = 0.0f;  // log of 1
            double gconst = MODEL_PARAM_NUM * std::log(2 * M_PI);
            for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) {
                mix.mean[d] = uniformValue(-1.0f, 1.0f);
                float variance = uniformValue(0.4f, 0.9f);
                mix.variance[d] = 1.0f / variance;
                gconst += std::log(variance);
            }
            mix.gconst = static_cast<float>(gconst);
            model.state[s].stream[k].mixture = {mix};
        }
    for (auto& row : model.transP)
        for (float& v : row) v = -1e10f;
    model.transP[0][1] = 0.0f;
    for (int32_t i = 1; i < 4; ++i) {
        model.transP[i][i] = std::log(0.6f);
        model.transP[i][i + 1] = std::log(0.4f);
    }
    return model;
}

struct benchSetup {
    macroClass models;
    dictClass dict;
    textClass text;
    netClass net;
    std::vector<std::string> words;                   // vocabulary
    std::map<std::string, std::vector<std::string>> modelNames;  // word -> model names
};

void buildSetup(benchSetup& b, bool keywordMode) {
    // Vocabulary: 3 phones each, right-context models p+q (the last p+sil).
    std::map<std::string, int32_t> names;
    for (int32_t w = 0; w < VOCABULARY; ++w) {
        std::string word = formatString("w%03d", w);
        int32_t p[3] = {uniformInt(0, PHONE_NUM - 1), uniformInt(0, PHONE_NUM - 1), uniformInt(0, PHONE_NUM - 1)};
        std::vector<std::string> m = {formatString("p%02d+p%02d", p[0], p[1]), formatString("p%02d+p%02d", p[1], p[2]),
                                      formatString("p%02d+sil", p[2])};
        for (const std::string& n : m) names[n] = 0;
        b.words.push_back(word);
        b.modelNames[word] = m;
    }
    for (const char* unit : {"sil", "fillerC", "fillerV"}) {
        names[unit] = 0;
        b.modelNames[unit] = {unit};
    }
    b.models.streamNum = 3;
    for (int32_t k = 0; k < 3; ++k) b.models.streamWidth[k] = MODEL_PARAM_NUM;
    for (auto& entry : names) {
        entry.second = static_cast<int32_t>(b.models.models.size());
        b.models.models.push_back(randomModel(entry.first));
    }
    b.models.modelNum = static_cast<int32_t>(b.models.models.size());
    b.models.isConverted = true;

    for (const auto& entry : b.modelNames) {  // map order is byte order
        pronEntry pron{entry.first, {}};
        for (const std::string& n : entry.second) pron.modelIndices.push_back(names[n]);
        b.dict.m_pronDict.push_back(pron);
    }

    for (int32_t t = 0; t < TEXT_NUM; ++t) {
        std::vector<std::string> text;
        for (int32_t k = 0; k < WORDS_PER_TEXT; ++k) text.push_back(b.words[static_cast<size_t>(uniformInt(0, VOCABULARY - 1))]);
        b.text.m_sylVs.push_back(joinStrings(text, "-") + "\t" + std::to_string(t));
    }
    recogParam param;
    param.language = "english";
    buildTreeNet(b.text, param, keywordMode, false, true);
    b.net.netReadLines(b.text.netVs, b.dict);
    b.net.setNodePenalties(keywordMode ? -5.0f : 0.0f);
}

// Frames drawn along a text (sil, its words, sil): every emitting state
// holds for a share of the frames, each value its mean plus noise.
std::vector<float> framesAlong(const benchSetup& b, const std::string& sylEntry, int32_t frameNum) {
    std::vector<std::string> units = {"sil"};
    std::vector<std::string> words = splitString(sylEntry.substr(0, sylEntry.find('\t')), '-');
    units.insert(units.end(), words.begin(), words.end());
    units.push_back("sil");
    std::vector<std::pair<int32_t, int32_t>> states;  // (model, state)
    for (const std::string& u : units)
        for (int32_t m : b.dict.m_pronDict[static_cast<size_t>(b.dict.pronDictFind(u))].modelIndices)
            for (int32_t s = 0; s < 3; ++s) states.emplace_back(m, s);
    std::vector<float> frames;
    frames.reserve(static_cast<size_t>(frameNum) * DIM);
    for (int32_t t = 0; t < frameNum; ++t) {
        // Spread the states evenly over the frames, with some jitter.
        size_t k = std::min(states.size() - 1, static_cast<size_t>(t) * states.size() / static_cast<size_t>(frameNum));
        const hmmState& state = b.models.models[static_cast<size_t>(states[k].first)].state[states[k].second];
        for (int32_t stream = 0; stream < 3; ++stream)
            for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d)
                frames.push_back(state.stream[stream].mixture[0].mean[d] + uniformValue(-0.7f, 0.7f));
    }
    return frames;
}

}  // namespace

int main(int argc, char** argv) {
    const bool keywordMode = argc > 1 && std::string(argv[1]) == "keyword";
    const int32_t maxCandidateNum = argc > 2 ? std::atoi(argv[2]) : (keywordMode ? 500 : 1000);
    const int32_t frameNum = argc > 3 ? std::atoi(argv[3]) : 1000;
    const float probTh = argc > 4 ? static_cast<float>(std::atof(argv[4])) : 100000.0f;
    const int32_t givenCandidateNum = argc > 5 ? std::atoi(argv[5]) : 0;
    try {
        benchSetup b;
        buildSetup(b, keywordMode);
        std::vector<float> frames = framesAlong(b, b.text.m_sylVs[7], frameNum);

        // Decoder sizes as the pipeline sets them.
        const int32_t fanOut = b.net.maxFanOut();
        int32_t k = (keywordMode ? 20 : 4) * fanOut;
        if (k < 20) k = 100;
        int32_t candidateNum = std::min(k, maxCandidateNum);
        if (givenCandidateNum > 0) candidateNum = givenCandidateNum;
        const int32_t arenaLen = (keywordMode ? 100 : 5) * candidateNum;
        std::printf("%s net: %d nodes, %d models, fan-out %d; candidateNum %d, arena %d, %d frames, probTh %g\n",
                    keywordMode ? "keyword" : "tree", b.net.nodeNum, b.models.modelNum, fanOut, candidateNum, arenaLen,
                    frameNum, probTh);

        viterbiClass decoder(arenaLen, b.models.modelNum);
        for (int32_t run = 0; run < 3; ++run) {
            auto start = std::chrono::steady_clock::now();
            int32_t count = decoder.searchNet(b.net, b.dict.m_pronDict, frames.data(), DIM, frameNum, candidateNum,
                                              b.models, probTh, 0);
            double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            int32_t final = decoder.selectFinalCandidate(count, b.net, b.dict.m_pronDict);
            int32_t live = 0;
            for (int32_t p = 0; p < count; ++p) live += decoder.candidateAt(p).logLike > LOG_ZERO_SCORE;
            candidateHistory h = decoder.historyOf(std::max(final, 0));
            std::vector<std::string> path;
            for (int32_t w : h.sylWordIdx) path.push_back(b.dict.m_pronDict[static_cast<size_t>(w)].word);
            std::printf("run %d: search %.3f s, real-time factor %.4f; %d candidates (%d live), final %d, "
                        "history pool %zu entries (%.1f MB)\n",
                        run, seconds, seconds / (frameNum * 0.01), count, live, final, decoder.m_history.size(),
                        decoder.m_history.size() * sizeof(historyEntry) / 1e6);
            if (run == 0)
                std::printf("best path: %s\nspoken:    sil-%s-sil\n", joinStrings(path, "-").c_str(),
                            b.text.m_sylVs[7].substr(0, b.text.m_sylVs[7].find('\t')).c_str());
        }
    } catch (const recogError& e) {
        std::printf("%s\n", e.what());
        return 1;
    }
    return 0;
}
