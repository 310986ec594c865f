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
searchSizes buildSearchNet(recogParam& param, const macroClass& models, dictClass& myDict, textClass& myText,
                           netClass& net);
