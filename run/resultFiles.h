// Result files of an output directory: score.txt and recogResult.txt.
#pragma once

#include "decoder/cmResult.h"

#include <string>

// Writes the overall score as "%g\n" and announces the file.
void writeScoreFile(const std::string& outputDir, const cmResult& result);

// Writes the eight lines of recogResult.txt and announces the file.
void writeRecogResultFile(const std::string& outputDir, const cmResult& result);
