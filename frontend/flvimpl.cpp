#include "frontend/flvimpl.h"

#include "run/utility.h"
#include "run/outputSink.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <sys/stat.h>

namespace {

constexpr size_t FLV_HEADER_BYTES = 9;
constexpr size_t FLV_TAG_SIZE_BYTES = 4;
constexpr size_t FLV_TAG_HEADER_BYTES = 11;
constexpr uint8_t FLV_TAG_AUDIO = 8;
constexpr size_t READ_CHUNK_BYTES = 1 << 16;

uint32_t bigEndian(const uint8_t* p, int byteCount) {
    uint32_t value = 0;
    for (int i = 0; i < byteCount; ++i) value = (value << 8) | p[i];
    return value;
}

// A corrupt container ends the process; callers may rely on the status.
[[noreturn]] void reportCorruptFlv(const char* reason) {
    std::fprintf(stderr, "Corrupt file (%s)\n", reason);
    std::exit(-1);
}

struct codecContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct packetFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct frameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};

// One libavcodec Nellymoser decoder; it carries the overlap from one block to
// the next, so a file uses a single instance for all of its blocks.
class nellyDecoderClass {
public:
    nellyDecoderClass() {
        // The decoder's own log would only repeat what this reader reports.
        av_log_set_level(AV_LOG_QUIET);
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_NELLYMOSER);
        if (!codec) reportError(formatString("No Nellymoser decoder in libavcodec (line %d of %s)", __LINE__, "flvimpl"));
        m_context.reset(avcodec_alloc_context3(codec));
        m_packet.reset(av_packet_alloc());
        m_frame.reset(av_frame_alloc());
        if (!m_context || !m_packet || !m_frame)
            reportError(formatString("Cannot allocate the Nellymoser decoder (line %d of %s)", __LINE__, "flvimpl"));
        // The rate does not change the decoding; libavcodec only wants one set.
        m_context->sample_rate = 8000;
        if (avcodec_open2(m_context.get(), codec, nullptr) < 0)
            reportError(formatString("Cannot open the Nellymoser decoder (line %d of %s)", __LINE__, "flvimpl"));
        // libavcodec may read a little past the end of its input.
        m_block.assign(NELLY_BLOCK_BYTES + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    }

    // Decodes one 64-byte block and appends its 256 samples as 16-bit values.
    void decodeBlock(const uint8_t* block, std::vector<int16_t>& samples) {
        std::memcpy(m_block.data(), block, NELLY_BLOCK_BYTES);
        m_packet->data = m_block.data();
        m_packet->size = NELLY_BLOCK_BYTES;
        if (avcodec_send_packet(m_context.get(), m_packet.get()) < 0)
            reportError(formatString("Nellymoser decoding failed (line %d of %s)", __LINE__, "flvimpl"));
        for (;;) {
            int status = avcodec_receive_frame(m_context.get(), m_frame.get());
            if (status == AVERROR(EAGAIN)) break;
            if (status < 0)
                reportError(formatString("Nellymoser decoding failed (line %d of %s)", __LINE__, "flvimpl"));
            if (m_frame->format != AV_SAMPLE_FMT_FLT && m_frame->format != AV_SAMPLE_FMT_FLTP)
                reportError(formatString("Unexpected Nellymoser sample format %d (line %d of %s)", m_frame->format,
                                         __LINE__, "flvimpl"));
            // Mono, so planar and packed float hold the same single plane.
            const float* decoded = reinterpret_cast<const float*>(m_frame->extended_data[0]);
            for (int i = 0; i < m_frame->nb_samples; ++i) samples.push_back(nellySampleToInt16(decoded[i]));
            av_frame_unref(m_frame.get());
        }
    }

    std::unique_ptr<AVCodecContext, codecContextFree> m_context;
    std::unique_ptr<AVPacket, packetFree> m_packet;
    std::unique_ptr<AVFrame, frameFree> m_frame;
    std::vector<uint8_t> m_block;  // one block followed by the padding libavcodec asks for
};

// Reads the whole file. False, after the system error, when it cannot.
bool readFlvBytes(const std::string& path, std::vector<uint8_t>& bytes) {
    filePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        std::perror("flv_fopen");
        return false;
    }
    struct stat info {};
    bool haveInfo = fstat(fileno(file.get()), &info) == 0;
    if (haveInfo && S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        std::perror("flv_fopen");
        return false;
    }
    try {
        if (haveInfo && S_ISREG(info.st_mode) && info.st_size > 0) bytes.reserve(static_cast<size_t>(info.st_size));
        // Read in chunks rather than trusting a size taken beforehand.
        size_t used = 0;
        for (;;) {
            bytes.resize(used + READ_CHUNK_BYTES);
            size_t got = std::fread(bytes.data() + used, 1, READ_CHUNK_BYTES, file.get());
            used += got;
            if (got < READ_CHUNK_BYTES) break;
        }
        bytes.resize(used);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        std::perror("flv_malloc");
        return false;
    }
    if (std::ferror(file.get())) {
        std::perror("flv_fopen");
        return false;
    }
    return true;
}

}  // namespace

int16_t nellySampleToInt16(float value) {
    float scaled = value * 32768.0f;
    if (std::isnan(scaled)) return 0;  // no 16-bit value; libavcodec does not produce it
    if (scaled >= 32767.0f) return 32767;
    if (scaled <= -32768.0f) return -32768;
    return static_cast<int16_t>(scaled);
}

void parseAudioFlags(uint8_t flags, int32_t& sampleRate, int32_t& bitsPerSample, int32_t& channelCount) {
    static const int32_t RATES[4] = {5500, 11025, 22050, 44100};
    int soundFormat = flags >> 4;
    if (soundFormat == 5) {
        sampleRate = 8000;
        channelCount = 1;
    } else if (soundFormat == 6) {
        sampleRate = RATES[(flags >> 2) & 3];
        channelCount = 1 + (flags & 1);
    } else {
        std::fprintf(stderr, "stream is not Nellymoser\n");
        std::exit(-1);
    }
    bitsPerSample = (flags & 2) ? 16 : 8;
}

std::vector<int16_t> decodeFlvAudio(const std::string& path, int32_t& sampleRate, int32_t& bitsPerSample,
                                    int32_t& channelCount) {
    sampleRate = 0;
    bitsPerSample = 0;
    channelCount = 1;
    std::vector<int16_t> samples;
    if (path.empty()) {
        errno = ENOENT;
        std::perror("flv_flvFile is NULL");
        return samples;
    }
    std::vector<uint8_t> bytes;
    if (!readFlvBytes(path, bytes)) return samples;
    if (bytes.empty()) {
        sinkPrintf("Warning: flvFileSize=0! (line %d of %s)\n", __LINE__, "flvimpl");
        return samples;
    }
    if (bytes.size() < 4 || std::memcmp(bytes.data(), "FLV", 3) != 0 || bytes[3] != 1) {
        std::fprintf(stderr, "Unknown file format!\n");
        return samples;
    }

    nellyDecoderClass decoder;
    const size_t size = bytes.size();
    const char* RUNS_PAST = "tag runs past the end of the file";
    size_t pos = FLV_HEADER_BYTES;
    uint32_t expectedTagSize = 0;
    bool haveFormat = false;
    uint8_t formatFlags = 0;
    while (pos < size) {
        if (size - pos < FLV_TAG_SIZE_BYTES) reportCorruptFlv(RUNS_PAST);
        if (bigEndian(&bytes[pos], 4) != expectedTagSize) reportCorruptFlv("tag size check failed");
        pos += FLV_TAG_SIZE_BYTES;
        if (pos >= size) break;

        if (size - pos < FLV_TAG_HEADER_BYTES) reportCorruptFlv(RUNS_PAST);
        const uint8_t* tag = &bytes[pos];
        uint8_t tagType = tag[0];
        uint32_t dataSize = bigEndian(tag + 1, 3);
        if (tag[9] != 0 || tag[10] != 0) reportCorruptFlv("tag padding ignored");
        if (size - pos - FLV_TAG_HEADER_BYTES < dataSize) reportCorruptFlv(RUNS_PAST);

        if (tagType == FLV_TAG_AUDIO && dataSize != 0) {
            const uint8_t* data = tag + FLV_TAG_HEADER_BYTES;
            if (!haveFormat) {
                parseAudioFlags(data[0], sampleRate, bitsPerSample, channelCount);
                formatFlags = data[0];
                haveFormat = true;
            } else if (data[0] != formatFlags) {
                reportCorruptFlv("changed audio format midstream");
            }
            // Whole blocks only; a shorter remainder is ignored.
            size_t blockCount = (dataSize - 1) / NELLY_BLOCK_BYTES;
            for (size_t b = 0; b < blockCount; ++b) decoder.decodeBlock(data + 1 + b * NELLY_BLOCK_BYTES, samples);
        }
        pos += FLV_TAG_HEADER_BYTES + dataSize;
        expectedTagSize = static_cast<uint32_t>(FLV_TAG_HEADER_BYTES + dataSize);
    }
    return samples;
}

std::vector<int32_t> readFlvAudioFile(const std::string& path, int32_t& sampleRate, int32_t& bitsPerSample) {
    int32_t channelCount = 1;
    std::vector<int16_t> decoded = decodeFlvAudio(path, sampleRate, bitsPerSample, channelCount);
    return std::vector<int32_t>(decoded.begin(), decoded.end());
}
