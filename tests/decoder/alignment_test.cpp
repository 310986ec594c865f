#include "decoder/macro.h"
#include "decoder/mlf.h"
#include "lexicon/dict.h"
#include "lexicon/net.h"
#include "modelFixtures.h"
#include "run/recogParam.h"
#include "scoringFixtures.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string NI = "\xA7\x41";  // Big5 characters
const std::string HAO = "\xA6\x6E";

// Models in index order: "ao", "h+ao", "i", "n+i", "sil".
macroClass syllableModels() { return convertedFixture(namedFixtureModels({"ao", "h+ao", "i", "n+i", "sil"})); }

// Entries "hao" (0), "ni" (1), "sil" (2).
dictClass syllableDictionary() {
    dictClass dict;
    dict.m_pronDict = {pronEntry{"hao", {1, 0}}, pronEntry{"ni", {3, 2}}, pronEntry{"sil", {4}}};
    return dict;
}

// Nodes 0 and 1 null, 2 "sil", 3 "ni" (source NI), 4 "hao" (source HAO).
netClass syllableNet() {
    netClass net;
    const char* words[] = {"!NULL", "!NULL", "sil", "ni", "hao"};
    for (const char* word : words) {
        netNode node;
        node.word = word;
        net.nodes.push_back(node);
    }
    net.nodes[3].sourceWord = NI;
    net.nodes[4].sourceWord = HAO;
    net.nodeNum = 5;
    return net;
}

// sil (frames 0-9), ni (10-29: n+i, i), hao (30-49: h+ao, ao).
candidateHistory syllableHistory() {
    candidateHistory h;
    h.sylWordIdx = {2, 1, 0};
    h.sylNodeIdx = {2, 3, 4};
    h.sylEndFrame = {9, 29, 49};
    h.sylLogLike = {-10, -50, -90};
    h.phoneIdxInSyl = {0, 0, 1, 0, 1};
    h.phoneEndFrame = {9, 19, 29, 39, 49};
    h.phoneLogLike = {-10, -30, -50, -70, -90};
    return h;
}

std::vector<std::string> phoneNames(const cmNode& node) {
    std::vector<std::string> names;
    for (const cmPhone& phone : node.phones) names.push_back(phone.name);
    return names;
}

}  // namespace

TEST(buildFromCandidate, turnsTheNodeAndPhoneRecordsIntoNodesWithTheirPhones) {
    macroClass models = syllableModels();
    cmResult result;
    result.nodes = {scoreNode("old", {})};
    buildFromCandidate(result, syllableHistory(), syllableNet(), syllableDictionary(), models);
    ASSERT_EQ(result.nodes.size(), 3u);
    const cmNode& sil = result.nodes[0];
    const cmNode& ni = result.nodes[1];
    const cmNode& hao = result.nodes[2];
    EXPECT_EQ(sil.name, "sil");
    EXPECT_EQ(sil.text, "");
    EXPECT_EQ(ni.name, "ni");
    EXPECT_EQ(ni.text, NI);
    EXPECT_EQ(hao.text, HAO);
    EXPECT_EQ(sil.startFrame, 0);
    EXPECT_EQ(sil.endFrame, 9);
    EXPECT_EQ(ni.startFrame, 10);
    EXPECT_EQ(ni.endFrame, 29);
    EXPECT_EQ(hao.startFrame, 30);
    EXPECT_EQ(ni.cumLogLike, -50.0f);
    EXPECT_EQ(ni.timberScore, -1.0f);

    EXPECT_EQ(phoneNames(sil), (std::vector<std::string>{"sil"}));
    EXPECT_EQ(phoneNames(ni), (std::vector<std::string>{"n+i", "i"}));
    EXPECT_EQ(phoneNames(hao), (std::vector<std::string>{"h+ao", "ao"}));
    EXPECT_EQ(ni.phones[1].startFrame, 20);
    EXPECT_EQ(ni.phones[1].endFrame, 29);
    EXPECT_EQ(ni.phones[1].cumLogLike, -50.0f);
    EXPECT_EQ(ni.phones[1].modelIdx, 2);
    EXPECT_EQ(hao.phones[0].startFrame, 30);
    EXPECT_EQ(hao.phones[0].phoneRank, -1);
    EXPECT_EQ(hao.phones[0].timberScores[1], -1.0f);
}

TEST(buildFromCandidate, leavesOutPhonesOfANodeWithoutRecord) {
    candidateHistory h = syllableHistory();
    h.phoneIdxInSyl.push_back(0);
    h.phoneEndFrame.push_back(55);
    h.phoneLogLike.push_back(-99);
    cmResult result;
    buildFromCandidate(result, h, syllableNet(), syllableDictionary(), syllableModels());
    ASSERT_EQ(result.nodes.size(), 3u);
    EXPECT_EQ(result.nodes[2].phones.size(), 2u);

    candidateHistory empty;
    buildFromCandidate(result, empty, syllableNet(), syllableDictionary(), syllableModels());
    EXPECT_TRUE(result.nodes.empty());
}

TEST(buildFromCandidate, refusesRecordsThatNameNothing) {
    macroClass models = syllableModels();
    netClass net = syllableNet();
    dictClass dict = syllableDictionary();
    cmResult result;
    auto build = [&](const candidateHistory& h) {
        return errorOf([&] { buildFromCandidate(result, h, net, dict, models); });
    };

    candidateHistory h = syllableHistory();
    h.sylWordIdx[1] = 3;
    EXPECT_EQ(withoutLine(build(h)), "Error: node record 1 names m_pronDict entry 3 of 3 (line N of file mlf)");
    h = syllableHistory();
    h.sylNodeIdx[2] = 5;
    EXPECT_EQ(withoutLine(build(h)), "Error: node record 2 names net node 5 of 5 (line N of file mlf)");
    h = syllableHistory();
    h.phoneIdxInSyl[2] = 2;
    EXPECT_EQ(withoutLine(build(h)), "Error: phone record 2 is phone 2 of \"ni\", which has 2 (line N of file mlf)");
    h = syllableHistory();
    h.phoneEndFrame.pop_back();
    EXPECT_NE(build(h), "");
    dict.m_pronDict[0].modelIndices[1] = 9;
    EXPECT_EQ(withoutLine(build(syllableHistory())),
              "Error: phone 1 of \"hao\" has model index 9 of 5 (line N of file mlf)");
}

TEST(assignNodeTexts, dealsTheWordsToTheScoredNodesInOrder) {
    cmResult result;
    result.nodes = {scoreNode("sil", {}), scoreNode("ni", {}), scoreNode("sp", {}),
                    scoreNode("hao", {}), scoreNode("ma", {}), scoreNode("fillerC", {})};
    result.nodes[0].text = "x";
    result.nodes[4].text = "old";
    recogParam param;
    param.language = "chinese";
    assignNodeTexts(result, NI + HAO, param);
    std::vector<std::string> texts;
    for (const cmNode& node : result.nodes) texts.push_back(node.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"", NI, "", HAO, "", ""}));

    param.language = "english";
    assignNodeTexts(result, "good morning", param);
    EXPECT_EQ(result.nodes[1].text, "good");
    EXPECT_EQ(result.nodes[3].text, "morning");

    // Nets that start anywhere keep the texts of the scored nodes.
    param.addLink4startAnywhere = 1;
    result.nodes[0].text = "x";
    result.nodes[1].text = "kept";
    assignNodeTexts(result, "other words", param);
    EXPECT_EQ(result.nodes[0].text, "");
    EXPECT_EQ(result.nodes[1].text, "kept");
}

TEST(markPitchedPhones, unpitchesSilencesAndTheListedBases) {
    scratchDir dir;
    recogParam param;
    param.qiYinFile = dir.write("qiyin.txt", "b\nzh\n");
    cmResult result;
    result.nodes = {scoreNode("x", {scorePhone("b+a", 0, 1), scorePhone("bb+a", 2, 3), scorePhone("zh", 4, 5),
                                    scorePhone("sil+a", 6, 7), scorePhone("sil", 8, 9), scorePhone("sp", 10, 11),
                                    scorePhone("a+b", 12, 13), scorePhone("zh+b+c", 14, 15)})};
    markPitchedPhones(result, param);
    std::vector<bool> pitched;
    for (const cmPhone& phone : result.nodes[0].phones) pitched.push_back(phone.pitched);
    EXPECT_EQ(pitched, (std::vector<bool>{false, true, false, false, false, false, true, false}));

    // No list given: only the silences and pauses are unpitched.
    param.qiYinFile = "";
    markPitchedPhones(result, param);
    pitched.clear();
    for (const cmPhone& phone : result.nodes[0].phones) pitched.push_back(phone.pitched);
    EXPECT_EQ(pitched, (std::vector<bool>{true, true, true, false, false, false, true, true}));

    param.qiYinFile = dir.file("missing.txt");
    EXPECT_NE(errorOf([&] { markPitchedPhones(result, param); }).find("Cannot open file"), std::string::npos);
}

TEST(setNodeVolumes, takesEachNodesFramesThatHaveAVolume) {
    cmResult result;
    result.nodes = {scoreNode("a", {}, 0, 3), scoreNode("b", {}, 4, 12), scoreNode("c", {}, 20, 25),
                    scoreNode("d", {}, -2, 1)};
    result.nodes[2].volume = {7.0f};
    setNodeVolumes(result, {0, 10, 20, 30, 40, 50, 60, 70, 80, 90});
    EXPECT_EQ(result.nodes[0].volume, (std::vector<float>{0, 10, 20, 30}));
    EXPECT_EQ(result.nodes[1].volume, (std::vector<float>{40, 50, 60, 70, 80, 90}));
    EXPECT_TRUE(result.nodes[2].volume.empty());
    EXPECT_EQ(result.nodes[3].volume, (std::vector<float>{0, 10}));
}

TEST(shiftFrames, movesEveryNodeAndPhone) {
    cmResult result;
    result.nodes = {scoreNode("a", {scorePhone("a+b", 0, 4), scorePhone("b", 5, 9)})};
    shiftFrames(result, 12);
    EXPECT_EQ(result.nodes[0].startFrame, 12);
    EXPECT_EQ(result.nodes[0].endFrame, 21);
    EXPECT_EQ(result.nodes[0].phones[1].startFrame, 17);
    EXPECT_EQ(result.nodes[0].phones[1].endFrame, 21);
}
