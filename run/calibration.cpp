#include "run/calibration.h"

#include "decoder/measures.h"
#include "decoder/mlf.h"
#include "frontend/CMel.h"
#include "run/utility.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using nlohmann::json;

namespace {

const char* const UNIT = "calibration";
const char* const FORMAT_NAME = "recognizer calibration";

const char* const LEVEL_NAMES[LEVEL_NUM] = {"phoneAccuracy", "wordAccuracy", "sentenceAccuracy", "fluency", "total"};

// Measurement indices (decoder/measures.h).
enum { M_LLR, M_LOG_POSTERIOR, M_RANK, M_FRAMES, M_GOP, M_CLASS_GOP, M_CLASS_MATCH };

const std::vector<std::string> PHONE_INPUTS = {
    // the phone's own measurements
    "gop", "classGop", "classMatch", "llr", "logPosterior", "logRank", "logFrames", "engine",
    // its neighbours, its place in its word, its word and its utterance
    "prevGop", "nextGop", "prevClassMatch", "nextClassMatch", "wordInitial", "wordFinal", "wordMeanGop",
    "wordMinGop", "wordMeanLogPosterior", "wordMinClassMatch", "wordPhones", "wordEngine", "uttMeanGop",
    "uttMeanClassGop", "uttMeanLogPosterior", "uttMeanClassMatch", "uttMeanLlr", "uttEngine", "uttSpeechRate"};

const std::vector<std::string> WORD_INPUTS = {
    // the word's own measurements
    "meanGop", "minGop", "meanClassGop", "minClassGop", "meanClassMatch", "minClassMatch", "meanLlr", "minLlr",
    "meanLogPosterior", "minLogPosterior", "maxLogRank", "logFrames", "phones", "engine",
    // its utterance
    "uttMeanGop", "uttMeanClassGop", "uttMeanLogPosterior", "uttMeanClassMatch", "uttEngine", "uttSpeechRate",
    // the phone level's predictions of its phones
    "phonePredMean", "phonePredMin"};

const std::vector<std::string> SENTENCE_INPUTS = {
    "meanGop", "meanClassGop", "meanClassMatch", "meanLlr", "meanLogPosterior", "meanLogRank", "badShare",
    "minWordGop", "minWordClassMatch", "engine", "complete", "missingWords", "speechRate", "pauses",
    "pauseSeconds", "maxPause", "logSpeechSeconds", "secondsPerWord", "words",
    // the predictions of the phone and word levels
    "phonePredMean", "phonePredMin", "phonePredLowShare", "wordPredMean", "wordPredMin"};

float logRank(float rank) { return std::log1p(std::max(0.0f, rank)); }
float logFrames(float frames) { return std::log(std::max(1.0f, frames)); }

// Means of the measurements over an utterance's measured phones.
struct utteranceMeans {
    float m[PHONE_MEASURE_NUM] = {};
    float logRank = 0, badShare = 0, engine = 0;
    int32_t phones = 0;
};

utteranceMeans meansOf(const measuredUtterance& u) {
    utteranceMeans means;
    for (const measuredWord& w : u.words)
        for (const measuredPhone& p : w.phones) {
            for (int32_t i = 0; i < PHONE_MEASURE_NUM; ++i) means.m[i] += p.measures[i];
            means.logRank += logRank(p.measures[M_RANK]);
            means.badShare += p.measures[M_RANK] > 0 ? 1.0f : 0.0f;
            ++means.phones;
        }
    if (means.phones > 0) {
        for (float& v : means.m) v /= static_cast<float>(means.phones);
        means.logRank /= static_cast<float>(means.phones);
        means.badShare /= static_cast<float>(means.phones);
    }
    return means;
}

float wordMean(const measuredWord& w, int32_t measure) {
    if (w.phones.empty()) return 0;
    double sum = 0;
    for (const measuredPhone& p : w.phones) sum += p.measures[measure];
    return static_cast<float>(sum / static_cast<double>(w.phones.size()));
}

float wordMin(const measuredWord& w, int32_t measure) {
    if (w.phones.empty()) return 0;
    float v = w.phones[0].measures[measure];
    for (const measuredPhone& p : w.phones) v = std::min(v, p.measures[measure]);
    return v;
}

int32_t wordFrames(const measuredWord& w) {
    int32_t frames = 0;
    for (const measuredPhone& p : w.phones) frames += static_cast<int32_t>(p.measures[M_FRAMES]);
    return frames;
}

// The measured phone before or after (word, phone) in the utterance, or itself at the edges.
const measuredPhone& neighbour(const measuredUtterance& u, int32_t word, int32_t phone, int32_t step) {
    int32_t w = word, p = phone + step;
    while (w >= 0 && static_cast<size_t>(w) < u.words.size()) {
        const auto& phones = u.words[static_cast<size_t>(w)].phones;
        if (p >= 0 && static_cast<size_t>(p) < phones.size()) return phones[static_cast<size_t>(p)];
        w += step;
        if (w < 0 || static_cast<size_t>(w) >= u.words.size()) break;
        p = step > 0 ? 0 : static_cast<int32_t>(u.words[static_cast<size_t>(w)].phones.size()) - 1;
    }
    return u.words[static_cast<size_t>(word)].phones[static_cast<size_t>(phone)];
}

void meanAndMin(const std::vector<float>& values, float& mean, float& low) {
    mean = low = 0;
    if (values.empty()) return;
    double sum = 0;
    low = values[0];
    for (float v : values) {
        sum += v;
        low = std::min(low, v);
    }
    mean = static_cast<float>(sum / static_cast<double>(values.size()));
}

// FNV-1a, 64 bits.
struct fnv1a {
    uint64_t h = 1469598103934665603ull;
    void add(const void* data, size_t size) {
        const unsigned char* p = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) {
            h ^= p[i];
            h *= 1099511628211ull;
        }
    }
    std::string text() const { return formatString("fnv1a64:%016llx", static_cast<unsigned long long>(h)); }
};

std::string fileDigest(const std::string& path) { return bytesDigest(readFileBytes(path)); }

// A float with six significant digits, as the file keeps it.
double rounded(float value) { return std::strtod(formatString("%.6g", static_cast<double>(value)).c_str(), nullptr); }

json floatList(const std::vector<float>& values) {
    json list = json::array();
    for (float v : values) list.push_back(rounded(v));
    return list;
}

// JSON text with one member per line, except that arrays and objects of
// scalars stay on one line (a term, the offsets, a list of numbers).
void appendReadable(const nlohmann::ordered_json& value, int32_t indent, std::string& out) {
    bool flat = !value.is_structured();
    if (!flat) {
        flat = true;
        for (const auto& v : value) flat = flat && !v.is_structured();
    }
    if (flat || value.empty()) {
        out += value.dump();
        return;
    }
    const std::string pad(static_cast<size_t>(indent + 1), ' ');
    out += value.is_object() ? "{\n" : "[\n";
    size_t k = 0;
    for (auto it = value.begin(); it != value.end(); ++it, ++k) {
        out += pad;
        if (value.is_object()) out += nlohmann::ordered_json(it.key()).dump() + ": ";
        appendReadable(it.value(), indent + 1, out);
        out += k + 1 < value.size() ? ",\n" : "\n";
    }
    out += std::string(static_cast<size_t>(indent), ' ') + (value.is_object() ? "}" : "]");
}

// The differing "KEY=value" parts of two settings texts, for the message.
std::string settingsDifference(const std::string& fitted, const std::string& current) {
    std::vector<std::string> a = splitString(fitted, ';'), b = splitString(current, ';');
    std::vector<std::string> parts;
    for (const std::string& x : a)
        if (std::find(b.begin(), b.end(), x) == b.end()) parts.push_back("fitted " + x);
    for (const std::string& x : b)
        if (std::find(a.begin(), a.end(), x) == a.end()) parts.push_back("now " + x);
    return joinStrings(parts, ", ");
}

}  // namespace

const char* calibrationLevelName(int32_t level) {
    return level >= 0 && level < LEVEL_NUM ? LEVEL_NAMES[level] : "";
}

void calibrationLevelScale(int32_t level, float& low, float& high) {
    low = 0;
    high = level == LEVEL_PHONE ? 2.0f : 10.0f;
}

const std::vector<std::string>& calibrationInputNames(int32_t level) {
    if (level == LEVEL_PHONE) return PHONE_INPUTS;
    if (level == LEVEL_WORD) return WORD_INPUTS;
    return SENTENCE_INPUTS;
}

int32_t calibrationInputGroup(int32_t level, int32_t input) {
    // The lists above hold each group in one run: own, context, predictions.
    const int32_t own = level == LEVEL_PHONE ? 8 : level == LEVEL_WORD ? 14 : 19;
    const int32_t context = level == LEVEL_PHONE ? static_cast<int32_t>(PHONE_INPUTS.size()) : level == LEVEL_WORD ? 20 : 19;
    return input < own ? 0 : input < context ? 1 : 2;
}

measuredUtterance measuredUtteranceOf(const cmResult& result) {
    measuredUtterance u;
    u.engineScore = result.score;
    u.complete = result.pathComplete;
    u.missingWords = result.textSylNum >= 0 ? std::max(0, result.textSylNum - result.scoredNodeNum) : 0;
    u.speechSeconds = result.speechSeconds;
    u.speechRate = result.speechRate;
    u.pauseSeconds = result.pauseSeconds;
    for (size_t n = 0; n < result.nodes.size(); ++n) {
        const cmNode& node = result.nodes[n];
        if (!node.measured || !isScoredNodeName(node.name)) continue;
        measuredWord w;
        w.text = node.text;
        w.engineScore = node.timberScore;
        w.nodeIndex = static_cast<int32_t>(n);
        for (size_t k = 0; k < node.phones.size(); ++k) {
            const cmPhone& phone = node.phones[k];
            if (!phone.measured) continue;
            measuredPhone p;
            p.phone = phone.name.substr(0, phone.name.find('+'));
            std::copy(phone.measures, phone.measures + PHONE_MEASURE_NUM, p.measures);
            p.engineScore = phone.timberScore;
            p.phoneIndex = static_cast<int32_t>(k);
            w.phones.push_back(p);
        }
        if (!w.phones.empty()) u.words.push_back(std::move(w));
    }
    return u;
}

json measuredUtteranceJson(const measuredUtterance& u) {
    json words = json::array();
    for (const measuredWord& w : u.words) {
        json phones = json::array();
        for (const measuredPhone& p : w.phones) {
            json m = json::array();
            for (float v : p.measures) m.push_back(v);
            phones.push_back({{"phone", p.phone}, {"score", p.engineScore}, {"index", p.phoneIndex}, {"m", m}});
        }
        words.push_back({{"text", w.text}, {"score", w.engineScore}, {"node", w.nodeIndex}, {"phones", phones}});
    }
    return {{"id", u.id},
            {"speaker", u.speaker},
            {"score", u.engineScore},
            {"complete", u.complete},
            {"missing", u.missingWords},
            {"speech", u.speechSeconds},
            {"rate", u.speechRate},
            {"pauses", floatList(u.pauseSeconds)},
            {"words", words}};
}

measuredUtterance measuredUtteranceFromJson(const json& r) {
    measuredUtterance u;
    try {
        u.id = r.at("id").get<std::string>();
        u.speaker = r.at("speaker").get<std::string>();
        u.engineScore = r.at("score").get<float>();
        u.complete = r.at("complete").get<bool>();
        u.missingWords = r.at("missing").get<int32_t>();
        u.speechSeconds = r.at("speech").get<float>();
        u.speechRate = r.at("rate").get<float>();
        u.pauseSeconds = r.at("pauses").get<std::vector<float>>();
        for (const json& jw : r.at("words")) {
            measuredWord w;
            w.text = jw.at("text").get<std::string>();
            w.engineScore = jw.at("score").get<float>();
            w.nodeIndex = jw.at("node").get<int32_t>();
            for (const json& jp : jw.at("phones")) {
                measuredPhone p;
                p.phone = jp.at("phone").get<std::string>();
                p.engineScore = jp.at("score").get<float>();
                p.phoneIndex = jp.at("index").get<int32_t>();
                const json& m = jp.at("m");
                if (!m.is_array() || m.size() != static_cast<size_t>(PHONE_MEASURE_NUM))
                    reportError(formatString("Error: a measured phone of %s holds %zu measurements, not %d "
                                             "(line %d of file %s)",
                                             u.id.c_str(), m.is_array() ? m.size() : size_t{0}, PHONE_MEASURE_NUM,
                                             __LINE__, UNIT));
                for (int32_t i = 0; i < PHONE_MEASURE_NUM; ++i) p.measures[i] = m[static_cast<size_t>(i)].get<float>();
                w.phones.push_back(p);
            }
            u.words.push_back(std::move(w));
        }
    } catch (const json::exception& e) {
        reportError(formatString("Error: a measurement record does not parse: %s (line %d of file %s)", e.what(),
                                 __LINE__, UNIT));
    }
    return u;
}

void calibrationInputs(const measuredUtterance& u, int32_t level, int32_t word, int32_t phone,
                       const lowerPredictions& lower, std::vector<float>& in) {
    const utteranceMeans means = meansOf(u);
    in.clear();
    if (level == LEVEL_PHONE) {
        const measuredWord& w = u.words[static_cast<size_t>(word)];
        const measuredPhone& p = w.phones[static_cast<size_t>(phone)];
        const measuredPhone& prev = neighbour(u, word, phone, -1);
        const measuredPhone& next = neighbour(u, word, phone, 1);
        in = {p.measures[M_GOP], p.measures[M_CLASS_GOP], p.measures[M_CLASS_MATCH], p.measures[M_LLR],
              p.measures[M_LOG_POSTERIOR], logRank(p.measures[M_RANK]), logFrames(p.measures[M_FRAMES]),
              p.engineScore / 100.0f, prev.measures[M_GOP], next.measures[M_GOP], prev.measures[M_CLASS_MATCH],
              next.measures[M_CLASS_MATCH], phone == 0 ? 1.0f : 0.0f,
              static_cast<size_t>(phone) + 1 == w.phones.size() ? 1.0f : 0.0f, wordMean(w, M_GOP),
              wordMin(w, M_GOP), wordMean(w, M_LOG_POSTERIOR), wordMin(w, M_CLASS_MATCH),
              static_cast<float>(w.phones.size()), w.engineScore / 100.0f, means.m[M_GOP], means.m[M_CLASS_GOP],
              means.m[M_LOG_POSTERIOR], means.m[M_CLASS_MATCH], means.m[M_LLR], u.engineScore / 100.0f,
              u.speechRate};
    } else if (level == LEVEL_WORD) {
        const measuredWord& w = u.words[static_cast<size_t>(word)];
        float maxRank = 0;
        for (const measuredPhone& p : w.phones) maxRank = std::max(maxRank, p.measures[M_RANK]);
        float predMean = 0, predMin = 0;
        if (static_cast<size_t>(word) < lower.phone.size()) meanAndMin(lower.phone[static_cast<size_t>(word)], predMean, predMin);
        in = {wordMean(w, M_GOP), wordMin(w, M_GOP), wordMean(w, M_CLASS_GOP), wordMin(w, M_CLASS_GOP),
              wordMean(w, M_CLASS_MATCH), wordMin(w, M_CLASS_MATCH), wordMean(w, M_LLR), wordMin(w, M_LLR),
              wordMean(w, M_LOG_POSTERIOR), wordMin(w, M_LOG_POSTERIOR), logRank(maxRank),
              logFrames(static_cast<float>(wordFrames(w))), static_cast<float>(w.phones.size()),
              w.engineScore / 100.0f, means.m[M_GOP], means.m[M_CLASS_GOP], means.m[M_LOG_POSTERIOR],
              means.m[M_CLASS_MATCH], u.engineScore / 100.0f, u.speechRate, predMean, predMin};
    } else {
        float minWordGop = 0, minWordMatch = 0;
        for (size_t k = 0; k < u.words.size(); ++k) {
            float g = wordMean(u.words[k], M_GOP), c = wordMean(u.words[k], M_CLASS_MATCH);
            minWordGop = k == 0 ? g : std::min(minWordGop, g);
            minWordMatch = k == 0 ? c : std::min(minWordMatch, c);
        }
        float pauseSum = 0, pauseMax = 0;
        for (float s : u.pauseSeconds) {
            pauseSum += s;
            pauseMax = std::max(pauseMax, s);
        }
        std::vector<float> phonePreds;
        for (const auto& list : lower.phone) phonePreds.insert(phonePreds.end(), list.begin(), list.end());
        float phoneMean = 0, phoneMin = 0, wordPredMean = 0, wordPredMin = 0, lowShare = 0;
        meanAndMin(phonePreds, phoneMean, phoneMin);
        meanAndMin(lower.word, wordPredMean, wordPredMin);
        for (float v : phonePreds) lowShare += v < 1.5f ? 1.0f : 0.0f;
        if (!phonePreds.empty()) lowShare /= static_cast<float>(phonePreds.size());
        const float words = static_cast<float>(u.words.size());
        in = {means.m[M_GOP], means.m[M_CLASS_GOP], means.m[M_CLASS_MATCH], means.m[M_LLR],
              means.m[M_LOG_POSTERIOR], means.logRank, means.badShare, minWordGop, minWordMatch,
              u.engineScore / 100.0f, u.complete ? 1.0f : 0.0f, static_cast<float>(u.missingWords), u.speechRate,
              static_cast<float>(u.pauseSeconds.size()), pauseSum, pauseMax,
              std::log(std::max(0.1f, u.speechSeconds)), words > 0 ? u.speechSeconds / words : 0.0f, words,
              phoneMean, phoneMin, lowShare, wordPredMean, wordPredMin};
    }
}

double levelModel::termValue(size_t term, const std::vector<float>& inputs) const {
    const calibrationTerm& t = terms[term];
    double x = inputs[static_cast<size_t>(t.input)];
    return t.hinge ? std::max(0.0, x - static_cast<double>(t.knot)) : x;
}

float levelModel::predict(int32_t level, const std::vector<float>& inputs, const std::string& phone) const {
    double y = intercept;
    for (size_t t = 0; t < terms.size(); ++t)
        y += weights[t] * (termValue(t, inputs) - center[t]) / spread[t];
    auto it = offsets.find(phone);
    if (it != offsets.end()) y += it->second;
    float low, high;
    calibrationLevelScale(level, low, high);
    return static_cast<float>(std::min<double>(high, std::max<double>(low, y)));
}

std::string bytesDigest(const std::string& bytes) {
    fnv1a hash;
    hash.add(bytes.data(), bytes.size());
    return hash.text();
}

std::string modelSetDigest(const macroClass& models) {
    fnv1a hash;
    hash.add(&models.modelNum, sizeof models.modelNum);
    hash.add(&models.streamNum, sizeof models.streamNum);
    for (const hmmModel& m : models.models) {
        hash.add(m.name.data(), m.name.size() + 1);
        hash.add(&m.stateNum, sizeof m.stateNum);
        const int32_t emitting = std::min(MAX_EMIT_STATE_NUM, std::max(0, m.stateNum - 2));
        for (int32_t s = 0; s < emitting; ++s)
            for (int32_t k = 0; k < models.streamNum; ++k)
                for (const gaussMixture& mix : m.state[s].stream[k].mixture) {
                    hash.add(&mix.weight, sizeof mix.weight);
                    hash.add(mix.mean, sizeof mix.mean);
                    hash.add(mix.variance, sizeof mix.variance);
                }
    }
    return hash.text();
}

std::string featureSettingsText(const recogParam& param) {
    CMel mel;
    if (!param.featureConfigFile.empty()) mel.readFeatureConfig(param.featureConfigFile);
    const featureConfig& c = mel.m_config;
    return formatString(
        "TARGETKIND=%u;TARGETRATE=%g;WINDOWSIZE=%g;USEHAMMING=%d;PREEMCOEF=%g;USEPOWER=%d;NUMCHANS=%d;"
        "LOFREQ=%g;HIFREQ=%g;CEPLIFTER=%d;NUMCEPS=%d;ENORMALISE=%d;ESCALE=%g;DELTAWINDOW=%d;ACCWINDOW=%d;"
        "SILFLOOR=%g;ZMEANSOURCE=%d;useEpd=%d",
        static_cast<unsigned>(c.m_targetKind), static_cast<double>(c.m_targetRate),
        static_cast<double>(c.m_windowSize), c.m_useHamming ? 1 : 0, static_cast<double>(c.m_preemCoef),
        c.m_usePower ? 1 : 0, c.m_numChans, static_cast<double>(c.m_loFreq), static_cast<double>(c.m_hiFreq),
        c.m_cepLifter, c.m_numCeps, c.m_eNormalise ? 1 : 0, static_cast<double>(c.m_eScale), c.m_deltaWindow,
        c.m_accWindow, static_cast<double>(c.m_silFloor), c.m_zeroMeanSource ? 1 : 0, param.useEpd);
}

std::string measureSettingsText(const recogParam& param) {
    std::vector<std::string> names;
    for (int32_t i = 0; i < PHONE_MEASURE_NUM; ++i) names.push_back(phoneMeasureName(i));
    std::string eps = param.epsFile.empty() ? "none" : fileExists(param.epsFile) ? fileDigest(param.epsFile) : "missing";
    return formatString("competitors=%s;eps=%s;measures=%s;gopClasses=monophone;pauseFrames=%d",
                        param.useAllModelAsCompetingModel != 0 ? "all" : "rightContext", eps.c_str(),
                        joinStrings(names, ",").c_str(), MEASURE_PAUSE_MIN_FRAMES);
}

calibrationTarget calibrationTargetOf(const macroClass& models, const recogParam& param) {
    calibrationTarget target;
    target.modelDigest = modelSetDigest(models);
    target.modelCount = models.modelNum;
    target.modelFile = param.macFile.substr(param.macFile.find_last_of('/') + 1);
    target.featureSettings = featureSettingsText(param);
    target.measureSettings = measureSettingsText(param);
    return target;
}

nlohmann::ordered_json calibrationClass::toJson() const {
    using ojson = nlohmann::ordered_json;
    ojson doc;
    doc["format"] = FORMAT_NAME;
    doc["version"] = FORMAT_VERSION;
    doc["fittedFor"] = {{"modelFile", target.modelFile},
                        {"modelCount", target.modelCount},
                        {"modelDigest", target.modelDigest},
                        {"features", target.featureSettings},
                        {"measures", target.measureSettings}};
    doc["training"] = training.is_null() ? ojson::object() : ojson::parse(training.dump());
    ojson levelDocs = ojson::object();
    for (int32_t level = 0; level < LEVEL_NUM; ++level) {
        const levelModel& m = levels[level];
        if (!m.fitted) continue;
        const std::vector<std::string>& names = calibrationInputNames(level);
        ojson terms = ojson::array();
        for (size_t t = 0; t < m.terms.size(); ++t) {
            ojson term = {{"input", names[static_cast<size_t>(m.terms[t].input)]}};
            if (m.terms[t].hinge) term["knot"] = rounded(m.terms[t].knot);
            term["weight"] = rounded(m.weights[t]);
            term["center"] = rounded(m.center[t]);
            term["spread"] = rounded(m.spread[t]);
            terms.push_back(term);
        }
        float low, high;
        calibrationLevelScale(level, low, high);
        ojson l = ojson::object();
        l["scale"] = {low, high};
        l["family"] = m.family;
        l["lambda"] = rounded(m.lambda);
        if (level == LEVEL_PHONE) l["offsetLambda"] = rounded(m.offsetLambda);
        l["crossValidated"] = {{"enginePearson", rounded(m.enginePearson)}, {"pearson", rounded(m.pearson)}};
        l["intercept"] = rounded(m.intercept);
        if (level == LEVEL_PHONE) {
            ojson offsets = ojson::object();
            for (const auto& entry : m.offsets) offsets[entry.first] = rounded(entry.second);
            l["offsets"] = offsets;
        }
        l["terms"] = terms;
        levelDocs[LEVEL_NAMES[level]] = l;
    }
    doc["levels"] = levelDocs;
    return doc;
}

void calibrationClass::fromJson(const json& doc, const std::string& path) {
    try {
        if (!doc.is_object() || doc.value("format", std::string()) != FORMAT_NAME)
            reportError(formatString("Error: %s is not a calibration file (line %d of file %s)", path.c_str(),
                                     __LINE__, UNIT));
        if (doc.at("version").get<int32_t>() != FORMAT_VERSION)
            reportError(formatString("Error: %s is a calibration file of version %d; this engine reads version %d "
                                     "(line %d of file %s)",
                                     path.c_str(), doc.at("version").get<int32_t>(), FORMAT_VERSION, __LINE__, UNIT));
        const json& f = doc.at("fittedFor");
        target.modelFile = f.at("modelFile").get<std::string>();
        target.modelCount = f.at("modelCount").get<int32_t>();
        target.modelDigest = f.at("modelDigest").get<std::string>();
        target.featureSettings = f.at("features").get<std::string>();
        target.measureSettings = f.at("measures").get<std::string>();
        training = doc.value("training", json::object());
        for (int32_t level = 0; level < LEVEL_NUM; ++level) {
            levelModel& m = levels[level];
            m = levelModel();
            if (!doc.at("levels").contains(LEVEL_NAMES[level])) continue;
            const json& l = doc.at("levels").at(LEVEL_NAMES[level]);
            const std::vector<std::string>& names = calibrationInputNames(level);
            const std::string what = std::string("level ") + LEVEL_NAMES[level];
            m.family = l.at("family").get<std::string>();
            m.lambda = l.at("lambda").get<float>();
            m.enginePearson = l.at("crossValidated").at("enginePearson").get<float>();
            m.pearson = l.at("crossValidated").at("pearson").get<float>();
            for (const json& t : l.at("terms")) {
                calibrationTerm term;
                const std::string name = t.at("input").get<std::string>();
                auto it = std::find(names.begin(), names.end(), name);
                if (it == names.end())
                    reportError(formatString("Error: %s of %s names the input \"%s\", which this engine does not "
                                             "compute (line %d of file %s)",
                                             what.c_str(), path.c_str(), name.c_str(), __LINE__, UNIT));
                term.input = static_cast<int32_t>(it - names.begin());
                term.hinge = t.contains("knot");
                if (term.hinge) term.knot = t.at("knot").get<float>();
                m.terms.push_back(term);
                m.center.push_back(t.at("center").get<float>());
                m.spread.push_back(t.at("spread").get<float>());
                m.weights.push_back(t.at("weight").get<float>());
                if (!(m.spread.back() > 0))
                    reportError(formatString("Error: %s of %s has a spread that is not positive (line %d of file %s)",
                                             what.c_str(), path.c_str(), __LINE__, UNIT));
            }
            m.intercept = l.at("intercept").get<float>();
            if (level == LEVEL_PHONE) {
                m.offsetLambda = l.value("offsetLambda", 0.0f);
                for (auto it = l.at("offsets").begin(); it != l.at("offsets").end(); ++it)
                    m.offsets[it.key()] = it.value().get<float>();
            }
            m.fitted = true;
        }
    } catch (const json::exception& e) {
        reportError(formatString("Error: calibration file %s does not parse: %s (line %d of file %s)", path.c_str(),
                                 e.what(), __LINE__, UNIT));
    }
}

void calibrationClass::load(const std::string& path) {
    std::string text = readFileBytes(path);
    json doc = json::parse(text, nullptr, false);
    if (doc.is_discarded())
        reportError(formatString("Error: calibration file %s is not JSON (line %d of file %s)", path.c_str(), __LINE__,
                                 UNIT));
    fromJson(doc, path);
}

void calibrationClass::save(const std::string& path) const {
    std::string text;
    appendReadable(toJson(), 0, text);
    text += "\n";
    filePtr file = openFileOrFail(path, "w");
    if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size() || std::fclose(file.release()) != 0)
        reportError(formatString("Error: cannot write %s (line %d of file %s)", path.c_str(), __LINE__, UNIT));
}

void calibrationClass::checkTarget(const calibrationTarget& current) const {
    if (current.modelDigest != target.modelDigest || current.modelCount != target.modelCount)
        reportError(formatString("Error: the calibration was fitted for the model set %s (%d models, %s), not for "
                                 "the one loaded, %s (%d models, %s); fit one for it with recognize-tool calibrate "
                                 "(line %d of file %s)",
                                 target.modelFile.c_str(), target.modelCount, target.modelDigest.c_str(),
                                 current.modelFile.c_str(), current.modelCount, current.modelDigest.c_str(), __LINE__,
                                 UNIT));
    if (current.featureSettings != target.featureSettings)
        reportError(formatString("Error: the calibration was fitted for another feature configuration (%s) "
                                 "(line %d of file %s)",
                                 settingsDifference(target.featureSettings, current.featureSettings).c_str(), __LINE__,
                                 UNIT));
    if (current.measureSettings != target.measureSettings)
        reportError(formatString("Error: the calibration was fitted for other measurement settings (%s) "
                                 "(line %d of file %s)",
                                 settingsDifference(target.measureSettings, current.measureSettings).c_str(), __LINE__,
                                 UNIT));
}

utterancePredictions predictUtterance(const calibrationClass& calibration, const measuredUtterance& u) {
    utterancePredictions out;
    std::vector<float> inputs;
    const levelModel& phoneModel = calibration.levels[LEVEL_PHONE];
    const levelModel& wordModel = calibration.levels[LEVEL_WORD];
    out.lower.phone.resize(u.words.size());
    out.lower.word.assign(u.words.size(), -1.0f);
    for (size_t w = 0; w < u.words.size(); ++w) {
        out.lower.phone[w].assign(u.words[w].phones.size(), -1.0f);
        if (!phoneModel.fitted) continue;
        for (size_t p = 0; p < u.words[w].phones.size(); ++p) {
            calibrationInputs(u, LEVEL_PHONE, static_cast<int32_t>(w), static_cast<int32_t>(p), out.lower, inputs);
            out.lower.phone[w][p] = phoneModel.predict(LEVEL_PHONE, inputs, u.words[w].phones[p].phone);
        }
    }
    if (wordModel.fitted)
        for (size_t w = 0; w < u.words.size(); ++w) {
            calibrationInputs(u, LEVEL_WORD, static_cast<int32_t>(w), -1, out.lower, inputs);
            out.lower.word[w] = wordModel.predict(LEVEL_WORD, inputs);
        }
    for (int32_t level = LEVEL_SENTENCE; level < LEVEL_NUM; ++level) {
        if (!calibration.levels[level].fitted || u.words.empty()) continue;
        calibrationInputs(u, level, -1, -1, out.lower, inputs);
        out.sentence[level - LEVEL_SENTENCE] = calibration.levels[level].predict(level, inputs);
    }
    return out;
}

void calibrationClass::apply(cmResult& result) const {
    measuredUtterance u = measuredUtteranceOf(result);
    utterancePredictions predictions = predictUtterance(*this, u);
    for (size_t w = 0; w < u.words.size(); ++w) {
        cmNode& node = result.nodes[static_cast<size_t>(u.words[w].nodeIndex)];
        node.accuracy = predictions.lower.word[w];
        for (size_t p = 0; p < u.words[w].phones.size(); ++p)
            node.phones[static_cast<size_t>(u.words[w].phones[p].phoneIndex)].accuracy = predictions.lower.phone[w][p];
    }
    result.accuracy = predictions.sentence[0];
    result.fluency = predictions.sentence[1];
    result.total = predictions.sentence[2];
    result.calibrated = true;
}

void measureAndCalibrate(cmResult& result, const float* features, int32_t dim, int32_t frameNum,
                         const macroClass& models, const calibrationClass* calibration) {
    monophoneClasses classes(models);
    measureResult(result, features, dim, frameNum, models, classes, measureOptions());
    if (calibration) calibration->apply(result);
}
