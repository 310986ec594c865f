// Whole-utterance benchmark: one recognition run as the recognize program does
// it (load a model set of about 200 right-context models, the lexicon and the
// texts, build the net, condition the wave, features, search over 20 candidate
// texts, ranking, scores, XML and result files) on a 5 s utterance.
//   bench_pipelineBench [runs] [recog|assess]
// Everything is generated into a temporary directory first: 14 tone classes,
// a model per class estimated from its own features and cloned for every
// right context, English words over them, and a wave reading text 0.
// Prints the time of each run and, separately, of the loading steps.
#include "decoder/macro.h"
#include "frontend/CMel.h"
#include "lexicon/dict.h"
#include "lexicon/text.h"
#include "run/recogParam.h"
#include "run/recogTask.h"
#include "run/searchNet.h"
#include "run/utility.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int32_t RATE = 16000;
constexpr int32_t PHONE_NUM = 14;

std::string phoneName(int32_t p) { return std::string(1, static_cast<char>('a' + p)); }

// Class p: a tone pair with its own frequencies; class -1: quiet noise.
std::vector<int32_t> soundOf(int32_t cls, int32_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<int32_t> out(static_cast<size_t>(count));
    double f1 = 200.0 + 150.0 * cls, f2 = 1200.0 + 230.0 * ((cls * 5) % PHONE_NUM);
    for (int32_t i = 0; i < count; ++i) {
        double v = cls < 0 ? 20 * noise(rng)
                           : 3000 * std::sin(2 * M_PI * f1 * i / RATE) + 2000 * std::sin(2 * M_PI * f2 * i / RATE) +
                                 150 * noise(rng);
        out[static_cast<size_t>(i)] = static_cast<int32_t>(std::lround(v));
    }
    return out;
}

hmmModel estimateModel(const std::string& name, int32_t cls, const std::string& config, int32_t stateNum) {
    std::vector<int32_t> sound = soundOf(cls, 2 * RATE, 99);
    CMel mel;
    int32_t frames = 0, dim = 0;
    mel.computeMfcc(sound.data(), RATE, 16, static_cast<int32_t>(sound.size()), config, frames, dim);
    hmmModel model{};
    model.name = name;
    model.stateNum = stateNum;
    model.transP[0][1] = 1;
    for (int32_t s = 1; s < stateNum - 1; ++s) {
        model.transP[s][s] = 0.7f;
        model.transP[s][s + 1] = 0.3f;
    }
    for (int32_t s = 0; s < stateNum - 2; ++s)
        for (int32_t k = 0; k < 3; ++k) {
            gaussMixture mix{};
            mix.weight = 1;
            double gconst = MODEL_PARAM_NUM * std::log(2 * M_PI);
            for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) {
                double sum = 0, sum2 = 0;
                for (int32_t t = 2; t < frames - 2; ++t) {
                    double x = mel.m_features[static_cast<size_t>(t) * dim + k * MODEL_PARAM_NUM + d];
                    sum += x;
                    sum2 += x * x;
                }
                double mean = sum / (frames - 4);
                double variance = std::max(sum2 / (frames - 4) - mean * mean, 1e-2);
                mix.mean[d] = static_cast<float>(mean);
                mix.variance[d] = static_cast<float>(variance);
                gconst += std::log(variance);
            }
            mix.gconst = static_cast<float>(gconst);
            model.state[s].streamWeight[k] = 1;
            model.state[s].stream[k].mixture = {mix};
        }
    return model;
}

void writeFile(const std::string& path, const std::string& bytes) {
    filePtr f = openFileOrFail(path, "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f.get());
}

std::string le(uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    return s;
}

void writeWave(const std::string& path, const std::vector<int32_t>& samples) {
    std::string data;
    for (int32_t v : samples) data += le(static_cast<uint32_t>(static_cast<uint16_t>(static_cast<int16_t>(v))), 2);
    std::string fmt = le(1, 2) + le(1, 2) + le(RATE, 4) + le(RATE * 2, 4) + le(2, 2) + le(16, 2);
    std::string body = "WAVEfmt " + le(16, 4) + fmt + "data" + le(static_cast<uint32_t>(data.size()), 4) + data;
    writeFile(path, "RIFF" + le(static_cast<uint32_t>(body.size()), 4) + body);
}

// The words: two or three phones each, chosen so that words differ.
std::vector<std::vector<int32_t>> makeWords(std::mt19937& rng, int32_t count) {
    std::vector<std::vector<int32_t>> words;
    std::uniform_int_distribution<int32_t> phone(0, PHONE_NUM - 1), length(2, 3);
    while (static_cast<int32_t>(words.size()) < count) {
        std::vector<int32_t> w(static_cast<size_t>(length(rng)));
        for (int32_t& p : w) p = phone(rng);
        if (std::find(words.begin(), words.end(), w) == words.end()) words.push_back(w);
    }
    return words;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    std::string function = argc > 2 ? argv[2] : "recog";
    char pattern[] = "/tmp/pipelineBenchXXXXXX";
    std::string dir = mkdtemp(pattern);
    std::string config = dir + "/mfcc.cfg";
    writeFile(config, "TARGETKIND = MFCC_E_D_A\n");

    // Models: every phone in every right context, plus sil and sp.
    std::vector<hmmModel> classModels;
    for (int32_t p = 0; p < PHONE_NUM; ++p) classModels.push_back(estimateModel(phoneName(p), p, config, 5));
    macroClass set;
    set.streamNum = 3;
    for (int32_t k = 0; k < 3; ++k) set.streamWidth[k] = MODEL_PARAM_NUM;
    set.optionText = "<VECSIZE> 39<NULLD><MFCC_E_D_A><DIAGC>";
    for (int32_t p = 0; p < PHONE_NUM; ++p)
        for (int32_t q = 0; q <= PHONE_NUM; ++q) {
            hmmModel m = classModels[static_cast<size_t>(p)];
            m.name = phoneName(p) + "+" + (q == PHONE_NUM ? std::string("sil") : phoneName(q));
            set.models.push_back(m);
        }
    set.models.push_back(estimateModel("sil", -1, config, 5));
    set.models.push_back(estimateModel("sp", -1, config, 3));
    set.modelNum = static_cast<int32_t>(set.models.size());
    set.writeMacText(dir + "/models.mac");

    // Lexicon: 60 words; 20 candidate texts of 5 words.
    std::mt19937 rng(11);
    std::vector<std::vector<int32_t>> words = makeWords(rng, 60);
    std::vector<std::string> wpaLines;
    for (size_t w = 0; w < words.size(); ++w) {
        std::string pa;
        for (size_t i = 0; i < words[w].size(); ++i) pa += (i ? "_" : "") + phoneName(words[w][i]);
        wpaLines.push_back(formatString("w%02d\t%s", static_cast<int>(w), pa.c_str()));
    }
    std::sort(wpaLines.begin(), wpaLines.end());
    writeLines(dir + "/words.wpa", wpaLines);
    writeFile(dir + "/addenda.wpa", "");
    writeFile(dir + "/map.tnm", ",##g\n");
    writeFile(dir + "/rank.prm", "0.1 1 0\n");
    writeFile(dir + "/discount.prm", "0.9 0.9 0.9 0.9 0.9 0.9 0.9\n");
    std::vector<std::string> texts;
    std::vector<std::vector<int32_t>> textWords;
    std::uniform_int_distribution<int32_t> pick(0, static_cast<int32_t>(words.size()) - 1);
    for (int t = 0; t < 20; ++t) {
        std::vector<int32_t> ws;
        std::string text;
        for (int i = 0; i < 5; ++i) {
            ws.push_back(pick(rng));
            text += (i ? " " : "") + formatString("w%02d", ws.back());
        }
        texts.push_back(text);
        textWords.push_back(ws);
    }
    writeLines(dir + "/texts.txt", function == "assess" ? std::vector<std::string>{texts[0]} : texts);

    // A 5 s wave reading text 0: its phones stretched to fill the time between silences.
    int32_t phoneCount = 0;
    for (int32_t w : textWords[0]) phoneCount += static_cast<int32_t>(words[static_cast<size_t>(w)].size());
    int32_t phoneSamples = (5 * RATE - 2 * 4000) / phoneCount;
    std::vector<int32_t> wave = soundOf(-1, 4000, 1);
    uint32_t seed = 2;
    for (int32_t w : textWords[0])
        for (int32_t p : words[static_cast<size_t>(w)]) {
            std::vector<int32_t> part = soundOf(p, phoneSamples, seed++);
            wave.insert(wave.end(), part.begin(), part.end());
        }
    std::vector<int32_t> tail = soundOf(-1, 5 * RATE - static_cast<int32_t>(wave.size()), 3);
    wave.insert(wave.end(), tail.begin(), tail.end());
    writeWave(dir + "/utterance.wav", wave);
    std::string outDir = dir + "/out";
    std::string mk = "mkdir -p " + outDir;
    if (std::system(mk.c_str()) != 0) return 1;

    recogParam base;
    base.language = "english";
    base.function = function;
    base.macFile = dir + "/models.mac";
    base.wpaFile = dir + "/words.wpa";
    base.wpaAddendaFile = dir + "/addenda.wpa";
    base.tnmFile = dir + "/map.tnm";
    base.featureConfigFile = config;
    base.wavFile = dir + "/utterance.wav";
    base.txtFile = dir + "/texts.txt";
    base.outputDir = outDir;
    base.phoneRank2scoreParamFile = dir + "/rank.prm";
    base.scoreDiscountParamFile = dir + "/discount.prm";
    base.comparisonMode = 1;
    base.maxCandidateNum = 500;
    base.probTh = 2000;

    // Console output of the pipeline goes to /dev/null while timing.
    std::fflush(stdout);
    int savedStdout = dup(1);
    auto quiet = [&] {
        std::fflush(stdout);
        if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    };
    auto loud = [&] {
        std::fflush(stdout);
        dup2(savedStdout, 1);
    };

    std::vector<double> whole, loading;
    std::string recognized;
    for (int r = 0; r < runs; ++r) {
        recogParam param = base;
        cmResult result;
        quiet();
        auto t0 = std::chrono::steady_clock::now();
        recognizeWaveFile(param, result);
        auto t1 = std::chrono::steady_clock::now();
        macroClass models;
        dictClass dict;
        textClass text;
        loadModels(param, models);
        loadLexicalResources(param, models, dict, text);
        auto t2 = std::chrono::steady_clock::now();
        loud();
        whole.push_back(std::chrono::duration<double>(t1 - t0).count());
        loading.push_back(std::chrono::duration<double>(t2 - t1).count());
        recognized = result.texts.empty() ? "" : result.texts[0];
    }
    std::sort(whole.begin(), whole.end());
    std::sort(loading.begin(), loading.end());
    std::printf("function=%s models=%d texts=%d utterance=5 s runs=%d\n", function.c_str(), set.modelNum,
                function == "assess" ? 1 : 20, runs);
    std::printf("whole run:   best %.4f s, median %.4f s\n", whole.front(), whole[whole.size() / 2]);
    std::printf("  of which loading (models, lexicon, map): best %.4f s, median %.4f s\n", loading.front(),
                loading[loading.size() / 2]);
    std::printf("recognized: \"%s\" (expected \"%s\")\n", recognized.c_str(), texts[0].c_str());
    std::string rm = "rm -rf " + dir;
    return std::system(rm.c_str()) == 0 ? 0 : 1;
}
