// Helpers of the search-net tests: small dictionaries and views of a net.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "lexicon/dict.h"
#include "lexicon/net.h"
#include "lexicon/text.h"
#include "run/recogParam.h"

// A dictionary whose units are the given words in byte order; unit i has the
// model indices {i}.
inline dictClass unitDict(std::vector<std::string> words) {
    std::sort(words.begin(), words.end());
    dictClass dict;
    for (size_t i = 0; i < words.size(); ++i) dict.m_pronDict.push_back(pronEntry{words[i], {static_cast<int32_t>(i)}});
    return dict;
}

// Units of the construction tests: syllables, fillers and silences.
inline dictClass syllableDict() {
    return unitDict({"a", "b", "c", "d", "e", "fillerC", "fillerV", "hao", "men", "ni", "sil", "sp", "x1", "x2", "y1",
                     "y2", "z1", "z2"});
}

// Parameters with every link option off.
inline recogParam plainParam(const std::string& language = "chinese") {
    recogParam p;
    p.language = language;
    p.usePaddedSoftSil = 0;
    return p;
}

// A textClass holding the syllable sequences.
inline textClass sylText(const std::vector<std::string>& sylVs) {
    textClass t;
    t.m_sylVs = sylVs;
    return t;
}

// (start, end) of every link, by start node, each node's nextNodes in order.
inline std::vector<std::pair<int, int>> netLinks(const netClass& net) {
    std::vector<std::pair<int, int>> links;
    for (size_t i = 0; i < net.nodes.size(); ++i)
        for (int32_t next : net.nodes[i].nextNodes) links.emplace_back(static_cast<int>(i), next);
    return links;
}

inline std::vector<std::string> netWords(const netClass& net) {
    std::vector<std::string> words;
    for (const netNode& node : net.nodes) words.push_back(node.word);
    return words;
}

// The link lines of net text ("J=..."), as (start, end) in line order.
inline std::vector<std::pair<int, int>> linkLinesOf(const std::vector<std::string>& netVs) {
    std::vector<std::pair<int, int>> links;
    for (const std::string& line : netVs) {
        int j, s, e;
        if (std::sscanf(line.c_str(), "J=%d\tS=%d\tE=%d", &j, &s, &e) == 3) links.emplace_back(s, e);
    }
    return links;
}

// The words of the node lines of net text ("I=%d\tW=word@...").
inline std::vector<std::string> nodeWordsOf(const std::vector<std::string>& netVs) {
    std::vector<std::string> words;
    for (const std::string& line : netVs) {
        if (line.compare(0, 2, "I=") != 0) continue;
        size_t w = line.find("W=") + 2;
        words.push_back(line.substr(w, line.find('@', w) - w));
    }
    return words;
}

using linkList = std::vector<std::pair<int, int>>;
