#include "service/uploadCheck.h"

#include "frontend/flvimpl.h"
#include "run/utility.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t FLV_HEADER_BYTES = 9;
constexpr size_t FLV_TAG_SIZE_BYTES = 4;
constexpr size_t FLV_TAG_HEADER_BYTES = 11;
constexpr uint8_t FLV_TAG_AUDIO = 8;
constexpr uint16_t WAVE_PCM = 1;
constexpr uint16_t WAVE_MULAW = 7;
constexpr double RAW_RATE = 16000;

uint32_t bigEndian(const unsigned char* p, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = (value << 8) | p[i];
    return value;
}

uint32_t littleEndian(const unsigned char* p, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

uploadCheck failure(int status, const char* code, const std::string& message) {
    uploadCheck check;
    check.status = status;
    check.code = code;
    check.message = message;
    return check;
}

// The format record and data size of a RIFF WAVE file; what the header does
// not give stays for the wave reader to report.
uploadCheck checkWave(const std::string& bytes) {
    uploadCheck check;
    check.extension = ".wav";
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t size = bytes.size();
    bool haveFormat = false;
    uint16_t tag = 0, channels = 0, bits = 0;
    uint32_t rate = 0;
    for (size_t pos = 12; pos + 8 <= size;) {
        uint32_t chunkSize = littleEndian(p + pos + 4, 4);
        const unsigned char* body = p + pos + 8;
        if (std::memcmp(p + pos, "fmt ", 4) == 0 && chunkSize >= 16 && size - pos - 8 >= 16) {
            tag = static_cast<uint16_t>(littleEndian(body, 2));
            channels = static_cast<uint16_t>(littleEndian(body + 2, 2));
            rate = littleEndian(body + 4, 4);
            bits = static_cast<uint16_t>(littleEndian(body + 14, 2));
            haveFormat = true;
        } else if (std::memcmp(p + pos, "data", 4) == 0 && haveFormat) {
            if (tag != WAVE_PCM && tag != WAVE_MULAW)
                return failure(415, "unsupported_audio_format",
                               formatString("WAVE format tag %u is not read; send PCM (8 or 16 bits) or mu-law",
                                            static_cast<unsigned>(tag)));
            if (tag == WAVE_PCM && bits != 8 && bits != 16)
                return failure(415, "unsupported_audio_format",
                               formatString("%u-bit PCM is not read; send 8 or 16 bits", static_cast<unsigned>(bits)));
            if (channels == 0 || rate < 1000 || rate > 1000000)
                return failure(415, "unsupported_audio_format",
                               formatString("%u channels at %u Hz are not read", static_cast<unsigned>(channels),
                                            static_cast<unsigned>(rate)));
            double bytesPerSecond = static_cast<double>(rate) * channels * (tag == WAVE_MULAW ? 1 : bits / 8);
            check.seconds = static_cast<double>(std::min<uint64_t>(chunkSize, size - pos - 8)) / bytesPerSecond;
            return check;
        }
        uint64_t next = static_cast<uint64_t>(pos) + 8 + chunkSize + (chunkSize & 1);
        if (next > size) break;
        pos = static_cast<size_t>(next);
    }
    return check;  // the reader gives its own message for what is missing
}

}  // namespace

std::string flvContainerProblem(const std::string& bytes, double& audioSeconds, bool& formatUnsupported) {
    audioSeconds = 0;
    formatUnsupported = false;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t size = bytes.size();
    if (size < 4 || std::memcmp(p, "FLV", 3) != 0 || p[3] != 1) return "no FLV version 1 header";
    const char* RUNS_PAST = "a tag runs past the end of the file";
    // The reader takes the tags from byte 9 on whatever the header says.
    size_t pos = FLV_HEADER_BYTES;
    uint32_t expectedTagSize = 0;
    bool haveFormat = false;
    uint8_t formatFlags = 0;
    uint64_t blocks = 0;
    int32_t rate = 0;
    while (pos < size) {
        if (size - pos < FLV_TAG_SIZE_BYTES) return RUNS_PAST;
        if (bigEndian(p + pos, 4) != expectedTagSize) return "a previous-tag size does not match its tag";
        pos += FLV_TAG_SIZE_BYTES;
        if (pos >= size) break;
        if (size - pos < FLV_TAG_HEADER_BYTES) return RUNS_PAST;
        const unsigned char* tag = p + pos;
        uint32_t dataSize = bigEndian(tag + 1, 3);
        if (tag[9] != 0 || tag[10] != 0) return "a tag has a nonzero stream identifier";
        if (size - pos - FLV_TAG_HEADER_BYTES < dataSize) return RUNS_PAST;
        if (tag[0] == FLV_TAG_AUDIO && dataSize != 0) {
            uint8_t flags = tag[FLV_TAG_HEADER_BYTES];
            if (!haveFormat) {
                int soundFormat = flags >> 4;
                if (soundFormat != 5 && soundFormat != 6) {
                    formatUnsupported = true;
                    return formatString("the audio is not Nellymoser (FLV sound format %d)", soundFormat);
                }
                static const int32_t RATES[4] = {5500, 11025, 22050, 44100};
                rate = soundFormat == 5 ? 8000 : RATES[(flags >> 2) & 3];
                formatFlags = flags;
                haveFormat = true;
            } else if (flags != formatFlags) {
                return "the audio format changes midstream";
            }
            blocks += (dataSize - 1) / NELLY_BLOCK_BYTES;
        }
        pos += FLV_TAG_HEADER_BYTES + dataSize;
        expectedTagSize = static_cast<uint32_t>(FLV_TAG_HEADER_BYTES + dataSize);
    }
    if (rate > 0) audioSeconds = static_cast<double>(blocks) * NELLY_BLOCK_SAMPLES / rate;
    return "";
}

uploadCheck checkUpload(const std::string& bytes, const std::string& format, double maxSeconds) {
    bool riff = bytes.size() >= 12 && bytes.compare(0, 4, "RIFF") == 0 && bytes.compare(8, 4, "WAVE") == 0;
    bool flv = bytes.size() >= 3 && bytes.compare(0, 3, "FLV") == 0;
    std::string kind = format;
    if (kind.empty()) {
        if (riff)
            kind = "wav";
        else if (flv)
            kind = "flv";
        else
            return failure(415, "unsupported_audio_format",
                           "the audio is neither RIFF WAVE nor FLV; headerless 16-bit 16 kHz samples need format=raw");
    }
    uploadCheck check;
    if (kind == "wav") {
        if (!riff) return failure(400, "unreadable_audio", "the audio has no RIFF WAVE header");
        check = checkWave(bytes);
    } else if (kind == "flv") {
        bool unsupported = false;
        std::string problem = flvContainerProblem(bytes, check.seconds, unsupported);
        if (!problem.empty())
            return failure(unsupported ? 415 : 400, unsupported ? "unsupported_audio_format" : "unreadable_audio",
                           "corrupt FLV audio: " + problem);
        check.extension = ".flv";
    } else if (kind == "raw") {
        if (bytes.size() < 2) return failure(400, "unreadable_audio", "the raw audio holds no sample");
        check.extension = ".raw";
        check.seconds = static_cast<double>(bytes.size() / 2) / RAW_RATE;
    } else {
        return failure(415, "unsupported_audio_format",
                       "format \"" + format + "\" is not one of wav, flv and raw");
    }
    if (check.status == 0 && check.seconds > maxSeconds)
        return failure(413, "audio_too_long",
                       formatString("the audio lasts %.1f s; at most %g s are taken", check.seconds, maxSeconds));
    return check;
}
