// Utterances run over one set of shared resources: alone, one after the other
// and on several threads at once.
#include "run/utteranceRun.h"

#include "../programs/pipelineFixtures.h"
#include "decoder/xmlWriter.h"
#include "run/conditionWave.h"
#include "run/outputSink.h"
#include "run/recogTask.h"
#include "run/utility.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

using namespace pipelineFixtures;

namespace {

class UtteranceRun : public sharedSetupTest {};

// What two runs must agree on.
struct runOutcome {
    std::string error;
    std::vector<int32_t> textIndices;
    float score = 0;
    std::string xml;
    std::vector<int32_t> frames;  // start and end frame of every node and phone
};

runOutcome outcomeOf(const recogResources& resources, const audioRecord& audio, const utteranceSettings& settings) {
    runOutcome o;
    scopedOutputSilence quiet;
    try {
        cmResult result = runUtterance(resources, audio, settings);
        o.textIndices = result.textIndices;
        o.score = result.score;
        o.xml = xmlDocument(result, resources.models, resources.param.language);
        for (const cmNode& node : result.nodes) {
            o.frames.push_back(node.startFrame);
            o.frames.push_back(node.endFrame);
            for (const cmPhone& phone : node.phones) {
                o.frames.push_back(phone.startFrame);
                o.frames.push_back(phone.endFrame);
            }
        }
    } catch (const recogError& e) {
        o.error = e.what();
    }
    return o;
}

void expectSame(const runOutcome& a, const runOutcome& b, const std::string& what) {
    EXPECT_EQ(a.error, b.error) << what;
    EXPECT_EQ(a.textIndices, b.textIndices) << what;
    EXPECT_EQ(a.score, b.score) << what;
    EXPECT_EQ(a.frames, b.frames) << what;
    EXPECT_EQ(a.xml, b.xml) << what;
}

audioRecord conditioned(const std::string& path) {
    conditionReport report;
    scopedOutputSilence quiet;
    return readConditionedWave(path, conditionOptions(), report);
}

// English resources with a shared net over four candidate texts.
void loadEnglish(setup& s, recogResources& resources) {
    std::string texts = s.dir.write("shared-texts.txt", "one two\nthree four\nfive one\ntwo one\n");
    recogParam param;
    readRecogParam(s.params("shared.prm", "language=english\nfunction=recog\ncomparisonMode=1\ntxtFile=" + texts + "\n"),
                   param);
    scopedOutputSilence quiet;
    loadResources(param, resourceOptions(), resources);
}

}  // namespace

TEST_F(UtteranceRun, ASharedNetRunEqualsTheRecognizeProgramsRun) {
    setup& s = *s_setup;
    recogResources resources;
    loadEnglish(s, resources);
    std::string wav = s.wave("u-shared.wav", {"sil", "b", "a", "d", "c", "sil"});
    utteranceSettings settings = sharedNetSettings(resources);
    runOutcome library = outcomeOf(resources, conditioned(wav), settings);
    EXPECT_EQ(library.error, "");
    EXPECT_EQ(library.textIndices, std::vector<int32_t>{1});

    recogParam param = resources.param;
    param.wavFile = wav;
    cmResult result;
    scopedOutputSilence quiet;
    recognizeWaveFile(param, result);
    EXPECT_EQ(result.textIndices, library.textIndices);
    EXPECT_EQ(result.score, library.score);
    EXPECT_EQ(xmlDocument(result, resources.models, "english"), library.xml);
}

TEST_F(UtteranceRun, OwnTextsAreAssessedAndRecognizedWithoutTouchingTheSharedNet) {
    setup& s = *s_setup;
    recogResources resources;
    loadEnglish(s, resources);
    const int32_t sharedNodes = resources.net.nodeNum;
    audioRecord audio = conditioned(s.wave("u-own.wav", {"sil", "c", "d", "a", "b", "sil"}));

    utteranceSettings assess = sharedNetSettings(resources);
    assess.ownTexts = true;
    assess.literalTexts = true;
    assess.function = "assess";
    assess.txtFile = "two one";
    runOutcome assessed = outcomeOf(resources, audio, assess);
    EXPECT_EQ(assessed.error, "");
    EXPECT_EQ(assessed.textIndices, std::vector<int32_t>{0});
    EXPECT_GT(assessed.score, 0.0f);

    utteranceSettings recog = assess;
    recog.function = "recog";
    recog.txtFile = "five one#two one#one two";
    runOutcome recognized = outcomeOf(resources, audio, recog);
    EXPECT_EQ(recognized.error, "");
    EXPECT_EQ(recognized.textIndices, std::vector<int32_t>{1});

    // A literal text is never read as a file, even when one of that name exists.
    std::string file = s.dir.write("texts-as-file.txt", "one two\n");
    recog.txtFile = file;
    runOutcome literal = outcomeOf(resources, audio, recog);
    EXPECT_NE(literal.error.find("Found no pronunciation entry"), std::string::npos) << literal.error;

    // Missing words are named in the message, and no file is left behind.
    assess.txtFile = "two zebra one";
    std::filesystem::remove("missingWord.txt");
    runOutcome missing = outcomeOf(resources, audio, assess);
    EXPECT_NE(missing.error.find("zebra"), std::string::npos) << missing.error;
    EXPECT_FALSE(std::filesystem::exists("missingWord.txt"));

    EXPECT_EQ(resources.net.nodeNum, sharedNodes);
    runOutcome shared = outcomeOf(resources, audio, sharedNetSettings(resources));
    EXPECT_EQ(shared.textIndices, std::vector<int32_t>{3});
}

TEST_F(UtteranceRun, ConcurrencyRunsOnFourThreadsEqualTheSequentialRuns) {
    setup& s = *s_setup;
    recogResources resources;
    loadEnglish(s, resources);
    const char* const words[] = {"one", "two", "three", "four", "five"};
    const std::vector<std::vector<std::string>> sounds = {
        {"a", "b"}, {"c", "d"}, {"b", "a"}, {"d", "c"}, {"a", "c"}};

    // 100 utterances: recognition on the shared net, recognition among their
    // own candidates, and assessment of their own text, mixed.
    struct job {
        audioRecord audio;
        utteranceSettings settings;
    };
    std::vector<job> jobs;
    std::vector<audioRecord> waves;
    for (int w = 0; w < 10; ++w) {
        std::vector<std::string> classes = {"sil"};
        std::string text;
        for (int k = 0; k < 2 + w % 3; ++k) {
            int word = (w * 3 + k * 2) % 5;
            classes.insert(classes.end(), sounds[static_cast<size_t>(word)].begin(),
                           sounds[static_cast<size_t>(word)].end());
            text += std::string(text.empty() ? "" : " ") + words[word];
        }
        classes.push_back("sil");
        audioRecord audio = conditioned(s.wave("c" + std::to_string(w) + ".wav", classes, 0.2, 11 + w));
        for (int v = 0; v < 10; ++v) {
            job j{audio, sharedNetSettings(resources)};
            if (v % 3 == 1) {
                j.settings.ownTexts = true;
                j.settings.literalTexts = true;
                j.settings.txtFile = text + "#one two#" + words[v % 5] + " " + words[(v + 1) % 5];
            } else if (v % 3 == 2) {
                j.settings.ownTexts = true;
                j.settings.literalTexts = true;
                j.settings.function = "assess";
                j.settings.txtFile = v == 5 ? std::string(words[v % 5]) + " " + words[(v + 2) % 5] : text;
            }
            jobs.push_back(j);
        }
    }

    std::vector<runOutcome> sequential;
    for (const job& j : jobs) sequential.push_back(outcomeOf(resources, j.audio, j.settings));

    std::vector<runOutcome> parallel(jobs.size());
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (size_t i = t; i < jobs.size(); i += 4) parallel[i] = outcomeOf(resources, jobs[i].audio, jobs[i].settings);
        });
    for (std::thread& t : threads) t.join();

    int assessed = 0;
    for (size_t i = 0; i < jobs.size(); ++i) {
        expectSame(sequential[i], parallel[i], "utterance " + std::to_string(i));
        if (sequential[i].error.empty() && jobs[i].settings.function == "assess") ++assessed;
    }
    EXPECT_GE(assessed, 25);
}

TEST_F(UtteranceRun, ConcurrencyCapturedOutputStaysWithItsThread) {
    std::string first, second;
    std::thread a([&] {
        scopedOutputCapture capture;
        for (int i = 0; i < 200; ++i) sinkPrintf("a%d\n", i);
        first = capture.text();
    });
    std::thread b([&] {
        scopedOutputCapture capture;
        for (int i = 0; i < 200; ++i) sinkPrintf("b%d\n", i);
        {
            scopedOutputSilence quiet;
            sinkPrintf("dropped\n");
        }
        second = capture.text();
    });
    a.join();
    b.join();
    EXPECT_EQ(first.size(), std::string("a0\n").size() * 10 + std::string("a10\n").size() * 90 +
                                std::string("a100\n").size() * 100);
    EXPECT_EQ(first.find('b'), std::string::npos);
    EXPECT_EQ(second.find("dropped"), std::string::npos);
    EXPECT_EQ(second.rfind("b199\n"), second.size() - 5);
    // A line longer than the formatting buffer arrives whole.
    scopedOutputCapture capture;
    std::string longLine(3000, 'x');
    sinkPrintf("%s|\n", longLine.c_str());
    EXPECT_EQ(capture.text(), longLine + "|\n");
}
