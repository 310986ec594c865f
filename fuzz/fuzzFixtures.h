// Fixed companions of the fuzzed files: a test signal, small model sets and a
// small dictionary, the same for every execution so that only the input varies.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "decoder/macro.h"
#include "decoder/modelFixtures.h"
#include "lexicon/dict.h"

namespace fuzzFixtures {

// Half a second at 16 kHz: 0.1 s of near silence, then a voiced sound at
// 220 Hz with harmonics and some noise, then near silence again. Enough for a
// few dozen feature and pitch frames without making an execution slow.
inline const std::vector<int32_t>& testSignal() {
    static const std::vector<int32_t> samples = [] {
        const double PI = 3.14159265358979323846;
        std::vector<int32_t> s(8000);
        uint32_t seed = 12345;
        for (size_t i = 0; i < s.size(); ++i) {
            seed = seed * 1103515245u + 12345u;
            double noise = static_cast<double>((seed >> 16) & 0x7fff) / 32768.0 - 0.5;
            double t = static_cast<double>(i) / 16000.0;
            bool voiced = i >= 1600 && i < 6400;
            double v = voiced ? 7000 * std::sin(2 * PI * 220 * t) + 3000 * std::sin(2 * PI * 440 * t) +
                                    1500 * std::sin(2 * PI * 660 * t)
                              : 0.0;
            s[i] = static_cast<int32_t>(v + 200 * noise);
        }
        return s;
    }();
    return samples;
}

// Sorted and converted models of the given names (one Gaussian per state and
// stream), as readMacro(path, true) leaves a set.
inline macroClass modelSet(const std::vector<std::string>& names, int32_t streamNum = 1) {
    return convertedFixture(namedFixtureModels(names, streamNum));
}

// A dictionary whose units are the given words in byte order; unit i has the
// model indices {i}, and the unit "x" (when present) a missing model (-1), as
// pronDictRead leaves a name that is not a model.
inline dictClass unitDictionary(std::vector<std::string> words) {
    std::sort(words.begin(), words.end());
    dictClass dict;
    for (size_t i = 0; i < words.size(); ++i)
        dict.m_pronDict.push_back(pronEntry{words[i], {words[i] == "x" ? -1 : static_cast<int32_t>(i)}});
    return dict;
}

// The fixed dictionary of the net targets.
inline const dictClass& netDictionary() {
    static const dictClass dict =
        unitDictionary({"a", "b", "c", "fillerC", "fillerV", "hao", "ni", "sil", "sp", "x"});
    return dict;
}

}  // namespace fuzzFixtures
