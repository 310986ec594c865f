// Recognition of the 30 pizza test recordings among the 30 test prompts with
// the externally trained monophones (every right context a copy of its
// phone), with a candidate floor: every prompt must be found.
#include "run/utteranceRun.h"

#include "decoder/macro.h"
#include "run/conditionWave.h"
#include "run/outputSink.h"
#include "run/utility.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace {

const std::string PIZZA = std::string(RECOG_SOURCE_DIR) + "/../shared/anchors/htk-pizza";

// The monophone set with a copy named p+q for every phone p and context q (or "sil").
void writeContextSet(const std::string& from, const std::string& to) {
    macroClass set;
    set.readMacro(from, false);
    std::vector<hmmModel> phones = set.models;
    std::vector<std::string> contexts;
    for (const hmmModel& m : phones)
        if (m.name != "sp") contexts.push_back(m.name);
    for (const hmmModel& p : phones) {
        if (p.name == "sil" || p.name == "sp") continue;
        for (const std::string& q : contexts) {
            hmmModel copy = p;
            copy.name = p.name + "+" + q;
            set.models.push_back(copy);
        }
    }
    set.modelNum = static_cast<int32_t>(set.models.size());
    set.writeMacText(to);
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace

TEST(PizzaAnchor, AllThirtyPromptsAreRecognizedWithACandidateFloor) {
    if (!std::filesystem::exists(PIZZA + "/mac/hmm9.mac")) GTEST_SKIP() << "no " << PIZZA;
    scratchDir dir;
    writeContextSet(PIZZA + "/mac/hmm9.mac", dir.file("pizza.mac"));

    // The lexicon without its word-final "sp", as word<TAB>p_h_o_n_e_s.
    std::ifstream dict(PIZZA + "/lexicon/dict");
    std::set<std::string> entries;
    std::string line;
    while (std::getline(dict, line)) {
        std::istringstream in(line);
        std::string word, phone, pa;
        in >> word;
        if (word.empty() || word.rfind("SENT-", 0) == 0) continue;
        while (in >> phone)
            if (phone != "sp") pa += (pa.empty() ? "" : "_") + phone;
        entries.insert(lower(word) + "\t" + pa);
    }
    std::string wpa;
    for (const std::string& e : entries) wpa += e + "\n";
    dir.write("pizza.wpa", wpa);

    std::ifstream promptFile(PIZZA + "/lexicon/testprompts");
    std::vector<std::string> prompts;
    while (std::getline(promptFile, line)) {
        std::istringstream in(line);
        std::string id, word, text;
        in >> id;
        while (in >> word) text += (text.empty() ? "" : " ") + lower(word);
        if (!id.empty()) prompts.push_back(text);
    }
    ASSERT_EQ(prompts.size(), 30u);
    std::string texts;
    for (const std::string& p : prompts) texts += p + "\n";

    recogParam param;
    param.language = "english";
    param.function = "recog";
    param.macFile = dir.file("pizza.mac");
    param.wpaFile = dir.file("pizza.wpa");
    param.tnmFile = dir.write("pizza.tnm", "");
    param.featureConfigFile = PIZZA + "/config/wav_config";
    param.txtFile = dir.write("prompts.txt", texts);
    param.phoneRank2scoreParamFile = dir.write("rank.prm", "0.1 1 0\n");
    param.scoreDiscountParamFile = dir.write("discount.prm", "0.9 0.9 0.9 0.9 0.9 0.9 0.9\n");
    param.comparisonMode = 1;
    param.maxCandidateNum = 5000;
    param.minCandidateNum = 1000;
    param.probTh = 100000;
    recogResources resources;
    scopedOutputSilence quiet;
    loadResources(param, resourceOptions(), resources);
    ASSERT_EQ(resources.sizes.candidateNum, 1000);

    int correct = 0;
    std::string wrong;
    for (int i = 1; i <= 30; ++i) {
        std::string wav = PIZZA + "/test/test" + std::to_string(i) + ".wav";
        conditionReport report;
        audioRecord audio = readConditionedWave(wav, conditionOptionsOf(param), report);
        cmResult result = runUtterance(resources, audio, sharedNetSettings(resources));
        std::string said = result.texts.empty() ? "" : result.texts[0];
        // Prompts may repeat; the recognized text must be the prompt's words.
        if (said == prompts[static_cast<size_t>(i - 1)])
            ++correct;
        else
            wrong += " test" + std::to_string(i) + "=\"" + said + "\"";
    }
    EXPECT_EQ(correct, 30) << wrong;
}
