// Net text files (.net) read with a fixed dictionary; a net read is printed
// and written as .netb and both copies must read back to the same net.
#include "fuzzFixtures.h"
#include "fuzzSupport.h"
#include "lexicon/net.h"
#include "run/utility.h"

#include <cstring>

namespace {

// Successor lists that only name real nodes of the net.
bool successorsValid(const netClass& net) {
    for (const netNode& node : net.nodes)
        for (int32_t next : node.nextRealNodes)
            if (next < 0 || next >= net.nodeNum || net.nodes[static_cast<size_t>(next)].sylIndex < 0) return false;
    return true;
}

bool sameLinks(const netClass& a, const netClass& b) {
    if (a.nodes.size() != b.nodes.size()) return false;
    for (size_t i = 0; i < a.nodes.size(); ++i)
        if (a.nodes[i].nextNodes != b.nodes[i].nextNodes || a.nodes[i].nextRealNodes != b.nodes[i].nextRealNodes)
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    std::string path = fuzzSupport::writeInput("input.net", data, size);
    dictClass dict = fuzzFixtures::netDictionary();
    netClass net;
    try {
        net.netRead(path, dict);
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
        return 0;
    }
    fuzzSupport::require(net.nodeNum == static_cast<int32_t>(net.nodes.size()), "nodeNum is the node count");
    fuzzSupport::require(static_cast<size_t>(net.nodeNum) <= size, "no more nodes than bytes");
    fuzzSupport::require(successorsValid(net), "successors are real nodes");
    for (const pronEntry& entry : dict.m_pronDict)
        for (int32_t m : entry.modelIndices) fuzzSupport::require(m >= -1, "model indices as given or cleared");
    net.setNodePenalties(-5.0f);
    net.maxFanOut();

    // The text copy keeps words, indices and links (words are written as C
    // strings, so a net whose lines hold a zero byte is not copied).
    if (std::memchr(data, 0, size) != nullptr) return 0;
    const std::string textCopy = fuzzSupport::scratchDir() + "/copy.net";
    net.netPrint(textCopy);
    netClass again;
    dictClass dict2 = fuzzFixtures::netDictionary();
    again.netRead(textCopy, dict2);
    fuzzSupport::require(sameLinks(net, again), "text copy has the same links");
    for (size_t i = 0; i < net.nodes.size(); ++i) {
        const netNode& a = net.nodes[i];
        const netNode& b = again.nodes[i];
        fuzzSupport::require(a.word == b.word && a.sylIndex == b.sylIndex, "text copy has the same nodes");
        if (a.sylIndex >= 0) fuzzSupport::require(a.sourceWord == b.sourceWord, "text copy keeps source words");
    }

    // The binary copy keeps indices and links; it always holds nodes 0 and 1 as null nodes.
    if (net.nodeNum >= 2 && net.nodes[0].sylIndex < 0 && net.nodes[1].sylIndex < 0) {
        const std::string binaryCopy = fuzzSupport::scratchDir() + "/copy.netb";
        net.netbWrite(binaryCopy);
        netClass binary;
        dictClass dict3 = fuzzFixtures::netDictionary();
        binary.netRead(binaryCopy, dict3);
        fuzzSupport::require(sameLinks(net, binary), "binary copy has the same links");
        for (size_t i = 0; i < net.nodes.size(); ++i)
            fuzzSupport::require(net.nodes[i].sylIndex == binary.nodes[i].sylIndex, "binary copy has the same indices");
    }
    return 0;
}
