// Load on a running recognize-server at localhost: N clients for T seconds
// (or until a request count), each sending a mix of valid assessments and
// recognitions of an example wave and invalid requests (an unknown word,
// broken audio, a missing text). Prints the throughput, the latency
// percentiles, the answers by status and the server's resident memory before
// and after (read from /proc, so only a server on this machine).
//
// bench_serverLoad --port N [--pid PID] [--clients N] [--seconds T]
//                  [--requests N] [--rss-after N] [--invalid-percent P] [--wave FILE]
//                  [--text TEXT] [--candidates FILE]
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct loadOptions {
    int port = 8080;
    long pid = 0;
    int clients = 1;
    double seconds = 10;
    long requests = 0;  // 0 = no count limit
    long checkpoint = 0;  // > 0: print the server's RSS once this many requests are answered
    int invalidPercent = 20;
    std::string wave = "examples/waves/digits-8095439.wav";
    std::string text = "eight zero nine five four three nine";
    std::string candidates = "examples/candidates.txt";
};

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(1);
    }
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// VmRSS of a process in kB; -1 when it cannot be read.
long residentKb(long pid) {
    if (pid <= 0) return -1;
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
    return -1;
}

bool parseArgs(int argc, char** argv, loadOptions& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc) return false;
        std::string v = argv[++i];
        if (a == "--port") o.port = std::atoi(v.c_str());
        else if (a == "--pid") o.pid = std::atol(v.c_str());
        else if (a == "--clients") o.clients = std::atoi(v.c_str());
        else if (a == "--seconds") o.seconds = std::atof(v.c_str());
        else if (a == "--requests") o.requests = std::atol(v.c_str());
        else if (a == "--rss-after") o.checkpoint = std::atol(v.c_str());
        else if (a == "--invalid-percent") o.invalidPercent = std::atoi(v.c_str());
        else if (a == "--wave") o.wave = v;
        else if (a == "--text") o.text = v;
        else if (a == "--candidates") o.candidates = v;
        else return false;
    }
    // Bounded load: at most 64 clients for at most ten minutes.
    return o.port > 0 && o.port < 65536 && o.clients >= 1 && o.clients <= 64 && o.seconds > 0 && o.seconds <= 600 &&
           o.invalidPercent >= 0 && o.invalidPercent <= 100 && o.requests >= 0;
}

double percentile(std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    size_t index = static_cast<size_t>(p / 100 * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
    loadOptions o;
    if (!parseArgs(argc, argv, o)) {
        std::fprintf(stderr,
                     "Usage: %s --port N [--pid PID] [--clients N<=64] [--seconds T<=600] [--requests N] [--rss-after N]\n"
                     "       [--invalid-percent P] [--wave FILE] [--text TEXT] [--candidates FILE]\n",
                     argv[0]);
        return 1;
    }
    std::string wave = fileBytes(o.wave);
    std::string candidates = fileBytes(o.candidates);
    auto item = [](const char* name, const std::string& content, const char* filename) {
        return httplib::MultipartFormData{name, content, filename, *filename ? "application/octet-stream" : ""};
    };
    struct kind {
        const char* name;
        const char* path;
        httplib::MultipartFormDataItems parts;
        bool valid;
    };
    const std::vector<kind> kinds = {
        {"assess", "/v1/assess", {item("audio", wave, "a.wav"), item("text", o.text, "")}, true},
        {"recognize", "/v1/recognize", {item("audio", wave, "a.wav"), item("texts", candidates, "")}, true},
        {"unknown word", "/v1/assess", {item("audio", wave, "a.wav"), item("text", "eight zebra", "")}, false},
        {"broken audio", "/v1/assess", {item("audio", wave.substr(0, 60), "a.wav"), item("text", o.text, "")}, false},
        {"no text", "/v1/assess", {item("audio", wave, "a.wav")}, false},
    };

    long rssBefore = residentKb(o.pid);
    std::mutex mutex;
    std::vector<double> latencies, validLatencies;
    std::map<int, long> byStatus;
    std::atomic<long> issued{0};
    auto start = std::chrono::steady_clock::now();
    auto deadline = start + std::chrono::duration<double>(o.seconds);
    std::vector<std::thread> threads;
    for (int c = 0; c < o.clients; ++c)
        threads.emplace_back([&, c] {
            httplib::Client client("127.0.0.1", o.port);
            client.set_keep_alive(true);
            client.set_tcp_nodelay(true);
            client.set_read_timeout(60, 0);
            unsigned seed = 7919u * static_cast<unsigned>(c + 1);
            while (std::chrono::steady_clock::now() < deadline) {
                if (o.requests > 0 && issued.fetch_add(1) >= o.requests) break;
                seed = seed * 1103515245u + 12345u;
                bool invalid = static_cast<int>((seed >> 16) % 100) < o.invalidPercent;
                seed = seed * 1103515245u + 12345u;
                const kind& k = invalid ? kinds[2 + (seed >> 16) % 3] : kinds[(seed >> 16) % 2];
                auto t0 = std::chrono::steady_clock::now();
                httplib::Result r = client.Post(k.path, k.parts);
                double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
                std::lock_guard<std::mutex> lock(mutex);
                latencies.push_back(ms);
                if (k.valid) validLatencies.push_back(ms);
                ++byStatus[r ? r->status : -1];
                if (o.checkpoint > 0 && static_cast<long>(latencies.size()) == o.checkpoint)
                    std::printf("server RSS kB after %ld requests: %ld\n", o.checkpoint, residentKb(o.pid));
            }
        });
    for (std::thread& t : threads) t.join();
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    long rssAfter = residentKb(o.pid);

    std::sort(latencies.begin(), latencies.end());
    std::sort(validLatencies.begin(), validLatencies.end());
    std::printf("clients %d, %.1f s, %zu requests (%d%% invalid): %.1f requests/s\n", o.clients, elapsed,
                latencies.size(), o.invalidPercent, static_cast<double>(latencies.size()) / elapsed);
    std::printf("latency ms, all:   p50 %.1f  p95 %.1f  p99 %.1f\n", percentile(latencies, 50),
                percentile(latencies, 95), percentile(latencies, 99));
    std::printf("latency ms, valid: p50 %.1f  p95 %.1f  p99 %.1f\n", percentile(validLatencies, 50),
                percentile(validLatencies, 95), percentile(validLatencies, 99));
    std::printf("answers by status:");
    long serverErrors = 0;
    for (const auto& entry : byStatus) {
        std::printf(" %d=%ld", entry.first, entry.second);
        if (entry.first >= 500 || entry.first < 0) serverErrors += entry.second;
    }
    std::printf("\nserver RSS kB: before %ld, after %ld\n", rssBefore, rssAfter);
    std::printf("5xx or unanswered: %ld\n", serverErrors);
    return serverErrors == 0 ? 0 : 3;
}
