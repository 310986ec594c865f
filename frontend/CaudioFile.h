// Audio file input: RIFF WAVE, headerless 16-bit and FLV files as 32-bit samples.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The RIFF "fmt " record: 18 little-endian bytes in this order.
struct waveFormatClass {
    uint16_t m_formatTag = 1;       // 1 linear PCM, 7 mu-law
    uint16_t m_channels = 1;        // interleaved channels
    uint32_t m_sampleRate = 8000;   // samples per second per channel
    uint32_t m_avgBytesPerSec = 0;  // sampleRate * blockAlign
    uint16_t m_blockAlign = 0;      // channels * bitsPerSample / 8
    uint16_t m_bitsPerSample = 8;   // width of one stored sample
    uint16_t m_extraSize = 0;       // size of the extra format bytes
};

// Text of a wave error code; "Unspecified error." for codes outside 0 to 9.
const char* waveErrorText(int code);

// A wave file read into memory.
class waveClass {
public:
    waveClass(int32_t channels, int32_t sampleRate, int32_t bitsPerSample);
    ~waveClass() { reset(); }

    // Reads a RIFF WAVE file. Returns false and sets m_errorText when the file
    // cannot be opened, has no RIFF WAVE chunk, no or a short "fmt " chunk, no
    // "data" chunk after "fmt ", an empty or short "data" chunk, or a format it
    // cannot deliver (no channels, a rate outside MIN_SAMPLE_RATE to
    // MAX_SAMPLE_RATE, linear PCM of another width than 8 or 16 bits). Mu-law
    // data is decoded to 16 bits.
    bool read(const std::string& path);
    int32_t sampleRate() const { return static_cast<int32_t>(m_format.m_sampleRate); }
    int32_t bitsPerSample() const { return m_format.m_bitsPerSample; }
    int32_t sampleByteCount() const { return m_dataByteCount; }
    // Replaces dest by at most maxCount samples (8 bits unsigned 0..255, 16 bits
    // little-endian signed) and returns their count.
    int32_t copySamples(std::vector<int32_t>& dest, int32_t maxCount) const;
    // Releases the sample bytes.
    void reset();

    // Sample rates accepted from a file, in Hz.
    static constexpr uint32_t MIN_SAMPLE_RATE = 1000;
    static constexpr uint32_t MAX_SAMPLE_RATE = 1000000;

    waveFormatClass m_format;
    std::vector<uint8_t> m_data;  // sample bytes of the "data" chunk
    int32_t m_dataByteCount = 0;  // bytes in m_data
    std::string m_errorText;      // text of the last error
};

// One recording as a reader delivers it and wave conditioning passes it on.
struct audioRecord {
    std::vector<int32_t> samples;  // channels interleaved, frame after frame
    int32_t sampleRate = 0;        // samples per second per channel, in Hz
    int32_t bitsPerSample = 0;     // 16, or 8 for unsigned samples 0..255
    int32_t channels = 1;          // interleaved channels
};

// Reads the audio file by the last three characters of its path (case-sensitive):
// wav/WAV/wa1/WA1/wa2/WA2 as RIFF WAVE, flv/FLV as FLV, raw/RAW as headerless
// 16-bit at 16000 Hz. Sets the sample rate in Hz and the bits per sample (8 or 16).
// 8-bit samples stay unsigned (0..255). Channels stay interleaved.
audioRecord readAudio(const std::string& path);
// readAudio's samples, with the rate and width as out-values.
std::vector<int32_t> readAudioFile(const std::string& path, int32_t& sampleRate, int32_t& bitsPerSample);
std::vector<int32_t> readWaveFile(const std::string& path, int32_t& sampleRate, int32_t& bitsPerSample);
// Headerless 16-bit little-endian samples; a trailing odd byte is ignored.
std::vector<int32_t> readRawAudioFile(const std::string& path);
