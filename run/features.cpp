#include "run/features.h"

#include "frontend/CMel.h"
#include "lib/audio.h"
#include "run/utility.h"
#include "run/outputSink.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

featureOptions featureOptionsOf(const recogParam& param) {
    featureOptions options;
    options.featureConfigFile = param.featureConfigFile;
    options.useEpd = param.useEpd;
    return options;
}

featureClass computeFeatures(const featureOptions& options, const int32_t* samples, int32_t sampleCount,
                             int32_t sampleRate, int32_t bitsPerSample, int32_t frameSize, int32_t overlap) {
    const int32_t hop = frameSize - overlap;
    if (hop <= 0 || frameSize <= 0)
        reportError(formatString("Frame size %d with overlap %d has no hop (line %d of %s)", frameSize, overlap,
                                 __LINE__, "recogTask"));
    sampleCount = std::max(sampleCount, 0);
    int64_t start = clockMs();
    int32_t begin = 0, end = sampleCount - 1;
    if (options.useEpd == 1) {
        epdParam epd = initEpdParam(sampleRate);
        std::vector<epdSegment> segments = epdByVolDiff(samples, sampleCount, sampleRate, epd);
        if (segments.empty()) {
            sinkPrintf("Warning: no speech segment found by endpoint detection; the whole wave is used "
                        "(line %d of %s)\n", __LINE__, "recogTask");
        } else {
            begin = frameCenterSample(segments.front().beginFrame, epd.frameSize, epd.overlap);
            end = frameCenterSample(segments.back().endFrame, epd.frameSize, epd.overlap);
        }
    }
    const int32_t beginFrameId = roundToInt(static_cast<double>(begin) / hop);
    const int32_t endFrameId = roundToInt(static_cast<double>(end) / hop);
    const int32_t waveBeginIndex = hop * beginFrameId;
    const int32_t waveEndIndex =
        static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(hop) * endFrameId + frameSize - 1, sampleCount - 1));
    sinkPrintf("%4.3f sec: EPD\n", elapsedSeconds(start));
    sinkPrintf("\twaveBeginIndex=%d, waveEndIndex=%d\n", waveBeginIndex, waveEndIndex);
    sinkPrintf("\twaveBeginFrameId=%d, waveEndFrameId=%d\n", beginFrameId, endFrameId);

    start = clockMs();
    // A span that snapping left empty, or that starts past the end, gives no samples.
    const int32_t first = std::min(std::max(waveBeginIndex, 0), sampleCount);
    const int32_t length = std::max(0, waveEndIndex - first + 1);
    CMel mel;
    featureClass features;
    mel.computeMfcc(samples + first, sampleRate, bitsPerSample, length, options.featureConfigFile, features.m_frameNum,
                    features.m_dim);
    features.m_data = std::move(mel.m_features);
    features.m_beginFrameId = beginFrameId;
    features.m_beginSample = first;
    features.m_endSample = first + length - 1;
    features.m_parameterKind = mel.m_config.m_targetKind;
    features.m_framePeriod = static_cast<int32_t>(std::min<long long>(std::llround(mel.m_config.m_targetRate), INT32_MAX));
    if (features.m_frameNum > MAX_FRAME_NUM)
        reportError(formatString("frameNum = %d > %d, frameNum too big!", features.m_frameNum, MAX_FRAME_NUM));
    sinkPrintf("%4.3f sec: Compute MFCC (cfgFile=%s)\n", elapsedSeconds(start), options.featureConfigFile.c_str());
    return features;
}

std::vector<float> wholeUtterancePitch(const int32_t* samples, int32_t sampleCount, ptParam prm) {
    if (prm.nbits < 1 || prm.nbits > 16)
        reportError(formatString("Pitch tracking needs nbits from 1 to 16, not %d (line %d of %s)", prm.nbits,
                                 __LINE__, "recogTask"));
    sampleCount = std::max(sampleCount, 0);
    std::vector<int32_t> scaled(samples, samples + sampleCount);
    if (sampleCount > 0) {
        int64_t sum = 0;
        for (int32_t v : scaled) sum += v;
        const int64_t mean = sum / sampleCount;
        int64_t lowest = 0, highest = 0;
        std::vector<int64_t> centred(scaled.size());
        for (size_t i = 0; i < scaled.size(); ++i) {
            centred[i] = scaled[i] - mean;
            lowest = std::min(lowest, centred[i]);
            highest = std::max(highest, centred[i]);
        }
        const int64_t peak = std::llabs(lowest) < std::llabs(highest) ? highest : lowest;
        // A silent wave has no peak to scale to and stays silent.
        const double gain = peak == 0 ? 0.0 : std::ldexp(1.0, prm.nbits) * 0.5 / static_cast<double>(std::llabs(peak));
        for (size_t i = 0; i < scaled.size(); ++i) scaled[i] = roundToInt(static_cast<double>(centred[i]) * gain);
    }
    std::vector<float> pitch;
    trackPitch(scaled.data(), sampleCount, prm, pitch);
    const float median = medianOfNonZero(pitch);
    if (median == 0) return pitch;
    prm.minPitch = median - prm.pitchRangeMax / 2;
    prm.maxPitch = median + prm.pitchRangeMax / 2;
    trackPitch(scaled.data(), sampleCount, prm, pitch);
    return pitch;
}

namespace {

void putBigEndian32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xff));
}

void putBigEndian16(std::string& out, uint16_t v) {
    out.push_back(static_cast<char>(v >> 8));
    out.push_back(static_cast<char>(v & 0xff));
}

}  // namespace

std::string htkParameterFile(const featureClass& features) {
    const uint32_t bytesPerFrame = static_cast<uint32_t>(features.m_dim) * 4;
    if (bytesPerFrame > 0xffff)
        reportError(formatString("%d values per frame do not fit an HTK parameter file (line %d of %s)",
                                 features.m_dim, __LINE__, "recogTask"));
    std::string out;
    out.reserve(12 + features.m_data.size() * 4);
    putBigEndian32(out, static_cast<uint32_t>(features.m_frameNum));
    putBigEndian32(out, static_cast<uint32_t>(features.m_framePeriod));
    putBigEndian16(out, static_cast<uint16_t>(bytesPerFrame));
    // The frames are written plain: no compression and no checksum qualifiers.
    putBigEndian16(out, static_cast<uint16_t>(features.m_parameterKind & ~(PARAM_KIND_C | PARAM_KIND_K)));
    for (float v : features.m_data) {
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        putBigEndian32(out, bits);
    }
    return out;
}

