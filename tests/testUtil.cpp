#include "testUtil.h"

#include "run/utility.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

std::string errorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const recogError& e) {
        return e.what();
    }
    return "";
}

scratchDir::scratchDir() {
    std::string base = std::string(RECOG_BINARY_DIR) + "/scratch";
    std::filesystem::create_directories(base);
    std::string pattern = base + "/tXXXXXX";
    if (!mkdtemp(&pattern[0])) std::abort();
    m_path = pattern;
}

scratchDir::~scratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::string scratchDir::write(const std::string& name, const std::string& bytes) const {
    std::string path = file(name);
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

commandResult runCommand(const std::string& command) {
    commandResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string programPath(const std::string& name) { return std::string(RECOG_BINARY_DIR) + "/" + name; }

std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}
