#include "decoder/macro.h"
#include "decoder/stateProb.h"
#include "modelFixtures.h"
#include "run/utility.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

std::string v13(float x) {
    std::string s;
    for (int d = 0; d < 13; ++d) s += " " + formatString("%g", x);
    return s + "\n";
}

std::string mixture(float mean, float variance, float gconst) {
    return "<MEAN> 13\n" + v13(mean) + "<VARIANCE> 13\n" + v13(variance) + formatString("<GCONST> %g\n", gconst);
}

// A one-stream text model file. Model "b" (first in the file) has one
// emitting state given by <SWEIGHTS> alone. Model "a" has three: state 2
// declares 3 mixtures but lists 2 (one with an <RCLASS> line) before <STATE>,
// state 3 has one mixture, state 4 declares 3 and lists 1 before <TRANSP>.
std::string oneStreamFile() {
    return "~o\n<STREAMINFO> 1 13\n<VECSIZE> 13<NULLD><MFCC_0><DIAGC>\n"
           "~h \"b\"\n<BEGINHMM>\n<NUMSTATES> 3\n<STATE> 2\n<SWEIGHTS> 1\n 1.0\n" +
           mixture(1, 0, 5) +
           "<TRANSP> 3\n 0 1 0\n 0 0.7 0.3\n 0 0 0\n<ENDHMM>\n"
           "~h \"a\"\n<BEGINHMM>\n<NUMSTATES> 5\n"
           "<STATE> 2\n<NUMMIXES> 3\n<SWEIGHTS> 1\n 0.9\n"
           "<MIXTURE> 1 0.25\n" +
           mixture(2, 1e35f, 6) + "<MIXTURE> 2 0.75\n<RCLASS> 1\n" + mixture(3, 2, 7) +
           "<STATE> 3\n<SWEIGHTS> 1\n 1.0\n" + mixture(4, 4, 8) +
           "<STATE> 4\n<NUMMIXES> 3\n<SWEIGHTS> 1\n 1.0\n<MIXTURE> 1 1.0\n" + mixture(5, 5, 9) +
           "<TRANSP> 5\n 0 1 0 0 0\n 0 0.6 0.4 0 0\n 0 0 0.5 0.5 0\n 0 0 0 0.8 0.2\n 0 0 0 0 0\n<ENDHMM>\n";
}

// A three-stream text model file of one model "x" with one emitting state
// whose first stream declares 2 mixtures but lists 1 before <STREAM> 2.
std::string threeStreamFile() {
    return "~o <STREAMINFO> 3 13 13 13\n<VECSIZE> 39<NULLD><MFCC_E_D_A><DIAGC>\n"
           "~h \"x\"\n<BEGINHMM>\n<NUMSTATES> 3\n<STATE> 2\n<NUMMIXES> 2 1 1\n<SWEIGHTS> 3\n 1 1 1\n"
           "<STREAM> 1\n<MIXTURE> 1 0.5\n" +
           mixture(1, 1, 1) + "<STREAM> 2\n" + mixture(2, 1, 1) + "<STREAM> 3\n" + mixture(3, 1, 1) +
           "<TRANSP> 3\n 0 1 0\n 0 0.5 0.5\n 0 0 0\n<ENDHMM>\n";
}

std::string replaceFirst(std::string s, const std::string& from, const std::string& to) {
    size_t pos = s.find(from);
    EXPECT_NE(pos, std::string::npos) << from;
    if (pos != std::string::npos) s.replace(pos, from.size(), to);
    return s;
}

// Little-endian binary model file builder, independent of the writer.
struct binaryBuilder {
    std::string bytes;
    binaryBuilder& i32(int32_t v) {
        for (int b = 0; b < 4; ++b) bytes += static_cast<char>((static_cast<uint32_t>(v) >> (8 * b)) & 0xff);
        return *this;
    }
    binaryBuilder& f32(float f) {
        int32_t v;
        std::memcpy(&v, &f, 4);
        return i32(v);
    }
    binaryBuilder& name(const std::string& n) {
        std::string field = n;
        field.resize(50, '\0');
        bytes += field;
        return *this;
    }
    // One emitting state of one stream with one mixture.
    binaryBuilder& state1(float mean, float variance) {
        f32(1.0f).i32(1).f32(1.0f);
        for (int d = 0; d < 13; ++d) f32(mean);
        for (int d = 0; d < 13; ++d) f32(variance);
        return f32(30.0f);
    }
};

// A one-stream binary file with one 3-state model "sp": self-loop 0.7, exit 0.3.
std::string spBinary() {
    binaryBuilder b;
    b.i32(1).i32(1).i32(13).name("sp").i32(3).state1(1.0f, 2.0f);
    for (float t : {0.0f, 1.0f, 0.0f, 0.0f, 0.7f, 0.3f, 0.0f, 0.0f, 0.0f}) b.f32(t);
    return b.bytes;
}

void expectSameModels(const macroClass& x, const macroClass& y) {
    ASSERT_EQ(x.modelNum, y.modelNum);
    ASSERT_EQ(x.streamNum, y.streamNum);
    for (int32_t m = 0; m < x.modelNum; ++m) {
        const hmmModel& a = x.models[m];
        const hmmModel& b = y.models[m];
        SCOPED_TRACE(a.name);
        EXPECT_EQ(a.name, b.name);
        ASSERT_EQ(a.stateNum, b.stateNum);
        EXPECT_EQ(0, std::memcmp(a.transP, b.transP, sizeof a.transP));
        for (int32_t s = 0; s < a.stateNum - 2; ++s)
            for (int32_t k = 0; k < x.streamNum; ++k) {
                EXPECT_EQ(a.state[s].streamWeight[k], b.state[s].streamWeight[k]);
                const hmmStream& p = a.state[s].stream[k];
                const hmmStream& q = b.state[s].stream[k];
                ASSERT_EQ(p.mixture.size(), q.mixture.size());
                EXPECT_EQ(0, std::memcmp(p.mixture.data(), q.mixture.data(), sizeof(gaussMixture) * p.mixture.size()));
            }
    }
}

}  // namespace

TEST(macroRead, onlyMacAndMacbExtensionsInTheirTwoCasesAreAccepted) {
    scratchDir dir;
    std::string text = oneStreamFile();
    const std::string good = dir.write("good.mac", text);
    for (const char* bad : {"models.Mac", "models", "models.macB", "models.txt"}) {
        std::string path = dir.write(bad, text);
        macroClass set;
        set.readMacro(good, true);
        std::string message = errorOf([&] { set.readMacro(path, true); });
        EXPECT_EQ(message.find(formatString("Error in reading \"%s\": The only allowed extension are \"mac\" and "
                                            "\"macb\" (line ",
                                            path.c_str())),
                  0u)
            << message;
        EXPECT_EQ(message.substr(message.size() - 12), " of macro) \n") << message;
        EXPECT_EQ(set.modelNum, 0);
        EXPECT_TRUE(set.models.empty());
    }
    macroClass set;
    set.readMacro(dir.write("upper.MAC", text), true);
    EXPECT_EQ(set.modelNum, 2);
    set.readMacro(dir.write("upper.MACB", spBinary()), true);
    EXPECT_EQ(set.modelNum, 1);
}

TEST(macroRead, textFileTagRules) {
    scratchDir dir;
    macroClass set;
    set.readMacro(dir.write("m.mac", oneStreamFile()), false);
    ASSERT_EQ(set.modelNum, 2);
    EXPECT_EQ(set.streamNum, 1);
    EXPECT_EQ(set.streamWidth[0], 13);
    EXPECT_EQ(set.optionText, "<VECSIZE> 13<NULLD><MFCC_0><DIAGC>");
    // Without conversion the file order stays.
    EXPECT_EQ(set.models[0].name, "b");
    EXPECT_EQ(set.models[1].name, "a");

    // <SWEIGHTS> without <NUMMIXES>: one mixture of weight 1.
    const hmmState& b2 = set.models[0].state[0];
    EXPECT_EQ(b2.stream[0].mixture.size(), 1u);
    EXPECT_EQ(b2.stream[0].mixture[0].weight, 1.0f);
    EXPECT_EQ(b2.stream[0].mixture[0].mean[12], 1.0f);
    EXPECT_EQ(b2.stream[0].mixture[0].gconst, 5.0f);
    EXPECT_EQ(set.models[0].transP[1][1], 0.7f);
    EXPECT_EQ(set.models[0].transP[1][2], 0.3f);

    // A list that ends early (before <STATE>, before <TRANSP>) leaves empty
    // slots; <RCLASS> is skipped.
    const hmmModel& a = set.models[1];
    EXPECT_EQ(a.stateNum, 5);
    EXPECT_EQ(a.state[0].streamWeight[0], 0.9f);
    EXPECT_EQ(a.state[0].stream[0].mixture.size(), 3u);
    EXPECT_EQ(a.state[0].stream[0].mixture[0].weight, 0.25f);
    EXPECT_EQ(a.state[0].stream[0].mixture[1].weight, 0.75f);
    EXPECT_EQ(a.state[0].stream[0].mixture[1].mean[0], 3.0f);
    EXPECT_EQ(a.state[0].stream[0].mixture[1].gconst, 7.0f);
    EXPECT_EQ(a.state[0].stream[0].mixture[2].weight, 0.0f);
    EXPECT_EQ(a.state[1].stream[0].mixture.size(), 1u);
    EXPECT_EQ(a.state[1].stream[0].mixture[0].mean[5], 4.0f);
    EXPECT_EQ(a.state[2].stream[0].mixture.size(), 3u);
    EXPECT_EQ(a.state[2].stream[0].mixture[0].mean[0], 5.0f);
    EXPECT_EQ(a.state[2].stream[0].mixture[1].weight, 0.0f);
    EXPECT_EQ(a.transP[3][4], 0.2f);

    // Sorted and converted.
    set.readMacro(dir.file("m.mac"), true);
    EXPECT_EQ(set.models[0].name, "a");
    const hmmStream& s = set.models[0].state[0].stream[0];
    EXPECT_FLOAT_EQ(s.mixture[0].weight, std::log(0.25f));
    EXPECT_EQ(s.mixture[2].weight, -1e10f);                 // empty slot never contributes
    EXPECT_EQ(s.mixture[0].variance[0], 1e-30f);            // 1e35 -> 1e-30
    EXPECT_EQ(set.models[1].state[0].stream[0].mixture[0].variance[0], 1e30f);  // 0 -> 1e30
    EXPECT_EQ(set.models[1].state[0].stream[0].mixture[0].weight, 0.0f);      // ln 1
    EXPECT_FLOAT_EQ(s.mixture[1].variance[0], 0.5f);
    EXPECT_FLOAT_EQ(set.models[0].transP[1][1], std::log(0.6f));
    EXPECT_EQ(set.models[0].transP[1][3], -1e10f);  // a zero probability is log zero
    EXPECT_EQ(set.models[1].transP[3][3], 0.0f);    // beyond the model's 3 states: untouched
}

TEST(macroRead, threeStreamListEndingBeforeTheNextStream) {
    scratchDir dir;
    macroClass set;
    set.readMacText(dir.write("x.mac", threeStreamFile()));
    ASSERT_EQ(set.modelNum, 1);
    const hmmState& st = set.models[0].state[0];
    EXPECT_EQ(st.stream[0].mixture.size(), 2u);
    EXPECT_EQ(st.stream[0].mixture[0].weight, 0.5f);
    EXPECT_EQ(st.stream[0].mixture[1].weight, 0.0f);
    EXPECT_EQ(st.stream[1].mixture[0].mean[0], 2.0f);
    EXPECT_EQ(st.stream[2].mixture[0].mean[0], 3.0f);
    EXPECT_EQ(st.stream[2].mixture[0].weight, 1.0f);

    testing::internal::CaptureStdout();
    std::string message =
        errorOf([&] {
            set.readMacText(dir.write("y.mac", replaceFirst(threeStreamFile(), "<STREAM> 2", "<STRM> 2")));
        });
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("modelId=0 (x), stateId=2\n"), std::string::npos) << out;
    EXPECT_EQ(message.find("str1=<STRM>, temp=2, Cannot find \"<STREAM>\" (line "), 0u) << message;
}

TEST(macroRead, malformedTextFilesAreRefusedWithTheirMessages) {
    scratchDir dir;
    const std::string name50(50, 'n');
    struct caseData {
        const char* from;
        std::string to;
        std::string message;
    } cases[] = {
        {"<BEGINHMM>", "<BEGIN>", "modelId=0, str1=<BEGIN>, Cannot find \"<BEGINHMM>\" (line "},
        {"<NUMMIXES> 3", "<NUMMIXES> 33", "Error: mixtureNum=33 exceeds MAX_MIXTURE_NUM=32 (line "},
        {"<NUMMIXES> 3", "<NUMMIXES> -1", "Error: mixtureNum=-1 in state 2 of model 1 (a)"},
        {"<SWEIGHTS> 1\n 1.0\n<MEAN>", "<SWEIGHT> 1\n 1.0\n<MEAN>",
         "ERROR: fail to read <NUMMIXES> or <SWEIGHTS> at modelId = 0, stateId = 2 (line "},
        {"<SWEIGHTS> 1\n 1.0\n<MEAN>", "<SWEIGHTS> 1\n 1.0\n<MIXTURE> 1 1.0\n<MEAN>",
         "Error: Cannot find \"<MEAN>\" (line "},
        {"<MEAN> 13", "<MEANS> 13", "Error: Cannot find \"<MEAN>\" (line "},
        {"<MEAN> 13", "<MEAN> 12", "Error: MAX_PARAM_NUM = 13 != 12! (line "},
        {"<VARIANCE> 13", "<VARIANCE> 14", "Error: MAX_PARAM_NUM = 13 != 14! (line "},
        {"<VARIANCE> 13", "<VAR> 13", "Cannot find \"<VARIANCE>\" (line "},
        {"<TRANSP> 3", "<TRANS> 3", "Error: Cannot find \"<TRANSP>\" (line "},
        {"<ENDHMM>", "<END>", "Error: Not reading <ENDHMM>, modelId=0 (line "},
        {"<NUMSTATES> 3", "<NUMSTATES> 6", "Error: model 0 (b) of "},
        {"<NUMSTATES> 3", "<NUMSTATES> 2", "Error: model 0 (b) of "},
        {"<STREAMINFO> 1 13", "<STREAMINFO> 1 12", "Error: stream 1 of "},
        {"<STREAMINFO> 1 13", "<STREAMINFO> 4 13 13 13 13", "Error: "},
        {"~h \"b\"", "~h \"" + name50 + "\"", "Error: model 0 of "},
        {" 0 0.7 0.3", " 0 0.7x 0.3", "Error: \"0.7x\" is not a number in model 0 (b) of "},
    };
    for (const caseData& c : cases) {
        SCOPED_TRACE(c.to);
        std::string path = dir.write("bad.mac", replaceFirst(oneStreamFile(), c.from, c.to));
        macroClass set;
        testing::internal::CaptureStdout();
        std::string message = errorOf([&] { set.readMacro(path, true); });
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(message.find(c.message), 0u) << message;
        EXPECT_NE(message.find(" of macro)"), std::string::npos) << message;
    }
}

TEST(macroRead, aTextFileEndingInsideAModelNamesTheFileAndTheModel) {
    scratchDir dir;
    const std::string text = oneStreamFile();
    const size_t aStart = text.find("~h \"a\"");
    std::string path = dir.write("cut.mac", text.substr(0, aStart + 100));
    macroClass set;
    EXPECT_EQ(errorOf([&] { set.readMacText(path); }).find("Error: " + path + " ends inside model 1 (a) (line "), 0u);

    // Bare "~h" lines end at the first model.
    std::string bare = "~o <STREAMINFO> 1 13 <VECSIZE> 13\n";
    for (int i = 0; i < 100000; ++i) bare += "~h\n";
    path = dir.write("bare.mac", bare);
    EXPECT_EQ(errorOf([&] { set.readMacText(path); }).find("modelId=0, str1=~h, Cannot find \"<BEGINHMM>\""), 0u);

    // Every cut fails cleanly, except those that leave model "b" complete
    // and no "~h" line of a second model.
    const size_t bComplete = text.find("<ENDHMM>") + 8;
    const size_t complete = text.rfind("<ENDHMM>") + 8;
    for (size_t len = 0; len < complete; len += 13) {
        if (len >= bComplete && len < aStart + 2) continue;
        std::string cutPath = dir.write("cut.mac", text.substr(0, len));
        testing::internal::CaptureStdout();
        std::string message = errorOf([&] { set.readMacText(cutPath); });
        testing::internal::GetCapturedStdout();
        EXPECT_NE(message, "") << len;
    }
}

TEST(macroRead, missingGconstIsComputedFromTheVariancesWithOneWarning) {
    scratchDir dir;
    std::string text = oneStreamFile();
    for (const char* g : {"<GCONST> 5\n", "<GCONST> 6\n", "<GCONST> 8\n"}) text = replaceFirst(text, g, "");
    std::string path = dir.write("g.mac", text);
    macroClass set;
    testing::internal::CaptureStdout();
    set.readMacText(path);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("Warning: mixtures without <GCONST> in " + path), 0u) << out;
    EXPECT_EQ(out.find("Warning", 1), std::string::npos) << out;

    const double ln2pi = std::log(2 * M_PI);
    // Variance 0 counts as 1e-30; 1e35 as it is; 4 as it is.
    EXPECT_FLOAT_EQ(set.models[0].state[0].stream[0].mixture[0].gconst, 13 * (ln2pi + std::log(1e-30)));
    EXPECT_FLOAT_EQ(set.models[1].state[0].stream[0].mixture[0].gconst, 13 * (ln2pi + std::log(1e35)));
    EXPECT_EQ(set.models[1].state[0].stream[0].mixture[1].gconst, 7.0f);
    EXPECT_FLOAT_EQ(set.models[1].state[1].stream[0].mixture[0].gconst, 13 * (ln2pi + std::log(4.0)));
    // The look-ahead token after the missing constant is read normally.
    EXPECT_EQ(set.models[1].state[1].stream[0].mixture[0].mean[0], 4.0f);
    EXPECT_EQ(set.models[1].state[2].stream[0].mixture[0].mean[0], 5.0f);
}

TEST(macroBinary, aThreeStateModelHasTheSameTransitionsAsFromText) {
    scratchDir dir;
    macroClass fromBinary;
    fromBinary.readMacro(dir.write("sp.macb", spBinary()), false);
    std::string text = "~o <STREAMINFO> 1 13 <VECSIZE> 13\n~h \"sp\"\n<BEGINHMM>\n<NUMSTATES> 3\n<STATE> 2\n"
                       "<SWEIGHTS> 1 1.0\n" +
                       mixture(1, 2, 30) + "<TRANSP> 3\n 0 1 0\n 0 0.7 0.3\n 0 0 0\n<ENDHMM>\n";
    macroClass fromText;
    fromText.readMacro(dir.write("sp.mac", text), false);
    EXPECT_EQ(fromBinary.models[0].transP[1][1], 0.7f);
    EXPECT_EQ(fromBinary.models[0].transP[1][2], 0.3f);
    EXPECT_EQ(fromBinary.models[0].transP[2][2], 0.0f);
    expectSameModels(fromBinary, fromText);
}

TEST(macroBinary, hostileFilesEndWithAClearError) {
    scratchDir dir;
    macroClass set;
    const std::string good = spBinary();
    set.readMacBinary(dir.write("good.macb", good));
    ASSERT_EQ(set.modelNum, 1);

    for (size_t len = 0; len < good.size(); len += len < 70 ? 1 : 5) {
        std::string message = errorOf([&] { set.readMacBinary(dir.write("cut.macb", good.substr(0, len))); });
        EXPECT_NE(message, "") << len;
    }
    std::string path = dir.write("cut.macb", good.substr(0, good.size() - 1));
    EXPECT_EQ(errorOf([&] { set.readMacBinary(path); }).find("Error: " + path + " is truncated or corrupt: 1 models "),
              0u);
    // A five-state model: its file is large enough for the count, so the cut
    // is found where the bytes run out.
    binaryBuilder five;
    five.i32(1).i32(1).i32(13).name("m").i32(5).state1(0, 1).state1(1, 1).state1(2, 1);
    for (int t = 0; t < 25; ++t) five.f32(0.5f);
    path = dir.write("five.macb", five.bytes.substr(0, five.bytes.size() - 1));
    EXPECT_EQ(errorOf([&] { set.readMacBinary(path); }).find("Error: " + path + " is truncated in model 0 (line "),
              0u);

    auto patched = [&](size_t offset, int32_t value) {
        std::string bytes = good;
        binaryBuilder b;
        b.i32(value);
        bytes.replace(offset, 4, b.bytes);
        return dir.write("bad.macb", bytes);
    };
    const size_t stateNumAt = 12 + 50, mixtureNumAt = stateNumAt + 4 + 4;
    struct caseData {
        size_t offset;
        int32_t value;
        const char* message;
    } cases[] = {
        {0, -1, "gives a model count of -1"},
        {0, 0, "gives a model count of 0"},
        {0, 1000000000, "1000000000 models cannot fit"},
        {4, 4, "has 4 streams"},
        {4, -3, "has -3 streams"},
        {8, 12, "is 12 values wide"},
        {stateNumAt, 6, "has 6 states"},
        {stateNumAt, -1, "has -1 states"},
        {mixtureNumAt, 33, "has 33 mixtures"},
        {mixtureNumAt, -5, "has -5 mixtures"},
        {mixtureNumAt, 2, "is truncated in model 0"},
        {mixtureNumAt, 0x7fffffff, "has 2147483647 mixtures"},
    };
    for (const caseData& c : cases) {
        std::string message = errorOf([&] { set.readMacBinary(patched(c.offset, c.value)); });
        EXPECT_NE(message.find(c.message), std::string::npos) << c.message << ": " << message;
    }

    std::string longName = good;
    longName.replace(12, 50, std::string(50, 'x'));
    EXPECT_NE(errorOf([&] { set.readMacBinary(dir.write("name.macb", longName)); }).find("longer than 49"),
              std::string::npos);
}

TEST(macroWrite, textAndBinaryRoundTripsGiveIdenticalModelsAndLikelihoods) {
    scratchDir dir;
    std::vector<hmmModel> models = {fixtureModel("b+c", 0.5f, 2.0f), fixtureModel("sp", -1.0f, 0.5f, 3),
                                    fixtureModel("a+b", 1.25f, 1.5f, 4, 3, 0.3f)};
    // Two mixtures in one stream, a list with an empty slot in another, odd values.
    setFixtureMixtures(models[0], 1, 0, {0.3f, 0.7f}, {0.1f, -0.2f}, {1.0f, 3.0f});
    setFixtureMixtures(models[0], 2, 2, {0.6f, 0.4f, 0.0f}, {1.0f / 3, 2.0f / 7, 0.0f}, {0.9f, 1.1f, 0.0f});
    models[2].state[0].stream[1].mixture[0].mean[7] = 1e-7f;
    models[2].state[1].streamWeight[2] = 0.25f;
    macroClass original = fixtureModelSet(models);

    original.writeMacText(dir.file("o.mac"));
    macroClass text;
    text.readMacro(dir.file("o.mac"), false);
    EXPECT_EQ(text.optionText, original.optionText);
    expectSameModels(original, text);

    text.writeMacBinary(dir.file("o.macb"));
    macroClass binary;
    binary.readMacro(dir.file("o.macb"), false);
    expectSameModels(original, binary);

    binary.writeMacText(dir.file("back.mac"));
    macroClass back;
    back.readMacro(dir.file("back.mac"), false);
    expectSameModels(original, back);

    macroClass x, y;
    x.readMacro(dir.file("o.mac"), true);
    y.readMacro(dir.file("o.macb"), true);
    std::vector<float> frame(39);
    for (int t = 0; t < 20; ++t) {
        for (int d = 0; d < 39; ++d) frame[d] = std::sin(0.37f * (t * 39 + d));
        for (int32_t m = 0; m < x.modelNum; ++m)
            for (int32_t s = 0; s < x.models[m].stateNum - 2; ++s)
                EXPECT_EQ(computeStateLogProb(frame.data(), x, m, s), computeStateLogProb(frame.data(), y, m, s));
    }

    EXPECT_NE(errorOf([&] { x.writeMacText(dir.file("c.mac")); }).find("converted"), std::string::npos);
    EXPECT_NE(errorOf([&] { x.writeMacBinary(dir.file("c.macb")); }).find("converted"), std::string::npos);
}

TEST(macroSet, sortsByUnsignedBytesAndFindsModels) {
    macroClass set = convertedFixture(namedFixtureModels({"zz", "\xa4\x40", "a+b", "A", "a+c", "a+sil2", "b+c"}));
    std::vector<std::string> names;
    names.push_back("stale");
    set.getModelNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"A", "a+b", "a+c", "a+sil2", "b+c", "zz", "\xa4\x40"}));
    for (int32_t i = 0; i < set.modelNum; ++i) EXPECT_EQ(set.findModelIndex(names[i]), i);

    testing::internal::CaptureStdout();
    for (const char* unit : {"sil", "sp", "filler", "fillerC", "fillerV"}) EXPECT_EQ(set.findModelIndex(unit), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    struct caseData {
        const char* name;
        int32_t index;
    } cases[] = {{"a+z", 3}, {"b+z", 4}, {"q+z", 0}};
    for (const caseData& c : cases) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(set.findModelIndex(c.name), c.index);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  formatString("Warning of model substitution: %s is replaced by %s\n", c.name,
                               names[c.index].c_str()));
    }
    std::string message = errorOf([&] { set.findModelIndex("silence"); });
    EXPECT_EQ(message.find("Error in macroClass::findSubstituteModel(): Cannot find '+' sign, modelStr=silence (line "),
              0u)
        << message;
    EXPECT_EQ(message.substr(message.size() - 12), " of macro) \n");
}

TEST(macroSet, modelCountFile) {
    scratchDir dir;
    macroClass set = convertedFixture(namedFixtureModels({"a", "b", "c"}));
    set.readModelCountFile(dir.write("counts.txt", "% counts\na\t100\nb\t0\n\nc\t-4\nd\t9\n"));
    EXPECT_FLOAT_EQ(set.models[0].logCount, std::log(100.0f));
    EXPECT_EQ(set.models[1].logCount, 0.0f);
    EXPECT_EQ(set.models[2].logCount, 0.0f);

    testing::internal::CaptureStdout();
    std::string path = dir.write("mismatch.txt", "a\t1\nx\t20\n");
    set.readModelCountFile(path);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find(formatString("Warning: Mismatched model count file %s! (line ", path.c_str())), 0u) << out;
    EXPECT_EQ(out.find("Warning", 1), std::string::npos) << out;
    EXPECT_EQ(set.models[0].logCount, 0.0f);
    EXPECT_FLOAT_EQ(set.models[1].logCount, std::log(20.0f));  // the mismatched line is used
    EXPECT_EQ(set.models[2].logCount, 0.0f);                   // no line for it

    set.readModelCountFile(dir.file("absent.txt"));
    for (const hmmModel& m : set.models) EXPECT_EQ(m.logCount, 0.0f);
}
