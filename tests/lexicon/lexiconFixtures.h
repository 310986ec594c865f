// Helpers shared by the lexicon tests.
#pragma once

#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "lexicon/dict.h"
#include "run/utility.h"
#include "testUtil.h"

// The message with every source line number ("line 123") replaced by "line N".
inline std::string withoutLineNumbers(const std::string& message) {
    std::string out;
    for (size_t i = 0; i < message.size();) {
        bool tag = message.compare(i, 5, "line ") == 0 || message.compare(i, 5, "line=") == 0;
        if (tag && i + 5 < message.size() && isdigit(static_cast<unsigned char>(message[i + 5]))) {
            out += message.substr(i, 5) + "N";
            i += 5;
            while (i < message.size() && isdigit(static_cast<unsigned char>(message[i]))) ++i;
        } else {
            out += message[i++];
        }
    }
    return out;
}

// A wpa entry without tones.
inline wpaEntry makeWpaEntry(const std::string& word, const std::vector<std::string>& pa) {
    wpaEntry entry;
    entry.word = word;
    entry.pa = pa;
    return entry;
}

// Little-endian 32-bit integer as 4 bytes.
inline std::string le32(int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    std::string s;
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((u >> (8 * i)) & 0xff));
    return s;
}

// One .wpab entry: word length, word, PA count, then each PA's length and bytes.
inline std::string wpabEntry(const std::string& word, const std::vector<std::string>& pas) {
    std::string s = le32(static_cast<int32_t>(word.size())) + word + le32(static_cast<int32_t>(pas.size()));
    for (const std::string& pa : pas) s += le32(static_cast<int32_t>(pa.size())) + pa;
    return s;
}

// A text model file of one-stream, one-emitting-state models with the given
// names, in the given order (the reader sorts them by name).
inline std::string tinyMacText(const std::vector<std::string>& names) {
    std::string zeros, ones;
    for (int i = 0; i < 13; ++i) {
        zeros += " 0.0";
        ones += " 1.0";
    }
    std::string text = "~o\n<STREAMINFO> 1 13\n<VECSIZE> 13<NULLD><MFCC><DIAGC>\n";
    for (const std::string& name : names) {
        text += "~h \"" + name + "\"\n<BEGINHMM>\n<NUMSTATES> 3\n<STATE> 2\n<SWEIGHTS> 1\n 1.0\n";
        text += "<MEAN> 13\n" + zeros + "\n<VARIANCE> 13\n" + ones + "\n<GCONST> 2.389e+01\n";
        text += "<TRANSP> 3\n 0.0 1.0 0.0\n 0.0 0.5 0.5\n 0.0 0.0 0.0\n<ENDHMM>\n";
    }
    return text;
}
