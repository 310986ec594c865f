// Text model files (.mac): read as loaded for a run (sorted and converted),
// and read as stored, written back as text and binary and read again, which
// must give the same set.
#include "decoder/macro.h"
#include "fuzzModels.h"
#include "fuzzSupport.h"
#include "run/utility.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    std::string path = fuzzSupport::writeInput("models.mac", data, size);
    macroClass stored;
    if (!fuzzModels::readBothWays(path, stored)) return 0;
    const std::string textCopy = fuzzSupport::scratchDir() + "/copy.mac";
    const std::string binaryCopy = fuzzSupport::scratchDir() + "/copy.macb";
    try {
        stored.writeMacText(textCopy);
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
        return 0;  // a name the text layout cannot hold (a double quote)
    }
    macroClass again;
    again.readMacro(textCopy, false);
    fuzzSupport::require(fuzzModels::sameModelSet(stored, again), "text copy reads back the same");
    try {
        stored.writeMacBinary(binaryCopy);
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
        return 0;  // a name the binary layout cannot hold (a zero byte)
    }
    again.readMacro(binaryCopy, false);
    fuzzSupport::require(fuzzModels::sameModelSet(stored, again), "binary copy reads back the same");
    return 0;
}
