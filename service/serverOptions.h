// The command line of recognize-server: where it listens, how much work it
// takes at once and how large a request may be.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class serverOptions {
public:
    std::string host = "127.0.0.1";
    int port = 8080;
    int threads = 0;             // engine workers; 0 = one per core
    double maxBodyMb = 20;       // largest request body, in MiB
    double maxSeconds = 60;      // longest recording, in seconds
    int maxQueue = 64;           // requests waiting for a worker before 503
    std::string tokenFile;       // file holding the bearer token; "" = no token
    bool quiet = false;          // no progress or access lines
    std::string paramFile;       // the recognition parameter file
    // Seconds a connection may stay silent while a request or its answer is
    // under way; a stalled client is dropped after that.
    int connectionTimeoutSeconds = 10;

    size_t maxBodyBytes() const { return static_cast<size_t>(maxBodyMb * 1024 * 1024); }
};

// Fills options from the arguments after the program name. Returns "" or,
// for a wrong command line, what is wrong with it.
std::string parseServerArguments(const std::vector<std::string>& args, serverOptions& options);

// The usage lines of the program.
std::string serverUsage(const std::string& programName);

// The token of a token file: its first line without surrounding white space.
// A file that cannot be read or holds no token is reported.
std::string readTokenFile(const std::string& path);
