#include "run/programSupport.h"

#include <cstdio>

void printRecognizeUsage(int argumentCount, const std::string& programName) {
    const char* p = programName.c_str();
    std::printf("No. of command-line arguments: %d\n", argumentCount);
    std::printf("No. of command-line arguments should within [1, 9].\n");
    std::printf("Usage: %s recogParamFile\n", p);
    std::printf("       %s recogParamFile wavFile\n", p);
    std::printf("       %s recogParamFile wavFile txtFile\n", p);
    std::printf("       %s recogParamFile wavFile txtFile useEpd \n", p);
    std::printf("       %s recogParamFile wavFile txtFile useEpd outputDir\n", p);
    std::printf("       %s recogParamFile wavFile txtFile useEpd outputDir syl\n", p);
    std::printf("       %s recogParamFile wavFile txtFile useEpd outputDir syl net\n", p);
    std::printf("       %s recogParamFile wavFile txtFile useEpd outputDir syl net wpa\n", p);
    std::printf("       %s recogParamFile wavFile txtFile useEpd outputDir syl net wpa getPitch\n", p);
}

void applyRecognizeOverrides(recogParam& param, const std::vector<std::string>& args) {
    // Setting overridden by each argument position, from position 2 on.
    static const char* const keys[] = {"wavFile", "txtFile", "useEpd", "outputDir",
                                       "sylFile", "netFile", "wpaFile", "getPitch"};
    for (size_t i = 1; i < args.size() && i <= 8; ++i)
        if (!args[i].empty()) setRecogParamValue(param, keys[i - 1], args[i]);
}

void printResultBlock(const recogParam& param, const cmResult& result) {
    std::printf("\n====== Recognition result ======\n");
    std::printf("Text index = ");
    for (int32_t index : result.textIndices) std::printf("%d ", index);
    std::printf("\n");
    for (const std::string& text : result.texts) std::printf("Text = %s\n", text.c_str());
    std::printf("Phonetic alphabets = %s\n", result.phoneticAlphabets.c_str());
    if (param.language == "chinese") {
        // Labels in Big5: rzp pinyin, MPA pinyin, Hanyu pinyin, tone.
        std::printf("\xB7\xE7\xBF" "A\xAB\xF7\xAD\xB5 = %s\n", result.rzpString.c_str());
        std::printf("\xB0\xEA\xBB" "y\xAB\xF7\xAD\xB5 = %s\n", result.mpaString.c_str());
        std::printf("\xBA~\xBB" "y\xAB\xF7\xAD\xB5 = %s\n", result.hanyuString.c_str());
        std::printf("\xAD\xB5\xBD\xD5=%s\n", result.toneString.c_str());
    }
    std::printf("Log probability = %g\n", static_cast<double>(result.pathLogLike));
    std::printf("Score = %g\n", static_cast<double>(result.score));
}
