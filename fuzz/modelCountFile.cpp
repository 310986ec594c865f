// The model count file: "name<TAB>count" lines taken in model order.
#include "decoder/macro.h"
#include "fuzzFixtures.h"
#include "fuzzSupport.h"
#include "run/utility.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    static const macroClass fixed = fuzzFixtures::modelSet({"a+b", "b+sil", "c+a", "sil", "sp"});
    std::string path = fuzzSupport::writeInput("models.count", data, size);
    macroClass models = fixed;
    try {
        models.readModelCountFile(path);
        for (const hmmModel& model : models.models)
            fuzzSupport::require(std::isfinite(model.logCount) && model.logCount >= 0, "a finite, non-negative log count");
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    return 0;
}
