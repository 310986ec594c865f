// Batch benchmark: one run of recognize-batch over many synthetic utterances
// against one net, compared with single-file runs of recognize.
//   bench_batchBench [fileNum=100] [seconds=5] [mixtures=4] [keepDir]
// It makes its own resources in a temporary directory: eight sound classes
// (tones, tone pairs, noise) plus silence and a filler class, context models
// (p, p+q) of three emitting states estimated from each class's MFCC, 56
// two-phone English words, 30 texts of ten words, one tree net over them, and
// fileNum waves of about `seconds` seconds each speaking one of the texts.
// recognize-batch runs once over all waves (outputDir set, so every file
// writes its XML and summaries); recognize runs alone on five of them.
// Printed: files per second, the share of the per-file time taken by each
// stage (from the programs' own progress lines; what no line times, such as
// reading the wave and the ranking and scoring, is shown as "other"), and the
// per-file batch time against the single-file time without loading and net
// building. The programs are taken from the directory of this benchmark.
#include "tests/decoder/modelFixtures.h"
#include "tests/frontend/waveFixtures.h"
#include "frontend/CMel.h"
#include "frontend/CaudioFile.h"
#include "run/conditionWave.h"
#include "run/features.h"
#include "run/resources.h"
#include "run/utteranceRun.h"
#include "run/searchNet.h"
#include "run/utility.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int32_t RATE = 16000;
constexpr int32_t TEXT_NUM = 30;
constexpr int32_t WORDS_PER_TEXT = 10;
constexpr int32_t SINGLE_RUNS = 5;
const std::vector<std::string> PHONES = {"a", "b", "c", "d", "f", "g", "h", "i"};

// `count` samples of one sound class; "e" is the filler class.
std::vector<int32_t> soundOf(const std::string& cls, int32_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<int32_t> out(static_cast<size_t>(count));
    auto tone = [](double f, int32_t i) { return std::sin(2 * M_PI * f * i / RATE); };
    for (int32_t i = 0; i < count; ++i) {
        double v = 200 * noise(rng);
        if (cls == "sil") v = 20 * noise(rng);
        else if (cls == "a") v += 6000 * tone(300, i);
        else if (cls == "b") v += 5000 * tone(1500, i);
        else if (cls == "c") v = 3000 * noise(rng);
        else if (cls == "d") v += 3000 * tone(700, i) + 3000 * tone(2500, i);
        else if (cls == "e") v += 4000 * tone(4000, i);
        else if (cls == "f") v += 3000 * tone(500, i) + 3000 * tone(3200, i);
        else if (cls == "g") v += 3000 * tone(1000, i) + 3000 * tone(2000, i);
        else if (cls == "h") v += 3000 * tone(200, i) + 3000 * tone(1200, i);
        else if (cls == "i") v += 5000 * tone(5500, i);
        out[static_cast<size_t>(i)] = static_cast<int32_t>(std::lround(v));
    }
    return out;
}

// A model of the class whose every emitting state holds `mixtures`
// components, each the mean and variance of one part of two seconds of features.
hmmModel estimateModel(const std::string& name, const std::string& cls, const std::string& config,
                       int32_t mixtures, int32_t stateNum = 5) {
    std::vector<int32_t> sound = soundOf(cls, 2 * RATE, 99);
    CMel mel;
    int32_t frames = 0, dim = 0;
    mel.computeMfcc(sound.data(), RATE, 16, static_cast<int32_t>(sound.size()), config, frames, dim);
    hmmModel model = fixtureModel(name, 0.0f, 1.0f, stateNum, 3, 0.7f);
    int32_t usable = frames - 4, part = usable / mixtures;
    for (int32_t s = 0; s < stateNum - 2; ++s)
        for (int32_t k = 0; k < 3; ++k) {
            hmmStream& stream = model.state[s].stream[k];
            stream.mixture.assign(static_cast<size_t>(mixtures), stream.mixture[0]);
            for (int32_t m = 0; m < mixtures; ++m) {
                gaussMixture& mix = stream.mixture[static_cast<size_t>(m)];
                mix.weight = 1.0f / static_cast<float>(mixtures);
                for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) {
                    double sum = 0, sum2 = 0;
                    for (int32_t t = 2 + m * part; t < 2 + (m + 1) * part; ++t) {
                        double x = mel.m_features[static_cast<size_t>(t) * dim + k * MODEL_PARAM_NUM + d];
                        sum += x;
                        sum2 += x * x;
                    }
                    double mean = sum / part;
                    mix.mean[d] = static_cast<float>(mean);
                    mix.variance[d] = static_cast<float>(std::max(sum2 / part - mean * mean, 1e-2));
                }
                mix.gconst = fixtureGconst(mix.variance);
            }
        }
    return model;
}

void writeText(const std::string& path, const std::string& bytes) {
    filePtr file = openFileOrFail(path, "w");
    std::fwrite(bytes.data(), 1, bytes.size(), file.get());
}

double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Runs a shell command with its output into logPath; returns the wall time.
double timedRun(const std::string& command, const std::string& logPath, bool mayFail = false) {
    double start = nowSeconds();
    int status = std::system((command + " > '" + logPath + "' 2>&1").c_str());
    double seconds = nowSeconds() - start;
    if (status != 0 && !mayFail) {
        std::fprintf(stderr, "command failed (%d): %s\n", status, command.c_str());
        std::exit(1);
    }
    return seconds;
}

// Stage name of a progress line "N.NNN sec: text": the text up to its first
// quote or parenthesis, without trailing blanks.
std::string stageOf(const std::string& text) {
    std::string stage = text.substr(0, text.find_first_of("\"("));
    while (!stage.empty() && stage.back() == ' ') stage.pop_back();
    return stage;
}

// Progress-line times of a program log, summed per stage, split into the part
// before the first line that starts `marker` and the part from it on.
struct logTimes {
    std::map<std::string, double> before, after;
    double beforeTotal = 0, afterTotal = 0;
    std::vector<std::string> lines;
};

logTimes parseLog(const std::string& path, const std::string& marker) {
    logTimes times;
    bool seen = false;
    for (const std::string& line : readLines(path, 0)) {
        times.lines.push_back(line);
        if (line.compare(0, marker.size(), marker) == 0) seen = true;
        size_t pos = line.find(" sec: ");
        if (pos == std::string::npos || pos == 0 || line.find_first_not_of("0123456789.") != pos) continue;
        double seconds = std::atof(line.c_str());
        std::string stage = stageOf(line.substr(pos + 6));
        (seen ? times.after : times.before)[stage] += seconds;
        (seen ? times.afterTotal : times.beforeTotal) += seconds;
    }
    return times;
}

std::string directoryOfSelf() {
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    return self.substr(0, self.rfind('/'));
}

}  // namespace

int main(int argc, char** argv) {
    int fileNum = argc > 1 ? std::atoi(argv[1]) : 100;
    double seconds = argc > 2 ? std::atof(argv[2]) : 5.0;
    int mixtures = argc > 3 ? std::atoi(argv[3]) : 4;
    bool keepDir = argc > 4 && std::atoi(argv[4]) != 0;
    if (fileNum < 1 || seconds <= 0.7 || mixtures < 1 || mixtures > 8) {
        std::fprintf(stderr, "usage: %s [fileNum>=1] [seconds>0.7] [mixtures 1..8] [keepDir 0|1]\n", argv[0]);
        return 1;
    }
    std::string programs = directoryOfSelf();
    char pattern[] = "/tmp/batchBenchXXXXXX";
    if (!mkdtemp(pattern)) return 1;
    std::string dir = pattern;
    try {
        // Resources.
        double t0 = nowSeconds();
        std::string config = dir + "/mfcc.cfg";
        writeText(config, "TARGETKIND = MFCC_E_D_A\n");
        writeText(dir + "/map.tnm", "%pattern#replacement#operation\n,##g\n");
        writeText(dir + "/addenda.wpa", "");
        writeText(dir + "/rank.prm", "0.1 1 0\n");
        writeText(dir + "/discount.prm", "0.9 0.9 0.9 0.9 0.9 0.9 0.9\n");
        std::vector<hmmModel> models;
        for (const std::string& p : PHONES) {
            models.push_back(estimateModel(p, p, config, mixtures));
            for (const std::string& q : PHONES) models.push_back(estimateModel(p + "+" + q, p, config, mixtures));
            models.push_back(estimateModel(p + "+sil", p, config, mixtures));
        }
        models.push_back(estimateModel("sil", "sil", config, mixtures));
        models.push_back(estimateModel("sp", "sil", config, mixtures, 3));
        for (const char* filler : {"filler", "fillerC", "fillerV"})
            models.push_back(estimateModel(filler, "e", config, mixtures));
        std::string mac = writeFixtureMac(dir + "/models.mac", fixtureModelSet(models));

        // Words: every ordered pair of different phones.
        std::vector<std::vector<std::string>> wordPhones;
        std::vector<std::string> words;
        std::string wpa;
        for (const std::string& p : PHONES)
            for (const std::string& q : PHONES)
                if (p != q) {
                    words.push_back("w" + p + q);
                    wordPhones.push_back({p, q});
                    wpa += words.back() + "\t" + p + "_" + q + "\n";
                }
        writeText(dir + "/words.wpa", wpa);
        std::mt19937 rng(2024);
        std::vector<std::vector<size_t>> texts(TEXT_NUM);
        std::string textFile;
        for (auto& text : texts) {
            for (int32_t w = 0; w < WORDS_PER_TEXT; ++w) text.push_back(rng() % words.size());
            for (size_t w = 0; w < text.size(); ++w) textFile += (w ? " " : "") + words[text[w]];
            textFile += "\n";
        }
        writeText(dir + "/texts.txt", textFile);

        // Waves: silence, the text's phones, silence; phone length from the duration.
        double phoneSeconds = (seconds - 0.6) / (2 * WORDS_PER_TEXT);
        std::string list;
        for (int n = 0; n < fileNum; ++n) {
            const std::vector<size_t>& text = texts[static_cast<size_t>(n % TEXT_NUM)];
            std::vector<int32_t> wave = soundOf("sil", static_cast<int32_t>(0.3 * RATE), 5 + n);
            uint32_t seed = 1000u * static_cast<uint32_t>(n);
            for (size_t w : text)
                for (const std::string& phone : wordPhones[w]) {
                    std::vector<int32_t> part = soundOf(phone, static_cast<int32_t>(phoneSeconds * RATE), ++seed);
                    wave.insert(wave.end(), part.begin(), part.end());
                }
            std::vector<int32_t> tail = soundOf("sil", static_cast<int32_t>(0.3 * RATE), 7 + n);
            wave.insert(wave.end(), tail.begin(), tail.end());
            std::string name = formatString("u%03d", n);
            writeText(dir + "/" + name + ".wav", waveFixtures::pcmWave(wave, RATE, 16));
            list += name + ".xml\t" + dir + "/" + name + ".wav\t" + name + "\n";
        }
        writeText(dir + "/waves.lst", list);
        std::filesystem::create_directories(dir + "/out");
        std::string params = dir + "/recog.prm";
        writeText(params, "macFile=" + mac + "\ntnmFile=" + dir + "/map.tnm\nfeatureConfigFile=" + config +
                              "\nwpaFile=" + dir + "/words.wpa\nwpaAddendaFile=" + dir +
                              "/addenda.wpa\nphoneRank2scoreParamFile=" + dir +
                              "/rank.prm\nscoreDiscountParamFile=" + dir +
                              "/discount.prm\nmaxCandidateNum=300\nprobTh=2000\nuseDescCandidateNum=0\n"
                              "language=english\nfunction=recog\ncomparisonMode=1\nuseEpd=1\n"
                              "txtFile=" + dir + "/texts.txt\noutputDir=" + dir + "/out\n");
        std::printf("resources: %zu models of %d mixtures, %zu words, %d texts, %d waves of %.2f s (%.1f s to make)\n",
                    models.size(), mixtures, words.size(), TEXT_NUM, fileNum,
                    static_cast<double>(0.6 + 2 * WORDS_PER_TEXT * phoneSeconds), nowSeconds() - t0);

        // Process start and end, timed on the usage path of each program.
        std::string env = "TEMP='" + dir + "' ";
        double startup = 1e9;
        for (int k = 0; k < 5; ++k)
            startup = std::min(startup, timedRun("'" + programs + "/recognize-batch'", dir + "/usage.log", true));

        // One batch over every wave.
        double batchWall = timedRun(env + "'" + programs + "/recognize-batch' '" + params + "' '" + dir + "/waves.lst'",
                                    dir + "/batch.log");
        logTimes batch = parseLog(dir + "/batch.log", "======>");
        int processed = 0, correct = 0;
        bool firstIndex = false;
        for (const std::string& line : batch.lines) {
            if (line.compare(0, 7, "======>") == 0) {
                ++processed;
                firstIndex = true;
            }
            // The first text index of file n (the latest "======>" line) should be n's text.
            if (firstIndex && line.compare(0, 11, "\ttextIndex=") == 0) {
                if (std::atoi(line.c_str() + 11) == (processed - 1) % TEXT_NUM) ++correct;
                firstIndex = false;
            }
        }
        if (processed != fileNum) {
            std::fprintf(stderr, "batch processed %d of %d files; log in %s/batch.log\n", processed, fileNum,
                         dir.c_str());
            return 1;
        }
        double perFile = (batchWall - startup - batch.beforeTotal) / fileNum;
        std::printf("\nrecognize-batch, %d files: %.3f s wall (%.3f s process start and end, %.3f s loading and "
                    "net building)\n  %.2f files/s overall; %.2f ms per file (%.0f x real time); "
                    "%d of %d texts recognized\n",
                    fileNum, batchWall, startup, batch.beforeTotal, fileNum / batchWall, 1000 * perFile,
                    seconds / perFile, correct, fileNum);

        // Single-file runs of recognize on the first few waves.
        int runs = std::min(SINGLE_RUNS, fileNum);
        double singleWall = 0, singleLoad = 0;
        for (int n = 0; n < runs; ++n) {
            std::string wav = dir + formatString("/u%03d.wav", n);
            singleWall += timedRun(env + "'" + programs + "/recognize' '" + params + "' '" + wav + "'",
                                   dir + "/single.log");
            // Before EPD: conditioning, model and lexicon loading, net building.
            logTimes single = parseLog(dir + "/single.log", "EPD");
            singleLoad += single.beforeTotal - single.before["Read wave file"];
        }
        double singleWork = (singleWall - runs * startup - singleLoad) / runs;
        std::printf("\nrecognize, %d single runs: %.2f ms wall per file, of which %.2f ms loading and net building\n"
                    "  and %.2f ms process start and end; the rest (read, condition, features, search, scoring,\n"
                    "  output): %.2f ms\n",
                    runs, 1000 * singleWall / runs, 1000 * singleLoad / runs, 1000 * startup, 1000 * singleWork);
        std::printf("  batch per-file time / that single-file time: %.3f\n", perFile / singleWork);
        std::printf("  batch per-file time / whole single-file run: %.3f\n", perFile / (singleWall / runs));

        // The batch's per-file stages in process, with their output in a log:
        // the same stage calls as recognize-batch, each timed.
        std::fflush(stdout);
        int savedOut = dup(1);
        int logFd = open((dir + "/inprocess.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(logFd, 1);
        close(logFd);
        std::map<std::string, double> stage;
        {
            recogParam param;
            readRecogParam(params, param);
            resourceOptions options;
            options.readCountFile = false;
            recogResources resources;
            loadResources(param, options, resources);
            cmResult result;
            for (int n = 0; n < fileNum; ++n) {
                utteranceSettings settings = sharedNetSettings(resources);
                settings.wavFile = dir + formatString("/u%03d.wav", n);
                settings.outputXmlFile = formatString("u%03d.xml", n);
                std::printf("\n======> %d\n", n + 1);
                double t = nowSeconds();
                audioRecord audio = readAudio(settings.wavFile);
                double t1 = nowSeconds();
                conditionReport report;
                audio = conditionWave(std::move(audio), conditionOptionsOf(param), report);
                double t2 = nowSeconds();
                runUtterance(resources, audio, settings, result);
                double t3 = nowSeconds();
                stage["read wave"] += t1 - t;
                stage["condition"] += t2 - t1;
                for (const auto& part : result.stageSeconds) stage[part.first] += part.second;
                stage["utterance run"] += t3 - t2;
            }
        }
        std::fflush(stdout);
        dup2(savedOut, 1);
        close(savedOut);
        logTimes inProcess = parseLog(dir + "/inprocess.log", "======>");
        double total = stage["read wave"] + stage["condition"] + stage["utterance run"];
        double volume = inProcess.after["Compute volume"];
        std::printf("\nper-file stages in process, %.2f ms per file:\n", 1000 * total / fileNum);
        auto line = [&](const char* name, double value) {
            std::printf("  %-52s %7.2f ms %5.1f%%\n", name, 1000 * value / fileNum, 100 * value / total);
        };
        line("read wave", stage["read wave"]);
        line("condition (volume check, noise test, mean)", stage["condition"]);
        line("features (EPD, MFCC)", stage["features"]);
        line("Viterbi search", stage["search"]);
        line("path to texts, alignment", stage["texts"] + stage["alignment"]);
        line("frame volumes", volume);
        line("ranking, scores", stage["scoring"] - volume);
        line("result files", stage["output"]);
    } catch (const recogError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    if (keepDir)
        std::printf("files kept in %s\n", dir.c_str());
    else
        std::filesystem::remove_all(dir);
    return 0;
}
