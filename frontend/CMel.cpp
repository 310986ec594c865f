#include "frontend/CMel.h"

#include "lib/fftwPlan.h"

#include "run/utility.h"
#include "run/outputSink.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

const char* const UNIT = "CMel";

// Base kind names in code order.
const char* const BASE_KIND_NAMES[] = {"WAVEFORM", "LPC",   "LPREFC", "LPCEPSTRA", "LPDELCEP", "IREFC",
                                       "MFCC",     "FBANK", "MELSPEC", "USER",     "DISCRETE", "ANON"};
const uint16_t KIND_LPCEPSTRA = 3;
const uint16_t KIND_LPDELCEP = 4;
const uint16_t KIND_ANON = 11;

uint16_t qualifierBit(char c) {
    switch (c) {
        case 'E': return PARAM_KIND_E;
        case 'N': return PARAM_KIND_N;
        case 'D': return PARAM_KIND_D;
        case 'A': return PARAM_KIND_A;
        case 'C': return PARAM_KIND_C;
        case 'Z': return PARAM_KIND_Z;
        case 'K': return PARAM_KIND_K;
        case '0': return PARAM_KIND_0;
        case 'V': return PARAM_KIND_V;
        default: return 0;
    }
}


}  // namespace

uint16_t parseParameterKind(const std::string& name) {
    std::string base = name;
    uint16_t qualifiers = 0;
    while (base.size() > 2 && base[base.size() - 2] == '_') {
        qualifiers |= qualifierBit(base.back());
        base.resize(base.size() - 2);
    }
    uint16_t code = KIND_ANON;
    bool found = false;
    for (uint16_t i = 0; i < sizeof BASE_KIND_NAMES / sizeof BASE_KIND_NAMES[0]; ++i) {
        if (base == BASE_KIND_NAMES[i]) {
            code = i;
            found = true;
            break;
        }
    }
    if (!found) return KIND_ANON;
    if (code == KIND_LPDELCEP) code = KIND_LPCEPSTRA | PARAM_KIND_D;
    return static_cast<uint16_t>(code | qualifiers);
}

CMel::CMel() = default;

void CMel::readFeatureConfig(const std::string& path) {
    m_configPath = path;
    FILE* raw = std::fopen(path.c_str(), "rb");
    if (!raw) {
        sinkPrintf("Can't open config file %s \n", path.c_str());
        reportError(formatString("Cannot open feature configuration file %s (line %d of %s)", path.c_str(),
                                 __LINE__, UNIT));
    }
    filePtr file(raw);
    std::string data = readAllBytes(file.get());
    if (std::ferror(file.get()))
        reportError(formatString("Cannot read feature configuration file %s (line %d of %s)", path.c_str(),
                                 __LINE__, UNIT));

    featureConfig& c = m_config;
    size_t pos = 0;
    while (pos < data.size()) {
        size_t lineEnd = data.find('\n', pos);
        if (lineEnd == std::string::npos) lineEnd = data.size();
        std::string line;
        for (size_t i = pos; i < lineEnd; ++i)
            if (data[i] != ' ') line.push_back(data[i]);
        pos = lineEnd + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();

        size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        std::string key = line.substr(0, eq);
        size_t valueEnd = line.find('=', eq + 1);
        std::string value = line.substr(eq + 1, valueEnd == std::string::npos ? std::string::npos : valueEnd - eq - 1);
        if (value.empty()) continue;

        const char* v = value.c_str();
        if (key == "SOURCERATE") c.m_sourceRate = std::strtof(v, nullptr);
        else if (key == "TARGETRATE") c.m_targetRate = std::strtof(v, nullptr);
        else if (key == "WINDOWSIZE") c.m_windowSize = std::strtof(v, nullptr);
        else if (key == "PREEMCOEF") c.m_preemCoef = std::strtof(v, nullptr);
        else if (key == "LOFREQ") c.m_loFreq = std::strtof(v, nullptr);
        else if (key == "HIFREQ") c.m_hiFreq = std::strtof(v, nullptr);
        else if (key == "ESCALE") c.m_eScale = std::strtof(v, nullptr);
        else if (key == "SILFLOOR") c.m_silFloor = std::strtof(v, nullptr);
        else if (key == "NUMCHANS") c.m_numChans = truncToInt(std::strtod(v, nullptr));
        else if (key == "CEPLIFTER") c.m_cepLifter = truncToInt(std::strtod(v, nullptr));
        else if (key == "NUMCEPS") c.m_numCeps = truncToInt(std::strtod(v, nullptr));
        else if (key == "DELTAWINDOW") c.m_deltaWindow = truncToInt(std::strtod(v, nullptr));
        else if (key == "ACCWINDOW") c.m_accWindow = truncToInt(std::strtod(v, nullptr));
        else if (key == "ZMEANSOURCE") { if (value == "TRUE" || value == "T") c.m_zeroMeanSource = true; }
        else if (key == "USEPOWER") { if (value == "TRUE" || value == "T") c.m_usePower = true; }
        else if (key == "ENORMALISE") { if (value == "FALSE" || value == "F") c.m_eNormalise = false; }
        else if (key == "USEHAMMING") { if (value == "FALSE" || value == "F") c.m_useHamming = false; }
        else if (key == "TARGETKIND") c.m_targetKind = parseParameterKind(value);
        // SOURCEKIND, SOURCEFORMAT and every other key: nothing to store.
    }
}

void CMel::computeMfcc(const int32_t* samples, int32_t sampleRate, int32_t sampleWidth, int32_t sampleCount,
                       const std::string& configPath, int32_t& frameNum, int32_t& dim) {
    (void)sampleWidth;
    if (!fileExists(configPath)) sinkPrintf("Cannot open %s (line %d, file %s)\n", configPath.c_str(), __LINE__, UNIT);
    readFeatureConfig(configPath);
    computeMfccFromConfig(samples, sampleRate, sampleCount);
    frameNum = m_frameNum;
    dim = m_dim;
}

// Refuses configurations the rest of the system cannot use and geometry that
// would divide by zero or allocate without bound; fills P, W, H, S and D.
void CMel::checkConfig(int32_t sampleRate) {
    const featureConfig& c = m_config;
    const char* name = m_configPath.empty() ? "(built-in defaults)" : m_configPath.c_str();
    if (sampleRate <= 0 || sampleRate > 10000000)
        reportError(formatString("Sample rate %d Hz cannot be used for features (line %d of %s)", sampleRate,
                                 __LINE__, UNIT));
    m_samplePeriod = 10000000 / sampleRate;
    double w = static_cast<double>(c.m_windowSize) / m_samplePeriod;
    double h = static_cast<double>(c.m_targetRate) / m_samplePeriod;
    if (!(w >= 2 && w < MAX_WINDOW_SAMPLES + 1.0))
        reportError(formatString("WINDOWSIZE=%g in %s gives %g samples at %d Hz; 2 to %d are allowed (line %d of %s)",
                                 c.m_windowSize, name, w, sampleRate, MAX_WINDOW_SAMPLES, __LINE__, UNIT));
    if (!(h >= 1 && h < MAX_WINDOW_SAMPLES + 1.0))
        reportError(formatString("TARGETRATE=%g in %s gives %g samples at %d Hz; 1 to %d are allowed (line %d of %s)",
                                 c.m_targetRate, name, h, sampleRate, MAX_WINDOW_SAMPLES, __LINE__, UNIT));
    m_windowLen = static_cast<int32_t>(w);
    m_frameShift = static_cast<int32_t>(h);

    bool hasE = c.m_targetKind & PARAM_KIND_E, has0 = c.m_targetKind & PARAM_KIND_0;
    bool hasD = c.m_targetKind & PARAM_KIND_D, hasA = c.m_targetKind & PARAM_KIND_A;
    if (c.m_numCeps != MAX_PARAM_NUM - 1 || hasE == has0)
        reportError(formatString("Feature configuration %s gives NUMCEPS=%d with %s; the models need %d static "
                                 "values: NUMCEPS=%d with exactly one of _E and _0 (line %d of %s)",
                                 name, c.m_numCeps, hasE && has0 ? "both _E and _0" : hasE ? "_E" : has0 ? "_0" : "neither _E nor _0",
                                 MAX_PARAM_NUM, MAX_PARAM_NUM - 1, __LINE__, UNIT));
    if (hasA && !hasD)
        reportError(formatString("Feature configuration %s asks for accelerations (_A) without deltas (_D) (line %d of %s)",
                                 name, __LINE__, UNIT));
    if (hasD && (c.m_deltaWindow < 1 || c.m_deltaWindow > MAX_REGRESSION_WINDOW))
        reportError(formatString("DELTAWINDOW=%d in %s is outside 1 to %d (line %d of %s)", c.m_deltaWindow, name,
                                 MAX_REGRESSION_WINDOW, __LINE__, UNIT));
    if (hasA && (c.m_accWindow < 1 || c.m_accWindow > MAX_REGRESSION_WINDOW))
        reportError(formatString("ACCWINDOW=%d in %s is outside 1 to %d (line %d of %s)", c.m_accWindow, name,
                                 MAX_REGRESSION_WINDOW, __LINE__, UNIT));

    int32_t n = 2;
    while (n < m_windowLen) n *= 2;
    if (c.m_numChans < 1 || c.m_numChans > n / 2)
        reportError(formatString("NUMCHANS=%d in %s is outside 1 to %d, the spectral bins of a %d-sample window "
                                 "(line %d of %s)", c.m_numChans, name, n / 2, m_windowLen, __LINE__, UNIT));
    m_fftSize = n;
    m_staticNum = c.m_numCeps + 1;
    m_dim = m_staticNum * (hasA ? 3 : hasD ? 2 : 1);
}

void CMel::buildTables() {
    const featureConfig& c = m_config;
    const int32_t W = m_windowLen;
    const double PI = 3.14159265358979323846;

    m_hamming.assign(W, 1.0f);
    if (c.m_useHamming)
        for (int32_t i = 1; i <= W; ++i) m_hamming[i - 1] = static_cast<float>(0.54 - 0.46 * std::cos(2 * PI * (i - 1) / (W - 1)));

    m_lifter.assign(c.m_numCeps, 1.0f);
    if (c.m_cepLifter > 0) {
        double L = c.m_cepLifter;
        for (int32_t i = 1; i <= c.m_numCeps; ++i) m_lifter[i - 1] = static_cast<float>(1 + L / 2 * std::sin(PI * i / L));
    }

    // Mel filterbank.
    const int32_t N = m_fftSize, M = N / 2, C = c.m_numChans;
    const double P = m_samplePeriod;
    const double r = 1e7 / (P * N * 700);
    m_fres = static_cast<float>(r);
    auto melOfIndex = [r](int32_t k) { return 1127 * std::log(1 + (k - 1) * r); };
    m_klo = 2;
    m_khi = M;
    double mlo = 0, mhi = 1127 * std::log(1 + M * r);
    if (c.m_loFreq >= 0) {
        mlo = 1127 * std::log(1 + c.m_loFreq / 700.0);
        double k = c.m_loFreq * P * 1e-7 * N + 2.5;
        m_klo = k > M + 1 ? M + 1 : std::max<int32_t>(2, static_cast<int32_t>(k));
    }
    if (c.m_hiFreq >= 0) {
        mhi = 1127 * std::log(1 + c.m_hiFreq / 700.0);
        double k = c.m_hiFreq * P * 1e-7 * N + 0.5;
        m_khi = k > M ? M : static_cast<int32_t>(k);
    }
    m_centreFreqs.assign(C + 2, 0.0f);
    for (int32_t ch = 1; ch <= C + 1; ++ch)
        m_centreFreqs[ch] = static_cast<float>(static_cast<double>(ch) / (C + 1) * (mhi - mlo) + mlo);
    m_lowerChannel.assign(M + 1, -1);
    m_lowerWeight.assign(M + 1, 0.0f);
    for (int32_t k = 1; k <= M; ++k) {
        if (k < m_klo || k > m_khi) continue;
        float mel = static_cast<float>(melOfIndex(k));
        int32_t ch = 0;
        while (ch < C + 1 && m_centreFreqs[ch + 1] < mel) ++ch;
        // Above the last centre frequency the bin belongs to no filter.
        if (ch > C) continue;
        m_lowerChannel[k] = static_cast<int16_t>(ch);
        if (ch > 0)
            m_lowerWeight[k] = (m_centreFreqs[ch + 1] - mel) / (m_centreFreqs[ch + 1] - m_centreFreqs[ch]);
        else
            m_lowerWeight[k] = static_cast<float>((m_centreFreqs[1] - mel) / (m_centreFreqs[1] - mlo));
    }

    m_dctTable.resize(static_cast<size_t>(c.m_numCeps) * C);
    for (int32_t i = 1; i <= c.m_numCeps; ++i)
        for (int32_t j = 1; j <= C; ++j)
            m_dctTable[static_cast<size_t>(i - 1) * C + (j - 1)] = static_cast<float>(std::cos(PI * i * (j - 0.5) / C));

    m_frame.assign(W, 0.0f);
    m_channels.assign(C + 2, 0.0f);
    if (!m_plan || m_planSize != N) {
        m_plan.reset();
        m_fftIn.assign(N, 0.0f);
        m_fftOut.assign(2 * (M + 1), 0.0f);
        m_plan = planRealToComplex(N, m_fftIn.data(), reinterpret_cast<fftwf_complex*>(m_fftOut.data()));
        if (!m_plan) reportError(formatString("Cannot plan a %d-point FFT (line %d of %s)", N, __LINE__, UNIT));
        m_planSize = N;
    }
}

void CMel::convertFrame(const int32_t* frame, float* vector) {
    const featureConfig& c = m_config;
    const int32_t W = m_windowLen, C = c.m_numChans, numCeps = c.m_numCeps;
    float* s = m_frame.data();
    for (int32_t i = 0; i < W; ++i) s[i] = static_cast<float>(frame[i]);

    if (c.m_zeroMeanSource) {
        double sum = 0;
        for (int32_t i = 0; i < W; ++i) sum += s[i];
        float mean = static_cast<float>(sum / W);
        for (int32_t i = 0; i < W; ++i) s[i] -= mean;
    }
    double energy = 0;
    for (int32_t i = 0; i < W; ++i) energy += static_cast<double>(s[i]) * s[i];

    const float k = c.m_preemCoef;
    if (k > 0) {
        for (int32_t i = W - 1; i >= 1; --i) s[i] -= k * s[i - 1];
        s[0] *= 1 - k;
    }
    float* in = m_fftIn.data();
    for (int32_t i = 0; i < W; ++i) in[i] = s[i] * m_hamming[i];
    std::memset(in + W, 0, sizeof(float) * static_cast<size_t>(m_fftSize - W));
    fftwf_execute(m_plan.get());

    float* f = m_channels.data();
    std::fill(m_channels.begin(), m_channels.end(), 0.0f);
    const float* X = m_fftOut.data();
    for (int32_t bin = m_klo; bin <= m_khi; ++bin) {
        float re = X[2 * (bin - 1)], im = X[2 * (bin - 1) + 1];
        float power = re * re + im * im;
        float v = c.m_usePower ? power : std::sqrt(power);
        int32_t ch = m_lowerChannel[bin];
        if (ch < 0) continue;
        float weighted = m_lowerWeight[bin] * v;
        if (ch > 0) f[ch] += weighted;
        if (ch < C) f[ch + 1] += (1 - m_lowerWeight[bin]) * v;
    }
    for (int32_t j = 1; j <= C; ++j) f[j] = std::log(std::max(f[j], 1.0f));

    const float norm = std::sqrt(2.0f / C);
    for (int32_t i = 1; i <= numCeps; ++i) {
        const float* cosines = &m_dctTable[static_cast<size_t>(i - 1) * C];
        float sum = 0;
        for (int32_t j = 1; j <= C; ++j) sum += f[j] * cosines[j - 1];
        vector[i - 1] = sum * norm * m_lifter[i - 1];
    }
    if (c.m_targetKind & PARAM_KIND_0) {
        float sum = 0;
        for (int32_t j = 1; j <= C; ++j) sum += f[j];
        vector[numCeps] = sum * norm;
    }
    if (c.m_targetKind & PARAM_KIND_E)
        vector[numCeps] = energy < 2.45e-308 ? -1e10f : static_cast<float>(std::log(energy));
}

void CMel::normaliseEnergy() {
    const int32_t col = m_config.m_numCeps;
    float emax = -std::numeric_limits<float>::max();
    for (int32_t t = 0; t < m_frameNum; ++t) emax = std::max(emax, m_features[static_cast<size_t>(t) * m_dim + col]);
    float emin = static_cast<float>(emax - m_config.m_silFloor * std::log(10.0) / 10.0);
    for (int32_t t = 0; t < m_frameNum; ++t) {
        float& e = m_features[static_cast<size_t>(t) * m_dim + col];
        if (e < emin) e = emin;
        e = 1 - (emax - e) * m_config.m_eScale;
    }
}

// Linear regression over +-window frames of the S columns from sourceColumn
// into the S columns from targetColumn; rows beyond the edges repeat the
// first and last frames.
void CMel::regression(int32_t sourceColumn, int32_t targetColumn, int32_t window) {
    const int32_t T = m_frameNum, S = m_staticNum, D = m_dim;
    float divisor = 0;
    for (int32_t theta = 1; theta <= window; ++theta) divisor += static_cast<float>(theta * theta);
    divisor *= 2;
    for (int32_t t = 0; t < T; ++t) {
        float* out = &m_features[static_cast<size_t>(t) * D + targetColumn];
        for (int32_t i = 0; i < S; ++i) out[i] = 0;
        for (int32_t theta = 1; theta <= window; ++theta) {
            const float* next = &m_features[static_cast<size_t>(std::min(t + theta, T - 1)) * D + sourceColumn];
            const float* prev = &m_features[static_cast<size_t>(std::max(t - theta, 0)) * D + sourceColumn];
            for (int32_t i = 0; i < S; ++i) out[i] += theta * (next[i] - prev[i]);
        }
        for (int32_t i = 0; i < S; ++i) out[i] /= divisor;
    }
}

void CMel::removeCepstralMean() {
    const int32_t T = m_frameNum, D = m_dim;
    for (int32_t i = 0; i < m_config.m_numCeps; ++i) {
        double sum = 0;
        for (int32_t t = 0; t < T; ++t) sum += m_features[static_cast<size_t>(t) * D + i];
        float mean = static_cast<float>(sum / T);
        for (int32_t t = 0; t < T; ++t) m_features[static_cast<size_t>(t) * D + i] -= mean;
    }
}

void CMel::computeMfccFromConfig(const int32_t* samples, int32_t sampleRate, int32_t sampleCount) {
    checkConfig(sampleRate);
    // Only whole windows are used: fewer samples than one window give no frame.
    m_frameNum = sampleCount < m_windowLen ? 0 : (sampleCount - m_windowLen) / m_frameShift + 1;
    buildTables();

    const uint16_t kind = m_config.m_targetKind;
    m_features.assign(static_cast<size_t>(m_frameNum) * m_dim, 0.0f);
    for (int32_t t = 0; t < m_frameNum; ++t)
        convertFrame(samples + static_cast<size_t>(t) * m_frameShift, &m_features[static_cast<size_t>(t) * m_dim]);
    if (m_frameNum == 0) return;
    if ((kind & PARAM_KIND_E) && m_config.m_eNormalise) normaliseEnergy();
    if (kind & PARAM_KIND_D) {
        regression(0, m_staticNum, m_config.m_deltaWindow);
        if (kind & PARAM_KIND_A) regression(m_staticNum, 2 * m_staticNum, m_config.m_accWindow);
    }
    if (kind & PARAM_KIND_Z) removeCepstralMean();
}
