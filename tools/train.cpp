// Model training: the training data (list, lexicon, features), the stages of
// the training, and the recognize-tool subcommand.
#include "tools/train.h"

#include "decoder/cmResult.h"
#include "frontend/CMel.h"
#include "frontend/CaudioFile.h"
#include "lexicon/dict.h"
#include "run/conditionWave.h"
#include "run/features.h"
#include "run/recogParam.h"
#include "tools/tools.h"
#include "run/utility.h"
#include "run/outputSink.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

namespace {

const char* const UNIT = "train";

// Frames a state must be seen for before its parameters are re-estimated.
constexpr double MIN_STATE_OCC = 3.0;
// Retries of an utterance without alignment, each with a four times wider beam.
constexpr int32_t BEAM_RETRIES = 2;
// Missing words named in the error message at most.
constexpr size_t MAX_MISSING_LISTED = 20;

// Flat-start transition probabilities: stay in an emitting state, or move on.
constexpr float FLAT_SELF_LOOP = 0.6f;

bool isWhite(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::vector<std::string> splitWhite(const std::string& s) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && isWhite(s[i])) ++i;
        size_t start = i;
        while (i < s.size() && !isWhite(s[i])) ++i;
        if (i > start) words.push_back(s.substr(start, i - start));
    }
    return words;
}

// Lines of a text file with their line ends (LF, CR LF) removed.
std::vector<std::string> fileLines(const std::string& path) {
    std::string data = readFileBytes(path);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find('\n', start);
        if (end == std::string::npos) end = data.size();
        size_t stop = end;
        if (stop > start && data[stop - 1] == '\r') --stop;
        lines.push_back(data.substr(start, stop - start));
        start = end + 1;
    }
    return lines;
}

bool isEnglishLexiconPath(const std::string& path) {
    std::string ext = fileExtension(path);
    return ext == "wpa" || ext == "WPA" || ext == "wpab" || ext == "WPAB";
}

void checkModelName(const std::string& name, const std::string& lexiconPath) {
    if (name.empty() || name.size() > static_cast<size_t>(MAX_MODEL_NAME_LEN) ||
        name.find('"') != std::string::npos)
        reportError(formatString("Error: model name \"%s\" of %s is empty, longer than %d bytes or holds a double "
                                 "quote (line %d of %s)",
                                 name.c_str(), lexiconPath.c_str(), MAX_MODEL_NAME_LEN, __LINE__, UNIT));
}

// The features of one wave as the recognizer computes them.
std::vector<float> waveFeatures(const trainParam& param, const trainListEntry& entry, const std::string& listPath,
                                int32_t& frameNum, int32_t& dim) {
    if (!fileExists(entry.wavPath))
        reportError(formatString("Error: cannot read the wave %s named at line %d of %s (line %d of %s)",
                                 entry.wavPath.c_str(), entry.line, listPath.c_str(), __LINE__, UNIT));
    conditionOptions conditioning;  // no volume rejection, no spectral subtraction
    audioRecord audio;
    try {
        conditionReport report;
        audio = readConditionedWave(entry.wavPath, conditioning, report);
    } catch (const recogError& e) {
        reportError(formatString("Error: cannot use the wave %s named at line %d of %s: %s (line %d of %s)",
                                 entry.wavPath.c_str(), entry.line, listPath.c_str(), e.what(), __LINE__, UNIT));
    }
    const std::vector<int32_t>& samples = audio.samples;
    const int32_t sampleRate = audio.sampleRate, bitsPerSample = audio.bitsPerSample;
    const int32_t sampleCount = static_cast<int32_t>(samples.size());
    if (param.useEpd == 1) {
        // Endpoint detection and the span it keeps, exactly as the pipeline.
        featureOptions options;
        options.featureConfigFile = param.featureConfigPath;
        options.useEpd = 1;
        featureClass features = computeFeatures(options, samples.data(), sampleCount, sampleRate, bitsPerSample, 320, 160);
        frameNum = features.m_frameNum;
        dim = features.m_dim;
        return std::move(features.m_data);
    }
    // Without endpoint detection the pipeline hands the whole wave to CMel.
    CMel mel;
    mel.computeMfcc(samples.data(), sampleRate, bitsPerSample, sampleCount, param.featureConfigPath, frameNum, dim);
    if (frameNum > MAX_FRAME_NUM)
        reportError(formatString("Error: the wave %s named at line %d of %s has %d frames, more than %d (line %d of %s)",
                                 entry.wavPath.c_str(), entry.line, listPath.c_str(), frameNum, MAX_FRAME_NUM,
                                 __LINE__, UNIT));
    return std::move(mel.m_features);
}

// The stages of one training run over a loaded training set.
class trainRunClass {
public:
    const trainParam& m_param;
    const trainLexiconClass& m_lexicon;
    const std::vector<trainUtterance>& m_data;
    int32_t m_dim = 0;
    macroClass m_models;                     // unconverted, current stage
    std::map<std::string, int32_t> m_index;  // model name -> index in m_models
    std::vector<float> m_varFloor;           // one per feature dimension
    trainAccumClass m_lastAcc;               // statistics of the last pass
    int32_t m_passCount = 0;

    trainRunClass(const trainParam& param, const trainLexiconClass& lexicon, const std::vector<trainUtterance>& data,
                  int32_t dim)
        : m_param(param), m_lexicon(lexicon), m_data(data), m_dim(dim) {}

    void reindex() {
        m_index.clear();
        m_models.modelNum = static_cast<int32_t>(m_models.models.size());
        for (size_t i = 0; i < m_models.models.size(); ++i) m_index[m_models.models[i].name] = static_cast<int32_t>(i);
    }

    int32_t indexOf(const std::string& name) const {
        auto it = m_index.find(name);
        if (it == m_index.end())
            reportError(formatString("Error: no model %s in the training set (line %d of %s)", name.c_str(), __LINE__,
                                     UNIT));
        return it->second;
    }

    // Model sequence of an utterance: sil, the words (with their alternative
    // pronunciations; monophones or the lexicon's own names), an optional sp
    // between words, sil.
    std::vector<trainSegment> segmentsOf(const trainUtterance& utt, bool context, bool withSp) const {
        std::vector<trainSegment> segments;
        trainSegment sil;
        sil.alternatives.push_back({indexOf("sil")});
        segments.push_back(sil);
        for (size_t w = 0; w < utt.words.size(); ++w) {
            if (w > 0 && withSp) {
                trainSegment sp;
                sp.optional = true;
                sp.alternatives.push_back({indexOf("sp")});
                segments.push_back(sp);
            }
            trainSegment word;
            for (const std::vector<std::string>& pron : m_lexicon.m_prons[static_cast<size_t>(utt.words[w])]) {
                std::vector<int32_t> chain;
                for (const std::string& name : pron) {
                    // Before the short pause model exists, a pause in a pronunciation is left out.
                    if (name == "sp" && m_index.count("sp") == 0) continue;
                    chain.push_back(indexOf(context ? name : monophoneName(name)));
                }
                if (std::find(word.alternatives.begin(), word.alternatives.end(), chain) == word.alternatives.end())
                    word.alternatives.push_back(chain);
            }
            segments.push_back(word);
        }
        segments.push_back(sil);
        return segments;
    }

    // A model of `emitting` states (1 to 3) whose states are all `state`.
    static hmmModel makeModel(const std::string& name, int32_t emitting, const hmmState& state, float selfLoop) {
        hmmModel model{};
        model.name = name;
        model.stateNum = emitting + 2;
        for (int32_t s = 0; s < emitting; ++s) model.state[s] = state;
        model.transP[0][1] = 1.0f;
        for (int32_t r = 1; r <= emitting; ++r) {
            model.transP[r][r] = selfLoop;
            model.transP[r][r + 1] = 1.0f - selfLoop;
        }
        return model;
    }

    // Flat start: every monophone state holds the global mean and variance.
    void flatStart(const std::set<std::string>& names) {
        const int32_t streams = m_dim / MODEL_PARAM_NUM;
        std::vector<double> sum(static_cast<size_t>(m_dim), 0.0), sq(static_cast<size_t>(m_dim), 0.0);
        double frames = 0;
        for (const trainUtterance& utt : m_data) {
            for (int32_t t = 0; t < utt.frameNum; ++t)
                for (int32_t d = 0; d < m_dim; ++d) {
                    const double v = utt.features[static_cast<size_t>(t) * static_cast<size_t>(m_dim) + static_cast<size_t>(d)];
                    sum[static_cast<size_t>(d)] += v;
                    sq[static_cast<size_t>(d)] += v * v;
                }
            frames += utt.frameNum;
        }
        if (frames < 1)
            reportError(formatString("Error: the waves of %s give no feature frames (line %d of %s)",
                                     m_param.listPath.c_str(), __LINE__, UNIT));
        hmmState state{};
        m_varFloor.assign(static_cast<size_t>(m_dim), 0.0f);
        for (int32_t k = 0; k < streams; ++k) {
            state.streamWeight[k] = 1.0f;
            gaussMixture mix{};
            mix.weight = 1.0f;
            for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) {
                const size_t i = static_cast<size_t>(k * MODEL_PARAM_NUM + d);
                const double mean = sum[i] / frames;
                // A dimension that never varies still needs a usable variance.
                const double var = std::max(sq[i] / frames - mean * mean, 1e-6);
                mix.mean[d] = static_cast<float>(mean);
                mix.variance[d] = static_cast<float>(var);
                m_varFloor[i] = static_cast<float>(var * m_param.varianceFloor);
            }
            mix.gconst = gaussConst(mix);
            state.stream[k].mixture.push_back(mix);
        }
        m_models = macroClass();
        m_models.streamNum = streams;
        for (int32_t k = 0; k < streams; ++k) m_models.streamWidth[k] = MODEL_PARAM_NUM;
        for (const std::string& name : names) m_models.models.push_back(makeModel(name, 3, state, FLAT_SELF_LOOP));
        reindex();
        sinkPrintf("\tFlat start of %d models from %.0f frames (variance floor %g of the global variance)\n",
                    m_models.modelNum, frames, static_cast<double>(m_param.varianceFloor));
    }

    // Re-estimation passes with the current model set.
    void runPasses(const char* stage, bool context, bool withSp) {
        std::vector<std::vector<trainSegment>> segments;
        segments.reserve(m_data.size());
        for (const trainUtterance& utt : m_data) segments.push_back(segmentsOf(utt, context, withSp));
        trainGraphClass graph;
        for (int32_t pass = 1; pass <= m_param.passNum; ++pass) {
            int64_t start = clockMs();
            macroClass converted = m_models;
            converted.convertModels();
            m_lastAcc.reset(m_models);
            for (size_t u = 0; u < m_data.size(); ++u) {
                const trainUtterance& utt = m_data[u];
                graph.build(segments[u], m_models);
                double beam = m_param.beam;
                double logLike = -1e10;
                try {
                    for (int32_t attempt = 0; attempt <= BEAM_RETRIES; ++attempt, beam *= 4) {
                        logLike = forwardBackward(graph, utt.features.data(), utt.frameNum, m_dim, converted, beam,
                                                  &m_lastAcc);
                        if (logLike > -0.5e10) break;
                    }
                } catch (const recogError& e) {
                    reportError(formatString("Error: cannot align the wave %s (line %d of %s): %s (line %d of %s)",
                                             utt.wavPath.c_str(), utt.listLine, m_param.listPath.c_str(), e.what(),
                                             __LINE__, UNIT));
                }
                if (logLike <= -0.5e10) {
                    ++m_lastAcc.m_skipped;
                    sinkPrintf("Warning: the wave %s (line %d of %s) has no alignment with its transcript; skipped "
                                "in this pass\n",
                                utt.wavPath.c_str(), utt.listLine, m_param.listPath.c_str());
                }
            }
            if (m_lastAcc.m_utterances == 0)
                reportError(formatString("Error: no utterance of %s could be aligned with its transcript (line %d of %s)",
                                         m_param.listPath.c_str(), __LINE__, UNIT));
            const double average = m_lastAcc.m_logLike / static_cast<double>(m_lastAcc.m_frames);
            int32_t kept = updateModels(m_models, m_lastAcc, m_varFloor, MIN_STATE_OCC);
            ++m_passCount;
            sinkPrintf("%4.3f sec: %s, pass %d of %d: average log likelihood per frame = %.4f (%d utterances, "
                        "%lld frames",
                        elapsedSeconds(start), stage, pass, m_param.passNum, average, m_lastAcc.m_utterances,
                        static_cast<long long>(m_lastAcc.m_frames));
            if (m_lastAcc.m_skipped > 0) sinkPrintf(", %d skipped", m_lastAcc.m_skipped);
            if (kept > 0) sinkPrintf(", %d states seen too rarely to update", kept);
            sinkPrintf(")\n");
            std::fflush(stdout);
        }
    }

    // Adds "sp", one emitting state copied from the centre state of "sil".
    void addShortPause() {
        const hmmModel& sil = m_models.models[static_cast<size_t>(indexOf("sil"))];
        hmmModel sp = makeModel("sp", 1, sil.state[1], sil.transP[2][2]);
        m_models.models.push_back(sp);
        reindex();
    }

    // Replaces the monophones by the lexicon's own model names, each a copy of
    // its monophone; sil and sp stay.
    void cloneContextModels(const std::set<std::string>& names) {
        macroClass next;
        next.streamNum = m_models.streamNum;
        for (int32_t k = 0; k < MAX_STREAM_NUM; ++k) next.streamWidth[k] = m_models.streamWidth[k];
        std::set<std::string> all = names;
        all.insert("sil");
        if (m_index.count("sp")) all.insert("sp");
        for (const std::string& name : all) {
            hmmModel model = m_models.models[static_cast<size_t>(indexOf(monophoneName(name)))];
            model.name = name;
            next.models.push_back(model);
        }
        m_models = std::move(next);
        reindex();
    }
};

}  // namespace

std::vector<trainListEntry> readTrainList(const std::string& path) {
    std::vector<std::string> lines = fileLines(path);
    std::vector<trainListEntry> entries;
    for (size_t i = 0; i < lines.size(); ++i) {
        const int32_t lineNumber = static_cast<int32_t>(i + 1);
        const std::string& line = lines[i];
        const std::string trimmed = trimSpace(line);
        if (trimmed.empty() || trimmed[0] == '%') continue;
        size_t tab = line.find('\t');
        if (tab == std::string::npos)
            reportError(formatString("Error: line %d of %s has no tab between the wave and its transcript "
                                     "(line %d of %s)",
                                     lineNumber, path.c_str(), __LINE__, UNIT));
        trainListEntry entry;
        entry.wavPath = trimSpace(line.substr(0, tab));
        entry.transcript = trimSpace(line.substr(tab + 1));
        entry.line = lineNumber;
        if (entry.wavPath.empty())
            reportError(formatString("Error: line %d of %s names no wave (line %d of %s)", lineNumber, path.c_str(),
                                     __LINE__, UNIT));
        if (splitWhite(entry.transcript).empty())
            reportError(formatString("Error: empty transcript at line %d of %s (line %d of %s)", lineNumber,
                                     path.c_str(), __LINE__, UNIT));
        entries.push_back(entry);
    }
    if (entries.empty())
        reportError(formatString("Error: the training list %s holds no utterance (line %d of %s)", path.c_str(),
                                 __LINE__, UNIT));
    return entries;
}

std::vector<std::string> englishModelNames(const std::string& pa) {
    std::vector<std::string> phones = splitString(pa, '_');
    std::vector<std::string> names;
    for (size_t i = 0; i < phones.size(); ++i) {
        if (phones[i] == "sil" || phones[i] == "sp")
            names.push_back(phones[i]);
        else
            names.push_back(phones[i] + "+" + (i + 1 < phones.size() ? phones[i + 1] : std::string("sil")));
    }
    return names;
}

std::string monophoneName(const std::string& name) { return name.substr(0, name.find('+')); }

void trainLexiconClass::read(const std::string& path) {
    if (!fileExists(path))
        reportError(formatString("Error: cannot open the lexicon %s (line %d of %s)", path.c_str(), __LINE__, UNIT));
    std::map<std::string, std::vector<std::vector<std::string>>> table;
    m_english = isEnglishLexiconPath(path);
    if (m_english) {
        dictClass dict;
        dict.wpaRead(path, "english");
        for (const wpaEntry& entry : dict.m_wpa) {
            std::vector<std::vector<std::string>>& prons = table[entry.word];
            for (const std::string& pa : entry.pa) {
                std::vector<std::string> names = englishModelNames(pa);
                for (const std::string& name : names) {
                    if (name.empty() || name[0] == '+' || name.find("++") != std::string::npos ||
                        name.back() == '+')
                        reportError(formatString("Error: the pronunciation \"%s\" of \"%s\" in %s has an empty phone "
                                                 "(line %d of %s)",
                                                 pa.c_str(), entry.word.c_str(), path.c_str(), __LINE__, UNIT));
                    checkModelName(name, path);
                }
                prons.push_back(names);
            }
        }
    } else {
        std::vector<std::string> lines = fileLines(path);
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            if (line.empty() || line[0] == '%') continue;
            std::vector<std::string> fields = splitWhite(line);
            if (fields.empty()) continue;
            if (fields.size() < 2)
                reportError(formatString("Error: line %d of %s gives the unit \"%s\" no models (line %d of %s)",
                                         static_cast<int32_t>(i + 1), path.c_str(), fields[0].c_str(), __LINE__, UNIT));
            std::vector<std::string> names(fields.begin() + 1, fields.end());
            for (const std::string& name : names) checkModelName(name, path);
            table[fields[0]].push_back(names);
        }
    }
    m_words.clear();
    m_prons.clear();
    for (auto& [word, prons] : table) {
        if (prons.empty()) continue;
        m_words.push_back(word);
        m_prons.push_back(prons);
    }
    if (m_words.empty())
        reportError(formatString("Error: the lexicon %s holds no word (line %d of %s)", path.c_str(), __LINE__, UNIT));
}

int32_t trainLexiconClass::find(const std::string& word) const {
    auto it = std::lower_bound(m_words.begin(), m_words.end(), word);
    if (it == m_words.end() || *it != word) return -1;
    return static_cast<int32_t>(it - m_words.begin());
}

std::vector<trainUtterance> loadTrainingData(const trainParam& param, const trainLexiconClass& lexicon,
                                             int32_t& dim) {
    std::vector<trainListEntry> entries = readTrainList(param.listPath);
    std::vector<trainUtterance> data(entries.size());
    std::map<std::string, int32_t> missing;  // word -> first list line
    for (size_t i = 0; i < entries.size(); ++i) {
        data[i].wavPath = entries[i].wavPath;
        data[i].listLine = entries[i].line;
        for (std::string word : splitWhite(entries[i].transcript)) {
            if (lexicon.m_english) word = toLowerAscii(word);
            int32_t index = lexicon.find(word);
            if (index < 0)
                missing.emplace(word, entries[i].line);
            else
                data[i].words.push_back(index);
        }
    }
    if (!missing.empty()) {
        std::string list;
        size_t listed = 0;
        for (const auto& [word, line] : missing) {
            if (listed++ == MAX_MISSING_LISTED) {
                list += ", ...";
                break;
            }
            list += formatString("%s\"%s\" (line %d)", list.empty() ? "" : ", ", word.c_str(), line);
        }
        reportError(formatString("Error: %d words of the training list %s are not in the lexicon %s: %s (line %d of %s)",
                                 static_cast<int32_t>(missing.size()), param.listPath.c_str(),
                                 param.lexiconPath.c_str(), list.c_str(), __LINE__, UNIT));
    }

    int64_t start = clockMs();
    int64_t frames = 0;
    dim = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        int32_t utteranceDim = 0;
        data[i].features = waveFeatures(param, entries[i], param.listPath, data[i].frameNum, utteranceDim);
        if (i == 0) dim = utteranceDim;
        if (utteranceDim != dim || dim <= 0 || dim % MODEL_PARAM_NUM != 0 || dim > MAX_STREAM_NUM * MODEL_PARAM_NUM)
            reportError(formatString("Error: the features of %s have %d values per frame; training needs 1 to %d "
                                     "streams of %d (line %d of %s)",
                                     entries[i].wavPath.c_str(), utteranceDim, MAX_STREAM_NUM, MODEL_PARAM_NUM,
                                     __LINE__, UNIT));
        frames += data[i].frameNum;
    }
    sinkPrintf("%4.3f sec: Computed the features of %d utterances (%lld frames of %d values)\n",
                elapsedSeconds(start), static_cast<int32_t>(data.size()), static_cast<long long>(frames), dim);
    return data;
}

macroClass trainModels(const trainParam& param) {
    const int64_t totalStart = clockMs();
    const std::string ext = fileExtension(param.outputPath);
    const bool binary = ext == "macb" || ext == "MACB";
    if (!binary && ext != "mac" && ext != "MAC")
        reportError(formatString("Error: the model file %s must end in .mac or .macb (line %d of %s)",
                                 param.outputPath.c_str(), __LINE__, UNIT));
    if (param.mixtureNum < 1 || param.mixtureNum > MAX_MIXTURE_NUM)
        reportError(formatString("Error: %d components per stream is outside 1 to %d (line %d of %s)",
                                 param.mixtureNum, MAX_MIXTURE_NUM, __LINE__, UNIT));
    if (param.passNum < 1)
        reportError(formatString("Error: %d re-estimation passes; at least 1 is needed (line %d of %s)",
                                 param.passNum, __LINE__, UNIT));
    if (!(param.varianceFloor > 0 && param.varianceFloor <= 1) || !(param.beam > 0))
        reportError(formatString("Error: a variance floor of %g or a beam of %g is unusable (line %d of %s)",
                                 static_cast<double>(param.varianceFloor), static_cast<double>(param.beam), __LINE__,
                                 UNIT));
    std::string countPath = param.countPath;
    if (countPath.empty()) countPath = param.outputPath.substr(0, param.outputPath.size() - ext.size()) + "count";

    int64_t start = clockMs();
    trainLexiconClass lexicon;
    lexicon.read(param.lexiconPath);
    sinkPrintf("%4.3f sec: Read the lexicon %s (%d words)\n", elapsedSeconds(start), param.lexiconPath.c_str(),
                static_cast<int32_t>(lexicon.m_words.size()));
    int32_t dim = 0;
    std::vector<trainUtterance> data = loadTrainingData(param, lexicon, dim);

    // The model names the transcripts use, and their monophones.
    std::set<std::string> finalNames, monophones{"sil"};
    for (const trainUtterance& utt : data)
        for (int32_t w : utt.words)
            for (const std::vector<std::string>& pron : lexicon.m_prons[static_cast<size_t>(w)])
                for (const std::string& name : pron) {
                    finalNames.insert(name);
                    monophones.insert(monophoneName(name));
                }
    bool hasContext = false;
    for (const std::string& name : finalNames) hasContext = hasContext || name != monophoneName(name);
    // "sp" in the lexicon's pronunciations is the short pause model, trained
    // with the pause between words.
    const bool lexiconUsesSp = monophones.erase("sp") > 0;
    finalNames.erase("sp");
    const bool withSp = param.optionalSp;

    trainRunClass run(param, lexicon, data, dim);
    run.flatStart(monophones);
    run.runPasses("Monophones", false, false);
    if (withSp || lexiconUsesSp) {
        run.addShortPause();
        run.runPasses("Monophones with short pause", false, withSp);
    }
    if (hasContext) {
        run.cloneContextModels(finalNames);
        sinkPrintf("\tCloned %d right-context models from their monophones\n", run.m_models.modelNum);
        run.runPasses("Right-context models", true, withSp);
    }
    for (int32_t mixtures = 1; mixtures < param.mixtureNum;) {
        mixtures = std::min(mixtures * 2, param.mixtureNum);
        splitMixtures(run.m_models, mixtures);
        std::string stage = formatString("%d components per stream", mixtures);
        run.runPasses(stage.c_str(), hasContext, withSp);
    }

    // The expected number of entries of each model in the last pass.
    std::vector<std::pair<std::string, long long>> counts;
    for (size_t m = 0; m < run.m_models.models.size(); ++m)
        counts.emplace_back(run.m_models.models[m].name, std::llround(run.m_lastAcc.m_entries[m]));

    macroClass models = std::move(run.m_models);
    models.sortModels();
    std::sort(counts.begin(), counts.end(),
              [](const auto& a, const auto& b) { return a.first.compare(b.first) < 0; });
    if (binary)
        models.writeMacBinary(param.outputPath);
    else
        models.writeMacText(param.outputPath);
    sinkPrintf("\t===> Saved %s (%d models)\n", param.outputPath.c_str(), models.modelNum);
    std::vector<std::string> countLines;
    for (const auto& [name, count] : counts) countLines.push_back(formatString("%s\t%lld", name.c_str(), count));
    writeLines(countPath, countLines);
    sinkPrintf("\t===> Saved %s\n", countPath.c_str());
    sinkPrintf("%4.3f sec: Training (%d passes)\n", elapsedSeconds(totalStart), run.m_passCount);
    return models;
}

namespace {

const char* const USAGE =
    "Usage: recognize-tool train -C featureConfig -L lexicon [options] trainList model.mac\n"
    "  -C featureConfig  feature configuration, the one the recognizer will use\n"
    "  -L lexicon        English .wpa/.wpab file, or a pam file (\"unit<white>model model ...\")\n"
    "  -m mixtures       Gaussian components per stream of the final models (default 1, at most 32)\n"
    "  -i passes         re-estimation passes per training stage (default 3)\n"
    "  -c countFile      model count file to write (default: the model path with extension \"count\")\n"
    "  -E                endpoint detection before features (the recognizer's useEpd=1)\n"
    "  -n                no optional short pause \"sp\" between words\n"
    "  -f fraction       variance floor as a fraction of the global variance (default 0.01)\n"
    "  -b beam           forward pruning beam in natural-log units (default 250)\n"
    "  trainList         lines \"wave<TAB>words of the transcript\"; lines beginning with % are comments\n"
    "  model.mac         model file to write: .mac (text) or .macb (binary)\n";

bool parseNumber(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end != nullptr && *end == '\0' && std::isfinite(value);
}

}  // namespace

int toolTrain(const std::vector<std::string>& args) {
    trainParam param;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        double number = 0;
        if (a == "-C" && hasValue) {
            param.featureConfigPath = args[++i];
        } else if (a == "-L" && hasValue) {
            param.lexiconPath = args[++i];
        } else if (a == "-c" && hasValue) {
            param.countPath = args[++i];
        } else if ((a == "-m" || a == "-i") && hasValue && parseNumber(args[i + 1], number) &&
                   number == std::floor(number) && std::fabs(number) < 1e6) {
            (a == "-m" ? param.mixtureNum : param.passNum) = static_cast<int32_t>(number);
            ++i;
        } else if ((a == "-f" || a == "-b") && hasValue && parseNumber(args[i + 1], number)) {
            (a == "-f" ? param.varianceFloor : param.beam) = static_cast<float>(number);
            ++i;
        } else if (a == "-E") {
            param.useEpd = 1;
        } else if (a == "-n") {
            param.optionalSp = false;
        } else if (a == "--help" || a == "-h") {
            sinkPrintf("%s", USAGE);
            return 0;
        } else if (!a.empty() && a[0] == '-' && a.size() > 1) {
            sinkPrintf("Unknown, incomplete or malformed option %s\n%s", a.c_str(), USAGE);
            return 1;
        } else {
            positional.push_back(a);
        }
    }
    if (param.featureConfigPath.empty() || param.lexiconPath.empty() || positional.size() != 2) {
        sinkPrintf("%s", USAGE);
        return 1;
    }
    param.listPath = positional[0];
    param.outputPath = positional[1];
    trainModels(param);
    return 0;
}
