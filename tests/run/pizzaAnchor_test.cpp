// Recognition of the 30 pizza test recordings among the 30 test prompts with
// the externally trained monophones (every right context a copy of its
// phone), with a candidate floor: every prompt must be found.
#include "run/utteranceRun.h"

#include "decoder/macro.h"
#include "run/conditionWave.h"
#include "run/outputSink.h"
#include "run/utility.h"
#include "pizzaFixtures.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

const std::string PIZZA = std::string(RECOG_SOURCE_DIR) + "/../shared/anchors/htk-pizza";

}  // namespace

TEST(PizzaAnchor, AllThirtyPromptsAreRecognizedWithACandidateFloor) {
    if (!std::filesystem::exists(PIZZA + "/mac/hmm9.mac")) GTEST_SKIP() << "no " << PIZZA;
    scratchDir dir;
    pizzaFixtures::writeContextSet(PIZZA + "/mac/hmm9.mac", dir.file("pizza.mac"));
    dir.write("pizza.wpa", pizzaFixtures::wpaOfDictionary(PIZZA + "/lexicon/dict"));
    std::vector<std::string> prompts = pizzaFixtures::promptsOf(PIZZA + "/lexicon/testprompts");
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
