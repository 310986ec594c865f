// The HTTP side of the assessment service, on cpp-httplib: the routes, the
// bearer token, the error bodies, the metrics and the access log. The
// server's connection threads read requests and write answers; the engine
// work of a request runs on a worker of the work gate, so that a slow or
// stalled client holds a connection thread (until the read timeout) but
// never an engine worker.
#pragma once

#include "service/assessService.h"
#include "service/serverOptions.h"
#include "service/serviceMetrics.h"
#include "service/workGate.h"

#include <atomic>
#include <memory>
#include <string>

class recognizeServer {
public:
    // token: the bearer token every /v1/ request must carry; "" = none.
    recognizeServer(const assessmentService& service, const serverOptions& options, const std::string& token);
    ~recognizeServer();
    recognizeServer(const recognizeServer&) = delete;
    recognizeServer& operator=(const recognizeServer&) = delete;

    // Binds options.host and options.port (0: any free port). False when the
    // address cannot be bound.
    bool bind();
    // The port bound.
    int port() const { return m_port; }
    // Answers requests until stop, then returns once every request under way
    // has been answered.
    void serve();
    // Stops accepting connections; serve returns after the requests under way.
    void stop();
    // serve is accepting connections.
    bool running() const;

    serviceMetrics metrics;
    workGate gate;

private:
    struct impl;
    const assessmentService& m_service;
    serverOptions m_options;
    std::string m_token;
    int m_port = -1;
    std::unique_ptr<impl> m_impl;
};

// The header value "Bearer <token>" (scheme in any letter case) carries
// exactly the token; the comparison takes the same time wherever they differ.
bool bearerTokenMatches(const std::string& authorization, const std::string& token);

// The error code of an answer with that status and no body of its own.
std::string statusErrorCode(int status);
