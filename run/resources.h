// What a run loads before it sees any wave: the model set, the lexicon, the
// text normalization map, the scoring tables and, optionally, a search net
// built from the parameters' texts. Loaded once, then only read: any number
// of utterances, on any number of threads, run over one set of resources.
#pragma once

#include "decoder/cmResult.h"
#include "decoder/macro.h"
#include "run/calibration.h"
#include "lexicon/dict.h"
#include "lexicon/net.h"
#include "lexicon/text.h"
#include "run/recogParam.h"
#include "run/searchNet.h"

#include <string>
#include <vector>

// The scoring files, read at loading time when they read cleanly. A file that
// does not load stays unread here, so that the run that needs it reads it
// itself and reports its fault at the place it always has.
struct scoringTables {
    bool haveEps = false;                    // epsTable holds the epsFile's lines
    std::vector<epsEntry> epsTable;
    bool haveRankParams = false;             // rankScoreParams holds phoneRank2scoreParamFile
    std::vector<float> rankScoreParams;
    bool haveDiscounts = false;              // discountRatio holds scoreDiscountParamFile
    std::vector<float> discountRatio;
    bool haveCmLines = false;                // cmLines holds the lines of an existing cmParamFile
    std::vector<std::string> cmLines;
};

// Reads the scoring files of the parameters without printing or writing an
// error log; what does not load stays unread.
scoringTables loadScoringTables(const recogParam& param);

// What loadResources does.
struct resourceOptions {
    bool readCountFile = true;  // read the model count file with the models
    bool buildNet = true;       // build the shared net from txtFile, sylFile or netFile
};

class recogResources {
public:
    recogParam param;            // the settings the resources were loaded with, as net building left them
    macroClass models;           // sorted and converted, with the model counts
    dictClass lexicon;           // pam dictionary, wpa tables and addenda, pinyin table
    textClass normalization;     // the text normalization map (m_textNormSp)
    scoringTables scoring;
    bool hasNet = false;         // the shared net below was built
    dictClass netDict;           // units of the shared net (m_pronDict only)
    textClass netText;           // texts and syllable sequences of the shared net
    netClass net;
    searchSizes sizes;           // decoder sizes of the shared net
    bool hasCalibration = false; // calibration holds param.calibrationFile, checked against the models
    calibrationClass calibration;
};

// Loads the resources the parameters name, printing each stage's progress
// line: the models ("Read <mac> (modelNum=..) and <count>", or "Read macro"
// without the count file), the lexical resources, and with options.buildNet
// the shared net, and the calibration file when one is named (refused when
// fitted for another model set or configuration). Every fault is reported.
void loadResources(const recogParam& param, const resourceOptions& options, recogResources& resources);
