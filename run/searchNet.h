// Resource loading and search-net building: the stages of a run that come
// before any wave is analysed, shared by both programs.
#pragma once

#include "decoder/macro.h"
#include "lexicon/dict.h"
#include "lexicon/net.h"
#include "lexicon/text.h"
#include "run/recogParam.h"

#include <cstdint>

// Reads the model set and the model count file, printing its progress line.
void loadModels(const recogParam& param, macroClass& models);

// Loads the lexical resources the language needs (pam dictionary, pinyin
// table, wpa entries and addenda, text normalization map), each with its
// progress line. A missing tnmFile setting is reported after the others.
void loadLexicalResources(const recogParam& param, const macroClass& models, dictClass& myDict, textClass& myText);

// Decoder sizes derived from the net.
struct searchSizes {
    int32_t candidateNum = 0;  // candidates kept per frame
    int32_t pathCapacity = 0;  // arena length of the decoder
};

// Reads and normalizes the texts, lists them as phonetic alphabets or reads a
// syllable file, builds or reads the net, writes the dumps into outputDir,
// sets node penalties and sizes the decoder. May set param.netType to 0.
// myDict holds the loaded lexicon and is only read; the units of the net
// (the pam dictionary, or for English the entries of the texts' words) go to
// netDict.m_pronDict, which the net's nodes index.
struct netBuildOptions {
    bool writeMissingWordFile = true;  // missing English words to "missingWord.txt" (else only in the message)
    bool literalTexts = false;         // txtFile holds the texts themselves, never a file name
};
searchSizes buildSearchNet(recogParam& param, const macroClass& models, const dictClass& myDict, dictClass& netDict,
                           textClass& myText, netClass& net, const netBuildOptions& options = netBuildOptions());

// Candidates per frame and arena length of the decoder for a net: four
// times the net's largest fan-out (twenty in keyword mode; 100 for a fan-out
// under five), at most maxCandidateNum, and at least minCandidateNum (itself
// at most maxCandidateNum) when that is set; five candidates of arena per
// candidate (100 in keyword mode).
searchSizes decoderSizesFor(const netClass& net, const recogParam& param);
