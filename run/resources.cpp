#include "run/resources.h"

#include "decoder/scoring.h"
#include "run/outputSink.h"
#include "run/utility.h"

scoringTables loadScoringTables(const recogParam& param) {
    scoringTables tables;
    scopedOutputSilence silence;
    scopedErrorLogOff noLog;
    cmResult scratch;
    // Each file on its own: one that does not load leaves the others loaded.
    if (!param.epsFile.empty()) {
        try {
            readEpsTable(scratch, param.epsFile);
            tables.epsTable = std::move(scratch.epsTable);
            tables.haveEps = !tables.epsTable.empty();
        } catch (const recogError&) {
        }
    }
    try {
        readRankScoreParams(scratch, param.phoneRank2scoreParamFile);
        tables.rankScoreParams = std::move(scratch.rankScoreParams);
        tables.haveRankParams = !tables.rankScoreParams.empty();
    } catch (const recogError&) {
    }
    try {
        readDiscountRatios(scratch, param.scoreDiscountParamFile);
        tables.discountRatio = std::move(scratch.discountRatio);
        tables.haveDiscounts = !tables.discountRatio.empty();
    } catch (const recogError&) {
    }
    if (fileExists(param.cmParamFile)) {
        try {
            tables.cmLines = readLines(param.cmParamFile, '%');
            tables.haveCmLines = true;
        } catch (const recogError&) {
        }
    }
    return tables;
}

void loadResources(const recogParam& param, const resourceOptions& options, recogResources& resources) {
    resources.param = param;
    if (options.readCountFile) {
        loadModels(param, resources.models);
    } else {
        int64_t start = clockMs();
        resources.models.readMacro(param.macFile, true);
        sinkPrintf("%4.3f sec: Read macro \"%s\" (modelNum=%d)\n", elapsedSeconds(start), param.macFile.c_str(),
                   resources.models.modelNum);
    }
    loadLexicalResources(param, resources.models, resources.lexicon, resources.normalization);
    resources.scoring = loadScoringTables(param);
    if (!param.calibrationFile.empty()) {
        resources.calibration.load(param.calibrationFile);
        resources.calibration.checkTarget(calibrationTargetOf(resources.models, param));
        resources.hasCalibration = true;
    }
    if (options.buildNet) {
        resources.netText.m_textNormSp = resources.normalization.m_textNormSp;
        resources.sizes = buildSearchNet(resources.param, resources.models, resources.lexicon, resources.netDict,
                                         resources.netText, resources.net);
        resources.hasNet = true;
    }
}
