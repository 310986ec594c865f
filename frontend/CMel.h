// MFCC front end: mel-frequency cepstral coefficients with an energy term (or
// C0), their deltas and accelerations, for the samples of one utterance.
// Its behaviour comes from a feature configuration file of key=value lines
// read by a lenient reader (spaces ignored, unknown keys skipped).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "lib/fftwPlan.h"

#include <fftw3.h>

#include "frontend/featureLayout.h"

// Parameter-kind qualifier bits (added to the base code).
constexpr uint16_t PARAM_KIND_E = 0x40;    // log energy appended
constexpr uint16_t PARAM_KIND_N = 0x80;    // recorded only
constexpr uint16_t PARAM_KIND_D = 0x100;   // deltas appended
constexpr uint16_t PARAM_KIND_A = 0x200;   // accelerations appended
constexpr uint16_t PARAM_KIND_C = 0x400;   // compressed file (recorded only)
constexpr uint16_t PARAM_KIND_Z = 0x800;   // cepstral mean removed
constexpr uint16_t PARAM_KIND_K = 0x1000;  // checksum in file (recorded only)
constexpr uint16_t PARAM_KIND_0 = 0x2000;  // C0 appended
constexpr uint16_t PARAM_KIND_V = 0x4000;  // recorded only
constexpr uint16_t PARAM_KIND_BASE_MASK = 0x3f;

// Longest analysis window accepted, in samples, and widest regression window
// of deltas and accelerations, in frames; larger values only come from broken
// configurations and would make the front end allocate or loop without end.
constexpr int32_t MAX_WINDOW_SAMPLES = 1 << 20;
constexpr int32_t MAX_REGRESSION_WINDOW = 100;

// Base name plus qualifiers (e.g. "MFCC_E_D_A") to its 16-bit code (838).
// Unknown qualifier letters are dropped; an unknown base name gives "ANON"
// (11) without qualifiers; "LPDELCEP" becomes LPCEPSTRA with _D.
uint16_t parseParameterKind(const std::string& name);

// The feature configuration; the defaults are those of the constructor.
class featureConfig {
public:
    float m_sourceRate = 625;       // SOURCERATE: sample period in 100 ns (kept, not used)
    bool m_zeroMeanSource = false;  // ZMEANSOURCE: remove each frame's mean
    uint16_t m_targetKind = 838;    // TARGETKIND: parameter kind code (MFCC_E_D_A)
    float m_targetRate = 100000;    // TARGETRATE: frame shift in 100 ns
    float m_windowSize = 200000;    // WINDOWSIZE: window length in 100 ns
    bool m_useHamming = true;       // USEHAMMING: apply a Hamming window
    float m_preemCoef = 0.975f;     // PREEMCOEF: pre-emphasis; <= 0 switches it off
    bool m_usePower = false;        // USEPOWER: power instead of magnitude spectrum
    int32_t m_numChans = 26;        // NUMCHANS: mel filterbank channels
    float m_loFreq = -1;            // LOFREQ: low cut-off in Hz; negative = none
    float m_hiFreq = -1;            // HIFREQ: high cut-off in Hz; negative = none
    int32_t m_cepLifter = 22;       // CEPLIFTER: lifter coefficient; <= 0 = no liftering
    int32_t m_numCeps = 12;         // NUMCEPS: cepstra C1..C_NUMCEPS
    bool m_eNormalise = true;       // ENORMALISE: normalise log energy over the utterance
    float m_eScale = 0.1f;          // ESCALE: scale of the normalised log energy
    int32_t m_deltaWindow = 2;      // DELTAWINDOW: delta regression half-width, frames
    int32_t m_accWindow = 2;        // ACCWINDOW: acceleration regression half-width, frames
    float m_silFloor = 50;          // SILFLOOR: silence floor in dB below the peak energy
};

class CMel {
public:
    CMel();
    CMel(const CMel&) = delete;
    CMel& operator=(const CMel&) = delete;

    // Reads the configuration file at configPath and computes the features of
    // sampleCount samples (16-bit values in 32-bit integers) at sampleRate Hz.
    // The matrix stays in m_features; frameNum and dim receive T and D.
    // An unopenable file prints two messages and is reported; a configuration
    // the models cannot use (static part not 13 wide, _A without _D, broken
    // geometry) is reported naming the file. sampleWidth is not used: the
    // values are taken as they are.
    void computeMfcc(const int32_t* samples, int32_t sampleRate, int32_t sampleWidth, int32_t sampleCount,
                     const std::string& configPath, int32_t& frameNum, int32_t& dim);

    // The same with the configuration already in m_config (m_configPath names
    // it in messages).
    void computeMfccFromConfig(const int32_t* samples, int32_t sampleRate, int32_t sampleCount);

    // Fills m_config from the file (over what it holds). Prints
    // "Can't open config file %s \n" and reports an unopenable file.
    void readFeatureConfig(const std::string& path);

    // One frame of m_windowLen samples to its static vector of m_staticNum
    // values (tables of computeMfccFromConfig must be built).
    void convertFrame(const int32_t* frame, float* vector);

    featureConfig m_config;
    std::string m_configPath;  // file the configuration came from ("" = none)

    // Derived state of the last computeMfcc call.
    int32_t m_samplePeriod = 0;  // P, 100 ns units
    int32_t m_windowLen = 0;     // W, samples
    int32_t m_frameShift = 0;    // H, samples
    int32_t m_frameNum = 0;      // T
    int32_t m_dim = 0;           // D
    int32_t m_staticNum = 0;     // S: NUMCEPS plus energy or C0
    std::vector<float> m_hamming;  // W window weights
    std::vector<float> m_lifter;   // NUMCEPS lifter weights (index 0 = C1)
    // Filterbank: FFT size N, FFT indices klo..khi (1-based, index k is the
    // frequency (k - 1) fs / N), frequency resolution, centre frequencies
    // cf(1..NUMCHANS+1) in mel (index 0 unused), and for index 1..N/2 its
    // lower channel (-1 outside klo..khi) and lower-channel weight.
    int32_t m_fftSize = 0;
    int32_t m_klo = 0, m_khi = 0;
    float m_fres = 0;
    std::vector<float> m_centreFreqs;
    std::vector<int16_t> m_lowerChannel;
    std::vector<float> m_lowerWeight;
    std::vector<float> m_dctTable;  // NUMCEPS x NUMCHANS cosines, row i-1 for C(i)
    // T x D features, frame after frame.
    std::vector<float> m_features;

private:
    void checkConfig(int32_t sampleRate);
    void buildTables();
    void normaliseEnergy();
    void regression(int32_t sourceColumn, int32_t targetColumn, int32_t window);
    void removeCepstralMean();

    std::vector<float> m_frame;     // W working samples
    std::vector<float> m_fftIn;     // N real inputs
    std::vector<float> m_fftOut;    // N/2 + 1 complex outputs, interleaved
    std::vector<float> m_channels;  // NUMCHANS + 2 channel sums, 1-based
    fftwPlanPtr m_plan;
    int32_t m_planSize = 0;
};
