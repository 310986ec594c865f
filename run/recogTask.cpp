#include "run/recogTask.h"

#include "decoder/mlf.h"
#include "decoder/scoring.h"
#include "decoder/viterbi.h"
#include "decoder/xmlWriter.h"
#include "frontend/CaudioFile.h"
#include "lexicon/pathToText.h"
#include "lib/audio.h"
#include "lib/pitch.h"
#include "run/conditionWave.h"
#include "run/resultFiles.h"
#include "run/searchNet.h"
#include "run/utility.h"
#include "run/outputSink.h"

#include <algorithm>
#include <cstdio>

namespace {

const char* const UNIT = "recogTask";

bool isSilOrPauseOrFiller(const std::string& name) {
    return name == "sp" || name == "sil" || name == "filler" || name == "fillerC" || name == "fillerV";
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

// Re-aligns the designated syllable of every node that the decoder labelled
// otherwise, writing each differing pair to confusingPath.txt.
void analyseConfusion(const recogParam& param, const std::vector<int32_t>& sylIndices, const featureClass& features,
                      int32_t candidateNum, int32_t pathCapacity, const macroClass& models, dictClass& myDict,
                      const textClass& myText, cmResult& result) {
    std::string path = param.outputDir + "/confusingPath.txt";
    filePtr file = openFileOrFail(path, "w");
    const std::string& sylFile = param.sylFile;
    bool isSyl2 = sylFile.size() >= 4 && sylFile.compare(sylFile.size() - 4, 4, "syl2") == 0;
    if (isSyl2) {
        sinkPrintf("\xC0\xCB\xAC\x64\xAC\x4F\xA7\x5F\xA8\xAB\xA8\xEC\xB2\x56\xB2\x63\xB8\xF4\xAE\x7C"
                    " (Check if a confusing path is taken instead of the correct one)\n");
        if (!sylIndices.empty() && sylIndices[0] != 0 && !myText.m_sylVs.empty()) {
            std::string designatedText = splitString(myText.m_sylVs[0], '\t')[0];
            std::string identifiedText = splitString(myText.m_sylVs[static_cast<size_t>(sylIndices[0])], '\t')[0];
            std::fprintf(file.get(), "Designated: %s\n", designatedText.c_str());
            std::fprintf(file.get(), "Identified: %s\n", identifiedText.c_str());
            std::vector<std::string> designated = splitString(designatedText, '-');
            size_t k = 0;
            for (cmNode& node : result.nodes) {
                if (isSilOrPauseOrFiller(node.name)) continue;
                if (k >= designated.size()) break;
                const std::string& syllable = designated[k++];
                if (node.name == syllable) continue;
                std::fprintf(file.get(), "%s ===> %s\n", syllable.c_str(), node.name.c_str());

                netClass smallNet;
                smallNet.netReadLines({"VERSION=1.0 (by recogCore())", "N=3\tL=2", "I=0\tW=!NULL", "I=1\tW=!NULL",
                                       "I=2\tW=" + syllable, "J=0\tS=0\tE=2", "J=1\tS=2\tE=1"},
                                      myDict);
                int32_t first = node.startFrame, last = node.endFrame;
                if (first < 0 || last < first || last >= features.m_frameNum) continue;
                viterbiClass decoder(pathCapacity, models.modelNum);
                const float* span = features.m_data.data() + static_cast<size_t>(first) * features.m_dim;
                int32_t count = decoder.searchNet(smallNet, myDict.m_pronDict, span, features.m_dim, last - first + 1,
                                                  candidateNum, models, static_cast<float>(param.probTh),
                                                  param.useDescCandidateNum);
                if (count <= 0) continue;
                int32_t best = decoder.selectFinalCandidate(count, smallNet, myDict.m_pronDict);
                if (best < 0) best = 0;
                cmResult temporary;
                buildFromCandidate(temporary, decoder.historyOf(best), smallNet, myDict, models);
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

// Volume and pitch over the whole utterance, dealt out to the nodes and phones.
void wholeUtteranceVolumeAndPitch(const recogParam& param, const std::vector<int32_t>& samples, int32_t sampleRate,
                                  int32_t bitsPerSample, cmResult& result) {
    int64_t start = clockMs();
    ptParam prm = initPtParam(sampleRate, bitsPerSample, 1, param.ptParamFile);
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

// One keyword found by a keyword-mode search.
struct keywordRecord {
    std::string name;                  // the keyword's text
    float score = 0;                   // duration-weighted node score
    int32_t firstNode = 0, nodeCount = 0;  // its result nodes
    std::vector<int32_t> textIndices;  // its text index
};

}  // namespace

std::vector<int32_t> recogCore(const recogParam& param, const std::vector<int32_t>& samples, int32_t sampleRate,
                               int32_t bitsPerSample, const featureClass& features, int32_t pathCapacity,
                               int32_t candidateNum, const macroClass& models, dictClass& myDict, textClass& myText,
                               netClass& net, cmResult& result) {
    const bool keywordMode = param.comparisonMode == 3;

    // 1. Search.
    int64_t start = clockMs();
    viterbiClass decoder(pathCapacity, models.modelNum);
    int32_t count = decoder.searchNet(net, myDict.m_pronDict, features.m_data.data(), features.m_dim,
                                      features.m_frameNum, candidateNum, models, static_cast<float>(param.probTh),
                                      param.useDescCandidateNum);
    sinkPrintf("%4.3f sec: Viterbi search\n", elapsedSeconds(start));

    // 2. Final candidate.
    int32_t best = decoder.selectFinalCandidate(count, net, myDict.m_pronDict);
    bool pathComplete = best >= 0;
    if (best < 0) best = 0;
    candidateHistory history = decoder.historyOf(best);
    float bestLogLike = decoder.candidateAt(best).logLike;

    // 3. Path to text.
    std::vector<int32_t> textIndices, sylIndices;
    std::string sylPath = pinyin2text(myText, history.sylWordIdx, myDict, textIndices, sylIndices, param);
    if (textIndices.empty())
        reportError(formatString("Error: the best path \"%s\" gives no text index (line %d in %s)", sylPath.c_str(),
                                 __LINE__, UNIT));

    // 4. Texts and syllable entries of the path.
    result.textList.clear();
    for (int32_t index : textIndices) {
        if (index < 0 || static_cast<size_t>(index) >= myText.m_txtVs.size())
            reportError(formatString("Error: text index %d of the best path is not a text (line %d in %s)", index,
                                     __LINE__, UNIT));
        sinkPrintf("\ttextIndex=%d ===> %s\n", index, myText.m_txtVs[static_cast<size_t>(index)].c_str());
        result.textList.push_back(myText.m_txtVs[static_cast<size_t>(index)]);
    }
    if (!myText.m_sylVs.empty()) {
        result.sylList.clear();
        for (size_t i = 0; i < sylIndices.size(); ++i) {
            int32_t index = sylIndices[i];
            if (index < 0 || static_cast<size_t>(index) >= myText.m_sylVs.size()) continue;
            sinkPrintf("\tsylIndex[%d]=%d ===> %s\n", static_cast<int>(i), index,
                        myText.m_sylVs[static_cast<size_t>(index)].c_str());
            result.sylList.push_back(myText.m_sylVs[static_cast<size_t>(index)]);
        }
    }

    // 5. Syllables of the first recognized text.
    result.textSylNum =
        textSyllableCount(param, myText, textIndices[0], sylIndices.empty() ? -1 : sylIndices[0]);

    // 6. Alignment.
    if (param.inputLabFile.empty())
        buildFromCandidate(result, history, net, myDict, models);
    else
        readLabelFile(result, param.inputLabFile);
    result.recogSylNum = 0;
    for (const std::string& part : splitString(sylPath, '-'))
        if (part != "sil" && part != "sp") ++result.recogSylNum;

    // 7. Confusion analysis.
    if (!param.outputDir.empty() && param.function == "assess" && !param.sylFile.empty())
        analyseConfusion(param, sylIndices, features, candidateNum, pathCapacity, models, myDict, myText, result);

    // 8. Result fields.
    assignNodeTexts(result, myText.m_txtVsNormalized[static_cast<size_t>(textIndices[0])], param);
    result.phoneticAlphabets = sylPath;
    result.timberScore = -100000;
    result.pathLogLike = bestLogLike;
    result.textIndices = textIndices;
    result.texts.clear();
    for (int32_t index : textIndices) result.texts.push_back(myText.m_txtVs[static_cast<size_t>(index)]);

    // 9. Chinese notations.
    if (param.language == "chinese") {
        const auto& table = myDict.m_pinyinTable;
        if (param.pinyinType == "rzp") {
            result.rzpString = sylPath;
            result.mpaString = convertPath(sylPath, table, 1, 2);
            result.hanyuString = convertPath(sylPath, table, 1, 3);
        } else if (param.pinyinType == "hanyu") {
            result.hanyuString = sylPath;
            result.mpaString = convertPath(sylPath, table, 3, 2);
            result.rzpString = convertPath(sylPath, table, 3, 1);
        }
        if (!myText.m_sylVsNotation.empty() && !sylIndices.empty() && sylIndices[0] >= 0 &&
            static_cast<size_t>(sylIndices[0]) < myText.m_sylVsNotation.size())
            result.toneString = myText.m_sylVsNotation[static_cast<size_t>(sylIndices[0])];
    }

    // 10. Pitched phones and volumes.
    markPitchedPhones(result, param);
    start = clockMs();
    // Node frames count from the start of the kept span until shiftFrames below,
    // so the volumes are taken from that frame on.
    std::vector<int32_t> volumes =
        frameVolume(samples.data(), static_cast<int32_t>(samples.size()), PIPELINE_FRAME_SIZE, PIPELINE_OVERLAP);
    volumes.erase(volumes.begin(),
                  volumes.begin() + std::min<size_t>(volumes.size(), static_cast<size_t>(features.m_beginFrameId)));
    setNodeVolumes(result, volumes);
    sinkPrintf("%4.3f sec: Compute volume\n", elapsedSeconds(start));

    // 11. Ranking, discounts and scores.
    sinkPrintf("\tFind the phone ranking...\n");
    rankPhones(result, features.m_data.data(), features.m_dim, features.m_frameNum, models, decoder, param);
    sinkPrintf("\tCompute possible score discount factors...\n");
    int32_t first = 0, last = static_cast<int32_t>(result.nodes.size()) - 1;
    if (keywordMode) {
        result.textSylNum = -1;
        first = myText.keywordStartSyl;
        last = myText.keywordStartSyl + myText.keywordSylNum - 1;
        pathComplete = true;
    }
    countDiscounts(result, first, last, pathComplete);
    computeTimberScores(result, first, last, param, models);
    shiftFrames(result, features.m_beginFrameId);

    // 12. Volume and pitch over the whole utterance.
    if (param.getPitch == 1) wholeUtteranceVolumeAndPitch(param, samples, sampleRate, bitsPerSample, result);

    // 13. Assessment XML and score.
    if (!param.outputDir.empty()) {
        std::string xmlPath = param.outputDir + "/" + (param.outputXmlFile.empty() ? "output.xml" : param.outputXmlFile);
        writeXml(result, models, xmlPath, param.language);
        sinkPrintf("\t===> Saved %s\n", xmlPath.c_str());
        writeScoreFile(param.outputDir, result);
    }

    // 14. Keywords: one record per matched keyword entry.
    if (keywordMode && myText.keywordStartSyl >= 0) {
        std::vector<keywordRecord> keywords;
        keywordRecord keyword;
        keyword.firstNode = myText.keywordStartSyl;
        keyword.nodeCount = myText.keywordSylNum;
        keyword.textIndices.push_back(textIndices[0]);
        keyword.name = myText.m_txtVs[static_cast<size_t>(textIndices[0])];
        keywords.push_back(keyword);
        for (size_t k = 0; k < keywords.size(); ++k) {
            keywordRecord& kw = keywords[k];
            double weighted = 0, total = 0;
            for (int32_t n = kw.firstNode; n < kw.firstNode + kw.nodeCount; ++n) {
                if (n < 0 || static_cast<size_t>(n) >= result.nodes.size()) continue;
                const cmNode& node = result.nodes[static_cast<size_t>(n)];
                double duration = node.endFrame - node.startFrame;
                weighted += node.timberScore * duration;
                total += duration;
            }
            kw.score = total > 0 ? static_cast<float>(weighted / total) : 0.0f;
            sinkPrintf("keyword[%d]:\n", static_cast<int>(k));
            sinkPrintf("\tname=%s\n", kw.name.c_str());
            sinkPrintf("\tscore=%f\n", static_cast<double>(kw.score));
            sinkPrintf("\t");
            for (int32_t index : kw.textIndices)
                sinkPrintf("%s ", myText.m_txtVs[static_cast<size_t>(index)].c_str());
            sinkPrintf("\n");
        }
    }

    // 15. Summary.
    if (!param.outputDir.empty()) writeRecogResultFile(param.outputDir, result);
    return textIndices;
}

int32_t runUtterance(recogParam& param, cmResult& result, const std::vector<int32_t>& samples, int32_t sampleRate,
                     int32_t bitsPerSample) {
    macroClass models;
    dictClass myDict;
    textClass myText;
    netClass net;
    loadModels(param, models);
    loadLexicalResources(param, models, myDict, myText);
    searchSizes sizes = buildSearchNet(param, models, myDict, myText, net);
    featureClass features = computeFeatures(featureOptionsOf(param), samples.data(), static_cast<int32_t>(samples.size()), sampleRate,
                                            bitsPerSample, PIPELINE_FRAME_SIZE, PIPELINE_OVERLAP);
    std::vector<int32_t> textIndices = recogCore(param, samples, sampleRate, bitsPerSample, features,
                                                 sizes.pathCapacity, sizes.candidateNum, models, myDict, myText,
                                                 net, result);
    return textIndices.empty() ? -1 : textIndices[0];
}

int32_t recognizeWaveFile(recogParam& param, cmResult& result) {
    int64_t start = clockMs();
    conditionReport report;
    audioRecord audio = readConditionedWave(param.wavFile, conditionOptionsOf(param), report);
    result.warningMessages.insert(result.warningMessages.end(), report.warnings.begin(), report.warnings.end());
    if (report.spectrallySubtracted) param.useDescCandidateNum = 0;
    sinkPrintf("%4.3f sec: Read wave file \"%s\"\n", elapsedSeconds(start), param.wavFile.c_str());
    return runUtterance(param, result, audio.samples, audio.sampleRate, audio.bitsPerSample);
}
