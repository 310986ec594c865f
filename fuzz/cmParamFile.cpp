// The confidence-measure parameter file (cmParamFile): one line of six
// tab-separated fields per model, the sixth "[w s m]", read by
// computeTimberScores for the phones of a fixed ranked result.
#include "decoder/macro.h"
#include "decoder/mlf.h"
#include "decoder/scoring.h"
#include "fuzzFixtures.h"
#include "fuzzSupport.h"
#include "run/recogParam.h"
#include "run/utility.h"

namespace {

cmPhone rankedPhone(const std::string& name, int32_t start, int32_t end, int32_t modelIdx, float rankRatio,
                    float timeRatio) {
    cmPhone phone;
    phone.name = name;
    phone.startFrame = start;
    phone.endFrame = end;
    phone.modelIdx = modelIdx;
    phone.rankRatio = rankRatio;
    phone.timeRatio = timeRatio;
    phone.logLike = -10;
    phone.competingModelIdx = {modelIdx, (modelIdx + 1) % 3};
    phone.competingLogLike = {-10, -12};
    return phone;
}

cmNode node(const std::string& name, std::vector<cmPhone> phones) {
    cmNode n;
    n.name = name;
    n.phones = std::move(phones);
    n.startFrame = n.phones.front().startFrame;
    n.endFrame = n.phones.back().endFrame;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    static const macroClass models = fuzzFixtures::modelSet({"a+b", "c+b", "d+b"});
    std::string path = fuzzSupport::writeInput("cm.txt", data, size);
    cmResult result;
    result.nodes = {node("ab", {rankedPhone("a+b", 0, 9, 0, 0.0f, 0.3f), rankedPhone("c+b", 10, 19, 1, 0.5f, 0.3f)}),
                    node("sil", {rankedPhone("sil+a", 20, 24, 2, 0.0f, 0.0f)}),
                    node("d", {rankedPhone("d+b", 25, 34, 2, 1.0f, 0.4f)})};
    result.rankScoreParams = {0.05f, 0.5f, 0.0f};
    result.discountRatio.assign(DISCOUNT_TYPE_NUM, 1.0f);
    result.discountOccurrence.assign(DISCOUNT_TYPE_NUM, 0);
    recogParam param;
    param.cmParamFile = path;
    try {
        computeTimberScores(result, 0, 2, scoringOptionsOf(param), models);
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    return 0;
}
