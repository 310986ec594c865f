#include "run/resultJson.h"

#include "decoder/measures.h"
#include "decoder/mlf.h"
#include "decoder/scoring.h"
#include "run/utility.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

using nlohmann::json;

namespace {

constexpr double FRAMES_PER_SECOND = 100.0;
const char* const REPLACEMENT = "\xEF\xBF\xBD";  // U+FFFD

double startSeconds(int32_t startFrame) { return startFrame / FRAMES_PER_SECOND; }
double endSeconds(int32_t endFrame) { return (endFrame + 1) / FRAMES_PER_SECOND; }

// Length of the valid UTF-8 sequence at text[i], or 0 when there is none.
size_t utf8SequenceAt(const std::string& text, size_t i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length;
    uint32_t code;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        code = c & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        const unsigned char d = static_cast<unsigned char>(text[i + k]);
        if ((d & 0xC0) != 0x80) return 0;
        code = (code << 6) | (d & 0x3F);
    }
    // Overlong forms, surrogates and code points beyond U+10FFFF are not UTF-8.
    if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
        (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

std::string validUtf8(const std::string& text, bool& replaced) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t length = utf8SequenceAt(text, i);
        if (length == 0) {
            out += REPLACEMENT;
            replaced = true;
            ++i;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

std::string big5ToUtf8(const std::string& text, bool& replaced) {
    iconv_t cd = iconv_open("UTF-8", "BIG5");
    if (cd == reinterpret_cast<iconv_t>(-1)) return validUtf8(text, replaced);
    std::string out;
    std::vector<char> buffer(text.size() * 4 + 16);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        size_t outLeft = buffer.size();
        size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), static_cast<size_t>(outPtr - buffer.data()));
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            // An invalid or incomplete sequence: one byte becomes U+FFFD.
            out += REPLACEMENT;
            replaced = true;
            ++in;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

// Converts the texts of one document, remembering whether anything was replaced.
class textConverter {
public:
    explicit textConverter(bool big5) : m_big5(big5) {}
    std::string operator()(const std::string& text) { return toUtf8(text, m_big5, m_replaced); }
    // Model names and phonetic alphabets are ASCII in every language.
    std::string plain(const std::string& text) { return toUtf8(text, false, m_replaced); }
    bool replaced() const { return m_replaced; }

private:
    bool m_big5;
    bool m_replaced = false;
};

std::string phoneOfModel(const std::string& modelName) { return modelName.substr(0, modelName.find('+')); }

json floats(const std::vector<float>& values) {
    json list = json::array();
    for (float v : values) list.push_back(v);
    return list;
}

json timberScores(const float (&scores)[4]) { return json::array({scores[0], scores[1], scores[2], scores[3]}); }

// The phone of the best competing model that ranks above the aligned one.
json soundsLike(const cmPhone& phone, const macroClass& models, textConverter& convert) {
    if (phone.phoneRank <= 0) return nullptr;
    for (int32_t idx : phone.competingModelIdx) {
        if (idx == phone.modelIdx) continue;
        if (idx < 0 || static_cast<size_t>(idx) >= models.models.size()) return nullptr;
        return convert.plain(phoneOfModel(models.models[static_cast<size_t>(idx)].name));
    }
    return nullptr;
}

// Measurements for calibration (decoder/measures.h), by name.
json measureObject(const float (&values)[PHONE_MEASURE_NUM]) {
    json m = json::object();
    for (int32_t i = 0; i < PHONE_MEASURE_NUM; ++i) m[phoneMeasureName(i)] = values[i];
    return m;
}

json phoneDocument(const cmPhone& phone, const macroClass& models, bool pitch, textConverter& convert) {
    json p;
    p["phone"] = convert.plain(phoneOfModel(phone.name));
    p["model"] = convert.plain(phone.name);
    p["start"] = startSeconds(phone.startFrame);
    p["end"] = endSeconds(phone.endFrame);
    p["score"] = phone.timberScore;
    p["scores"] = timberScores(phone.timberScores);
    p["rank"] = phone.phoneRank;
    p["competitors"] = phone.competingModelIdx.size();
    p["rankRatio"] = phone.rankRatio;
    p["timeRatio"] = phone.timeRatio;
    p["logLikelihood"] = phone.logLike;
    p["soundsLike"] = soundsLike(phone, models, convert);
    p["volume"] = floats(phone.volume);
    if (pitch) p["pitch"] = floats(phone.pitch);
    if (phone.measured) p["measures"] = measureObject(phone.measures);
    if (phone.accuracy >= 0) p["accuracy"] = phone.accuracy;
    return p;
}

}  // namespace

std::string toUtf8(const std::string& text, bool big5, bool& replaced) {
    return big5 ? big5ToUtf8(text, replaced) : validUtf8(text, replaced);
}

resultJsonContext resultJsonContextOf(const recogParam& param) {
    resultJsonContext context;
    context.function = param.function;
    context.language = param.language;
    context.wavePath = param.wavFile;
    context.pitchComputed = param.getPitch == 1;
    return context;
}

std::vector<std::string> warningLinesOf(const std::string& output) {
    std::vector<std::string> lines;
    for (const std::string& line : splitString(output, '\n'))
        if (line.compare(0, 7, "Warning") == 0) lines.push_back(line);
    return lines;
}

json resultDocument(const cmResult& result, const macroClass& models, const resultJsonContext& context) {
    textConverter convert(context.language == "chinese" || context.language == "taiwanese");
    const double rate = context.sampleRate > 0 ? context.sampleRate : 16000;

    json doc;
    doc["schemaVersion"] = 1;
    doc["function"] = convert.plain(context.function);
    doc["language"] = convert.plain(context.language);
    doc["unit"] = context.language == "english" ? "word" : "syllable";
    json wave;
    wave["path"] = convert(context.wavePath);
    wave["seconds"] = result.sampleCount / rate;
    wave["speechStart"] = result.speechBeginSample / rate;
    wave["speechEnd"] = (result.speechEndSample + 1) / rate;
    doc["wave"] = wave;
    doc["textIndices"] = result.textIndices;
    json texts = json::array();
    for (const std::string& text : result.texts) texts.push_back(convert(text));
    doc["texts"] = texts;
    doc["phoneticAlphabets"] = convert.plain(result.phoneticAlphabets);
    doc["logProbability"] = result.pathLogLike;
    doc["score"] = result.score;
    doc["timberScore"] = result.timberScore;
    doc["complete"] = result.pathComplete;
    doc["search"] = {{"tries", result.searchTries}, {"candidates", result.candidateNum}};

    json words = json::array();
    for (const cmNode& node : result.nodes) {
        if (!isScoredNodeName(node.name)) continue;
        json w;
        w["text"] = convert(node.text);
        w["pronunciation"] = convert.plain(node.name);
        w["start"] = startSeconds(node.startFrame);
        w["end"] = endSeconds(node.endFrame);
        w["score"] = node.timberScore;
        w["scores"] = timberScores(node.timberScores);
        w["volume"] = floats(node.volume);
        if (context.pitchComputed) w["pitch"] = floats(node.pitch);
        json phones = json::array();
        for (const cmPhone& phone : node.phones) phones.push_back(phoneDocument(phone, models, context.pitchComputed, convert));
        w["phones"] = phones;
        if (node.measured) w["measures"] = {{"mean", measureObject(node.measureMean)}, {"min", measureObject(node.measureMin)}};
        if (node.accuracy >= 0) w["accuracy"] = node.accuracy;
        words.push_back(w);
    }
    doc["words"] = words;
    if (result.measured)
        doc["measures"] = {{"phones", result.measuredPhoneNum},
                           {"mean", measureObject(result.measureMean)},
                           {"speechSeconds", result.speechSeconds},
                           {"speechRate", result.speechRate},
                           {"pauses", result.pauseSeconds.size()},
                           {"pauseSeconds", floats(result.pauseSeconds)}};
    if (result.calibrated) {
        if (result.accuracy >= 0) doc["accuracy"] = result.accuracy;
        if (result.fluency >= 0) doc["fluency"] = result.fluency;
        if (result.total >= 0) doc["total"] = result.total;
    }

    json keywords = json::array();
    for (const cmKeyword& kw : result.keywords) {
        json k;
        k["text"] = convert(kw.name);
        k["score"] = kw.score;
        int32_t first = kw.firstNode, last = kw.firstNode + kw.nodeCount - 1;
        if (first >= 0 && last >= first && static_cast<size_t>(last) < result.nodes.size()) {
            k["start"] = startSeconds(result.nodes[static_cast<size_t>(first)].startFrame);
            k["end"] = endSeconds(result.nodes[static_cast<size_t>(last)].endFrame);
        } else {
            k["start"] = nullptr;
            k["end"] = nullptr;
        }
        keywords.push_back(k);
    }
    doc["keywords"] = keywords;

    json discounts = json::array();
    for (size_t i = 0; i < result.discountOccurrence.size(); ++i) {
        json d;
        d["type"] = discountTypeText(static_cast<int32_t>(i));
        d["occurrence"] = result.discountOccurrence[i];
        d["ratio"] = i < result.discountRatio.size() ? result.discountRatio[i] : 0.0f;
        discounts.push_back(d);
    }
    doc["discounts"] = discounts;

    json seconds = json::object();
    double sum = 0;
    for (const auto& stage : result.stageSeconds) {
        seconds[stage.first] = stage.second;
        sum += stage.second;
    }
    seconds["total"] = context.totalSeconds >= 0 ? context.totalSeconds : sum;
    doc["seconds"] = seconds;

    json warnings = json::array();
    for (const std::string& w : result.warningMessages) warnings.push_back(convert(w));
    for (const std::string& w : context.extraWarnings) warnings.push_back(convert(w));
    if (convert.replaced())
        warnings.push_back("Some text bytes did not convert to UTF-8 and were replaced by U+FFFD.");
    doc["warnings"] = warnings;
    return doc;
}

std::string resultJsonText(const cmResult& result, const macroClass& models, const resultJsonContext& context,
                           int indent) {
    return resultDocument(result, models, context).dump(indent < 0 ? -1 : indent);
}

void writeResultJson(const std::string& path, const cmResult& result, const macroClass& models,
                     const resultJsonContext& context) {
    std::string text = resultJsonText(result, models, context) + "\n";
    filePtr file = openFileOrFail(path, "w");
    if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size() || std::fclose(file.release()) != 0)
        reportError(formatString("Error: cannot write %s (line %d of file %s)", path.c_str(), __LINE__, "recogTask"));
}
