// Binary model files (.macb): read as loaded for a run (sorted and converted),
// and read as stored, written back and read again, which must give the same
// set (not always the same bytes: the writer zero-fills name fields).
#include "decoder/macro.h"
#include "fuzzModels.h"
#include "fuzzSupport.h"
#include "run/utility.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    std::string path = fuzzSupport::writeInput("models.macb", data, size);
    macroClass stored;
    if (!fuzzModels::readBothWays(path, stored)) return 0;
    const std::string binaryCopy = fuzzSupport::scratchDir() + "/copy.macb";
    stored.writeMacBinary(binaryCopy);
    macroClass again;
    again.readMacro(binaryCopy, false);
    fuzzSupport::require(fuzzModels::sameModelSet(stored, again), "binary copy reads back the same");
    return 0;
}
