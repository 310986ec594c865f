// recognize-tool convert-model IN OUT: rewrites a model set in the other file
// format (text .mac <-> binary .macb), as read, in file order. The binary
// format keeps no option line; -C gives a text file written from it the
// option line of a feature configuration.
#include "decoder/macro.h"
#include "tools/tools.h"
#include "tools/train.h"
#include "run/utility.h"
#include "run/outputSink.h"

#include <cstdio>

int toolConvertModel(const std::vector<std::string>& args) {
    std::string configPath;
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-C" && i + 1 < args.size())
            configPath = args[++i];
        else
            files.push_back(args[i]);
    }
    if (files.size() != 2) {
        sinkPrintf("Usage: recognize-tool convert-model [-C featureConfig] IN.mac OUT.macb | IN.macb OUT.mac\n");
        return 2;
    }
    const std::string& inPath = files[0];
    const std::string& outPath = files[1];
    const std::string outExt = fileExtension(outPath);
    const bool binaryOut = outExt == "macb" || outExt == "MACB";
    if (!binaryOut && outExt != "mac" && outExt != "MAC")
        reportError(formatString("Error in reading \"%s\": The only allowed extension are \"mac\" and \"macb\" "
                                 "(line %d of %s) \n",
                                 outPath.c_str(), __LINE__, "macro"));

    int64_t start = clockMs();
    macroClass models;
    models.readMacro(inPath, false);
    sinkPrintf("%4.3f sec: Read %d models from %s\n", elapsedSeconds(start), models.modelNum, inPath.c_str());
    if (!configPath.empty()) {
        int32_t vecSize = 0;
        for (int32_t k = 0; k < models.streamNum; ++k) vecSize += models.streamWidth[k];
        models.optionText = modelOptionLine(vecSize, configPath);
    }

    start = clockMs();
    if (binaryOut)
        models.writeMacBinary(outPath);
    else
        models.writeMacText(outPath);
    sinkPrintf("%4.3f sec: Wrote %d models\n", elapsedSeconds(start), models.modelNum);
    sinkPrintf("\t===> Saved %s\n", outPath.c_str());
    return 0;
}
