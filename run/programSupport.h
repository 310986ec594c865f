// Command-line handling and console output shared by the programs.
#pragma once

#include "decoder/cmResult.h"
#include "run/recogParam.h"

#include <string>
#include <vector>

// Prints the argument-count lines and the usage block of `recognize`.
void printRecognizeUsage(int argumentCount, const std::string& programName);

// Applies the overrides of `recognize` arguments 2 to 9 (args[0] is the
// parameter file). An empty argument overrides nothing.
void applyRecognizeOverrides(recogParam& param, const std::vector<std::string>& args);

// Prints the result block of one utterance.
void printResultBlock(const recogParam& param, const cmResult& result);

// Prints the argument-count lines and the usage block of `recognize-batch`.
void printBatchUsage(int argumentCount, const std::string& programName);

// Applies the overrides of `recognize-batch` arguments 2 to 9 (args[0] is the
// parameter file): wavFileList, txtFile, useEpd, outputDir, sylFile, netFile,
// wpaFile, getPitch. An empty argument overrides nothing.
void applyBatchOverrides(recogParam& param, const std::vector<std::string>& args);
