// Helpers of the service tests: a server started in this process on a free
// port over the bundled example, multipart requests, example audio and the
// result documents with what differs from run to run taken out.
#pragma once

#include "service/assessService.h"
#include "service/httpService.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <thread>

// The bundled example's sentence of digits-8095439.wav and its paths.
extern const char* const EXAMPLE_TEXT;
std::string examplePath(const std::string& relative);
std::string exampleWave(const std::string& name = "digits-8095439.wav");

// The tests read the example's parameter files, whose paths are relative to
// the repository root.
void enterSourceDir();

// A server over one parameter file, serving on a thread of this process.
class testServer {
public:
    explicit testServer(const std::string& paramFile, serverOptions options = serverOptions(),
                        const std::string& token = "");
    ~testServer();
    int port() const { return server->port(); }
    std::unique_ptr<httplib::Client> client() const;

    assessmentService service;
    std::unique_ptr<recognizeServer> server;
    std::thread thread;
};

// One multipart part.
httplib::MultipartFormData part(const std::string& name, const std::string& content,
                                const std::string& filename = "");

// The parts of an assessment request of audio bytes and a text.
httplib::MultipartFormDataItems assessParts(const std::string& audio, const std::string& text);

// Status and parsed body of a POST (status -1 when no answer came).
struct apiReply {
    int status = -1;
    nlohmann::json body;
    std::string text;
};
apiReply postParts(httplib::Client& client, const std::string& path, const httplib::MultipartFormDataItems& parts,
                   const httplib::Headers& headers = {});
apiReply getPath(httplib::Client& client, const std::string& path, const httplib::Headers& headers = {});

// A result document without its timings and the recording's name.
nlohmann::json comparable(nlohmann::json doc);

// A RIFF WAVE header and data of the given format (data bytes as given).
std::string waveBytes(uint16_t formatTag, uint16_t channels, uint32_t rate, uint16_t bits, const std::string& data);

// Headerless 16-bit samples of a low noise, seconds long at 16 kHz.
std::string rawNoise(double seconds);

// An FLV file of audio tags with the given flags byte (by default
// Nellymoser 8 kHz mono), each of blocksPerTag 64-byte blocks of noise bytes.
std::string flvBytes(int tags, int blocksPerTag, uint8_t flags = 0x52);
