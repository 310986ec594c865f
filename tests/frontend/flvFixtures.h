// FLV test files built in memory, with Nellymoser blocks from libavcodec's
// encoder and a reference decoding that is independent of the FLV reader.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/version.h>
}

#include <cmath>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace flvFixture {

inline std::string bigEndian(uint32_t value, int byteCount) {
    std::string out;
    for (int i = byteCount - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

// The 9-byte file header: "FLV", version, type flags (audio), header size 9.
inline std::string header(uint8_t version = 1) {
    return std::string("FLV") + static_cast<char>(version) + '\x04' + bigEndian(9, 4);
}

// One tag: 11-byte header and its data.
inline std::string tag(uint8_t type, const std::string& data, uint32_t streamId = 0, uint32_t timestamp = 0) {
    return std::string(1, static_cast<char>(type)) + bigEndian(static_cast<uint32_t>(data.size()), 3) +
           bigEndian(timestamp & 0xFFFFFF, 3) + '\0' + bigEndian(streamId, 3) + data;
}

inline std::string audioTag(uint8_t flags, const std::string& blocks) {
    return tag(8, std::string(1, static_cast<char>(flags)) + blocks);
}

inline std::string videoTag(size_t dataSize) { return tag(9, std::string(dataSize, '\x17')); }

// A well-formed file: header, previous-tag size 0, then every tag followed by
// its size.
inline std::string file(const std::vector<std::string>& tags) {
    std::string out = header() + bigEndian(0, 4);
    for (const std::string& t : tags) out += t + bigEndian(static_cast<uint32_t>(t.size()), 4);
    return out;
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
using contextPtr = std::unique_ptr<AVCodecContext, codecContextFree>;
using packetPtr = std::unique_ptr<AVPacket, packetFree>;
using framePtr = std::unique_ptr<AVFrame, frameFree>;

inline void setMono(AVCodecContext* c) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 24, 100)
    av_channel_layout_default(&c->ch_layout, 1);
#else
    c->channels = 1;
    c->channel_layout = AV_CH_LAYOUT_MONO;
#endif
}

inline void copyLayout(AVFrame* f, const AVCodecContext* c) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 24, 100)
    av_channel_layout_copy(&f->ch_layout, &c->ch_layout);
#else
    f->channels = c->channels;
    f->channel_layout = c->channel_layout;
#endif
}

// blockCount Nellymoser blocks of 64 bytes, concatenated, encoding a tone of
// changing pitch and loudness (the same bytes on every call).
inline std::string nellyBlocks(int blockCount) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_NELLYMOSER);
    if (!codec) throw std::runtime_error("libavcodec has no Nellymoser encoder");
    contextPtr context(avcodec_alloc_context3(codec));
    context->sample_rate = 8000;
    context->sample_fmt = AV_SAMPLE_FMT_FLT;
    setMono(context.get());
    if (avcodec_open2(context.get(), codec, nullptr) < 0) throw std::runtime_error("cannot open the encoder");
    packetPtr packet(av_packet_alloc());
    framePtr frame(av_frame_alloc());
    std::string blocks;
    long sampleIndex = 0;
    for (int round = 0; static_cast<int>(blocks.size()) < 64 * blockCount; ++round) {
        if (round > blockCount + 16) throw std::runtime_error("the encoder gives no blocks");
        frame->nb_samples = context->frame_size;
        frame->format = AV_SAMPLE_FMT_FLT;
        copyLayout(frame.get(), context.get());
        if (av_frame_get_buffer(frame.get(), 0) < 0) throw std::runtime_error("no frame buffer");
        float* data = reinterpret_cast<float*>(frame->data[0]);
        for (int i = 0; i < frame->nb_samples; ++i, ++sampleIndex) {
            double t = sampleIndex / 8000.0;
            double loudness = 0.2 + 0.6 * std::fabs(std::sin(2 * M_PI * 1.3 * t));
            data[i] = static_cast<float>(loudness * std::sin(2 * M_PI * (300 + 400 * t) * t) +
                                         0.1 * std::sin(2 * M_PI * 2100 * t));
        }
        if (avcodec_send_frame(context.get(), frame.get()) < 0) throw std::runtime_error("encoding failed");
        av_frame_unref(frame.get());
        while (avcodec_receive_packet(context.get(), packet.get()) == 0) {
            blocks.append(reinterpret_cast<const char*>(packet->data), static_cast<size_t>(packet->size));
            av_packet_unref(packet.get());
        }
    }
    blocks.resize(static_cast<size_t>(64 * blockCount));
    return blocks;
}

// Decodes concatenated blocks with a fresh libavcodec decoder, all in one
// packet, and returns the float samples (full scale 1.0).
inline std::vector<float> referenceDecode(const std::string& blocks) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_NELLYMOSER);
    if (!codec) throw std::runtime_error("libavcodec has no Nellymoser decoder");
    contextPtr context(avcodec_alloc_context3(codec));
    context->sample_rate = 8000;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) throw std::runtime_error("cannot open the decoder");
    packetPtr packet(av_packet_alloc());
    framePtr frame(av_frame_alloc());
    if (av_new_packet(packet.get(), static_cast<int>(blocks.size())) < 0) throw std::runtime_error("no packet");
    std::copy(blocks.begin(), blocks.end(), packet->data);
    if (avcodec_send_packet(context.get(), packet.get()) < 0) throw std::runtime_error("decoding failed");
    std::vector<float> out;
    while (avcodec_receive_frame(context.get(), frame.get()) == 0) {
        const float* data = reinterpret_cast<const float*>(frame->extended_data[0]);
        out.insert(out.end(), data, data + frame->nb_samples);
        av_frame_unref(frame.get());
    }
    return out;
}

}  // namespace flvFixture
