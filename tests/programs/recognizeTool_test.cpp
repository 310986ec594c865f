#include "decoder/cmResult.h"
#include "frontend/CaudioFile.h"
#include "frontend/waveFixtures.h"
#include "lib/pitch.h"
#include "run/conditionWave.h"
#include "run/features.h"
#include "run/recogParam.h"
#include "run/utility.h"
#include "testUtil.h"
#include "tools/train.h"
#include "tools/trainFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

const double PI = 3.14159265358979323846;

// 1.5 s at 16 kHz: quiet, a 170 Hz voice with a DC offset, quiet.
std::vector<int32_t> utterance() {
    std::vector<int32_t> s;
    uint32_t seed = 99;
    for (int32_t i = 0; i < 24000; ++i) {
        seed = seed * 1103515245u + 12345u;
        double v = static_cast<double>((seed >> 16) & 0xff) - 128;
        if (i >= 6000 && i < 18000)
            for (int h = 1; h <= 5; ++h) v += 4000.0 / h * std::sin(2 * PI * 170 * h * i / 16000.0 + h);
        s.push_back(static_cast<int32_t>(v) + 300);
    }
    return s;
}

std::string tool() { return shellQuote(programPath("recognize-tool")); }

// What the recognizer computes in memory for the same wave and switches.
featureClass inMemoryFeatures(const std::string& wav, const std::string& config, bool useEpd,
                              std::vector<int32_t>& conditioned) {
    featureOptions options;
    options.featureConfigFile = config;
    options.useEpd = useEpd ? 1 : 0;
    conditionReport report;
    testing::internal::CaptureStdout();
    audioRecord audio = readConditionedWave(wav, conditionOptions(), report);
    conditioned = audio.samples;
    featureClass f = computeFeatures(options, conditioned.data(), static_cast<int32_t>(conditioned.size()),
                                     audio.sampleRate, audio.bitsPerSample, 320, 160);
    testing::internal::GetCapturedStdout();
    return f;
}

uint32_t be32(const std::string& d, size_t at) {
    return (uint32_t(uint8_t(d[at])) << 24) | (uint32_t(uint8_t(d[at + 1])) << 16) |
           (uint32_t(uint8_t(d[at + 2])) << 8) | uint32_t(uint8_t(d[at + 3]));
}

}  // namespace

TEST(RecognizeTool, UsageWithoutArguments) {
    commandResult bare = runCommand(tool());
    EXPECT_EQ(bare.status, 2);
    EXPECT_NE(bare.output.find("features -C featureConfig [-E] [-P ptParamFile pitchOut] wavIn featOut"),
              std::string::npos)
        << bare.output;
    commandResult help = runCommand(tool() + " --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.output, bare.output);
    // An incomplete features command line prints the subcommand's usage.
    commandResult partial = runCommand(tool() + " features -C x.cfg only.wav");
    EXPECT_EQ(partial.status, 2);
    EXPECT_NE(partial.output.find("Usage: recognize-tool features"), std::string::npos) << partial.output;
    commandResult unknown = runCommand(tool() + " features -C x.cfg -Q a.wav b.mfc");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.output.find("Unknown or incomplete option -Q"), std::string::npos) << unknown.output;
    EXPECT_EQ(runCommand(tool() + " no-such-subcommand").status, 2);
    EXPECT_EQ(runCommand(tool() + " train -C x.cfg list out.mac").status, 2);
}

TEST(RecognizeTool, FeaturesFileMatchesTheInMemoryFeatures) {
    scratchDir dir;
    std::string wav = dir.write("utt.wav", waveFixtures::pcmWave(utterance(), 16000, 16));
    std::string config = dir.write("mfcc.cfg", "TARGETKIND = MFCC_E_D_A\n");
    std::string ptParamFile = dir.write("pt.prm", "medianFilterOrder=3\n");
    for (bool useEpd : {false, true}) {
        std::string out = dir.file(useEpd ? "epd.mfc" : "all.mfc");
        std::string pitchOut = dir.file("pitch.txt");
        commandResult r = runCommand(tool() + " features -C " + shellQuote(config) + (useEpd ? " -E" : "") + " -P " +
                                     shellQuote(ptParamFile) + " " + shellQuote(pitchOut) + " " + shellQuote(wav) +
                                     " " + shellQuote(out));
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find(" sec: EPD\n"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("\t===> Saved " + out + "\n"), std::string::npos) << r.output;

        std::vector<int32_t> conditioned;
        featureClass f = inMemoryFeatures(wav, config, useEpd, conditioned);
        std::string bytes = readWholeFile(out);
        ASSERT_EQ(bytes.size(), 12 + f.m_data.size() * 4);
        EXPECT_EQ(be32(bytes, 0), uint32_t(f.m_frameNum));
        EXPECT_EQ(be32(bytes, 4), 100000u);
        EXPECT_EQ(be32(bytes, 8), (156u << 16) | 838u);
        for (size_t i = 0; i < f.m_data.size(); ++i) {
            uint32_t bits;
            std::memcpy(&bits, &f.m_data[i], 4);
            ASSERT_EQ(be32(bytes, 12 + 4 * i), bits) << "value " << i;
        }
        if (useEpd) {
            EXPECT_GT(f.m_beginFrameId, 0);
            EXPECT_LT(f.m_frameNum, (24000 - 320) / 160 + 1);
        } else {
            EXPECT_EQ(f.m_frameNum, (24000 - 320) / 160 + 1);
        }

        // The pitch of the whole conditioned wave, one "%g" line per frame.
        testing::internal::CaptureStdout();
        std::vector<float> pitch =
            wholeUtterancePitch(conditioned.data(), static_cast<int32_t>(conditioned.size()),
                                initPtParam(16000, 16, 1, ptParamFile));
        testing::internal::GetCapturedStdout();
        std::string expected;
        for (float p : pitch) expected += formatString("%g\n", p);
        EXPECT_EQ(readWholeFile(pitchOut), expected);
        EXPECT_EQ(pitch.size(), size_t((24000 - 480) / 160));
        EXPECT_NEAR(medianOfNonZero(pitch), freqToSemitone(170), 0.1);
    }
}

TEST(RecognizeTool, CompressionQualifiersAreNotWritten) {
    scratchDir dir;
    std::string wav = dir.write("utt.wav", waveFixtures::pcmWave(utterance(), 16000, 16));
    std::string config = dir.write("htk.cfg", "TARGETKIND=MFCC_0_D_A_C_K\nWINDOWSIZE=250000.0\nTARGETRATE=100000.0\n");
    std::string out = dir.file("o.mfc");
    commandResult r = runCommand(tool() + " features -C " + shellQuote(config) + " " + shellQuote(wav) + " " +
                                 shellQuote(out));
    ASSERT_EQ(r.status, 0) << r.output;
    std::string bytes = readWholeFile(out);
    ASSERT_GE(bytes.size(), 12u);
    EXPECT_EQ(be32(bytes, 8), (156u << 16) | (6u + 0x2000 + 0x100 + 0x200));
    EXPECT_EQ(be32(bytes, 0), uint32_t((24000 - 400) / 160 + 1));
}

TEST(RecognizeTool, ErrorsGoThroughTheErrorPath) {
    scratchDir dir;
    std::string wav = dir.write("utt.wav", waveFixtures::pcmWave(utterance(), 16000, 16));
    std::string missing = dir.file("missing.cfg");
    commandResult r = runCommand(tool() + " features -C " + shellQuote(missing) + " " + shellQuote(wav) + " " +
                                 shellQuote(dir.file("o.mfc")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Can't open config file " + missing + " \n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Cannot open feature configuration file " + missing + " (line "), std::string::npos)
        << r.output;

    std::string config = dir.write("bad.cfg", "NUMCEPS=13\n");
    r = runCommand(tool() + " features -C " + shellQuote(config) + " " + shellQuote(wav) + " " +
                   shellQuote(dir.file("o.mfc")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("NUMCEPS=13"), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(dir.file("o.mfc")));  // nothing written

    std::string good = dir.write("good.cfg", "");
    std::string badPitch = dir.write("bad.prm", "noSuchKey=1\n");
    r = runCommand(tool() + " features -C " + shellQuote(good) + " -P " + shellQuote(badPitch) + " " +
                   shellQuote(dir.file("p.txt")) + " " + shellQuote(wav) + " " + shellQuote(dir.file("o.mfc")));
    EXPECT_NE(r.output.find("unknown key = noSuchKey"), std::string::npos) << r.output;
}

namespace {

// A small training corpus and the command line that trains on it.
struct trainCorpus {
    scratchDir dir;
    trainParam param = trainFixtures::corpusParam(dir, 12, 51);
    std::string command(const std::string& list, const std::string& out, const std::string& lexicon = "") const {
        std::string c = tool() + " train";
        for (const std::string& option : trainFixtures::corpusOptions(param))
            c += " " + shellQuote(option == param.lexiconPath && !lexicon.empty() ? lexicon : option);
        return c + " " + shellQuote(list) + " " + shellQuote(out) + " 2>&1";
    }
};

}  // namespace

TEST(RecognizeTool, TrainEndsWithStatusOneOnErrorsAndChecksItsOutputFirst) {
    trainCorpus corpus;
    const scratchDir& dir = corpus.dir;
    const std::string list = corpus.param.listPath, out = dir.file("m.mac");

    commandResult r = runCommand(corpus.command(list, out, dir.file("none.wpa")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("cannot open the lexicon " + dir.file("none.wpa")), std::string::npos) << r.output;

    const std::string firstWave = splitString(readLines(list, '%')[0], '\t')[0];
    r = runCommand(corpus.command(dir.write("unknown.list", firstWave + "\tba zz\n"), out));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("are not in the lexicon"), std::string::npos) << r.output;

    // A missing wave: a model file that was not there is not left behind,
    // one that was there is kept as it was.
    const std::string gone = dir.write("gone.list", readWholeFile(list) + dir.file("gone.wav") + "\tba\n");
    r = runCommand(corpus.command(gone, out));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("cannot read the wave " + dir.file("gone.wav")), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(std::filesystem::exists(dir.file("m.count")));
    dir.write("m.mac", "an older model set");
    EXPECT_EQ(runCommand(corpus.command(gone, out)).status, 1);
    EXPECT_EQ(readWholeFile(out), "an older model set");

    // An output that cannot be written is found before any wave is read.
    r = runCommand(corpus.command(list, dir.file("no/such/dir/m.mac")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("cannot write the model file " + dir.file("no/such/dir/m.mac")), std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("Computed the features"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Read the lexicon"), std::string::npos) << r.output;

    // The error log holds the message once, with one "Error: " before it.
    scratchDir logs;
    r = runCommand("TEMP=" + shellQuote(logs.m_path) + " " + corpus.command(gone, out));
    EXPECT_EQ(r.status, 1);
    std::vector<std::string> logFiles;
    for (const auto& entry : std::filesystem::directory_iterator(logs.m_path)) logFiles.push_back(entry.path());
    ASSERT_EQ(logFiles.size(), 1u);
    const std::string log = readWholeFile(logFiles[0]);
    EXPECT_EQ(log.rfind("Error: cannot read the wave " + dir.file("gone.wav"), 0), 0u) << log;
    EXPECT_EQ(log.find("Error: Error:"), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

TEST(RecognizeTool, TheTrainedHeaderSurvivesConvertModelAndTheEngineReader) {
    trainCorpus corpus;
    const scratchDir& dir = corpus.dir;
    const std::string mac = dir.file("m.mac");
    commandResult r = runCommand(corpus.command(corpus.param.listPath, mac));
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string text = readWholeFile(mac);
    EXPECT_EQ(text.substr(0, text.find("~h")), "~o\n<STREAMINFO> 3 13 13 13\n<VECSIZE> 39 <MFCC_E_D_A> <DIAGC>\n");

    // Text to text keeps the line; the binary file keeps none, and -C gives it back.
    r = runCommand(tool() + " convert-model " + shellQuote(mac) + " " + shellQuote(dir.file("copy.mac")));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(readWholeFile(dir.file("copy.mac")), text);
    r = runCommand(tool() + " convert-model " + shellQuote(mac) + " " + shellQuote(dir.file("m.macb")));
    ASSERT_EQ(r.status, 0) << r.output;
    r = runCommand(tool() + " convert-model -C " + shellQuote(corpus.param.featureConfigPath) + " " +
                   shellQuote(dir.file("m.macb")) + " " + shellQuote(dir.file("back.mac")));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(readWholeFile(dir.file("back.mac")), text);

    macroClass fromText, fromBinary;
    fromText.readMacro(mac, true);
    fromBinary.readMacro(dir.file("m.macb"), true);
    EXPECT_EQ(fromText.optionText, "<VECSIZE> 39 <MFCC_E_D_A> <DIAGC>");
    EXPECT_EQ(fromText.streamNum, 3);
    ASSERT_EQ(fromText.modelNum, fromBinary.modelNum);
    for (int32_t m = 0; m < fromText.modelNum; ++m) {
        EXPECT_EQ(fromText.models[m].name, fromBinary.models[m].name);
        EXPECT_EQ(fromText.models[m].state[0].stream[0].mixture[0].mean[3],
                  fromBinary.models[m].state[0].stream[0].mixture[0].mean[3]);
    }
}
