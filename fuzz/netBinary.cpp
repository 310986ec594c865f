// Binary net files (.netb) read with a fixed dictionary.
#include "fuzzFixtures.h"
#include "fuzzSupport.h"
#include "lexicon/net.h"
#include "run/utility.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    std::string path = fuzzSupport::writeInput("input.netb", data, size);
    dictClass dict = fuzzFixtures::netDictionary();
    netClass net;
    try {
        net.netRead(path, dict);
        fuzzSupport::require(net.nodeNum == static_cast<int32_t>(net.nodes.size()) && net.nodeNum >= 2,
                             "nodeNum is the node count");
        fuzzSupport::require(static_cast<size_t>(net.nodeNum) <= size / 4 + 2, "a node per index in the file");
        for (const netNode& node : net.nodes)
            for (int32_t next : node.nextRealNodes)
                fuzzSupport::require(next >= 0 && next < net.nodeNum && net.nodes[static_cast<size_t>(next)].sylIndex >= 0,
                                     "successors are real nodes");
        net.setNodePenalties(-5.0f);
        net.maxFanOut();
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    return 0;
}
