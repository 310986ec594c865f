// Measurements and calibration inside an utterance run: measured only when
// asked or when the resources hold a calibration, which loadResources
// checks against the model set.
#include "../programs/pipelineFixtures.h"
#include "jsonSchemaCheck.h"
#include "run/calibration.h"
#include "run/conditionWave.h"
#include "run/outputSink.h"
#include "run/resources.h"
#include "run/resultJson.h"
#include "run/utteranceRun.h"

#include <gtest/gtest.h>

using namespace pipelineFixtures;
using nlohmann::json;

namespace {

class CalibrationRun : public sharedSetupTest {
protected:
    // Resources of the synthetic setup, with the extra parameter lines.
    static void load(recogResources& resources, const std::string& extra) {
        recogParam param;
        readRecogParam(s_setup->params("calibrationRun.prm",
                                       "language=english\nfunction=assess\ncomparisonMode=1\n" + extra),
                       param);
        resourceOptions options;
        options.buildNet = false;
        scopedOutputSilence silence;
        loadResources(param, options, resources);
    }
    // "one two" with the b of "one" spoken as c.
    static cmResult assess(const recogResources& resources, bool measurements) {
        conditionReport report;
        audioRecord audio = readConditionedWave(s_setup->wave("calibrationRun.wav", {"sil", "a", "c", "c", "d", "sil"}),
                                                conditionOptionsOf(resources.param), report);
        utteranceSettings settings;
        settings.ownTexts = true;
        settings.literalTexts = true;
        settings.txtFile = "one two";
        settings.function = "assess";
        settings.writeMissingWordFile = false;
        settings.measurements = measurements;
        scopedOutputSilence silence;
        return runUtterance(resources, audio, settings);
    }
    static json documentOf(const cmResult& result, const recogResources& resources) {
        json doc = resultDocument(result, resources.models, resultJsonContextOf(resources.param));
        static const json schema =
            json::parse(readWholeFile(std::string(RECOG_SOURCE_DIR) + "/docs/result-schema.json"));
        std::vector<std::string> problems;
        jsonSchemaCheck::check(schema, doc, "$", problems);
        EXPECT_TRUE(problems.empty()) << problems.size() << " problems, first: " << (problems.empty() ? "" : problems[0]);
        return doc;
    }
    // A calibration by hand for the resources' models: phone accuracy rises with the GOP.
    static std::string handCalibration(const recogResources& resources, const std::string& name) {
        calibrationClass c;
        c.target = calibrationTargetOf(resources.models, resources.param);
        for (int32_t level = 0; level < LEVEL_NUM; ++level) {
            levelModel& m = c.levels[level];
            m.fitted = true;
            m.family = "ridge";
            m.terms = {{0, false, 0.0f}};  // gop, meanGop, meanGop
            m.center = {-2.0f};
            m.spread = {1.0f};
            m.weights = {level == LEVEL_PHONE ? 0.003f : 0.01f};
            m.intercept = level == LEVEL_PHONE ? 1.5f : 7.0f;
        }
        std::string path = s_setup->dir.file(name);
        c.save(path);
        return path;
    }
};

TEST_F(CalibrationRun, MeasuresOnlyWhenAsked) {
    recogResources resources;
    load(resources, "");
    cmResult plain = assess(resources, false);
    EXPECT_FALSE(plain.measured);
    EXPECT_FALSE(plain.calibrated);
    for (const cmNode& node : plain.nodes)
        for (const cmPhone& phone : node.phones) EXPECT_FALSE(phone.measured);
    json plainDoc = documentOf(plain, resources);
    EXPECT_FALSE(plainDoc.contains("measures"));
    EXPECT_FALSE(plainDoc["words"][0].contains("measures"));
    EXPECT_FALSE(plainDoc["words"][0]["phones"][0].contains("accuracy"));

    cmResult measured = assess(resources, true);
    ASSERT_TRUE(measured.measured);
    EXPECT_FALSE(measured.calibrated);
    EXPECT_EQ(measured.measuredPhoneNum, 4);
    // The measurements leave the engine's scores as they were.
    EXPECT_EQ(measured.score, plain.score);
    json doc = documentOf(measured, resources);
    ASSERT_EQ(doc["words"].size(), 2u);
    EXPECT_EQ(doc["measures"]["phones"], 4);
    // The b of "one", spoken as c, fits its model worse than the phones spoken right.
    const json& one = doc["words"][0];
    EXPECT_LT(one["phones"][1]["measures"]["gop"].get<double>(), one["phones"][0]["measures"]["gop"].get<double>());
    EXPECT_LT(one["phones"][1]["measures"]["classMatch"].get<double>(), 0.5);
    EXPECT_GT(doc["words"][1]["phones"][0]["measures"]["classMatch"].get<double>(), 0.5);
    EXPECT_EQ(one["measures"]["min"]["gop"], one["phones"][1]["measures"]["gop"]);
    EXPECT_FALSE(doc.contains("accuracy"));
}

TEST_F(CalibrationRun, AppliesTheCalibrationOfTheResourcesToEveryUnit) {
    recogResources bare;
    load(bare, "");
    const std::string path = handCalibration(bare, "hand.cal");
    recogResources resources;
    load(resources, "calibrationFile=" + path + "\n");
    ASSERT_TRUE(resources.hasCalibration);
    cmResult result = assess(resources, false);
    ASSERT_TRUE(result.measured);
    ASSERT_TRUE(result.calibrated);
    json doc = documentOf(result, resources);
    for (const char* key : {"accuracy", "fluency", "total"}) {
        ASSERT_TRUE(doc.contains(key)) << key;
        EXPECT_GE(doc[key].get<double>(), 0.0);
        EXPECT_LE(doc[key].get<double>(), 10.0);
    }
    const json& one = doc["words"][0];
    ASSERT_TRUE(one["phones"][1].contains("accuracy"));
    // accuracy = 1.5 + 0.003 (gop + 2), clipped to 0..2.
    for (const json& word : doc["words"])
        for (const json& phone : word["phones"]) {
            const double expected = std::min(2.0, std::max(0.0, 1.5 + 0.003 * (phone["measures"]["gop"].get<double>() + 2)));
            EXPECT_NEAR(phone["accuracy"].get<double>(), expected, 1e-4);
        }
    EXPECT_LT(one["phones"][1]["accuracy"].get<double>(), one["phones"][0]["accuracy"].get<double>()) << doc["words"].dump();
}

TEST_F(CalibrationRun, LoadingRefusesACalibrationOfAnotherModelSet) {
    recogResources bare;
    load(bare, "");
    calibrationClass c;
    c.load(handCalibration(bare, "forOther.cal"));
    c.target.modelDigest = "fnv1a64:ffffffffffffffff";
    c.target.modelCount = 7;
    const std::string path = s_setup->dir.file("other.cal");
    c.save(path);
    recogResources resources;
    std::string message = errorOf([&] { load(resources, "calibrationFile=" + path + "\n"); });
    EXPECT_NE(message.find("fitted for the model set models.mac (7 models, fnv1a64:ffffffffffffffff)"),
              std::string::npos)
        << message;
    EXPECT_NE(errorOf([&] { load(resources, "calibrationFile=" + s_setup->dir.file("missing.cal") + "\n"); })
                  .find("missing.cal"),
              std::string::npos);
}

}  // namespace
