#include "lib/pitch.h"
#include "run/utility.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

const double PI = 3.14159265358979323846;

// A voiced sound: the first harmonics of f0 with falling amplitudes.
std::vector<int32_t> voiced(double f0, int32_t count, int32_t fs = 16000, double amplitude = 8000) {
    std::vector<int32_t> s(count);
    for (int32_t i = 0; i < count; ++i) {
        double v = 0;
        for (int h = 1; h <= 6; ++h) v += std::sin(2 * PI * f0 * h * i / fs + h) / h;
        s[i] = static_cast<int32_t>(amplitude * v / 2);
    }
    return s;
}

std::vector<int32_t> noise(int32_t count, int32_t amplitude, uint32_t seed = 7) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int32_t> d(-amplitude, amplitude);
    std::vector<int32_t> s(count);
    for (int32_t& v : s) v = d(gen);
    return s;
}

ptParam quietDefaults(int32_t fs, int32_t pfType = 1) {
    testing::internal::CaptureStdout();
    ptParam p = initPtParam(fs, 16, pfType, "");
    testing::internal::GetCapturedStdout();
    return p;
}

// Dynamic programming written out over every pair of candidates.
std::vector<int32_t> bruteForceDp(const pitchCandidateSetClass& set, int32_t first, int32_t last, const ptParam& prm) {
    const bool acf = prm.pfType == 1;
    auto position = [&](int32_t lag) {
        return prm.dpMethod == 2 ? static_cast<double>(roundToInt(10 * freqToSemitone(double(prm.fs) / lag)))
                                 : static_cast<double>(lag);
    };
    auto cost = [&](int32_t a, int32_t b) {
        double d = std::fabs(position(a) - position(b));
        return prm.dpPosDiffOrder == 1 ? prm.indexDiffWeight * d : prm.indexDiffWeight * d * d;
    };
    std::vector<std::vector<double>> score(last - first + 1);
    std::vector<std::vector<int32_t>> back(last - first + 1);
    for (int32_t i = set.frameBegin(first); i < set.frameEnd(first); ++i)
        score[0].push_back(double(prm.pfWeight) * set.m_values[i]);
    for (int32_t t = first + 1; t <= last; ++t) {
        int32_t pb = set.frameBegin(t - 1), pe = set.frameEnd(t - 1);
        for (int32_t k = set.frameBegin(t); k < set.frameEnd(t); ++k) {
            int32_t bj = 0;
            double best = 0;
            for (int32_t j = pb; j < pe; ++j) {
                double prev = score[t - 1 - first][j - pb];
                double v = acf ? prev - cost(set.m_lags[j], set.m_lags[k]) : prev + cost(set.m_lags[j], set.m_lags[k]);
                if (j == pb || (acf ? v > best : v < best)) {
                    best = v;
                    bj = j - pb;
                }
            }
            score[t - first].push_back(double(prm.pfWeight) * set.m_values[k] + best);
            back[t - first].push_back(bj);
        }
    }
    std::vector<int32_t> lags(last - first + 1);
    const std::vector<double>& s = score.back();
    int32_t k = 0;
    for (size_t i = 1; i < s.size(); ++i)
        if (acf ? s[i] > s[k] : s[i] < s[k]) k = int32_t(i);
    for (int32_t t = last; t >= first; --t) {
        lags[t - first] = set.m_lags[set.frameBegin(t) + k];
        if (t > first) k = back[t - first][k];
    }
    return lags;
}

}  // namespace

TEST(Pitch, SemitoneScale) {
    EXPECT_DOUBLE_EQ(freqToSemitone(440), 69);
    EXPECT_DOUBLE_EQ(freqToSemitone(880), 81);
    EXPECT_DOUBLE_EQ(semitoneToFreq(57), 220);
    EXPECT_NEAR(semitoneToFreq(freqToSemitone(123.4)), 123.4, 1e-9);
    EXPECT_EQ(freqToSemitone(0), 0);
    EXPECT_EQ(freqToSemitone(-5), 0);
    EXPECT_EQ(semitoneToFreq(0), 0);
    EXPECT_EQ(semitoneToFreq(-12), 0);
}

TEST(Pitch, DefaultsBySampleRate) {
    testing::internal::CaptureStdout();
    ptParam p16 = initPtParam(16000, 16, 1, "");
    ptParam p8 = initPtParam(8000, 16, 1, "");
    ptParam p11 = initPtParam(11025, 16, 1, "");
    ptParam p44 = initPtParam(44100, 16, 1, "");
    ptParam amdf16 = initPtParam(16000, 16, 0, "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    EXPECT_EQ(p16.frameSize, 640);
    EXPECT_EQ(p16.overlap, 480);
    EXPECT_EQ(p16.pfLen, 320);
    EXPECT_EQ(p16.dpMethod, 1);
    EXPECT_EQ(p16.dpPosDiffOrder, 2);
    EXPECT_EQ(p16.dpUseLocalOptim, 0);
    EXPECT_EQ(p16.pfWeight, 1);
    EXPECT_EQ(p16.indexDiffWeight, 6);
    EXPECT_EQ(p16.minPitch, 30);
    EXPECT_EQ(p16.maxPitch, 84);
    EXPECT_EQ(p16.medianFilterOrder, 5);
    int32_t minLag, maxLag;
    pitchLagRange(p16, minLag, maxLag);
    EXPECT_EQ(minLag, 15);   // 16000 / 1046.50
    EXPECT_EQ(maxLag, 319);  // 16000 / 46.25 = 346, lowered to pfLen - 1

    EXPECT_EQ(p8.frameSize, 256);
    EXPECT_EQ(p8.overlap, 0);
    EXPECT_EQ(p8.pfLen, 128);
    EXPECT_EQ(p8.dpMethod, 2);
    EXPECT_EQ(p8.dpPosDiffOrder, 1);
    EXPECT_EQ(p8.dpUseLocalOptim, 1);
    EXPECT_EQ(p8.pfWeight, 4);
    EXPECT_EQ(p8.indexDiffWeight, 388);

    EXPECT_EQ(p11.frameSize, 354);  // ceil(352.8) = 353, made even
    EXPECT_EQ(p11.overlap, 0);
    EXPECT_EQ(p11.pfLen, 177);
    EXPECT_EQ(p44.frameSize, 1412);  // ceil(1411.2)
    for (const ptParam& p : {p11, p44, amdf16}) {
        EXPECT_EQ(p.dpMethod, 1);
        EXPECT_EQ(p.dpPosDiffOrder, 1);
        EXPECT_EQ(p.dpUseLocalOptim, 1);
        EXPECT_EQ(p.pfWeight, 1);
        EXPECT_EQ(p.indexDiffWeight, 1);
    }
    EXPECT_EQ(amdf16.pfType, 0);
    EXPECT_EQ(amdf16.frameSize, 640);
}

TEST(Pitch, ParameterFile) {
    scratchDir dir;
    std::string path = dir.write("pt.prm",
                                 "% pitch settings\n"
                                 "frameSize = 200   % shorter frames\n"
                                 "dpUseLocalOptim=0.9\n"
                                 "clarityRatio=0.25\n"
                                 "medianFilterOrder=3\n"
                                 "nbits=8\n");
    testing::internal::CaptureStdout();
    ptParam p = initPtParam(8000, 16, 1, path);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Warning: frameSize too small! (frameSize=200, frameDuration=25 ms < minFrameDuration=32 ms)\n");
    EXPECT_EQ(p.frameSize, 200);
    EXPECT_EQ(p.pfLen, 128);  // set from the default frame size before the file
    EXPECT_EQ(p.dpUseLocalOptim, 0);
    EXPECT_FLOAT_EQ(p.clarityRatio, 0.25f);
    EXPECT_EQ(p.medianFilterOrder, 3);
    EXPECT_EQ(p.nbits, 8);
    EXPECT_EQ(p.dpMethod, 2);  // the 8 kHz defaults stand

    // A missing file is no error.
    ptParam missing = quietDefaults(8000);
    testing::internal::CaptureStdout();
    EXPECT_EQ(initPtParam(8000, 16, 1, dir.file("none.prm")).indexDiffWeight, missing.indexDiffWeight);
    testing::internal::GetCapturedStdout();

    std::string bad = dir.write("bad.prm", "minPitch=40\nMinPitch=41\n");
    try {
        quietDefaults(16000);
        testing::internal::CaptureStdout();
        initPtParam(16000, 16, 1, bad);
        testing::internal::GetCapturedStdout();
        FAIL() << "unknown key accepted";
    } catch (const recogError& e) {
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(std::string(e.what()).rfind("Error in parsing " + bad + ", unknown key = MinPitch (line ", 0), 0u)
            << e.what();
        EXPECT_NE(std::string(e.what()).find(" in audio)"), std::string::npos);
    }
}

TEST(Pitch, PitchFunctionsOfOneFrame) {
    // 8 samples with sum 17 and integer mean 2: x - 2 = 1 -1 3 -3 0 0 2 -1.
    const int32_t frame[] = {3, 1, 5, -1, 2, 2, 4, 1};
    float acf[4], amdf[4];
    frame2acf(frame, 8, acf, 4);
    EXPECT_EQ(acf[0], 25);
    EXPECT_EQ(acf[1], -15);  // -1 - 3 - 9 + 0 + 0 + 0 - 2
    EXPECT_EQ(acf[3], -9);   // -3 + 0 + 0 - 6 + 0
    frame2amdf(frame, 8, amdf, 4);
    EXPECT_EQ(amdf[0], 0);
    EXPECT_FLOAT_EQ(amdf[1], (2 + 4 + 6 + 3 + 0 + 2 + 3) / 7.0f);
    EXPECT_FLOAT_EQ(amdf[2], (2 + 2 + 3 + 3 + 2 + 1) / 6.0f);

    // The FFT autocorrelation of whole utterances gives the same sums.
    ptParam p = quietDefaults(16000);
    std::vector<int32_t> s = voiced(150, 4000);
    std::vector<int32_t> n = noise(4000, 30000);
    for (size_t i = 0; i < s.size(); ++i) s[i] += (i > 2000 ? n[i] : 0) + 700;
    std::vector<float> pf = framePitchFunction(s.data(), 4000, p);
    ASSERT_EQ(pf.size(), size_t((4000 - 480) / 160) * 320);
    std::vector<float> direct(320);
    for (int32_t t = 0; t < 22; ++t) {
        frame2acf(&s[t * 160], 640, direct.data(), 320);
        for (int32_t lag = 0; lag < 320; ++lag)
            ASSERT_NEAR(pf[t * 320 + lag], direct[lag], 2e-6 * direct[0]) << "frame " << t << " lag " << lag;
    }
}

TEST(Pitch, FrameCountsAndShortInput) {
    ptParam p = quietDefaults(16000);
    std::vector<float> pitch;
    std::vector<int32_t> s = voiced(200, 16000);
    EXPECT_EQ(trackPitch(s.data(), 16000, p, pitch), 97);
    EXPECT_EQ(pitch.size(), 97u);
    EXPECT_EQ(trackPitch(s.data(), 639, p, pitch), 0);
    EXPECT_TRUE(pitch.empty());
    EXPECT_EQ(trackPitch(s.data(), 640, p, pitch), 1);
    EXPECT_EQ(trackPitch(s.data(), 0, p, pitch), 0);
    // All-zero samples: no division by zero, every pitch 0.
    std::vector<int32_t> silence(16000, 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(trackPitch(silence.data(), 16000, p, pitch), 97);
    testing::internal::GetCapturedStdout();
    for (float v : pitch) EXPECT_EQ(v, 0);
    p.cutLeadingTrailingZero = 1;
    EXPECT_EQ(trackPitch(silence.data(), 16000, p, pitch), 0);
}

TEST(Pitch, TracksAVoicedSoundAndSilencesTheRest) {
    // Quiet noise, 0.6 s of a 200 Hz voice, quiet noise.
    std::vector<int32_t> s = noise(8000, 40);
    std::vector<int32_t> v = voiced(200, 9600);
    std::vector<int32_t> tail = noise(8000, 40, 9);
    s.insert(s.end(), v.begin(), v.end());
    s.insert(s.end(), tail.begin(), tail.end());
    const int32_t n = static_cast<int32_t>(s.size());
    const float expected = static_cast<float>(freqToSemitone(200));  // lag 80

    for (int32_t pfType : {1, 0}) {
        ptParam p = quietDefaults(16000, pfType);
        std::vector<float> pitch;
        int32_t T = trackPitch(s.data(), n, p, pitch);
        ASSERT_EQ(T, (n - 480) / 160);
        // Frames wholly inside the voice carry its pitch; frames wholly outside none.
        for (int32_t t = 0; t < T; ++t) {
            int32_t first = t * 160, last = t * 160 + 639;
            if (first >= 8000 + 100 && last < 17600 - 100) {
                EXPECT_NEAR(pitch[t], expected, 0.05) << pfType << " " << t;
            }
            if (last < 8000 - 300 || first > 17600 + 300) {
                EXPECT_EQ(pitch[t], 0) << pfType << " " << t;
            }
        }
        EXPECT_NEAR(medianOfNonZero(pitch), expected, 0.05);
    }

    // Without the clarity threshold, the noise frames get some pitch unless the
    // volume mask removes it.
    ptParam p = quietDefaults(16000);
    p.useClarityThreshold = 0;
    p.medianFilterOrder = 0;
    std::vector<float> masked, unmasked;
    trackPitch(s.data(), n, p, masked);
    p.useVolThreshold = 0;
    trackPitch(s.data(), n, p, unmasked);
    EXPECT_NE(unmasked[5], 0);
    EXPECT_EQ(masked[5], 0);
    EXPECT_NE(unmasked[150], 0);
    EXPECT_EQ(masked[150], 0);

    // Pitch limits that exclude the voice leave nothing to track.
    p = quietDefaults(16000);
    p.minPitch = 70;
    p.maxPitch = 84;
    std::vector<float> excluded;
    trackPitch(s.data(), n, p, excluded);
    for (float x : excluded) EXPECT_TRUE(x == 0 || x >= 69.5f) << x;
}

TEST(Pitch, VolumeMaskWithoutSpeechWarns) {
    ptParam p = quietDefaults(16000);
    // A steady 250 Hz tone: its period of 64 samples divides the endpoint
    // detector's frames, so every frame has the same volume and none is speech.
    std::vector<int32_t> period = voiced(250, 64);
    std::vector<int32_t> flat;
    for (int i = 0; i < 125; ++i) flat.insert(flat.end(), period.begin(), period.end());
    std::vector<float> pitch;
    testing::internal::CaptureStdout();
    trackPitch(flat.data(), 8000, p, pitch);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Warning: Cannot find any segment after epdByVol! (line "), std::string::npos) << out;
    EXPECT_NE(out.find(" of file lib/audio)\n"), std::string::npos) << out;
    for (float v : pitch) EXPECT_EQ(v, 0);
}

TEST(Pitch, LastFrameAloneIsTracked) {
    // Silence except the last 160 samples, which only the last frame sees.
    const int32_t n = 16000;
    std::vector<int32_t> s(n, 0);
    std::vector<int32_t> v = voiced(250, 160);
    const int32_t T = (n - 480) / 160;
    std::copy(v.begin(), v.end(), s.begin() + (T - 1) * 160 + 480);
    ptParam p = quietDefaults(16000);
    p.dpUseLocalOptim = 1;
    p.useVolThreshold = 0;
    p.useClarityThreshold = 0;
    p.medianFilterOrder = 0;
    std::vector<float> pitch;
    ASSERT_EQ(trackPitch(s.data(), n, p, pitch), T);
    for (int32_t t = 0; t < T - 1; ++t) ASSERT_EQ(pitch[t], 0) << t;
    EXPECT_NE(pitch[T - 1], 0);
}

TEST(Pitch, BrokenParametersAreRefused) {
    std::vector<int32_t> s = voiced(200, 4000);
    std::vector<float> pitch;
    auto refuse = [&](void (*change)(ptParam&), const char* text) {
        ptParam p = quietDefaults(16000);
        change(p);
        try {
            trackPitch(s.data(), 4000, p, pitch);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const recogError& e) {
            EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
        }
    };
    refuse([](ptParam& p) { p.pfType = 2; }, "Unknown pfType=2 (line ");
    refuse([](ptParam& p) { p.frameSize = 0; }, "frameSize=0");
    refuse([](ptParam& p) { p.frameSize = 1 << 30; }, "frameSize=");
    refuse([](ptParam& p) { p.overlap = 640; }, "overlap=640");
    refuse([](ptParam& p) { p.overlap = -1; }, "overlap=-1");
    refuse([](ptParam& p) { p.pfLen = 641; }, "pfLen=641");
    refuse([](ptParam& p) { p.fs = 0; }, "fs=0");
    // An unknown pfType only matters once there is a frame.
    ptParam p = quietDefaults(16000);
    p.pfType = 5;
    EXPECT_EQ(trackPitch(s.data(), 100, p, pitch), 0);
    // Odd but harmless settings run.
    p = quietDefaults(16000);
    p.maxPitch = 500;
    p.minPitch = -3;
    p.indexDiffWeight = -2;
    p.medianFilterOrder = 1000000000;
    EXPECT_EQ(trackPitch(s.data(), 4000, p, pitch), 22);
}

TEST(Pitch, TransitionSearchMatchesExhaustiveSearch) {
    std::mt19937 gen(7);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen); };
    int32_t checked = 0;
    for (int round = 0; round < 600; ++round) {
        const bool squared = round % 2 == 1;
        // Integer gains on a coarse grid, with weights whose products stay
        // exact, give many exact ties, which go to the earliest candidate;
        // positions repeat.
        const bool coarse = (round / 10) % 2 == 0;
        const double weights[] = {0.5, 1, 6, 388, coarse ? 0.125 : 0.001};
        const double weight = weights[(round / 2) % 5];
        const int span = coarse ? 30 : 400;
        std::vector<double> pos(uniform(20, 90)), gain(pos.size()), x(uniform(20, 90));
        for (double& p : pos) p = uniform(-span, span);
        for (double& p : x) p = uniform(-span, span);
        std::sort(pos.begin(), pos.end());
        std::sort(x.begin(), x.end());
        for (double& g : gain) g = coarse ? uniform(0, 4) * weight : std::uniform_real_distribution<double>(0, 1e6)(gen);
        std::vector<int32_t> best;
        bestTransitions(pos, gain, x, weight, squared, best);
        ASSERT_EQ(best.size(), x.size());
        for (size_t k = 0; k < x.size(); ++k) {
            auto value = [&](size_t j) {
                double d = std::fabs(pos[j] - x[k]);
                return gain[j] - weight * (squared ? d * d : d);
            };
            size_t expected = 0;
            for (size_t j = 1; j < pos.size(); ++j)
                if (value(j) > value(expected)) expected = j;
            ASSERT_EQ(best[k], int32_t(expected)) << "round " << round << " k " << k << " value " << value(best[k])
                                                  << " vs " << value(expected);
            ++checked;
        }
    }
    EXPECT_GT(checked, 20000);
}

TEST(Pitch, DynamicProgrammingMatchesExhaustiveSearch) {
    std::mt19937 gen(42);
    std::uniform_real_distribution<float> value(-1000, 1048576);
    for (int round = 0; round < 48; ++round) {
        ptParam p = quietDefaults(16000);
        p.pfType = round % 2;
        p.dpMethod = 1 + (round / 2) % 2;
        p.dpPosDiffOrder = 1 + (round / 4) % 2;
        const float weights[] = {6, 0.01f, 388, 0, -1, 50000};
        p.indexDiffWeight = weights[(round / 8) % 6];
        p.pfWeight = round % 3 == 0 ? 4 : 1;
        pitchCandidateSetClass set;
        const int32_t frames = 30;
        for (int32_t t = 0; t < frames; ++t) {
            set.addFrame();
            // Dense frames (every lag) and sparse ones (a few local optima).
            bool dense = (t + round) % 3 != 0;
            for (int32_t lag = 15; lag < 320; ++lag)
                if (dense || gen() % 23 == 0 || lag == 100) set.addCandidate(lag, value(gen));
        }
        EXPECT_EQ(pitchDp(set, 0, frames - 1, p), bruteForceDp(set, 0, frames - 1, p))
            << "pfType " << p.pfType << " dpMethod " << p.dpMethod << " order " << p.dpPosDiffOrder << " weight "
            << p.indexDiffWeight;
        EXPECT_EQ(pitchDp(set, 7, 19, p), bruteForceDp(set, 7, 19, p));
    }
    // A run of one frame takes its best candidate, the earliest on ties.
    ptParam p = quietDefaults(16000);
    pitchCandidateSetClass one;
    one.addFrame();
    one.addCandidate(40, 3);
    one.addCandidate(50, 9);
    one.addCandidate(60, 9);
    EXPECT_EQ(pitchDp(one, 0, 0, p), std::vector<int32_t>{50});
    p.pfType = 0;
    EXPECT_EQ(pitchDp(one, 0, 0, p), std::vector<int32_t>{40});
}

TEST(Pitch, MedianFilter) {
    std::vector<float> v = {1, 9, 2, 8, 3, 7, 4};
    std::vector<float> f5 = medianFilter(v, 5);
    EXPECT_EQ(f5, (std::vector<float>{1, 9, 3, 7, 4, 7, 4}));
    // Even order: the mean of the two middle values, frames 2 .. T-3.
    std::vector<float> f4 = medianFilter(v, 4);
    EXPECT_EQ(f4, (std::vector<float>{1, 9, 5, 5.5f, 5, 7, 4}));
    EXPECT_EQ(medianFilter(v, 2)[1], 5);  // order 2 filters here; trackPitch skips it
    EXPECT_EQ(medianFilter(v, 8), v);
    EXPECT_EQ(medianFilter(std::vector<float>(), 5), std::vector<float>());

    // In trackPitch, orders up to 2 leave the pitch unfiltered.
    std::vector<int32_t> s = voiced(180, 8000);
    std::vector<int32_t> n = noise(8000, 3000);
    for (size_t i = 0; i < s.size(); ++i) s[i] += n[i];
    ptParam p = quietDefaults(16000);
    std::vector<float> none, two, five;
    p.medianFilterOrder = 0;
    trackPitch(s.data(), 8000, p, none);
    p.medianFilterOrder = 2;
    trackPitch(s.data(), 8000, p, two);
    p.medianFilterOrder = 5;
    trackPitch(s.data(), 8000, p, five);
    EXPECT_EQ(none, two);
    EXPECT_EQ(five, medianFilter(none, 5));
}

TEST(Pitch, CutLeadingTrailingZeroAndMedian) {
    std::vector<float> v = {0, 0, 60, 0, 61, 0};
    EXPECT_EQ(cutLeadingTrailingZero(v), 3);
    EXPECT_EQ(v, (std::vector<float>{60, 0, 61}));
    std::vector<float> zeros = {0, 0};
    EXPECT_EQ(cutLeadingTrailingZero(zeros), 0);
    EXPECT_TRUE(zeros.empty());
    std::vector<float> full = {1, 2};
    EXPECT_EQ(cutLeadingTrailingZero(full), 2);

    EXPECT_EQ(medianOfNonZero({0, 5, 0, 1, 3}), 3);
    EXPECT_EQ(medianOfNonZero({0, 5, 1, 0, 4, 2}), 3);
    EXPECT_EQ(medianOfNonZero({0, 0}), 0);
    EXPECT_EQ(medianOfNonZero({}), 0);
}
