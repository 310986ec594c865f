// The acceptable-substitute list (epsFile): "phone<TAB>substitute..." lines,
// read directly and through the ranking of a fixed result.
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
    static const macroClass models = fuzzFixtures::modelSet({"a+b", "c+b", "d+b", "sil", "sp"});
    static const std::vector<float> features = [] {
        std::vector<float> f;
        for (int t = 0; t < 30; ++t) f.insert(f.end(), MODEL_PARAM_NUM, static_cast<float>(t / 10));
        return f;
    }();
    std::string path = fuzzSupport::writeInput("eps.txt", data, size);
    try {
        cmResult direct;
        readEpsTable(direct, path);

        cmResult result;
        cmNode node;
        node.name = "acd";
        const char* names[3] = {"a+b", "c+b", "d+b"};
        for (int p = 0; p < 3; ++p) {
            cmPhone phone;
            phone.name = names[p];
            phone.startFrame = 10 * p;
            phone.endFrame = 10 * p + 9;
            node.phones.push_back(phone);
        }
        node.startFrame = 0;
        node.endFrame = 29;
        result.nodes = {node};
        recogParam param;
        param.epsFile = path;
        viterbiClass decoder(0, models.modelNum);
        rankPhones(result, features.data(), MODEL_PARAM_NUM, 30, models, decoder, scoringOptionsOf(param));
        for (const cmPhone& phone : result.nodes[0].phones)
            fuzzSupport::require(phone.phoneRank >= 0 && phone.rankRatio >= 0 && phone.rankRatio <= 1,
                                 "a rank among the competitors");
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    return 0;
}
