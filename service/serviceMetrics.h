// Counters of the service in the Prometheus text exposition format: requests
// by endpoint and status, a latency histogram by endpoint, and the gauges of
// the work gate (requests running and waiting).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Upper bounds of the latency histogram buckets, in seconds.
extern const std::vector<double> LATENCY_BUCKETS;

// The endpoint label of a request path: one of the served paths, "/" for
// the page and its assets, "other" for anything else (so that clients cannot
// grow the label set).
std::string endpointLabel(const std::string& path);

class serviceMetrics {
public:
    // Counts one answered request and its latency.
    void record(const std::string& endpoint, int status, double seconds);

    // The exposition text, with the gauges given by the caller.
    std::string prometheusText(int32_t inFlight, int32_t queued) const;

    // Requests answered so far with that endpoint and status.
    uint64_t count(const std::string& endpoint, int status) const;

private:
    struct histogram {
        std::vector<uint64_t> buckets = std::vector<uint64_t>(LATENCY_BUCKETS.size(), 0);  // not cumulative
        uint64_t count = 0;
        double sum = 0;
    };
    mutable std::mutex m_mutex;
    std::map<std::pair<std::string, int>, uint64_t> m_requests;
    std::map<std::string, histogram> m_latency;
};
