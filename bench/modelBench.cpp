// Model set benchmark: state likelihood evaluations per second with the cache
// always missing, and the load time of a large text (and binary) model file.
//   bench_modelBench [modelsForLoad] [mixturesForLoad]
#include "benchModels.h"
#include "decoder/macro.h"
#include "decoder/stateProb.h"
#include "run/utility.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

benchModels::randomSource g_random(12345);
float randomValue() { return g_random.next(); }

macroClass randomModelSet(int32_t modelNum, int32_t mixtureNum) {
    return benchModels::randomModelSet(
        modelNum, mixtureNum, [](int32_t m) { return formatString("p%d+q%d", m % 61, m); }, g_random);
}

// Evaluations per second, every request a cache miss (a new frame key).
double evaluationRate(int32_t modelNum, int32_t mixtureNum, double* checksum) {
    macroClass set = randomModelSet(modelNum, mixtureNum);
    set.sortModels();
    set.convertModels();
    const int32_t frames = 200, dim = 39;
    std::vector<float> features(static_cast<size_t>(frames * dim));
    for (float& x : features) x = randomValue();
    probCacheClass cache;
    cache.resize(modelNum);

    int64_t evaluations = 0;
    double sum = 0;
    int64_t start = clockMs();
    int32_t key = 0;
    do {
        for (int32_t t = 0; t < frames; ++t, ++key) {
            const float* frame = features.data() + static_cast<size_t>(t) * dim;
            for (int32_t m = 0; m < modelNum; ++m)
                for (int32_t s = 0; s < 3; ++s) sum += cache.getStateLogProb(frame, set, m, s, key);
            evaluations += 3 * modelNum;
        }
    } while (clockMs() - start < 1500);
    double seconds = elapsedSeconds(start);
    *checksum += sum;
    return static_cast<double>(evaluations) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const int32_t loadModels = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int32_t loadMixtures = argc > 2 ? std::atoi(argv[2]) : 8;
    double checksum = 0;

    for (int32_t mixtures : {1, 8}) {
        const int32_t models = argc > 3 ? std::atoi(argv[3]) : 300;
        double rate = evaluationRate(models, mixtures, &checksum);
        std::printf("state evaluations, %d mixture(s) x 3 streams x 13, %d models, cache missing: %.1f million/s\n",
                    mixtures, models, rate / 1e6);
    }

    std::string base = formatString("/tmp/modelBench_%d", static_cast<int>(getpid()));
    macroClass set = randomModelSet(loadModels, loadMixtures);
    set.writeMacText(base + ".mac");
    set.writeMacBinary(base + ".macb");
    std::printf("model file: %d models, 3 states x 3 streams x %d mixtures; text %ld bytes, binary %ld bytes\n",
                loadModels, loadMixtures, fileSize(base + ".mac"), fileSize(base + ".macb"));
    for (const char* ext : {".mac", ".macb"}) {
        double best = 1e9;
        for (int run = 0; run < 3; ++run) {
            macroClass loaded;
            int64_t start = clockMs();
            loaded.readMacro(base + ext, true);
            best = std::min(best, elapsedSeconds(start));
            checksum += loaded.models[0].state[0].stream[0].mixture[0].mean[0];
        }
        std::printf("readMacro(%s, convert): %.3f s (best of 3)\n", ext, best);
    }
    std::remove((base + ".mac").c_str());
    std::remove((base + ".macb").c_str());
    std::printf("(checksum %g)\n", checksum);
    return 0;
}
