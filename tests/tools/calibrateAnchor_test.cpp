// recognize-tool calibrate on a few speakers of the shared speechocean762
// recordings: the corpus' words and phones pair with the engine's, every
// level is fitted, and recognize applies the file to a recording. Skipped
// when the shared data (or sox, for its FLAC recordings) is not present.
#include "run/calibration.h"
#include "run/utility.h"
#include "testUtil.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <map>

using nlohmann::json;

namespace {

const std::string ANCHOR_DIR = RECOG_SOURCE_DIR "/../shared/anchors/so762";

bool present(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string inAnchorDir(const std::string& command) { return "cd " + shellQuote(ANCHOR_DIR) + " && " + command; }

TEST(calibrateAnchor, pairsTheCorpusScoresAndFitsEveryLevelOnFiveSpeakers) {
    if (!present(ANCHOR_DIR + "/train.tsv") || !present(ANCHOR_DIR + "/so762.mac") ||
        !present(ANCHOR_DIR + "/train_scores.json"))
        GTEST_SKIP() << "no shared anchor data at " << ANCHOR_DIR;
    if (runCommand("command -v sox >/dev/null 2>&1").status != 0) GTEST_SKIP() << "sox is not installed";

    // The first four recordings of the first five speakers, waves by absolute path.
    std::map<std::string, int> perSpeaker;
    std::string list;
    std::string firstWave, firstText;
    for (const auto& row : readTsvFile(ANCHOR_DIR + "/train.tsv")) {
        if (row.size() < 3 || row[0].empty() || row[0][0] == '%') continue;
        const std::string speaker = row[1].substr(0, row[1].find_last_of('/'));
        if (perSpeaker.size() == 5 && !perSpeaker.count(speaker)) break;
        if (perSpeaker[speaker]++ >= 4) continue;
        list += row[0] + "\t" + ANCHOR_DIR + "/" + row[1] + "\t" + row[2] + "\n";
        if (firstWave.empty()) {
            firstWave = ANCHOR_DIR + "/" + row[1];
            firstText = row[2];
        }
    }
    scratchDir dir;
    const std::string listPath = dir.write("subset.tsv", list);
    const std::string cal = dir.file("subset.cal");
    commandResult fit = runCommand(inAnchorDir(shellQuote(programPath("recognize-tool")) + " calibrate -j 2 assess.prm " +
                                               shellQuote(listPath) + " train_scores.json " + shellQuote(cal) + " 2>&1"));
    ASSERT_EQ(fit.status, 0) << fit.output;
    EXPECT_NE(fit.output.find("Fitted 5 levels on 20 recordings of 5 speakers"), std::string::npos) << fit.output;
    EXPECT_EQ(fit.output.find("could not be assessed"), std::string::npos) << fit.output;

    // Nearly every engine phone finds its human score.
    json cache = json::parse(readWholeFile(cal + ".measurements.json"));
    ASSERT_EQ(cache["recordings"].size(), 20u);
    size_t enginePhones = 0;
    for (const json& r : cache["recordings"]) {
        // The speaker is the recording's folder.
        EXPECT_EQ(r["measured"]["speaker"].get<std::string>().rfind("SPEAKER", 0), 0u) << r["measured"]["speaker"];
        for (const json& w : r["measured"]["words"]) enginePhones += w["phones"].size();
    }
    calibrationClass calibration;
    calibration.load(cal);
    EXPECT_EQ(calibration.target.modelCount, 1562);
    const size_t paired = calibration.training["phones"].get<size_t>();
    EXPECT_GT(paired, 0.95 * static_cast<double>(enginePhones)) << paired << " of " << enginePhones;
    EXPECT_LE(paired, enginePhones);
    for (int32_t level = 0; level < LEVEL_NUM; ++level) EXPECT_TRUE(calibration.levels[level].fitted);

    // recognize applies the file to a recording.
    const std::string wav = dir.file("first.wav");
    ASSERT_EQ(runCommand("sox " + shellQuote(firstWave) + " " + shellQuote(wav)).status, 0);
    const std::string jsonPath = dir.file("first.json");
    const std::string param = dir.write("calibrated.prm", readWholeFile(ANCHOR_DIR + "/assess.prm") +
                                                              "\ncalibrationFile=" + cal + "\njsonFile=" + jsonPath + "\n");
    commandResult run = runCommand(inAnchorDir("TEMP=" + shellQuote(dir.m_path) + " " +
                                               shellQuote(programPath("recognize")) + " " + shellQuote(param) + " " +
                                               shellQuote(wav) + " " + shellQuote(firstText) + " 2>&1"));
    ASSERT_EQ(run.status, 0) << run.output;
    json doc = json::parse(readWholeFile(jsonPath));
    ASSERT_TRUE(doc.contains("accuracy")) << run.output.substr(0, 2000);
    EXPECT_GE(doc["accuracy"].get<double>(), 0.0);
    EXPECT_LE(doc["accuracy"].get<double>(), 10.0);
    ASSERT_FALSE(doc["words"].empty());
    for (const json& w : doc["words"]) {
        EXPECT_TRUE(w.contains("accuracy"));
        for (const json& p : w["phones"]) {
            ASSERT_TRUE(p.contains("accuracy"));
            EXPECT_LE(p["accuracy"].get<double>(), 2.0);
            EXPECT_LE(p["measures"]["gop"].get<double>(), 0.0);
        }
    }
}

}  // namespace
