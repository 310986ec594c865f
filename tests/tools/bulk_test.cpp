// recognize-tool bulk: a text per recording, bad recordings among good ones,
// interruption and resumption, threads, shards and the parallel script.
#include "tools/bulk.h"

#include "../programs/pipelineFixtures.h"
#include "run/utility.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

using namespace pipelineFixtures;
using nlohmann::json;

namespace {

class Bulk : public sharedSetupTest {};

commandResult runBulk(const std::string& args) {
    return runCommand("TEMP=/nonexistent " + shellQuote(programPath("recognize-tool")) + " bulk --quiet " + args +
                      " 2>&1");
}

// A document without its timings, which differ from run to run.
json withoutTimes(json value) {
    if (value.is_object()) {
        value.erase("seconds");
        for (auto& item : value.items()) item.value() = withoutTimes(item.value());
    } else if (value.is_array()) {
        for (auto& item : value) item = withoutTimes(item);
    }
    return value;
}

// The results lines of a file by id (each id must appear once).
std::map<std::string, json> resultsById(const std::string& path) {
    std::map<std::string, json> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        json j = json::parse(line);
        std::string id = j["id"];
        EXPECT_EQ(lines.count(id), 0u) << "id " << id << " twice";
        lines[id] = withoutTimes(j);
    }
    return lines;
}

// Words sounding the classes given (English words over the phones a-d).
const std::map<std::string, std::vector<std::string>> SOUNDS = {
    {"one", {"a", "b"}}, {"two", {"c", "d"}}, {"three", {"b", "a"}}, {"four", {"d", "c"}}, {"five", {"a", "c"}}};

std::vector<std::string> classesOf(const std::vector<std::string>& words) {
    std::vector<std::string> classes = {"sil"};
    for (const std::string& w : words) classes.insert(classes.end(), SOUNDS.at(w).begin(), SOUNDS.at(w).end());
    classes.push_back("sil");
    return classes;
}

// A list of n recordings of different texts.
std::string goodList(setup& s, const std::string& name, int n) {
    const char* const words[] = {"one", "two", "three", "four", "five"};
    std::string list;
    for (int i = 0; i < n; ++i) {
        std::vector<std::string> text = {words[i % 5], words[(i / 5 + 1) % 5], words[(i * 3 + 2) % 5]};
        std::string wav = s.wave(name + std::to_string(i) + ".wav", classesOf(text), 0.2, 100 + i);
        list += "id" + std::to_string(i) + "\t" + wav + "\t" + text[0] + " " + text[1] + " " + text[2] + "\n";
    }
    return s.dir.write(name + ".tsv", list);
}

}  // namespace

TEST_F(Bulk, EachLineEqualsTheRecognizeRunOfItsWaveAndText) {
    setup& s = *s_setup;
    std::string assess = s.params("bulk-assess.prm", "language=english\nfunction=assess\ncomparisonMode=1\n");
    std::string recog = s.params("bulk-recog.prm", "language=english\nfunction=recog\ncomparisonMode=1\n");
    std::string wavA = s.wave("bulk-a.wav", classesOf({"three", "four", "five"}));
    std::string wavB = s.wave("bulk-b.wav", classesOf({"two", "one"}));
    std::string list = s.dir.write("bulk-eq.tsv", "a\t" + wavA + "\tthree four five\nb\t" + wavB +
                                                      "\tone two#two one#five one\n");
    struct run {
        std::string param, wav, text;
        const char* id;
    };
    for (const run& r : {run{assess, wavA, "three four five", "a"}, run{recog, wavB, "one two#two one#five one", "b"}}) {
        std::string results = s.dir.file(std::string("bulk-eq-") + r.id + ".jsonl");
        commandResult b = runBulk(shellQuote(r.param) + " " + shellQuote(list) + " " + shellQuote(results));
        EXPECT_EQ(b.status, 0) << b.output;
        json line = resultsById(results).at(r.id);
        ASSERT_EQ(line["status"], "ok") << line.dump();

        std::string jsonPath = s.dir.file(std::string("bulk-ref-") + r.id + ".json");
        std::string param = s.dir.write(std::string("bulk-ref-") + r.id + ".prm",
                                        readWholeFile(r.param) + "jsonFile=" + jsonPath + "\n");
        ASSERT_EQ(runRecognize({param, r.wav, r.text}).status, 0);
        json reference = withoutTimes(json::parse(readWholeFile(jsonPath)));
        const json& result = line["result"];
        EXPECT_EQ(result["texts"], reference["texts"]);
        EXPECT_EQ(result["score"], reference["score"]);
        EXPECT_EQ(result["words"], reference["words"]);
    }
    EXPECT_EQ(resultsById(s.dir.file("bulk-eq-b.jsonl")).at("b")["result"]["texts"], json::array({"two one"}));
}

TEST_F(Bulk, BadRecordingsGetTheirErrorsAndTheGoodOnesTheirResults) {
    setup& s = *s_setup;
    std::string param = s.params("bulk-bad.prm", "language=english\nfunction=assess\ncomparisonMode=1\n");
    std::string good = s.wave("bulk-good.wav", classesOf({"one", "two"}));
    std::string corrupt = s.dir.write("bulk-corrupt.wav", "RIFF\x10\0\0\0WAVEjunk");
    // A previous-tag size that does not match: the FLV reader would end the process.
    std::string badFlv = s.dir.write("bulk-bad.flv", std::string("FLV\x01\x04\0\0\0\x09\0\0\0\x05", 13));
    std::string list = s.dir.write("bulk-bad.tsv", "% a comment\n\ng1\t" + good + "\tone two\nmissing\t" +
                                                       s.dir.file("nope.wav") + "\tone\ncorrupt\t" + corrupt +
                                                       "\tone\nunknown\t" + good + "\tone zebra\nempty\t" + good +
                                                       "\t\nflv\t" + badFlv + "\tone\ng2\t" + good + "\ttwo one\n");
    std::string results = s.dir.file("bulk-bad.jsonl");
    commandResult r = runBulk("-j 2 " + shellQuote(param) + " " + shellQuote(list) + " " + shellQuote(results));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("5 of 7 recordings failed"), std::string::npos) << r.output;
    std::map<std::string, json> lines = resultsById(results);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_NE(lines["flv"]["error"].get<std::string>().find("cannot be read"), std::string::npos) << lines["flv"];
    EXPECT_EQ(lines["g1"]["status"], "ok");
    EXPECT_EQ(lines["g2"]["status"], "ok");
    EXPECT_EQ(lines["g1"]["line"], 3);
    EXPECT_NE(lines["missing"]["error"].get<std::string>().find("nope.wav"), std::string::npos);
    EXPECT_NE(lines["corrupt"]["error"].get<std::string>().find("Can't open wave file"), std::string::npos);
    EXPECT_NE(lines["unknown"]["error"].get<std::string>().find("zebra"), std::string::npos);
    EXPECT_NE(lines["empty"]["error"].get<std::string>().find("length of zero"), std::string::npos);
    // Recordings' errors write no error log and no missingWord.txt.
    EXPECT_FALSE(std::filesystem::exists("missingWord.txt"));
}

TEST_F(Bulk, ARunThatCannotStartEndsWithStatusTwo) {
    setup& s = *s_setup;
    std::string param = s.params("bulk-start.prm", "language=english\nfunction=assess\ncomparisonMode=1\n");
    std::string good = s.wave("bulk-start.wav", classesOf({"one"}));
    std::string dup = s.dir.write("bulk-dup.tsv", "x\t" + good + "\tone\n%\ny\t" + good + "\tone\nx\t" + good + "\tone\n");
    commandResult r = runBulk(shellQuote(param) + " " + shellQuote(dup) + " " + shellQuote(s.dir.file("d.jsonl")));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("id \"x\" is used at lines 1 and 4"), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(s.dir.file("d.jsonl")));

    std::string unsafe = s.dir.write("bulk-unsafe.tsv", "../up\t" + good + "\tone\n");
    r = runBulk("--xml-dir " + shellQuote(s.dir.m_path) + " " + shellQuote(param) + " " + shellQuote(unsafe) + " " +
                shellQuote(s.dir.file("u.jsonl")));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("cannot name an XML file"), std::string::npos) << r.output;

    EXPECT_EQ(runBulk(shellQuote(s.dir.file("no.prm")) + " " + shellQuote(unsafe) + " x.jsonl").status, 2);
    EXPECT_EQ(runBulk("--shard 4/3 a b c").status, 2);
    EXPECT_EQ(runBulk("-j 0 a b c").status, 2);
    EXPECT_EQ(runBulk("only two").status, 2);
}

TEST_F(Bulk, ThreadsShardsAndTheXmlDirectoryGiveTheSameResults) {
    setup& s = *s_setup;
    std::string param = s.params("bulk-j.prm", "language=english\nfunction=assess\ncomparisonMode=1\n");
    std::string list = goodList(s, "bulkj", 12);
    std::string one = s.dir.file("j1.jsonl"), four = s.dir.file("j4.jsonl");
    std::string xmlDir = s.dir.file("xml");
    std::filesystem::create_directories(xmlDir);
    EXPECT_EQ(runBulk("-j 1 " + shellQuote(param) + " " + shellQuote(list) + " " + shellQuote(one)).status, 0);
    EXPECT_EQ(runBulk("-j 4 --xml-dir " + shellQuote(xmlDir) + " " + shellQuote(param) + " " + shellQuote(list) +
                      " " + shellQuote(four))
                  .status,
              0);
    std::map<std::string, json> sequential = resultsById(one);
    EXPECT_EQ(sequential.size(), 12u);
    EXPECT_EQ(resultsById(four), sequential);
    EXPECT_NE(readWholeFile(xmlDir + "/id3.xml").find("<?xml"), std::string::npos);

    std::map<std::string, json> merged;
    for (int k = 1; k <= 3; ++k) {
        std::string part = s.dir.file("shard" + std::to_string(k) + ".jsonl");
        EXPECT_EQ(runBulk("--shard " + std::to_string(k) + "/3 " + shellQuote(param) + " " + shellQuote(list) + " " +
                          shellQuote(part))
                      .status,
                  0);
        std::map<std::string, json> lines = resultsById(part);
        EXPECT_EQ(lines.size(), 4u);
        for (auto& entry : lines) EXPECT_TRUE(merged.emplace(entry.first, entry.second).second);
    }
    EXPECT_EQ(merged, sequential);
}

TEST_F(Bulk, AnInterruptedRunIsCompletedByResume) {
    setup& s = *s_setup;
    std::string param = s.params("bulk-r.prm", "language=english\nfunction=assess\ncomparisonMode=1\n");
    std::string list = goodList(s, "bulkr", 30);
    std::string whole = s.dir.file("whole.jsonl"), resumed = s.dir.file("resumed.jsonl");
    ASSERT_EQ(runBulk("-j 2 " + shellQuote(param) + " " + shellQuote(list) + " " + shellQuote(whole)).status, 0);

    // Kill a run once it has written a few lines.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string program = programPath("recognize-tool");
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        execl(program.c_str(), program.c_str(), "bulk", "-j", "1", "--quiet", param.c_str(), list.c_str(),
              resumed.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(resumed);
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (std::count(content.begin(), content.end(), '\n') >= 3) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    size_t before = resultsById(resumed).size();
    EXPECT_GE(before, 3u);
    EXPECT_LT(before, 30u) << "the run ended before it could be interrupted";

    // A torn last line and an error line are retried; ok lines are kept.
    {
        std::ofstream out(resumed, std::ios::app);
        out << "{\"id\":\"id29\",\"status\":\"error\",\"error\":\"earlier\",\"line\":30,\"wave\":\"w\"}\n";
        out << "{\"id\":\"id28\",\"stat";
    }
    commandResult r = runBulk("--resume -j 2 " + shellQuote(param) + " " + shellQuote(list) + " " + shellQuote(resumed));
    EXPECT_EQ(r.status, 0) << r.output;
    std::map<std::string, json> lines;
    std::ifstream in(resumed);
    std::string line;
    int okLines = 0;
    while (std::getline(in, line)) {
        json j = json::parse(line);  // no torn line is left
        if (j["status"] == "ok") {
            ++okLines;
            EXPECT_TRUE(lines.emplace(j["id"].get<std::string>(), withoutTimes(j)).second) << j["id"];
        }
    }
    EXPECT_EQ(okLines, 30);
    EXPECT_EQ(lines, resultsById(whole));
}

TEST_F(Bulk, TheParallelScriptMergesItsShardsInListOrder) {
    if (runCommand("command -v parallel >/dev/null").status != 0) GTEST_SKIP() << "GNU parallel is not installed";
    setup& s = *s_setup;
    std::string param = s.params("bulk-p.prm", "language=english\nfunction=assess\ncomparisonMode=1\n");
    std::string list = goodList(s, "bulkp", 10);
    std::string whole = s.dir.file("p-whole.jsonl"), merged = s.dir.file("p-merged.jsonl");
    ASSERT_EQ(runBulk(shellQuote(param) + " " + shellQuote(list) + " " + shellQuote(whole)).status, 0);
    commandResult r = runCommand("PATH=" + shellQuote(std::string(RECOG_BINARY_DIR)) + ":$PATH " +
                                 shellQuote(std::string(RECOG_SOURCE_DIR) + "/scripts/bulk-parallel.sh") +
                                 " -n 3 -j 2 " + shellQuote(param) + " " + shellQuote(list) + " " + shellQuote(merged) +
                                 " 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(resultsById(merged), resultsById(whole));
    // Merged lines come in list order.
    std::ifstream in(merged);
    std::string line;
    int previous = 0;
    while (std::getline(in, line)) {
        int number = json::parse(line)["line"];
        EXPECT_GT(number, previous);
        previous = number;
    }
}

TEST(BulkList, IdsAndResultsFilesAreReadSafely) {
    EXPECT_TRUE(isSafeFileId("SPEAKER0001_utt-3.x"));
    for (const char* id : {"", ".", "..", "a/b", "/abs"}) EXPECT_FALSE(isSafeFileId(id)) << id;
    EXPECT_FALSE(isSafeFileId(std::string("a\0b", 3)));

    scratchDir dir;
    std::string list = dir.write("l.tsv", "a\tw.wav\r\nb\tw.wav\tsome text\n\n%c\tx\n");
    std::vector<bulkEntry> entries = readBulkList(list);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_FALSE(entries[0].hasText);
    EXPECT_EQ(entries[0].wave, "w.wav");
    EXPECT_TRUE(entries[1].hasText);
    EXPECT_EQ(entries[1].text, "some text");
    EXPECT_EQ(entries[1].line, 2);
    EXPECT_NE(errorOf([&] { readBulkList(dir.write("bad.tsv", "only-an-id\n")); }).find("line 1"), std::string::npos);
    EXPECT_NE(errorOf([&] { readBulkList(dir.write("bad2.tsv", "\tw.wav\n")); }).find("empty id"), std::string::npos);

    std::string results = dir.write("r.jsonl", "{\"id\":\"a\",\"status\":\"ok\"}\nnot json\n"
                                               "{\"id\":\"b\",\"status\":\"error\"}\n[1]\n{\"id\":\"c\",\"sta");
    EXPECT_EQ(okIdsOfResults(results), (std::set<std::string>{"a"}));
    EXPECT_EQ(readWholeFile(results).back(), '\n');
    EXPECT_TRUE(okIdsOfResults(dir.file("none.jsonl")).empty());
}
