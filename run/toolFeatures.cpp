#include "run/tools.h"
#include "run/utility.h"

// Placeholder until the feature front end exists.
int toolFeatures(const std::vector<std::string>&) {
    reportError(formatString("features: not available yet in this build (line %d in %s)", __LINE__, "recogTask"));
}
