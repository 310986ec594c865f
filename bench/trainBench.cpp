// Throughput of one training pass (frames per second) at 1 and 4 Gaussian
// components per stream, in 1 and 2 threads, on a generated corpus of about
// 30 minutes, and the peak memory (ru_maxrss) of the process around them.
// The CPU time of each pass shows what threads cost beside what they gain:
// on a machine whose cores are busy with other work the wall-clock gain of
// -j 2 is not there to be measured.
//
//   bench_trainBench [minutes [threads...]]     (default: 30, threads 1 2)
//
// The corpus: 16 synthetic "phones" (steady sums of three sinusoids), 40
// words of two to four phones, utterances of three to eight words between
// stretches of low noise, written as 16 kHz waves to a scratch directory
// under $TMPDIR (or /tmp), removed at the end. The models of the timed passes
// are those of a short training on the same corpus (one pass per stage), so
// the beam prunes as it would in a real training.
#include "run/outputSink.h"
#include "run/utility.h"
#include "tools/train.h"

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

class lcgClass {
public:
    explicit lcgClass(uint32_t seed) : m_state(seed) {}
    double next() {
        m_state = m_state * 1664525u + 1013904223u;
        return static_cast<double>(m_state >> 8) / 16777216.0;
    }
    int32_t below(int32_t n) { return static_cast<int32_t>(next() * n); }

private:
    uint32_t m_state;
};

const char* const PHONES[] = {"a", "e", "i", "o", "u", "b", "d", "g", "k", "m", "n", "p", "s", "t", "f", "l"};
constexpr int32_t PHONE_NUM = 16;
constexpr int32_t WORD_NUM = 40;

std::string le16(uint32_t v) { return std::string{static_cast<char>(v & 0xff), static_cast<char>((v >> 8) & 0xff)}; }
std::string le32(uint32_t v) { return le16(v & 0xffff) + le16(v >> 16); }

std::string waveFile(const std::vector<int16_t>& samples) {
    std::string data(reinterpret_cast<const char*>(samples.data()), samples.size() * 2);
    std::string fmt = le16(1) + le16(1) + le32(16000) + le32(32000) + le16(2) + le16(16);
    std::string chunks = "fmt " + le32(16) + fmt + "data" + le32(static_cast<uint32_t>(data.size())) + data;
    return "RIFF" + le32(static_cast<uint32_t>(4 + chunks.size())) + "WAVE" + chunks;
}

void writeFile(const std::string& path, const std::string& bytes) {
    filePtr f = openFileOrFail(path, "wb");
    if (std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size())
        reportError(formatString("Cannot write %s", path.c_str()));
}

struct corpusClass {
    std::string dir, listPath, lexiconPath, configPath;
    double seconds = 0;
};

corpusClass makeCorpus(double minutes) {
    corpusClass corpus;
    const char* tmp = std::getenv("TMPDIR");
    std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/trainBench.XXXXXX";
    if (!mkdtemp(&base[0])) reportError("Cannot make a scratch directory");
    corpus.dir = base;

    lcgClass rng(2024);
    std::vector<std::array<double, 3>> freqs(PHONE_NUM);
    for (auto& f : freqs) f = {250 + 700 * rng.next(), 900 + 1800 * rng.next(), 2400 + 3000 * rng.next()};
    std::vector<std::vector<int32_t>> words(WORD_NUM);
    std::string lexicon;
    std::vector<std::string> names;
    for (int32_t w = 0; w < WORD_NUM; ++w) {
        const int32_t len = 2 + rng.below(3);
        std::string pa;
        for (int32_t p = 0; p < len; ++p) {
            words[static_cast<size_t>(w)].push_back(rng.below(PHONE_NUM));
            pa += (p ? "_" : "") + std::string(PHONES[words[static_cast<size_t>(w)].back()]);
        }
        names.push_back(formatString("w%02d", w));
        lexicon += names.back() + "\t" + pa + "\n";
    }
    corpus.lexiconPath = corpus.dir + "/words.wpa";
    writeFile(corpus.lexiconPath, lexicon);
    corpus.configPath = corpus.dir + "/mfcc.cfg";
    writeFile(corpus.configPath,
              "TARGETKIND = MFCC_E_D_A\nTARGETRATE = 100000.0\nWINDOWSIZE = 200000.0\nUSEHAMMING = T\n"
              "PREEMCOEF = 0.97\nNUMCHANS = 26\nCEPLIFTER = 22\nNUMCEPS = 12\n");

    std::string list;
    const double rate = 16000;
    for (int32_t u = 0; corpus.seconds < minutes * 60; ++u) {
        std::vector<int16_t> samples;
        auto noise = [&](int32_t n) {
            for (int32_t i = 0; i < n; ++i) samples.push_back(static_cast<int16_t>((rng.next() - 0.5) * 60));
        };
        noise(3200);
        std::string text;
        const int32_t count = 3 + rng.below(6);
        for (int32_t k = 0; k < count; ++k) {
            const int32_t w = rng.below(WORD_NUM);
            text += (k ? " " : "") + names[static_cast<size_t>(w)];
            for (int32_t p : words[static_cast<size_t>(w)]) {
                const int32_t n = static_cast<int32_t>((0.07 + 0.06 * rng.next()) * rate);
                const double level = 3000 + 5000 * rng.next(), phase = 6.283 * rng.next();
                for (int32_t i = 0; i < n; ++i) {
                    const double ramp = std::min(1.0, std::min(i, n - 1 - i) / 80.0);
                    double v = 0;
                    for (size_t f = 0; f < 3; ++f)
                        v += std::sin(6.283185307 * freqs[static_cast<size_t>(p)][f] * i / rate +
                                      phase * static_cast<double>(f + 1)) /
                             static_cast<double>(f + 1);
                    samples.push_back(static_cast<int16_t>(std::lround(level * ramp * v + (rng.next() - 0.5) * 60)));
                }
            }
            if (rng.next() < 0.3) noise(static_cast<int32_t>(0.1 * rate));
        }
        noise(3200);
        const std::string path = formatString("%s/u%04d.wav", corpus.dir.c_str(), u);
        writeFile(path, waveFile(samples));
        list += path + "\t" + text + "\n";
        corpus.seconds += static_cast<double>(samples.size()) / rate;
    }
    corpus.listPath = corpus.dir + "/train.list";
    writeFile(corpus.listPath, list);
    return corpus;
}

double peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// User and system time of the whole process so far.
double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const double minutes = argc > 1 ? std::atof(argv[1]) : 30.0;
        std::vector<int32_t> threadCounts;
        for (int i = 2; i < argc; ++i) threadCounts.push_back(std::atoi(argv[i]));
        if (threadCounts.empty()) threadCounts = {1, 2};
        if (!(minutes > 0)) {
            std::fprintf(stderr, "Usage: %s [minutes [threads...]]\n", argv[0]);
            return 2;
        }

        auto start = std::chrono::steady_clock::now();
        const corpusClass corpus = makeCorpus(minutes);
        std::printf("corpus: %.1f min of speech written in %.1f s\n", corpus.seconds / 60, seconds(start));

        trainParam param;
        param.listPath = corpus.listPath;
        param.lexiconPath = corpus.lexiconPath;
        param.featureConfigPath = corpus.configPath;
        param.passNum = 1;
        param.mixtureNum = 4;
        param.quiet = true;
        param.threadNum = threadCounts.back();
        trainSetupClass setup;
        std::vector<trainUtterance> data;
        int32_t dim = 0;
        int64_t frames = 0;
        {
            scopedOutputSilence silence;
            setup = prepareTraining(param);
            start = std::chrono::steady_clock::now();
            data = loadTrainingData(setup, 0, setup.m_entries.size(), dim);
        }
        for (const trainUtterance& utt : data) frames += utt.frameNum;
        std::printf("features: %zu utterances, %lld frames in %.2f s (%d threads); ru_maxrss %.0f MB\n", data.size(),
                    static_cast<long long>(frames), seconds(start), param.threadNum, peakMegabytes());

        // The models of each timed pass: the short training up to it.
        macroClass models;
        int32_t contextPass = 0, fourPass = 0;
        {
            scopedOutputSilence silence;
            models = nextModelSet(setup, 0, macroClass(), accumulatePass(setup, 0, macroClass(), data, dim), 0);
            for (int32_t pass = 1; pass <= setup.passCount(); ++pass)
                if (setup.m_plan[static_cast<size_t>(pass)].change == trainStep::CLONE_CONTEXTS) contextPass = pass;
                else if (setup.m_plan[static_cast<size_t>(pass)].mixtures == 4) fourPass = pass;
        }
        start = std::chrono::steady_clock::now();
        for (int32_t pass = 1; pass <= setup.passCount(); ++pass) {
            trainStatsClass stats;
            if (pass == contextPass || pass == fourPass) {
                const double before = peakMegabytes();
                double first = 0;
                for (int32_t threads : threadCounts) {
                    setup.m_param.threadNum = threads;
                    const auto passStart = std::chrono::steady_clock::now();
                    const double cpuStart = cpuSeconds();
                    {
                        scopedOutputSilence silence;
                        stats = accumulatePass(setup, pass, models, data, dim);
                    }
                    const double took = seconds(passStart), cpu = cpuSeconds() - cpuStart;
                    const double rate = static_cast<double>(frames) / took;
                    std::printf("%d Gaussian%s per stream, -j %d: %9.0f frames/s (%.2f s, %.0fx real time, "
                                "%.2f s of CPU)",
                                pass == fourPass ? 4 : 1, pass == fourPass ? "s" : "", threads, rate, took,
                                corpus.seconds / took, cpu);
                    if (first > 0) std::printf(", %.2fx -j %d", rate / first, threadCounts.front());
                    if (first == 0) first = rate;
                    std::printf("\n");
                }
                std::printf("  ru_maxrss before these passes %.0f MB, after %.0f MB (%d models)\n", before,
                            peakMegabytes(), models.modelNum);
                std::fflush(stdout);
            } else {
                setup.m_param.threadNum = threadCounts.back();
                scopedOutputSilence silence;
                stats = accumulatePass(setup, pass, models, data, dim);
            }
            scopedOutputSilence silence;
            models = nextModelSet(setup, pass, std::move(models), stats, 0);
        }
        std::printf("whole training after the features: %.1f s\n", seconds(start));
        std::error_code ec;
        std::filesystem::remove_all(corpus.dir, ec);
        return 0;
    } catch (const recogError& e) {
        std::printf("%s\n", e.what());
        return 1;
    }
}
