#include "lexicon/net.h"

#include <gtest/gtest.h>

#include "lexiconFixtures.h"
#include "netFixtures.h"
#include "testUtil.h"

namespace {

using strings = std::vector<std::string>;

// Builds a tree net and reads it with the syllable dictionary.
netClass treeNet(const strings& sylVs, bool keywordMode, bool softSil, bool leadingTrailingSil,
                 const recogParam& param = plainParam()) {
    textClass text = sylText(sylVs);
    buildTreeNet(text, param, keywordMode, softSil, leadingTrailingSil);
    dictClass dict = syllableDict();
    netClass net;
    net.netReadLines(text.netVs, dict);
    return net;
}

strings treeLines(const strings& sylVs, bool softSil = false, bool leadingTrailingSil = true) {
    textClass text = sylText(sylVs);
    buildTreeNet(text, plainParam(), false, softSil, leadingTrailingSil);
    return text.netVs;
}

// ---------------------------------------------------------------------------
// Tree nets

TEST(buildTreeNet, twoSequencesShareTheirFirstSyllable) {
    strings lines = treeLines({"ni-men\t1", "ni-hao\t0"});
    EXPECT_EQ(lines, (strings{"VERSION=1.0", "N=7\tL=7", "I=0\tW=!NULL@-1@", "I=1\tW=!NULL@-1@", "I=2\tW=sil@-1@",
                              "I=3\tW=sil@-1@", "I=4\tW=ni@-1@", "I=5\tW=hao@-1@", "I=6\tW=men@-1@", "J=0\tS=0\tE=2",
                              "J=1\tS=3\tE=1", "J=2\tS=2\tE=4", "J=3\tS=4\tE=5", "J=4\tS=5\tE=3", "J=5\tS=4\tE=6",
                              "J=6\tS=6\tE=3"}));

    dictClass dict = syllableDict();
    netClass net;
    net.netReadLines(lines, dict);
    EXPECT_EQ(net.nodeNum, 7);
    EXPECT_EQ(net.linkNum, 7);
    ASSERT_EQ(net.nodes.size(), 7u);
    std::vector<int32_t> expectedIndex = {-1, -1, dict.pronDictFind("sil"), dict.pronDictFind("sil"),
                                          dict.pronDictFind("ni"), dict.pronDictFind("hao"), dict.pronDictFind("men")};
    std::vector<std::vector<int32_t>> expectedNext = {{2}, {}, {4}, {1}, {5, 6}, {3}, {3}};
    std::vector<std::vector<int32_t>> expectedReal = {{2}, {}, {4}, {}, {5, 6}, {3}, {3}};
    for (size_t i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        const netNode& node = net.nodes[i];
        EXPECT_EQ(node.sylIndex, expectedIndex[i]);
        EXPECT_EQ(node.sourceWord, "");
        EXPECT_EQ(node.nextNodes, expectedNext[i]);
        EXPECT_EQ(node.nextRealNodes, expectedReal[i]);
        EXPECT_EQ(node.nodeFlag, 0);
        EXPECT_EQ(node.penalty, 0.0f);
    }
    EXPECT_EQ(netWords(net), (strings{"!NULL", "!NULL", "sil", "sil", "ni", "hao", "men"}));
    EXPECT_EQ(net.maxFanOut(), 2);
}

TEST(buildTreeNet, aChainWithAndWithoutSoftSilences) {
    EXPECT_EQ(linkLinesOf(treeLines({"a-b-c"})), (linkList{{0, 2}, {3, 1}, {2, 4}, {4, 5}, {5, 6}, {6, 3}}));

    strings soft = treeLines({"a-b-c\t0"}, true);
    EXPECT_EQ(nodeWordsOf(soft), (strings{"!NULL", "!NULL", "sil", "sil", "a", "b", "c", "sil", "sil"}));
    EXPECT_EQ(linkLinesOf(soft),
              (linkList{{0, 2}, {3, 1}, {2, 4}, {4, 5}, {5, 6}, {6, 3}, {4, 7}, {7, 5}, {5, 8}, {8, 6}}));

    // Without leading and trailing silence the chain starts at node 2.
    strings bare = treeLines({"a-b-c"}, true, false);
    EXPECT_EQ(nodeWordsOf(bare), (strings{"!NULL", "!NULL", "a", "b", "c", "sil", "sil"}));
    EXPECT_EQ(linkLinesOf(bare), (linkList{{0, 2}, {2, 3}, {3, 4}, {4, 1}, {2, 5}, {5, 3}, {3, 6}, {6, 4}}));

    // Soft silences only pad a single sequence.
    EXPECT_EQ(treeLines({"a-b", "a-c"}, true), treeLines({"a-b", "a-c"}, false));
}

TEST(buildTreeNet, duplicateSequencesAndDoubleDashesChangeNothing) {
    EXPECT_EQ(treeLines({"ni-hao\t0", "ni-hao\t1", "ni-men"}), treeLines({"ni-hao", "ni-men"}));
    EXPECT_EQ(treeLines({"a--b-c"}), treeLines({"a-b-c"}));
    EXPECT_EQ(treeLines({"-a-b-"}), treeLines({"a-b"}));
    // The empty piece of "--" does not shift the soft silences off the chain.
    EXPECT_EQ(treeLines({"a--b"}, true), treeLines({"a-b"}, true));

    // "a--b-c" sorts before "a-b": the shorter sequence lies on the longer path
    // and must still end at its last syllable.
    linkList withDash = linkLinesOf(treeLines({"a--b-c", "a-b"}));
    linkList plain = linkLinesOf(treeLines({"a-b-c", "a-b"}));
    std::sort(withDash.begin(), withDash.end());
    std::sort(plain.begin(), plain.end());
    EXPECT_EQ(withDash, plain);
    EXPECT_NE(std::find(plain.begin(), plain.end(), std::make_pair(5, 3)), plain.end());
}

TEST(buildTreeNet, sequencesDivergingLaterDoNotReuseStaleSyllables) {
    // After "a-d" ends, "a-d-c" must not attach c under the b of "a-b-c".
    netClass net = treeNet({"a-b-c", "a-d-c", "a-d"}, false, false, true);
    EXPECT_EQ(netWords(net), (strings{"!NULL", "!NULL", "sil", "sil", "a", "b", "c", "d", "c"}));
    EXPECT_EQ(netLinks(net), (linkList{{0, 2}, {2, 4}, {3, 1}, {4, 5}, {4, 7}, {5, 6}, {6, 3}, {7, 3}, {7, 8}, {8, 3}}));
}

TEST(buildTreeNet, keywordModeLoopsFillersOnTheSilenceNodes) {
    netClass net = treeNet({"a-b"}, true, false, true);
    EXPECT_EQ(netWords(net), (strings{"!NULL", "!NULL", "!NULL", "!NULL", "a", "b", "fillerC", "fillerC", "fillerV",
                                      "fillerV", "sil", "sil"}));
    EXPECT_EQ(net.nodes[2].sylIndex, -1);
    EXPECT_EQ(net.nodes[2].nextNodes, (std::vector<int32_t>{4, 6, 8, 10}));
    EXPECT_EQ(net.nodes[3].nextNodes, (std::vector<int32_t>{1, 7, 9, 11}));
    for (int32_t filler : {6, 8, 10}) EXPECT_EQ(net.nodes[filler].nextNodes, (std::vector<int32_t>{2}));
    for (int32_t filler : {7, 9, 11}) EXPECT_EQ(net.nodes[filler].nextNodes, (std::vector<int32_t>{3}));
    // The null hubs are looked through.
    EXPECT_EQ(net.nodes[0].nextRealNodes, (std::vector<int32_t>{4, 6, 8, 10}));
    EXPECT_EQ(net.nodes[5].nextRealNodes, (std::vector<int32_t>{7, 9, 11}));
    EXPECT_EQ(net.nodes[6].nextRealNodes, (std::vector<int32_t>{4, 6, 8, 10}));

    net.setNodePenalties(-7.5f);
    for (size_t i = 0; i < net.nodes.size(); ++i) {
        SCOPED_TRACE(i);
        bool filler = net.nodes[i].word.compare(0, 6, "filler") == 0;
        EXPECT_EQ(net.nodes[i].penalty, filler ? -7.5f : 0.0f);
        EXPECT_EQ(net.nodes[i].nodeFlag, 1);
    }

    textClass tooSmall = sylText({"a"});
    EXPECT_NE(errorOf([&] { buildTreeNet(tooSmall, plainParam(), true, false, false); }).find("keyword mode"),
              std::string::npos);
}

TEST(buildTreeNet, noSequenceIsRefused) {
    textClass text;
    EXPECT_EQ(withoutLineNumbers(errorOf([&] { buildTreeNet(text, plainParam(), false, false, true); })),
              "Error: m_sylVs.size()=0 at line N of file text!");
}

// ---------------------------------------------------------------------------
// Link options

TEST(linkOptions, allFiveRunInOrderAgainstTheLinksAddedBefore) {
    recogParam param = plainParam();
    param.addLink4stopAnywhere = 1;
    param.addLink4startAnywhere = 1;
    param.addLink4forwardJump = 1;
    param.addLink4skippableTrailingSil = 1;
    param.addLink4skippableLeadingSil = 1;
    textClass text = sylText({"a-b-c"});
    testing::internal::CaptureStdout();
    buildTreeNet(text, param, false, false, true);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(withoutLineNumbers(out),
              "\tAdd links for stop anywhere...   (line N in text)\n"
              "\tAdd links for start anywhere...  (line N in text)\n"
              "\tAdd links for forward jump...    (line N in text)\n"
              "\tAdd links for skippable trailing sil...    (line N in text)\n"
              "\tAdd links for skippable leading sil...     (line N in text)\n");
    EXPECT_EQ(linkLinesOf(text.netVs), (linkList{{0, 2}, {3, 1}, {2, 4}, {4, 5}, {5, 6}, {6, 3}, {4, 3}, {5, 3}, {2, 5},
                                                 {2, 6}, {4, 6}, {4, 1}, {5, 1}, {6, 1}, {0, 4}, {0, 5}, {0, 6}}));
}

TEST(linkOptions, silenceNodesAreNotRealButForwardJumpTakesThem) {
    std::vector<workNode> nodes = {{"!NULL", ""}, {"!NULL", ""}, {"sil", ""}, {"sil", ""},
                                   {"a", ""},     {"sp", ""},    {"b", ""},   {"sil", ""}};
    std::vector<workLink> base = {{0, 2}, {3, 1}, {2, 4}, {4, 5}, {5, 6}, {6, 3}};

    std::vector<workLink> links = base;
    addLinksForStopAnywhere(nodes, links);
    ASSERT_EQ(links.size(), base.size() + 1);
    EXPECT_EQ(links.back().from, 4);
    EXPECT_EQ(links.back().to, 3);

    links = base;
    addLinksForStartAnywhere(nodes, links);
    ASSERT_EQ(links.size(), base.size() + 1);
    EXPECT_EQ(links.back().to, 6);

    links = base;
    addLinksForSkippableTrailingSil(nodes, links);
    ASSERT_EQ(links.size(), base.size() + 1);  // only b ends at node 3
    EXPECT_EQ(links.back().from, 6);
    EXPECT_EQ(links.back().to, 1);

    links = base;
    addLinksForSkippableLeadingSil(nodes, links);
    ASSERT_EQ(links.size(), base.size() + 1);
    EXPECT_EQ(links.back().from, 0);
    EXPECT_EQ(links.back().to, 4);

    // Nodes 4..7: 6 pairs, of which 4->5 and 5->6 exist; sp is a source too.
    links = base;
    addLinksForForwardJump(nodes, links);
    EXPECT_EQ(links.size(), base.size() + 4);
    nodes[5].word = "!NULL";
    links = base;
    addLinksForForwardJump(nodes, links);
    EXPECT_EQ(links.size(), base.size() + 3);  // 4->6, 4->7, 6->7

    // Fewer than five nodes: nothing.
    std::vector<workNode> small(nodes.begin(), nodes.begin() + 4);
    links = {{0, 2}, {3, 1}};
    addLinksForStopAnywhere(small, links);
    addLinksForStartAnywhere(small, links);
    addLinksForForwardJump(small, links);
    addLinksForSkippableTrailingSil(small, links);
    addLinksForSkippableLeadingSil(small, links);
    EXPECT_EQ(links.size(), 2u);
}

TEST(linkOptions, forwardJumpAmongUnlinkedNodesAddsAllPairs) {
    for (int n : {1, 2, 5, 9}) {
        SCOPED_TRACE(n);
        strings sylVs;
        for (int i = 0; i < n; ++i) sylVs.push_back(std::string(1, static_cast<char>('a' + i)));
        recogParam param = plainParam();
        param.addLink4forwardJump = 1;
        textClass text = sylText(sylVs);
        testing::internal::CaptureStdout();
        buildTreeNet(text, param, false, false, true);
        testing::internal::GetCapturedStdout();
        size_t links = linkLinesOf(text.netVs).size();
        EXPECT_EQ(links, 2u + 2u * n + static_cast<size_t>(n * (n - 1) / 2));
    }
}

// ---------------------------------------------------------------------------
// Sausage nets

class sausageNet : public testing::Test {
protected:
    void SetUp() override {
        m_dict = syllableDict();
        m_dict.m_wpa = {makeWpaEntry("x", {"x2", "x1", "x2"}), makeWpaEntry("y", {"y2", "y1"}),
                        makeWpaEntry("z", {"z1", "z2"})};
        m_param = plainParam("english");
    }
    textClass textOf(const std::string& normalized) {
        textClass text;
        text.m_txtVs = {normalized};
        text.m_txtVsNormalized = {normalized};
        return text;
    }
    dictClass m_dict;
    recogParam m_param;
};

TEST_F(sausageNet, threeWordsOfTwoPasWithSoftSilences) {
    m_param.usePaddedSoftSil = 1;
    textClass text = textOf("x y z");
    buildSausageNet(text, m_dict, m_param);
    EXPECT_EQ(nodeWordsOf(text.netVs),
              (strings{"!NULL", "!NULL", "sil", "sil", "x1", "x2", "sil", "y1", "y2", "sil", "z1", "z2"}));
    EXPECT_EQ(linkLinesOf(text.netVs),
              (linkList{{0, 2}, {3, 1}, {2, 4}, {2, 5}, {4, 6}, {5, 6}, {6, 7}, {6, 8}, {4, 7}, {5, 7}, {4, 8},
                        {5, 8}, {7, 9}, {8, 9}, {9, 10}, {9, 11}, {7, 10}, {8, 10}, {7, 11}, {8, 11}, {10, 3}, {11, 3}}));

    netClass net;
    net.netReadLines(text.netVs, m_dict);
    strings sources;
    for (const netNode& node : net.nodes) sources.push_back(node.sourceWord);
    EXPECT_EQ(sources, (strings{"", "", "", "", "x", "x", "", "y", "y", "", "z", "z"}));
    EXPECT_EQ(net.nodes[7].sylIndex, m_dict.pronDictFind("y1"));
    EXPECT_EQ(net.nodes[4].nextRealNodes, (std::vector<int32_t>{6, 7, 8}));
    EXPECT_EQ(net.maxFanOut(), 3);
}

TEST_F(sausageNet, withoutSoftSilencesColumnsFollowEachOther) {
    textClass text = textOf("x y z");
    buildSausageNet(text, m_dict, m_param);
    EXPECT_EQ(nodeWordsOf(text.netVs), (strings{"!NULL", "!NULL", "sil", "sil", "x1", "x2", "y1", "y2", "z1", "z2"}));
    EXPECT_EQ(linkLinesOf(text.netVs), (linkList{{0, 2}, {3, 1}, {2, 4}, {2, 5}, {4, 6}, {5, 6}, {4, 7}, {5, 7}, {6, 8},
                                                 {7, 8}, {6, 9}, {7, 9}, {8, 3}, {9, 3}}));
}

TEST_F(sausageNet, aTextWithoutWordsLeavesNoPathToTheEnd) {
    m_param.usePaddedSoftSil = 1;
    textClass text = textOf("");
    buildSausageNet(text, m_dict, m_param);
    EXPECT_EQ(text.netVs, (strings{"VERSION=1.0", "N=4\tL=2", "I=0\tW=!NULL@-1@", "I=1\tW=!NULL@-1@", "I=2\tW=sil@-1@",
                                   "I=3\tW=sil@-1@", "J=0\tS=0\tE=2", "J=1\tS=3\tE=1"}));
}

TEST_F(sausageNet, missingWordsByLanguage) {
    textClass text = textOf("x q");
    testing::internal::CaptureStdout();
    std::string message = errorOf([&] { buildSausageNet(text, m_dict, m_param); });
    std::string out = testing::internal::GetCapturedStdout();
    std::string warning = "Warning: Found no pinyin for \"q\" in \"x q\". Use \"a\" instead.\n";
    EXPECT_EQ(out.substr(0, warning.size()), warning);
    EXPECT_EQ(withoutLineNumbers(message),
              "Error: Found no pronunciation entry for q. Please add the pronunciation to wpaAddendaFile. (line N of file "
              "text)");

    // Japanese words are one placeholder "X" per byte.
    m_param.language = "japanese";
    text = textOf("q");
    testing::internal::CaptureStdout();
    message = errorOf([&] { buildSausageNet(text, m_dict, m_param); });
    testing::internal::GetCapturedStdout();
    EXPECT_NE(message.find("\"X\""), std::string::npos) << message;

    // Chinese: the character's column holds the PA "a".
    const std::string NI = "\xa7\x41", HAO = "\xa6\x6e";
    m_param.language = "chinese";
    m_dict.m_wpa = {makeWpaEntry(HAO, {"hao"})};
    text = textOf(NI + HAO);
    testing::internal::CaptureStdout();
    buildSausageNet(text, m_dict, m_param);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Warning: Found no pinyin for \"" + NI + "\" in \"" + NI + HAO + "\". Use \"a\" instead.\n");
    netClass net;
    net.netReadLines(text.netVs, m_dict);
    EXPECT_EQ(netWords(net), (strings{"!NULL", "!NULL", "sil", "sil", "a", "hao"}));
    EXPECT_EQ(net.nodes[4].sourceWord, NI);
    EXPECT_EQ(netLinks(net), (linkList{{0, 2}, {2, 4}, {3, 1}, {4, 5}, {5, 3}}));
}

TEST_F(sausageNet, onlyASingleTextCanBeBuilt) {
    textClass text = textOf("x");
    text.m_txtVs.push_back("y");
    EXPECT_EQ(withoutLineNumbers(errorOf([&] { buildSausageNet(text, m_dict, m_param); })),
              "Error: m_txtVs.size()=!1, which cannot be transformed into sausage net at line N of file text!");
}

// ---------------------------------------------------------------------------
// Successors through null nodes

strings nullChainNet() {
    return {"VERSION=1.0", "N=7\tL=10", "I=0\tW=!NULL", "I=1\tW=!NULL", "I=2\tW=!Null", "I=3\tW=!null@7",
            "I=4\tW=a",    "I=5\tW=b",  "I=6\tW=c",
            // 0->1 reaches the end directly and contributes nothing.
            "J=0\tS=0\tE=1", "J=1\tS=0\tE=2", "J=2\tS=2\tE=3", "J=3\tS=3\tE=4", "J=4\tS=3\tE=5", "J=5\tS=2\tE=5",
            "J=6\tS=0\tE=6", "J=7\tS=4\tE=1", "J=8\tS=5\tE=1", "J=9\tS=6\tE=1"};
}

TEST(resolveSuccessors, nullNodesAreLookedThroughKeepingDuplicates) {
    dictClass dict = syllableDict();
    netClass net;
    net.netReadLines(nullChainNet(), dict);
    EXPECT_EQ(net.nodes[0].nextRealNodes, (std::vector<int32_t>{4, 5, 5, 6}));
    EXPECT_EQ(net.nodes[2].nextRealNodes, (std::vector<int32_t>{4, 5, 5}));
    EXPECT_EQ(net.nodes[3].nextRealNodes, (std::vector<int32_t>{4, 5}));
    EXPECT_TRUE(net.nodes[4].nextRealNodes.empty());
    EXPECT_EQ(net.maxFanOut(), 4);

    net.nodes[6].nextNodes = {2, 4};
    net.resolveSuccessors(6);
    EXPECT_EQ(net.nodes[6].nextRealNodes, (std::vector<int32_t>{4, 5, 5, 4}));
    EXPECT_NE(errorOf([&] { net.resolveSuccessors(7); }), "");
    EXPECT_EQ(netClass().maxFanOut(), 0);
}

TEST(resolveSuccessors, cyclesOfNullNodesAreRefused) {
    dictClass dict = syllableDict();
    netClass net;
    strings cycle = {"V", "N=5\tL=5", "I=0\tW=!NULL", "I=1\tW=!NULL", "I=2\tW=!NULL", "I=3\tW=!NULL", "I=4\tW=a",
                     "J=0\tS=0\tE=2", "J=1\tS=2\tE=3", "J=2\tS=3\tE=2", "J=3\tS=3\tE=4", "J=4\tS=4\tE=1"};
    EXPECT_NE(errorOf([&] { net.netReadLines(cycle, dict); }).find("cycle"), std::string::npos);
    strings selfLoop = {"V", "N=4\tL=3", "I=0\tW=!NULL", "I=1\tW=!NULL", "I=2\tW=!NULL", "I=3\tW=a",
                        "J=0\tS=0\tE=2", "J=1\tS=2\tE=2", "J=2\tS=2\tE=3"};
    EXPECT_NE(errorOf([&] { net.netReadLines(selfLoop, dict); }).find("cycle"), std::string::npos);
}

TEST(resolveSuccessors, anExplodingLadderOfNullNodesIsRefused) {
    // 40 layers of two null nodes, each linked to both nodes of the next layer:
    // 2^40 paths to the single word node.
    const int layers = 40;
    strings lines = {"V", ""};
    lines.push_back("I=0\tW=!NULL");
    lines.push_back("I=1\tW=!NULL");
    for (int i = 0; i < 2 * layers; ++i) lines.push_back("I=x\tW=!NULL");
    const int word = 2 + 2 * layers;
    lines.push_back("I=x\tW=a");
    strings links = {"J=x\tS=0\tE=2", "J=x\tS=0\tE=3"};
    for (int layer = 0; layer + 1 < layers; ++layer)
        for (int a = 0; a < 2; ++a)
            for (int b = 0; b < 2; ++b)
                links.push_back(formatString("J=x\tS=%d\tE=%d", 2 + 2 * layer + a, 2 + 2 * (layer + 1) + b));
    links.push_back(formatString("J=x\tS=%d\tE=%d", word - 2, word));
    links.push_back(formatString("J=x\tS=%d\tE=%d", word - 1, word));
    links.push_back(formatString("J=x\tS=%d\tE=1", word));
    lines[1] = formatString("N=%d\tL=%d", word + 1, static_cast<int>(links.size()));
    lines.insert(lines.end(), links.begin(), links.end());
    dictClass dict = syllableDict();
    netClass net;
    EXPECT_NE(errorOf([&] { net.netReadLines(lines, dict); }).find("expand"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Reading net text

TEST(netReadLines, theFormsOfTheWordField) {
    dictClass dict = unitDict({"a", "b", "c", "d", "e", "f", "word"});
    strings lines = {"whatever", "N=9\tL=0", "I=0\tW=!NULL", "I=1\tW=!NULL",
                     "I=7\tW=word \t\r",                 // word alone: looked up; trailing blanks dropped
                     "I=3\tW=word@5",                    // index given: no lookup
                     "I=4\tW=word@5@a@b",                // source word after the second "@"
                     "I=5\tW=!null@7",                   // null node whatever follows
                     "I=6\tW=word@-1@src",               // -1: looked up
                     "I=7\tW=word@junk@x",               // not a number: 0
                     "I=8\tW=b@@@"};                     // empty index is 0, source word "@"
    netClass net;
    net.netReadLines(lines, dict);
    ASSERT_EQ(net.nodes.size(), 9u);
    std::vector<int32_t> indices;
    strings sources;
    for (const netNode& node : net.nodes) {
        indices.push_back(node.sylIndex);
        sources.push_back(node.sourceWord);
    }
    EXPECT_EQ(indices, (std::vector<int32_t>{-1, -1, 6, 5, 5, -1, 6, 0, 0}));
    EXPECT_EQ(sources, (strings{"", "", "", "", "a@b", "", "src", "x", "@"}));
    EXPECT_EQ(net.nodes[5].word, "!null");
    EXPECT_EQ(net.nodes[2].word, "word");
}

TEST(netReadLines, unknownWordsAndIndicesOutOfRangeAreRefused) {
    dictClass dict = unitDict({"a", "b", "c", "d", "e", "f", "word"});
    netClass net;
    strings unknown = {"V", "N=3\tL=0", "I=0\tW=!NULL", "I=1\tW=!NULL", "I=2\tW=zzz@-1@"};
    EXPECT_EQ(withoutLineNumbers(errorOf([&] { net.netReadLines(unknown, dict); })),
              "Error: \"zzz\" (nodeIndex=2) not found in the pronunciation dictionary. (line N of file net)\n");
    strings atSize = {"V", "N=3\tL=0", "I=0\tW=!NULL", "I=1\tW=!NULL", "I=2\tW=a@7"};
    EXPECT_EQ(withoutLineNumbers(errorOf([&] { net.netReadLines(atSize, dict); })),
              "Error: sylIndex (7) out of the range of [0, 7]! (line N of file net)\n");
    strings negative = {"V", "N=3\tL=0", "I=0\tW=!NULL", "I=1\tW=!NULL", "I=2\tW=a@-4"};
    EXPECT_NE(errorOf([&] { net.netReadLines(negative, dict); }).find("sylIndex (-4)"), std::string::npos);
}

TEST(netReadLines, malformedNetTextIsRefusedNamingItsSource) {
    dictClass dict = syllableDict();
    netClass net;
    auto errorFor = [&](const strings& lines) { return errorOf([&] { net.netReadLines(lines, dict, "my.net"); }); };

    EXPECT_EQ(withoutLineNumbers(errorFor({})), "Error: netVs.size()==0! (line N of file net)");
    dictClass empty;
    EXPECT_EQ(withoutLineNumbers(errorOf([&] { net.netReadLines({"V", "N=0\tL=0"}, empty); })),
              "Error: myDict.m_pronDict.size()==0! (line N of file net)");

    const strings head = {"V", "N=3\tL=1", "I=0\tW=!NULL", "I=1\tW=!NULL", "I=2\tW=a"};
    struct badCase {
        strings lines;
        const char* expected;
    };
    std::vector<badCase> cases = {
        {{"V"}, "second line of my.net"},
        {{"V", "N=3 L=x"}, "second line of my.net"},
        {{"V", "N=99999999999\tL=0"}, "second line of my.net"},
        {{"V", "N=-1\tL=0"}, "my.net gives a negative count"},
        {{"V", "N=2\tL=-3", "I=0\tW=!NULL", "I=1\tW=!NULL"}, "negative count"},
        {head, "my.net has 5 lines, fewer than the 6"},
        {{"V", "N=2147483647\tL=2147483647"}, "fewer than the 4294967296"},
        {{"V", "N=1\tL=0", "I=0"}, "node line 0 of my.net has no \"W=\""},
        {{"V", "N=3\tL=1", "I=0\tW=!NULL", "I=1\tW=!NULL", "I=2\tW=a", "J=0\tS=0\tE=3"}, "link 0 of my.net joins 0 to 3"},
        {{"V", "N=3\tL=1", "I=0\tW=!NULL", "I=1\tW=!NULL", "I=2\tW=a", "J=0\tS=-1\tE=2"}, "link 0 of my.net joins -1"},
        {{"V", "N=3\tL=1", "I=0\tW=!NULL", "I=1\tW=!NULL", "I=2\tW=a", "S=0\tE=2"}, "link line 0 of my.net"},
        {{"V", "N=3\tL=1", "I=0\tW=!NULL", "I=1\tW=!NULL", "I=2\tW=a", "J=0\tS=0"}, "link line 0 of my.net"},
    };
    for (const badCase& c : cases) {
        std::string message = errorFor(c.lines);
        EXPECT_NE(message.find(c.expected), std::string::npos) << message;
    }

    // Lines beyond 2 + N + L are not read; link lines accept any white space.
    strings longer = head;
    longer.push_back("J=0 S=0  E=2");
    longer.push_back("trailing text");
    net.netReadLines(longer, dict);
    EXPECT_EQ(netLinks(net), (linkList{{0, 2}}));
}

TEST(netReadLines, usedUnitsLoseTheirMissingModels) {
    dictClass dict;
    dict.m_pronDict = {pronEntry{"a", {-1, 2}}, pronEntry{"b", {-1}}, pronEntry{"c", {-3, 1}}};
    strings lines = {"V", "N=4\tL=3", "I=0\tW=!NULL", "I=1\tW=!NULL", "I=2\tW=a", "I=3\tW=b",
                     "J=0\tS=0\tE=2", "J=1\tS=2\tE=3", "J=2\tS=3\tE=1"};
    netClass net;
    net.netReadLines(lines, dict);
    EXPECT_EQ(dict.m_pronDict[0].modelIndices, (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(dict.m_pronDict[1].modelIndices, (std::vector<int32_t>{0}));
    EXPECT_EQ(dict.m_pronDict[2].modelIndices, (std::vector<int32_t>{-3, 1}));
}

// ---------------------------------------------------------------------------
// Net files

void expectSameNet(const netClass& a, const netClass& b, bool sameWords) {
    ASSERT_EQ(a.nodes.size(), b.nodes.size());
    EXPECT_EQ(a.nodeNum, b.nodeNum);
    EXPECT_EQ(a.linkNum, b.linkNum);
    for (size_t i = 0; i < a.nodes.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(a.nodes[i].sylIndex, b.nodes[i].sylIndex);
        EXPECT_EQ(a.nodes[i].nextNodes, b.nodes[i].nextNodes);
        EXPECT_EQ(a.nodes[i].nextRealNodes, b.nodes[i].nextRealNodes);
        if (sameWords) {
            EXPECT_EQ(a.nodes[i].word, b.nodes[i].word);
            EXPECT_EQ(a.nodes[i].sourceWord, b.nodes[i].sourceWord);
        }
    }
}

class netFiles : public testing::Test {
protected:
    void SetUp() override {
        m_dict = syllableDict();
        m_net = build(false);
    }
    // A tree net with stop-anywhere links, one source word holding "@" and one
    // index that differs from its word's (written indices are kept, not looked up).
    netClass build(bool keywordMode) {
        recogParam param = plainParam();
        param.addLink4stopAnywhere = 1;
        textClass text = sylText({"ni-hao", "ni-men", "a-b-c"});
        testing::internal::CaptureStdout();
        buildTreeNet(text, param, keywordMode, false, true);
        testing::internal::GetCapturedStdout();
        netClass net;
        net.netReadLines(text.netVs, m_dict);
        net.nodes[4].sourceWord = "src@with@at";
        net.nodes[5].sylIndex = m_dict.pronDictFind("e");
        return net;
    }
    scratchDir m_dir;
    dictClass m_dict;
    netClass m_net;
};

TEST_F(netFiles, netPrintReadsBackAsTheSameNet) {
    std::string path = m_dir.file("out.net");
    m_net.netPrint(path);
    std::string text = readWholeFile(path);
    std::string head = formatString("VERSION=1.0 (by netClass::netPrint())\nN=%d\tL=%d\nI=0\tW=!NULL@-1@\n", m_net.nodeNum,
                                    m_net.linkNum);
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_NE(text.find("\nI=4\tW=a@0@src@with@at\n"), std::string::npos);
    EXPECT_NE(text.find("\nJ=0\tS=0\tE=2\n"), std::string::npos);

    netClass back;
    back.netRead(m_dir.write("other.net", "V\nN=2\tL=1\nI=0\tW=!NULL\nI=1\tW=!NULL\nJ=0\tS=0\tE=1\n"), m_dict);
    back.netReadLines(readLines(path, 0), m_dict);  // replaces the previous record
    expectSameNet(m_net, back, true);

    testing::internal::CaptureStdout();
    m_net.netPrint("");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), text);

    // Null nodes other than 0 and 1 survive the text form.
    netClass keyword = build(true);
    keyword.netPrint(path);
    back.netRead(path, m_dict);
    expectSameNet(keyword, back, true);
    EXPECT_EQ(back.nodes[2].sylIndex, -1);
}

TEST_F(netFiles, netbWriteReadsBackWithoutWords) {
    std::string path = m_dir.file("out.netb");
    m_net.netbWrite(path);
    EXPECT_EQ(readWholeFile(path).size(), 8u + 4u * (m_net.nodes.size() - 2) + 8u * static_cast<size_t>(m_net.linkNum));

    netClass back;
    back.netRead(path, m_dict);
    expectSameNet(m_net, back, false);
    EXPECT_EQ(back.nodes[0].word, "!NULL");
    EXPECT_EQ(back.nodes[1].word, "!NULL");
    for (size_t i = 2; i < back.nodes.size(); ++i) EXPECT_EQ(back.nodes[i].word, "");

    // Null nodes beyond 0 and 1 (keyword nets) are stored as -1 and read back as null nodes.
    netClass keyword = build(true);
    keyword.netbWrite(path);
    back.netRead(path, m_dict);
    EXPECT_EQ(netLinks(back), netLinks(keyword));
    EXPECT_EQ(back.nodes[2].sylIndex, -1);
    EXPECT_EQ(back.nodes[2].word, "!NULL");
    EXPECT_EQ(back.nodes[3].word, "!NULL");
    EXPECT_EQ(back.nodes[2].nextRealNodes, keyword.nodes[2].nextRealNodes);
    // Other negative indices are refused.
    std::string bad = readWholeFile(path);
    bad.replace(8, 4, le32(-2));
    EXPECT_NE(errorOf([&] { back.netRead(m_dir.write("bad.netb", bad), m_dict); }).find("sylIndex (-2) of node 2"),
              std::string::npos);
}

TEST_F(netFiles, aTwoNodeNetbHoldsCountsAndLinksOnly) {
    strings lines = {"V", "N=2\tL=1", "I=0\tW=!NULL", "I=1\tW=!NULL", "J=0\tS=0\tE=1"};
    netClass net;
    net.netReadLines(lines, m_dict);
    std::string path = m_dir.file("two.NETB");
    net.netbWrite(path);
    EXPECT_EQ(readWholeFile(path), le32(2) + le32(1) + le32(0) + le32(1));
    netClass back;
    back.netRead(path, m_dict);
    EXPECT_EQ(netLinks(back), (linkList{{0, 1}}));
}

TEST_F(netFiles, onlyFourExtensionsAreRead) {
    std::string text = "VERSION\nN=3\tL=2\nI=0\tW=!NULL\nI=1\tW=!NULL\nI=2\tW=a\nJ=0\tS=0\tE=2\nJ=1\tS=2\tE=1\n";
    for (const char* name : {"x.net", "x.NET"}) {
        netClass net;
        net.netRead(m_dir.write(name, text), m_dict);
        EXPECT_EQ(net.nodes[0].nextRealNodes, (std::vector<int32_t>{2})) << name;
    }
    for (const char* name : {"x.Net", "x.nET", "x.txt", "noextension"}) {
        std::string path = m_dir.write(name, text);
        netClass net;
        EXPECT_EQ(withoutLineNumbers(errorOf([&] { net.netRead(path, m_dict); })),
                  "Error in reading " + path +
                      ": The only allowed extension are \"net\" and \"netb\".  (line N of file net)\n");
    }
    netClass net;
    EXPECT_NE(errorOf([&] { net.netRead(m_dir.file("missing.net"), m_dict); }).find("Cannot open file"),
              std::string::npos);
    EXPECT_NE(errorOf([&] { net.netRead(m_dir.file("missing.netb"), m_dict); }).find("Cannot open file"),
              std::string::npos);
}

TEST_F(netFiles, damagedNetbFilesAreRefused) {
    std::string good = le32(4) + le32(3) + le32(0) + le32(1) + le32(0) + le32(2) + le32(2) + le32(3) + le32(3) + le32(1);
    netClass net;
    net.netbRead(m_dir.write("good.netb", good), m_dict);
    EXPECT_EQ(netLinks(net), (linkList{{0, 2}, {2, 3}, {3, 1}}));

    // Every truncation, and a trailing byte.
    for (size_t cut = 0; cut < good.size(); ++cut) {
        std::string path = m_dir.write("cut.netb", good.substr(0, cut));
        std::string message = errorOf([&] { net.netbRead(path, m_dict); });
        EXPECT_NE(message.find(path), std::string::npos) << cut << ": " << message;
    }
    EXPECT_NE(errorOf([&] { net.netbRead(m_dir.write("long.netb", good + "x"), m_dict); }).find("bytes"),
              std::string::npos);

    struct badCase {
        std::string bytes;
        const char* expected;
    };
    const int32_t dictSize = static_cast<int32_t>(m_dict.m_pronDict.size());
    std::vector<badCase> cases = {
        {le32(0x7fffffff) + le32(0), "bytes"},
        {le32(2) + le32(0x7fffffff), "bytes"},
        {le32(1) + le32(0), "N=1"},
        {le32(2) + le32(-1), "L=-1"},
        {le32(3) + le32(0) + le32(dictSize), "of node 2"},
        {le32(3) + le32(0) + le32(-7), "sylIndex (-7) of node 2"},
        {le32(3) + le32(1) + le32(0) + le32(0) + le32(3), "joins 0 to 3"},
    };
    for (const badCase& c : cases) {
        std::string path = m_dir.write("bad.netb", c.bytes);
        std::string message = errorOf([&] { net.netbRead(path, m_dict); });
        EXPECT_NE(message.find(c.expected), std::string::npos) << message;
        EXPECT_NE(message.find(path), std::string::npos) << message;
    }
}

TEST_F(netFiles, netbReadingClearsMissingModelsOfUsedUnits) {
    dictClass dict;
    dict.m_pronDict = {pronEntry{"a", {-1, 2}}, pronEntry{"b", {-1}}};
    std::string path = m_dir.write("m.netb", le32(3) + le32(2) + le32(1) + le32(0) + le32(2) + le32(2) + le32(1));
    netClass net;
    net.netbRead(path, dict);
    EXPECT_EQ(dict.m_pronDict[0].modelIndices, (std::vector<int32_t>{-1, 2}));
    EXPECT_EQ(dict.m_pronDict[1].modelIndices, (std::vector<int32_t>{0}));
}

}  // namespace
