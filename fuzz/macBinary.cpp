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
    try {
        macroClass loaded;
        loaded.readMacro(path, true);
        fuzzSupport::require(fuzzModels::wellFormed(loaded), "a well-formed converted set");
    } catch (const recogError& e) {
    fuzzSupport::reported(e);
    }

    macroClass stored;
    try {
        stored.readMacro(path, false);
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
        return 0;
    }
    fuzzSupport::require(fuzzModels::wellFormed(stored), "a well-formed set");
    const std::string binaryCopy = fuzzSupport::scratchDir() + "/copy.macb";
    stored.writeMacBinary(binaryCopy);
    macroClass again;
    again.readMacro(binaryCopy, false);
    fuzzSupport::require(fuzzModels::sameModelSet(stored, again), "binary copy reads back the same");
    return 0;
}
