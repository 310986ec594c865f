// FLV input: the Nellymoser audio of an FLV file as samples.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads the audio of an FLV file as 32-bit samples of 16-bit range.
// sampleRate and bitsPerSample are set from the stream.
std::vector<int32_t> readFlvAudioFile(const std::string& path, int32_t& sampleRate, int32_t& bitsPerSample);
