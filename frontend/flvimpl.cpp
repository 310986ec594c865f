#include "frontend/flvimpl.h"

#include "run/utility.h"
#include "run/outputSink.h"

// The headers give the types and struct layouts only: the functions come from
// the libraries opened at run time (nellyCodec), so no program links them.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include <dlfcn.h>

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

#define NELLY_STRINGIFY2(x) #x
#define NELLY_STRINGIFY(x) NELLY_STRINGIFY2(x)

// The functions of libavutil and libavcodec the decoder calls, typed by the
// headers' declarations.
struct nellyCodecApi {
    decltype(&avutil_version) avutilVersion = nullptr;
    decltype(&av_log_set_level) logSetLevel = nullptr;
    decltype(&av_frame_alloc) frameAlloc = nullptr;
    decltype(&av_frame_unref) frameUnref = nullptr;
    decltype(&av_frame_free) frameFree = nullptr;
    decltype(&avcodec_version) avcodecVersion = nullptr;
    decltype(&avcodec_find_decoder) findDecoder = nullptr;
    decltype(&avcodec_alloc_context3) allocContext = nullptr;
    decltype(&avcodec_free_context) freeContext = nullptr;
    decltype(&avcodec_open2) open = nullptr;
    decltype(&avcodec_send_packet) sendPacket = nullptr;
    decltype(&avcodec_receive_frame) receiveFrame = nullptr;
    decltype(&av_packet_alloc) packetAlloc = nullptr;
    decltype(&av_packet_free) packetFree = nullptr;
};

// One library being loaded: the first of its sonames that opens, and the
// functions resolved from it. The handle is closed unless kept.
class codecLibraryClass {
public:
    explicit codecLibraryClass(const char* library) : m_library(library) {}
    ~codecLibraryClass() {
        if (m_handle && !m_kept) dlclose(m_handle);
    }
    codecLibraryClass(const codecLibraryClass&) = delete;
    codecLibraryClass& operator=(const codecLibraryClass&) = delete;

    // Opens the first soname that loads. False, with the message, when none does.
    bool open(const std::vector<std::string>& sonames, std::string& error) {
        std::string tried, lastError;
        for (const std::string& soname : sonames) {
            m_handle = dlopen(soname.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (m_handle) {
                m_soname = soname;
                return true;
            }
            const char* why = dlerror();
            lastError = why ? why : "unknown error";
            tried += (tried.empty() ? "" : ", ") + soname;
        }
        error = formatString("Cannot load %s for FLV audio (tried %s): %s", m_library, tried.empty() ? "no name" : tried.c_str(),
                             lastError.empty() ? "no soname to try" : lastError.c_str());
        return false;
    }

    // Resolves one function; false, with the message, when the library lacks it.
    template <typename functionT>
    bool resolve(const char* name, functionT& function, std::string& error) {
        dlerror();
        void* address = dlsym(m_handle, name);
        if (!address) {
            error = formatString("Cannot use %s for FLV audio: %s has no function %s", m_library, m_soname.c_str(), name);
            return false;
        }
        function = reinterpret_cast<functionT>(address);
        return true;
    }

    // The functions were built against the headers' major version, whose
    // struct layouts the decoder uses; another major version is refused.
    bool checkMajor(unsigned version, unsigned headerMajor, std::string& error) const {
        if (AV_VERSION_MAJOR(version) == headerMajor) return true;
        error = formatString("Cannot use %s for FLV audio: %s is version %u.%u.%u, this program was built for %u", m_library,
                             m_soname.c_str(), AV_VERSION_MAJOR(version), AV_VERSION_MINOR(version),
                             AV_VERSION_MICRO(version), headerMajor);
        return false;
    }

    void keep() { m_kept = true; }

private:
    const char* m_library;
    void* m_handle = nullptr;
    std::string m_soname;
    bool m_kept = false;
};

// Opens both libraries and resolves every function; "" on success, else the
// message. With keepLoaded, on success the libraries stay loaded for the life
// of the process (api is then usable); otherwise they are closed again.
std::string loadNellyCodec(const nellyCodecSonames& sonames, nellyCodecApi& api, bool keepLoaded) {
    std::string error;
    codecLibraryClass avutil("libavutil"), avcodec("libavcodec");
    bool ok = avutil.open(sonames.avutil, error) && avutil.resolve("avutil_version", api.avutilVersion, error) &&
              avutil.checkMajor(api.avutilVersion(), LIBAVUTIL_VERSION_MAJOR, error) &&
              avutil.resolve("av_log_set_level", api.logSetLevel, error) &&
              avutil.resolve("av_frame_alloc", api.frameAlloc, error) &&
              avutil.resolve("av_frame_unref", api.frameUnref, error) &&
              avutil.resolve("av_frame_free", api.frameFree, error) && avcodec.open(sonames.avcodec, error) &&
              avcodec.resolve("avcodec_version", api.avcodecVersion, error) &&
              avcodec.checkMajor(api.avcodecVersion(), LIBAVCODEC_VERSION_MAJOR, error) &&
              avcodec.resolve("avcodec_find_decoder", api.findDecoder, error) &&
              avcodec.resolve("avcodec_alloc_context3", api.allocContext, error) &&
              avcodec.resolve("avcodec_free_context", api.freeContext, error) &&
              avcodec.resolve("avcodec_open2", api.open, error) &&
              avcodec.resolve("avcodec_send_packet", api.sendPacket, error) &&
              avcodec.resolve("avcodec_receive_frame", api.receiveFrame, error) &&
              avcodec.resolve("av_packet_alloc", api.packetAlloc, error) &&
              avcodec.resolve("av_packet_free", api.packetFree, error);
    if (!ok) return error;
    if (!keepLoaded) return "";
    avutil.keep();
    avcodec.keep();
    return "";
}

// The decoder's functions, loaded once per process at the first FLV file
// (thread-safe: a function-local static). A failure is reported and, since
// reportError throws, tried again at the next FLV file.
const nellyCodecApi& nellyCodec() {
    static const nellyCodecApi api = [] {
        nellyCodecApi loaded;
        std::string error = loadNellyCodec(defaultNellyCodecSonames(), loaded, true);
        if (!error.empty()) reportError(formatString("%s (line %d of %s)", error.c_str(), __LINE__, "flvimpl"));
        // The decoder's own log would only repeat what this reader reports.
        loaded.logSetLevel(AV_LOG_QUIET);
        return loaded;
    }();
    return api;
}

struct codecContextFree {
    void operator()(AVCodecContext* c) const { nellyCodec().freeContext(&c); }
};
struct packetFree {
    void operator()(AVPacket* p) const { nellyCodec().packetFree(&p); }
};
struct frameFree {
    void operator()(AVFrame* f) const { nellyCodec().frameFree(&f); }
};

// One libavcodec Nellymoser decoder; it carries the overlap from one block to
// the next, so a file uses a single instance for all of its blocks.
class nellyDecoderClass {
public:
    nellyDecoderClass() : m_api(nellyCodec()) {
        const AVCodec* codec = m_api.findDecoder(AV_CODEC_ID_NELLYMOSER);
        if (!codec) reportError(formatString("No Nellymoser decoder in libavcodec (line %d of %s)", __LINE__, "flvimpl"));
        m_context.reset(m_api.allocContext(codec));
        m_packet.reset(m_api.packetAlloc());
        m_frame.reset(m_api.frameAlloc());
        if (!m_context || !m_packet || !m_frame)
            reportError(formatString("Cannot allocate the Nellymoser decoder (line %d of %s)", __LINE__, "flvimpl"));
        // The rate does not change the decoding; libavcodec only wants one set.
        m_context->sample_rate = 8000;
        if (m_api.open(m_context.get(), codec, nullptr) < 0)
            reportError(formatString("Cannot open the Nellymoser decoder (line %d of %s)", __LINE__, "flvimpl"));
        // libavcodec may read a little past the end of its input.
        m_block.assign(NELLY_BLOCK_BYTES + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    }

    // Decodes one 64-byte block and appends its 256 samples as 16-bit values.
    void decodeBlock(const uint8_t* block, std::vector<int16_t>& samples) {
        std::memcpy(m_block.data(), block, NELLY_BLOCK_BYTES);
        m_packet->data = m_block.data();
        m_packet->size = NELLY_BLOCK_BYTES;
        if (m_api.sendPacket(m_context.get(), m_packet.get()) < 0)
            reportError(formatString("Nellymoser decoding failed (line %d of %s)", __LINE__, "flvimpl"));
        for (;;) {
            int status = m_api.receiveFrame(m_context.get(), m_frame.get());
            if (status == AVERROR(EAGAIN)) break;
            if (status < 0)
                reportError(formatString("Nellymoser decoding failed (line %d of %s)", __LINE__, "flvimpl"));
            if (m_frame->format != AV_SAMPLE_FMT_FLT && m_frame->format != AV_SAMPLE_FMT_FLTP)
                reportError(formatString("Unexpected Nellymoser sample format %d (line %d of %s)", m_frame->format,
                                         __LINE__, "flvimpl"));
            // Mono, so planar and packed float hold the same single plane.
            const float* decoded = reinterpret_cast<const float*>(m_frame->extended_data[0]);
            for (int i = 0; i < m_frame->nb_samples; ++i) samples.push_back(nellySampleToInt16(decoded[i]));
            m_api.frameUnref(m_frame.get());
        }
    }

    const nellyCodecApi& m_api;
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

nellyCodecSonames defaultNellyCodecSonames() {
    // The major versions of the headers first: their struct layouts are the
    // ones the decoder uses. The unversioned names are the development links.
    return {{"libavutil.so." NELLY_STRINGIFY(LIBAVUTIL_VERSION_MAJOR), "libavutil.so"},
            {"libavcodec.so." NELLY_STRINGIFY(LIBAVCODEC_VERSION_MAJOR), "libavcodec.so"}};
}

std::string nellyCodecLoadError(const nellyCodecSonames& sonames) {
    nellyCodecApi api;
    return loadNellyCodec(sonames, api, false);
}

std::vector<int32_t> readFlvAudioFile(const std::string& path, int32_t& sampleRate, int32_t& bitsPerSample) {
    int32_t channelCount = 1;
    std::vector<int16_t> decoded = decodeFlvAudio(path, sampleRate, bitsPerSample, channelCount);
    return std::vector<int32_t>(decoded.begin(), decoded.end());
}
