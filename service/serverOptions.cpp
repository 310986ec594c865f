#include "service/serverOptions.h"

#include "run/utility.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <thread>

namespace {

// A whole decimal number within [low, high], or false.
bool parseNumber(const std::string& text, double low, double high, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str() || *end != '\0' || !(parsed >= low && parsed <= high)) return false;
    value = parsed;
    return true;
}

bool parseInteger(const std::string& text, int low, int high, int& value) {
    double parsed = 0;
    if (!parseNumber(text, low, high, parsed) || parsed != static_cast<double>(static_cast<int>(parsed)))
        return false;
    value = static_cast<int>(parsed);
    return true;
}

}  // namespace

std::string parseServerArguments(const std::vector<std::string>& args, serverOptions& options) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--quiet") {
            options.quiet = true;
            continue;
        }
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            if (i + 1 >= args.size()) return arg + " needs a value";
            const std::string& value = args[++i];
            bool ok = true;
            if (arg == "--host")
                options.host = value, ok = !value.empty();
            else if (arg == "--port")
                ok = parseInteger(value, 0, 65535, options.port);
            else if (arg == "--threads")
                ok = parseInteger(value, 1, 1024, options.threads);
            else if (arg == "--max-body-mb")
                ok = parseNumber(value, 0.001, 4096, options.maxBodyMb);
            else if (arg == "--max-seconds")
                ok = parseNumber(value, 0.1, 36000, options.maxSeconds);
            else if (arg == "--max-queue")
                ok = parseInteger(value, 0, 100000, options.maxQueue);
            else if (arg == "--token-file")
                options.tokenFile = value, ok = !value.empty();
            else
                return "unknown option " + arg;
            if (!ok) return "bad value \"" + value + "\" for " + arg;
            continue;
        }
        if (!options.paramFile.empty()) return "more than one parameter file (" + arg + ")";
        options.paramFile = arg;
    }
    if (options.paramFile.empty()) return "no parameter file";
    if (options.threads == 0) options.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    return "";
}

std::string serverUsage(const std::string& programName) {
    return "Usage: " + programName +
           " [--host ADDR] [--port N] [--threads N] [--max-body-mb N] [--max-seconds S]\n"
           "       [--max-queue N] [--token-file FILE] [--quiet] recogParamFile\n";
}

std::string readTokenFile(const std::string& path) {
    std::string bytes = readFileBytes(path);
    std::string token = trimSpace(bytes.substr(0, bytes.find('\n')));
    if (token.empty()) reportError(formatString("Error: the token file %s holds no token", path.c_str()));
    return token;
}
