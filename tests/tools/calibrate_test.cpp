// recognize-tool calibrate on the synthetic sound classes: recordings of
// five-word texts, some with a phone spoken as another class and scored 0 by
// the "raters"; the fitted file, its use by recognize, its refusal for
// another model set or feature configuration, and the measurement cache.
#include "../programs/pipelineFixtures.h"
#include "../run/jsonSchemaCheck.h"
#include "run/calibration.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

using namespace pipelineFixtures;
using nlohmann::json;

namespace {

// The fixture lexicon: word -> phones.
const std::map<std::string, std::vector<std::string>> WORDS = {
    {"one", {"a", "b"}}, {"two", {"c", "d"}}, {"three", {"b", "a"}}, {"four", {"d", "c"}}, {"five", {"a", "c"}}};
// The class a phone is mispronounced as.
const std::map<std::string, std::string> WRONG = {{"a", "d"}, {"b", "c"}, {"c", "a"}, {"d", "b"}};
const std::vector<std::vector<std::string>> TEXTS = {
    {"one", "two"}, {"three", "four"}, {"five", "two"}, {"four", "one"}, {"two", "three"}};

std::string tool() { return shellQuote(programPath("recognize-tool")); }

bool haveSox() { return runCommand("command -v sox >/dev/null 2>&1").status == 0; }

// The scored recordings: six speakers in folders of their own, five
// recordings each; in every other recording one phone is spoken wrong.
struct scoredSet {
    std::string list, scores, params;
    bool flac = false;
};

scoredSet makeScoredSet(setup& s) {
    scoredSet set;
    json scores = json::object();
    std::string list = "% id\twave\ttext\n";
    for (int spk = 0; spk < 6; ++spk) {
        const std::string folder = "S" + std::to_string(spk);
        std::filesystem::create_directories(s.dir.file("list/" + folder));
        for (int u = 0; u < 5; ++u) {
            const auto& words = TEXTS[static_cast<size_t>((spk + u) % 5)];
            const int wrongAt = (spk + u) % 2 == 0 ? -1 : (spk * 3 + u) % 4;  // phone position 0-3, or none
            std::vector<std::string> classes = {"sil"};
            json jwords = json::array();
            double wrongs = 0;
            int position = 0;
            for (const std::string& w : words) {
                json phones = json::array(), accuracy = json::array();
                double wordAccuracy = 10;
                for (const std::string& p : WORDS.at(w)) {
                    const bool wrong = position++ == wrongAt;
                    classes.push_back(wrong ? WRONG.at(p) : p);
                    phones.push_back(p == "a" ? "A0" : p == "b" ? "B" : p == "c" ? "C1" : "D");
                    accuracy.push_back(wrong ? 0 : 2);
                    if (wrong) wordAccuracy = 5, wrongs += 1;
                }
                jwords.push_back({{"text", w}, {"accuracy", wordAccuracy}, {"stress", 10}, {"total", wordAccuracy},
                                  {"phones", phones}, {"phones-accuracy", accuracy}});
            }
            classes.push_back("sil");
            const std::string id = folder + "u" + std::to_string(1000 + u);
            const std::string name = folder + "/" + id + ".wav";
            std::string wave = s.dir.write("list/" + name, waveFixtures::pcmWave(
                                                             utterance(classes, 0.18 + 0.02 * u, 11 + spk * 7 + u), RATE, 16));
            std::string listed = name;
            // One recording as FLAC, which calibrate converts with sox.
            if (spk == 1 && u == 2 && haveSox()) {
                listed = folder + "/" + id + ".flac";
                if (runCommand("sox " + shellQuote(wave) + " " + shellQuote(s.dir.file("list/" + listed))).status == 0) {
                    std::filesystem::remove(wave);
                    set.flac = true;
                } else {
                    listed = name;
                }
            }
            std::string text;
            for (const std::string& w : words) text += (text.empty() ? "" : " ") + w;
            list += id + "\t" + listed + "\t" + text + "\n";
            const double sentence = 10 - 3 * wrongs;
            scores[id] = {{"accuracy", sentence}, {"completeness", 10}, {"fluency", 8 + 0.5 * (u % 2)},
                          {"prosodic", 8}, {"total", sentence}, {"text", text}, {"words", jwords}};
        }
    }
    set.list = s.dir.write("list/scored.tsv", list);
    set.scores = s.dir.write("scores.json", scores.dump(1));
    set.params = s.params("calibrate.prm", "language=english\nfunction=assess\ncomparisonMode=1\n");
    return set;
}

class Calibrate : public sharedSetupTest {
protected:
    static void SetUpTestSuite() {
        sharedSetupTest::SetUpTestSuite();
        s_set = new scoredSet();
        *s_set = makeScoredSet(*s_setup);
        s_cal = s_setup->dir.file("fitted.cal");
        s_fit = runCommand(tool() + " calibrate -j 2 " + shellQuote(s_set->params) + " " + shellQuote(s_set->list) +
                           " " + shellQuote(s_set->scores) + " " + shellQuote(s_cal) + " 2>&1");
    }
    static void TearDownTestSuite() {
        delete s_set;
        s_set = nullptr;
        sharedSetupTest::TearDownTestSuite();
    }
    static inline scoredSet* s_set = nullptr;
    static inline std::string s_cal;
    static inline commandResult s_fit;
};

TEST_F(Calibrate, FitsEveryLevelAndReportsItsCrossValidatedCorrelation) {
    ASSERT_EQ(s_fit.status, 0) << s_fit.output;
    EXPECT_NE(s_fit.output.find("Assessed 30 recordings on 2 threads"), std::string::npos) << s_fit.output;
    EXPECT_NE(s_fit.output.find("Fitted 5 levels on 30 recordings of 6 speakers"), std::string::npos) << s_fit.output;
    EXPECT_NE(s_fit.output.find("cross-validated over 5 speaker folds"), std::string::npos);
    for (const char* level : {"phoneAccuracy", "wordAccuracy", "sentenceAccuracy", "fluency", "total"})
        EXPECT_NE(s_fit.output.find(std::string("\n") + level + " "), std::string::npos) << level;
    EXPECT_NE(s_fit.output.find("Phone class 0/1/2 (rounded) accuracy"), std::string::npos);
    EXPECT_EQ(s_fit.output.find("could not be assessed"), std::string::npos) << s_fit.output;

    calibrationClass calibration;
    calibration.load(s_cal);
    EXPECT_EQ(calibration.target.modelFile, "models.mac");
    for (int32_t level = 0; level < LEVEL_NUM; ++level) EXPECT_TRUE(calibration.levels[level].fitted);
    // Wrong phones score 0, right ones 2: the measurements tell them apart.
    EXPECT_GT(calibration.levels[LEVEL_PHONE].pearson, 0.7f);
    EXPECT_GT(calibration.levels[LEVEL_WORD].pearson, 0.6f);
    EXPECT_EQ(calibration.training["recordings"], 30);
    EXPECT_EQ(calibration.training["phones"], 120);
}

TEST_F(Calibrate, ReusesTheMeasurementsItCachedAndGivesTheSameFile) {
    ASSERT_EQ(s_fit.status, 0) << s_fit.output;
    const std::string again = s_setup->dir.file("again.cal");
    commandResult r = runCommand(tool() + " calibrate -m " + shellQuote(s_cal + ".measurements.json") + " " +
                                 shellQuote(s_set->params) + " " + shellQuote(s_set->list) + " " +
                                 shellQuote(s_set->scores) + " " + shellQuote(again) + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("All 30 recordings measured in"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Assessed"), std::string::npos);
    EXPECT_EQ(readWholeFile(again), readWholeFile(s_cal));
}

TEST_F(Calibrate, ConcurrencyOneThreadOrThreeMeasureTheSame) {
    ASSERT_EQ(s_fit.status, 0) << s_fit.output;
    std::string caches[2];
    const char* threads[2] = {"1", "3"};
    for (int k = 0; k < 2; ++k) {
        caches[k] = s_setup->dir.file(std::string("threads") + threads[k] + ".json");
        commandResult r = runCommand(tool() + " calibrate -j " + threads[k] + " -m " + shellQuote(caches[k]) + " " +
                                     shellQuote(s_set->params) + " " + shellQuote(s_set->list) + " " +
                                     shellQuote(s_set->scores) + " " + shellQuote(caches[k] + ".cal") + " 2>&1");
        ASSERT_EQ(r.status, 0) << r.output;
    }
    EXPECT_EQ(readWholeFile(caches[0]), readWholeFile(caches[1]));
    EXPECT_EQ(readWholeFile(caches[0]), readWholeFile(s_cal + ".measurements.json"));
}

TEST_F(Calibrate, ConvertsAFlacRecordingWithSox) {
    ASSERT_EQ(s_fit.status, 0) << s_fit.output;
    if (!s_set->flac) GTEST_SKIP() << "sox is not installed";
    json cache = json::parse(readWholeFile(s_cal + ".measurements.json"));
    bool found = false;
    for (const json& r : cache["recordings"]) {
        if (r["measured"]["id"] != "S1u1002") continue;
        found = true;
        EXPECT_EQ(r["measured"]["speaker"], "S1");
        EXPECT_EQ(r["measured"]["words"].size(), 2u);
    }
    EXPECT_TRUE(found);
}

// recognize with the fitted file writes the calibrated scores into the JSON document.
json assessWithCalibration(setup& s, const std::string& name, const std::string& calibrationFile,
                           const std::vector<std::string>& classes, const std::string& text, commandResult& r) {
    const std::string jsonPath = s.dir.file(name + ".json");
    const std::string param = s.params(name + ".prm", "language=english\nfunction=assess\ncomparisonMode=1\n"
                                                      "calibrationFile=" + calibrationFile + "\njsonFile=" + jsonPath + "\n");
    std::filesystem::remove(jsonPath);
    r = runRecognize({param, s.wave(name + ".wav", classes, 0.2, 97), text});
    if (!std::filesystem::exists(jsonPath)) return json();
    return json::parse(readWholeFile(jsonPath));
}

TEST_F(Calibrate, RecognizeWithTheFileGivesScoresOnTheHumanScales) {
    ASSERT_EQ(s_fit.status, 0) << s_fit.output;
    commandResult r;
    // "one two" with the b of "one" spoken as c.
    json doc = assessWithCalibration(*s_setup, "calibrated", s_cal, {"sil", "a", "c", "c", "d", "sil"}, "one two", r);
    ASSERT_TRUE(doc.is_object()) << r.output;
    static const json schema = json::parse(readWholeFile(std::string(RECOG_SOURCE_DIR) + "/docs/result-schema.json"));
    std::vector<std::string> problems;
    jsonSchemaCheck::check(schema, doc, "$", problems);
    EXPECT_TRUE(problems.empty()) << problems.size() << " problems, first: " << (problems.empty() ? "" : problems[0]);
    for (const char* key : {"accuracy", "fluency", "total", "measures"}) EXPECT_TRUE(doc.contains(key)) << key;
    EXPECT_LE(doc["accuracy"].get<double>(), 10.0);
    ASSERT_EQ(doc["words"].size(), 2u);
    for (const json& w : doc["words"]) {
        ASSERT_TRUE(w.contains("accuracy"));
        ASSERT_TRUE(w.contains("measures"));
        for (const json& p : w["phones"]) {
            ASSERT_TRUE(p.contains("accuracy"));
            EXPECT_LE(p["accuracy"].get<double>(), 2.0);
        }
    }
    const double wrong = doc["words"][0]["phones"][1]["accuracy"];
    const double right = doc["words"][1]["phones"][0]["accuracy"];
    EXPECT_LT(wrong + 0.5, right) << doc["words"].dump();
    EXPECT_LT(doc["words"][0]["accuracy"].get<double>(), doc["words"][1]["accuracy"].get<double>());
    EXPECT_LT(doc["words"][0]["phones"][1]["measures"]["gop"].get<double>(),
              doc["words"][1]["phones"][0]["measures"]["gop"].get<double>());
}

TEST_F(Calibrate, TheFileIsRefusedForAnotherModelSetOrFeatureConfiguration) {
    ASSERT_EQ(s_fit.status, 0) << s_fit.output;
    json doc = json::parse(readWholeFile(s_cal));
    doc["fittedFor"]["modelDigest"] = "fnv1a64:0000000000000000";
    const std::string other = s_setup->dir.write("otherModels.cal", doc.dump());
    commandResult r;
    json result = assessWithCalibration(*s_setup, "refusedModels", other, {"sil", "a", "b", "sil"}, "one", r);
    EXPECT_TRUE(result.is_null());
    EXPECT_NE(r.output.find("the calibration was fitted for the model set models.mac"), std::string::npos) << r.output;

    // The same models under another feature configuration.
    const std::string config = s_setup->dir.write("other.cfg", "TARGETKIND = MFCC_E_D_A\nPREEMCOEF = 0.9\n");
    const std::string jsonPath = s_setup->dir.file("refusedConfig.json");
    const std::string param =
        s_setup->params("refusedConfig.prm", "language=english\nfunction=assess\ncomparisonMode=1\ncalibrationFile=" +
                                                 s_cal + "\njsonFile=" + jsonPath + "\nfeatureConfigFile=" + config + "\n");
    r = runRecognize({param, s_setup->wave("refusedConfig.wav", {"sil", "a", "b", "sil"}), "one"});
    EXPECT_FALSE(std::filesystem::exists(jsonPath));
    EXPECT_NE(r.output.find("fitted for another feature configuration (fitted PREEMCOEF=0.975, now PREEMCOEF=0.9)"),
              std::string::npos)
        << r.output;
}

TEST(CalibrateUsage, WrongArgumentsEndWithStatusTwoAndTheUsage) {
    commandResult bare = runCommand(tool() + " calibrate 2>&1");
    EXPECT_EQ(bare.status, 2);
    EXPECT_NE(bare.output.find("Usage: recognize-tool calibrate"), std::string::npos) << bare.output;
    commandResult unknown = runCommand(tool() + " calibrate -q a b c d 2>&1");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.output.find("Unknown, incomplete or malformed option -q"), std::string::npos);
    commandResult folds = runCommand(tool() + " calibrate -k 1 a b c d 2>&1");
    EXPECT_EQ(folds.status, 2);
    commandResult help = runCommand(tool() + " calibrate --help 2>&1");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("humanScores.json"), std::string::npos);
}

TEST_F(Calibrate, AListLineWithoutTextIsReportedWithItsEntry) {
    const std::string list = s_setup->dir.write("short.tsv", "% comment\nS9u1000\tS9/x.wav\n");
    commandResult r = runCommand(tool() + " calibrate " + shellQuote(s_set->params) + " " + shellQuote(list) + " " +
                                 shellQuote(s_set->scores) + " " + shellQuote(s_setup->dir.file("short.cal")) + " 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("entry 1 of"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("2 tab-separated fields"), std::string::npos) << r.output;
}

}  // namespace
