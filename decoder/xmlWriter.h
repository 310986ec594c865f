// The assessment result as an XML document of nested structures: every
// element carries idx (its 1-based position), type (struct, cell, char,
// double, uint16) and size ("1 n"). Fields of the nodes and of the phones are
// siblings told apart by idx; explanatory comments follow the first node's and
// the first phone's fields only. Times are seconds at 100 frames per second.
#pragma once

#include "decoder/cmResult.h"

#include <string>

class macroClass;

// Characters of a text in which a byte of 128 or more starts a two-byte
// character (Big5); a lead byte at the very end counts as one.
int32_t doubleByteCharCount(const std::string& text);

// The document of the result as text. The declaration says big5 for "chinese"
// and "taiwanese", UTF-8 otherwise; Chinese node texts count their size in
// two-byte characters. Competing-model names come from the model set; a
// competing index outside it is reported.
std::string xmlDocument(const cmResult& result, const macroClass& models, const std::string& language);

// Writes xmlDocument to path, creating or replacing the file. Reports a file
// that cannot be created or written.
void writeXml(const cmResult& result, const macroClass& models, const std::string& path, const std::string& language);
