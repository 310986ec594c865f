// The alignment of an assessment result: its node (syllable or word) and
// phone records built from a decoder path or read from a label file, and the
// per-node data added before scoring (texts, pitched phones, volumes).
// Frames are feature frames, 10 ms apart; label files count in 100 ns.
#pragma once

#include "decoder/cmResult.h"
#include "decoder/viterbi.h"

#include <cstdint>
#include <string>
#include <vector>

class recogParam;

// Replaces the nodes of the result by the candidate's path (the history of
// the chosen candidate, viterbiClass::historyOf): one node per node
// record (name = its m_pronDict word, text = the net node's sourceWord), the
// phone records dealt to the nodes in order (a phone at position 0 of its
// pronunciation starts the next node), all scores -1. Phone records beyond
// the last node record carry no node and are left out. Reports a record that
// names an entry, net node, pronunciation position or model that does not
// exist, and lists of unequal length.
void buildFromCandidate(cmResult& result, const candidateHistory& candidate, const netClass& net, const dictClass& dict,
                        const macroClass& models);

// Replaces the nodes of the result by the content of a label file: lines
// "start end phone score [word ...]", times in 100 ns, a line with a fifth
// field starting a node named by it. Phone frames are start / 100000 and
// end / 100000 - 1; each node spans its phones and takes the score of its
// last. Reports an unopenable file, a line of fewer than four fields and a
// phone line before the first node.
void readLabelFile(cmResult& result, const std::string& path);

// True unless the node name is "sp", "sil", "filler", "fillerC" or "fillerV".
bool isScoredNodeName(const std::string& name);
// True unless the phone name begins with "sil+".
bool isScoredPhoneName(const std::string& name);

// Deals the words of the text (textClass::splitWords by param.language) to the
// scored nodes in order, an empty text once they run out; unscored nodes get
// an empty text. With addLink4startAnywhere set scored nodes keep their text.
void assignNodeTexts(cmResult& result, const std::string& text, const recogParam& param);

// Marks every phone pitched except "sil", "sp", names beginning with "sil+",
// and phones whose base (the name before its first '+') is a line of the
// file param.qiYinFile (none when the setting is empty). Reports an
// unopenable file.
void markPitchedPhones(cmResult& result, const recogParam& param);

// Each node's volume list = the values of its frames (startFrame..endFrame)
// that lie within the per-frame volumes.
void setNodeVolumes(cmResult& result, const std::vector<int32_t>& volumes);

// Adds offset to the start and end frames of every node and phone.
void shiftFrames(cmResult& result, int32_t offset);
