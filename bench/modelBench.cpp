// Model set benchmark: state likelihood evaluations per second with the cache
// always missing, and the load time of a large text (and binary) model file.
//   bench_modelBench [modelsForLoad] [mixturesForLoad]
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

uint32_t g_seed = 12345;
float randomValue() {
    g_seed = g_seed * 1664525u + 1013904223u;
    return static_cast<float>(g_seed >> 8) / 16777216.0f * 2.0f - 1.0f;
}

// Models as read: mixtureNum components per stream with random means and variances.
macroClass randomModelSet(int32_t modelNum, int32_t mixtureNum) {
    macroClass set;
    set.streamNum = 3;
    for (int32_t k = 0; k < 3; ++k) set.streamWidth[k] = MODEL_PARAM_NUM;
    set.optionText = "<VECSIZE> 39<NULLD><MFCC_E_D_A><DIAGC>";
    set.models.resize(static_cast<size_t>(modelNum));
    set.modelNum = modelNum;
    for (int32_t m = 0; m < modelNum; ++m) {
        hmmModel& model = set.models[static_cast<size_t>(m)];
        model.name = formatString("p%d+q%d", m % 61, m);
        model.stateNum = 5;
        for (int32_t s = 0; s < 3; ++s)
            for (int32_t k = 0; k < 3; ++k) {
                model.state[s].streamWeight[k] = 1;
                hmmStream& stream = model.state[s].stream[k];
                stream.mixture.resize(static_cast<size_t>(mixtureNum));
                for (gaussMixture& mix : stream.mixture) {
                    mix.weight = 1.0f / static_cast<float>(mixtureNum);
                    double gconst = MODEL_PARAM_NUM * std::log(2 * M_PI);
                    for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) {
                        mix.mean[d] = randomValue();
                        mix.variance[d] = 0.5f + 0.4f * randomValue();
                        gconst += std::log(mix.variance[d]);
                    }
                    mix.gconst = static_cast<float>(gconst);
                }
            }
        model.transP[0][1] = 1;
        for (int32_t i = 1; i < 4; ++i) {
            model.transP[i][i] = 0.6f;
            model.transP[i][i + 1] = 0.4f;
        }
    }
    return set;
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
