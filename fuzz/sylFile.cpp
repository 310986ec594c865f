// Syllable files: lines of syllables joined by "-" (optionally a tab and a
// text index), rewritten by the Japanese rules and built into tree nets that
// are read with a fixed dictionary, as a run with sylFile does.
#include "fuzzFixtures.h"
#include "fuzzSupport.h"
#include "lexicon/net.h"
#include "lexicon/text.h"
#include "run/recogParam.h"
#include "run/utility.h"

namespace {

void buildAndRead(textClass text, const recogParam& param, bool keywordMode, bool softSil, bool leadingTrailingSil) {
    try {
        buildTreeNet(text, param, keywordMode, softSil, leadingTrailingSil);
        dictClass dict = fuzzFixtures::netDictionary();
        netClass net;
        net.netReadLines(text.netVs, dict);
        fuzzSupport::require(net.nodeNum == static_cast<int32_t>(net.nodes.size()), "nodeNum is the node count");
        net.setNodePenalties(-5.0f);
        net.maxFanOut();
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    std::string path = fuzzSupport::writeInput("texts.syl", data, size);
    textClass text;
    try {
        text.sylFileRead(path);
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
        return 0;
    }
    recogParam param;
    param.language = "chinese";
    param.function = "recog";
    buildAndRead(text, param, false, false, true);
    buildAndRead(text, param, true, false, false);
    param.function = "assess";
    param.addLink4stopAnywhere = 1;
    param.addLink4skippableTrailingSil = 1;
    textClass padded = text;
    padded.addBetweenSyllables("-sp-");
    buildAndRead(padded, param, false, true, true);

    param = recogParam();
    param.language = "japanese";
    try {
        text.japaneseSyllableRules(param);
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    buildAndRead(text, param, false, false, false);
    return 0;
}
