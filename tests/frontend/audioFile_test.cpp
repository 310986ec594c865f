#include "frontend/CaudioFile.h"
#include "run/utility.h"
#include "testUtil.h"
#include "waveFixtures.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>

using namespace waveFixtures;

namespace {

// errorOf without the message on standard output (the damaged-file sweeps
// raise thousands of errors).
std::string quietErrorOf(const std::function<void()>& call) {
    testing::internal::CaptureStdout();
    std::string message = errorOf(call);
    testing::internal::GetCapturedStdout();
    return message;
}

// "Can't open wave file <path> (line <digits> in audioFile)".
bool isWaveOpenError(const std::string& message, const std::string& path) {
    std::string prefix = "Can't open wave file " + path + " (line ";
    std::string suffix = " in audioFile)";
    if (message.size() <= prefix.size() + suffix.size() || message.compare(0, prefix.size(), prefix) != 0 ||
        message.compare(message.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    std::string line = message.substr(prefix.size(), message.size() - prefix.size() - suffix.size());
    return line.find_first_not_of("0123456789") == std::string::npos;
}

struct audioRead {
    std::vector<int32_t> samples;
    int32_t sampleRate = -1;
    int32_t bitsPerSample = -1;
};

audioRead readBytesAs(const scratchDir& dir, const std::string& name, const std::string& bytes) {
    audioRead r;
    r.samples = readAudioFile(dir.write(name, bytes), r.sampleRate, r.bitsPerSample);
    return r;
}

}  // namespace

TEST(AudioFile, ExtensionIsTheLastThreeCharactersCaseSensitive) {
    scratchDir dir;
    std::string wave = pcmWave({1, -2, 3}, 16000, 16);
    // Listed endings are read as WAV files, with or without a dot before them.
    for (const char* name : {"a.wav", "a.WAV", "a.wa1", "a.WA1", "a.wa2", "a.WA2", "awav"}) {
        audioRead r = readBytesAs(dir, name, wave);
        EXPECT_EQ(r.samples, (std::vector<int32_t>{1, -2, 3})) << name;
    }
    // Mixed case, other endings and paths too short to have three characters are refused.
    for (const char* name : {"a.Wav", "a.wAV", "a.txt", "a.wav2", "wa"}) {
        std::string path = dir.write(name, wave);
        int32_t rate = 0, bits = 0;
        EXPECT_EQ(quietErrorOf([&] { readAudioFile(path, rate, bits); }),
                  "Cannot read audio file \"" + path + "\" based on its extension name...");
    }
    int32_t rate = 0, bits = 0;
    EXPECT_EQ(quietErrorOf([&] { readAudioFile("", rate, bits); }),
              "Cannot read audio file \"\" based on its extension name...");
}

TEST(AudioFile, SixteenBitStereoStaysInterleaved) {
    scratchDir dir;
    std::vector<int32_t> samples;
    for (int i = 0; i < 16000; ++i) {
        samples.push_back(i % 1000);        // left
        samples.push_back(-(i % 1000) - 1);  // right
    }
    samples[0] = -32768;
    samples[1] = 32767;
    audioRead r = readBytesAs(dir, "stereo.wav", pcmWave(samples, 16000, 16, 2));
    EXPECT_EQ(r.sampleRate, 16000);
    EXPECT_EQ(r.bitsPerSample, 16);
    ASSERT_EQ(r.samples.size(), 32000u);
    EXPECT_EQ(r.samples, samples);
}

TEST(AudioFile, EightBitValuesStayUnsigned) {
    scratchDir dir;
    audioRead r = readBytesAs(dir, "u8.wav", pcmWave({0, 127, 128, 129, 255}, 11025, 8));
    EXPECT_EQ(r.samples, (std::vector<int32_t>{0, 127, 128, 129, 255}));
    EXPECT_EQ(r.sampleRate, 11025);
    EXPECT_EQ(r.bitsPerSample, 8);
}

TEST(AudioFile, MuLawIsDecodedToSixteenBits) {
    scratchDir dir;
    std::string data("\xFF\x00\x80\x7F\xF0\x0F", 6);
    audioRead r = readBytesAs(dir, "mulaw.wav", riffWave(chunk("fmt ", fmtData(7, 1, 8000, 8)) + chunk("data", data)));
    // 0x7F: complement 0x80 = -0; 0xF0: complement 0x0F = +(0 + 15 << 3); 0x0F: complement 0xF0 = -(16764 + 0).
    EXPECT_EQ(r.samples, (std::vector<int32_t>{0, -32124, 32124, 0, 120, -16764}));
    EXPECT_EQ(r.bitsPerSample, 16);
    EXPECT_EQ(r.sampleRate, 8000);

    waveClass wave(1, 8000, 8);
    ASSERT_TRUE(wave.read(dir.file("mulaw.wav")));
    EXPECT_EQ(wave.m_format.m_formatTag, 1);
    EXPECT_EQ(wave.m_format.m_blockAlign, 2);
    EXPECT_EQ(wave.m_format.m_avgBytesPerSec, 16000u);
    EXPECT_EQ(wave.sampleByteCount(), 12);
}

TEST(AudioFile, OtherChunksAndPadBytesArePassedOver) {
    scratchDir dir;
    // A top-level chunk before the RIFF, an odd-sized fmt chunk (19 bytes: one
    // byte beyond the record, then a pad byte), an odd LIST chunk with its pad,
    // a fact chunk, and an odd data chunk of 8-bit samples.
    std::string fmt = fmtData(1, 1, 22050, 8) + le16(0) + std::string(1, 'x');
    std::string body = chunk("fmt ", fmt) + chunk("LIST", "abc") + chunk("fact", le32(3)) +
                       chunk("data", std::string("\x01\x02\x03", 3));
    std::string file = chunk("JUNK", "zz") + riffWave(body);
    audioRead r = readBytesAs(dir, "chunks.wav", file);
    EXPECT_EQ(r.samples, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(r.sampleRate, 22050);
    EXPECT_EQ(r.bitsPerSample, 8);

    // A 16-bit data chunk of odd size drops its trailing byte.
    std::string odd = riffWave(chunk("fmt ", fmtData(1, 1, 16000, 16)) + chunk("data", pcm16({5, -6}) + "\x07"));
    EXPECT_EQ(readBytesAs(dir, "odd.wav", odd).samples, (std::vector<int32_t>{5, -6}));
}

TEST(AudioFile, ShortFmtChunkKeepsConstructionValues) {
    scratchDir dir;
    // 14 bytes end before the width: the reader's construction value of 8 bits stays.
    std::string fmt = fmtData(1, 1, 16000, 16).substr(0, 14);
    audioRead r = readBytesAs(dir, "short.wav", riffWave(chunk("fmt ", fmt) + chunk("data", std::string("\x10\x20", 2))));
    EXPECT_EQ(r.bitsPerSample, 8);
    EXPECT_EQ(r.sampleRate, 16000);
    EXPECT_EQ(r.samples, (std::vector<int32_t>{16, 32}));
}

TEST(AudioFile, MalformedWaveFilesAreRefused) {
    scratchDir dir;
    std::string fmt16 = chunk("fmt ", fmtData(1, 1, 16000, 16));
    std::string data = chunk("data", pcm16({1, 2, 3, 4}));
    std::string valid = riffWave(fmt16 + data);
    struct badCase {
        const char* what;
        std::string bytes;
    };
    std::vector<badCase> cases = {
        {"empty file", ""},
        {"no RIFF", chunk("JUNK", "abcd")},
        {"RIFF of another form", "RIFF" + le32(4 + fmt16.size() + data.size()) + "AVI " + fmt16 + data},
        {"data before fmt", riffWave(data + fmt16)},
        {"no data", riffWave(fmt16 + chunk("LIST", "ab"))},
        {"no fmt", riffWave(data)},
        {"empty data", riffWave(fmt16 + chunk("data", ""))},
        {"zero channels", riffWave(chunk("fmt ", fmtData(1, 0, 16000, 16)) + data)},
        {"24-bit", riffWave(chunk("fmt ", fmtData(1, 1, 16000, 24)) + chunk("data", std::string(12, '\1')))},
        {"32-bit float", riffWave(chunk("fmt ", fmtData(3, 1, 16000, 32)) + chunk("data", std::string(16, '\1')))},
        {"4-bit", riffWave(chunk("fmt ", fmtData(1, 1, 16000, 4)) + data)},
        {"0-bit", riffWave(chunk("fmt ", fmtData(1, 1, 16000, 0)) + data)},
        {"rate 0", riffWave(chunk("fmt ", fmtData(1, 1, 0, 16)) + data)},
        {"rate 4 GHz", riffWave(chunk("fmt ", fmtData(1, 1, 0xFFFFFFFFu, 16)) + data)},
        {"RIFF size 4 GB", "RIFF" + le32(0xFFFFFFFFu) + valid.substr(8)},
        {"data size beyond the file", riffWave(fmt16 + "data" + le32(9) + pcm16({1, 2, 3, 4}))},
        {"data size 4 GB", riffWave(fmt16 + "data" + le32(0xFFFFFFFFu) + pcm16({1, 2}))},
        {"fmt size 4 GB", riffWave("fmt " + le32(0xFFFFFFFEu) + fmtData(1, 1, 16000, 16) + data)},
        {"truncated fmt", "RIFF" + le32(30) + "WAVE" + "fmt " + le32(16) + fmtData(1, 1, 16000, 16).substr(0, 10)},
        {"truncated data", valid.substr(0, valid.size() - 1)},
    };
    for (const badCase& c : cases) {
        std::string path = dir.write("bad.wav", c.bytes);
        int32_t rate = 0, bits = 0;
        EXPECT_TRUE(isWaveOpenError(quietErrorOf([&] { readAudioFile(path, rate, bits); }), path)) << c.what;
    }
    std::string missing = dir.file("missing.wav");
    int32_t rate = 0, bits = 0;
    EXPECT_TRUE(isWaveOpenError(quietErrorOf([&] { readAudioFile(missing, rate, bits); }), missing));
}

TEST(AudioFile, WaveObjectErrorTextsFollowTheTable) {
    scratchDir dir;
    waveClass missing(1, 8000, 8);
    EXPECT_FALSE(missing.read(dir.file("none.wav")));
    EXPECT_EQ(missing.m_errorText, "File open error.");

    waveClass dataFirst(1, 8000, 8);
    std::string fmt16 = chunk("fmt ", fmtData(1, 1, 16000, 16));
    EXPECT_FALSE(dataFirst.read(dir.write("a.wav", riffWave(chunk("data", "ab") + fmt16))));
    EXPECT_EQ(dataFirst.m_errorText, "File chunk read error.");

    waveClass empty(1, 8000, 8);
    EXPECT_FALSE(empty.read(dir.write("b.wav", riffWave(fmt16 + chunk("data", "")))));
    EXPECT_EQ(empty.m_errorText, "File data read error.");

    EXPECT_STREQ(waveErrorText(0), "No error.");
    EXPECT_STREQ(waveErrorText(1), "Wave format mismatch.");
    EXPECT_STREQ(waveErrorText(3), "MMTIME required time format not supported.");
    EXPECT_STREQ(waveErrorText(9), "File data write error.");
    EXPECT_STREQ(waveErrorText(10), "Unspecified error.");
    EXPECT_STREQ(waveErrorText(-1), "Unspecified error.");
}

// Every prefix of a valid file, and many corrupted copies of it, either read or
// end with the wave error; none crashes, reads out of bounds or allocates beyond the file.
TEST(AudioFile, TruncatedAndCorruptedVariantsNeverCrash) {
    scratchDir dir;
    std::vector<int32_t> samples;
    for (int i = 0; i < 24; ++i) samples.push_back(i * 1000 - 12000);
    std::string valid = riffWave(chunk("fmt ", fmtData(1, 1, 16000, 16)) + chunk("LIST", "info") +
                                 chunk("data", pcm16(samples)));
    std::string path = dir.file("v.wav");

    std::vector<std::string> variants;
    for (size_t n = 0; n < valid.size(); ++n) variants.push_back(valid.substr(0, n));
    for (size_t pos = 0; pos < valid.size(); ++pos)
        for (unsigned char b : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
            std::string v = valid;
            v[pos] = static_cast<char>(b);
            variants.push_back(v);
        }
    std::mt19937 random(12345);
    for (int i = 0; i < 1500; ++i) {
        std::string v = valid;
        int flips = 1 + static_cast<int>(random() % 6);
        for (int f = 0; f < flips; ++f) v[random() % v.size()] = static_cast<char>(random() & 0xFF);
        if (random() % 3 == 0) v.resize(random() % v.size());
        variants.push_back(v);
    }

    int readOk = 0, refused = 0;
    testing::internal::CaptureStdout();
    for (const std::string& v : variants) {
        dir.write("v.wav", v);
        try {
            int32_t rate = 0, bits = 0;
            std::vector<int32_t> got = readAudioFile(path, rate, bits);
            ++readOk;
            EXPECT_LE(got.size(), v.size());
            EXPECT_TRUE(bits == 8 || bits == 16);
            EXPECT_GE(rate, 1000);
        } catch (const recogError& e) {
            ++refused;
            EXPECT_TRUE(isWaveOpenError(e.what(), path)) << e.what();
        }
    }
    testing::internal::GetCapturedStdout();
    EXPECT_GT(readOk, 0);
    EXPECT_GT(refused, 0);
}

TEST(AudioFile, RawFilesAreSixteenBitAtSixteenKilohertz) {
    scratchDir dir;
    audioRead three = readBytesAs(dir, "three.raw", std::string("\x01\x80\x05", 3));
    EXPECT_EQ(three.samples, (std::vector<int32_t>{-32767}));
    EXPECT_EQ(three.sampleRate, 16000);
    EXPECT_EQ(three.bitsPerSample, 16);
    EXPECT_TRUE(readBytesAs(dir, "empty.RAW", "").samples.empty());
    EXPECT_EQ(readBytesAs(dir, "two.RAW", pcm16({-1, 300})).samples, (std::vector<int32_t>{-1, 300}));

    std::string missing = dir.file("missing.raw");
    int32_t rate = 0, bits = 0;
    std::string message = quietErrorOf([&] { readAudioFile(missing, rate, bits); });
    EXPECT_TRUE(std::regex_match(message, std::regex("Cannot open file .*missing\\.raw \\(line \\d+ of utility\\)")))
        << message;
}
