#include "run/resultFiles.h"

#include "run/utility.h"
#include "run/outputSink.h"

#include <cstdio>

void writeScoreFile(const std::string& outputDir, const cmResult& result) {
    std::string path = outputDir + "/score.txt";
    writeFloatValue(path, result.score);
    sinkPrintf("\t===> Saved %s\n", path.c_str());
}

void writeRecogResultFile(const std::string& outputDir, const cmResult& result) {
    std::string path = outputDir + "/recogResult.txt";
    {
        filePtr f = openFileOrFail(path, "w");
        std::fprintf(f.get(), "Text index=%s\n", joinInts(result.textIndices, "#").c_str());
        std::fprintf(f.get(), "Text=%s\n", joinStrings(result.texts, "#").c_str());
        std::fprintf(f.get(), "Score=%f\n", static_cast<double>(result.timberScore));
        std::fprintf(f.get(), "RZP=%s\n", result.rzpString.c_str());
        std::fprintf(f.get(), "MPA=%s\n", result.mpaString.c_str());
        std::fprintf(f.get(), "HanYu=%s\n", result.hanyuString.c_str());
        std::fprintf(f.get(), "Tone=%s\n", result.toneString.c_str());
        std::fprintf(f.get(), "LogProb=%f\n", static_cast<double>(result.pathLogLike));
    }
    sinkPrintf("\t===> Saved %s\n", path.c_str());
}
