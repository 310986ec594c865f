#include "frontend/CMel.h"
#include "run/utility.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

const double PI = 3.14159265358979323846;

// A deterministic test signal: two tones plus a little noise, 16-bit range.
std::vector<int32_t> testSignal(int32_t count, uint32_t seed = 12345) {
    std::vector<int32_t> s(count);
    for (int32_t i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        double noise = static_cast<double>((seed >> 16) & 0x7fff) / 32768.0 - 0.5;
        s[i] = static_cast<int32_t>(6000 * std::sin(2 * PI * 220 * i / 16000.0) +
                                    2500 * std::sin(2 * PI * 1870 * i / 16000.0) + 800 * noise);
    }
    return s;
}

struct featureRun {
    int32_t frameNum = 0, dim = 0;
    std::vector<float> features;
    float at(int32_t t, int32_t i) const { return features[static_cast<size_t>(t) * dim + i]; }
};

featureRun runWithConfig(const std::string& configText, const std::vector<int32_t>& samples, int32_t fs = 16000) {
    scratchDir dir;
    std::string path = dir.write("feature.cfg", configText);
    CMel mel;
    featureRun r;
    mel.computeMfcc(samples.data(), fs, 16, static_cast<int32_t>(samples.size()), path, r.frameNum, r.dim);
    r.features = mel.m_features;
    return r;
}

// Expects a recogError whose message contains the given text.
template <typename F>
void expectError(F&& f, const std::string& text) {
    try {
        f();
        ADD_FAILURE() << "no error, expected one containing: " << text;
    } catch (const recogError& e) {
        EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
    }
}

}  // namespace

TEST(ParameterKind, BaseNamesAndQualifiers) {
    EXPECT_EQ(parseParameterKind("MFCC_E_D_A"), 838);
    EXPECT_EQ(parseParameterKind("MFCC_0_D_A"), 6 + 0x2000 + 0x100 + 0x200);
    EXPECT_EQ(parseParameterKind("MFCC_A_D_E"), 838);  // qualifier order does not matter
    EXPECT_EQ(parseParameterKind("WAVEFORM"), 0);
    EXPECT_EQ(parseParameterKind("ANON"), 11);
    EXPECT_EQ(parseParameterKind("FBANK_N_C_Z_K_V"), 7 + 0x80 + 0x400 + 0x800 + 0x1000 + 0x4000);
    EXPECT_EQ(parseParameterKind("LPDELCEP"), 0x103);
    EXPECT_EQ(parseParameterKind("LPDELCEP_E"), 0x143);
    // Unknown qualifier letters are dropped; unknown base names give ANON alone.
    EXPECT_EQ(parseParameterKind("MFCC_X_E"), 6 + 0x40);
    EXPECT_EQ(parseParameterKind("NOSUCH_E_D"), 11);
    EXPECT_EQ(parseParameterKind("mfcc_E"), 11);
    EXPECT_EQ(parseParameterKind("A_E"), 11);
    EXPECT_EQ(parseParameterKind("_E"), 11);  // too short to carry a qualifier
    EXPECT_EQ(parseParameterKind(""), 11);
}

TEST(CMel, DefaultsAt16kHz) {
    scratchDir dir;
    std::string path = dir.write("empty.cfg", "");
    std::vector<int32_t> samples = testSignal(16000);
    CMel mel;
    int32_t T = 0, D = 0;
    mel.computeMfcc(samples.data(), 16000, 16, 16000, path, T, D);
    EXPECT_EQ(mel.m_samplePeriod, 625);
    EXPECT_EQ(mel.m_windowLen, 320);
    EXPECT_EQ(mel.m_frameShift, 160);
    EXPECT_EQ(mel.m_fftSize, 512);
    EXPECT_EQ(mel.m_klo, 2);
    EXPECT_EQ(mel.m_khi, 256);
    EXPECT_EQ(T, 99);
    EXPECT_EQ(D, 39);
    EXPECT_EQ(mel.m_config.m_targetKind, 838);
    ASSERT_EQ(mel.m_features.size(), 99u * 39u);
    for (float v : mel.m_features) ASSERT_TRUE(std::isfinite(v));
    // Normalised energy peaks at exactly 1.
    float emax = -1e30f;
    for (int32_t t = 0; t < T; ++t) emax = std::max(emax, mel.m_features[t * 39 + 12]);
    EXPECT_FLOAT_EQ(emax, 1.0f);
}

TEST(CMel, OnlyWholeWindowsMakeFrames) {
    EXPECT_EQ(runWithConfig("", testSignal(319)).frameNum, 0);
    EXPECT_TRUE(runWithConfig("", testSignal(319)).features.empty());
    EXPECT_EQ(runWithConfig("", testSignal(320)).frameNum, 1);
    EXPECT_EQ(runWithConfig("", testSignal(479)).frameNum, 1);
    EXPECT_EQ(runWithConfig("", testSignal(480)).frameNum, 2);
    EXPECT_EQ(runWithConfig("", std::vector<int32_t>()).frameNum, 0);
}

// One frame against a direct double-precision computation with a plain DFT
// and triangular filters written out channel by channel.
TEST(CMel, FrameMatchesDirectComputation) {
    const int32_t W = 400, N = 512, C = 26;
    std::vector<int32_t> samples = testSignal(W, 777);
    featureRun r = runWithConfig(
        "TARGETKIND=MFCC_0\nWINDOWSIZE=250000\nPREEMCOEF=0.97\nLOFREQ=100\nHIFREQ=7000\n", samples);
    ASSERT_EQ(r.frameNum, 1);
    ASSERT_EQ(r.dim, 13);

    std::vector<double> s(samples.begin(), samples.end());
    for (int32_t i = W - 1; i >= 1; --i) s[i] -= 0.97 * s[i - 1];
    s[0] *= 0.03;
    for (int32_t i = 0; i < W; ++i) s[i] *= 0.54 - 0.46 * std::cos(2 * PI * i / (W - 1));
    auto mel = [](double hz) { return 1127 * std::log(1 + hz / 700); };
    double mlo = mel(100), mhi = mel(7000);
    std::vector<double> cf(C + 2);
    for (int32_t j = 0; j <= C + 1; ++j) cf[j] = mlo + (mhi - mlo) * j / (C + 1);
    int32_t klo = static_cast<int32_t>(100 * 512 / 16000.0 + 2.5), khi = static_cast<int32_t>(7000 * 512 / 16000.0 + 0.5);
    std::vector<double> fbank(C + 1, 0.0);
    for (int32_t k = klo; k <= khi; ++k) {
        std::complex<double> X = 0;
        for (int32_t i = 0; i < W; ++i) X += s[i] * std::polar(1.0, -2 * PI * (k - 1) * i / N);
        double m = mel((k - 1) * 16000.0 / N);
        for (int32_t j = 1; j <= C; ++j) {
            if (m > cf[j - 1] && m <= cf[j]) fbank[j] += std::abs(X) * (m - cf[j - 1]) / (cf[j] - cf[j - 1]);
            else if (m > cf[j] && m < cf[j + 1]) fbank[j] += std::abs(X) * (cf[j + 1] - m) / (cf[j + 1] - cf[j]);
        }
    }
    double c0 = 0;
    for (int32_t j = 1; j <= C; ++j) {
        fbank[j] = std::log(std::max(fbank[j], 1.0));
        c0 += fbank[j];
    }
    for (int32_t i = 1; i <= 12; ++i) {
        double c = 0;
        for (int32_t j = 1; j <= C; ++j) c += fbank[j] * std::cos(PI * i * (j - 0.5) / C);
        c *= std::sqrt(2.0 / C) * (1 + 11 * std::sin(PI * i / 22));
        EXPECT_NEAR(r.at(0, i - 1), c, 2e-3 * std::max(1.0, std::fabs(c))) << "C" << i;
    }
    EXPECT_NEAR(r.at(0, 12), c0 * std::sqrt(2.0 / C), 2e-3 * std::fabs(c0));
}

TEST(CMel, EnergyOfSilentFramesAndItsNormalisation) {
    // 1 s of silence followed by 1 s of signal.
    std::vector<int32_t> samples(16000, 0);
    std::vector<int32_t> loud = testSignal(16000);
    samples.insert(samples.end(), loud.begin(), loud.end());

    featureRun raw = runWithConfig("ENORMALISE=F\nTARGETKIND=MFCC_E\n", samples);
    ASSERT_EQ(raw.dim, 13);
    EXPECT_EQ(raw.at(0, 12), -1e10f);
    double e = 0;
    for (int32_t i = 0; i < 320; ++i) e += static_cast<double>(loud[i]) * loud[i];
    EXPECT_NEAR(raw.at(100, 12), std::log(e), 1e-4);  // frame 100 starts at sample 16000

    featureRun norm = runWithConfig("TARGETKIND=MFCC_E\n", samples);
    EXPECT_NEAR(norm.at(0, 12), 1 - 50 * std::log(10.0) / 10 * 0.1, 1e-5);
    EXPECT_NEAR(norm.at(0, 12), -0.1513, 1e-4);
    float emax = -1e30f;
    for (int32_t t = 0; t < norm.frameNum; ++t) emax = std::max(emax, norm.at(t, 12));
    EXPECT_FLOAT_EQ(emax, 1.0f);
    // A loud frame keeps its distance to the peak, scaled by ESCALE.
    float rawMax = -1e30f;
    for (int32_t t = 0; t < raw.frameNum; ++t) rawMax = std::max(rawMax, raw.at(t, 12));
    EXPECT_NEAR(norm.at(150, 12), 1 - (rawMax - raw.at(150, 12)) * 0.1, 1e-5);
    // The cepstra do not depend on the energy term.
    EXPECT_EQ(raw.at(150, 3), norm.at(150, 3));
}

TEST(CMel, FlagValues) {
    std::vector<int32_t> samples = testSignal(3200);
    featureRun base = runWithConfig("TARGETKIND=MFCC_E\n", samples);
    // T and TRUE do not switch the window off; F and FALSE do.
    EXPECT_EQ(runWithConfig("TARGETKIND=MFCC_E\nUSEHAMMING=T\n", samples).features, base.features);
    EXPECT_EQ(runWithConfig("TARGETKIND=MFCC_E\nUSEHAMMING=TRUE\n", samples).features, base.features);
    featureRun noWindowF = runWithConfig("TARGETKIND=MFCC_E\nUSEHAMMING=F\n", samples);
    EXPECT_NE(noWindowF.features, base.features);
    EXPECT_EQ(runWithConfig("TARGETKIND=MFCC_E\nUSEHAMMING=FALSE\n", samples).features, noWindowF.features);
    EXPECT_EQ(runWithConfig("TARGETKIND=MFCC_E\nUSEHAMMING=false\n", samples).features, base.features);
    // Lower-case true leaves the magnitude spectrum; T switches to power.
    EXPECT_EQ(runWithConfig("TARGETKIND=MFCC_E\nUSEPOWER=true\n", samples).features, base.features);
    EXPECT_NE(runWithConfig("TARGETKIND=MFCC_E\nUSEPOWER=T\n", samples).features, base.features);
    EXPECT_EQ(runWithConfig("TARGETKIND=MFCC_E\nUSEPOWER=TRUE\n", samples).features,
              runWithConfig("TARGETKIND=MFCC_E\nUSEPOWER=T\n", samples).features);

    // A frame-wise DC offset disappears with ZMEANSOURCE.
    std::vector<int32_t> shifted = samples;
    for (int32_t& v : shifted) v += 3000;
    featureRun zm = runWithConfig("TARGETKIND=MFCC_E\nZMEANSOURCE=T\nENORMALISE=F\n", samples);
    featureRun zmShifted = runWithConfig("TARGETKIND=MFCC_E\nZMEANSOURCE=T\nENORMALISE=F\n", shifted);
    for (size_t i = 0; i < zm.features.size(); ++i) EXPECT_NEAR(zm.features[i], zmShifted.features[i], 1e-3);
    EXPECT_NE(runWithConfig("TARGETKIND=MFCC_E\nENORMALISE=F\n", shifted).features,
              runWithConfig("TARGETKIND=MFCC_E\nENORMALISE=F\n", samples).features);
}

TEST(CMel, LenientReader) {
    std::vector<int32_t> samples = testSignal(4000);
    featureRun plain = runWithConfig("TARGETKIND=MFCC_0_D_A\nWINDOWSIZE=250000\n", samples);
    EXPECT_EQ(plain.dim, 39);
    EXPECT_EQ(plain.frameNum, (4000 - 400) / 160 + 1);
    // Spaces anywhere, CR LF line ends, empty lines, no final line feed, comments
    // and prefixed keys (skipped), a second "=" ending the value.
    EXPECT_EQ(runWithConfig("\n  TARGETKIND  =  MFCC_0_D_A  \r\n\r\n# comment line\nHCOPY:NUMCEPS=13\n"
                            "SOURCEKIND=WAVEFORM\nSOURCEFORMAT=WAV\nSAVECOMPRESSED=T\nWINDOW SIZE=250 000=9",
                            samples)
                  .features,
              plain.features);
    // Later lines override earlier ones; a tab keeps a key from matching.
    EXPECT_EQ(runWithConfig("TARGETKIND=MFCC_E\nTARGETKIND=MFCC_0_D_A\nWINDOWSIZE=250000\nTARGETKIND\t=MFCC_E\n",
                            samples)
                  .features,
              plain.features);
    // Keys are case-sensitive; a key or value that is missing skips the line.
    EXPECT_EQ(runWithConfig("TARGETKIND=MFCC_0_D_A\nWINDOWSIZE=250000\ntargetkind=MFCC_E\nTARGETKIND=\n=MFCC_E\n",
                            samples)
                  .features,
              plain.features);
    // Numeric values take their leading numeric part; integers are truncated.
    EXPECT_EQ(runWithConfig("TARGETKIND=MFCC_0_D_A\nWINDOWSIZE=250000.0ms\nNUMCEPS=12.9\nNUMCHANS=26.5\n", samples)
                  .features,
              plain.features);
}

TEST(CMel, C0SitsAtPosition12WithDeltasAndAccelerations) {
    std::vector<int32_t> samples = testSignal(8000);
    featureRun full = runWithConfig("TARGETKIND = MFCC_0_D_A\n", samples);
    featureRun statics = runWithConfig("TARGETKIND=MFCC_0\n", samples);
    ASSERT_EQ(full.dim, 39);
    ASSERT_EQ(statics.dim, 13);
    ASSERT_EQ(full.frameNum, statics.frameNum);
    for (int32_t t = 0; t < full.frameNum; ++t)
        for (int32_t i = 0; i < 13; ++i) ASSERT_EQ(full.at(t, i), statics.at(t, i));
    // C0 is sqrt(2/26) times the sum of the log channels: larger than any
    // liftered cepstrum of a loud frame and positive.
    EXPECT_GT(full.at(10, 12), 50.0f);

    // Deltas from the statics, accelerations from the deltas, with the first
    // and last frames repeated beyond the edges.
    const int32_t T = full.frameNum;
    for (int32_t i = 0; i < 13; ++i) {
        float x0 = full.at(0, i), x1 = full.at(1, i), x2 = full.at(2, i);
        EXPECT_NEAR(full.at(0, 13 + i), (1 * (x1 - x0) + 2 * (x2 - x0)) / 10, 1e-4 * (1 + std::fabs(x0)));
        float y = full.at(T - 1, i), y1 = full.at(T - 2, i), y2 = full.at(T - 3, i);
        EXPECT_NEAR(full.at(T - 1, 13 + i), (1 * (y - y1) + 2 * (y - y2)) / 10, 1e-4 * (1 + std::fabs(y)));
        float m2 = full.at(3, i), m1 = full.at(4, i), p1 = full.at(6, i), p2 = full.at(7, i);
        EXPECT_NEAR(full.at(5, 13 + i), ((p1 - m1) + 2 * (p2 - m2)) / 10, 1e-4 * (1 + std::fabs(p2)));
        float d0 = full.at(0, 13 + i), d1 = full.at(1, 13 + i), d2 = full.at(2, 13 + i);
        EXPECT_NEAR(full.at(0, 26 + i), ((d1 - d0) + 2 * (d2 - d0)) / 10, 1e-4 * (1 + std::fabs(d0)));
    }
    // A one-frame delta window divides by 2.
    featureRun narrow = runWithConfig("TARGETKIND=MFCC_0_D\nDELTAWINDOW=1\n", samples);
    ASSERT_EQ(narrow.dim, 26);
    EXPECT_NEAR(narrow.at(4, 13 + 2), (narrow.at(5, 2) - narrow.at(3, 2)) / 2, 1e-5);
}

TEST(CMel, CepstralMeanRemovalAndLiftering) {
    std::vector<int32_t> samples = testSignal(8000);
    samples.resize(16000, 0);  // a loud half and a silent half
    featureRun z = runWithConfig("TARGETKIND=MFCC_E_D_A_Z\n", samples);
    featureRun plain = runWithConfig("TARGETKIND=MFCC_E_D_A\n", samples);
    for (int32_t i = 0; i < 12; ++i) {
        double sum = 0;
        for (int32_t t = 0; t < z.frameNum; ++t) sum += z.at(t, i);
        EXPECT_NEAR(sum / z.frameNum, 0.0, 1e-3) << "column " << i;
        EXPECT_NEAR(z.at(0, i) - z.at(60, i), plain.at(0, i) - plain.at(60, i), 1e-3);
    }
    // Energy and deltas are untouched by the mean removal.
    EXPECT_EQ(z.at(5, 12), plain.at(5, 12));
    EXPECT_EQ(z.at(5, 20), plain.at(5, 20));

    featureRun unliftered = runWithConfig("TARGETKIND=MFCC_E\nCEPLIFTER=0\n", samples);
    featureRun liftered = runWithConfig("TARGETKIND=MFCC_E\n", samples);
    for (int32_t i = 1; i <= 12; ++i) {
        double lifter = 1 + 11 * std::sin(PI * i / 22);
        EXPECT_NEAR(liftered.at(10, i - 1), unliftered.at(10, i - 1) * lifter, 1e-4 * lifter * (1 + std::fabs(unliftered.at(10, i - 1))));
    }
}

TEST(CMel, FilterbankCutOffs) {
    scratchDir dir;
    std::string path = dir.write("band.cfg", "LOFREQ=300\nHIFREQ=3400\n");
    std::vector<int32_t> samples = testSignal(1000);
    CMel mel;
    int32_t T, D;
    mel.computeMfcc(samples.data(), 16000, 16, 1000, path, T, D);
    EXPECT_EQ(mel.m_klo, 12);   // 300 * 512 / 16000 + 2.5 = 12.1
    EXPECT_EQ(mel.m_khi, 109);  // 3400 * 512 / 16000 + 0.5 = 109.3
    for (int32_t k = 1; k <= 256; ++k) {
        if (k < 12 || k > 109) {
            EXPECT_EQ(mel.m_lowerChannel[k], -1) << k;
        } else {
            EXPECT_GE(mel.m_lowerChannel[k], 0) << k;
            EXPECT_LE(mel.m_lowerChannel[k], 26) << k;
            EXPECT_GE(mel.m_lowerWeight[k], 0.0f);
            EXPECT_LE(mel.m_lowerWeight[k], 1.0f);
        }
    }
    // Lower channels never decrease with frequency.
    for (int32_t k = 13; k <= 109; ++k) EXPECT_GE(mel.m_lowerChannel[k], mel.m_lowerChannel[k - 1]);
    EXPECT_NEAR(mel.m_centreFreqs[27], 1127 * std::log(1 + 3400 / 700.0), 1e-3);
}

TEST(CMel, ConfigurationsTheModelsCannotUseAreRefused) {
    std::vector<int32_t> samples = testSignal(2000);
    testing::internal::CaptureStdout();
    expectError([&] { runWithConfig("NUMCEPS=13\n", samples); }, "NUMCEPS=13");
    expectError([&] { runWithConfig("TARGETKIND=MFCC_E_0_D_A\n", samples); }, "both _E and _0");
    expectError([&] { runWithConfig("TARGETKIND=MFCC_D_A\n", samples); }, "neither _E nor _0");
    expectError([&] { runWithConfig("TARGETKIND=MFCC_E_A\n", samples); }, "without deltas");
    expectError([&] { runWithConfig("DELTAWINDOW=0\n", samples); }, "DELTAWINDOW=0");
    expectError([&] { runWithConfig("ACCWINDOW=0\n", samples); }, "ACCWINDOW=0");
    expectError([&] { runWithConfig("DELTAWINDOW=2000000000\n", samples); }, "DELTAWINDOW");
    // Broken geometry ends with a message, never a crash, hang or huge allocation.
    expectError([&] { runWithConfig("WINDOWSIZE=1e30\n", samples); }, "WINDOWSIZE");
    expectError([&] { runWithConfig("WINDOWSIZE=0\n", samples); }, "WINDOWSIZE");
    expectError([&] { runWithConfig("WINDOWSIZE=nan\n", samples); }, "WINDOWSIZE");
    expectError([&] { runWithConfig("TARGETRATE=-5\n", samples); }, "TARGETRATE");
    expectError([&] { runWithConfig("NUMCHANS=1e12\n", samples); }, "NUMCHANS");
    expectError([&] { runWithConfig("NUMCHANS=0\n", samples); }, "NUMCHANS");
    expectError([&] { runWithConfig("", samples, 0); }, "Sample rate 0");
    testing::internal::GetCapturedStdout();
    // Without _D the delta window is not used.
    EXPECT_EQ(runWithConfig("TARGETKIND=MFCC_E\nDELTAWINDOW=0\n", samples).dim, 13);
    // Odd but harmless values are accepted.
    EXPECT_GT(runWithConfig("LOFREQ=1e30\nHIFREQ=inf\n", samples).frameNum, 0);
}

TEST(CMel, UnopenableConfigurationPrintsBothMessagesAndFails) {
    scratchDir dir;
    std::string path = dir.file("missing.cfg");
    std::vector<int32_t> samples = testSignal(1000);
    CMel mel;
    int32_t T = -1, D = -1;
    testing::internal::CaptureStdout();
    expectError([&] { mel.computeMfcc(samples.data(), 16000, 16, 1000, path, T, D); }, path);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Cannot open " + path + " (line "), std::string::npos) << out;
    EXPECT_NE(out.find(", file CMel)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Can't open config file " + path + " \n"), std::string::npos) << out;
}

TEST(CMel, SecondRunReplacesTheTables) {
    scratchDir dir;
    std::string a = dir.write("a.cfg", "");
    std::string b = dir.write("b.cfg", "WINDOWSIZE=500000\nTARGETKIND=MFCC_0\n");
    std::vector<int32_t> samples = testSignal(6000);
    CMel mel;
    int32_t T, D;
    mel.computeMfcc(samples.data(), 16000, 16, 6000, b, T, D);
    EXPECT_EQ(mel.m_fftSize, 1024);
    mel.m_config = featureConfig();
    mel.computeMfcc(samples.data(), 16000, 16, 6000, a, T, D);
    EXPECT_EQ(mel.m_fftSize, 512);
    EXPECT_EQ(mel.m_features, runWithConfig("", samples).features);
}

TEST(CMel, OtherSampleRates) {
    std::vector<int32_t> samples = testSignal(8000);
    scratchDir dir;
    std::string path = dir.write("c.cfg", "");
    CMel mel;
    int32_t T, D;
    mel.computeMfcc(samples.data(), 8000, 16, 8000, path, T, D);
    EXPECT_EQ(mel.m_samplePeriod, 1250);
    EXPECT_EQ(mel.m_windowLen, 160);
    EXPECT_EQ(mel.m_frameShift, 80);
    EXPECT_EQ(mel.m_fftSize, 256);
    EXPECT_EQ(T, (8000 - 160) / 80 + 1);
}
