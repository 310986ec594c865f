// Label files ("start end phone score [word ...]" lines) replacing the
// alignment, followed by what a run does with it: ranking against a fixed
// model set over fixed features, node volumes, discounts and timber scores.
#include "decoder/macro.h"
#include "decoder/mlf.h"
#include "decoder/scoring.h"
#include "decoder/viterbi.h"
#include "fuzzFixtures.h"
#include "fuzzSupport.h"
#include "run/recogParam.h"
#include "run/utility.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    static const macroClass models = fuzzFixtures::modelSet({"a+b", "b+sil", "c+a", "sil", "sil+a", "sp"});
    // 60 frames of one stream; values rise so that the models fit different frames.
    static const std::vector<float> features = [] {
        std::vector<float> f;
        for (int t = 0; t < 60; ++t) f.insert(f.end(), MODEL_PARAM_NUM, static_cast<float>(t % 6));
        return f;
    }();
    static const std::vector<int32_t> volumes = [] {
        std::vector<int32_t> v;
        for (int t = 0; t < 60; ++t) v.push_back(t < 10 || t > 50 ? 100 : 5000 + 50 * t);
        return v;
    }();
    std::string path = fuzzSupport::writeInput("input.lab", data, size);
    cmResult result;
    try {
        readLabelFile(result, path);
        for (const cmNode& node : result.nodes) {
            fuzzSupport::require(!node.phones.empty(), "every node has a phone");
            fuzzSupport::require(node.startFrame == node.phones.front().startFrame &&
                                     node.endFrame == node.phones.back().endFrame,
                                 "a node spans its phones");
        }
        recogParam param;
        param.language = "english";
        shiftFrames(result, 2);
        setNodeVolumes(result, volumes);
        assignNodeTexts(result, "hello big world", param);
        markPitchedPhones(result, param);
        viterbiClass decoder(0, models.modelNum);
        rankPhones(result, features.data(), MODEL_PARAM_NUM, static_cast<int32_t>(features.size() / MODEL_PARAM_NUM),
                   models, decoder, scoringOptionsOf(param));
        const int32_t last = static_cast<int32_t>(result.nodes.size()) - 1;
        countDiscounts(result, 0, last, true);
        result.rankScoreParams = {0.05f, 0.5f, 0.0f};
        result.discountRatio.assign(DISCOUNT_TYPE_NUM, 0.9f);
        result.textSylNum = 3;
        computeTimberScores(result, 0, last, scoringOptionsOf(param), models);
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    return 0;
}
