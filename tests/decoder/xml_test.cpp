#include "decoder/macro.h"
#include "decoder/xmlWriter.h"
#include "modelFixtures.h"
#include "scoringFixtures.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Models "a+e" (index 0) and "h+e" (index 1).
macroClass xmlModels() { return convertedFixture(namedFixtureModels({"a+e", "h+e"})); }

cmPhone xmlPhone(const std::string& name, int32_t start, int32_t end) {
    cmPhone phone = scorePhone(name, start, end);
    phone.modelIdx = 1;
    phone.timberScore = 80;
    const float scores[4] = {70, 80, 90, 60};
    std::copy(scores, scores + 4, phone.timberScores);
    phone.pitched = true;
    phone.pitch = {60.5f};
    phone.cumLogLike = -123.5f;
    phone.rankRatio = 0.25f;
    phone.timeRatio = 1.0f;
    phone.competingModelIdx = {1, 0};
    phone.competingLogLike = {-100.0f, -200.5f};
    return phone;
}

cmNode xmlNode(const std::string& name, const std::string& text, std::vector<cmPhone> phones) {
    cmNode node = scoreNode(name, std::move(phones));
    node.text = text;
    node.timberScore = 80;
    const float scores[4] = {70, 80, 90, 60};
    std::copy(scores, scores + 4, node.timberScores);
    node.volume = {1.0f, 2.5f};
    return node;
}

cmResult xmlResult() {
    cmResult result;
    result.textList = {"hello world"};
    result.sylList = {"h-e"};
    result.score = 55.5f;
    result.timberScore = 55.5f;
    result.nodes = {xmlNode("hello", "hello", {xmlPhone("h+e", 0, 49)})};
    result.discountOccurrence = {0, 1, 0, 0, 2, 0, 0};
    result.discountRatio = {0.9f, 0.8f, 0.7f, 0.6f, 0.5f, 0.4f, 0.3f};
    return result;
}

std::vector<std::string> linesOf(const std::string& text) { return splitString(text, '\n'); }

// Lines of the document that contain the text.
std::vector<std::string> linesWith(const std::string& document, const std::string& text) {
    std::vector<std::string> found;
    for (const std::string& line : linesOf(document))
        if (line.find(text) != std::string::npos) found.push_back(line);
    return found;
}

// Lines of the document that begin with the text.
std::vector<std::string> linesStarting(const std::string& document, const std::string& text) {
    std::vector<std::string> found;
    for (const std::string& line : linesOf(document))
        if (line.compare(0, text.size(), text) == 0) found.push_back(line);
    return found;
}

}  // namespace

TEST(writeXml, writesTheWholeDocumentLineByLine) {
    scratchDir dir;
    macroClass models = xmlModels();
    std::string path = dir.file("out.xml");
    writeXml(xmlResult(), models, path, "english");
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<root xml_tb_version=\"3.2.1\" idx=\"1\" type=\"struct\" size=\"1 1\">\n"
        "<version idx=\"1\" type=\"char\" size=\"1 24\">version 1.4 (2010/06/24)</version>\n"
        "<text idx=\"1\" type=\"cell\" size=\"1 1\">\n"
        "\t<item idx=\"1\" type=\"char\" size=\"1 11\">hello world</item>\n"
        "</text>\n"
        "<syl idx=\"1\" type=\"cell\" size=\"1 1\">\n"
        "\t<item idx=\"1\" type=\"char\" size=\"1 3\">h-e</item>\n"
        "</syl>\n"
        "<warningMessage idx=\"1\" type=\"cell\" size=\"1 0\">\n"
        "</warningMessage>\n"
        "<cm idx=\"1\" type=\"struct\" size=\"1 1\">\n"
        "\t<language idx=\"1\" type=\"char\" size=\"1 7\">english</language>\n"
        "\t<score idx=\"1\" type=\"double\" size=\"1 1\">55.5</score><!--Overall score-->\n"
        "\t<timberScore idx=\"1\" type=\"double\" size=\"1 1\">55.5</timberScore>\n"
        "\t<word idx=\"1\" type=\"struct\" size=\"1 1\"><!--List of nodes, which each node is a word (for English) or "
        "a syllable (for Chinese)-->\n"
        "\t\t<name idx=\"1\" type=\"char\" size=\"1 5\">hello</name><!--Phonetic alphabets of the node-->\n"
        "\t\t<interval idx=\"1\" type=\"double\" size=\"1 2\">0 0.5</interval><!--Time span of the node, in "
        "seconds-->\n"
        "\t\t<text idx=\"1\" type=\"char\" size=\"1 5\">hello</text><!--Text of the node (empty if the node is "
        "sil/sp)-->\n"
        "\t\t<timberScore idx=\"1\" type=\"double\" size=\"1 1\">80</timberScore><!--Score of the node (-1 if the node "
        "is sil/sp)-->\n"
        "\t\t<pitch idx=\"1\" type=\"double\" size=\"1 0\"></pitch><!--Pitch of the node (0 if no pitch at all)-->\n"
        "\t\t<volume idx=\"1\" type=\"double\" size=\"1 2\">1 2.5</volume><!--Volume of the node (0 if not "
        "computed)-->\n"
        "\t\t<timberScores idx=\"1\" type=\"double\" size=\"1 4\">70 80 90 60</timberScores><!--All timber scores of "
        "the node (primarily for debugging)-->\n"
        "\t\t<phone idx=\"1\" type=\"struct\" size=\"1 1\"><!--List of phones in the node-->\n"
        "\t\t\t<name idx=\"1\" type=\"char\" size=\"1 3\">h+e</name><!--Phonetic alphabets for the node-->\n"
        "\t\t\t<index idx=\"1\" type=\"uint16\" size=\"1 1\">1</index><!--Model index within the macro file-->\n"
        "\t\t\t<interval idx=\"1\" type=\"double\" size=\"1 2\">0 0.5</interval><!--Time span of the phone, in "
        "seconds-->\n"
        "\t\t\t<timberScore idx=\"1\" type=\"double\" size=\"1 1\">80</timberScore><!--Timber score of the node (-1 if "
        "the node is sil/sp)-->\n"
        "\t\t\t<pitched idx=\"1\" type=\"double\" size=\"1 1\">1</pitched>\n"
        "\t\t\t<pitch idx=\"1\" type=\"double\" size=\"1 1\">60.5</pitch><!--Pitch of the node (0 if no pitch at "
        "all)-->\n"
        "\t\t\t<volume idx=\"1\" type=\"double\" size=\"1 0\"></volume><!--Volume of the node (0 if no pitch at "
        "all)-->\n"
        "\t\t\t<cumLogLike idx=\"1\" type=\"double\" size=\"1 1\">-123.5</cumLogLike><!--Cumulated log probability of "
        "the phone-->\n"
        "\t\t\t<rankRatio idx=\"1\" type=\"double\" size=\"1 1\">0.25</rankRatio><!--Rank ratio of the phone-->\n"
        "\t\t\t<timeRatio idx=\"1\" type=\"double\" size=\"1 1\">1</timeRatio><!--Time ratio of the phone-->\n"
        "\t\t\t<competingModelIndex idx=\"1\" type=\"uint16\" size=\"1 2\">1 0</competingModelIndex><!--Indices of the "
        "competing models of the phone-->\n"
        "\t\t\t<competingModelName idx=\"1\" type=\"char\" size=\"1 7\">h+e a+e</competingModelName><!--Name of the "
        "competing models of the phone-->\n"
        "\t\t\t<competingModelLogLike idx=\"1\" type=\"double\" size=\"1 2\">-100 "
        "-200.5</competingModelLogLike><!--Log "
        "likelihoods of the competing models of the phone-->\n"
        "\t\t\t<timberScores idx=\"1\" type=\"double\" size=\"1 4\">70 80 90 60</timberScores><!--All timber scores of "
        "the phone (primarily for debugging)-->\n"
        "\t\t</phone>\n"
        "\t</word>\n"
        "\t<discountFactor idx=\"1\" type=\"struct\" size=\"1 7\"><!--Discount factors for computing the discounted "
        "scores-->\n"
        "\t\t<occurrence idx=\"1\" type=\"double\" size=\"1 1\">0</occurrence>\n"
        "\t\t<ratio idx=\"1\" type=\"double\" size=\"1 1\">0.900000</ratio>\n"
        "\t\t<type idx=\"1\" type=\"char\" size=\"1 30\">Incomplete Viterbi search path</type>\n"
        "\t\t<occurrence idx=\"2\" type=\"double\" size=\"1 1\">1</occurrence>\n"
        "\t\t<ratio idx=\"2\" type=\"double\" size=\"1 1\">0.800000</ratio>\n"
        "\t\t<type idx=\"2\" type=\"char\" size=\"1 27\">No. of over-short syllables</type>\n"
        "\t\t<occurrence idx=\"3\" type=\"double\" size=\"1 1\">0</occurrence>\n"
        "\t\t<ratio idx=\"3\" type=\"double\" size=\"1 1\">0.700000</ratio>\n"
        "\t\t<type idx=\"3\" type=\"char\" size=\"1 25\">No. of overlong syllables</type>\n"
        "\t\t<occurrence idx=\"4\" type=\"double\" size=\"1 1\">0</occurrence>\n"
        "\t\t<ratio idx=\"4\" type=\"double\" size=\"1 1\">0.600000</ratio>\n"
        "\t\t<type idx=\"4\" type=\"char\" size=\"1 30\">No. of sp longer than 0.25 sec</type>\n"
        "\t\t<occurrence idx=\"5\" type=\"double\" size=\"1 1\">2</occurrence>\n"
        "\t\t<ratio idx=\"5\" type=\"double\" size=\"1 1\">0.500000</ratio>\n"
        "\t\t<type idx=\"5\" type=\"char\" size=\"1 57\">Difference between identified and actual no. of "
        "syllables</type>\n"
        "\t\t<occurrence idx=\"6\" type=\"double\" size=\"1 1\">0</occurrence>\n"
        "\t\t<ratio idx=\"6\" type=\"double\" size=\"1 1\">0.400000</ratio>\n"
        "\t\t<type idx=\"6\" type=\"char\" size=\"1 63\">Ratio between the longest and shortest syllables greater "
        "than 4</type>\n"
        "\t\t<occurrence idx=\"7\" type=\"double\" size=\"1 1\">0</occurrence>\n"
        "\t\t<ratio idx=\"7\" type=\"double\" size=\"1 1\">0.300000</ratio>\n"
        "\t\t<type idx=\"7\" type=\"char\" size=\"1 23\">Volume of sil too large</type>\n"
        "\t</discountFactor>\n"
        "</cm>\n"
        "</root>\n";
    EXPECT_EQ(readWholeFile(path), expected);
}

TEST(writeXml, declaresBig5ForChineseAndTaiwaneseAndUtf8Otherwise) {
    macroClass models = xmlModels();
    cmResult result = xmlResult();
    const std::string big5 = "<?xml version=\"1.0\" encoding=\"big5\"?>";
    const std::string utf8 = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    EXPECT_EQ(linesOf(xmlDocument(result, models, "chinese"))[0], big5);
    EXPECT_EQ(linesOf(xmlDocument(result, models, "taiwanese"))[0], big5);
    EXPECT_EQ(linesOf(xmlDocument(result, models, "english"))[0], utf8);
    EXPECT_EQ(linesOf(xmlDocument(result, models, "japanese"))[0], utf8);
}

TEST(writeXml, printsCommentsOnlyOnTheFirstNodeAndTheFirstPhone) {
    macroClass models = xmlModels();
    cmResult result = xmlResult();
    result.nodes = {xmlNode("a", "a", {xmlPhone("h+e", 0, 9), xmlPhone("h+e", 10, 19)}),
                    xmlNode("b", "b", {xmlPhone("h+e", 20, 29)})};
    std::string document = xmlDocument(result, models, "english");

    std::vector<std::string> nodeNames = linesStarting(document, "\t\t<name idx=");
    ASSERT_EQ(nodeNames.size(), 2u);
    EXPECT_EQ(nodeNames[0],
              "\t\t<name idx=\"1\" type=\"char\" size=\"1 1\">a</name><!--Phonetic alphabets of the node-->");
    EXPECT_EQ(nodeNames[1], "\t\t<name idx=\"2\" type=\"char\" size=\"1 1\">b</name>");

    std::vector<std::string> phoneNames = linesStarting(document, "\t\t\t<name idx=");
    ASSERT_EQ(phoneNames.size(), 3u);
    EXPECT_NE(phoneNames[0].find("<!--Phonetic alphabets for the node-->"), std::string::npos);
    EXPECT_EQ(phoneNames[1], "\t\t\t<name idx=\"2\" type=\"char\" size=\"1 3\">h+e</name>");
    // Phones count from 1 again in every node.
    EXPECT_EQ(phoneNames[2], "\t\t\t<name idx=\"1\" type=\"char\" size=\"1 3\">h+e</name>");

    // Exactly one comment per node field and per phone field (the pitched line has none),
    // plus the three of the document head.
    size_t comments = 0;
    for (size_t at = document.find("<!--"); at != std::string::npos; at = document.find("<!--", at + 1)) ++comments;
    EXPECT_EQ(comments, 8u + 13u + 3u);
    EXPECT_EQ(linesWith(document, "\t\t</phone>").size(), 2u);
}

TEST(writeXml, writesTimesInSecondsAndEmptyListsAsEmptyElements) {
    macroClass models = xmlModels();
    cmResult result = xmlResult();
    result.nodes = {xmlNode("a", "a", {xmlPhone("h+e", 0, 49)}), xmlNode("b", "b", {xmlPhone("h+e", 50, 112)})};
    result.nodes[1].pitch.clear();
    std::string document = xmlDocument(result, models, "english");
    std::vector<std::string> intervals = linesWith(document, "\t\t<interval");
    ASSERT_EQ(intervals.size(), 4u);
    EXPECT_NE(intervals[0].find(">0 0.5</interval>"), std::string::npos);
    EXPECT_EQ(intervals[2], "\t\t<interval idx=\"2\" type=\"double\" size=\"1 2\">0.5 1.13</interval>");
    EXPECT_EQ(linesWith(document, "\t\t<pitch idx=\"2\"")[0],
              "\t\t<pitch idx=\"2\" type=\"double\" size=\"1 0\"></pitch>");
}

TEST(writeXml, sizesTextsInCharactersWhereTheyAreChinese) {
    macroClass models = xmlModels();
    cmResult result = xmlResult();
    const std::string ni = "\xA7\x41", hao = "\xA6\x6E";  // two Big5 characters
    result.nodes = {xmlNode("ni", ni + hao, {xmlPhone("h+e", 0, 9)})};
    result.textList = {ni + hao + "a"};
    result.sylList = {ni + hao};
    std::string chinese = xmlDocument(result, models, "chinese");
    const std::string textLine = "\t\t<text idx=\"1\" type=\"char\" size=\"1 2\">" + ni + hao + "</text>";
    EXPECT_EQ(linesWith(chinese, "\t\t<text idx=")[0].substr(0, textLine.size()), textLine);
    EXPECT_EQ(linesWith(chinese, "size=\"1 3\">" + ni + hao + "a</item>").size(), 1u);
    EXPECT_EQ(linesWith(chinese, "size=\"1 4\">" + ni + hao + "</item>").size(), 1u);  // syl items count bytes
    std::string english = xmlDocument(result, models, "english");
    EXPECT_EQ(linesWith(english, "\t\t<text idx=\"1\" type=\"char\" size=\"1 4\">").size(), 1u);

    EXPECT_EQ(doubleByteCharCount(""), 0);
    EXPECT_EQ(doubleByteCharCount("ab"), 2);
    EXPECT_EQ(doubleByteCharCount(ni + "a" + hao), 3);
    EXPECT_EQ(doubleByteCharCount("a\xA7"), 2);  // a lead byte at the end counts as one
}

TEST(writeXml, refusesACompetingModelOutsideTheSetAndAnUncreatableFile) {
    macroClass models = xmlModels();
    cmResult result = xmlResult();
    result.nodes[0].phones[0].competingModelIdx = {1, 2};
    EXPECT_EQ(withoutLine(errorOf([&] { xmlDocument(result, models, "english"); })),
              "Error: competing model 2 of phone \"h+e\" is not in the 2 models (line N of file mlf)");
    scratchDir dir;
    std::string message =
        errorOf([&] { writeXml(xmlResult(), models, dir.file("no/such/dir/out.xml"), "english"); });
    EXPECT_NE(message.find("Cannot open file " + dir.file("no/such/dir/out.xml")), std::string::npos);
}
