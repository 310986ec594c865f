// Assessment scoring benchmark: phone ranking (one modelProb per competitor
// and phone), timber scores and the XML document of an utterance of
// phoneNum phones of 20 frames each, against modelNum models of 8 mixtures
// whose names share one of 10 right contexts.
//   bench_scoringBench [modelNum] [phoneNum]
#include "decoder/macro.h"
#include "decoder/mlf.h"
#include "decoder/scoring.h"
#include "decoder/viterbi.h"
#include "decoder/xmlWriter.h"
#include "run/recogParam.h"
#include "run/utility.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

uint32_t g_seed = 4321;
float randomValue() {
    g_seed = g_seed * 1664525u + 1013904223u;
    return static_cast<float>(g_seed >> 8) / 16777216.0f * 2.0f - 1.0f;
}

constexpr int32_t CONTEXT_NUM = 10;
constexpr int32_t MIXTURE_NUM = 8;
constexpr int32_t PHONE_FRAMES = 20;

macroClass randomModels(int32_t modelNum) {
    macroClass set;
    set.streamNum = 3;
    for (int32_t k = 0; k < 3; ++k) set.streamWidth[k] = MODEL_PARAM_NUM;
    set.models.resize(static_cast<size_t>(modelNum));
    set.modelNum = modelNum;
    for (int32_t m = 0; m < modelNum; ++m) {
        hmmModel& model = set.models[static_cast<size_t>(m)];
        model.name = formatString("p%d+c%d", m, m % CONTEXT_NUM);
        model.stateNum = 5;
        for (int32_t s = 0; s < 3; ++s)
            for (int32_t k = 0; k < 3; ++k) {
                model.state[s].streamWeight[k] = 1;
                hmmStream& stream = model.state[s].stream[k];
                stream.mixture.resize(MIXTURE_NUM);
                for (gaussMixture& mix : stream.mixture) {
                    mix.weight = 1.0f / MIXTURE_NUM;
                    double gconst = MODEL_PARAM_NUM * std::log(2 * M_PI);
                    for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) {
                        mix.mean[d] = randomValue();
                        mix.variance[d] = 0.5f + 0.4f * randomValue();
                        gconst += std::log(mix.variance[d]);
                    }
                    mix.gconst = static_cast<float>(gconst);
                }
            }
        model.transP[0][1] = 1;
        for (int32_t i = 1; i < 4; ++i) {
            model.transP[i][i] = 0.6f;
            model.transP[i][i + 1] = 0.4f;
        }
    }
    set.sortModels();
    set.convertModels();
    return set;
}

}  // namespace

int main(int argc, char** argv) {
    const int32_t modelNum = argc > 1 ? std::atoi(argv[1]) : 400;
    const int32_t phoneNum = argc > 2 ? std::atoi(argv[2]) : 200;
    macroClass models = randomModels(modelNum);
    const int32_t dim = 3 * MODEL_PARAM_NUM;
    const int32_t frameNum = phoneNum * PHONE_FRAMES;
    std::vector<float> features(static_cast<size_t>(frameNum) * dim);
    for (float& v : features) v = randomValue();

    cmResult result;
    for (int32_t p = 0; p < phoneNum; p += 2) {
        cmNode node;
        node.name = formatString("w%d", p);
        for (int32_t j = p; j < p + 2 && j < phoneNum; ++j) {
            cmPhone phone;
            phone.name = models.models[static_cast<size_t>(j % modelNum)].name;
            phone.startFrame = j * PHONE_FRAMES;
            phone.endFrame = phone.startFrame + PHONE_FRAMES - 1;
            node.phones.push_back(phone);
        }
        node.startFrame = node.phones.front().startFrame;
        node.endFrame = node.phones.back().endFrame;
        result.nodes.push_back(node);
    }
    result.rankScoreParams = {0.05f, 0.5f, 0.0f};
    result.discountRatio.assign(DISCOUNT_TYPE_NUM, 0.9f);
    result.textSylNum = static_cast<int32_t>(result.nodes.size());
    result.recogSylNum = result.textSylNum;

    recogParam param;
    std::printf("%d models (%d per right context), %d phones of %d frames\n", modelNum, modelNum / CONTEXT_NUM,
                phoneNum, PHONE_FRAMES);
    for (int32_t all = 0; all <= 1; ++all) {
        param.useAllModelAsCompetingModel = all;
        viterbiClass decoder(0, models.modelNum);
        int64_t start = clockMs();
        rankPhones(result, features.data(), dim, frameNum, models, decoder, param);
        double seconds = elapsedSeconds(start);
        size_t competitors = 0;
        for (const cmNode& node : result.nodes)
            for (const cmPhone& phone : node.phones) competitors += phone.competingModelIdx.size();
        std::printf("rankPhones (%s): %.3f sec, %zu modelProb calls, %.1f us per call\n",
                    all ? "all models" : "right context", seconds, competitors, seconds * 1e6 / competitors);
    }

    const int32_t last = static_cast<int32_t>(result.nodes.size()) - 1;
    int64_t start = clockMs();
    countDiscounts(result, 0, last, true);
    computeTimberScores(result, 0, last, param, models);
    std::printf("countDiscounts + computeTimberScores: %.3f sec\n", elapsedSeconds(start));
    start = clockMs();
    std::string document = xmlDocument(result, models, "english");
    std::printf("xmlDocument: %.3f sec, %zu bytes\n", elapsedSeconds(start), document.size());
    return 0;
}
