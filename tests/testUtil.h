// Helpers shared by the tests: scratch directories, files, running programs.
#pragma once

#include <functional>
#include <string>

// A fresh empty directory under the build tree, removed when the object goes.
class scratchDir {
public:
    scratchDir();
    ~scratchDir();
    scratchDir(const scratchDir&) = delete;
    scratchDir& operator=(const scratchDir&) = delete;
    // Path of a file inside the directory.
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    // Writes bytes to a file inside the directory and returns its path.
    std::string write(const std::string& name, const std::string& bytes) const;
    std::string m_path;
};

std::string readWholeFile(const std::string& path);

// The message of the recogError the call raises, or "" when it raises none.
std::string errorOf(const std::function<void()>& call);

// Output and exit status of a command run through the shell.
struct commandResult {
    std::string output;  // standard output (and standard error when merged)
    int status = -1;     // exit status
};
commandResult runCommand(const std::string& command);

// Path of a program built by this project.
std::string programPath(const std::string& name);

// Quotes a string for the shell.
std::string shellQuote(const std::string& s);
