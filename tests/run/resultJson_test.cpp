// The JSON result document: what recognize writes with jsonFile, checked
// against the assessment XML of the same run and against the schema.
#include "run/resultJson.h"

#include "../programs/pipelineFixtures.h"
#include "jsonSchemaCheck.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

using namespace pipelineFixtures;
using nlohmann::json;

namespace {

class ResultJson : public sharedSetupTest {};

// Every document the tests write must satisfy the published schema.
void expectValid(const json& doc) {
    static const json schema = json::parse(readWholeFile(std::string(RECOG_SOURCE_DIR) + "/docs/result-schema.json"));
    std::vector<std::string> problems;
    jsonSchemaCheck::check(schema, doc, "$", problems);
    EXPECT_TRUE(problems.empty()) << problems.size() << " problems, first: " << (problems.empty() ? "" : problems[0]);
}

// One node or phone of the XML: name, interval and timber score.
struct xmlUnit {
    std::string name;
    double start = 0, end = 0, score = 0;
};
struct xmlNode {
    xmlUnit unit;
    std::vector<xmlUnit> phones;
};

std::string elementValue(const std::string& line) {
    size_t open = line.find('>');
    return line.substr(open + 1, line.find("</", open) - open - 1);
}

// The nodes (two tabs deep) and their phones (three tabs deep) of an assessment XML.
std::vector<xmlNode> xmlNodes(const std::string& xml) {
    std::vector<xmlNode> nodes;
    std::istringstream in(xml);
    std::string line;
    while (std::getline(in, line)) {
        bool phone = line.rfind("\t\t\t<", 0) == 0;
        bool node = !phone && line.rfind("\t\t<", 0) == 0;
        if (!phone && !node) continue;
        if (node && line.find("<name ") != std::string::npos) nodes.emplace_back();
        if (nodes.empty()) continue;
        if (phone && line.find("<name ") != std::string::npos) nodes.back().phones.emplace_back();
        xmlUnit& unit = phone ? nodes.back().phones.back() : nodes.back().unit;
        std::string value = elementValue(line);
        if (line.find("<name ") != std::string::npos) unit.name = value;
        if (line.find("<interval ") != std::string::npos) std::istringstream(value) >> unit.start >> unit.end;
        if (line.find("<timberScore ") != std::string::npos) unit.score = std::atof(value.c_str());
    }
    return nodes;
}

// The XML writes "%g": six significant digits.
void expectNear(double xmlValue, double jsonValue, const std::string& what) {
    EXPECT_NEAR(xmlValue, jsonValue, 1e-5 * std::max(1.0, std::fabs(jsonValue))) << what;
}

// Runs recognize with a JSON document and an output directory; returns the document.
json runWithJson(setup& s, const std::string& name, const std::string& extra, const std::vector<std::string>& args,
                 std::string* xml = nullptr) {
    std::string out = s.dir.file(name + "-out");
    std::filesystem::create_directories(out);
    std::string jsonPath = s.dir.file(name + ".json");
    std::string param = s.params(name + ".prm", extra + "jsonFile=" + jsonPath + "\n");
    std::vector<std::string> full = {param};
    full.insert(full.end(), args.begin(), args.end());
    while (full.size() < 5) full.push_back("");
    full[4] = out;
    commandResult r = runRecognize(full);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("Saved " + jsonPath), std::string::npos) << r.output;
    if (xml) *xml = readWholeFile(out + "/output.xml");
    json doc = json::parse(readWholeFile(jsonPath));
    expectValid(doc);
    return doc;
}

void expectMatchesXml(const json& doc, const std::string& xml) {
    std::vector<xmlNode> nodes = xmlNodes(xml);
    size_t w = 0;
    for (const xmlNode& node : nodes) {
        const std::string& name = node.unit.name;
        if (name == "sil" || name == "sp" || name.rfind("filler", 0) == 0) continue;
        ASSERT_LT(w, doc["words"].size());
        const json& word = doc["words"][w++];
        EXPECT_EQ(word["pronunciation"], name);
        expectNear(node.unit.start, word["start"], name + " start");
        expectNear(node.unit.end, word["end"], name + " end");
        expectNear(node.unit.score, word["score"], name + " score");
        ASSERT_EQ(word["phones"].size(), node.phones.size()) << name;
        double lastEnd = word["start"];
        for (size_t p = 0; p < node.phones.size(); ++p) {
            const json& phone = word["phones"][p];
            EXPECT_EQ(phone["model"], node.phones[p].name);
            expectNear(node.phones[p].score, phone["score"], name + " phone score");
            // Phones follow each other inside their word.
            EXPECT_GE(phone["start"].get<double>(), lastEnd - 1e-9) << name;
            EXPECT_LE(phone["end"].get<double>(), word["end"].get<double>() + 1e-9) << name;
            lastEnd = phone["end"];
        }
    }
    EXPECT_EQ(w, doc["words"].size());
}

}  // namespace

TEST_F(ResultJson, AssessmentDocumentAgreesWithTheXml) {
    setup& s = *s_setup;
    std::string wav = s.wave("json-assess.wav", {"sil", "b", "a", "d", "c", "a", "c", "sil"});
    std::string xml;
    json doc = runWithJson(s, "json-assess", "language=english\nfunction=assess\ncomparisonMode=1\ngetPitch=1\n",
                           {wav, "three four five"}, &xml);
    EXPECT_EQ(doc["schemaVersion"], 1);
    EXPECT_EQ(doc["function"], "assess");
    EXPECT_EQ(doc["unit"], "word");
    EXPECT_EQ(doc["texts"], json::array({"three four five"}));
    EXPECT_EQ(doc["complete"], true);
    std::string xmlScore = elementValue(xml.substr(xml.find("\t<score ")));
    expectNear(std::atof(xmlScore.c_str()), doc["score"], "overall score");
    expectMatchesXml(doc, xml);
    ASSERT_EQ(doc["words"].size(), 3u);
    EXPECT_EQ(doc["words"][1]["text"], "four");
    EXPECT_TRUE(doc["words"][0].contains("pitch"));
    EXPECT_EQ(doc["discounts"].size(), 7u);
    double seconds = doc["wave"]["seconds"];
    EXPECT_NEAR(seconds, 0.3 + 6 * 0.2 + 0.3, 1e-3);
    EXPECT_LE(doc["wave"]["speechEnd"].get<double>(), seconds + 1e-9);
    EXPECT_GT(doc["seconds"]["total"].get<double>(), 0.0);

    // soundsLike names the best competitor exactly when one ranks above.
    for (const json& word : doc["words"])
        for (const json& phone : word["phones"]) {
            if (phone["rank"].get<int>() > 0)
                EXPECT_TRUE(phone["soundsLike"].is_string()) << phone.dump();
            else
                EXPECT_TRUE(phone["soundsLike"].is_null()) << phone.dump();
        }
}

TEST_F(ResultJson, RecognitionKeywordChineseAndJapaneseDocumentsAreValid) {
    setup& s = *s_setup;
    std::string xml;
    std::string texts = s.dir.write("json-texts.txt", "one two\nthree four\nfive one\n");
    json recog = runWithJson(s, "json-recog", "language=english\nfunction=recog\ncomparisonMode=1\n",
                             {s.wave("json-recog.wav", {"sil", "b", "a", "d", "c", "sil"}), texts}, &xml);
    EXPECT_EQ(recog["textIndices"], json::array({1}));
    EXPECT_EQ(recog["texts"], json::array({"three four"}));
    expectMatchesXml(recog, xml);

    std::string kwTexts = s.dir.write("json-kw.txt", "first keyword\nsecond keyword\n");
    std::string syl = s.dir.write("json-kw.syl", "ba\t0\ncd-dc\t1\n");
    json keyword = runWithJson(s, "json-kw", "language=taiwanese\nfunction=recog\ncomparisonMode=3\n",
                               {s.wave("json-kw.wav", {"sil", "e", "e", "c", "d", "d", "c", "e", "sil"}), kwTexts, "",
                                "", syl});
    ASSERT_EQ(keyword["keywords"].size(), 1u);
    EXPECT_EQ(keyword["keywords"][0]["text"], "second keyword");
    EXPECT_EQ(keyword["unit"], "syllable");
    EXPECT_LT(keyword["keywords"][0]["start"].get<double>(), keyword["keywords"][0]["end"].get<double>());

    // Big5 texts come out as UTF-8: the characters one and two.
    std::string table = s.dir.write("json-pinyin.tab", "1\tab\tAB-mpa\tab\n2\tcd\tCD-mpa\tcd\n");
    std::string wpa = s.dir.write("json-chars.wpa", "\xA4\x40\t1\tx\t1\ty\n\xA4\x47\t2\tx\t4\ty\n");
    std::string zh = s.dir.write("json-zh.txt", "\xA4\x40\xA4\x47\n\xA4\x47\xA4\x40\n");
    json chinese = runWithJson(s, "json-zh",
                               "language=chinese\nfunction=recog\ncomparisonMode=1\npinyinType=rzp\npyTableFile=" +
                                   table + "\nwpaFile=" + wpa + "\n",
                               {s.wave("json-zh.wav", {"sil", "c", "d", "a", "b", "sil"}), zh}, &xml);
    EXPECT_EQ(chinese["texts"], json::array({"\xE4\xBA\x8C\xE4\xB8\x80"}));
    EXPECT_EQ(chinese["words"][0]["text"], "\xE4\xBA\x8C");
    expectMatchesXml(chinese, xml);

    std::string jaTexts = s.dir.write("json-ja.txt", "first\nsecond\n");
    std::string jaSyl = s.dir.write("json-ja.syl", "ab-cd\t0\nba-dc\t1\n");
    json japanese = runWithJson(s, "json-ja", "language=japanese\nfunction=recog\ncomparisonMode=1\n",
                                {s.wave("json-ja.wav", {"sil", "b", "a", "d", "c", "sil"}), jaTexts, "", "", jaSyl});
    EXPECT_EQ(japanese["texts"], json::array({"second"}));
}

TEST_F(ResultJson, UnwritablePathIsTheUsualOpenError) {
    setup& s = *s_setup;
    std::string param = s.params("json-bad.prm", "language=english\nfunction=assess\ncomparisonMode=1\n"
                                                 "jsonFile=/no/such/dir/out.json\n");
    commandResult r = runRecognize({param, s.wave("json-bad.wav", {"sil", "a", "b", "sil"}), "one"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("Cannot open file /no/such/dir/out.json"), std::string::npos) << r.output;
}

TEST(ResultJsonText, SpecialCharactersAndBadBytesRoundTrip) {
    cmResult result;
    const std::string tricky = std::string("a \"quoted\" back\\slash <tag> & \x01\x1f end");
    result.texts = {tricky};
    cmNode node;
    node.name = "x_y";
    node.text = tricky;
    result.nodes.push_back(node);
    resultJsonContext context;
    context.function = "assess";
    context.language = "english";
    context.wavePath = "w\xff.wav";  // not UTF-8
    macroClass models;
    json doc = json::parse(resultJsonText(result, models, context));
    EXPECT_EQ(doc["texts"][0], tricky);
    EXPECT_EQ(doc["words"][0]["text"], tricky);
    EXPECT_EQ(doc["wave"]["path"], "w\xEF\xBF\xBD.wav");
    ASSERT_FALSE(doc["warnings"].empty());
    EXPECT_NE(doc["warnings"].back().get<std::string>().find("U+FFFD"), std::string::npos);
    expectValid(doc);

    bool replaced = false;
    // A Big5 character, then a lead byte without its trail byte.
    EXPECT_EQ(toUtf8("\xA4\x40" "ab\xA4", true, replaced), "\xE4\xB8\x80" "ab\xEF\xBF\xBD");
    EXPECT_TRUE(replaced);
    replaced = false;
    // Valid UTF-8 stays; overlong forms and surrogates do not.
    EXPECT_EQ(toUtf8("\xC3\xA9", false, replaced), "\xC3\xA9");
    EXPECT_FALSE(replaced);
    std::string fiveReplacements;
    for (int i = 0; i < 5; ++i) fiveReplacements += "\xEF\xBF\xBD";
    EXPECT_EQ(toUtf8("\xC0\xAF\xED\xA0\x80", false, replaced), fiveReplacements);
    EXPECT_TRUE(replaced);
}

TEST(ResultJsonText, WarningLinesAreTheWarningsOfAnOutput) {
    EXPECT_EQ(warningLinesOf("0.1 sec: x\nWarning: one\nsomething\nWarning of model substitution: a\n"),
              (std::vector<std::string>{"Warning: one", "Warning of model substitution: a"}));
}
