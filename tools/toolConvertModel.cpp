// recognize-tool convert-model IN OUT: rewrites a model set in the other file
// format (text .mac <-> binary .macb), as read, in file order.
#include "decoder/macro.h"
#include "tools/tools.h"
#include "run/utility.h"
#include "run/outputSink.h"

#include <cstdio>

int toolConvertModel(const std::vector<std::string>& args) {
    if (args.size() != 2) {
        sinkPrintf("Usage: recognize-tool convert-model IN.mac OUT.macb | IN.macb OUT.mac\n");
        return 1;
    }
    const std::string& inPath = args[0];
    const std::string& outPath = args[1];
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

    start = clockMs();
    if (binaryOut)
        models.writeMacBinary(outPath);
    else
        models.writeMacText(outPath);
    sinkPrintf("%4.3f sec: Wrote %d models\n", elapsedSeconds(start), models.modelNum);
    sinkPrintf("\t===> Saved %s\n", outPath.c_str());
    return 0;
}
