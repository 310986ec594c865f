#include "serviceFixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <unistd.h>

const char* const EXAMPLE_TEXT = "eight zero nine five four three nine";

std::string examplePath(const std::string& relative) { return std::string(RECOG_SOURCE_DIR) + "/" + relative; }

std::string exampleWave(const std::string& name) { return examplePath("examples/waves/" + name); }

void enterSourceDir() {
    if (chdir(RECOG_SOURCE_DIR) != 0) std::abort();
}

testServer::testServer(const std::string& paramFile, serverOptions options, const std::string& token) {
    enterSourceDir();
    options.host = "127.0.0.1";
    options.port = 0;
    if (options.threads == 0) options.threads = 2;
    options.quiet = true;
    serviceLimits limits;
    limits.maxSeconds = options.maxSeconds;
    loadAssessmentService(paramFile, limits, service);
    server = std::make_unique<recognizeServer>(service, options, token);
    if (!server->bind()) std::abort();
    thread = std::thread([this] { server->serve(); });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!server->running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

testServer::~testServer() {
    server->stop();
    thread.join();
}

std::unique_ptr<httplib::Client> testServer::client() const {
    auto c = std::make_unique<httplib::Client>("127.0.0.1", port());
    c->set_tcp_nodelay(true);
    c->set_read_timeout(60, 0);
    c->set_write_timeout(60, 0);
    return c;
}

httplib::MultipartFormData part(const std::string& name, const std::string& content, const std::string& filename) {
    return {name, content, filename, filename.empty() ? "" : "application/octet-stream"};
}

httplib::MultipartFormDataItems assessParts(const std::string& audio, const std::string& text) {
    return {part("audio", audio, "speech.wav"), part("text", text)};
}

namespace {

apiReply replyOf(const httplib::Result& result) {
    apiReply reply;
    if (!result) return reply;
    reply.status = result->status;
    reply.text = result->body;
    reply.body = nlohmann::json::parse(result->body, nullptr, false);
    return reply;
}

}  // namespace

apiReply postParts(httplib::Client& client, const std::string& path, const httplib::MultipartFormDataItems& parts,
                   const httplib::Headers& headers) {
    return replyOf(client.Post(path.c_str(), headers, parts));
}

apiReply getPath(httplib::Client& client, const std::string& path, const httplib::Headers& headers) {
    return replyOf(client.Get(path.c_str(), headers));
}

nlohmann::json comparable(nlohmann::json doc) {
    doc.erase("seconds");
    if (doc.contains("wave")) doc["wave"].erase("path");
    return doc;
}

std::string waveBytes(uint16_t formatTag, uint16_t channels, uint32_t rate, uint16_t bits, const std::string& data) {
    auto le = [](uint32_t v, int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += static_cast<char>((v >> (8 * i)) & 0xff);
        return s;
    };
    uint16_t align = static_cast<uint16_t>(channels * (bits / 8 ? bits / 8 : 1));
    std::string fmt = le(formatTag, 2) + le(channels, 2) + le(rate, 4) + le(rate * align, 4) + le(align, 2) +
                      le(bits, 2);
    std::string body = "WAVE" + std::string("fmt ") + le(16, 4) + fmt + "data" + le(static_cast<uint32_t>(data.size()), 4) +
                       data;
    return "RIFF" + le(static_cast<uint32_t>(body.size()), 4) + body;
}

std::string rawNoise(double seconds) {
    std::string bytes;
    uint32_t seed = 12345;
    for (long i = 0; i < static_cast<long>(seconds * 16000); ++i) {
        seed = seed * 1103515245u + 12345u;
        int16_t sample = static_cast<int16_t>(static_cast<int32_t>((seed >> 16) % 2001) - 1000);
        bytes += static_cast<char>(sample & 0xff);
        bytes += static_cast<char>((sample >> 8) & 0xff);
    }
    return bytes;
}

std::string flvBytes(int tags, int blocksPerTag, uint8_t flags) {
    auto be = [](uint32_t v, int n) {
        std::string s;
        for (int i = n - 1; i >= 0; --i) s += static_cast<char>((v >> (8 * i)) & 0xff);
        return s;
    };
    std::string out = std::string("FLV\x01\x04", 5) + be(9, 4);
    uint32_t previous = 0;
    uint32_t seed = 99;
    for (int t = 0; t < tags; ++t) {
        std::string data(1, static_cast<char>(flags));
        for (int b = 0; b < blocksPerTag * 64; ++b) {
            seed = seed * 1664525u + 1013904223u;
            data += static_cast<char>(seed >> 24);
        }
        out += be(previous, 4);
        out += std::string(1, '\x08') + be(static_cast<uint32_t>(data.size()), 3) + be(0, 3) + std::string(1, '\0') +
               be(0, 3) + data;
        previous = static_cast<uint32_t>(11 + data.size());
    }
    out += be(previous, 4);
    return out;
}
