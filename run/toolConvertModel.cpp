#include "run/tools.h"
#include "run/utility.h"

// Placeholder until the model reader and writers exist.
int toolConvertModel(const std::vector<std::string>&) {
    reportError(formatString("convert-model: not available yet in this build (line %d in %s)", __LINE__, "recogTask"));
}
