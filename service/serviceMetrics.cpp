#include "service/serviceMetrics.h"

#include "run/utility.h"

const std::vector<double> LATENCY_BUCKETS = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};

std::string endpointLabel(const std::string& path) {
    static const char* const KNOWN[] = {"/healthz", "/metrics", "/v1/info", "/v1/assess", "/v1/recognize"};
    for (const char* known : KNOWN)
        if (path == known) return known;
    if (path == "/" || path == "/index.html" || path == "/app.js" || path == "/style.css") return "/";
    return "other";
}

void serviceMetrics::record(const std::string& endpoint, int status, double seconds) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_requests[{endpoint, status}];
    histogram& h = m_latency[endpoint];
    for (size_t i = 0; i < LATENCY_BUCKETS.size(); ++i)
        if (seconds <= LATENCY_BUCKETS[i]) {
            ++h.buckets[i];
            break;
        }
    ++h.count;
    h.sum += seconds;
}

uint64_t serviceMetrics::count(const std::string& endpoint, int status) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_requests.find({endpoint, status});
    return it == m_requests.end() ? 0 : it->second;
}

std::string serviceMetrics::prometheusText(int32_t inFlight, int32_t queued) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string out;
    out += "# HELP recognize_requests_total Requests answered, by endpoint and status.\n";
    out += "# TYPE recognize_requests_total counter\n";
    for (const auto& entry : m_requests)
        out += formatString("recognize_requests_total{endpoint=\"%s\",status=\"%d\"} %llu\n",
                            entry.first.first.c_str(), entry.first.second,
                            static_cast<unsigned long long>(entry.second));
    out += "# HELP recognize_request_duration_seconds Time from the request's headers to its answer.\n";
    out += "# TYPE recognize_request_duration_seconds histogram\n";
    for (const auto& entry : m_latency) {
        const histogram& h = entry.second;
        const char* endpoint = entry.first.c_str();
        uint64_t cumulative = 0;
        for (size_t i = 0; i < LATENCY_BUCKETS.size(); ++i) {
            cumulative += h.buckets[i];
            out += formatString("recognize_request_duration_seconds_bucket{endpoint=\"%s\",le=\"%g\"} %llu\n",
                                endpoint, LATENCY_BUCKETS[i], static_cast<unsigned long long>(cumulative));
        }
        out += formatString("recognize_request_duration_seconds_bucket{endpoint=\"%s\",le=\"+Inf\"} %llu\n",
                            endpoint, static_cast<unsigned long long>(h.count));
        out += formatString("recognize_request_duration_seconds_sum{endpoint=\"%s\"} %.6f\n", endpoint, h.sum);
        out += formatString("recognize_request_duration_seconds_count{endpoint=\"%s\"} %llu\n", endpoint,
                            static_cast<unsigned long long>(h.count));
    }
    out += "# HELP recognize_requests_in_flight Requests the engine is working on.\n";
    out += "# TYPE recognize_requests_in_flight gauge\n";
    out += formatString("recognize_requests_in_flight %d\n", inFlight);
    out += "# HELP recognize_queue_length Requests waiting for an engine worker.\n";
    out += "# TYPE recognize_queue_length gauge\n";
    out += formatString("recognize_queue_length %d\n", queued);
    return out;
}
