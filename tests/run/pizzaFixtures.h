// The pizza reference set made usable by the English lexicon: the monophones
// with every right context a copy of its phone, the lexicon as wpa lines and
// the 30 test prompts. Shared by the pizza test and the whole-process benchmark.
#pragma once

#include "decoder/macro.h"

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace pizzaFixtures {

inline std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The monophone set with a copy named p+q for every phone p and context q
// (a phone or "sil"), written as text and, when binaryPath is given, binary.
inline void writeContextSet(const std::string& from, const std::string& textPath, const std::string& binaryPath = "") {
    macroClass set;
    set.readMacro(from, false);
    std::vector<hmmModel> phones = set.models;
    for (const hmmModel& p : phones) {
        if (p.name == "sil" || p.name == "sp") continue;
        for (const hmmModel& q : phones) {
            if (q.name == "sp") continue;
            hmmModel copy = p;
            copy.name = p.name + "+" + q.name;
            set.models.push_back(copy);
        }
    }
    set.modelNum = static_cast<int32_t>(set.models.size());
    set.writeMacText(textPath);
    if (!binaryPath.empty()) set.writeMacBinary(binaryPath);
}

// The dictionary's words, lower case, each with its phones joined by "_"
// (the word-final "sp" left out): the lines of a wpa file, sorted.
inline std::string wpaOfDictionary(const std::string& dictPath) {
    std::ifstream dict(dictPath);
    std::set<std::string> entries;
    std::string line;
    while (std::getline(dict, line)) {
        std::istringstream in(line);
        std::string word, phone, pa;
        in >> word;
        if (word.empty() || word.rfind("SENT-", 0) == 0) continue;
        while (in >> phone)
            if (phone != "sp") pa += (pa.empty() ? "" : "_") + phone;
        entries.insert(lower(word) + "\t" + pa);
    }
    std::string wpa;
    for (const std::string& e : entries) wpa += e + "\n";
    return wpa;
}

// The prompts of a prompt file ("*/testN WORD WORD ..."), lower case, in order.
inline std::vector<std::string> promptsOf(const std::string& path) {
    std::ifstream file(path);
    std::vector<std::string> prompts;
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream in(line);
        std::string id, word, text;
        in >> id;
        while (in >> word) text += (text.empty() ? "" : " ") + lower(word);
        if (!id.empty()) prompts.push_back(text);
    }
    return prompts;
}

}  // namespace pizzaFixtures
