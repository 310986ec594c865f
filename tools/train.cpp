// Model training: the training data (list, lexicon, features), the plan of
// passes, the model sets of its stages and the whole training in one process.
#include "tools/train.h"

#include "decoder/cmResult.h"
#include "frontend/CMel.h"
#include "frontend/CaudioFile.h"
#include "lexicon/dict.h"
#include "run/conditionWave.h"
#include "run/features.h"
#include "run/recogParam.h"
#include "run/utility.h"
#include "run/outputSink.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <mutex>
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

// A front end of its own for one thread, so that its FFT plan is made once
// and not for every wave.
class featureWorkerClass {
public:
    CMel m_mel;
};

// The features of one wave as the recognizer computes them.
std::vector<float> waveFeatures(const trainParam& param, const trainListEntry& entry, featureWorkerClass& worker,
                                int32_t& frameNum, int32_t& dim) {
    const std::string& listPath = param.listPath;
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
    // The front end takes the samples as one channel; interleaved channels
    // would pass for speech at twice the rate.
    if (audio.channels != 1)
        reportError(formatString("Error: the wave %s named at line %d of %s has %d channels; training takes "
                                 "one-channel recordings only (line %d of %s)",
                                 entry.wavPath.c_str(), entry.line, listPath.c_str(), audio.channels, __LINE__, UNIT));
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
    CMel& mel = worker.m_mel;
    mel.computeMfcc(samples.data(), sampleRate, bitsPerSample, sampleCount, param.featureConfigPath, frameNum, dim);
    if (frameNum > MAX_FRAME_NUM)
        reportError(formatString("Error: the wave %s named at line %d of %s has %d frames, more than %d (line %d of %s)",
                                 entry.wavPath.c_str(), entry.line, listPath.c_str(), frameNum, MAX_FRAME_NUM,
                                 __LINE__, UNIT));
    return std::move(mel.m_features);
}

std::map<std::string, int32_t> nameIndex(const macroClass& models) {
    std::map<std::string, int32_t> index;
    for (size_t i = 0; i < models.models.size(); ++i) index[models.models[i].name] = static_cast<int32_t>(i);
    return index;
}

int32_t indexOf(const std::map<std::string, int32_t>& index, const std::string& name) {
    auto it = index.find(name);
    if (it == index.end())
        reportError(formatString("Error: no model %s in the training set (line %d of %s)", name.c_str(), __LINE__,
                                 UNIT));
    return it->second;
}

// Model sequence of an utterance: sil, the words (with their alternative
// pronunciations; monophones or the lexicon's own names), an optional sp
// between words, sil.
std::vector<trainSegment> segmentsOf(const trainLexiconClass& lexicon, const std::map<std::string, int32_t>& index,
                                     const std::vector<int32_t>& words, bool context, bool withSp) {
    std::vector<trainSegment> segments;
    trainSegment sil;
    sil.alternatives.push_back({indexOf(index, "sil")});
    segments.push_back(sil);
    const bool haveSp = index.count("sp") > 0;
    for (size_t w = 0; w < words.size(); ++w) {
        if (w > 0 && withSp) {
            trainSegment sp;
            sp.optional = true;
            sp.alternatives.push_back({indexOf(index, "sp")});
            segments.push_back(sp);
        }
        trainSegment word;
        for (const std::vector<std::string>& pron : lexicon.m_prons[static_cast<size_t>(words[w])]) {
            std::vector<int32_t> chain;
            for (const std::string& name : pron) {
                // Before the short pause model exists, a pause in a pronunciation is left out.
                if (name == "sp" && !haveSp) continue;
                chain.push_back(indexOf(index, context ? name : monophoneName(name)));
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
hmmModel makeModel(const std::string& name, int32_t emitting, const hmmState& state, float selfLoop) {
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

// Mean and variance of every feature dimension over all frames.
void globalMoments(const trainStatsClass& stats, std::vector<double>& mean, std::vector<double>& var) {
    const double frames = static_cast<double>(stats.m_allFrames);
    mean.assign(static_cast<size_t>(stats.m_dim), 0.0);
    var.assign(static_cast<size_t>(stats.m_dim), 0.0);
    for (size_t d = 0; d < mean.size(); ++d) {
        mean[d] = fromExact(stats.m_frameSum[d]) / frames;
        // A dimension that never varies still needs a usable variance.
        var[d] = std::max(fromExact(stats.m_frameSq[d]) / frames - mean[d] * mean[d], 1e-6);
    }
}

void checkFrames(const trainSetupClass& setup, const trainStatsClass& stats) {
    if (stats.m_allFrames < 1 || stats.m_dim <= 0)
        reportError(formatString("Error: the waves of %s give no feature frames (line %d of %s)",
                                 setup.m_param.listPath.c_str(), __LINE__, UNIT));
}

std::vector<float> varianceFloorOf(const trainSetupClass& setup, const trainStatsClass& stats) {
    checkFrames(setup, stats);
    std::vector<double> mean, var;
    globalMoments(stats, mean, var);
    std::vector<float> floor(var.size());
    for (size_t d = 0; d < var.size(); ++d) floor[d] = static_cast<float>(var[d] * setup.m_param.varianceFloor);
    return floor;
}

// Flat start: every monophone state holds the global mean and variance.
macroClass flatStartModels(const trainSetupClass& setup, const trainStatsClass& stats) {
    checkFrames(setup, stats);
    std::vector<double> mean, var;
    globalMoments(stats, mean, var);
    const int32_t streams = stats.m_dim / MODEL_PARAM_NUM;
    hmmState state{};
    for (int32_t k = 0; k < streams; ++k) {
        state.streamWeight[k] = 1.0f;
        gaussMixture mix{};
        mix.weight = 1.0f;
        for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) {
            const size_t i = static_cast<size_t>(k * MODEL_PARAM_NUM + d);
            mix.mean[d] = static_cast<float>(mean[i]);
            mix.variance[d] = static_cast<float>(var[i]);
        }
        mix.gconst = gaussConst(mix);
        state.stream[k].mixture.push_back(mix);
    }
    macroClass models;
    models.streamNum = streams;
    for (int32_t k = 0; k < streams; ++k) models.streamWidth[k] = MODEL_PARAM_NUM;
    for (const std::string& name : setup.m_monophones) models.models.push_back(makeModel(name, 3, state, FLAT_SELF_LOOP));
    models.modelNum = static_cast<int32_t>(models.models.size());
    return models;
}

// Adds "sp", one emitting state copied from the centre state of "sil".
void addShortPause(macroClass& models) {
    const hmmModel& sil = models.models[static_cast<size_t>(indexOf(nameIndex(models), "sil"))];
    hmmModel sp = makeModel("sp", 1, sil.state[1], sil.transP[2][2]);
    models.models.push_back(sp);
    models.modelNum = static_cast<int32_t>(models.models.size());
}

// Replaces the monophones by the context stage's model names, each a copy of
// its monophone; sil and sp stay.
void cloneContextModels(macroClass& models, const std::set<std::string>& names) {
    const std::map<std::string, int32_t> index = nameIndex(models);
    macroClass next;
    next.streamNum = models.streamNum;
    for (int32_t k = 0; k < MAX_STREAM_NUM; ++k) next.streamWidth[k] = models.streamWidth[k];
    std::set<std::string> all = names;
    all.insert("sil");
    if (index.count("sp")) all.insert("sp");
    for (const std::string& name : all) {
        hmmModel model = models.models[static_cast<size_t>(indexOf(index, monophoneName(name)))];
        model.name = name;
        next.models.push_back(model);
    }
    next.modelNum = static_cast<int32_t>(next.models.size());
    models = std::move(next);
}

uint64_t fnvText(uint64_t h, const std::string& text) {
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
    // A terminator keeps "ab","c" apart from "a","bc".
    return (h ^ 0xffu) * 1099511628211ull;
}

// The fingerprint of everything the statistics of a pass depend on.
uint64_t settingsKey(const trainSetupClass& setup) {
    const trainParam& p = setup.m_param;
    uint64_t h = 14695981039346656037ull;
    h = fnvText(h, formatString("m%d i%d e%d sp%d f%.9g b%.9g c%d", p.mixtureNum, p.passNum, p.useEpd,
                                p.optionalSp ? 1 : 0, static_cast<double>(p.varianceFloor),
                                static_cast<double>(p.beam), p.fullContexts ? 1 : 0));
    h = fnvText(h, readFileBytes(p.featureConfigPath));
    for (const trainListEntry& entry : setup.m_entries) {
        h = fnvText(h, entry.wavPath);
        h = fnvText(h, entry.transcript);
    }
    for (size_t w = 0; w < setup.m_lexicon.m_words.size(); ++w) {
        h = fnvText(h, setup.m_lexicon.m_words[w]);
        for (const std::vector<std::string>& pron : setup.m_lexicon.m_prons[w]) h = fnvText(h, joinStrings(pron, " "));
    }
    return h;
}

}  // namespace

void checkTrainParam(const trainParam& param) {
    const std::string ext = fileExtension(param.outputPath);
    if (!param.outputPath.empty() && ext != "mac" && ext != "MAC" && ext != "macb" && ext != "MACB")
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
    if (param.threadNum < 0)
        reportError(formatString("Error: %d threads is not a thread count (line %d of %s)", param.threadNum,
                                 __LINE__, UNIT));
}

std::string modelCountPath(const trainParam& param) {
    if (!param.countPath.empty()) return param.countPath;
    const std::string ext = fileExtension(param.outputPath);
    return param.outputPath.substr(0, param.outputPath.size() - ext.size()) + "count";
}

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

void shardRange(size_t n, int32_t index, int32_t count, size_t& first, size_t& last) {
    if (count < 1 || index < 1 || index > count)
        reportError(formatString("Error: shard %d of %d does not exist (line %d of %s)", index, count, __LINE__, UNIT));
    const auto edge = [&](int32_t k) {
        __extension__ typedef unsigned __int128 wide;
        return static_cast<size_t>(static_cast<wide>(n) * static_cast<wide>(k) / static_cast<wide>(count));
    };
    first = edge(index - 1);
    last = edge(index);
}

trainSetupClass prepareTraining(const trainParam& param) {
    checkTrainParam(param);
    trainSetupClass setup;
    setup.m_param = param;
    if (!fileExists(param.featureConfigPath))
        reportError(formatString("Error: cannot open the feature configuration %s (line %d of %s)",
                                 param.featureConfigPath.c_str(), __LINE__, UNIT));

    int64_t start = clockMs();
    trainLexiconClass& lexicon = setup.m_lexicon;
    lexicon.read(param.lexiconPath);
    sinkPrintf("%4.3f sec: Read the lexicon %s (%d words)\n", elapsedSeconds(start), param.lexiconPath.c_str(),
               static_cast<int32_t>(lexicon.m_words.size()));

    setup.m_entries = readTrainList(param.listPath);
    std::map<std::string, int32_t> missing;  // word -> first list line
    for (const trainListEntry& entry : setup.m_entries) {
        std::vector<int32_t> words;
        for (std::string word : splitWhite(entry.transcript)) {
            if (lexicon.m_english) word = toLowerAscii(word);
            int32_t index = lexicon.find(word);
            if (index < 0)
                missing.emplace(word, entry.line);
            else
                words.push_back(index);
        }
        setup.m_words.push_back(words);
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

    // The model names the transcripts use, and their monophones.
    std::set<std::string> seen;
    setup.m_monophones = {"sil"};
    for (const std::vector<int32_t>& words : setup.m_words)
        for (int32_t w : words)
            for (const std::vector<std::string>& pron : lexicon.m_prons[static_cast<size_t>(w)])
                for (const std::string& name : pron) {
                    seen.insert(name);
                    setup.m_monophones.insert(monophoneName(name));
                }
    for (const std::string& name : seen) setup.m_hasContext = setup.m_hasContext || name != monophoneName(name);
    // "sp" in the lexicon's pronunciations is the short pause model, trained
    // with the pause between words.
    setup.m_lexiconUsesSp = setup.m_monophones.erase("sp") > 0;
    seen.erase("sp");
    setup.m_contextNames = seen;

    // With an English lexicon every phone it spells, heard or not, gets its
    // monophone and every right context p+q and p+sil: an assessment text may
    // ask for any of them.
    if (lexicon.m_english && param.fullContexts) {
        std::set<std::string> phones;
        for (const auto& prons : lexicon.m_prons)
            for (const std::vector<std::string>& pron : prons)
                for (const std::string& name : pron) {
                    const std::string phone = monophoneName(name);
                    if (phone != "sil" && phone != "sp") phones.insert(phone);
                }
        for (const std::string& phone : phones) {
            if (setup.m_monophones.insert(phone).second) ++setup.m_unseenMonophones;
            if (setup.m_contextNames.insert(phone + "+sil").second) ++setup.m_unseenContexts;
            for (const std::string& next : phones)
                if (setup.m_contextNames.insert(phone + "+" + next).second) ++setup.m_unseenContexts;
        }
        setup.m_hasContext = setup.m_hasContext || !phones.empty();
    }

    // The plan: the statistics of the flat start, then every stage's passes.
    std::vector<trainStep>& plan = setup.m_plan;
    plan.push_back(trainStep());
    plan.back().stage = "Feature statistics";
    auto addStage = [&](const std::string& stage, trainStep::changeKind change, int32_t mixtures, bool context,
                        bool withSp) {
        for (int32_t pass = 1; pass <= param.passNum; ++pass) {
            trainStep step;
            step.change = pass == 1 ? change : trainStep::NO_CHANGE;
            step.mixtures = mixtures;
            step.stage = stage;
            step.stagePass = pass;
            step.stagePasses = param.passNum;
            step.context = context;
            step.withSp = withSp;
            plan.push_back(step);
        }
    };
    addStage("Monophones", trainStep::FLAT_START, 1, false, false);
    if (param.optionalSp || setup.m_lexiconUsesSp)
        addStage("Monophones with short pause", trainStep::ADD_SHORT_PAUSE, 1, false, param.optionalSp);
    if (setup.m_hasContext)
        addStage("Right-context models", trainStep::CLONE_CONTEXTS, 1, true, param.optionalSp);
    for (int32_t mixtures = 1; mixtures < param.mixtureNum;) {
        mixtures = std::min(mixtures * 2, param.mixtureNum);
        addStage(formatString("%d components per stream", mixtures), trainStep::SPLIT_MIXTURES, mixtures,
                 setup.m_hasContext, param.optionalSp);
    }
    setup.m_settingsKey = settingsKey(setup);
    return setup;
}

std::vector<trainUtterance> loadTrainingData(const trainSetupClass& setup, size_t first, size_t last, int32_t& dim) {
    const int64_t start = clockMs();
    last = std::min(last, setup.m_entries.size());
    first = std::min(first, last);
    const size_t n = last - first;
    std::vector<trainUtterance> data(n);
    std::vector<int32_t> dims(n, 0);
    std::vector<std::string> printed(n);  // each utterance's console lines, shown in list order
    std::vector<std::exception_ptr> errors(n);
    const int32_t threads = static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(trainThreadCount(setup.m_param.threadNum)),
                                                                  std::max<size_t>(n, 1)));
    std::vector<featureWorkerClass> workers(static_cast<size_t>(threads));
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    trainProgressClass progress("Features", static_cast<int32_t>(n), 0, setup.m_param.quiet);
    runWorkers(
        threads,
        [&](int32_t w) {
            while (!failed) {
                const size_t i = next++;
                if (i >= n) break;
                const trainListEntry& entry = setup.m_entries[first + i];
                trainUtterance& utt = data[i];
                utt.wavPath = entry.wavPath;
                utt.listLine = entry.line;
                utt.words = setup.m_words[first + i];
                scopedOutputCapture capture;
                try {
                    utt.features = waveFeatures(setup.m_param, entry, workers[static_cast<size_t>(w)], utt.frameNum,
                                                dims[i]);
                } catch (...) {
                    errors[i] = std::current_exception();
                    failed = true;
                }
                printed[i] = capture.text();
                if (failed) break;
                progress.advance(utt.frameNum);
            }
        },
        progress);
    // Lines and the first error in list order, as one thread would give them.
    int64_t frames = 0;
    dim = n > 0 ? dims[0] : 0;
    for (size_t i = 0; i < n; ++i) {
        if (!printed[i].empty()) sinkPrintf("%s", printed[i].c_str());
        if (errors[i]) std::rethrow_exception(errors[i]);
        if (dims[i] != dim || dim <= 0 || dim % MODEL_PARAM_NUM != 0 || dim > MAX_STREAM_NUM * MODEL_PARAM_NUM)
            reportError(formatString("Error: the features of %s have %d values per frame; training needs 1 to %d "
                                     "streams of %d (line %d of %s)",
                                     data[i].wavPath.c_str(), dims[i], MAX_STREAM_NUM, MODEL_PARAM_NUM, __LINE__,
                                     UNIT));
        frames += data[i].frameNum;
    }
    sinkPrintf("%4.3f sec: Computed the features of %d utterances (%lld frames of %d values)\n",
               elapsedSeconds(start), static_cast<int32_t>(n), static_cast<long long>(frames), dim);
    return data;
}

trainStatsClass accumulatePass(const trainSetupClass& setup, int32_t pass, const macroClass& models,
                               const std::vector<trainUtterance>& data, int32_t dim) {
    if (pass < 0 || pass > setup.passCount())
        reportError(formatString("Error: pass %d is outside 0 to %d of this training (line %d of %s)", pass,
                                 setup.passCount(), __LINE__, UNIT));
    const trainStep& step = setup.m_plan[static_cast<size_t>(pass)];
    const trainParam& param = setup.m_param;
    const bool align = pass > 0;
    if (align == models.models.empty())
        reportError(formatString("Error: pass %d needs %s (line %d of %s)", pass,
                                 align ? "a model set" : "no model set", __LINE__, UNIT));
    trainStatsClass total;
    total.shape(models, dim);
    total.m_pass = pass;
    total.m_settingsKey = setup.m_settingsKey;

    // Read by every thread, written by none.
    macroClass converted;
    if (align) {
        converted = models;
        converted.convertModels();
    }
    const std::map<std::string, int32_t> index = nameIndex(models);

    // Each thread aligns one utterance at a time into statistics of its own,
    // converts those of the models the utterance used to exact sums and adds
    // them to the total under the lock.
    struct workerState {
        trainAccumClass scratch;
        std::vector<char> sized;  // [model]: the scratch has room for it
        trainGraphClass graph;
        std::vector<exactSum> values;
        std::vector<size_t> skipped;
    };
    const size_t n = data.size();
    const int32_t threads =
        static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(trainThreadCount(param.threadNum)), std::max<size_t>(n, 1)));
    std::vector<workerState> workers(static_cast<size_t>(threads));
    std::vector<std::exception_ptr> errors(n);
    std::mutex totalLock;
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    int64_t totalFrames = 0;
    for (const trainUtterance& utt : data) totalFrames += utt.frameNum;
    const std::string label =
        pass == 0 ? step.stage : formatString("%s, pass %d of %d", step.stage.c_str(), step.stagePass, step.stagePasses);
    trainProgressClass progress(label, static_cast<int32_t>(n), totalFrames, param.quiet);

    // Aligns one utterance and adds its statistics; false when it has no alignment.
    auto alignOne = [&](workerState& ws, const trainUtterance& utt) {
        std::vector<exactSum> frameSum, frameSq;
        exactFrameSums(utt.features.data(), utt.frameNum, dim, frameSum, frameSq);
        if (!align) {
            std::lock_guard<std::mutex> guard(totalLock);
            total.addFrameSums(frameSum, frameSq, utt.frameNum);
            return true;
        }
        ws.graph.build(segmentsOf(setup.m_lexicon, index, utt.words, step.context, step.withSp), models);
        std::vector<int32_t> used = ws.graph.m_model;
        std::sort(used.begin(), used.end());
        used.erase(std::unique(used.begin(), used.end()), used.end());
        for (int32_t m : used) {
            if (ws.sized[static_cast<size_t>(m)]) continue;
            const hmmModel& model = models.models[static_cast<size_t>(m)];
            for (int32_t s = 0; s < model.stateNum - 2; ++s)
                for (int32_t k = 0; k < models.streamNum; ++k)
                    ws.scratch.m_mix[static_cast<size_t>(m)][static_cast<size_t>(s)][static_cast<size_t>(k)].assign(
                        model.state[s].stream[k].mixture.size(), mixtureAccum{});
            ws.sized[static_cast<size_t>(m)] = 1;
        }
        double beam = param.beam;
        double logLike = -1e10;
        try {
            for (int32_t attempt = 0; attempt <= BEAM_RETRIES; ++attempt, beam *= 4) {
                logLike = forwardBackward(ws.graph, utt.features.data(), utt.frameNum, dim, converted, beam,
                                          &ws.scratch);
                if (logLike > -0.5e10) break;
            }
        } catch (const recogError& e) {
            reportError(formatString("Error: cannot align the wave %s (line %d of %s): %s (line %d of %s)",
                                     utt.wavPath.c_str(), utt.listLine, param.listPath.c_str(), e.what(), __LINE__,
                                     UNIT));
        }
        const bool aligned = logLike > -0.5e10;
        ws.values.clear();
        if (aligned)
            for (int32_t m : used) total.appendExactModel(ws.scratch, m, ws.values);
        const exactSum exactLogLike = aligned ? toExact(logLike) : 0;
        {
            std::lock_guard<std::mutex> guard(totalLock);
            total.addFrameSums(frameSum, frameSq, utt.frameNum);
            if (aligned) {
                const exactSum* v = ws.values.data();
                for (int32_t m : used) v = total.addExactModel(m, v);
                total.m_logLike += exactLogLike;
                total.m_frames += utt.frameNum;
                ++total.m_utterances;
            } else {
                ++total.m_skipped;
            }
        }
        // Back to zero for the next utterance.
        for (int32_t m : used) {
            const size_t mi = static_cast<size_t>(m);
            for (auto& state : ws.scratch.m_mix[mi])
                for (std::vector<mixtureAccum>& stats : state) std::fill(stats.begin(), stats.end(), mixtureAccum{});
            ws.scratch.m_trans[mi] = {};
            ws.scratch.m_entries[mi] = 0;
        }
        return aligned;
    };

    runWorkers(
        threads,
        [&](int32_t w) {
            workerState& ws = workers[static_cast<size_t>(w)];
            if (align) {
                ws.scratch.m_mix.assign(models.models.size(), {});
                ws.scratch.m_trans.assign(models.models.size(), {});
                ws.scratch.m_entries.assign(models.models.size(), 0.0);
                ws.sized.assign(models.models.size(), 0);
            }
            while (!failed) {
                const size_t u = next++;
                if (u >= n) break;
                try {
                    if (!alignOne(ws, data[u])) ws.skipped.push_back(u);
                } catch (...) {
                    errors[u] = std::current_exception();
                    failed = true;
                    break;
                }
                progress.advance(data[u].frameNum);
            }
        },
        progress);
    // Every utterance before the first that failed was taken before it and
    // finished: the error and the warnings are those of one thread.
    for (size_t u = 0; u < n; ++u)
        if (errors[u]) std::rethrow_exception(errors[u]);
    std::vector<size_t> skipped;
    for (const workerState& ws : workers) skipped.insert(skipped.end(), ws.skipped.begin(), ws.skipped.end());
    std::sort(skipped.begin(), skipped.end());
    for (size_t u : skipped)
        sinkPrintf("Warning: the wave %s (line %d of %s) has no alignment with its transcript; skipped in this pass\n",
                   data[u].wavPath.c_str(), data[u].listLine, param.listPath.c_str());
    return total;
}

macroClass nextModelSet(const trainSetupClass& setup, int32_t pass, macroClass models, const trainStatsClass& stats,
                        double seconds) {
    if (pass < 0 || pass > setup.passCount())
        reportError(formatString("Error: pass %d is outside 0 to %d of this training (line %d of %s)", pass,
                                 setup.passCount(), __LINE__, UNIT));
    if (stats.m_pass != pass || stats.m_settingsKey != setup.m_settingsKey)
        reportError(formatString("Error: the statistics of pass %d belong to another pass or training than pass %d "
                                 "of this one (line %d of %s)",
                                 stats.m_pass, pass, __LINE__, UNIT));
    if (pass == 0) {
        models = flatStartModels(setup, stats);
        sinkPrintf("\tFlat start of %d models from %lld frames (variance floor %g of the global variance)\n",
                   models.modelNum, static_cast<long long>(stats.m_allFrames),
                   static_cast<double>(setup.m_param.varianceFloor));
        if (setup.m_unseenMonophones > 0)
            sinkPrintf("\t%d phones of the lexicon occur in no transcript; their models keep the flat start\n",
                       setup.m_unseenMonophones);
        return models;
    }
    if (stats.m_modelKey != modelSetKey(models))
        reportError(formatString("Error: the statistics of pass %d were gathered with another model set (line %d of %s)",
                                 pass, __LINE__, UNIT));
    const trainStep& step = setup.m_plan[static_cast<size_t>(pass)];
    if (stats.m_utterances == 0)
        reportError(formatString("Error: no utterance of %s could be aligned with its transcript (line %d of %s)",
                                 setup.m_param.listPath.c_str(), __LINE__, UNIT));
    const trainAccumClass acc = stats.toAccum();
    const double average = acc.m_logLike / static_cast<double>(acc.m_frames);
    const int32_t kept = updateModels(models, acc, varianceFloorOf(setup, stats), MIN_STATE_OCC);
    sinkPrintf("%4.3f sec: %s, pass %d of %d: average log likelihood per frame = %.4f (%d utterances, %lld frames",
               seconds, step.stage.c_str(), step.stagePass, step.stagePasses, average, acc.m_utterances,
               static_cast<long long>(acc.m_frames));
    if (acc.m_skipped > 0) sinkPrintf(", %d skipped", acc.m_skipped);
    if (kept > 0) sinkPrintf(", %d states seen too rarely to update", kept);
    sinkPrintf(")\n");
    std::fflush(stdout);

    if (pass == setup.passCount()) return models;
    const trainStep& nextStep = setup.m_plan[static_cast<size_t>(pass) + 1];
    switch (nextStep.change) {
        case trainStep::ADD_SHORT_PAUSE:
            addShortPause(models);
            break;
        case trainStep::CLONE_CONTEXTS:
            cloneContextModels(models, setup.m_contextNames);
            sinkPrintf("\tCloned %d right-context models from their monophones", models.modelNum);
            if (setup.m_unseenContexts > 0)
                sinkPrintf("; %d of them occur in no transcript and keep their monophone's parameters",
                           setup.m_unseenContexts);
            sinkPrintf("\n");
            break;
        case trainStep::SPLIT_MIXTURES:
            splitMixtures(models, nextStep.mixtures);
            break;
        default:
            break;
    }
    return models;
}

std::string parameterKindName(uint16_t kind) {
    static const char* const BASE_NAMES[] = {"WAVEFORM", "LPC",  "LPREFC", "LPCEPSTRA", "LPDELCEP", "IREFC",
                                             "MFCC",     "FBANK", "MELSPEC", "USER",    "DISCRETE", "ANON"};
    // Qualifier letters in the order of their bits.
    static const std::pair<uint16_t, char> QUALIFIERS[] = {
        {PARAM_KIND_E, 'E'}, {PARAM_KIND_N, 'N'}, {PARAM_KIND_D, 'D'}, {PARAM_KIND_A, 'A'}, {PARAM_KIND_C, 'C'},
        {PARAM_KIND_Z, 'Z'}, {PARAM_KIND_K, 'K'}, {PARAM_KIND_0, '0'}, {PARAM_KIND_V, 'V'}};
    const uint16_t base = kind & PARAM_KIND_BASE_MASK;
    std::string name = base < sizeof BASE_NAMES / sizeof BASE_NAMES[0] ? BASE_NAMES[base] : "ANON";
    for (const auto& [bit, letter] : QUALIFIERS)
        if (kind & bit) name += std::string("_") + letter;
    return name;
}

std::string modelOptionLine(int32_t vecSize, const std::string& featureConfigPath) {
    CMel mel;
    mel.readFeatureConfig(featureConfigPath);
    // The models describe the frames themselves: how a file stores them
    // (compressed, with a checksum) is no part of their kind.
    const uint16_t kind = mel.m_config.m_targetKind & ~(PARAM_KIND_C | PARAM_KIND_K);
    return formatString("<VECSIZE> %d <%s> <DIAGC>", vecSize, parameterKindName(kind).c_str());
}

void checkWritablePath(const std::string& path, const char* what) {
    std::error_code ec;
    const bool existed = std::filesystem::exists(std::filesystem::symlink_status(path, ec));
    FILE* f = std::fopen(path.c_str(), "ab");
    if (f == nullptr)
        reportError(formatString("Error: cannot write the %s %s: %s (line %d of %s)", what, path.c_str(),
                                 std::strerror(errno), __LINE__, UNIT));
    std::fclose(f);
    if (!existed) std::remove(path.c_str());
}

macroClass writeTrainedModels(const trainSetupClass& setup, macroClass models, const trainStatsClass& stats) {
    const trainParam& param = setup.m_param;
    // The statistics are those the last pass gathered before its update:
    // they still have one entry count per model.
    if (stats.m_emitting.size() != models.models.size())
        reportError(formatString("Error: statistics of %d models for a set of %d (line %d of %s)",
                                 static_cast<int32_t>(stats.m_emitting.size()),
                                 static_cast<int32_t>(models.models.size()), __LINE__, UNIT));
    // The expected number of entries of each model in the last pass.
    std::vector<std::pair<std::string, long long>> counts;
    for (size_t m = 0; m < models.models.size(); ++m)
        counts.emplace_back(models.models[m].name, std::llround(fromExact(stats.m_values[stats.m_valueStart[m]])));
    models.sortModels();
    std::sort(counts.begin(), counts.end(),
              [](const auto& a, const auto& b) { return a.first.compare(b.first) < 0; });
    models.optionText = modelOptionLine(models.streamNum * MODEL_PARAM_NUM, param.featureConfigPath);
    const std::string ext = fileExtension(param.outputPath);
    if (ext == "macb" || ext == "MACB")
        models.writeMacBinary(param.outputPath);
    else
        models.writeMacText(param.outputPath);
    sinkPrintf("\t===> Saved %s (%d models)\n", param.outputPath.c_str(), models.modelNum);
    std::vector<std::string> countLines;
    for (const auto& [name, count] : counts) countLines.push_back(formatString("%s\t%lld", name.c_str(), count));
    const std::string countPath = modelCountPath(param);
    writeLines(countPath, countLines);
    sinkPrintf("\t===> Saved %s\n", countPath.c_str());
    return models;
}

macroClass trainModels(const trainParam& param) {
    const int64_t totalStart = clockMs();
    checkTrainParam(param);
    // A model file that cannot be written is found out now, not after the passes.
    checkWritablePath(param.outputPath, "model file");
    checkWritablePath(modelCountPath(param), "model count file");
    const trainSetupClass setup = prepareTraining(param);
    int32_t dim = 0;
    const std::vector<trainUtterance> data = loadTrainingData(setup, 0, setup.m_entries.size(), dim);

    macroClass models = nextModelSet(setup, 0, macroClass(), accumulatePass(setup, 0, macroClass(), data, dim), 0);
    trainStatsClass stats;
    for (int32_t pass = 1; pass <= setup.passCount(); ++pass) {
        const int64_t start = clockMs();
        stats = accumulatePass(setup, pass, models, data, dim);
        models = nextModelSet(setup, pass, std::move(models), stats, elapsedSeconds(start));
    }
    models = writeTrainedModels(setup, std::move(models), stats);
    sinkPrintf("%4.3f sec: Training (%d passes)\n", elapsedSeconds(totalStart), setup.passCount());
    return models;
}
