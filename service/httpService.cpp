#include "service/httpService.h"

#include "run/utility.h"
#include "service/pageAssets.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>

namespace {

// When the request on this connection thread arrived (its headers were read).
thread_local std::chrono::steady_clock::time_point t_requestStart;
thread_local bool t_haveStart = false;

std::string jsonText(const nlohmann::json& body) {
    return body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void sendAnswer(httplib::Response& res, const serviceAnswer& answer) {
    res.status = answer.status;
    res.set_content(jsonText(answer.body), "application/json");
    if (answer.status == 503) res.set_header("Retry-After", "1");
}

const char* statusMessage(int status) {
    switch (status) {
        case 400: return "the request is malformed";
        case 401: return "a valid bearer token is required";
        case 404: return "no such resource";
        case 405: return "method not allowed";
        case 413: return "the request body is too large";
        case 414: return "the request URI is too long";
        case 415: return "unsupported media type";
        case 500: return "internal server error";
        default: return "the request failed";
    }
}

// The first part of that name in a multipart request, or nullptr.
const httplib::MultipartFormData* partOf(const httplib::Request& req, const char* name) {
    auto it = req.files.find(name);
    return it == req.files.end() ? nullptr : &it->second;
}

}  // namespace

bool bearerTokenMatches(const std::string& authorization, const std::string& token) {
    const std::string scheme = "bearer ";
    if (authorization.size() < scheme.size() || toLowerAscii(authorization.substr(0, scheme.size())) != scheme)
        return false;
    std::string given = trimSpace(authorization.substr(scheme.size()));
    unsigned char diff = given.size() != token.size() || token.empty();
    for (size_t i = 0; i < token.size(); ++i)
        diff |= static_cast<unsigned char>(token[i] ^ (i < given.size() ? given[i] : 0));
    return diff == 0;
}

std::string statusErrorCode(int status) {
    switch (status) {
        case 400: return "bad_request";
        case 401: return "unauthorized";
        case 404: return "not_found";
        case 405: return "method_not_allowed";
        case 413: return "body_too_large";
        case 414: return "uri_too_long";
        case 415: return "unsupported_media_type";
        case 500: return "internal";
        default: return "error";
    }
}

struct recognizeServer::impl {
    httplib::Server server;
};

recognizeServer::recognizeServer(const assessmentService& service, const serverOptions& options,
                                 const std::string& token)
    : gate(options.threads > 0 ? options.threads : 1, options.maxQueue),
      m_service(service),
      m_options(options),
      m_token(token),
      m_impl(std::make_unique<impl>()) {
    httplib::Server& svr = m_impl->server;
    // Connection threads: one per engine worker and per waiting place, so that
    // the gate, not the thread pool, decides when to turn requests away, and a
    // few more for the cheap endpoints and stalled clients.
    size_t connectionThreads = static_cast<size_t>(gate.capacity()) + 8;
    svr.new_task_queue = [connectionThreads] { return new httplib::ThreadPool(connectionThreads); };
    svr.set_payload_max_length(options.maxBodyBytes());
    svr.set_read_timeout(options.connectionTimeoutSeconds, 0);
    svr.set_write_timeout(options.connectionTimeoutSeconds, 0);
    svr.set_tcp_nodelay(true);
    svr.set_keep_alive_timeout(5);
    svr.set_keep_alive_max_count(1000);

    svr.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        t_requestStart = std::chrono::steady_clock::now();
        t_haveStart = true;
        if (!m_token.empty() && req.path.compare(0, 4, "/v1/") == 0 &&
            !bearerTokenMatches(req.get_header_value("Authorization"), m_token)) {
            sendAnswer(res, errorAnswer(401, "unauthorized", statusMessage(401)));
            res.set_header("WWW-Authenticate", "Bearer");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });

    svr.Get("/healthz", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("{\"status\":\"ok\"}", "application/json");
    });
    svr.Get("/v1/info", [this](const httplib::Request&, httplib::Response& res) {
        nlohmann::json info = serviceInfo(m_service, m_options.maxBodyBytes());
        info["limits"]["maxQueue"] = m_options.maxQueue;
        info["threads"] = m_options.threads;
        res.set_content(jsonText(info), "application/json");
    });
    svr.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(metrics.prometheusText(gate.running(), gate.waiting()), "text/plain; version=0.0.4");
    });
    for (const pageAsset& asset : pageAssets()) {
        svr.Get(asset.path, [&asset](const httplib::Request&, httplib::Response& res) {
            res.set_content(asset.content, asset.contentType);
            res.set_header("Cache-Control", "no-cache");
            res.set_header("X-Content-Type-Options", "nosniff");
        });
    }

    auto audioOf = [](const httplib::Request& req, audioUpload& audio) {
        const httplib::MultipartFormData* part = partOf(req, "audio");
        if (!part) return false;
        audio.bytes = part->content;
        audio.name = part->filename.empty() ? "upload" : part->filename;
        if (const httplib::MultipartFormData* format = partOf(req, "format"))
            audio.format = toLowerAscii(trimSpace(format->content));
        return true;
    };
    auto engineRoute = [this, audioOf](bool assess) {
        return [this, audioOf, assess](const httplib::Request& req, httplib::Response& res) {
            if (!req.is_multipart_form_data()) {
                sendAnswer(res, errorAnswer(400, "expected_multipart",
                                            "send the audio and fields as multipart/form-data"));
                return;
            }
            audioUpload audio;
            if (!audioOf(req, audio)) {
                sendAnswer(res, errorAnswer(400, "missing_audio", "the request has no audio part"));
                return;
            }
            serviceAnswer answer;
            if (assess) {
                const httplib::MultipartFormData* text = partOf(req, "text");
                if (!text)
                    answer = errorAnswer(400, "missing_text", "the request has no text to assess against");
                else
                    answer = assessRequest(m_service, gate, audio, text->content);
            } else {
                const httplib::MultipartFormData* texts = partOf(req, "texts");
                answer = recognizeRequest(m_service, gate, audio, texts ? texts->content : "", texts != nullptr);
            }
            if (!answer.logLine.empty()) std::fprintf(stderr, "%s %s: %s\n", req.method.c_str(), req.path.c_str(),
                                                      answer.logLine.c_str());
            sendAnswer(res, answer);
        };
    };
    svr.Post("/v1/assess", engineRoute(true));
    svr.Post("/v1/recognize", engineRoute(false));

    svr.set_exception_handler([](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
        std::string what = "unknown exception";
        try {
            std::rethrow_exception(ep);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        std::fprintf(stderr, "%s %s: fault: %s\n", req.method.c_str(), req.path.c_str(), what.c_str());
        sendAnswer(res, errorAnswer(500, "internal", statusMessage(500)));
    });
    // Answers of the library itself (malformed requests, bodies over the
    // limit, unknown paths) get the JSON error body too.
    svr.set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request&, httplib::Response& res) {
            if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
            sendAnswer(res, errorAnswer(res.status, statusErrorCode(res.status), statusMessage(res.status)));
            return httplib::Server::HandlerResponse::Handled;
        }));
    svr.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        double seconds = 0;
        if (t_haveStart)
            seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t_requestStart).count();
        t_haveStart = false;
        metrics.record(endpointLabel(req.path), res.status, seconds);
        if (!m_options.quiet)
            std::fprintf(stderr, "%s %s %d %.1f ms\n", req.method.c_str(), req.path.c_str(), res.status,
                         seconds * 1000);
    });
}

recognizeServer::~recognizeServer() = default;

bool recognizeServer::bind() {
    httplib::Server& svr = m_impl->server;
    if (m_options.port == 0) {
        m_port = svr.bind_to_any_port(m_options.host);
        return m_port > 0;
    }
    if (!svr.bind_to_port(m_options.host, m_options.port)) return false;
    m_port = m_options.port;
    return true;
}

void recognizeServer::serve() { m_impl->server.listen_after_bind(); }

void recognizeServer::stop() { m_impl->server.stop(); }

bool recognizeServer::running() const { return m_impl->server.is_running(); }
