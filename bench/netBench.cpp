// Times search-net construction and the net readers and writers on a large
// Chinese-like listing: random sequences of 2 to 8 syllables drawn from 400
// syllable names. Prints the fastest of several runs per stage.
// Usage: bench_netBench [sequences, default 20000] [repeats, default 3]
#include "lexicon/dict.h"
#include "lexicon/net.h"
#include "lexicon/text.h"
#include "run/recogParam.h"
#include "run/utility.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

double fastestMs(int repeats, const std::function<void()>& run) {
    double best = 1e300;
    for (int r = 0; r < repeats; ++r) {
        auto start = std::chrono::steady_clock::now();
        run();
        std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const int sequences = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 3;

    std::vector<std::string> syllables;
    for (int i = 0; i < 400; ++i) syllables.push_back(formatString("s%03d", i));
    dictClass dict;
    for (const std::string& s : syllables) dict.m_pronDict.push_back(pronEntry{s, {0, 1, 2}});
    dict.m_pronDict.push_back(pronEntry{"sil", {3}});
    std::sort(dict.m_pronDict.begin(), dict.m_pronDict.end(),
              [](const pronEntry& a, const pronEntry& b) { return a.word < b.word; });

    std::mt19937 random(7);
    textClass text;
    for (int i = 0; i < sequences; ++i) {
        int length = 2 + static_cast<int>(random() % 7);
        std::vector<std::string> parts;
        for (int k = 0; k < length; ++k) parts.push_back(syllables[random() % syllables.size()]);
        text.m_sylVs.push_back(joinStrings(parts, "-") + formatString("\t%d", i));
    }
    recogParam param;
    param.usePaddedSoftSil = 0;

    netClass net;
    double buildMs = fastestMs(repeats, [&] { buildTreeNet(text, param, false, false, true); });
    double readMs = fastestMs(repeats, [&] { net.netReadLines(text.netVs, dict); });
    std::printf("tree net of %d sequences: %d nodes, %d links, max fan-out %d\n", sequences, net.nodeNum, net.linkNum,
                net.maxFanOut());
    std::printf("  buildTreeNet  %9.2f ms\n", buildMs);
    std::printf("  netReadLines  %9.2f ms\n", readMs);

    std::string dir = formatString("/tmp/netBench.%d", static_cast<int>(getpid()));
    std::string netPath = dir + ".net", netbPath = dir + ".netb";
    netClass back;
    std::printf("  netPrint      %9.2f ms\n", fastestMs(repeats, [&] { net.netPrint(netPath); }));
    std::printf("  netRead .net  %9.2f ms\n", fastestMs(repeats, [&] { back.netRead(netPath, dict); }));
    std::printf("  netbWrite     %9.2f ms\n", fastestMs(repeats, [&] { net.netbWrite(netbPath); }));
    std::printf("  netRead .netb %9.2f ms\n", fastestMs(repeats, [&] { back.netRead(netbPath, dict); }));
    std::remove(netPath.c_str());
    std::remove(netbPath.c_str());

    // Forward jump grows the links quadratically in the text nodes.
    textClass small;
    for (int i = 0; i < 40; ++i) small.m_sylVs.push_back(text.m_sylVs[i]);
    param.addLink4forwardJump = 1;
    double jumpMs = fastestMs(repeats, [&] {
        buildTreeNet(small, param, false, false, true);
        net.netReadLines(small.netVs, dict);
    });
    std::printf("forward jump over 40 sequences: %d nodes, %d links, build+read %.2f ms\n", net.nodeNum, net.linkNum,
                jumpMs);
    return 0;
}
