// A small synthetic language for training tests: "phones" are steady sums of
// three sinusoids, words are two phones, utterances are words between
// stretches of low noise. Everything comes from a fixed-seed generator, so the
// waves are the same on every run and need no speech synthesizer.
#pragma once

#include "testUtil.h"
#include "tools/train.h"

#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace trainFixtures {

// A linear congruential generator that gives the same numbers everywhere.
class lcgClass {
public:
    explicit lcgClass(uint32_t seed) : m_state(seed) {}
    // Uniform in [0, 1).
    double next() {
        m_state = m_state * 1664525u + 1013904223u;
        return static_cast<double>(m_state >> 8) / 16777216.0;
    }
    // Uniform integer in [0, n).
    int32_t below(int32_t n) { return static_cast<int32_t>(next() * n); }

private:
    uint32_t m_state;
};

// The frequencies (Hz) of each phone.
inline const std::map<std::string, std::vector<double>>& phoneFrequencies() {
    static const std::map<std::string, std::vector<double>> table = {
        {"a", {700, 1200, 2600}}, {"i", {300, 2300, 3000}}, {"u", {320, 800, 2300}},
        {"o", {500, 900, 2500}},  {"b", {200, 1000, 2200}}, {"k", {1500, 3500, 5000}},
        {"m", {250, 1300, 2700}}, {"s", {4200, 5600, 7000}},
    };
    return table;
}

// The words: name and phones, in the English wpa notation.
inline const std::vector<std::pair<std::string, std::string>>& words() {
    static const std::vector<std::pair<std::string, std::string>> list = {
        {"ba", "b_a"}, {"bi", "b_i"}, {"ki", "k_i"}, {"mu", "m_u"}, {"so", "s_o"},
    };
    return list;
}

// The lexicon of the words as a .wpa file (ascending byte order).
inline std::string wpaText() {
    std::string text = "% test words\n";
    for (const auto& [word, pa] : words()) text += word + "\t" + pa + "\n";
    return text;
}

inline std::vector<std::string> splitAt(const std::string& s, char c) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); ++i)
        if (i == s.size() || s[i] == c) {
            parts.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    return parts;
}

// 16 kHz samples of an utterance: 0.2 s of noise, the words (each phone 70 to
// 130 ms at a random level), 0.2 s of noise.
inline std::vector<int32_t> synthesize(const std::vector<std::string>& spoken, lcgClass& rng) {
    const double rate = 16000;
    std::vector<double> signal;
    auto noise = [&](int32_t n) {
        for (int32_t i = 0; i < n; ++i) signal.push_back((rng.next() - 0.5) * 60);
    };
    noise(3200);
    for (const std::string& word : spoken) {
        std::string pa;
        for (const auto& [name, phones] : words())
            if (name == word) pa = phones;
        for (const std::string& phone : splitAt(pa, '_')) {
            const std::vector<double>& freqs = phoneFrequencies().at(phone);
            const int32_t n = static_cast<int32_t>((0.07 + 0.06 * rng.next()) * rate);
            const double level = 3000 + 5000 * rng.next();
            const double phase = 6.283 * rng.next();
            for (int32_t i = 0; i < n; ++i) {
                // Short ramps keep the phone edges from clicking.
                const double ramp = std::min(1.0, std::min(i, n - 1 - i) / 80.0);
                double v = 0;
                for (size_t f = 0; f < freqs.size(); ++f)
                    v += std::sin(6.283185307 * freqs[f] * i / rate + phase * static_cast<double>(f + 1)) /
                         static_cast<double>(f + 1);
                signal.push_back(level * ramp * v + (rng.next() - 0.5) * 60);
            }
        }
    }
    noise(3200);
    std::vector<int32_t> samples;
    for (double v : signal) samples.push_back(static_cast<int32_t>(std::lround(v)));
    return samples;
}

inline std::string le32(uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return s;
}

// A 16-bit RIFF WAVE file at 16 kHz; with more than one channel the samples
// are interleaved frames.
inline std::string waveFile(const std::vector<int32_t>& samples, uint16_t channels = 1) {
    std::string data;
    for (int32_t v : samples) {
        const uint16_t u = static_cast<uint16_t>(static_cast<int16_t>(std::max(-32768, std::min(32767, v))));
        data.push_back(static_cast<char>(u & 0xFF));
        data.push_back(static_cast<char>(u >> 8));
    }
    std::string fmt = std::string("\x01\x00", 2) + std::string(1, static_cast<char>(channels)) + std::string(1, '\0') +
                      le32(16000) + le32(32000u * channels) + std::string(1, static_cast<char>(2 * channels)) +
                      std::string("\x00\x10\x00", 3);
    std::string chunks = "fmt " + le32(16) + fmt + "data" + le32(static_cast<uint32_t>(data.size())) + data;
    return "RIFF" + le32(static_cast<uint32_t>(4 + chunks.size())) + "WAVE" + chunks;
}

// A random sequence of count words.
inline std::vector<std::string> randomWords(int32_t count, lcgClass& rng) {
    std::vector<std::string> spoken;
    for (int32_t i = 0; i < count; ++i)
        spoken.push_back(words()[static_cast<size_t>(rng.below(static_cast<int32_t>(words().size())))].first);
    return spoken;
}

inline std::string joinWords(const std::vector<std::string>& spoken) {
    std::string text;
    for (const std::string& w : spoken) text += (text.empty() ? "" : " ") + w;
    return text;
}

// The feature configuration of the tests: the recognizer's default layout.
inline const char* featureConfig() {
    return "TARGETKIND = MFCC_E_D_A\nTARGETRATE = 100000.0\nWINDOWSIZE = 200000.0\nUSEHAMMING = T\n"
           "PREEMCOEF = 0.97\nNUMCHANS = 26\nCEPLIFTER = 22\nNUMCEPS = 12\n";
}

// Writes count utterances of 1 to 3 words into dir and returns the lines of
// a training list for them.
inline std::string writeUtterances(const scratchDir& dir, const std::string& prefix, int32_t count, lcgClass& rng,
                                   std::vector<std::string>* texts = nullptr) {
    std::string list;
    for (int32_t i = 0; i < count; ++i) {
        std::vector<std::string> spoken = randomWords(1 + rng.below(3), rng);
        std::string path = dir.write(prefix + std::to_string(i) + ".wav", waveFile(synthesize(spoken, rng)));
        list += path + "\t" + joinWords(spoken) + "\n";
        if (texts) texts->push_back(joinWords(spoken));
    }
    return list;
}

// A training corpus in dir: count utterances from the seed, the lexicon of
// the words and the feature configuration; one thread and no progress
// display unless a test asks for more.
inline trainParam corpusParam(const scratchDir& dir, int32_t count, uint32_t seed) {
    lcgClass rng(seed);
    trainParam param;
    param.listPath = dir.write("train.list", writeUtterances(dir, "u", count, rng));
    param.lexiconPath = dir.write("words.wpa", wpaText());
    param.featureConfigPath = dir.write("mfcc.cfg", featureConfig());
    param.outputPath = dir.file("words.mac");
    param.passNum = 1;
    param.threadNum = 1;
    param.quiet = true;
    return param;
}

// The command-line options of the same settings (without list and output).
inline std::vector<std::string> corpusOptions(const trainParam& param) {
    return {"-C", param.featureConfigPath, "-L", param.lexiconPath, "-m", std::to_string(param.mixtureNum), "-i",
            std::to_string(param.passNum), "-j", std::to_string(param.threadNum), "--quiet",
            "--contexts", param.fullContexts ? "full" : "seen"};
}

}  // namespace trainFixtures
