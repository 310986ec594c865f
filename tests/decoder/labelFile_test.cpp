#include "decoder/mlf.h"
#include "scoringFixtures.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <string>

TEST(readLabelFile, aFifthFieldStartsANodeAndLaterPhonesJoinIt) {
    scratchDir dir;
    std::string path = dir.write("utt.lab",
                                 "% a comment\n"
                                 "0 1200000 n+i -12.5 ni\n"
                                 "1200000 1500000 i -20.25\n"
                                 "\n"
                                 "1500000 2000000 h+ao -31 hao extra fields\n"
                                 "2000000 2500000 ao -40.5\n");
    cmResult result;
    result.nodes = {scoreNode("old", {})};
    readLabelFile(result, path);
    ASSERT_EQ(result.nodes.size(), 2u);

    const cmNode& ni = result.nodes[0];
    EXPECT_EQ(ni.name, "ni");
    EXPECT_EQ(ni.text, "");
    ASSERT_EQ(ni.phones.size(), 2u);
    EXPECT_EQ(ni.phones[0].name, "n+i");
    EXPECT_EQ(ni.phones[0].startFrame, 0);
    EXPECT_EQ(ni.phones[0].endFrame, 11);
    EXPECT_EQ(ni.phones[0].cumLogLike, -12.5f);
    EXPECT_EQ(ni.phones[1].startFrame, 12);
    EXPECT_EQ(ni.phones[1].endFrame, 14);
    // The node spans its phones and takes the score of the last.
    EXPECT_EQ(ni.startFrame, 0);
    EXPECT_EQ(ni.endFrame, 14);
    EXPECT_EQ(ni.cumLogLike, -20.25f);
    EXPECT_EQ(ni.timberScore, -1.0f);
    EXPECT_EQ(ni.phones[1].phoneRank, -1);

    const cmNode& hao = result.nodes[1];
    EXPECT_EQ(hao.name, "hao");
    EXPECT_EQ(hao.startFrame, 15);
    EXPECT_EQ(hao.endFrame, 24);
    EXPECT_EQ(hao.cumLogLike, -40.5f);
}

TEST(readLabelFile, readsUnparsableNumbersAsZeroAndTruncatesTimesToFrames) {
    scratchDir dir;
    cmResult result;
    readLabelFile(result, dir.write("odd.lab", "x y a+b z w\n99999 199999 c+b 1e2\n2147483647 99999999999 d+b -1\n"));
    ASSERT_EQ(result.nodes.size(), 1u);
    const cmNode& node = result.nodes[0];
    EXPECT_EQ(node.phones[0].startFrame, 0);
    EXPECT_EQ(node.phones[0].endFrame, -1);
    EXPECT_EQ(node.phones[0].cumLogLike, 0.0f);
    EXPECT_EQ(node.phones[1].startFrame, 0);
    EXPECT_EQ(node.phones[1].endFrame, 0);
    EXPECT_EQ(node.phones[1].cumLogLike, 100.0f);
    // Times are 32-bit: a larger one saturates.
    EXPECT_EQ(node.phones[2].startFrame, 21474);
    EXPECT_EQ(node.phones[2].endFrame, 21473);
}

TEST(readLabelFile, refusesPhonesWithoutNodeShortLinesAndMissingFiles) {
    scratchDir dir;
    cmResult result;
    std::string early = dir.write("early.lab", "% header\n0 100000 a+b -1\n100000 200000 c+b -2 w\n");
    EXPECT_EQ(withoutLine(errorOf([&] { readLabelFile(result, early); })),
              "Error: label line \"0 100000 a+b -1\" of " + early +
                  " comes before the first line naming a word or syllable in its fifth field (line N of file mlf)");
    std::string shortLine = dir.write("short.lab", "0 100000 a+b -1 w\n100000 200000 c+b\n");
    EXPECT_EQ(withoutLine(errorOf([&] { readLabelFile(result, shortLine); })),
              "Error: label line \"100000 200000 c+b\" of " + shortLine +
                  " has 3 fields, fewer than start, end, phone and score (line N of file mlf)");
    std::string missing = dir.file("missing.lab");
    EXPECT_NE(errorOf([&] { readLabelFile(result, missing); }).find("Cannot open file " + missing),
              std::string::npos);

    // An empty file gives no nodes.
    readLabelFile(result, dir.write("empty.lab", "% nothing\n"));
    EXPECT_TRUE(result.nodes.empty());
}
