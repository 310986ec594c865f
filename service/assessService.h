// The engine side of the assessment service: one set of resources loaded at
// start, and the answer to each request as an HTTP status and a JSON body.
// Every fault of a request becomes a 4xx answer
// {"error": {"code": ..., "message": ...}}; only a fault of the engine itself
// becomes a 500. Requests never name a file of the server: an upload goes to
// a private temporary file, and request fields never become paths or
// parameter settings.
#pragma once

#include "run/recogParam.h"
#include "run/resources.h"
#include "service/workGate.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

// Version of the service's API and answers.
extern const char* const SERVICE_VERSION;

struct serviceLimits {
    double maxSeconds = 60;            // longest recording
    uint64_t maxListings = 10000;      // pronunciation sequences all texts of a request may list
    size_t maxTexts = 1000;            // candidate texts of a recognition request
    size_t maxTextBytes = PARAM_TXTFILE_CAPACITY;  // all texts of a request joined by "#"
};

// An answer: the status and the JSON body; for a 500, the line to log.
struct serviceAnswer {
    int status = 200;
    nlohmann::json body;
    std::string logLine;
};

serviceAnswer errorAnswer(int status, const std::string& code, const std::string& message);

class assessmentService {
public:
    assessmentService() = default;
    ~assessmentService();
    assessmentService(const assessmentService&) = delete;
    assessmentService& operator=(const assessmentService&) = delete;

    recogResources resources;
    serviceLimits limits;
    std::string uploadDir;     // private (mode 0700) directory of the upload files
};

// Reads the parameter file and loads its resources (the shared net only when
// the file gives texts, a syllable file or a net), and makes the upload
// directory. Faults are reported.
void loadAssessmentService(const std::string& paramFile, const serviceLimits& limits, assessmentService& service);

// The recording of a request as uploaded.
struct audioUpload {
    std::string bytes;
    std::string format;  // the request's format field ("", "wav", "flv", "raw")
    std::string name;    // the client's file name, for the answer only
};

// POST /v1/assess: the recording scored against its one text.
serviceAnswer assessRequest(const assessmentService& service, workGate& gate, const audioUpload& audio,
                            const std::string& text);

// POST /v1/recognize: which text the recording says, among the candidates
// given one per line or, with haveTexts false, those of the parameter file.
serviceAnswer recognizeRequest(const assessmentService& service, workGate& gate, const audioUpload& audio,
                               const std::string& texts, bool haveTexts);

// GET /v1/info.
nlohmann::json serviceInfo(const assessmentService& service, size_t maxBodyBytes);

// A request text as the engine takes it: line breaks and tabs become spaces,
// runs of spaces one space, ends trimmed. False with the problem for a text
// holding "#" (which separates texts) or another control byte.
bool requestTextOf(const std::string& raw, std::string& text, std::string& problem);

// What a request's texts need of the lexicon (English): the words it lacks,
// sorted and unique, and how many pronunciation sequences the texts list
// (the product of each word's alternatives, summed over the texts, held at
// UINT64_MAX).
struct textLexiconCheck {
    std::vector<std::string> missingWords;
    uint64_t listings = 0;
};
textLexiconCheck checkTextsAgainstLexicon(const recogResources& resources, const std::vector<std::string>& texts);

// The phones of a model set: the names of its models without their context
// ("a-b+c" gives "b"), sorted and unique.
std::vector<std::string> phoneSetOf(const macroClass& models);
