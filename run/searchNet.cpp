#include "run/searchNet.h"

#include "run/utility.h"
#include "run/outputSink.h"

#include <algorithm>
#include <cstdio>

void loadModels(const recogParam& param, macroClass& models) {
    int64_t start = clockMs();
    models.readMacro(param.macFile, true);
    models.readModelCountFile(param.modelCountFile);
    sinkPrintf("%4.3f sec: Read \"%s\" (modelNum=%d) and \"%s\"\n", elapsedSeconds(start), param.macFile.c_str(),
                models.modelNum, param.modelCountFile.c_str());
}

void loadLexicalResources(const recogParam& param, const macroClass& models, dictClass& myDict, textClass& myText) {
    int64_t start = clockMs();
    if (param.language != "english") {
        myDict.pronDictRead(param.dicFile, models);
        sinkPrintf("%4.3f sec: Read pam \"%s\" (m_pronDict.size()=%d)\n", elapsedSeconds(start),
                    param.dicFile.c_str(), static_cast<int>(myDict.m_pronDict.size()));
    }
    if (param.language == "chinese") {
        start = clockMs();
        myDict.pinyinTableRead(param.pyTableFile);
        sinkPrintf("%4.3f sec: Read pinyinTable \"%s\" (myDict.m_pinyinTable.size()=%d)\n", elapsedSeconds(start),
                    param.pyTableFile.c_str(), static_cast<int>(myDict.m_pinyinTable.size()));
        start = clockMs();
        myDict.wpaRead(param.wpaFile, "chinese");
        sinkPrintf("%4.3f sec: Read wpa \"%s\" (myDict.m_wpa.size()=%d)\n", elapsedSeconds(start),
                    param.wpaFile.c_str(), static_cast<int>(myDict.m_wpa.size()));
    }
    if (param.language == "english") {
        start = clockMs();
        myDict.wpaRead(param.wpaFile, "english");
        sinkPrintf("%4.3f sec: Read wpa \"%s\" (myDict.m_wpa.size()=%d)\n", elapsedSeconds(start),
                    param.wpaFile.c_str(), static_cast<int>(myDict.m_wpa.size()));
        start = clockMs();
        myDict.wpaReadText(param.wpaAddendaFile, "english", myDict.m_wpaAddenda);
        sinkPrintf("%4.3f sec: Read wpaAddenda \"%s\" (myDict.m_wpaAddenda.size()=%d)\n", elapsedSeconds(start),
                    param.wpaAddendaFile.c_str(), static_cast<int>(myDict.m_wpaAddenda.size()));
        if (!myDict.m_wpaAddenda.empty()) {
            start = clockMs();
            myDict.wpaMerge();
            sinkPrintf("%4.3f sec: wpaMerge (myDict.m_wpa.size()=%d)\n", elapsedSeconds(start),
                        static_cast<int>(myDict.m_wpa.size()));
            start = clockMs();
            myDict.wpaSort();
            sinkPrintf("%4.3f sec: Sort myDict.m_wpa\n", elapsedSeconds(start));
        }
    }
    if (param.tnmFile.empty())
        reportError(formatString("Error: recogParam.tnmFile is not specified! (line %d in %s)", __LINE__, "recogTask"));
    start = clockMs();
    myText.textNormMapRead(param.tnmFile, '#', myText.m_textNormSp);
    sinkPrintf("%4.3f sec: Read text normalization mapping file \"%s\" (myText.m_textNormSp.size()=%d)\n",
                elapsedSeconds(start), param.tnmFile.c_str(), static_cast<int>(myText.m_textNormSp.size()));
}

namespace {

void saved(const std::string& path) { sinkPrintf("\t===> Saved %s\n", path.c_str()); }

void writeNormalizedTexts(const recogParam& param, const textClass& myText) {
    if (param.outputDir.empty()) return;
    std::string path = param.outputDir + "/output.nt";
    writeLines(path, myText.m_txtVsNormalized);
    saved(path);
}

}  // namespace

searchSizes buildSearchNet(recogParam& param, const macroClass& models, const dictClass& myDict, dictClass& netDict,
                           textClass& myText, netClass& net, const netBuildOptions& options) {
    if (param.language != "english") netDict.m_pronDict = myDict.m_pronDict;
    int64_t start = clockMs();
    myText.textsRead(param.txtFile, options.literalTexts);
    if (param.function == "assess") {
        std::string joined = joinStrings(myText.m_txtVs, " ");
        myText.m_txtVs.assign(1, joined);
    }
    sinkPrintf("%4.3f sec: Read text \"%s\" (m_txtVs.size()=%d)\n", elapsedSeconds(start), param.txtFile.c_str(),
                static_cast<int>(myText.m_txtVs.size()));

    start = clockMs();
    myText.textsNormalize(param);
    sinkPrintf("%4.3f sec: text normalization (m_txtVsNormalized.size()=%d)\n", elapsedSeconds(start),
                static_cast<int>(myText.m_txtVsNormalized.size()));
    writeNormalizedTexts(param, myText);

    start = clockMs();
    if (!param.sylFile.empty()) {
        param.netType = 0;
        myText.sylFileRead(param.sylFile);
        myText.japaneseSyllableRules(param);
        sinkPrintf("%4.3f sec: Read syl \"%s\" (Size=%d)\n", elapsedSeconds(start), param.sylFile.c_str(),
                    static_cast<int>(myText.m_sylVs.size()));
    } else {
        if (param.netType == 0) {
            if (param.language == "chinese")
                myText.chineseListing(myDict.m_wpa, myDict.m_pinyinTable, param.pinyinType);
            else if (param.language == "english")
                myText.englishListing(myDict.m_wpa);
            else if (param.language == "japanese")
                reportError(formatString("This is not allowed for Japanese! (line %d, file %s)", __LINE__, "recogTask"));
        }
        sinkPrintf("%4.3f sec: Texts to phonetic alphabets by exhaustive listing\n", elapsedSeconds(start));
        sinkPrintf("\tNo. of text entries = %d, no. of PA entries = %d\n", static_cast<int>(myText.m_txtVs.size()),
                    static_cast<int>(myText.m_sylVs.size()));
        if (!param.outputDir.empty()) {
            std::string path = param.outputDir + "/output.syl";
            writeLines(path, myText.m_sylVs);
            saved(path);
        }
    }

    if (param.function == "assess" && param.usePaddedHardSp == 1) myText.addBetweenSyllables("-sp-");

    if (param.language == "english") {
        start = clockMs();
        netDict.m_pronDict = myDict.pronEntriesForTexts(myText.m_txtVsNormalized, models, options.writeMissingWordFile);
        sinkPrintf("%4.3f sec: Create m_pronDict from m_txtVs. (m_pronDict.size() = %d)\n", elapsedSeconds(start),
                    static_cast<int>(netDict.m_pronDict.size()));
        if (!param.outputDir.empty()) {
            std::string path = param.outputDir + "/output.dic";
            netDict.pronDictWrite(path, models);
            saved(path);
        }
    }

    start = clockMs();
    if (!param.netFile.empty()) {
        net.netRead(param.netFile, netDict);
        sinkPrintf("%4.3f sec: Read net \"%s\" (nodeNum=%d)\n", elapsedSeconds(start), param.netFile.c_str(),
                    net.nodeNum);
    } else if (param.netType == 1 && param.sylFile.empty()) {
        buildSausageNet(myText, myDict, param);
        writeNormalizedTexts(param, myText);
        net.netReadLines(myText.netVs, netDict);
        sinkPrintf("%4.3f sec: Generated sausage net (nodeNum=%d)\n", elapsedSeconds(start), net.nodeNum);
    } else {
        bool keywordMode = false, softSil = false;
        if (param.function == "recog") {
            keywordMode = param.comparisonMode == 3;
        } else if (param.function == "assess") {
            softSil = param.usePaddedSoftSil != 0;
        } else {
            reportError(formatString("Unknown recogParam.function = %s!", param.function.c_str()));
        }
        buildTreeNet(myText, param, keywordMode, softSil, param.useEpd == 0);
        net.netReadLines(myText.netVs, netDict);
        sinkPrintf("%4.3f sec: Generated tree net (nodeNum=%d)\n", elapsedSeconds(start), net.nodeNum);
    }

    if (!param.outputDir.empty()) {
        std::string path = param.outputDir + "/output.net";
        net.netPrint(path);
        sinkPrintf("\t===> Saved net file: %s\n", path.c_str());
        path = param.outputDir + "/output.netb";
        net.netbWrite(path);
        sinkPrintf("\t===> Saved net file: %s\n", path.c_str());
        if (param.language != "japanese") {
            path = param.outputDir + "/output.wpa";
            myDict.wpaWriteForTexts(path, myText, param.language);
            sinkPrintf("\t===> Saved wpa file %s\n", path.c_str());
        }
    }

    net.setNodePenalties(static_cast<float>(param.nodePenalty));

    return decoderSizesFor(net, param);
}

searchSizes decoderSizesFor(const netClass& net, const recogParam& param) {
    searchSizes sizes;
    int64_t fanOut = net.maxFanOut();
    bool keywordMode = param.comparisonMode == 3;
    int64_t k = (keywordMode ? 20 : 4) * fanOut;
    if (k < 20) k = 100;
    int64_t candidates = std::min<int64_t>(k, param.maxCandidateNum);
    // A floor for nets whose fan-out understates the competition (many similar texts).
    if (param.minCandidateNum > 0)
        candidates = std::max<int64_t>(candidates, std::min(param.minCandidateNum, param.maxCandidateNum));
    int64_t capacity = (keywordMode ? 100 : 5) * candidates;
    if (capacity > INT32_MAX)
        reportError(formatString("Decoder arena of %lld candidates is too large (line %d in %s)",
                                 static_cast<long long>(capacity), __LINE__, "recogTask"));
    sizes.candidateNum = static_cast<int32_t>(candidates);
    sizes.pathCapacity = static_cast<int32_t>(capacity);
    return sizes;
}
