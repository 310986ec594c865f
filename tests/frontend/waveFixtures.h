// Builders of RIFF WAVE files in memory, for tests of the audio readers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace waveFixtures {

inline std::string le16(uint16_t v) {
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

inline std::string le32(uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return s;
}

// A chunk: identifier, little-endian size, data, and a pad byte after odd data.
inline std::string chunk(const std::string& id, const std::string& data) {
    std::string c = id + le32(static_cast<uint32_t>(data.size())) + data;
    if (data.size() % 2 == 1) c.push_back('\0');
    return c;
}

// The 16 bytes of a plain "fmt " chunk's data.
inline std::string fmtData(uint16_t formatTag, uint16_t channels, uint32_t sampleRate, uint16_t bitsPerSample) {
    uint16_t blockAlign = static_cast<uint16_t>(channels * bitsPerSample / 8);
    return le16(formatTag) + le16(channels) + le32(sampleRate) + le32(sampleRate * blockAlign) + le16(blockAlign) +
           le16(bitsPerSample);
}

// "RIFF", size, "WAVE", then the given chunks.
inline std::string riffWave(const std::string& chunks) {
    return "RIFF" + le32(static_cast<uint32_t>(4 + chunks.size())) + "WAVE" + chunks;
}

// Samples as little-endian 16-bit words.
inline std::string pcm16(const std::vector<int32_t>& samples) {
    std::string s;
    for (int32_t v : samples) s += le16(static_cast<uint16_t>(static_cast<int16_t>(v)));
    return s;
}

// Samples as unsigned bytes.
inline std::string pcm8(const std::vector<int32_t>& samples) {
    std::string s;
    for (int32_t v : samples) s.push_back(static_cast<char>(static_cast<uint8_t>(v)));
    return s;
}

// A complete linear PCM file of 8 or 16 bits with interleaved channels.
inline std::string pcmWave(const std::vector<int32_t>& samples, uint32_t sampleRate, uint16_t bitsPerSample,
                           uint16_t channels = 1) {
    std::string data = bitsPerSample == 8 ? pcm8(samples) : pcm16(samples);
    return riffWave(chunk("fmt ", fmtData(1, channels, sampleRate, bitsPerSample)) + chunk("data", data));
}

}  // namespace waveFixtures
