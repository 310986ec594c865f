// A small synthetic "language" for end-to-end runs: a few sound classes
// (silence, tones, noise), one 3-stream model per class estimated from its own
// features, English and syllable lexicons over them, and waves that
// concatenate the classes.
#pragma once

#include "../decoder/modelFixtures.h"
#include "../frontend/waveFixtures.h"
#include "frontend/CMel.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace pipelineFixtures {

constexpr int32_t RATE = 16000;

// `count` samples of one sound class. Classes: "sil" quiet noise, "a" 300 Hz,
// "b" 1500 Hz, "c" loud noise, "d" 700 + 2500 Hz, "e" 4000 Hz (fillers).
inline std::vector<int32_t> soundOf(const std::string& cls, int32_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<int32_t> out(static_cast<size_t>(count));
    auto tone = [](double f, int32_t i) { return std::sin(2 * M_PI * f * i / RATE); };
    for (int32_t i = 0; i < count; ++i) {
        double v = 0;
        if (cls == "sil") v = 20 * noise(rng);
        else if (cls == "a") v = 6000 * tone(300, i) + 200 * noise(rng);
        else if (cls == "b") v = 5000 * tone(1500, i) + 200 * noise(rng);
        else if (cls == "c") v = 3000 * noise(rng);
        else if (cls == "d") v = 3000 * tone(700, i) + 3000 * tone(2500, i) + 200 * noise(rng);
        else if (cls == "e") v = 4000 * tone(4000, i) + 300 * noise(rng);
        out[static_cast<size_t>(i)] = static_cast<int32_t>(std::lround(v));
    }
    return out;
}

// A wave of the classes in order, each `seconds` long (sil lasts 0.3 s).
inline std::vector<int32_t> utterance(const std::vector<std::string>& classes, double seconds = 0.2,
                                      uint32_t seed = 7) {
    std::vector<int32_t> wave;
    for (size_t k = 0; k < classes.size(); ++k) {
        double length = classes[k] == "sil" ? 0.3 : seconds;
        std::vector<int32_t> part = soundOf(classes[k], static_cast<int32_t>(length * RATE), seed + 31 * k);
        wave.insert(wave.end(), part.begin(), part.end());
    }
    return wave;
}

// A 5-state model whose three emitting states all hold the mean and variance
// of the features of two seconds of the class.
inline hmmModel estimateModel(const std::string& name, const std::string& cls, const std::string& config,
                              int32_t stateNum = 5) {
    std::vector<int32_t> sound = soundOf(cls, 2 * RATE, 99);
    CMel mel;
    int32_t frames = 0, dim = 0;
    mel.computeMfcc(sound.data(), RATE, 16, static_cast<int32_t>(sound.size()), config, frames, dim);
    hmmModel model = fixtureModel(name, 0.0f, 1.0f, stateNum, 3, 0.7f);
    for (int32_t s = 0; s < stateNum - 2; ++s)
        for (int32_t k = 0; k < 3; ++k) {
            gaussMixture& mix = model.state[s].stream[k].mixture[0];
            for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) {
                double sum = 0, sum2 = 0;
                for (int32_t t = 2; t < frames - 2; ++t) {
                    double x = mel.m_features[static_cast<size_t>(t) * dim + k * MODEL_PARAM_NUM + d];
                    sum += x;
                    sum2 += x * x;
                }
                int32_t n = frames - 4;
                double mean = sum / n;
                mix.mean[d] = static_cast<float>(mean);
                mix.variance[d] = static_cast<float>(std::max(sum2 / n - mean * mean, 1e-2));
            }
            mix.gconst = fixtureGconst(mix.variance);
        }
    return model;
}

// Files of one synthetic setup in a scratch directory.
struct setup {
    scratchDir dir;
    std::string config, mac, tnm, wpa, addenda, pam, rankParams, discountParams;

    setup() {
        config = dir.write("mfcc.cfg", "TARGETKIND = MFCC_E_D_A\n");
        tnm = dir.write("map.tnm", "%pattern#replacement#operation\n,##g\n");
        addenda = dir.write("addenda.wpa", "");
        // English words over the phones a-d: PA phones joined by "_".
        wpa = dir.write("words.wpa",
                        "five\ta_c\n"
                        "four\td_c\n"
                        "one\ta_b\n"
                        "three\tb_a\n"
                        "two\tc_d\n");
        // Syllables for the pam languages: each a one- or two-phone unit.
        pam = dir.write("syllables.pam",
                        "ab\ta b\n"
                        "ba\tb a\n"
                        "cd\tc d\n"
                        "dc\td c\n"
                        "filler\tfiller\n"
                        "fillerC\tfillerC\n"
                        "fillerV\tfillerV\n"
                        "sil\tsil\n"
                        "sp\tsp\n");
        rankParams = dir.write("rank.prm", "0.1 1 0\n");
        discountParams = dir.write("discount.prm", "0.9 0.9 0.9 0.9 0.9 0.9 0.9\n");

        std::vector<hmmModel> models;
        const char* phones[] = {"a", "b", "c", "d"};
        for (const char* p : phones) {
            models.push_back(estimateModel(p, p, config));
            for (const char* q : {"a", "b", "c", "d", "sil"})
                models.push_back(estimateModel(std::string(p) + "+" + q, p, config));
        }
        models.push_back(estimateModel("sil", "sil", config));
        models.push_back(estimateModel("sp", "sil", config, 3));
        models.push_back(estimateModel("filler", "e", config));
        models.push_back(estimateModel("fillerC", "e", config));
        models.push_back(estimateModel("fillerV", "e", config));
        mac = writeFixtureMac(dir.file("models.mac"), fixtureModelSet(models));
    }

    std::string wave(const std::string& name, const std::vector<std::string>& classes, double seconds = 0.2,
                     uint32_t seed = 7) {
        return dir.write(name, waveFixtures::pcmWave(utterance(classes, seconds, seed), RATE, 16));
    }

    // A parameter file of the common settings plus the given lines.
    std::string params(const std::string& name, const std::string& extra) {
        return dir.write(name, "macFile=" + mac + "\ntnmFile=" + tnm + "\nfeatureConfigFile=" + config +
                                   "\nwpaFile=" + wpa + "\nwpaAddendaFile=" + addenda + "\ndicFile=" + pam +
                                   "\nphoneRank2scoreParamFile=" + rankParams +
                                   "\nscoreDiscountParamFile=" + discountParams +
                                   "\nmaxCandidateNum=300\nprobTh=2000\nuseDescCandidateNum=0\n" + extra);
    }
};

// Runs recognize with the arguments (quoted) and returns what it printed.
inline commandResult runRecognize(const std::vector<std::string>& args) {
    std::string command = "TEMP=/nonexistent " + shellQuote(programPath("recognize"));
    for (const std::string& a : args) command += " " + shellQuote(a);
    commandResult r = runCommand(command + " 2>&1");
    if (std::getenv("RECOG_TEST_SHOW_OUTPUT")) std::printf("%s", r.output.c_str());
    return r;
}

// Test suites that share one setup (models are estimated once per suite).
class sharedSetupTest : public testing::Test {
protected:
    static void SetUpTestSuite() { s_setup = new setup(); }
    static void TearDownTestSuite() {
        delete s_setup;
        s_setup = nullptr;
    }
    static inline setup* s_setup = nullptr;
};

// The text printed after label up to the line end.
inline std::string lineValue(const std::string& output, const std::string& label) {
    size_t pos = output.find(label);
    if (pos == std::string::npos) return "<missing " + label + ">";
    pos += label.size();
    return output.substr(pos, output.find('\n', pos) - pos);
}

}  // namespace pipelineFixtures
