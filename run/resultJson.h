// The result of one utterance as a JSON document (schemaVersion 1; its JSON
// Schema is docs/result-schema.json): the recognized texts, the overall
// scores, every scored word or syllable with its time span, scores and
// phones, each phone with its rank among its competitors and the phone it
// sounds like, the discounts, the warnings and the time of each stage.
// Texts are UTF-8: Big5 texts (Chinese, Taiwanese) are converted, and any
// byte sequence that does not convert becomes U+FFFD with a warning.
#pragma once

#include "decoder/cmResult.h"
#include "decoder/macro.h"
#include "run/recogParam.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// What the document says about the run besides the result record.
struct resultJsonContext {
    std::string function;            // "recog" or "assess"
    std::string language;            // the parameters' language
    std::string wavePath;            // the recording as named by the caller
    int32_t sampleRate = 16000;      // of the conditioned samples the result counts in
    bool pitchComputed = false;      // the result holds whole-utterance pitch (getPitch 1)
    std::vector<std::string> extraWarnings;  // warnings printed by the run, besides result.warningMessages
    double totalSeconds = -1;        // whole processing time; < 0: the sum of the stages
};

// The context of a run from its parameters.
resultJsonContext resultJsonContextOf(const recogParam& param);

// The document of a result.
nlohmann::json resultDocument(const cmResult& result, const macroClass& models, const resultJsonContext& context);

// The document as text: indented by 2 spaces, or on one line with indent < 0.
std::string resultJsonText(const cmResult& result, const macroClass& models, const resultJsonContext& context,
                           int indent = 2);

// Writes the document to the file (created or replaced); an unwritable path
// is reported as "Cannot open file".
void writeResultJson(const std::string& path, const cmResult& result, const macroClass& models,
                     const resultJsonContext& context);

// The "Warning..." lines of a captured run output, one entry per line.
std::vector<std::string> warningLinesOf(const std::string& output);

// A byte string as UTF-8: Big5 decoded when big5 is set, else kept where it
// is valid UTF-8; every byte sequence that does not convert becomes U+FFFD
// and sets replaced.
std::string toUtf8(const std::string& text, bool big5, bool& replaced);
