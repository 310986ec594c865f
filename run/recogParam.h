// The run settings: one record per program run, filled from the recognition
// parameter file and a few command-line overrides.
#pragma once

#include <cstdint>
#include <string>

// Usable bytes of a text setting (the field holds a terminating zero as well).
constexpr size_t PARAM_TEXT_CAPACITY = 999;
constexpr size_t PARAM_TXTFILE_CAPACITY = 9999;

class recogParam {
public:
    recogParam() { setDefaults(); }
    void setDefaults();

    std::string language;                  // "chinese", "english", "japanese" or "taiwanese"
    std::string macFile;                   // HMM model set file
    std::string modelCountFile;            // model count file
    std::string pinyinType;                // "rzp", "hanyu" or other
    std::string dicFile;                   // pronunciation dictionary (pam)
    std::string wpaFile;                   // word-to-phonetic-alphabet file
    std::string wpaAddendaFile;            // addenda merged into the wpa entries (English)
    std::string pyTableFile;               // pinyin table (Chinese)
    std::string qiYinFile;                 // scoring input
    std::string tnmFile;                   // text normalization map
    std::string featureConfigFile;         // feature configuration
    std::string wavFile;                   // input wave
    std::string wavFileList;               // batch list
    std::string txtFile;                   // recognizable texts (file or "#"-joined texts)
    std::string sylFile;                   // syllable file replacing the listing
    std::string netFile;                   // net file replacing net construction
    std::string outputDir;                 // result directory; empty = write nothing
    std::string outWavDir;                 // stored only
    std::string function;                  // "recog" or "assess"
    std::string outputXmlFile;             // XML name in outputDir; empty = output.xml
    std::string phoneRank2scoreParamFile;  // scoring parameters
    std::string scoreDiscountParamFile;    // scoring parameters
    std::string cmParamFile;               // confidence-measure parameters
    std::string epsFile;                   // acceptable substitutes
    std::string inputLabFile;              // label file replacing the alignment
    int32_t useAllModelAsCompetingModel;   // scoring switch
    int32_t usePaddedHardSp;               // assess: "-sp-" between syllables
    int32_t usePaddedSoftSil;              // assess: optional silences in the net
    int32_t useLeadingTrailingSil;         // stored only
    std::string ptParamFile;               // pitch-tracking parameters
    std::string volCheckPrmFile;           // volume-check parameters
    std::string fillerType;                // stored only
    int32_t getUvScore;                    // stored only
    int32_t getPitch;                      // 1 = whole-utterance volume and pitch
    int32_t useEpd;                        // 1 = endpoint detection before features
    int32_t netType;                       // 0 tree net, 1 sausage net
    int32_t maxCandidateNum;               // decoder candidate bound
    int32_t probTh;                        // decoder probability threshold
    int32_t comparisonMode;                // 3 = keyword mode
    int32_t wordPenalty;                   // stored only
    int32_t nodePenalty;                   // penalty applied to the net's nodes
    int32_t useWaveReject;                 // 1 = a failed volume check ends the run
    int32_t useDescCandidateNum;           // passed to the decoder
    int32_t useSpecSubtraction;            // 1 = allow spectral subtraction
    int32_t addLink4stopAnywhere;          // net link options
    int32_t addLink4startAnywhere;
    int32_t addLink4forwardJump;
    int32_t addLink4skippableTrailingSil;
    int32_t addLink4skippableLeadingSil;
    std::string jsonFile;                  // recognize: the JSON result document; empty = none
    int32_t minCandidateNum;               // floor of the decoder's candidate count; 0 = none
    std::string calibrationFile;           // calibration to human scores (run/calibration.h); empty = none
};

// Sets every field to its default, then reads key=value lines from the file.
// An unknown key, or a value longer than its field holds, is reported.
void readRecogParam(const std::string& path, recogParam& param);

// Sets one setting by key as the parameter file would. Returns false for an
// unknown key; reports a value that does not fit its field.
bool setRecogParamValue(recogParam& param, const std::string& key, const std::string& value);
