#include "run/utteranceRun.h"

#include "decoder/mlf.h"
#include "decoder/scoring.h"
#include "decoder/viterbi.h"
#include "decoder/xmlWriter.h"
#include "lexicon/pathToText.h"
#include "lib/audio.h"
#include "lib/pitch.h"
#include "run/features.h"
#include "run/outputSink.h"
#include "run/resultFiles.h"
#include "run/searchNet.h"
#include "run/utility.h"

#include <algorithm>
#include <climits>
#include <memory>

namespace {

const char* const UNIT = "recogTask";

// The state of one utterance's run. The resources are only read; everything
// written lives here.
struct utteranceRun {
    const recogResources& res;
    const audioRecord& audio;
    const utteranceSettings& settings;
    recogParam param;  // the resources' parameters with the utterance's settings

    // The net searched, and the units and texts its nodes refer to: the
    // shared ones, or the run's own below.
    const netClass* net = nullptr;
    const dictClass* dict = nullptr;
    const textClass* text = nullptr;
    searchSizes sizes;
    netClass ownNet;
    dictClass ownDict;
    textClass ownText;

    featureClass features;
    std::unique_ptr<viterbiClass> decoder;
    candidateHistory history;   // of the chosen candidate
    float bestLogLike = 0;
    bool pathComplete = true;
    std::vector<int32_t> textIndices, sylIndices;
    std::string sylPath;
    keywordSpan keyword;

    utteranceRun(const recogResources& r, const audioRecord& a, const utteranceSettings& s)
        : res(r), audio(a), settings(s), param(r.param) {}
};

// The resources' parameters with the utterance's settings in force.
recogParam utteranceParam(const recogParam& base, const utteranceSettings& settings) {
    recogParam param = base;
    param.txtFile = settings.txtFile;
    param.sylFile = settings.sylFile;
    param.netFile = settings.netFile;
    param.wavFile = settings.wavFile;
    param.inputLabFile = settings.inputLabFile;
    param.outputDir = settings.outputDir;
    param.outputXmlFile = settings.outputXmlFile;
    param.getPitch = settings.getPitch;
    if (settings.spectrallySubtracted) param.useDescCandidateNum = 0;
    if (!settings.function.empty()) param.function = settings.function;
    return param;
}

// The net of the utterance: its own, built from its texts, or the shared one.
void prepareNet(utteranceRun& run) {
    if (run.settings.ownTexts) {
        run.ownText.m_textNormSp = run.res.normalization.m_textNormSp;
        netBuildOptions options;
        options.writeMissingWordFile = run.settings.writeMissingWordFile;
        options.literalTexts = run.settings.literalTexts;
        run.sizes = buildSearchNet(run.param, run.res.models, run.res.lexicon, run.ownDict, run.ownText, run.ownNet,
                                   options);
        run.net = &run.ownNet;
        run.dict = &run.ownDict;
        run.text = &run.ownText;
        return;
    }
    if (!run.res.hasNet)
        reportError(formatString("Error: the utterance has no texts and the resources no net (line %d in %s)",
                                 __LINE__, UNIT));
    run.net = &run.res.net;
    run.dict = &run.res.netDict;
    run.text = &run.res.netText;
    run.sizes = run.res.sizes;
}

// Syllables of the given text, by language.
int32_t textSyllableCount(const recogParam& param, const textClass& myText, int32_t textIndex, int32_t sylIndex) {
    std::string text = myText.m_txtVs[static_cast<size_t>(textIndex)];
    myText.normalizeText(text, param);
    if (param.language == "english")
        return static_cast<int32_t>(splitString(myText.m_txtVsNormalized[static_cast<size_t>(textIndex)], ' ').size());
    if (param.language == "chinese") return static_cast<int32_t>(text.size() / 2);
    if (param.language == "japanese" || param.language == "taiwanese") {
        if (sylIndex < 0 || static_cast<size_t>(sylIndex) >= myText.m_sylVs.size()) return 0;
        // The syllables of the entry, without its text index.
        std::string entry = myText.m_sylVs[static_cast<size_t>(sylIndex)];
        entry = entry.substr(0, entry.find('\t'));
        int32_t count = 0;
        for (const std::string& part : removeEmptyStrings(splitString(entry, '-')))
            if (part != "sil") ++count;
        return count;
    }
    return 0;
}

// Searches of an assessment that ends on an incomplete path: the first, and
// up to this many more, each with twice the candidates and arena of the one before.
constexpr int32_t MAX_WIDENED_SEARCHES = 4;

// The Viterbi search and the choice of the final candidate. An assessment
// whose best final candidate is incomplete is searched again with wider
// sizes, as a complete path may have been pruned; only when every search
// ends incomplete does the result keep the incomplete path (and its discount).
void searchStage(utteranceRun& run, cmResult& result) {
    const featureClass& f = run.features;
    const bool widen = run.param.function == "assess";
    result.searchTries = 0;
    int32_t best = -1;
    for (int32_t attempt = 0;; ++attempt) {
        int64_t start = clockMs();
        run.decoder = std::make_unique<viterbiClass>(run.sizes.pathCapacity, run.res.models.modelNum);
        int32_t count = run.decoder->searchNet(*run.net, run.dict->m_pronDict, f.m_data.data(), f.m_dim,
                                               f.m_frameNum, run.sizes.candidateNum, run.res.models,
                                               static_cast<float>(run.param.probTh), run.param.useDescCandidateNum);
        sinkPrintf("%4.3f sec: Viterbi search\n", elapsedSeconds(start));
        ++result.searchTries;
        result.candidateNum = run.sizes.candidateNum;
        best = run.decoder->selectFinalCandidate(count, *run.net, run.dict->m_pronDict);
        if (best >= 0 || !widen || attempt == MAX_WIDENED_SEARCHES) break;
        const int64_t candidates = 2 * static_cast<int64_t>(run.sizes.candidateNum);
        const int64_t capacity = 2 * static_cast<int64_t>(run.sizes.pathCapacity);
        if (capacity > INT32_MAX) break;
        sinkPrintf("\tThe search ended on an incomplete path with %d candidates; searching again with %d\n",
                   run.sizes.candidateNum, static_cast<int32_t>(candidates));
        run.sizes.candidateNum = static_cast<int32_t>(candidates);
        run.sizes.pathCapacity = static_cast<int32_t>(capacity);
    }
    run.pathComplete = best >= 0;
    if (best < 0) best = 0;
    run.history = run.decoder->historyOf(best);
    run.bestLogLike = run.decoder->candidateAt(best).logLike;
}

// The best path to its texts and syllable entries.
void textStage(utteranceRun& run, cmResult& result) {
    const textClass& myText = *run.text;
    run.sylPath = pinyin2text(myText, run.history.sylWordIdx, *run.dict, run.textIndices, run.sylIndices, run.param,
                              run.keyword);
    if (run.textIndices.empty())
        reportError(formatString("Error: the best path \"%s\" gives no text index (line %d in %s)",
                                 run.sylPath.c_str(), __LINE__, UNIT));

    result.textList.clear();
    for (int32_t index : run.textIndices) {
        if (index < 0 || static_cast<size_t>(index) >= myText.m_txtVs.size())
            reportError(formatString("Error: text index %d of the best path is not a text (line %d in %s)", index,
                                     __LINE__, UNIT));
        sinkPrintf("\ttextIndex=%d ===> %s\n", index, myText.m_txtVs[static_cast<size_t>(index)].c_str());
        result.textList.push_back(myText.m_txtVs[static_cast<size_t>(index)]);
    }
    if (!myText.m_sylVs.empty()) {
        result.sylList.clear();
        for (size_t i = 0; i < run.sylIndices.size(); ++i) {
            int32_t index = run.sylIndices[i];
            if (index < 0 || static_cast<size_t>(index) >= myText.m_sylVs.size()) continue;
            sinkPrintf("\tsylIndex[%d]=%d ===> %s\n", static_cast<int>(i), index,
                       myText.m_sylVs[static_cast<size_t>(index)].c_str());
            result.sylList.push_back(myText.m_sylVs[static_cast<size_t>(index)]);
        }
    }
    result.textSylNum = textSyllableCount(run.param, myText, run.textIndices[0],
                                          run.sylIndices.empty() ? -1 : run.sylIndices[0]);
}

// Re-aligns the designated syllable of every node that the decoder labelled
// otherwise, writing each differing pair to confusingPath.txt.
void analyseConfusion(utteranceRun& run, cmResult& result) {
    const recogParam& param = run.param;
    const textClass& myText = *run.text;
    std::string path = param.outputDir + "/confusingPath.txt";
    filePtr file = openFileOrFail(path, "w");
    const std::string& sylFile = param.sylFile;
    bool isSyl2 = sylFile.size() >= 4 && sylFile.compare(sylFile.size() - 4, 4, "syl2") == 0;
    if (isSyl2) {
        sinkPrintf("\xC0\xCB\xAC\x64\xAC\x4F\xA7\x5F\xA8\xAB\xA8\xEC\xB2\x56\xB2\x63\xB8\xF4\xAE\x7C"
                   " (Check if a confusing path is taken instead of the correct one)\n");
        if (!run.sylIndices.empty() && run.sylIndices[0] != 0 && !myText.m_sylVs.empty()) {
            std::string designatedText = splitString(myText.m_sylVs[0], '\t')[0];
            std::string identifiedText =
                splitString(myText.m_sylVs[static_cast<size_t>(run.sylIndices[0])], '\t')[0];
            std::fprintf(file.get(), "Designated: %s\n", designatedText.c_str());
            std::fprintf(file.get(), "Identified: %s\n", identifiedText.c_str());
            std::vector<std::string> designated = splitString(designatedText, '-');
            // The small nets read their units from a copy: reading a net
            // settles the units' missing models, and the net's units are shared.
            dictClass units;
            units.m_pronDict = run.dict->m_pronDict;
            const featureClass& features = run.features;
            size_t k = 0;
            for (cmNode& node : result.nodes) {
                if (isUnscoredUnit(node.name)) continue;
                if (k >= designated.size()) break;
                const std::string& syllable = designated[k++];
                if (node.name == syllable) continue;
                std::fprintf(file.get(), "%s ===> %s\n", syllable.c_str(), node.name.c_str());

                netClass smallNet;
                smallNet.netReadLines({"VERSION=1.0 (by recogCore())", "N=3\tL=2", "I=0\tW=!NULL", "I=1\tW=!NULL",
                                       "I=2\tW=" + syllable, "J=0\tS=0\tE=2", "J=1\tS=2\tE=1"},
                                      units);
                int32_t first = node.startFrame, last = node.endFrame;
                if (first < 0 || last < first || last >= features.m_frameNum) continue;
                viterbiClass decoder(run.sizes.pathCapacity, run.res.models.modelNum);
                const float* span = features.m_data.data() + static_cast<size_t>(first) * features.m_dim;
                int32_t count = decoder.searchNet(smallNet, units.m_pronDict, span, features.m_dim, last - first + 1,
                                                  run.sizes.candidateNum, run.res.models,
                                                  static_cast<float>(param.probTh), param.useDescCandidateNum);
                if (count <= 0) continue;
                int32_t best = decoder.selectFinalCandidate(count, smallNet, units.m_pronDict);
                if (best < 0) best = 0;
                cmResult temporary;
                buildFromCandidate(temporary, decoder.historyOf(best), smallNet, units, run.res.models);
                if (temporary.nodes.empty()) continue;
                cmNode replacement = temporary.nodes[0];
                replacement.startFrame += first;
                replacement.endFrame += first;
                for (cmPhone& phone : replacement.phones) {
                    phone.startFrame += first;
                    phone.endFrame += first;
                }
                node = replacement;
            }
        }
    }
    file.reset();
    sinkPrintf("\t===> Saved %s\n", path.c_str());
}

// Nodes and phones from the chosen candidate or a label file, the confusion
// analysis, and the recognition fields of the result.
void alignmentStage(utteranceRun& run, cmResult& result) {
    const recogParam& param = run.param;
    const textClass& myText = *run.text;
    if (param.inputLabFile.empty())
        buildFromCandidate(result, run.history, *run.net, *run.dict, run.res.models);
    else
        readLabelFile(result, param.inputLabFile);
    result.recogSylNum = 0;
    for (const std::string& part : splitString(run.sylPath, '-'))
        if (part != "sil" && part != "sp") ++result.recogSylNum;

    if (!param.outputDir.empty() && param.function == "assess" && !param.sylFile.empty())
        analyseConfusion(run, result);

    assignNodeTexts(result, myText.m_txtVsNormalized[static_cast<size_t>(run.textIndices[0])], param);
    result.phoneticAlphabets = run.sylPath;
    result.timberScore = -100000;
    result.pathLogLike = run.bestLogLike;
    result.textIndices = run.textIndices;
    result.texts.clear();
    for (int32_t index : run.textIndices) result.texts.push_back(myText.m_txtVs[static_cast<size_t>(index)]);

    // Chinese notations.
    if (param.language == "chinese") {
        const auto& table = run.res.lexicon.m_pinyinTable;
        if (param.pinyinType == "rzp") {
            result.rzpString = run.sylPath;
            result.mpaString = convertPath(run.sylPath, table, 1, 2);
            result.hanyuString = convertPath(run.sylPath, table, 1, 3);
        } else if (param.pinyinType == "hanyu") {
            result.hanyuString = run.sylPath;
            result.mpaString = convertPath(run.sylPath, table, 3, 2);
            result.rzpString = convertPath(run.sylPath, table, 3, 1);
        }
        if (!myText.m_sylVsNotation.empty() && !run.sylIndices.empty() && run.sylIndices[0] >= 0 &&
            static_cast<size_t>(run.sylIndices[0]) < myText.m_sylVsNotation.size())
            result.toneString = myText.m_sylVsNotation[static_cast<size_t>(run.sylIndices[0])];
    }
}

// Volume and pitch over the whole utterance, dealt out to the nodes and phones.
void wholeUtteranceVolumeAndPitch(const recogParam& param, const audioRecord& audio, cmResult& result) {
    int64_t start = clockMs();
    const std::vector<int32_t>& samples = audio.samples;
    ptParam prm = initPtParam(audio.sampleRate, audio.bitsPerSample, 1, param.ptParamFile);
    std::vector<int32_t> volumes =
        frameVolume(samples.data(), static_cast<int32_t>(samples.size()), prm.frameSize, prm.overlap);
    std::vector<float> pitch = wholeUtterancePitch(samples.data(), static_cast<int32_t>(samples.size()), prm);
    auto valueAt = [](const auto& list, size_t index) -> float {
        if (list.empty()) return 0.0f;
        return static_cast<float>(list[std::min(index, list.size() - 1)]);
    };
    // The running indices start at the first node's frame (the start of the kept
    // span once frames count from the start of the wave).
    size_t first = result.nodes.empty() ? 0 : static_cast<size_t>(std::max(0, result.nodes[0].startFrame));
    size_t nodeIndex = first, phoneIndex = first;
    for (cmNode& node : result.nodes) {
        node.volume.clear();
        node.pitch.clear();
        for (int32_t f = node.startFrame; f <= node.endFrame; ++f, ++nodeIndex) {
            node.volume.push_back(valueAt(volumes, nodeIndex));
            node.pitch.push_back(valueAt(pitch, nodeIndex));
        }
        for (cmPhone& phone : node.phones) {
            phone.volume.clear();
            phone.pitch.clear();
            for (int32_t f = phone.startFrame; f <= phone.endFrame; ++f, ++phoneIndex) {
                phone.volume.push_back(valueAt(volumes, phoneIndex));
                phone.pitch.push_back(valueAt(pitch, phoneIndex));
            }
        }
    }
    sinkPrintf("%4.3f sec: Volume and pitch computation (based on the whole utterance)\n", elapsedSeconds(start));
}

// The keyword records of a keyword-mode search: one per matched keyword entry.
void findKeywords(const utteranceRun& run, cmResult& result) {
    result.keywords.clear();
    if (run.param.comparisonMode != 3 || run.keyword.startSyl < 0) return;
    cmKeyword kw;
    kw.firstNode = run.keyword.startSyl;
    kw.nodeCount = run.keyword.sylNum;
    kw.textIndices.push_back(run.textIndices[0]);
    kw.name = run.text->m_txtVs[static_cast<size_t>(run.textIndices[0])];
    double weighted = 0, total = 0;
    for (int32_t n = kw.firstNode; n < kw.firstNode + kw.nodeCount; ++n) {
        if (n < 0 || static_cast<size_t>(n) >= result.nodes.size()) continue;
        const cmNode& node = result.nodes[static_cast<size_t>(n)];
        double duration = node.endFrame - node.startFrame;
        weighted += node.timberScore * duration;
        total += duration;
    }
    kw.score = total > 0 ? static_cast<float>(weighted / total) : 0.0f;
    result.keywords.push_back(kw);
}

// Volumes, phone ranking, discounts and timber scores; frames then count from
// the start of the wave.
void scoringStage(utteranceRun& run, cmResult& result) {
    const recogParam& param = run.param;
    const featureClass& features = run.features;
    const bool keywordMode = param.comparisonMode == 3;

    markPitchedPhones(result, param);
    int64_t start = clockMs();
    // Node frames count from the start of the kept span until shiftFrames below,
    // so the volumes are taken from that frame on.
    std::vector<int32_t> volumes = frameVolume(run.audio.samples.data(), static_cast<int32_t>(run.audio.samples.size()),
                                               PIPELINE_FRAME_SIZE, PIPELINE_OVERLAP);
    volumes.erase(volumes.begin(),
                  volumes.begin() + std::min<size_t>(volumes.size(), static_cast<size_t>(features.m_beginFrameId)));
    setNodeVolumes(result, volumes);
    sinkPrintf("%4.3f sec: Compute volume\n", elapsedSeconds(start));

    const scoringTables& tables = run.res.scoring;
    scoringOptions options = scoringOptionsOf(param);
    if (tables.haveEps) options.epsTable = &tables.epsTable;
    if (tables.haveRankParams) options.rankScoreParams = &tables.rankScoreParams;
    if (tables.haveDiscounts) options.discountRatio = &tables.discountRatio;
    if (tables.haveCmLines) options.cmLines = &tables.cmLines;

    sinkPrintf("\tFind the phone ranking...\n");
    rankPhones(result, features.m_data.data(), features.m_dim, features.m_frameNum, run.res.models, *run.decoder,
               options);
    sinkPrintf("\tCompute possible score discount factors...\n");
    int32_t first = 0, last = static_cast<int32_t>(result.nodes.size()) - 1;
    bool pathComplete = run.pathComplete;
    if (keywordMode) {
        result.textSylNum = -1;
        first = run.keyword.startSyl;
        last = run.keyword.startSyl + run.keyword.sylNum - 1;
        pathComplete = true;
    }
    countDiscounts(result, first, last, pathComplete);
    computeTimberScores(result, first, last, options, run.res.models);
    if (run.settings.measurements || run.res.hasCalibration)
        measureAndCalibrate(result, features.m_data.data(), features.m_dim, features.m_frameNum, run.res.models,
                            run.res.hasCalibration ? &run.res.calibration : nullptr);
    shiftFrames(result, features.m_beginFrameId);

    if (param.getPitch == 1) wholeUtteranceVolumeAndPitch(param, run.audio, result);
    findKeywords(run, result);
}

// The assessment XML, score.txt, the keyword lines and recogResult.txt.
void outputStage(const utteranceRun& run, const cmResult& result) {
    const recogParam& param = run.param;
    if (!param.outputDir.empty()) {
        std::string xmlPath = param.outputDir + "/" + (param.outputXmlFile.empty() ? "output.xml" : param.outputXmlFile);
        writeXml(result, run.res.models, xmlPath, param.language);
        sinkPrintf("\t===> Saved %s\n", xmlPath.c_str());
        writeScoreFile(param.outputDir, result);
    }
    for (size_t k = 0; k < result.keywords.size(); ++k) {
        const cmKeyword& kw = result.keywords[k];
        sinkPrintf("keyword[%d]:\n", static_cast<int>(k));
        sinkPrintf("\tname=%s\n", kw.name.c_str());
        sinkPrintf("\tscore=%f\n", static_cast<double>(kw.score));
        sinkPrintf("\t");
        for (int32_t index : kw.textIndices) sinkPrintf("%s ", run.text->m_txtVs[static_cast<size_t>(index)].c_str());
        sinkPrintf("\n");
    }
    if (!param.outputDir.empty()) writeRecogResultFile(param.outputDir, result);
}

// Runs one stage and records its wall time.
template <typename Stage>
void timed(cmResult& result, const char* name, Stage stage) {
    int64_t start = clockMs();
    stage();
    result.stageSeconds.emplace_back(name, elapsedSeconds(start));
}

}  // namespace

utteranceSettings sharedNetSettings(const recogResources& resources) {
    const recogParam& param = resources.param;
    utteranceSettings settings;
    settings.ownTexts = false;
    settings.txtFile = param.txtFile;
    settings.sylFile = param.sylFile;
    settings.netFile = param.netFile;
    settings.wavFile = param.wavFile;
    settings.inputLabFile = param.inputLabFile;
    settings.outputDir = param.outputDir;
    settings.outputXmlFile = param.outputXmlFile;
    settings.getPitch = param.getPitch;
    return settings;
}

std::vector<int32_t> runUtterance(const recogResources& resources, const audioRecord& audio,
                                  const utteranceSettings& settings, cmResult& result) {
    utteranceRun run(resources, audio, settings);
    run.param = utteranceParam(resources.param, settings);
    result.stageSeconds.clear();
    result.sampleCount = static_cast<int32_t>(audio.samples.size());

    timed(result, "net", [&] { prepareNet(run); });
    timed(result, "features", [&] {
        run.features = computeFeatures(featureOptionsOf(run.param), audio.samples.data(),
                                       static_cast<int32_t>(audio.samples.size()), audio.sampleRate,
                                       audio.bitsPerSample, PIPELINE_FRAME_SIZE, PIPELINE_OVERLAP);
        result.speechBeginSample = run.features.m_beginSample;
        result.speechEndSample = run.features.m_endSample;
    });
    timed(result, "search", [&] { searchStage(run, result); });
    result.pathComplete = run.pathComplete;
    timed(result, "texts", [&] { textStage(run, result); });
    timed(result, "alignment", [&] { alignmentStage(run, result); });
    timed(result, "scoring", [&] { scoringStage(run, result); });
    timed(result, "output", [&] { outputStage(run, result); });
    return run.textIndices;
}

cmResult runUtterance(const recogResources& resources, const audioRecord& audio, const utteranceSettings& settings) {
    cmResult result;
    runUtterance(resources, audio, settings, result);
    return result;
}
