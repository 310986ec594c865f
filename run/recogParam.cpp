#include "run/recogParam.h"

#include "run/utility.h"

#include <vector>

namespace {

struct paramKey {
    const char* name;
    std::string recogParam::*text;  // set for text settings
    int32_t recogParam::*number;    // set for integer settings
};

// Keys in the order they are matched.
const std::vector<paramKey>& paramKeys() {
    static const std::vector<paramKey> keys = {
        {"function", &recogParam::function, nullptr},
        {"language", &recogParam::language, nullptr},
        {"macFile", &recogParam::macFile, nullptr},
        {"modelCountFile", &recogParam::modelCountFile, nullptr},
        {"pinyinType", &recogParam::pinyinType, nullptr},
        {"dicFile", &recogParam::dicFile, nullptr},
        {"wpaFile", &recogParam::wpaFile, nullptr},
        {"wpaAddendaFile", &recogParam::wpaAddendaFile, nullptr},
        {"pyTableFile", &recogParam::pyTableFile, nullptr},
        {"qiYinFile", &recogParam::qiYinFile, nullptr},
        {"tnmFile", &recogParam::tnmFile, nullptr},
        {"featureConfigFile", &recogParam::featureConfigFile, nullptr},
        {"wavFile", &recogParam::wavFile, nullptr},
        {"wavFileList", &recogParam::wavFileList, nullptr},
        {"txtFile", &recogParam::txtFile, nullptr},
        {"sylFile", &recogParam::sylFile, nullptr},
        {"netFile", &recogParam::netFile, nullptr},
        {"outputDir", &recogParam::outputDir, nullptr},
        {"outWavDir", &recogParam::outWavDir, nullptr},
        {"outputXmlFile", &recogParam::outputXmlFile, nullptr},
        {"phoneRank2scoreParamFile", &recogParam::phoneRank2scoreParamFile, nullptr},
        {"scoreDiscountParamFile", &recogParam::scoreDiscountParamFile, nullptr},
        {"cmParamFile", &recogParam::cmParamFile, nullptr},
        {"epsFile", &recogParam::epsFile, nullptr},
        {"inputLabFile", &recogParam::inputLabFile, nullptr},
        {"useAllModelAsCompetingModel", nullptr, &recogParam::useAllModelAsCompetingModel},
        {"usePaddedHardSp", nullptr, &recogParam::usePaddedHardSp},
        {"usePaddedSoftSil", nullptr, &recogParam::usePaddedSoftSil},
        {"useLeadingTrailingSil", nullptr, &recogParam::useLeadingTrailingSil},
        {"ptParamFile", &recogParam::ptParamFile, nullptr},
        {"volCheckPrmFile", &recogParam::volCheckPrmFile, nullptr},
        {"fillerType", &recogParam::fillerType, nullptr},
        {"getUvScore", nullptr, &recogParam::getUvScore},
        {"getPitch", nullptr, &recogParam::getPitch},
        {"useEpd", nullptr, &recogParam::useEpd},
        {"netType", nullptr, &recogParam::netType},
        {"maxCandidateNum", nullptr, &recogParam::maxCandidateNum},
        {"probTh", nullptr, &recogParam::probTh},
        {"comparisonMode", nullptr, &recogParam::comparisonMode},
        {"wordPenalty", nullptr, &recogParam::wordPenalty},
        {"nodePenalty", nullptr, &recogParam::nodePenalty},
        {"useWaveReject", nullptr, &recogParam::useWaveReject},
        {"useDescCandidateNum", nullptr, &recogParam::useDescCandidateNum},
        {"useSpecSubtraction", nullptr, &recogParam::useSpecSubtraction},
        {"addLink4stopAnywhere", nullptr, &recogParam::addLink4stopAnywhere},
        {"addLink4startAnywhere", nullptr, &recogParam::addLink4startAnywhere},
        {"addLink4forwardJump", nullptr, &recogParam::addLink4forwardJump},
        {"addLink4skippableTrailingSil", nullptr, &recogParam::addLink4skippableTrailingSil},
        {"addLink4skippableLeadingSil", nullptr, &recogParam::addLink4skippableLeadingSil},
        {"jsonFile", &recogParam::jsonFile, nullptr},
        {"minCandidateNum", nullptr, &recogParam::minCandidateNum},
        {"calibrationFile", &recogParam::calibrationFile, nullptr},
    };
    return keys;
}

}  // namespace

void recogParam::setDefaults() {
    for (const paramKey& key : paramKeys()) {
        if (key.text) this->*key.text = std::string();
        else this->*key.number = 0;
    }
    usePaddedHardSp = 1;
    usePaddedSoftSil = 1;
    useLeadingTrailingSil = 1;
    useDescCandidateNum = 1;
}

bool setRecogParamValue(recogParam& param, const std::string& key, const std::string& value) {
    for (const paramKey& entry : paramKeys()) {
        if (key != entry.name) continue;
        if (entry.number) {
            param.*entry.number = atoiLike(value);
            return true;
        }
        size_t capacity = key == "txtFile" ? PARAM_TXTFILE_CAPACITY : PARAM_TEXT_CAPACITY;
        if (value.size() > capacity)
            reportError(formatString("Value of %s is %d bytes long, more than the %d bytes it can hold (line %d in %s)",
                                     key.c_str(), static_cast<int>(value.size()), static_cast<int>(capacity),
                                     __LINE__, "recogTask"));
        param.*entry.text = value;
        return true;
    }
    return false;
}

void readRecogParam(const std::string& path, recogParam& param) {
    param.setDefaults();
    std::vector<std::string> keys, values;
    readKeyValueFile(path, keys, values);
    for (size_t i = 0; i < keys.size(); ++i) {
        if (!setRecogParamValue(param, keys[i], values[i]))
            reportError(formatString("Error in parsing %s, unknown key = %s (line %d in %s)", path.c_str(),
                                     keys[i].c_str(), __LINE__, "recogTask"));
    }
}
