// The MFCC front end against feature files written by HTK's HCopy for the
// same waves and configuration (the shared anchor sets, when present).
#include "frontend/CMel.h"
#include "frontend/CaudioFile.h"
#include "run/utility.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const std::string ANCHORS = std::string(RECOG_SOURCE_DIR) + "/../shared/anchors";

uint32_t be32(const std::string& d, size_t at) {
    return (uint32_t(uint8_t(d[at])) << 24) | (uint32_t(uint8_t(d[at + 1])) << 16) |
           (uint32_t(uint8_t(d[at + 2])) << 8) | uint32_t(uint8_t(d[at + 3]));
}
int16_t be16(const std::string& d, size_t at) {
    return static_cast<int16_t>((uint16_t(uint8_t(d[at])) << 8) | uint16_t(uint8_t(d[at + 1])));
}
float beFloat(const std::string& d, size_t at) {
    uint32_t bits = be32(d, at);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// An HTK parameter file, compressed (_C: scale and offset vectors, then 16-bit
// values) or plain float32.
struct htkFeatures {
    int32_t frameNum = 0, dim = 0;
    uint16_t kind = 0;
    std::vector<float> data;
};

htkFeatures readHtk(const std::string& path) {
    std::string d = readFileBytes(path);
    htkFeatures h;
    if (d.size() < 12) return h;
    int32_t n = static_cast<int32_t>(be32(d, 0));
    int32_t sampSize = be16(d, 8);
    h.kind = static_cast<uint16_t>(be16(d, 10));
    if (h.kind & PARAM_KIND_C) {
        h.dim = sampSize / 2;
        h.frameNum = n - 4;
        std::vector<float> a(h.dim), b(h.dim);
        size_t at = 12;
        if (d.size() < at + 8 * h.dim + size_t(h.frameNum) * sampSize) return htkFeatures();
        for (int32_t i = 0; i < h.dim; ++i, at += 4) a[i] = beFloat(d, at);
        for (int32_t i = 0; i < h.dim; ++i, at += 4) b[i] = beFloat(d, at);
        for (int32_t t = 0; t < h.frameNum; ++t)
            for (int32_t i = 0; i < h.dim; ++i, at += 2) h.data.push_back((be16(d, at) + b[i]) / a[i]);
    } else {
        h.dim = sampSize / 4;
        h.frameNum = n;
        if (d.size() < 12 + size_t(n) * sampSize) return htkFeatures();
        for (size_t i = 0; i < size_t(n) * h.dim; ++i) h.data.push_back(beFloat(d, 12 + 4 * i));
    }
    return h;
}

struct comparison {
    int32_t files = 0, frames = 0;
    double maxStatic = 0, maxDelta = 0, maxAcc = 0, maxC0 = 0;
    double sumStatic = 0;
    int64_t staticCount = 0;
};

// Computes features of every listed wave and compares them with HTK's file.
void compareSet(const std::string& config, const std::vector<std::pair<std::string, std::string>>& pairs,
                comparison& c) {
    for (const auto& p : pairs) {
        int32_t rate = 0, bits = 0;
        std::vector<int32_t> samples = readAudioFile(p.first, rate, bits);
        ASSERT_EQ(rate, 16000) << p.first;
        CMel mel;
        int32_t T = 0, D = 0;
        mel.computeMfcc(samples.data(), rate, bits, static_cast<int32_t>(samples.size()), config, T, D);
        htkFeatures h = readHtk(p.second);
        ASSERT_EQ(T, h.frameNum) << p.first;
        ASSERT_EQ(D, h.dim) << p.first;
        ++c.files;
        c.frames += T;
        for (int32_t t = 0; t < T; ++t) {
            for (int32_t i = 0; i < D; ++i) {
                double diff = std::fabs(mel.m_features[size_t(t) * D + i] - h.data[size_t(t) * D + i]);
                if (i < 12) {
                    c.maxStatic = std::max(c.maxStatic, diff);
                    c.sumStatic += diff;
                    ++c.staticCount;
                } else if (i == 12) {
                    c.maxC0 = std::max(c.maxC0, diff);
                } else if (i < 26) {
                    c.maxDelta = std::max(c.maxDelta, diff);
                } else {
                    c.maxAcc = std::max(c.maxAcc, diff);
                }
            }
        }
    }
}

void report(const char* name, const comparison& c) {
    std::printf("%s: %d files, %d frames; max |diff| C1-C12 %.3g (mean %.3g), C0 %.3g, deltas %.3g, "
                "accelerations %.3g\n",
                name, c.files, c.frames, c.maxStatic, c.sumStatic / std::max<int64_t>(1, c.staticCount), c.maxC0,
                c.maxDelta, c.maxAcc);
}

}  // namespace

// 230 waves of 16 kHz speech, MFCC_0_D_A, 25 ms windows, no energy normalisation.
TEST(HtkAnchor, PizzaSetMatchesHCopy) {
    const std::string dir = ANCHORS + "/htk-pizza";
    if (!std::filesystem::exists(dir + "/config/wav_config")) GTEST_SKIP() << "no anchor set at " << dir;
    std::vector<std::pair<std::string, std::string>> pairs;
    for (int i = 1; i <= 30; ++i)
        pairs.emplace_back(formatString("%s/test/test%d.wav", dir.c_str(), i), formatString("%s/mfc/test%d.mfc", dir.c_str(), i));
    for (int i = 1; i <= 200; ++i)
        pairs.emplace_back(formatString("%s/train/s%d.wav", dir.c_str(), i), formatString("%s/mfc/s%d.mfc", dir.c_str(), i));
    comparison c;
    compareSet(dir + "/config/wav_config", pairs, c);
    report("htk-pizza", c);
    EXPECT_EQ(c.files, 230);
    // The stored files are 16-bit compressed; the rest is float rounding.
    EXPECT_LT(c.maxStatic, 0.005);
    EXPECT_LT(c.maxC0, 0.005);
    EXPECT_LT(c.maxDelta, 0.005);
    EXPECT_LT(c.maxAcc, 0.005);
}

// 40 waves of 4 to 15 s, MFCC_0_D, 25 ms windows.
TEST(HtkAnchor, TutorialSetMatchesHCopy) {
    const std::string dir = ANCHORS + "/htk-tutorial";
    if (!std::filesystem::exists(dir + "/wav_config")) GTEST_SKIP() << "no anchor set at " << dir;
    std::vector<std::pair<std::string, std::string>> pairs;
    for (int i = 1; i <= 40; ++i)
        pairs.emplace_back(formatString("%s/waves/S%03d.wav", dir.c_str(), i), formatString("%s/train/S%03d.mfc", dir.c_str(), i));
    comparison c;
    compareSet(dir + "/wav_config", pairs, c);
    report("htk-tutorial", c);
    EXPECT_EQ(c.files, 40);
    EXPECT_LT(c.maxStatic, 0.005);
    EXPECT_LT(c.maxC0, 0.005);
    EXPECT_LT(c.maxDelta, 0.005);
}
