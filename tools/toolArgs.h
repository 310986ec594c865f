// Command-line values of the recognize-tool subcommands.
#pragma once

#include <cstdint>
#include <string>

// A decimal integer from low to high, nothing else in the text.
bool parseCount(const std::string& text, int32_t& value, int32_t low, int32_t high);

// "K/N" with 1 <= K <= N (N at most 1,000,000): shard K of N.
bool parseShard(const std::string& text, int32_t& index, int32_t& count);
