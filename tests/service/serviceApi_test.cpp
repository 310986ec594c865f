// The HTTP API on a server in this process over the bundled example:
// answers equal what `recognize` writes for the same wave and texts, every
// bad request gets its 4xx answer and leaves the server answering, and the
// limits, the token, the metrics and the page.
#include "serviceFixtures.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <filesystem>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>

#include "run/utility.h"

namespace {

// The JSON document `recognize` writes for a parameter file with the given
// extra settings.
nlohmann::json recognizeDocument(const std::string& paramFile, const std::string& extraLines) {
    scratchDir dir;
    std::string json = dir.file("result.json");
    std::string params = dir.write("run.prm", readWholeFile(examplePath(paramFile)) + "\n" + extraLines +
                                                  "\njsonFile=" + json + "\n");
    commandResult run = runCommand("cd " + shellQuote(RECOG_SOURCE_DIR) + " && " + shellQuote(programPath("recognize")) +
                                   " " + shellQuote(params) + " 2>&1");
    EXPECT_EQ(run.status, 0) << run.output;
    return nlohmann::json::parse(readWholeFile(json), nullptr, false);
}

size_t filesIn(const std::string& dir) {
    size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        (void)entry;
        ++n;
    }
    return n;
}

class ServiceApi : public testing::Test {
protected:
    static void SetUpTestSuite() {
        assess = new testServer("examples/assess.prm");
        recog = new testServer("examples/recog.prm");
    }
    static void TearDownTestSuite() {
        delete assess;
        delete recog;
    }
    // The assessment server still answers.
    static void expectHealthy() {
        apiReply health = getPath(*assess->client(), "/healthz");
        EXPECT_EQ(health.status, 200);
        EXPECT_EQ(health.body, nlohmann::json({{"status", "ok"}}));
    }
    static testServer* assess;
    static testServer* recog;
};

testServer* ServiceApi::assess = nullptr;
testServer* ServiceApi::recog = nullptr;

TEST_F(ServiceApi, AssessmentEqualsTheRecognizeProgram) {
    for (const char* name : {"digits-8095439.wav", "digits-124458.wav"}) {
        std::string text = name == std::string("digits-8095439.wav") ? EXAMPLE_TEXT : "one two four four five eight";
        apiReply reply = postParts(*assess->client(), "/v1/assess", assessParts(readWholeFile(exampleWave(name)), text));
        ASSERT_EQ(reply.status, 200) << reply.text;
        nlohmann::json expected =
            recognizeDocument("examples/assess.prm", "wavFile=examples/waves/" + std::string(name) + "\ntxtFile=" + text);
        EXPECT_EQ(comparable(reply.body), comparable(expected)) << name;
        EXPECT_EQ(reply.body["function"], "assess");
        EXPECT_EQ(reply.body["wave"]["path"], "speech.wav");
        EXPECT_FALSE(reply.body["words"].empty());
    }
}

TEST_F(ServiceApi, RecognitionEqualsTheRecognizeProgram) {
    nlohmann::json expected = recognizeDocument("examples/recog.prm", "wavFile=examples/waves/digits-4389997.wav");
    ASSERT_TRUE(expected.is_object());
    EXPECT_EQ(expected["texts"][0], "four three eight nine nine nine seven");
    httplib::MultipartFormData audio = part("audio", readWholeFile(exampleWave("digits-4389997.wav")), "a.wav");

    // The candidates of the request, on either server.
    std::string candidates = readWholeFile(examplePath("examples/candidates.txt"));
    for (testServer* server : {recog, assess}) {
        apiReply given = postParts(*server->client(), "/v1/recognize", {audio, part("texts", candidates)});
        ASSERT_EQ(given.status, 200) << given.text;
        EXPECT_EQ(comparable(given.body), comparable(expected));
    }
    // Without texts: the parameter file's candidates.
    apiReply own = postParts(*recog->client(), "/v1/recognize", {audio});
    ASSERT_EQ(own.status, 200) << own.text;
    EXPECT_EQ(comparable(own.body), comparable(expected));
}

TEST_F(ServiceApi, OtherAudioFormats) {
    // The example wave's samples as headerless 16-bit 16 kHz audio.
    std::string wave = readWholeFile(exampleWave());
    size_t data = wave.find("data");
    ASSERT_NE(data, std::string::npos);
    std::string raw = wave.substr(data + 8);
    apiReply asWave = postParts(*assess->client(), "/v1/assess", assessParts(wave, EXAMPLE_TEXT));
    apiReply asRaw = postParts(*assess->client(), "/v1/assess",
                               {part("audio", raw, "x.raw"), part("text", EXAMPLE_TEXT), part("format", "raw")});
    ASSERT_EQ(asRaw.status, 200) << asRaw.text;
    EXPECT_EQ(asRaw.body["score"], asWave.body["score"]);
    EXPECT_EQ(asRaw.body["words"], asWave.body["words"]);

    // Raw audio sent without format=raw is not guessed at.
    EXPECT_EQ(postParts(*assess->client(), "/v1/assess", assessParts(raw, EXAMPLE_TEXT)).status, 415);

    // Well-formed Nellymoser FLV is decoded (its noise scores whatever it scores).
    apiReply flv = postParts(*assess->client(), "/v1/assess", assessParts(flvBytes(40, 4), EXAMPLE_TEXT));
    EXPECT_TRUE(flv.status == 200 || flv.status == 422) << flv.text;
    expectHealthy();
}

TEST_F(ServiceApi, BadRequestsGetTheirStatusAndTheServerGoesOn) {
    std::string wave = readWholeFile(exampleWave());
    std::string logDir = std::string(RECOG_BINARY_DIR) + "/testlogs";
    size_t logsBefore = filesIn(logDir);
    struct badCase {
        const char* what;
        const char* path;
        httplib::MultipartFormDataItems parts;
        int status;
        const char* code;
    };
    std::string corruptFlv = flvBytes(3, 2);
    corruptFlv[13 + 10] = 7;
    std::string truncatedFlv = flvBytes(3, 2).substr(0, 100);
    const std::vector<badCase> cases = {
        {"no audio", "/v1/assess", {part("text", EXAMPLE_TEXT)}, 400, "missing_audio"},
        {"no text", "/v1/assess", {part("audio", wave, "a.wav")}, 400, "missing_text"},
        {"empty text", "/v1/assess", assessParts(wave, " \n "), 400, "missing_text"},
        {"'#' in the text", "/v1/assess", assessParts(wave, "eight#zero"), 400, "invalid_text"},
        {"'#' in a candidate", "/v1/recognize", {part("audio", wave, "a.wav"), part("texts", "one\ntwo#three")}, 400,
         "invalid_text"},
        {"no candidate", "/v1/recognize", {part("audio", wave, "a.wav"), part("texts", "\n\n")}, 400, "missing_texts"},
        {"unknown words", "/v1/assess", assessParts(wave, "eight zebra nine"), 422, "unknown_words"},
        {"unknown words in a candidate", "/v1/recognize",
         {part("audio", wave, "a.wav"), part("texts", "one two\nthree quark")}, 422, "unknown_words"},
        {"text over the byte limit", "/v1/assess", assessParts(wave, std::string(12000, 'a')), 422, "text_too_long"},
        {"a broken RIFF file", "/v1/assess", assessParts(wave.substr(0, 40), EXAMPLE_TEXT), 400, "unreadable_audio"},
        {"a WAVE with no data", "/v1/assess", assessParts(waveBytes(1, 1, 16000, 16, ""), EXAMPLE_TEXT), 400,
         "unreadable_audio"},
        {"float WAVE", "/v1/assess", assessParts(waveBytes(3, 1, 16000, 32, std::string(64000, '\0')), EXAMPLE_TEXT),
         415, "unsupported_audio_format"},
        {"unknown container", "/v1/assess", assessParts("ID3\x03 an mp3, say", EXAMPLE_TEXT), 415,
         "unsupported_audio_format"},
        {"unknown format field", "/v1/assess",
         {part("audio", wave, "a.wav"), part("text", EXAMPLE_TEXT), part("format", "ogg")}, 415,
         "unsupported_audio_format"},
        {"corrupt FLV", "/v1/assess", assessParts(corruptFlv, EXAMPLE_TEXT), 400, "unreadable_audio"},
        {"truncated FLV", "/v1/assess", assessParts(truncatedFlv, EXAMPLE_TEXT), 400, "unreadable_audio"},
        {"FLV of MP3 audio", "/v1/assess", assessParts(flvBytes(2, 1, 0x2e), EXAMPLE_TEXT), 415,
         "unsupported_audio_format"},
        {"audio over the time limit", "/v1/assess",
         {part("audio", rawNoise(61), "long.raw"), part("text", EXAMPLE_TEXT), part("format", "raw")}, 413,
         "audio_too_long"},
    };
    for (const badCase& c : cases) {
        apiReply reply = postParts(*assess->client(), c.path, c.parts);
        EXPECT_EQ(reply.status, c.status) << c.what << ": " << reply.text;
        EXPECT_EQ(reply.body["error"]["code"], c.code) << c.what;
        EXPECT_TRUE(reply.body["error"]["message"].is_string()) << c.what;
        expectHealthy();
    }
    // The messages name the words and never the server's own files.
    apiReply unknown = postParts(*assess->client(), "/v1/assess", assessParts(wave, "eight zebra nine Yak"));
    EXPECT_EQ(unknown.body["error"]["words"], nlohmann::json({"yak", "zebra"}));
    apiReply broken = postParts(*assess->client(), "/v1/assess", assessParts(wave.substr(0, 40), EXAMPLE_TEXT));
    EXPECT_EQ(broken.text.find(assess->service.uploadDir), std::string::npos) << broken.text;

    // Nothing is left behind: no upload, no error log.
    EXPECT_EQ(filesIn(assess->service.uploadDir), 0u);
    EXPECT_EQ(filesIn(logDir), logsBefore);
}

TEST_F(ServiceApi, MalformedHttpAndLimitsOfTheBody) {
    auto client = assess->client();
    // Not multipart at all, and a multipart body whose boundary never comes.
    httplib::Result plain = client->Post("/v1/assess", "text=eight", "application/x-www-form-urlencoded");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->status, 400);
    httplib::Result broken =
        client->Post("/v1/assess", "--xyz\r\nContent-Disposition: form-data; name=\"text\"\r\n\r\neight",
                     "multipart/form-data; boundary=xyz");
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->status, 400);
    EXPECT_EQ(nlohmann::json::parse(broken->body, nullptr, false)["error"]["code"], "bad_request");
    // A body over 20 MB is refused before it is read.
    httplib::Result huge = client->Post("/v1/assess", std::string(21 * 1024 * 1024, 'a'), "multipart/form-data; boundary=q");
    if (huge) {
        EXPECT_EQ(huge->status, 413);
        EXPECT_EQ(nlohmann::json::parse(huge->body, nullptr, false)["error"]["code"], "body_too_large");
    }
    apiReply missing = getPath(*client, "/v1/nothing");
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body["error"]["code"], "not_found");
    expectHealthy();
}

TEST_F(ServiceApi, InfoMetricsAndPage) {
    auto client = assess->client();
    apiReply info = getPath(*client, "/v1/info");
    ASSERT_EQ(info.status, 200);
    EXPECT_EQ(info.body["language"], "english");
    EXPECT_EQ(info.body["function"], "assess");
    EXPECT_EQ(info.body["modelCount"], 31);
    EXPECT_EQ(info.body["limits"]["maxSeconds"], 60);
    EXPECT_EQ(info.body["limits"]["maxBodyBytes"], 20 * 1024 * 1024);
    EXPECT_EQ(info.body["examples"], nlohmann::json({EXAMPLE_TEXT}));
    EXPECT_NE(std::find(info.body["phones"].begin(), info.body["phones"].end(), "ey"), info.body["phones"].end());

    // Every answered request is counted by endpoint and status.
    uint64_t before = assess->server->metrics.count("/v1/assess", 422);
    postParts(*client, "/v1/assess", assessParts(readWholeFile(exampleWave()), "zebra"));
    // The count is taken once the answer has gone out, just after the client has it.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (assess->server->metrics.count("/v1/assess", 422) == before && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(assess->server->metrics.count("/v1/assess", 422), before + 1);
    httplib::Result metrics = client->Get("/metrics");
    ASSERT_TRUE(metrics);
    EXPECT_EQ(metrics->get_header_value("Content-Type").rfind("text/plain", 0), 0u);
    EXPECT_NE(metrics->body.find("recognize_requests_total{endpoint=\"/v1/assess\",status=\"422\"} " +
                                 std::to_string(before + 1) + "\n"),
              std::string::npos);
    EXPECT_NE(metrics->body.find("recognize_requests_in_flight 0\n"), std::string::npos);
    EXPECT_NE(metrics->body.find("recognize_queue_length 0\n"), std::string::npos);

    httplib::Result page = client->Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(page->get_header_value("Content-Type").rfind("text/html", 0), 0u);
    EXPECT_NE(page->body.find("<canvas id=\"timebar\""), std::string::npos);
    for (const char* asset : {"/app.js", "/style.css"}) {
        httplib::Result r = client->Get(asset);
        ASSERT_TRUE(r) << asset;
        EXPECT_EQ(r->status, 200) << asset;
        EXPECT_GT(r->body.size(), 1000u) << asset;
    }
    // Files of the server are not reachable through the page's paths.
    EXPECT_EQ(client->Get("/../examples/assess.prm")->status, 404);
}

TEST_F(ServiceApi, FullQueueIsTurnedAway) {
    // The one worker busy and no waiting place: an engine request is refused
    // at once, the cheap endpoints still answer.
    serverOptions options;
    options.threads = 1;
    options.maxQueue = 0;
    testServer small("examples/assess.prm", options);
    std::mutex mutex;
    std::condition_variable changed;
    bool release = false;
    std::thread holder([&] {
        small.server->gate.run([&] {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return release; });
        });
    });
    while (small.server->gate.running() != 1) std::this_thread::yield();
    apiReply busy = postParts(*small.client(), "/v1/assess", assessParts(readWholeFile(exampleWave()), EXAMPLE_TEXT));
    EXPECT_EQ(busy.status, 503);
    EXPECT_EQ(busy.body["error"]["code"], "busy");
    EXPECT_EQ(getPath(*small.client(), "/healthz").status, 200);
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    changed.notify_all();
    holder.join();
    EXPECT_EQ(postParts(*small.client(), "/v1/assess", assessParts(readWholeFile(exampleWave()), EXAMPLE_TEXT)).status,
              200);
}

TEST(ServiceLimits, TextsListingTooManyPronunciations) {
    // The example lexicon with two pronunciations of "zero": 2^14 sequences
    // for fourteen zeros, over the limit of 10,000; 2^13 within it.
    scratchDir dir;
    std::string wpa = readWholeFile(examplePath("examples/digits.wpa"));
    wpa = replaceAll(wpa, "zero\tz_ih_r_ow", "zero\tz_ih_r_ow#z_iy_r_ow");
    std::string params = readWholeFile(examplePath("examples/assess.prm")) + "\nwpaFile=" + dir.write("alt.wpa", wpa) +
                         "\n";
    testServer server(dir.write("alt.prm", params));
    std::string wave = readWholeFile(exampleWave());
    std::string zeros;
    for (int i = 0; i < 14; ++i) zeros += i ? " zero" : "zero";
    apiReply many = postParts(*server.client(), "/v1/assess", assessParts(wave, zeros));
    EXPECT_EQ(many.status, 422) << many.text;
    EXPECT_EQ(many.body["error"]["code"], "too_many_pronunciations");
    EXPECT_NE(many.body["error"]["message"].get<std::string>().find("16384"), std::string::npos);
    apiReply fewer = postParts(*server.client(), "/v1/assess", assessParts(wave, zeros.substr(5)));
    EXPECT_NE(fewer.body["error"]["code"], "too_many_pronunciations") << fewer.text;
    EXPECT_NE(fewer.status, 500) << fewer.text;
}

TEST(ServiceToken, EveryV1RequestNeedsTheBearerToken) {
    testServer guarded("examples/assess.prm", serverOptions(), "tok-123");
    auto client = guarded.client();
    httplib::MultipartFormDataItems parts = assessParts(readWholeFile(exampleWave()), EXAMPLE_TEXT);
    for (const httplib::Headers& headers :
         {httplib::Headers{}, httplib::Headers{{"Authorization", "Bearer tok-12"}},
          httplib::Headers{{"Authorization", "Basic tok-123"}}}) {
        apiReply reply = postParts(*client, "/v1/assess", parts, headers);
        EXPECT_EQ(reply.status, 401);
        EXPECT_EQ(reply.body["error"]["code"], "unauthorized");
        EXPECT_EQ(getPath(*client, "/v1/info", headers).status, 401);
    }
    httplib::Headers good = {{"Authorization", "Bearer tok-123"}};
    EXPECT_EQ(postParts(*client, "/v1/assess", parts, good).status, 200);
    EXPECT_EQ(getPath(*client, "/v1/info", good).status, 200);
    // Health, metrics and the page need none.
    EXPECT_EQ(getPath(*client, "/healthz").status, 200);
    EXPECT_EQ(client->Get("/metrics")->status, 200);
    EXPECT_EQ(client->Get("/")->status, 200);
}

}  // namespace
