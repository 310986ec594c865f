// Timing of the feature front end on 60 s of synthetic 16 kHz speech-like
// audio: MFCC (default configuration, 39 values per frame) and the two-pass
// whole-utterance pitch. Prints the best and median of several runs.
#include "frontend/CMel.h"
#include "lib/pitch.h"
#include "run/features.h"
#include "run/utility.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

// Voiced stretches of 0.3 to 0.8 s with a gliding f0 between pauses, plus noise.
std::vector<int32_t> speechLike(int32_t seconds) {
    const int32_t fs = 16000;
    std::vector<int32_t> s(static_cast<size_t>(seconds) * fs);
    uint32_t seed = 2024;
    auto rnd = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return static_cast<double>((seed >> 8) & 0xffff) / 65536.0;
    };
    size_t i = 0;
    double phase = 0;
    while (i < s.size()) {
        size_t voicedLen = static_cast<size_t>((0.3 + 0.5 * rnd()) * fs);
        size_t pauseLen = static_cast<size_t>((0.05 + 0.2 * rnd()) * fs);
        double f0 = 90 + 160 * rnd(), glide = (rnd() - 0.5) * 60;
        for (size_t k = 0; k < voicedLen && i < s.size(); ++k, ++i) {
            double f = f0 + glide * k / voicedLen;
            phase += 2 * 3.14159265358979 * f / fs;
            double v = 0;
            for (int h = 1; h <= 8; ++h) v += std::sin(h * phase) / h;
            s[i] = static_cast<int32_t>(5000 * v + 200 * (rnd() - 0.5));
        }
        for (size_t k = 0; k < pauseLen && i < s.size(); ++k, ++i) s[i] = static_cast<int32_t>(60 * (rnd() - 0.5));
    }
    return s;
}

double timeMs(const std::function<void()>& f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void report(const char* name, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("%-44s best %8.2f ms  median %8.2f ms  (%zu runs)\n", name, ms.front(), ms[ms.size() / 2], ms.size());
}

}  // namespace

int main(int argc, char** argv) {
    const int32_t seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    std::vector<int32_t> samples = speechLike(seconds);
    const int32_t n = static_cast<int32_t>(samples.size());

    const std::string config = "/tmp/featureBench.cfg";
    if (FILE* f = std::fopen(config.c_str(), "w")) {
        std::fputs("TARGETKIND=MFCC_E_D_A\n", f);
        std::fclose(f);
    }
    std::printf("%d s of 16 kHz audio (%d samples)\n", seconds, n);

    std::vector<double> mfcc, onePass, twoPass;
    int32_t T = 0, D = 0;
    size_t pitchFrames = 0;
    std::vector<float> pitch;
    ptParam prm = initPtParam(16000, 16, 1, "");
    for (int r = 0; r < runs; ++r) {
        mfcc.push_back(timeMs([&] {
            CMel mel;
            mel.computeMfcc(samples.data(), 16000, 16, n, config, T, D);
        }));
        onePass.push_back(timeMs([&] { trackPitch(samples.data(), n, prm, pitch); }));
        twoPass.push_back(timeMs([&] { pitchFrames = wholeUtterancePitch(samples.data(), n, prm).size(); }));
    }
    std::printf("MFCC: %d frames x %d values; pitch: %zu frames\n", T, D, pitchFrames);
    report("MFCC (CMel::computeMfcc)", mfcc);
    report("pitch, one pass (trackPitch)", onePass);
    report("pitch, two passes (wholeUtterancePitch)", twoPass);
    std::remove(config.c_str());
    return 0;
}
