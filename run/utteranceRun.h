// One utterance from conditioned audio to its result, over shared resources.
//
// Everything a run writes is its own: the features, the decoder with its
// likelihood cache and work tables, and, when the utterance brings its own
// texts, its net and the units and texts of that net. The resources are only
// read, so runs on several threads over one set of resources give exactly
// what they give one after the other.
#pragma once

#include "decoder/cmResult.h"
#include "frontend/CaudioFile.h"
#include "run/recogParam.h"
#include "run/resources.h"

#include <cstdint>
#include <string>
#include <vector>

// Frame geometry of the whole pipeline: 20 ms frames every 10 ms at 16 kHz.
constexpr int32_t PIPELINE_FRAME_SIZE = 320;
constexpr int32_t PIPELINE_OVERLAP = 160;

// The settings of one utterance. Everything else comes from the resources'
// parameters.
struct utteranceSettings {
    // true: the utterance is recognized among, or assessed against, its own
    // texts (txtFile, sylFile and netFile below, as in the parameter file) on
    // a net built for it; false: the resources' shared net is used and the
    // three settings only name what the result refers to.
    bool ownTexts = false;
    std::string txtFile;        // a text file, or the texts themselves joined by "#"
    std::string sylFile;        // syllable file replacing the listing; "" = none
    std::string netFile;        // net file replacing net building; "" = none
    std::string wavFile;        // the recording, for messages and reports only
    std::string inputLabFile;   // label file replacing the alignment; "" = none
    std::string outputDir;      // result directory; "" = write no file
    std::string outputXmlFile;  // XML name in outputDir; "" = output.xml
    int32_t getPitch = 0;       // 1 = volume and pitch of the whole utterance
    // The recording was spectrally subtracted: the decoder keeps its
    // candidate count over the whole utterance.
    bool spectrallySubtracted = false;
    // Missing English words go to "missingWord.txt" (the programs) rather
    // than only into the message (library callers).
    bool writeMissingWordFile = true;
    // txtFile holds the texts themselves and is never taken as a file name
    // (texts that come from a list or a request).
    bool literalTexts = false;
    // "recog" or "assess" in place of the parameters' function; "" = theirs
    // (one set of resources serves both).
    std::string function;
    // Measure every scored phone, word and the utterance for calibration to
    // human scores (decoder/measures.h; the frame-level GOP evaluates every
    // model at every scored frame). The resources' calibration turns it on.
    bool measurements = false;
};

// The settings of an utterance that uses the shared net, taken from the
// resources' parameters.
utteranceSettings sharedNetSettings(const recogResources& resources);

// Runs one utterance: features of the conditioned audio (16 kHz, 16-bit
// range), the search, the path to its texts, the alignment, the scores and,
// with an output directory, the result files. result may carry what earlier
// utterances of a batch left (the scoring tables, warnings); its other fields
// are refilled. Returns the text indices of the best path.
std::vector<int32_t> runUtterance(const recogResources& resources, const audioRecord& audio,
                                  const utteranceSettings& settings, cmResult& result);

// runUtterance into a fresh result.
cmResult runUtterance(const recogResources& resources, const audioRecord& audio, const utteranceSettings& settings);
