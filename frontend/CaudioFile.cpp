#include "frontend/CaudioFile.h"

#include "frontend/flvimpl.h"
#include "run/utility.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

const char* waveErrorText(int code) {
    static const char* const TEXTS[] = {
        "No error.",
        "Wave format mismatch.",
        "Device required in use.",
        "MMTIME required time format not supported.",
        "File open error.",
        "File close error.",
        "File chunk read error.",
        "File data read error.",
        "File chunk write error.",
        "File data write error.",
    };
    if (code < 0 || code > 9) return "Unspecified error.";
    return TEXTS[code];
}

namespace {

enum waveErrorCode {
    WAVE_FORMAT_MISMATCH = 1,
    WAVE_FILE_OPEN_ERROR = 4,
    WAVE_CHUNK_READ_ERROR = 6,
    WAVE_DATA_READ_ERROR = 7,
};

constexpr uint16_t FORMAT_TAG_PCM = 1;
constexpr uint16_t FORMAT_TAG_MULAW = 7;
constexpr size_t FORMAT_RECORD_BYTES = 18;

uint32_t readLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint16_t readLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

void writeLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void writeLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// A chunk found in the file: its identifier, declared data size and where its data begins.
struct riffChunkClass {
    char m_id[4] = {0, 0, 0, 0};
    uint32_t m_size = 0;
    uint64_t m_dataOffset = 0;
};

// A small RIFF reader over the file's bytes. Every position is checked against
// the bytes the file has; declared sizes are never trusted for reading.
class riffReaderClass {
public:
    // Reads the whole file; false when it cannot be opened.
    bool open(const std::string& path) {
        FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) return false;
        filePtr file(f);
        uint8_t buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) m_bytes.insert(m_bytes.end(), buffer, buffer + n);
        m_pos = 0;
        return true;
    }

    uint64_t size() const { return m_bytes.size(); }

    // Finds the top-level "RIFF" chunk of the given form type, passing over other
    // top-level chunks, and leaves the position at its first sub-chunk. A RIFF
    // chunk whose declared size runs past the end of the file is refused.
    bool descendRiff(const char* formType, riffChunkClass& chunk) {
        uint64_t pos = 0;
        while (pos + 8 <= size()) {
            riffChunkClass header = headerAt(pos);
            if (std::memcmp(header.m_id, "RIFF", 4) == 0 && pos + 12 <= size() &&
                std::memcmp(&m_bytes[pos + 8], formType, 4) == 0) {
                if (header.m_size < 4 || header.m_dataOffset + header.m_size > size()) return false;
                chunk = header;
                m_pos = header.m_dataOffset + 4;
                return true;
            }
            pos = header.m_dataOffset + header.m_size + (header.m_size & 1);
        }
        return false;
    }

    // Finds the sub-chunk with the identifier inside the parent, searching onwards
    // from the current position; leaves the position at its first data byte.
    bool descendChunk(const riffChunkClass& parent, const char* id, riffChunkClass& chunk) {
        uint64_t parentEnd = std::min<uint64_t>(parent.m_dataOffset + parent.m_size, size());
        uint64_t pos = m_pos;
        while (pos + 8 <= parentEnd) {
            riffChunkClass header = headerAt(pos);
            if (std::memcmp(header.m_id, id, 4) == 0) {
                chunk = header;
                m_pos = header.m_dataOffset;
                return true;
            }
            pos = header.m_dataOffset + header.m_size + (header.m_size & 1);
        }
        return false;
    }

    // Copies up to count bytes from the position onwards; returns the number copied.
    uint64_t read(uint8_t* dest, uint64_t count) {
        uint64_t available = m_pos < size() ? size() - m_pos : 0;
        uint64_t n = std::min(count, available);
        if (n > 0) std::memcpy(dest, &m_bytes[m_pos], n);
        m_pos += n;
        return n;
    }

    // Bytes that a read from the position could deliver.
    uint64_t available() const { return m_pos < size() ? size() - m_pos : 0; }

    // Moves past the chunk's data and the pad byte of an odd-sized chunk.
    void ascend(const riffChunkClass& chunk) { m_pos = chunk.m_dataOffset + chunk.m_size + (chunk.m_size & 1); }

private:
    riffChunkClass headerAt(uint64_t pos) const {
        riffChunkClass header;
        std::memcpy(header.m_id, &m_bytes[pos], 4);
        header.m_size = readLe32(&m_bytes[pos + 4]);
        header.m_dataOffset = pos + 8;
        return header;
    }

    std::vector<uint8_t> m_bytes;
    uint64_t m_pos = 0;
};

// ITU-T G.711 mu-law byte to a 16-bit sample.
int16_t muLawToLinear(uint8_t byte) {
    static const int32_t BIAS[8] = {0, 132, 396, 924, 1980, 4092, 8316, 16764};
    uint8_t b = static_cast<uint8_t>(~byte);
    int32_t exponent = (b >> 4) & 0x07;
    int32_t mantissa = b & 0x0F;
    int32_t magnitude = BIAS[exponent] + (mantissa << (exponent + 3));
    return static_cast<int16_t>((b & 0x80) ? -magnitude : magnitude);
}

void formatToBytes(const waveFormatClass& format, uint8_t* bytes) {
    writeLe16(bytes, format.m_formatTag);
    writeLe16(bytes + 2, format.m_channels);
    writeLe32(bytes + 4, format.m_sampleRate);
    writeLe32(bytes + 8, format.m_avgBytesPerSec);
    writeLe16(bytes + 12, format.m_blockAlign);
    writeLe16(bytes + 14, format.m_bitsPerSample);
    writeLe16(bytes + 16, format.m_extraSize);
}

void formatFromBytes(const uint8_t* bytes, waveFormatClass& format) {
    format.m_formatTag = readLe16(bytes);
    format.m_channels = readLe16(bytes + 2);
    format.m_sampleRate = readLe32(bytes + 4);
    format.m_avgBytesPerSec = readLe32(bytes + 8);
    format.m_blockAlign = readLe16(bytes + 12);
    format.m_bitsPerSample = readLe16(bytes + 14);
    format.m_extraSize = readLe16(bytes + 16);
}

}  // namespace

waveClass::waveClass(int32_t channels, int32_t sampleRate, int32_t bitsPerSample) {
    reset();
    m_format.m_formatTag = FORMAT_TAG_PCM;
    m_format.m_channels = static_cast<uint16_t>(channels);
    m_format.m_sampleRate = static_cast<uint32_t>(sampleRate);
    m_format.m_bitsPerSample = static_cast<uint16_t>(bitsPerSample);
    m_format.m_blockAlign = static_cast<uint16_t>(channels * bitsPerSample / 8);
    m_format.m_avgBytesPerSec = m_format.m_sampleRate * m_format.m_blockAlign;
    m_format.m_extraSize = 0;
    m_errorText.clear();
}

void waveClass::reset() {
    m_data.clear();
    m_data.shrink_to_fit();
    m_dataByteCount = 0;
}

bool waveClass::read(const std::string& path) {
    riffReaderClass file;
    if (!file.open(path)) {
        m_errorText = waveErrorText(WAVE_FILE_OPEN_ERROR);
        return false;
    }
    riffChunkClass waveChunk, formatChunk, dataChunk;
    if (!file.descendRiff("WAVE", waveChunk) || !file.descendChunk(waveChunk, "fmt ", formatChunk)) {
        m_errorText = waveErrorText(WAVE_CHUNK_READ_ERROR);
        return false;
    }

    // The record takes at most its 18 bytes; a shorter chunk leaves the later
    // fields as they were.
    uint8_t record[FORMAT_RECORD_BYTES];
    formatToBytes(m_format, record);
    uint64_t wanted = std::min<uint64_t>(formatChunk.m_size, FORMAT_RECORD_BYTES);
    if (file.read(record, wanted) < wanted) {
        m_errorText = waveErrorText(WAVE_CHUNK_READ_ERROR);
        return false;
    }
    formatFromBytes(record, m_format);
    file.ascend(formatChunk);

    // Only formats that can be delivered as samples are accepted.
    bool muLaw = m_format.m_formatTag == FORMAT_TAG_MULAW;
    if (m_format.m_channels == 0 || m_format.m_sampleRate < MIN_SAMPLE_RATE ||
        m_format.m_sampleRate > MAX_SAMPLE_RATE ||
        (!muLaw && m_format.m_bitsPerSample != 8 && m_format.m_bitsPerSample != 16)) {
        m_errorText = waveErrorText(WAVE_FORMAT_MISMATCH);
        return false;
    }

    if (!file.descendChunk(waveChunk, "data", dataChunk)) {
        m_errorText = waveErrorText(WAVE_CHUNK_READ_ERROR);
        return false;
    }
    // The size is checked against the bytes the file holds before anything is
    // allocated; mu-law data doubles and must still fit the byte count.
    uint64_t limit = muLaw ? INT32_MAX / 2 : INT32_MAX;
    if (dataChunk.m_size == 0 || dataChunk.m_size > file.available() || dataChunk.m_size > limit) {
        m_errorText = waveErrorText(WAVE_DATA_READ_ERROR);
        return false;
    }
    m_data.assign(dataChunk.m_size, 0);
    file.read(m_data.data(), dataChunk.m_size);
    m_dataByteCount = static_cast<int32_t>(dataChunk.m_size);

    if (muLaw) {
        std::vector<uint8_t> decoded(m_data.size() * 2);
        for (size_t i = 0; i < m_data.size(); ++i)
            writeLe16(&decoded[2 * i], static_cast<uint16_t>(muLawToLinear(m_data[i])));
        m_data.swap(decoded);
        m_dataByteCount = static_cast<int32_t>(m_data.size());
        m_format.m_formatTag = FORMAT_TAG_PCM;
        m_format.m_bitsPerSample = 16;
        m_format.m_blockAlign = static_cast<uint16_t>(m_format.m_channels * 2);
        m_format.m_avgBytesPerSec = m_format.m_blockAlign * m_format.m_sampleRate;
    }
    return true;
}

int32_t waveClass::copySamples(std::vector<int32_t>& dest, int32_t maxCount) const {
    int32_t bytesPerSample = m_format.m_bitsPerSample / 8;
    int32_t available = bytesPerSample == 1 || bytesPerSample == 2 ? m_dataByteCount / bytesPerSample : 0;
    int32_t count = std::max(0, std::min(maxCount, available));
    dest.resize(static_cast<size_t>(count));
    if (bytesPerSample == 1) {
        for (int32_t i = 0; i < count; ++i) dest[i] = m_data[i];
    } else {
        for (int32_t i = 0; i < count; ++i) dest[i] = static_cast<int16_t>(readLe16(&m_data[2 * static_cast<size_t>(i)]));
    }
    return count;
}

namespace {

audioRecord readWaveRecord(const std::string& path) {
    waveClass wave(1, 8000, 8);
    if (!wave.read(path))
        reportError(formatString("Can't open wave file %s (line %d in %s)", path.c_str(), __LINE__, "audioFile"));
    audioRecord audio;
    audio.sampleRate = wave.sampleRate();
    audio.bitsPerSample = wave.bitsPerSample();
    audio.channels = wave.m_format.m_channels;
    int32_t count = wave.sampleByteCount() / (audio.bitsPerSample / 8);
    wave.copySamples(audio.samples, count);
    return audio;
}

}  // namespace

std::vector<int32_t> readWaveFile(const std::string& path, int32_t& sampleRate, int32_t& bitsPerSample) {
    audioRecord audio = readWaveRecord(path);
    sampleRate = audio.sampleRate;
    bitsPerSample = audio.bitsPerSample;
    return std::move(audio.samples);
}

std::vector<int32_t> readRawAudioFile(const std::string& path) {
    std::string bytes = readFileBytes(path);
    size_t count = bytes.size() / 2;
    if (count > INT32_MAX)
        reportError(formatString("Raw audio file %s is too large (line %d in %s)", path.c_str(), __LINE__,
                                 "audioFile"));
    std::vector<int32_t> samples(count);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data());
    for (size_t i = 0; i < count; ++i) samples[i] = static_cast<int16_t>(readLe16(p + 2 * i));
    return samples;
}

audioRecord readAudio(const std::string& path) {
    std::string extension = path.size() >= 3 ? path.substr(path.size() - 3) : std::string();
    if (extension == "wav" || extension == "WAV" || extension == "wa1" || extension == "WA1" ||
        extension == "wa2" || extension == "WA2")
        return readWaveRecord(path);
    audioRecord audio;
    if (extension == "flv" || extension == "FLV") {
        std::vector<int16_t> decoded = decodeFlvAudio(path, audio.sampleRate, audio.bitsPerSample, audio.channels);
        audio.samples.assign(decoded.begin(), decoded.end());
        return audio;
    }
    if (extension == "raw" || extension == "RAW") {
        audio.samples = readRawAudioFile(path);
        audio.sampleRate = 16000;
        audio.bitsPerSample = 16;
        return audio;
    }
    reportError(formatString("Cannot read audio file \"%s\" based on its extension name...", path.c_str()));
}

std::vector<int32_t> readAudioFile(const std::string& path, int32_t& sampleRate, int32_t& bitsPerSample) {
    audioRecord audio = readAudio(path);
    sampleRate = audio.sampleRate;
    bitsPerSample = audio.bitsPerSample;
    return std::move(audio.samples);
}
