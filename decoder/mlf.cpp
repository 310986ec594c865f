#include "decoder/mlf.h"

#include "decoder/macro.h"
#include "lexicon/dict.h"
#include "lexicon/net.h"
#include "lexicon/pathToText.h"
#include "lexicon/text.h"
#include "run/recogParam.h"
#include "run/utility.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

const char* const UNIT = "mlf";

// Label times count in 100 ns; a frame is 10 ms.
constexpr int32_t LABEL_UNITS_PER_FRAME = 100000;

bool startsWith(const std::string& s, const char* prefix) {
    return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

}  // namespace

bool isScoredNodeName(const std::string& name) { return !isUnscoredUnit(name); }

bool isScoredPhoneName(const std::string& name) { return !startsWith(name, "sil+"); }

void buildFromCandidate(cmResult& result, const candidateHistory& candidate, const netClass& net, const dictClass& dict,
                        const macroClass& models) {
    const size_t sylNum = candidate.sylWordIdx.size();
    const size_t phoneNum = candidate.phoneIdxInSyl.size();
    if (candidate.sylNodeIdx.size() != sylNum || candidate.sylEndFrame.size() != sylNum ||
        candidate.sylLogLike.size() != sylNum || candidate.phoneEndFrame.size() != phoneNum ||
        candidate.phoneLogLike.size() != phoneNum)
        reportError(
            formatString("Error: candidate history with lists of unequal length (line %d of file %s)", __LINE__, UNIT));

    result.nodes.clear();
    result.nodes.reserve(sylNum);
    for (size_t k = 0; k < sylNum; ++k) {
        int32_t wordIdx = candidate.sylWordIdx[k];
        int32_t netIdx = candidate.sylNodeIdx[k];
        if (wordIdx < 0 || static_cast<size_t>(wordIdx) >= dict.m_pronDict.size())
            reportError(formatString("Error: node record %zu names m_pronDict entry %d of %zu (line %d of file %s)", k,
                                     wordIdx, dict.m_pronDict.size(), __LINE__, UNIT));
        if (netIdx < 0 || static_cast<size_t>(netIdx) >= net.nodes.size())
            reportError(formatString("Error: node record %zu names net node %d of %zu (line %d of file %s)", k, netIdx,
                                     net.nodes.size(), __LINE__, UNIT));
        cmNode node;
        node.name = dict.m_pronDict[static_cast<size_t>(wordIdx)].word;
        node.text = net.nodes[static_cast<size_t>(netIdx)].sourceWord;
        node.cumLogLike = candidate.sylLogLike[k];
        node.startFrame = k == 0 ? 0 : candidate.sylEndFrame[k - 1] + 1;
        node.endFrame = candidate.sylEndFrame[k];
        result.nodes.push_back(std::move(node));
    }

    size_t nodeIdx = 0;
    for (size_t j = 0; j < phoneNum; ++j) {
        if (j > 0 && candidate.phoneIdxInSyl[j] == 0) ++nodeIdx;
        // Phones of a node whose record was never made have no node to join.
        if (nodeIdx >= result.nodes.size()) break;
        const pronEntry& entry = dict.m_pronDict[static_cast<size_t>(candidate.sylWordIdx[nodeIdx])];
        int32_t position = candidate.phoneIdxInSyl[j];
        if (position < 0 || static_cast<size_t>(position) >= entry.modelIndices.size())
            reportError(
                formatString("Error: phone record %zu is phone %d of \"%s\", which has %zu (line %d of file %s)", j,
                             position, entry.word.c_str(), entry.modelIndices.size(), __LINE__, UNIT));
        int32_t modelIdx = entry.modelIndices[static_cast<size_t>(position)];
        if (modelIdx < 0 || static_cast<size_t>(modelIdx) >= models.models.size())
            reportError(formatString("Error: phone %d of \"%s\" has model index %d of %zu (line %d of file %s)",
                                     position, entry.word.c_str(), modelIdx, models.models.size(), __LINE__, UNIT));
        cmPhone phone;
        phone.name = models.models[static_cast<size_t>(modelIdx)].name;
        phone.modelIdx = modelIdx;
        phone.cumLogLike = candidate.phoneLogLike[j];
        phone.startFrame = j == 0 ? 0 : candidate.phoneEndFrame[j - 1] + 1;
        phone.endFrame = candidate.phoneEndFrame[j];
        result.nodes[nodeIdx].phones.push_back(std::move(phone));
    }
}

void readLabelFile(cmResult& result, const std::string& path) {
    std::vector<std::string> lines = readLines(path, '%');
    result.nodes.clear();
    std::vector<std::string> fields;
    for (size_t i = 0; i < lines.size(); ++i) {
        splitString(lines[i], ' ', fields);
        if (fields.size() < 4)
            reportError(
                formatString("Error: label line \"%s\" of %s has %zu fields, fewer than start, end, phone "
                             "and score (line %d of file %s)",
                             lines[i].c_str(), path.c_str(), fields.size(), __LINE__, UNIT));
        if (fields.size() >= 5) {
            cmNode node;
            node.name = fields[4];
            result.nodes.push_back(std::move(node));
        }
        if (result.nodes.empty())
            reportError(
                formatString("Error: label line \"%s\" of %s comes before the first line naming a word or "
                             "syllable in its fifth field (line %d of file %s)",
                             lines[i].c_str(), path.c_str(), __LINE__, UNIT));
        cmPhone phone;
        phone.name = fields[2];
        phone.startFrame = atoiLike(fields[0]) / LABEL_UNITS_PER_FRAME;
        phone.endFrame = atoiLike(fields[1]) / LABEL_UNITS_PER_FRAME - 1;
        phone.cumLogLike = static_cast<float>(std::strtod(fields[3].c_str(), nullptr));
        result.nodes.back().phones.push_back(std::move(phone));
    }
    for (cmNode& node : result.nodes) {
        node.startFrame = node.phones.front().startFrame;
        node.endFrame = node.phones.back().endFrame;
        node.cumLogLike = node.phones.back().cumLogLike;
    }
}

void assignNodeTexts(cmResult& result, const std::string& text, const recogParam& param) {
    std::vector<std::string> units;
    textClass::splitWords(text, param.language, units);
    size_t next = 0;
    for (cmNode& node : result.nodes) {
        if (!isScoredNodeName(node.name)) {
            node.text.clear();
        } else if (param.addLink4startAnywhere == 0) {
            node.text = next < units.size() ? units[next] : std::string();
            ++next;
        }
    }
}

void markPitchedPhones(cmResult& result, const recogParam& param) {
    // An empty setting means no list: only silences and pauses are unpitched.
    std::vector<std::string> unpitched;
    if (!param.qiYinFile.empty()) unpitched = readLines(param.qiYinFile, 0);
    for (cmNode& node : result.nodes) {
        for (cmPhone& phone : node.phones) {
            const std::string& name = phone.name;
            std::string base = name.substr(0, name.find('+'));
            phone.pitched = !(startsWith(name, "sil+") || name == "sil" || name == "sp" ||
                              std::find(unpitched.begin(), unpitched.end(), base) != unpitched.end());
        }
    }
}

void setNodeVolumes(cmResult& result, const std::vector<int32_t>& volumes) {
    const int64_t count = static_cast<int64_t>(volumes.size());
    for (cmNode& node : result.nodes) {
        node.volume.clear();
        for (int64_t f = std::max<int64_t>(node.startFrame, 0); f <= node.endFrame && f < count; ++f)
            node.volume.push_back(static_cast<float>(volumes[static_cast<size_t>(f)]));
    }
}

void shiftFrames(cmResult& result, int32_t offset) {
    for (cmNode& node : result.nodes) {
        node.startFrame += offset;
        node.endFrame += offset;
        for (cmPhone& phone : node.phones) {
            phone.startFrame += offset;
            phone.endFrame += offset;
        }
    }
}
