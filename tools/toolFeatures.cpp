// recognize-tool features: the features the recognizer sees for one wave,
// written as an HTK parameter file, and optionally its whole-utterance pitch.
#include "decoder/cmResult.h"
#include "frontend/CMel.h"
#include "frontend/CaudioFile.h"
#include "run/conditionWave.h"
#include "run/features.h"
#include "run/recogParam.h"
#include "tools/tools.h"
#include "run/utility.h"
#include "run/outputSink.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const USAGE =
    "Usage: recognize-tool features -C featureConfig [-E] [-P ptParamFile pitchOut] wavIn featOut\n"
    "  -C featureConfig         feature configuration (TARGETKIND, WINDOWSIZE, ...)\n"
    "  -E                       keep only the speech span found by endpoint detection\n"
    "  -P ptParamFile pitchOut  also write the whole-utterance pitch, one value per line\n"
    "  wavIn                    audio file, conditioned as the recognizer does\n"
    "  featOut                  HTK parameter file (big-endian, uncompressed)\n";

void writeBytes(const std::string& path, const std::string& bytes) {
    filePtr f = openFileOrFail(path, "wb");
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
    ok = std::fclose(f.release()) == 0 && ok;
    if (!ok) reportError(formatString("Cannot write file %s (line %d of %s)", path.c_str(), __LINE__, "recogTask"));
}

}  // namespace

int toolFeatures(const std::vector<std::string>& args) {
    std::string configPath, ptParamPath, pitchPath;
    bool useEpd = false, withPitch = false;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-C" && i + 1 < args.size()) {
            configPath = args[++i];
        } else if (a == "-E") {
            useEpd = true;
        } else if (a == "-P" && i + 2 < args.size()) {
            withPitch = true;
            ptParamPath = args[++i];
            pitchPath = args[++i];
        } else if (a == "--help" || a == "-h") {
            sinkPrintf("%s", USAGE);
            return 0;
        } else if (!a.empty() && a[0] == '-' && a.size() > 1) {
            sinkPrintf("Unknown or incomplete option %s\n%s", a.c_str(), USAGE);
            return 2;
        } else {
            positional.push_back(a);
        }
    }
    if (configPath.empty() || positional.size() != 2) {
        sinkPrintf("%s", USAGE);
        return 2;
    }
    const std::string& wavPath = positional[0];
    const std::string& featPath = positional[1];

    int64_t start = clockMs();
    conditionOptions conditioning;  // no volume rejection, no spectral subtraction
    conditionReport report;
    audioRecord audio = readConditionedWave(wavPath, conditioning, report);
    sinkPrintf("%4.3f sec: Read wave file \"%s\"\n", elapsedSeconds(start), wavPath.c_str());
    const std::vector<int32_t>& samples = audio.samples;
    const int32_t sampleRate = audio.sampleRate, bitsPerSample = audio.bitsPerSample;

    const int32_t sampleCount = static_cast<int32_t>(samples.size());
    featureOptions options;
    options.featureConfigFile = configPath;
    options.useEpd = useEpd ? 1 : 0;
    featureClass features =
        computeFeatures(options, samples.data(), sampleCount, sampleRate, bitsPerSample, 320, 160);
    writeBytes(featPath, htkParameterFile(features));
    sinkPrintf("\t===> Saved %s\n", featPath.c_str());

    if (withPitch) {
        start = clockMs();
        ptParam prm = initPtParam(sampleRate, bitsPerSample, 1, ptParamPath);
        std::vector<float> pitch = wholeUtterancePitch(samples.data(), sampleCount, prm);
        std::string text;
        for (float p : pitch) text += formatString("%g\n", p);
        writeBytes(pitchPath, text);
        sinkPrintf("%4.3f sec: Pitch of the whole utterance (%d frames)\n", elapsedSeconds(start),
                    static_cast<int32_t>(pitch.size()));
        sinkPrintf("\t===> Saved %s\n", pitchPath.c_str());
    }
    return 0;
}
