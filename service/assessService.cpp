#include "service/assessService.h"

#include "lexicon/text.h"
#include "run/conditionWave.h"
#include "run/outputSink.h"
#include "run/resultJson.h"
#include "run/utility.h"
#include "run/utteranceRun.h"
#include "service/uploadCheck.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <unistd.h>

const char* const SERVICE_VERSION = "1.0.0";

namespace {

// An upload stored in the service's private directory under the extension
// its reader needs; the file goes with the object.
class uploadFile {
public:
    uploadFile(const std::string& dir, const std::string& extension, const std::string& bytes) {
        std::string pattern = dir + "/upload-XXXXXX" + extension;
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        int fd = mkstemps(name.data(), static_cast<int>(extension.size()));
        if (fd < 0) return;
        m_path = name.data();
        size_t written = 0;
        while (written < bytes.size()) {
            ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
            if (n <= 0) break;
            written += static_cast<size_t>(n);
        }
        m_ok = ::close(fd) == 0 && written == bytes.size();
    }
    ~uploadFile() {
        if (!m_path.empty()) ::unlink(m_path.c_str());
    }
    uploadFile(const uploadFile&) = delete;
    uploadFile& operator=(const uploadFile&) = delete;
    bool ok() const { return m_ok; }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    bool m_ok = false;
};

uint64_t saturatingProduct(uint64_t a, uint64_t b) {
    if (a != 0 && b > UINT64_MAX / a) return UINT64_MAX;
    return a * b;
}

// Engine messages name the upload's temporary file; the client knows it by
// another name.
std::string clientMessage(const std::string& message, const std::string& uploadPath) {
    std::string text = uploadPath.empty() ? message : replaceAll(message, uploadPath, "the uploaded audio");
    return trimSpace(text);
}

// The checks every request's texts go through before any work is queued.
serviceAnswer textsProblem(const assessmentService& service, const std::vector<std::string>& texts) {
    const serviceLimits& limits = service.limits;
    if (texts.size() > limits.maxTexts)
        return errorAnswer(422, "too_many_texts",
                           formatString("%zu texts given; at most %zu are taken", texts.size(), limits.maxTexts));
    size_t bytes = 0;
    for (const std::string& text : texts) bytes += text.size() + 1;
    if (bytes - 1 > limits.maxTextBytes)
        return errorAnswer(422, "text_too_long",
                           formatString("the texts hold %zu bytes; at most %zu are taken", bytes - 1,
                                        limits.maxTextBytes));
    if (service.resources.param.language != "english") return serviceAnswer();
    textLexiconCheck check = checkTextsAgainstLexicon(service.resources, texts);
    if (!check.missingWords.empty()) {
        serviceAnswer answer =
            errorAnswer(422, "unknown_words",
                        formatString("%zu word%s not in the lexicon: %s", check.missingWords.size(),
                                     check.missingWords.size() == 1 ? " is" : "s are",
                                     joinStrings(check.missingWords, " ").c_str()));
        answer.body["error"]["words"] = check.missingWords;
        return answer;
    }
    if (check.listings > limits.maxListings)
        return errorAnswer(422, "too_many_pronunciations",
                           formatString("the texts list %llu pronunciation sequences; at most %llu are taken",
                                        static_cast<unsigned long long>(check.listings),
                                        static_cast<unsigned long long>(limits.maxListings)));
    return serviceAnswer();
}

// Stores, reads, conditions and runs one checked upload with the given
// settings, on an engine worker.
serviceAnswer engineAnswer(const assessmentService& service, const audioUpload& audio, const std::string& extension,
                           utteranceSettings settings, int64_t start) {
    const recogResources& res = service.resources;
    uploadFile file(service.uploadDir, extension, audio.bytes);
    if (!file.ok()) {
        serviceAnswer answer = errorAnswer(500, "internal", "the upload could not be stored");
        answer.logLine = "cannot store an upload in " + service.uploadDir;
        return answer;
    }
    scopedOutputCapture capture;
    conditionReport report;
    audioRecord wave;
    try {
        wave = readConditionedWave(file.path(), conditionOptionsOf(res.param), report);
    } catch (const recogError& e) {
        return errorAnswer(400, "unreadable_audio", clientMessage(e.what(), file.path()));
    }
    if (wave.samples.empty()) return errorAnswer(400, "unreadable_audio", "the audio holds no samples");
    double seconds = static_cast<double>(wave.samples.size()) / std::max(1, wave.sampleRate);
    if (seconds > service.limits.maxSeconds)
        return errorAnswer(413, "audio_too_long",
                           formatString("the audio lasts %.1f s; at most %g s are taken", seconds,
                                        service.limits.maxSeconds));

    cmResult result;
    result.warningMessages = report.warnings;
    settings.spectrallySubtracted = report.spectrallySubtracted;
    settings.wavFile = audio.name;
    try {
        runUtterance(res, wave, settings, result);
    } catch (const recogError& e) {
        return errorAnswer(422, "unprocessable", clientMessage(e.what(), file.path()));
    }
    resultJsonContext context = resultJsonContextOf(res.param);
    context.function = settings.function;
    context.wavePath = audio.name;
    context.extraWarnings = warningLinesOf(capture.text());
    context.totalSeconds = elapsedSeconds(start);
    serviceAnswer answer;
    answer.body = resultDocument(result, res.models, context);
    return answer;
}

// Checks one upload and runs it on an engine worker when one is free or a
// waiting place is; the texts have been checked.
serviceAnswer runRequest(const assessmentService& service, workGate& gate, const audioUpload& audio,
                         utteranceSettings settings) {
    int64_t start = clockMs();
    uploadCheck check = checkUpload(audio.bytes, audio.format, service.limits.maxSeconds);
    if (check.status != 0) return errorAnswer(check.status, check.code, check.message);

    serviceAnswer answer;
    auto job = [&] {
        // On the worker thread: its own output capture and no error log.
        scopedErrorLogOff noLog;
        try {
            answer = engineAnswer(service, audio, check.extension, settings, start);
        } catch (const std::exception& e) {
            answer = errorAnswer(500, "internal", "the engine failed on this request");
            answer.logLine = std::string("engine fault: ") + e.what();
        } catch (...) {
            answer = errorAnswer(500, "internal", "the engine failed on this request");
            answer.logLine = "engine fault: unknown exception";
        }
    };
    if (!gate.run(job)) return errorAnswer(503, "busy", "the server is busy; try again shortly");
    return answer;
}

// Settings of an utterance on its own net, built from the request's texts.
utteranceSettings requestSettings(const std::string& function, const std::vector<std::string>& texts) {
    utteranceSettings settings;
    settings.ownTexts = true;
    settings.txtFile = joinStrings(texts, "#");
    settings.literalTexts = true;
    settings.writeMissingWordFile = false;
    settings.function = function;
    return settings;
}

// Runs a request, turning any fault that is not the client's into a 500.
template <class F>
serviceAnswer guarded(F work) {
    // A bad request must not leave an error log behind, whatever the
    // process's error-log setting.
    scopedErrorLogOff noLog;
    try {
        return work();
    } catch (const std::exception& e) {
        serviceAnswer answer = errorAnswer(500, "internal", "the engine failed on this request");
        answer.logLine = std::string("engine fault: ") + e.what();
        return answer;
    }
}

}  // namespace

serviceAnswer errorAnswer(int status, const std::string& code, const std::string& message) {
    serviceAnswer answer;
    answer.status = status;
    answer.body = {{"error", {{"code", code}, {"message", message}}}};
    return answer;
}

assessmentService::~assessmentService() {
    if (!uploadDir.empty()) ::rmdir(uploadDir.c_str());
}

void loadAssessmentService(const std::string& paramFile, const serviceLimits& limits, assessmentService& service) {
    recogParam param;
    readRecogParam(paramFile, param);
    if (param.function != "assess" && param.function != "recog")
        reportError(formatString("Error: function=%s in %s is neither assess nor recog", param.function.c_str(),
                                 paramFile.c_str()));
    resourceOptions options;
    options.buildNet = !param.txtFile.empty() || !param.sylFile.empty() || !param.netFile.empty();
    // The file's own output settings would make every run write files.
    param.outputDir.clear();
    param.jsonFile.clear();
    loadResources(param, options, service.resources);
    service.limits = limits;

    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/recognize-server-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data()))
        reportError(formatString("Error: cannot make a private upload directory like %s", pattern.c_str()));
    service.uploadDir = name.data();
}

bool requestTextOf(const std::string& raw, std::string& text, std::string& problem) {
    text.clear();
    for (char c : raw) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '#') {
            problem = "a text may not hold \"#\"";
            return false;
        }
        if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
            if (!text.empty() && text.back() != ' ') text += ' ';
            continue;
        }
        if (u < 0x20 || u == 0x7f) {
            problem = "a text may not hold control characters";
            return false;
        }
        text += c;
    }
    if (!text.empty() && text.back() == ' ') text.pop_back();
    return true;
}

textLexiconCheck checkTextsAgainstLexicon(const recogResources& resources, const std::vector<std::string>& texts) {
    textLexiconCheck check;
    textClass normalizer;
    normalizer.m_textNormSp = resources.normalization.m_textNormSp;
    for (const std::string& raw : texts) {
        std::string text = raw;
        normalizer.normalizeText(text, resources.param);
        uint64_t listings = 1;
        for (const std::string& word : splitString(text, ' ')) {
            int32_t index = resources.lexicon.wpaFind(word);
            if (index < 0 || resources.lexicon.m_wpa[static_cast<size_t>(index)].pa.empty()) {
                check.missingWords.push_back(word);
                continue;
            }
            listings = saturatingProduct(listings, resources.lexicon.m_wpa[static_cast<size_t>(index)].pa.size());
        }
        check.listings = check.listings > UINT64_MAX - listings ? UINT64_MAX : check.listings + listings;
    }
    std::sort(check.missingWords.begin(), check.missingWords.end());
    check.missingWords.erase(std::unique(check.missingWords.begin(), check.missingWords.end()),
                             check.missingWords.end());
    return check;
}

serviceAnswer assessRequest(const assessmentService& service, workGate& gate, const audioUpload& audio,
                            const std::string& rawText) {
    return guarded([&] {
        std::string text, problem;
        if (!requestTextOf(rawText, text, problem)) return errorAnswer(400, "invalid_text", problem);
        if (text.empty()) return errorAnswer(400, "missing_text", "the request has no text to assess against");
        serviceAnswer bad = textsProblem(service, {text});
        if (bad.status != 200) return bad;
        return runRequest(service, gate, audio, requestSettings("assess", {text}));
    });
}

serviceAnswer recognizeRequest(const assessmentService& service, workGate& gate, const audioUpload& audio,
                               const std::string& rawTexts, bool haveTexts) {
    return guarded([&] {
        const recogResources& res = service.resources;
        if (!haveTexts) {
            // The parameter file's texts: its shared net when it was built for
            // recognition, else a net of those texts built for this request.
            if (res.hasNet && res.param.function == "recog") {
                utteranceSettings settings = sharedNetSettings(res);
                settings.function = "recog";
                settings.writeMissingWordFile = false;
                return runRequest(service, gate, audio, settings);
            }
            if (!res.hasNet)
                return errorAnswer(400, "missing_texts", "the request has no texts and the server none of its own");
            utteranceSettings settings;
            settings.ownTexts = true;
            settings.txtFile = res.param.txtFile;
            settings.sylFile = res.param.sylFile;
            settings.netFile = res.param.netFile;
            settings.writeMissingWordFile = false;
            settings.function = "recog";
            return runRequest(service, gate, audio, settings);
        }
        std::vector<std::string> texts;
        for (const std::string& line : splitString(rawTexts, '\n')) {
            std::string text, problem;
            if (!requestTextOf(line, text, problem)) return errorAnswer(400, "invalid_text", problem);
            if (!text.empty()) texts.push_back(text);
        }
        if (texts.empty()) return errorAnswer(400, "missing_texts", "the texts field holds no text");
        serviceAnswer bad = textsProblem(service, texts);
        if (bad.status != 200) return bad;
        return runRequest(service, gate, audio, requestSettings("recog", texts));
    });
}

std::vector<std::string> phoneSetOf(const macroClass& models) {
    std::vector<std::string> phones;
    for (const hmmModel& model : models.models) {
        std::string name = model.name.substr(0, model.name.find('+'));
        size_t dash = name.rfind('-');
        if (dash != std::string::npos) name = name.substr(dash + 1);
        phones.push_back(name);
    }
    std::sort(phones.begin(), phones.end());
    phones.erase(std::unique(phones.begin(), phones.end()), phones.end());
    return phones;
}

nlohmann::json serviceInfo(const assessmentService& service, size_t maxBodyBytes) {
    const recogResources& res = service.resources;
    nlohmann::json limits = {{"maxBodyBytes", maxBodyBytes},
                             {"maxSeconds", service.limits.maxSeconds},
                             {"maxListings", service.limits.maxListings},
                             {"maxTexts", service.limits.maxTexts},
                             {"maxTextBytes", service.limits.maxTextBytes}};
    // The parameter file's texts, for a page to offer as examples.
    nlohmann::json examples = nlohmann::json::array();
    bool big5 = res.param.language == "chinese" || res.param.language == "taiwanese";
    for (size_t i = 0; i < res.netText.m_txtVs.size() && i < 10; ++i) {
        bool replaced = false;
        examples.push_back(toUtf8(res.netText.m_txtVs[i], big5, replaced));
    }
    return {{"language", res.param.language},
            {"function", res.param.function},
            {"modelCount", res.models.modelNum},
            {"phones", phoneSetOf(res.models)},
            {"hasTexts", res.hasNet},
            {"examples", examples},
            {"formats", {"wav", "flv", "raw"}},
            {"limits", limits},
            {"version", SERVICE_VERSION},
            {"resultSchemaVersion", 1}};
}
