// Small model sets for tests: models built in memory, written as text model
// files, and feature frames to evaluate them on.
//
//   macroClass set = namedFixtureModels({"a+b", "b+sil", "sil", "sp"});  // as read
//   std::string mac = writeFixtureMac(dir.file("models.mac"), set);    // a .mac file
//   macroClass ready = convertedFixture(set);  // sorted and converted, as readMacro(path, true)
#pragma once

#include "decoder/macro.h"

#include <cmath>
#include <string>
#include <vector>

// 13 ln(2 pi) + sum of ln(variance): the Gaussian constant of one stream.
inline float fixtureGconst(const float* variance) {
    double sum = MODEL_PARAM_NUM * std::log(6.283185307179586);
    for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) sum += std::log(static_cast<double>(variance[d]));
    return static_cast<float>(sum);
}

// One component with every mean value `mean` and every variance `variance`.
inline gaussMixture fixtureMixture(float weight, float mean, float variance) {
    gaussMixture mix;
    mix.weight = weight;
    for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) {
        mix.mean[d] = mean;
        mix.variance[d] = variance;
    }
    mix.gconst = fixtureGconst(mix.variance);
    return mix;
}

// A left-to-right model as read from a file (probabilities, variances).
// Every emitting state has one Gaussian per stream with all means `mean` and
// all variances `variance`; the entry state goes to the first emitting state,
// every emitting state loops with `selfLoop` and moves on with 1 - selfLoop.
inline hmmModel fixtureModel(const std::string& name, float mean = 0.0f, float variance = 1.0f,
                             int32_t stateNum = 5, int32_t streamNum = 3, float selfLoop = 0.6f) {
    hmmModel model{};
    model.name = name;
    model.stateNum = stateNum;
    for (int32_t s = 0; s < stateNum - 2; ++s) {
        for (int32_t k = 0; k < streamNum; ++k) {
            model.state[s].streamWeight[k] = 1.0f;
            model.state[s].stream[k].mixture = {fixtureMixture(1.0f, mean, variance)};
        }
    }
    model.transP[0][1] = 1.0f;
    for (int32_t i = 1; i < stateNum - 1; ++i) {
        model.transP[i][i] = selfLoop;
        model.transP[i][i + 1] = 1.0f - selfLoop;
    }
    return model;
}

// Replaces the mixtures of one stream of one emitting state: component j has
// weight weights[j], all means means[j], all variances variances[j].
inline void setFixtureMixtures(hmmModel& model, int32_t stateIdx, int32_t streamIdx,
                               const std::vector<float>& weights, const std::vector<float>& means,
                               const std::vector<float>& variances) {
    hmmStream& stream = model.state[stateIdx].stream[streamIdx];
    stream.mixture.clear();
    for (size_t j = 0; j < weights.size(); ++j)
        stream.mixture.push_back(fixtureMixture(weights[j], means[j], variances[j]));
}

// A model set as read (unconverted, in the given order).
inline macroClass fixtureModelSet(const std::vector<hmmModel>& models, int32_t streamNum = 3) {
    macroClass set;
    set.streamNum = streamNum;
    for (int32_t k = 0; k < MAX_STREAM_NUM; ++k) set.streamWidth[k] = k < streamNum ? MODEL_PARAM_NUM : 0;
    set.optionText = "<VECSIZE> " + std::to_string(streamNum * MODEL_PARAM_NUM) + "<NULLD><MFCC_E_D_A><DIAGC>";
    set.models = models;
    set.modelNum = static_cast<int32_t>(models.size());
    return set;
}

// One model per name, in the given order: model i has all means i and
// variances 1, so that frames of value i fit it best. "sp" gets 3 states
// (one emitting state), every other name 5.
inline macroClass namedFixtureModels(const std::vector<std::string>& names, int32_t streamNum = 3) {
    std::vector<hmmModel> models;
    for (size_t i = 0; i < names.size(); ++i)
        models.push_back(fixtureModel(names[i], static_cast<float>(i), 1.0f, names[i] == "sp" ? 3 : 5, streamNum));
    return fixtureModelSet(models, streamNum);
}

// Sorted and converted, as readMacro(path, true) leaves a set.
inline macroClass convertedFixture(macroClass set) {
    set.sortModels();
    set.convertModels();
    return set;
}

// Writes an unconverted set as a text model file and returns the path.
inline std::string writeFixtureMac(const std::string& path, const macroClass& set) {
    set.writeMacText(path);
    return path;
}

// frameNum frames of dim values, all `value`.
inline std::vector<float> fixtureFrames(int32_t frameNum, float value, int32_t dim = 3 * MODEL_PARAM_NUM) {
    return std::vector<float>(static_cast<size_t>(frameNum) * static_cast<size_t>(dim), value);
}
