// Times the audio front end on one minute of synthetic 16 kHz speech-like audio:
// wave conditioning plus endpoint detection, spectral subtraction, and the
// frame-volume stages on their own. Prints the fastest and the median of several runs.
#include "decoder/cmResult.h"
#include "frontend/audio.h"
#include "frontend/noiseSubtraction.h"
#include "lib/audio.h"
#include "run/conditionWave.h"
#include "run/recogParam.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

namespace {

// Syllable-like bursts (harmonics of a gliding fundamental under an envelope)
// separated by pauses, over low background noise.
std::vector<int32_t> syntheticSpeech(int32_t seconds, int32_t fs) {
    std::mt19937 random(2024);
    std::normal_distribution<double> noise(0.0, 60.0);
    std::vector<int32_t> x(static_cast<size_t>(seconds) * fs);
    size_t pos = 0;
    while (pos < x.size()) {
        size_t burst = static_cast<size_t>(fs * (0.15 + 0.2 * (random() % 100) / 100.0));
        size_t pause = static_cast<size_t>(fs * (0.05 + 0.3 * (random() % 100) / 100.0));
        double f0 = 100 + random() % 150;
        double phase = 0;
        for (size_t i = 0; i < burst && pos + i < x.size(); ++i) {
            double t = static_cast<double>(i) / burst;
            double envelope = std::sin(M_PI * t);
            phase += 2 * M_PI * f0 * (1 + 0.2 * t) / fs;
            double v = 0;
            for (int h = 1; h <= 8; ++h) v += std::sin(h * phase) / h;
            x[pos + i] = static_cast<int32_t>(6000 * envelope * v);
        }
        pos += burst + pause;
    }
    for (int32_t& v : x) v = std::max(-32768, std::min(32767, v + static_cast<int32_t>(noise(random))));
    return x;
}

void report(const char* what, int runs, const std::function<void()>& work) {
    std::vector<double> ms;
    for (int r = 0; r < runs; ++r) {
        auto start = std::chrono::steady_clock::now();
        work();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-52s min %8.2f ms   median %8.2f ms   (%d runs)\n", what, ms.front(), ms[ms.size() / 2], runs);
}

}  // namespace

int main(int argc, char** argv) {
    const int32_t fs = 16000, seconds = 60;
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const std::vector<int32_t> speech = syntheticSpeech(seconds, fs);
    std::printf("%d s of synthetic audio at %d Hz (%zu samples)\n", seconds, fs, speech.size());

    size_t sink = 0;
    epdParam epd = initEpdParam(fs);
    report("conditionWave + epdByVolDiff (16 kHz, 16 bits)", runs, [&] {
        conditionReport report;
        std::vector<int32_t> conditioned = conditionWave({speech, fs, 16, 1}, conditionOptionsOf(recogParam()), report).samples;
        std::vector<epdSegment> segments = epdByVolDiff(conditioned, fs, epd);
        sink += conditioned.size() + segments.size();
    });
    report("  conditionWave alone", runs, [&] {
        conditionReport report;
        sink += conditionWave({speech, fs, 16, 1}, conditionOptionsOf(recogParam()), report).samples.size();
    });
    report("  epdByVolDiff alone", runs, [&] { sink += epdByVolDiff(speech, fs, epd).size(); });
    report("  checkVolume alone", runs, [&] { sink += static_cast<size_t>(checkVolume(speech, "")); });
    report("spectralSubtraction (16 kHz)", runs, [&] { sink += spectralSubtraction(speech, fs).size(); });

    // 8 kHz input: resampling is part of conditioning.
    std::vector<int32_t> narrow(speech.size() / 2);
    for (size_t i = 0; i < narrow.size(); ++i) narrow[i] = speech[2 * i];
    report("conditionWave from 8 kHz (resampling) + epdByVolDiff", runs, [&] {
        conditionReport report;
        audioRecord conditioned = conditionWave({narrow, 8000, 16, 1}, conditionOptionsOf(recogParam()), report);
        sink += conditioned.samples.size() + epdByVolDiff(conditioned.samples, conditioned.sampleRate, epd).size();
    });
    std::printf("(checksum %zu)\n", sink);
    return 0;
}
