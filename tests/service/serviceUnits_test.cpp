// The parts of the service that need no server: the command line, the token
// check, request texts, upload checks (FLV walked as its reader walks it),
// the metrics text and the work gate.
#include "serviceFixtures.h"

#include "service/serviceMetrics.h"
#include "service/uploadCheck.h"
#include "service/workGate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

TEST(ServerOptions, DefaultsAndEveryOption) {
    serverOptions defaults;
    EXPECT_EQ(parseServerArguments({"x.prm"}, defaults), "");
    EXPECT_EQ(defaults.host, "127.0.0.1");
    EXPECT_EQ(defaults.port, 8080);
    EXPECT_GE(defaults.threads, 1);
    EXPECT_EQ(defaults.maxBodyBytes(), 20u * 1024 * 1024);
    EXPECT_EQ(defaults.maxSeconds, 60);
    EXPECT_EQ(defaults.maxQueue, 64);
    EXPECT_FALSE(defaults.quiet);

    serverOptions o;
    EXPECT_EQ(parseServerArguments({"--host", "0.0.0.0", "--port", "9", "--threads", "3", "--max-body-mb", "1.5",
                                    "--max-seconds", "7", "--max-queue", "0", "--token-file", "t", "--quiet", "p.prm"},
                                   o),
              "");
    EXPECT_EQ(o.host, "0.0.0.0");
    EXPECT_EQ(o.port, 9);
    EXPECT_EQ(o.threads, 3);
    EXPECT_EQ(o.maxBodyBytes(), static_cast<size_t>(1.5 * 1024 * 1024));
    EXPECT_EQ(o.maxSeconds, 7);
    EXPECT_EQ(o.maxQueue, 0);
    EXPECT_EQ(o.tokenFile, "t");
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.paramFile, "p.prm");
}

TEST(ServerOptions, WrongCommandLines) {
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"--port", "70000", "p.prm"},
        {"--port", "8x", "p.prm"},
        {"--threads", "0", "p.prm"},
        {"--max-body-mb", "-1", "p.prm"},
        {"--max-seconds", "nan", "p.prm"},
        {"--frobnicate", "1", "p.prm"},
        {"p.prm", "--port"},
        {"a.prm", "b.prm"},
    };
    for (const auto& args : wrong) {
        serverOptions o;
        EXPECT_NE(parseServerArguments(args, o), "") << testing::PrintToString(args);
    }
}

TEST(BearerToken, OnlyTheExactTokenMatches) {
    EXPECT_TRUE(bearerTokenMatches("Bearer s3cret", "s3cret"));
    EXPECT_TRUE(bearerTokenMatches("bearer s3cret", "s3cret"));
    EXPECT_FALSE(bearerTokenMatches("Bearer s3cre", "s3cret"));
    EXPECT_FALSE(bearerTokenMatches("Bearer s3cretx", "s3cret"));
    EXPECT_FALSE(bearerTokenMatches("Bearer s3creT", "s3cret"));
    EXPECT_FALSE(bearerTokenMatches("Basic s3cret", "s3cret"));
    EXPECT_FALSE(bearerTokenMatches("s3cret", "s3cret"));
    EXPECT_FALSE(bearerTokenMatches("", "s3cret"));
    EXPECT_FALSE(bearerTokenMatches("Bearer ", ""));
}

TEST(RequestText, SpacesAreFoldedAndSeparatorsRefused) {
    std::string text, problem;
    ASSERT_TRUE(requestTextOf("  eight\tzero\r\n nine  ", text, problem));
    EXPECT_EQ(text, "eight zero nine");
    ASSERT_TRUE(requestTextOf("", text, problem));
    EXPECT_EQ(text, "");
    EXPECT_FALSE(requestTextOf("eight#zero", text, problem));
    EXPECT_NE(problem.find('#'), std::string::npos);
    EXPECT_FALSE(requestTextOf(std::string("eight\0zero", 10), text, problem));
    EXPECT_FALSE(requestTextOf("eight\x1bzero", text, problem));
}

TEST(TextLexicon, MissingWordsAndListingCount) {
    enterSourceDir();
    assessmentService service;
    loadAssessmentService("examples/assess.prm", serviceLimits(), service);
    textLexiconCheck check = checkTextsAgainstLexicon(service.resources, {"eight zero", "hello eight world hello"});
    EXPECT_EQ(check.missingWords, (std::vector<std::string>{"hello", "world"}));

    // The listing is the product of each word's alternatives, summed over texts.
    auto alternatives = [&](const std::string& word) {
        return service.resources.lexicon.m_wpa[static_cast<size_t>(service.resources.lexicon.wpaFind(word))].pa.size();
    };
    check = checkTextsAgainstLexicon(service.resources, {"EIGHT zero nine", "five"});
    EXPECT_TRUE(check.missingWords.empty());
    EXPECT_EQ(check.listings, alternatives("eight") * alternatives("zero") * alternatives("nine") + alternatives("five"));
    EXPECT_EQ(phoneSetOf(service.resources.models).front(), "ah");
}

TEST(UploadCheck, WaveFormatsTheReaderTakesAndRefuses) {
    std::string pcm(32000, '\0');
    uploadCheck ok = checkUpload(waveBytes(1, 1, 16000, 16, pcm), "", 60);
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.extension, ".wav");
    EXPECT_DOUBLE_EQ(ok.seconds, 1.0);
    EXPECT_EQ(checkUpload(waveBytes(7, 1, 8000, 8, pcm), "wav", 60).seconds, 4.0);  // mu-law: a byte a sample

    EXPECT_EQ(checkUpload(waveBytes(3, 1, 16000, 32, pcm), "", 60).status, 415);   // float
    EXPECT_EQ(checkUpload(waveBytes(1, 1, 16000, 24, pcm), "", 60).status, 415);   // 24-bit
    EXPECT_EQ(checkUpload(waveBytes(1, 0, 16000, 16, pcm), "", 60).status, 415);   // no channel
    EXPECT_EQ(checkUpload(waveBytes(1, 1, 16000, 16, pcm), "", 0.5).status, 413);  // too long
    EXPECT_EQ(checkUpload("RIFF", "wav", 60).status, 400);
    // A truncated header is left to the reader, which names the fault.
    EXPECT_EQ(checkUpload(waveBytes(1, 1, 16000, 16, pcm).substr(0, 30), "", 60).status, 0);
}

TEST(UploadCheck, FormatFieldAndRawAudio) {
    EXPECT_EQ(checkUpload("just some bytes", "", 60).status, 415);
    EXPECT_EQ(checkUpload("just some bytes", "mp3", 60).status, 415);
    uploadCheck raw = checkUpload(std::string(48000, 'x'), "raw", 60);
    EXPECT_EQ(raw.status, 0);
    EXPECT_EQ(raw.extension, ".raw");
    EXPECT_DOUBLE_EQ(raw.seconds, 1.5);
    EXPECT_EQ(checkUpload(std::string(48000, 'x'), "raw", 1).status, 413);
    EXPECT_EQ(checkUpload("x", "raw", 60).status, 400);
    // Raw audio that happens to start like a RIFF file stays raw when asked.
    EXPECT_EQ(checkUpload(waveBytes(3, 1, 16000, 32, "abcd"), "raw", 60).extension, ".raw");
}

TEST(UploadCheck, FlvContainersTheReaderWouldStopOn) {
    std::string good = flvBytes(3, 2);
    double seconds = -1;
    bool unsupported = true;
    EXPECT_EQ(flvContainerProblem(good, seconds, unsupported), "");
    EXPECT_FALSE(unsupported);
    EXPECT_DOUBLE_EQ(seconds, 3 * 2 * 256 / 8000.0);
    uploadCheck check = checkUpload(good, "", 60);
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(check.extension, ".flv");

    auto problemOf = [](const std::string& bytes) {
        double s = 0;
        bool u = false;
        return flvContainerProblem(bytes, s, u);
    };
    std::string sizeMismatch = good;
    sizeMismatch[good.size() - 1] ^= 1;  // the last previous-tag size
    EXPECT_NE(problemOf(sizeMismatch).find("previous-tag size"), std::string::npos);
    std::string streamId = good;
    streamId[13 + 10] = 1;  // first tag's stream identifier
    EXPECT_NE(problemOf(streamId).find("stream identifier"), std::string::npos);
    EXPECT_NE(problemOf(good.substr(0, good.size() - 30)).find("past the end"), std::string::npos);
    EXPECT_NE(problemOf(good.substr(0, 9 + 4 + 5)).find("past the end"), std::string::npos);
    std::string changed = good;
    changed[good.size() - 4 - (129 + 11) + 11] = 0x56;  // the last tag's flags byte
    EXPECT_NE(problemOf(changed).find("midstream"), std::string::npos);
    EXPECT_NE(problemOf("FLV\x02").find("header"), std::string::npos);

    // A first audio tag in another codec is refused as a format (415).
    EXPECT_EQ(checkUpload(flvBytes(1, 1, 0x2e), "", 60).status, 415);  // MP3
    EXPECT_EQ(checkUpload(streamId, "", 60).status, 400);
    EXPECT_EQ(checkUpload(flvBytes(10, 4), "", 1).status, 413);  // 10 * 4 * 256 samples at 8 kHz
    EXPECT_EQ(checkUpload(flvBytes(0, 0), "", 60).status, 0);     // no audio tag: the reader delivers nothing
}

TEST(ServiceMetrics, CountsHistogramAndGauges) {
    serviceMetrics m;
    m.record("/v1/assess", 200, 0.003);
    m.record("/v1/assess", 200, 0.04);
    m.record("/v1/assess", 422, 20);
    m.record("/healthz", 200, 0.0001);
    EXPECT_EQ(m.count("/v1/assess", 200), 2u);
    EXPECT_EQ(m.count("/v1/assess", 422), 1u);
    EXPECT_EQ(m.count("/v1/recognize", 200), 0u);
    std::string text = m.prometheusText(3, 5);
    auto has = [&](const std::string& line) { return text.find(line + "\n") != std::string::npos; };
    EXPECT_TRUE(has("recognize_requests_total{endpoint=\"/v1/assess\",status=\"200\"} 2"));
    EXPECT_TRUE(has("recognize_requests_total{endpoint=\"/v1/assess\",status=\"422\"} 1"));
    // Buckets are cumulative; the 20 s request lies above the last bound.
    EXPECT_TRUE(has("recognize_request_duration_seconds_bucket{endpoint=\"/v1/assess\",le=\"0.005\"} 1"));
    EXPECT_TRUE(has("recognize_request_duration_seconds_bucket{endpoint=\"/v1/assess\",le=\"0.05\"} 2"));
    EXPECT_TRUE(has("recognize_request_duration_seconds_bucket{endpoint=\"/v1/assess\",le=\"10\"} 2"));
    EXPECT_TRUE(has("recognize_request_duration_seconds_bucket{endpoint=\"/v1/assess\",le=\"+Inf\"} 3"));
    EXPECT_TRUE(has("recognize_request_duration_seconds_count{endpoint=\"/v1/assess\"} 3"));
    EXPECT_TRUE(has("recognize_requests_in_flight 3"));
    EXPECT_TRUE(has("recognize_queue_length 5"));
    EXPECT_EQ(endpointLabel("/v1/assess"), "/v1/assess");
    EXPECT_EQ(endpointLabel("/app.js"), "/");
    EXPECT_EQ(endpointLabel("/v1/assess/../../etc/passwd"), "other");
}

// A job that runs until released, and how many such jobs are running.
class heldJobs {
public:
    std::function<void()> job() {
        return [this] {
            std::unique_lock<std::mutex> lock(m_mutex);
            ++m_started;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_released; });
        };
    }
    void waitStarted(int n) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_started >= n; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_started = 0;
    bool m_released = false;
};

TEST(WorkGateConcurrency, BoundsRunningAndWaitingJobs) {
    workGate gate(2, 1);
    heldJobs held;
    std::function<void()> job = held.job();
    std::vector<std::thread> submitters;
    std::atomic<int> admitted{0};
    for (int i = 0; i < 2; ++i) submitters.emplace_back([&] { admitted += gate.run(job); });
    held.waitStarted(2);
    EXPECT_EQ(gate.running(), 2);
    submitters.emplace_back([&] { admitted += gate.run(job); });  // waits: both workers busy
    while (gate.waiting() != 1) std::this_thread::yield();
    bool ran = false;
    EXPECT_FALSE(gate.run([&] { ran = true; }));  // the one waiting place is taken
    EXPECT_FALSE(ran);
    held.release();
    for (std::thread& t : submitters) t.join();
    EXPECT_EQ(admitted, 3);
    EXPECT_EQ(gate.running(), 0);
    EXPECT_EQ(gate.waiting(), 0);
    EXPECT_TRUE(gate.run([&] { ran = true; }));
    EXPECT_TRUE(ran);
}

TEST(WorkGateConcurrency, JobsRunOnTheWorkersOnly) {
    // Eight submitters through a gate of 3 workers: at most 3 jobs at once,
    // every job on one of 3 threads, none on a submitter's thread.
    workGate gate(3, 1000);
    std::mutex mutex;
    std::set<std::thread::id> workerIds, submitterIds;
    std::atomic<int> inside{0}, most{0}, done{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            {
                std::lock_guard<std::mutex> lock(mutex);
                submitterIds.insert(std::this_thread::get_id());
            }
            for (int i = 0; i < 200; ++i) {
                bool admitted = gate.run([&] {
                    int now = ++inside;
                    int seen = most;
                    while (now > seen && !most.compare_exchange_weak(seen, now)) {
                    }
                    {
                        std::lock_guard<std::mutex> lock(mutex);
                        workerIds.insert(std::this_thread::get_id());
                    }
                    --inside;
                    ++done;
                });
                EXPECT_TRUE(admitted);
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(done, 8 * 200);
    EXPECT_LE(most, 3);
    EXPECT_LE(workerIds.size(), 3u);
    for (const std::thread::id& id : workerIds) EXPECT_EQ(submitterIds.count(id), 0u);
}
