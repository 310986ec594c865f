// Calibration benchmark. Without arguments: the time of the measurements of
// one utterance (phone ranking, then measureResult with and without the
// frame-level GOP) of phoneNum phones of 10 frames against modelNum
// single-Gaussian models in 40 monophone classes.
//   bench_calibrateBench [modelNum] [phoneNum]
// With a measurement cache of recognize-tool calibrate and the human scores:
// the cross-validated figures and fitting time of the default fit and of
// variants of its options (knots, penalties, folds).
//   bench_calibrateBench MEASUREMENTS.json humanScores.json
#include "benchModels.h"
#include "decoder/measures.h"
#include "decoder/scoring.h"
#include "decoder/viterbi.h"
#include "run/calibrationFit.h"
#include "run/outputSink.h"
#include "run/utility.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int32_t CLASS_NUM = 40;
constexpr int32_t PHONE_FRAMES = 10;

void measurementTimes(int32_t modelNum, int32_t phoneNum) {
    benchModels::randomSource random(99);
    macroClass models = benchModels::randomModelSet(
        modelNum, 1, [](int32_t m) { return formatString("p%d+q%d", m % CLASS_NUM, m / CLASS_NUM); }, random);
    models.sortModels();
    models.convertModels();
    const int32_t dim = 3 * MODEL_PARAM_NUM;
    const int32_t frameNum = phoneNum * PHONE_FRAMES;
    std::vector<float> features(static_cast<size_t>(frameNum) * dim);
    for (float& v : features) v = random.next();
    cmResult result;
    for (int32_t p = 0; p < phoneNum; ++p) {
        cmNode node;
        node.name = formatString("w%d", p);
        cmPhone phone;
        phone.name = models.models[static_cast<size_t>((p * 7) % modelNum)].name;
        phone.startFrame = p * PHONE_FRAMES;
        phone.endFrame = phone.startFrame + PHONE_FRAMES - 1;
        node.phones.push_back(phone);
        node.startFrame = phone.startFrame;
        node.endFrame = phone.endFrame;
        result.nodes.push_back(node);
    }
    viterbiClass decoder(0, models.modelNum);
    scoringOptions options;
    int64_t start = clockMs();
    {
        scopedOutputSilence silence;
        rankPhones(result, features.data(), dim, frameNum, models, decoder, options);
    }
    const double rankSeconds = elapsedSeconds(start);
    monophoneClasses classes(models);
    measureOptions withGop, withoutGop;
    withoutGop.frameGop = false;
    start = clockMs();
    measureResult(result, features.data(), dim, frameNum, models, classes, withoutGop);
    const double plainSeconds = elapsedSeconds(start);
    start = clockMs();
    measureResult(result, features.data(), dim, frameNum, models, classes, withGop);
    const double gopSeconds = elapsedSeconds(start);
    std::printf("%d models in %zu classes, %d phones, %d frames\n", modelNum, classes.names.size(), phoneNum, frameNum);
    std::printf("  rankPhones                      %8.3f s\n", rankSeconds);
    std::printf("  measureResult without frame GOP %8.3f s\n", plainSeconds);
    std::printf("  measureResult with frame GOP    %8.3f s (%.3f ms per frame)\n", gopSeconds,
                1000.0 * gopSeconds / frameNum);
}

void fitVariants(const std::string& cachePath, const std::string& scoresPath) {
    nlohmann::json doc = nlohmann::json::parse(readFileBytes(cachePath));
    std::map<std::string, humanUtterance> human = readHumanScores(scoresPath);
    std::vector<calibrationSample> samples;
    for (const nlohmann::json& r : doc.at("recordings")) {
        measuredUtterance m = measuredUtteranceFromJson(r.at("measured"));
        auto it = human.find(m.id);
        if (it != human.end()) samples.push_back({m, it->second});
    }
    struct variant {
        const char* name;
        calibrationFitOptions options;
    };
    std::vector<variant> variants(5);
    variants[0].name = "default";
    variants[1].name = "three knots";
    variants[1].options.knotQuantiles = {0.25, 0.5, 0.75};
    variants[2].name = "no knots";
    variants[2].options.knotQuantiles = {};
    variants[3].name = "wider penalties";
    variants[3].options.lambdas = {1, 10, 100, 1000, 10000, 100000};
    variants[3].options.offsetLambdas = {0.3, 3, 30, 300};
    variants[4].name = "ten folds";
    variants[4].options.folds = 10;
    std::printf("%zu recordings with human scores\n", samples.size());
    std::printf("%-16s %7s %7s %7s %7s %7s %7s %8s %8s\n", "variant", "phone", "word", "sent", "fluency", "total",
                "class", "seconds", "bytes");
    for (const variant& v : variants) {
        calibrationClass calibration;
        calibrationFitReport r = fitCalibration(samples, v.options, calibration);
        std::printf("%-16s %7.3f %7.3f %7.3f %7.3f %7.3f %7.3f %8.2f %8zu\n", v.name, r.levels[0].pearson,
                    r.levels[1].pearson, r.levels[2].pearson, r.levels[3].pearson, r.levels[4].pearson,
                    r.levels[0].classAccuracy, r.seconds, calibration.toJson().dump().size());
    }
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 3 && fileExists(argv[1]) && fileExists(argv[2])) {
            fitVariants(argv[1], argv[2]);
            return 0;
        }
        measurementTimes(argc > 1 ? std::atoi(argv[1]) : 1562, argc > 2 ? std::atoi(argv[2]) : 30);
    } catch (const recogError& e) {
        std::printf("%s\n", e.what());
        return 1;
    }
    return 0;
}
