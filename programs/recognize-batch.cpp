// recognize-batch: recognizes or assesses every wave of a list against one
// model set and one search net, printing a score line per file.
#include "run/batch.h"
#include "run/programSupport.h"
#include "run/utility.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    int argumentCount = argc - 1;
    if (argumentCount < 2 || argumentCount > 9) {
        printBatchUsage(argumentCount, argv[0]);
        return 1;
    }
    std::vector<std::string> args(argv + 1, argv + argc);

    recogParam param;
    cmResult result;
    try {
        readRecogParam(args[0], param);
        applyBatchOverrides(param, args);
        recognizeBatch(param, result);
    } catch (const recogError& e) {
        // A reported error ends the whole batch; the lines after it are not processed.
        std::printf("%s\n", e.what());
        return 0;
    }
    return 0;
}
