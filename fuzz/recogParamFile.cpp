// The recognition parameter file: key=value lines read into recogParam.
#include "fuzzSupport.h"
#include "run/recogParam.h"
#include "run/utility.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    std::string path = fuzzSupport::writeInput("param.txt", data, size);
    recogParam param;
    try {
        readRecogParam(path, param);
        fuzzSupport::require(param.txtFile.size() <= PARAM_TXTFILE_CAPACITY, "txtFile within its capacity");
        fuzzSupport::require(param.macFile.size() <= PARAM_TEXT_CAPACITY, "macFile within its capacity");
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    return 0;
}
