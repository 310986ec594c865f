#include "decoder/macro.h"
#include "decoder/stateProb.h"
#include "modelFixtures.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

commandResult convert(const std::string& in, const std::string& out) {
    return runCommand(shellQuote(programPath("recognize-tool")) + " convert-model " + shellQuote(in) + " " +
                      shellQuote(out) + " 2>&1");
}

}  // namespace

TEST(convertModelTool, textToBinaryAndBackKeepsEveryModel) {
    scratchDir dir;
    std::vector<hmmModel> models = {fixtureModel("k+a", 0.3f, 1.7f), fixtureModel("sil", -0.4f, 0.8f),
                                    fixtureModel("sp", 0.1f, 2.2f, 3)};
    setFixtureMixtures(models[0], 1, 1, {0.2f, 0.3f, 0.5f}, {0.1f, 0.7f, -1.3f}, {0.4f, 1.2f, 2.9f});
    const std::string mac = writeFixtureMac(dir.file("in.mac"), fixtureModelSet(models));

    commandResult toBinary = convert(mac, dir.file("out.macb"));
    EXPECT_EQ(toBinary.status, 0);
    EXPECT_NE(toBinary.output.find("\t===> Saved " + dir.file("out.macb") + "\n"), std::string::npos)
        << toBinary.output;
    commandResult toText = convert(dir.file("out.macb"), dir.file("back.mac"));
    EXPECT_EQ(toText.status, 0) << toText.output;
    // The binary file keeps no option line; everything after it is the same text.
    std::string original = readWholeFile(mac), back = readWholeFile(dir.file("back.mac"));
    EXPECT_EQ(original.substr(original.find("~h")), back.substr(back.find("~h")));

    macroClass fromText, fromBinary;
    fromText.readMacro(mac, true);
    fromBinary.readMacro(dir.file("out.macb"), true);
    ASSERT_EQ(fromText.modelNum, 3);
    ASSERT_EQ(fromBinary.modelNum, 3);
    std::vector<float> features(6 * 39);
    for (size_t i = 0; i < features.size(); ++i) features[i] = std::sin(0.05f * static_cast<float>(i));
    probCacheClass textCache, binaryCache;
    textCache.resize(3);
    binaryCache.resize(3);
    for (int32_t m = 0; m < 3; ++m) {
        for (int t = 0; t < 6; ++t)
            for (int32_t s = 0; s < fromText.models[m].stateNum - 2; ++s)
                EXPECT_EQ(textCache.getStateLogProb(&features[t * 39], fromText, m, s, t),
                          binaryCache.getStateLogProb(&features[t * 39], fromBinary, m, s, t));
        if (fromText.models[m].stateNum == 5) {
            EXPECT_EQ(textCache.modelProb(features.data(), 39, 0, 5, fromText, m),
                      binaryCache.modelProb(features.data(), 39, 0, 5, fromBinary, m));
        }
    }
}

TEST(convertModelTool, wrongArgumentsAndExtensions) {
    scratchDir dir;
    commandResult one = runCommand(shellQuote(programPath("recognize-tool")) + " convert-model only.mac");
    EXPECT_EQ(one.status, 2);
    EXPECT_EQ(one.output, "Usage: recognize-tool convert-model [-C featureConfig] IN.mac OUT.macb | IN.macb OUT.mac\n");

    const std::string mac = writeFixtureMac(dir.file("in.mac"), namedFixtureModels({"a"}));
    commandResult badOut = convert(mac, dir.file("out.bin"));
    EXPECT_EQ(badOut.status, 1);
    EXPECT_NE(badOut.output.find("Error in reading \"" + dir.file("out.bin") +
                                 "\": The only allowed extension are \"mac\" and \"macb\""),
              std::string::npos)
        << badOut.output;

    commandResult missing = convert(dir.file("none.mac"), dir.file("out.macb"));
    EXPECT_NE(missing.output.find("Cannot open file " + dir.file("none.mac")), std::string::npos) << missing.output;
}
