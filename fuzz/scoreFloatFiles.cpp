// The float parameter files of scoring (phoneRank2scoreParamFile,
// scoreDiscountParamFile): white-space separated numbers, read directly and
// through the timber scores of a fixed ranked result.
#include "decoder/macro.h"
#include "decoder/mlf.h"
#include "decoder/scoring.h"
#include "fuzzFixtures.h"
#include "fuzzSupport.h"
#include "run/recogParam.h"
#include "run/utility.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    static const macroClass models = fuzzFixtures::modelSet({"a+b", "c+b"});
    std::string path = fuzzSupport::writeInput("params.txt", data, size);
    try {
        cmResult direct;
        readRankScoreParams(direct, path);
        fuzzSupport::require(direct.rankScoreParams.size() >= RANK_SCORE_PARAM_NUM, "three rank score parameters");
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    try {
        cmResult direct;
        readDiscountRatios(direct, path);
        fuzzSupport::require(direct.discountRatio.size() >= static_cast<size_t>(DISCOUNT_TYPE_NUM), "seven ratios");
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    try {
        cmResult result;
        cmNode node;
        node.name = "ac";
        for (int p = 0; p < 2; ++p) {
            cmPhone phone;
            phone.name = p == 0 ? "a+b" : "c+b";
            phone.modelIdx = p;
            phone.startFrame = 10 * p;
            phone.endFrame = 10 * p + 9;
            phone.rankRatio = 0.5f * p;
            phone.timeRatio = 0.5f;
            phone.competingModelIdx = {p, 1 - p};
            phone.competingLogLike = {-10, -11};
            node.phones.push_back(phone);
        }
        node.startFrame = 0;
        node.endFrame = 19;
        result.nodes = {node};
        result.discountOccurrence = {0, 1, 0, 2, 0, 1, 1};
        result.textSylNum = 2;
        result.recogSylNum = 2;
        recogParam param;
        param.phoneRank2scoreParamFile = path;
        param.scoreDiscountParamFile = path;
        computeTimberScores(result, 0, 0, scoringOptionsOf(param), models);
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    return 0;
}
