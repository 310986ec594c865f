// Assessments whose search ends on an incomplete path are searched again with
// wider sizes; the candidate floor raises the decoder's sizes.
#include "run/utteranceRun.h"

#include "../programs/pipelineFixtures.h"
#include "decoder/xmlWriter.h"
#include "run/conditionWave.h"
#include "run/outputSink.h"
#include "run/utility.h"

#include <gtest/gtest.h>

using namespace pipelineFixtures;

namespace {

class SearchWidening : public sharedSetupTest {};

struct assessed {
    cmResult result;
    std::string output;
    std::string xml;
};

assessed assess(setup& s, const std::string& extra, const std::vector<std::string>& classes, const std::string& text,
                double seconds = 0.2) {
    recogParam param;
    readRecogParam(s.params("widen.prm", "language=english\nfunction=assess\ncomparisonMode=1\n" + extra), param);
    param.txtFile = text;
    param.wavFile = s.wave("widen.wav", classes, seconds);
    assessed a;
    scopedOutputCapture capture;
    conditionReport report;
    audioRecord audio = readConditionedWave(param.wavFile, conditionOptionsOf(param), report);
    recogResources resources;
    loadResources(param, resourceOptions(), resources);
    a.result = runUtterance(resources, audio, sharedNetSettings(resources));
    a.output = capture.text();
    a.xml = xmlDocument(a.result, resources.models, "english");
    return a;
}

const std::vector<std::string> SPOKEN = {"sil", "b", "a", "d", "c", "a", "c", "a", "b", "c", "d", "sil"};
const char* const TEXT = "three four five one two";

}  // namespace

TEST_F(SearchWidening, AnIncompleteSearchIsRepeatedWiderUntilItCompletes) {
    setup& s = *s_setup;
    assessed narrow = assess(s, "maxCandidateNum=2\n", SPOKEN, TEXT);
    EXPECT_TRUE(narrow.result.pathComplete) << narrow.output;
    EXPECT_GT(narrow.result.searchTries, 1) << narrow.output;
    EXPECT_NE(narrow.output.find("\tThe search ended on an incomplete path with 2 candidates; searching again with 4\n"),
              std::string::npos)
        << narrow.output;
    EXPECT_EQ(narrow.result.discountOccurrence.at(0), 0);
    // Every word of the text is scored.
    int scored = 0;
    for (const cmNode& node : narrow.result.nodes)
        if (!node.text.empty() && node.timberScore >= 0) ++scored;
    EXPECT_EQ(scored, 5);
}

TEST_F(SearchWidening, AnUtteranceTooShortForItsTextKeepsTheIncompletePathAndItsDiscount) {
    setup& s = *s_setup;
    // Five words of two phones in 0.6 s of audio with 30 ms per class: too few frames.
    assessed tooShort = assess(s, "maxCandidateNum=2\n", {"sil", "b", "a", "sil"}, TEXT, 0.03);
    EXPECT_FALSE(tooShort.result.pathComplete);
    EXPECT_EQ(tooShort.result.searchTries, 5);
    EXPECT_EQ(tooShort.result.candidateNum, 32);
    EXPECT_EQ(tooShort.result.discountOccurrence.at(0), 1);
}

TEST_F(SearchWidening, ACompleteFirstSearchIsUnchangedAndTheFloorRaisesTheCount) {
    setup& s = *s_setup;
    assessed plain = assess(s, "", SPOKEN, TEXT);
    EXPECT_TRUE(plain.result.pathComplete);
    EXPECT_EQ(plain.result.searchTries, 1);
    EXPECT_EQ(plain.output.find("incomplete path"), std::string::npos);
    const int32_t ruleCount = plain.result.candidateNum;
    EXPECT_LT(ruleCount, 300);

    // A floor of 0 or below the rule's count changes nothing, byte for byte.
    assessed zero = assess(s, "minCandidateNum=0\n", SPOKEN, TEXT);
    EXPECT_EQ(zero.xml, plain.xml);
    assessed low = assess(s, "minCandidateNum=3\n", SPOKEN, TEXT);
    EXPECT_EQ(low.result.candidateNum, ruleCount);
    EXPECT_EQ(low.xml, plain.xml);

    // A floor above it raises the count, bounded by maxCandidateNum (300 here).
    assessed raised = assess(s, "minCandidateNum=250\n", SPOKEN, TEXT);
    EXPECT_EQ(raised.result.candidateNum, 250);
    assessed capped = assess(s, "minCandidateNum=5000\n", SPOKEN, TEXT);
    EXPECT_EQ(capped.result.candidateNum, 300);
    EXPECT_EQ(capped.result.textIndices, plain.result.textIndices);
}
