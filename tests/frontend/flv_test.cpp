#include "frontend/CaudioFile.h"
#include "frontend/flvimpl.h"
#include "flvFixtures.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <thread>
#include <sys/wait.h>

using flvFixture::audioTag;
using flvFixture::bigEndian;
using flvFixture::nellyBlocks;
using flvFixture::videoTag;

namespace {

struct flvResult {
    std::vector<int16_t> samples;
    int32_t rate = -1, bits = -1, channels = -1;
    std::string out, err;
};

flvResult decodeCaptured(const std::string& path) {
    flvResult r;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    r.samples = decodeFlvAudio(path, r.rate, r.bits, r.channels);
    r.err = testing::internal::GetCapturedStderr();
    r.out = testing::internal::GetCapturedStdout();
    return r;
}

std::vector<int16_t> to16(const std::vector<float>& decoded) {
    std::vector<int16_t> out;
    for (float x : decoded) out.push_back(nellySampleToInt16(x));
    return out;
}

bool exitedNormallyOrDeliberately(int status) {
    return WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 255);
}

}  // namespace

TEST(FlvConversion, ClipsAtFullScaleAndTruncatesTowardZero) {
    EXPECT_EQ(nellySampleToInt16(0.0f), 0);
    EXPECT_EQ(nellySampleToInt16(0.5f), 16384);
    EXPECT_EQ(nellySampleToInt16(-0.5f), -16384);
    EXPECT_EQ(nellySampleToInt16(1.7f / 32768), 1);
    EXPECT_EQ(nellySampleToInt16(-1.7f / 32768), -1);
    EXPECT_EQ(nellySampleToInt16(32766.9f / 32768), 32766);
    EXPECT_EQ(nellySampleToInt16(32767.0f / 32768), 32767);
    EXPECT_EQ(nellySampleToInt16(1.0f), 32767);
    EXPECT_EQ(nellySampleToInt16(3.0f), 32767);
    EXPECT_EQ(nellySampleToInt16(-32767.9f / 32768), -32767);
    EXPECT_EQ(nellySampleToInt16(-1.0f), -32768);
    EXPECT_EQ(nellySampleToInt16(-3.0f), -32768);
}

TEST(FlvFlags, NellymoserFormatsGiveRateWidthAndChannels) {
    struct caseT {
        uint8_t flags;
        int32_t rate, bits, channels;
    };
    const caseT cases[] = {
        {0x52, 8000, 16, 1},  {0x5F, 8000, 16, 1},  {0x50, 8000, 8, 1},   {0x6E, 44100, 16, 1},
        {0x63, 5500, 16, 2},  {0x66, 11025, 16, 1}, {0x69, 22050, 8, 2},  {0x6C, 44100, 8, 1},
    };
    for (const caseT& c : cases) {
        int32_t rate = 0, bits = 0, channels = 0;
        parseAudioFlags(c.flags, rate, bits, channels);
        EXPECT_EQ(rate, c.rate) << std::hex << int(c.flags);
        EXPECT_EQ(bits, c.bits) << std::hex << int(c.flags);
        EXPECT_EQ(channels, c.channels) << std::hex << int(c.flags);
    }
}

TEST(FlvFlagsDeathTest, OtherSoundFormatsEndTheProcess) {
    int32_t rate, bits, channels;
    EXPECT_EXIT(parseAudioFlags(0x22, rate, bits, channels), testing::ExitedWithCode(255), "^stream is not Nellymoser\n$");
    EXPECT_EXIT(parseAudioFlags(0x72, rate, bits, channels), testing::ExitedWithCode(255), "stream is not Nellymoser");
    scratchDir dir;
    std::string path = dir.write("mp3.flv", flvFixture::file({audioTag(0x22, nellyBlocks(1))}));
    EXPECT_EXIT(decodeFlvAudio(path, rate, bits, channels), testing::ExitedWithCode(255), "^stream is not Nellymoser\n$");
}

TEST(FlvDecode, BlocksOfAllAudioTagsMatchOneDecoderOverTheSameBlocks) {
    // The decoder carries overlap from block to block, so the second tag's
    // samples are only right when one decoder serves the whole file.
    std::string blocks = nellyBlocks(5);
    std::string first = blocks.substr(0, 2 * 64), second = blocks.substr(2 * 64);
    scratchDir dir;
    std::string path = dir.write("a.flv", flvFixture::file({audioTag(0x6E, first), videoTag(30), audioTag(0x6E, second)}));
    flvResult r = decodeCaptured(path);
    EXPECT_EQ(r.rate, 44100);
    EXPECT_EQ(r.bits, 16);
    EXPECT_EQ(r.channels, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    std::vector<int16_t> expected = to16(flvFixture::referenceDecode(blocks));
    ASSERT_EQ(expected.size(), 5u * 256);
    EXPECT_EQ(r.samples, expected);
    // The tone is audible, not silence.
    int peak = 0;
    for (int16_t s : r.samples) peak = std::max(peak, std::abs(int(s)));
    EXPECT_GT(peak, 3000);

    int32_t rate = 0, bits = 0;
    std::vector<int32_t> wide = readFlvAudioFile(path, rate, bits);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(bits, 16);
    EXPECT_EQ(wide, std::vector<int32_t>(expected.begin(), expected.end()));
}

TEST(FlvDecode, AudioFileReaderDispatchesFlvPaths) {
    std::string blocks = nellyBlocks(3);
    std::vector<int16_t> decoded = to16(flvFixture::referenceDecode(blocks));
    std::vector<int32_t> expected(decoded.begin(), decoded.end());
    scratchDir dir;
    std::string bytes = flvFixture::file({audioTag(0x66, blocks)});
    for (const char* name : {"a.flv", "B.FLV", "noDotflv"}) {
        int32_t rate = 0, bits = 0;
        std::vector<int32_t> samples = readAudioFile(dir.write(name, bytes), rate, bits);
        EXPECT_EQ(samples, expected) << name;
        EXPECT_EQ(rate, 11025) << name;
        EXPECT_EQ(bits, 16) << name;
    }
}

TEST(FlvDecode, WholeBlocksOnlyAndEmptyAudioTags) {
    std::string blocks = nellyBlocks(3);
    scratchDir dir;
    // Data size 65: flags and one block. Data size 1: flags only.
    flvResult one = decodeCaptured(dir.write("one.flv", flvFixture::file({audioTag(0x52, blocks.substr(0, 64))})));
    EXPECT_EQ(one.samples.size(), 256u);
    flvResult none = decodeCaptured(dir.write("none.flv", flvFixture::file({audioTag(0x52, "")})));
    EXPECT_TRUE(none.samples.empty());
    EXPECT_EQ(none.rate, 8000);
    EXPECT_EQ(none.bits, 16);
    EXPECT_EQ(none.err, "");

    // A remainder shorter than a block is skipped; the next tag's blocks follow
    // on directly. An audio tag without data fixes no format, so a later tag
    // may carry different flags.
    std::string odd = blocks.substr(0, 64) + std::string(10, '\x5A');
    flvResult r = decodeCaptured(dir.write("odd.flv", flvFixture::file({flvFixture::tag(8, ""), audioTag(0x50, odd),
                                                                         audioTag(0x50, blocks.substr(64))})));
    EXPECT_EQ(r.samples, to16(flvFixture::referenceDecode(blocks)));
    EXPECT_EQ(r.rate, 8000);
    EXPECT_EQ(r.bits, 8);
    EXPECT_EQ(r.err, "");
}

TEST(FlvDecode, FilesWithoutAudio) {
    scratchDir dir;
    // Header and one previous-tag size: nothing, silently.
    flvResult headerOnly = decodeCaptured(dir.write("h.flv", flvFixture::header() + bigEndian(0, 4)));
    EXPECT_TRUE(headerOnly.samples.empty());
    EXPECT_EQ(headerOnly.rate, 0);
    EXPECT_EQ(headerOnly.bits, 0);
    EXPECT_EQ(headerOnly.channels, 1);
    EXPECT_EQ(headerOnly.out + headerOnly.err, "");
    // The stream may also end right after the header, or after a video tag;
    // the first byte of the stream identifier is not checked.
    EXPECT_EQ(decodeCaptured(dir.write("h9.flv", flvFixture::header())).out, "");
    flvResult video = decodeCaptured(dir.write("v.flv", flvFixture::file({flvFixture::tag(9, "abc", 0x010000)})));
    EXPECT_TRUE(video.samples.empty());
    EXPECT_EQ(video.out + video.err, "");

    flvResult empty = decodeCaptured(dir.write("empty.flv", ""));
    EXPECT_TRUE(empty.samples.empty());
    EXPECT_EQ(empty.rate, 0);
    EXPECT_EQ(empty.bits, 0);
    EXPECT_EQ(empty.channels, 1);
    EXPECT_TRUE(testing::internal::RE::FullMatch(empty.out, "Warning: flvFileSize=0! \\(line [0-9]+ of flvimpl\\)\n"))
        << empty.out;
    EXPECT_EQ(empty.err, "");
}

TEST(FlvDecode, UnreadableOrForeignFilesGiveNoSamples) {
    scratchDir dir;
    for (const std::string& bytes : {std::string("FL"), std::string("FLV"), flvFixture::header(2), std::string("RIFF....WAVE")}) {
        flvResult r = decodeCaptured(dir.write("x.flv", bytes));
        EXPECT_TRUE(r.samples.empty());
        EXPECT_EQ(r.err, "Unknown file format!\n");
        EXPECT_EQ(r.out, "");
    }
    flvResult missing = decodeCaptured(dir.file("missing.flv"));
    EXPECT_TRUE(missing.samples.empty());
    EXPECT_EQ(missing.err, "flv_fopen: No such file or directory\n");
    flvResult directory = decodeCaptured(dir.m_path);
    EXPECT_TRUE(directory.samples.empty());
    EXPECT_EQ(directory.err, "flv_fopen: Is a directory\n");
    flvResult noPath = decodeCaptured("");
    EXPECT_TRUE(noPath.samples.empty());
    EXPECT_EQ(noPath.err.rfind("flv_flvFile is NULL: ", 0), 0u) << noPath.err;
    EXPECT_EQ(noPath.rate, 0);
    EXPECT_EQ(noPath.channels, 1);
}

TEST(FlvDecodeDeathTest, CorruptContainersEndTheProcess) {
    scratchDir dir;
    std::string blocks = nellyBlocks(2);
    std::string a = audioTag(0x52, blocks.substr(0, 64)), b = audioTag(0x52, blocks.substr(64));
    std::string v = videoTag(20);
    int32_t rate, bits, channels;
    auto expectCorrupt = [&](const std::string& name, const std::string& bytes, const std::string& reason) {
        std::string path = dir.write(name, bytes);
        EXPECT_EXIT(decodeFlvAudio(path, rate, bits, channels), testing::ExitedWithCode(255),
                    "^Corrupt file \\(" + reason + "\\)\n$")
            << name;
    };
    std::string good = flvFixture::file({a, v, b});
    std::string head = flvFixture::header();

    expectCorrupt("first.flv", head + bigEndian(11, 4) + a + bigEndian(uint32_t(a.size()), 4), "tag size check failed");
    // After a video tag the size must be 11 + its data size, not the data size.
    expectCorrupt("video.flv", head + bigEndian(0, 4) + v + bigEndian(20, 4) + b, "tag size check failed");
    expectCorrupt("padding.flv", flvFixture::file({a, flvFixture::tag(9, "x", 0x000100)}), "tag padding ignored");
    expectCorrupt("padding2.flv", flvFixture::file({flvFixture::tag(8, "", 0x000001)}), "tag padding ignored");
    expectCorrupt("change.flv", flvFixture::file({a, v, audioTag(0x53, blocks.substr(64))}),
                  "changed audio format midstream");
    // Truncated inside a previous-tag size, a tag header and tag data.
    expectCorrupt("cut1.flv", good.substr(0, 11), "tag runs past the end of the file");
    expectCorrupt("cut2.flv", good.substr(0, 13 + 10), "tag runs past the end of the file");
    expectCorrupt("cut3.flv", good.substr(0, 13 + 11 + 40), "tag runs past the end of the file");
    expectCorrupt("cut4.flv", good.substr(0, good.size() - 2), "tag runs past the end of the file");
    // A data size far beyond the file.
    std::string huge = good;
    huge[13 + 1] = '\xFF';
    expectCorrupt("huge.flv", huge, "tag runs past the end of the file");
    // The good file itself decodes.
    flvResult r = decodeCaptured(dir.write("good.flv", good));
    EXPECT_EQ(r.samples.size(), 512u);
    EXPECT_EQ(r.err, "");
}

// Every damaged variant of a valid file must either return or end the process
// deliberately (status 255); never crash or read outside the file (run under
// the sanitizers).
TEST(FlvDecodeDeathTest, DamagedFilesNeverCrash) {
    scratchDir dir;
    std::string blocks = nellyBlocks(4);
    std::string good = flvFixture::file({audioTag(0x52, blocks.substr(0, 128) + "xyz"), videoTag(7),
                                         flvFixture::tag(18, "meta"), audioTag(0x52, blocks.substr(128))});
    std::mt19937 random(12345);
    std::vector<std::string> variants;
    for (size_t n = 1; n < good.size(); n += (n < 64 ? 1 : 13)) variants.push_back(good.substr(0, n));
    for (int i = 0; i < 120; ++i) {
        std::string damaged = good;
        int changes = 1 + static_cast<int>(random() % 3);
        for (int c = 0; c < changes; ++c) {
            // Mostly the container bytes near the start, sometimes anywhere.
            size_t at = (random() % 2) ? random() % 40 : random() % damaged.size();
            damaged[at] = static_cast<char>(random() % 256);
        }
        variants.push_back(damaged);
    }
    int32_t rate, bits, channels;
    for (size_t i = 0; i < variants.size(); ++i) {
        std::string path = dir.write("v" + std::to_string(i) + ".flv", variants[i]);
        EXPECT_EXIT(
            {
                decodeFlvAudio(path, rate, bits, channels);
                std::exit(0);
            },
            exitedNormallyOrDeliberately, "")
            << "variant " << i;
    }
}

// The decoder's libraries are opened by soname at run time; these cases name
// other sonames to see each way loading can fail.
TEST(FlvCodecLibraries, DefaultSonamesLoadAndFailuresNameTheLibrary) {
    nellyCodecSonames defaults = defaultNellyCodecSonames();
    ASSERT_FALSE(defaults.avutil.empty());
    ASSERT_FALSE(defaults.avcodec.empty());
    // The headers' major versions come first: their struct layouts are used.
    EXPECT_EQ(defaults.avutil.front(), "libavutil.so." + std::to_string(LIBAVUTIL_VERSION_MAJOR));
    EXPECT_EQ(defaults.avcodec.front(), "libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR));
    EXPECT_EQ(nellyCodecLoadError(defaults), "");

    // A soname that does not load is passed over for the next one.
    nellyCodecSonames fallback = defaults;
    fallback.avcodec.insert(fallback.avcodec.begin(), "libnoSuchCodec.so.1");
    EXPECT_EQ(nellyCodecLoadError(fallback), "");

    nellyCodecSonames noCodec{defaults.avutil, {"libnoSuchCodec.so.1", "libnoSuchCodec.so"}};
    std::string error = nellyCodecLoadError(noCodec);
    EXPECT_EQ(error.rfind("Cannot load libavcodec for FLV audio (tried libnoSuchCodec.so.1, libnoSuchCodec.so): ", 0), 0u)
        << error;
    EXPECT_NE(error.find("libnoSuchCodec.so: cannot open shared object file"), std::string::npos) << error;

    nellyCodecSonames noUtil{{"libnoSuchUtil.so.1"}, defaults.avcodec};
    error = nellyCodecLoadError(noUtil);
    EXPECT_EQ(error.rfind("Cannot load libavutil for FLV audio (tried libnoSuchUtil.so.1): ", 0), 0u) << error;
    EXPECT_EQ(nellyCodecLoadError({defaults.avutil, {}}),
              "Cannot load libavcodec for FLV audio (tried no name): no soname to try");

    // A library that loads but lacks the functions: the first one looked up is named.
    EXPECT_EQ(nellyCodecLoadError({defaults.avutil, {"libm.so.6"}}),
              "Cannot use libavcodec for FLV audio: libm.so.6 has no function avcodec_version");
    EXPECT_EQ(nellyCodecLoadError({{"libm.so.6"}, defaults.avcodec}),
              "Cannot use libavutil for FLV audio: libm.so.6 has no function avutil_version");
}

// Files decoded at once on several threads (the first of them may be the one
// that loads the libraries) each get their own decoder and the same samples as
// one at a time.
TEST(FlvDecode, ConcurrentDecodesMatchTheReference) {
    std::string blocks = nellyBlocks(8);
    std::vector<int16_t> expected = to16(flvFixture::referenceDecode(blocks));
    scratchDir dir;
    std::string path = dir.write("t.flv", flvFixture::file({audioTag(0x52, blocks)}));
    constexpr int THREADS = 4;
    std::vector<std::vector<int16_t>> results(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t)
        threads.emplace_back([&, t] {
            int32_t rate = 0, bits = 0, channels = 0;
            for (int round = 0; round < 5; ++round) results[t] = decodeFlvAudio(path, rate, bits, channels);
        });
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < THREADS; ++t) EXPECT_EQ(results[t], expected) << "thread " << t;
}
