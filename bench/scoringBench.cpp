// Assessment scoring benchmark: phone ranking (one modelProb per competitor
// and phone), timber scores and the XML document of an utterance of
// phoneNum phones of 20 frames each, against modelNum models of 8 mixtures
// whose names share one of 10 right contexts.
//   bench_scoringBench [modelNum] [phoneNum]
#include "benchModels.h"
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

benchModels::randomSource g_random(4321);
float randomValue() { return g_random.next(); }

constexpr int32_t CONTEXT_NUM = 10;
constexpr int32_t MIXTURE_NUM = 8;
constexpr int32_t PHONE_FRAMES = 20;

macroClass randomModels(int32_t modelNum) {
    macroClass set = benchModels::randomModelSet(
        modelNum, MIXTURE_NUM, [](int32_t m) { return formatString("p%d+c%d", m, m % CONTEXT_NUM); }, g_random);
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
        rankPhones(result, features.data(), dim, frameNum, models, decoder, scoringOptionsOf(param));
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
    computeTimberScores(result, 0, last, scoringOptionsOf(param), models);
    std::printf("countDiscounts + computeTimberScores: %.3f sec\n", elapsedSeconds(start));
    start = clockMs();
    std::string document = xmlDocument(result, models, "english");
    std::printf("xmlDocument: %.3f sec, %zu bytes\n", elapsedSeconds(start), document.size());
    return 0;
}
