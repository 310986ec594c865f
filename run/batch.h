// The batch run of recognize-batch: one model set, lexicon and net for every
// wave of a list.
#pragma once

#include "decoder/cmResult.h"
#include "run/recogParam.h"

#include <string>

// Takes the settings of one tab-separated line of the wave list: the XML name
// (outputXmlFile), the wave path with every backslash turned into a slash
// (wavFile), the text with every underscore turned into a space for English
// (txtFile) and, only when the line has exactly four fields, the syllable file
// (sylFile; three fields leave it as it was). A line with fewer than three
// fields changes nothing: a warning naming list line lineNumber is printed and
// false returned.
bool applyBatchListLine(recogParam& param, const std::string& line, int lineNumber);

// Runs the batch: loads the model set (without the count file) and the lexical
// resources once, builds the search net once from the settings in force, prints
// the list param.wavFileList, then for each list line reads, conditions and
// recognizes its wave against that net and prints its score. The result is
// refilled for every file; its warning messages accumulate over the batch.
void recognizeBatch(recogParam& param, cmResult& result);
