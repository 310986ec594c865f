// Many clients at once: every request is answered, and each answer equals
// the one the same request gets alone; a client that sends half a request
// and stalls holds neither an engine worker nor the other clients.
#include "serviceFixtures.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct mixedRequest {
    std::string path;
    httplib::MultipartFormDataItems parts;
};

// Valid assessments and recognitions of the three example waves, and
// requests with unknown words, broken audio or no text.
std::vector<mixedRequest> mixedRequests() {
    std::vector<mixedRequest> requests;
    const char* waves[] = {"digits-8095439.wav", "digits-124458.wav", "digits-4389997.wav"};
    const char* texts[] = {"eight zero nine five four three nine", "one two four four five eight",
                           "four three eight nine nine nine seven"};
    std::string candidates = readWholeFile(examplePath("examples/candidates.txt"));
    for (int i = 0; i < 3; ++i) {
        std::string wave = readWholeFile(exampleWave(waves[i]));
        requests.push_back({"/v1/assess", assessParts(wave, texts[i])});
        requests.push_back({"/v1/assess", assessParts(wave, texts[(i + 1) % 3])});
        requests.push_back({"/v1/recognize", {part("audio", wave, "w.wav"), part("texts", candidates)}});
    }
    std::string wave = readWholeFile(exampleWave());
    requests.push_back({"/v1/assess", assessParts(wave, "eight quux")});
    requests.push_back({"/v1/assess", assessParts(wave.substr(0, 50), EXAMPLE_TEXT)});
    requests.push_back({"/v1/assess", {part("audio", wave, "w.wav")}});
    return requests;
}

}  // namespace

TEST(ServiceConcurrency, EightClientsGetTheSequentialAnswers) {
    serverOptions options;
    options.threads = 4;
    testServer server("examples/assess.prm", options);
    std::vector<mixedRequest> requests = mixedRequests();

    std::vector<apiReply> alone;
    for (const mixedRequest& r : requests) {
        alone.push_back(postParts(*server.client(), r.path, r.parts));
        ASSERT_NE(alone.back().status, -1);
        ASSERT_NE(alone.back().status, 500) << alone.back().text;
    }
    ASSERT_EQ(alone[0].status, 200);
    ASSERT_EQ(alone[9].status, 422);

    const int clients = 8, perClient = 50;
    std::vector<std::vector<std::pair<size_t, apiReply>>> answers(clients);
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
        threads.emplace_back([&, c] {
            auto client = server.client();
            for (int i = 0; i < perClient; ++i) {
                size_t which = static_cast<size_t>(c * 7 + i) % requests.size();
                answers[c].emplace_back(which, postParts(*client, requests[which].path, requests[which].parts));
            }
        });
    for (std::thread& t : threads) t.join();

    int answered = 0;
    for (const auto& list : answers)
        for (const auto& entry : list) {
            const apiReply& got = entry.second;
            const apiReply& expected = alone[entry.first];
            ASSERT_EQ(got.status, expected.status) << got.text;
            if (got.status == 200)
                EXPECT_EQ(comparable(got.body), comparable(expected.body)) << "request " << entry.first;
            else
                EXPECT_EQ(got.body, expected.body);
            ++answered;
        }
    EXPECT_EQ(answered, clients * perClient);
    EXPECT_EQ(server.server->gate.running(), 0);
    EXPECT_EQ(server.server->gate.waiting(), 0);
}

TEST(ServiceConcurrency, StalledClientBlocksNoOne) {
    serverOptions options;
    options.threads = 1;
    options.connectionTimeoutSeconds = 4;
    testServer server("examples/assess.prm", options);

    // Headers of a multipart request promising 100,000 bytes, and 10 of them.
    int stalled = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(stalled, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(server.port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(stalled, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::string half =
        "POST /v1/assess HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; boundary=b\r\n"
        "Content-Length: 100000\r\n\r\n--b\r\nConte";
    ASSERT_EQ(send(stalled, half.data(), half.size(), 0), static_cast<ssize_t>(half.size()));
    auto stallStart = std::chrono::steady_clock::now();

    // The one engine worker serves others while the stalled connection is
    // still open: the answers come before its timeout, and it has not been
    // answered or closed by then.
    for (int i = 0; i < 3; ++i) {
        apiReply reply =
            postParts(*server.client(), "/v1/assess", assessParts(readWholeFile(exampleWave()), EXAMPLE_TEXT));
        EXPECT_EQ(reply.status, 200);
    }
    char buffer[512];
    double served = std::chrono::duration<double>(std::chrono::steady_clock::now() - stallStart).count();
    if (served < options.connectionTimeoutSeconds - 0.5) {
        errno = 0;
        EXPECT_LT(recv(stalled, buffer, sizeof buffer, MSG_DONTWAIT), 0) << "the stalled request was answered";
        EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
    } else {
        ADD_FAILURE() << "three assessments took " << served << " s beside the stalled connection";
    }

    // The stalled connection is dropped after the timeout.
    timeval wait{15, 0};
    setsockopt(stalled, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    ssize_t got = recv(stalled, buffer, sizeof buffer, 0);
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - stallStart).count();
    EXPECT_LT(waited, options.connectionTimeoutSeconds + 8) << "the stalled connection was kept";
    EXPECT_GE(got, 0);
    close(stalled);
    EXPECT_EQ(getPath(*server.client(), "/healthz").status, 200);
}
