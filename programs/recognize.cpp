// recognize: recognizes or assesses one utterance and prints the result block.
#include "run/programSupport.h"
#include "run/recogTask.h"
#include "run/utility.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    int argumentCount = argc - 1;
    if (argumentCount < 1 || argumentCount > 9) {
        printRecognizeUsage(argumentCount, argv[0]);
        return 1;
    }
    std::vector<std::string> args(argv + 1, argv + argc);

    recogParam param;
    try {
        readRecogParam(args[0], param);
        applyRecognizeOverrides(param, args);
    } catch (const recogError& e) {
        std::printf("%s\n", e.what());
        return 0;
    }

    cmResult result;
    try {
        recognizeWaveFile(param, result);
    } catch (const recogError& e) {
        std::printf("%s\n", e.what());
        return 0;
    }
    printResultBlock(param, result);
    return 0;
}
