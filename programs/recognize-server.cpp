// recognize-server: the assessment service over HTTP (see README, "The
// assessment service"). Loads the parameter file's resources once, then
// answers until SIGINT or SIGTERM, after which it finishes the requests under
// way and exits with status 0. Status 1: wrong command line; 2: the resources,
// the token file or the address could not be had.
#include "run/outputSink.h"
#include "run/utility.h"
#include "service/assessService.h"
#include "service/httpService.h"
#include "service/serverOptions.h"

#include <atomic>
#include <csignal>
#include <malloc.h>
#include <cstdio>
#include <memory>
#include <pthread.h>
#include <thread>
#include <unistd.h>

int main(int argc, char** argv) {
    serverOptions options;
    std::string problem = parseServerArguments(std::vector<std::string>(argv + 1, argv + argc), options);
    if (!problem.empty()) {
        std::fprintf(stderr, "%s\n%s", problem.c_str(), serverUsage(argv[0]).c_str());
        return 1;
    }
    // A service leaves no error log behind for a bad request.
    configureErrorLog(false, true);
    // Requests pass through many connection threads; with an arena of its own
    // for each, freed memory would stay spread over them and the resident
    // size creep up with the number of threads that ever read a request.
    mallopt(M_ARENA_MAX, options.threads + 1);

    serviceLimits limits;
    limits.maxSeconds = options.maxSeconds;
    assessmentService service;
    std::string token;
    try {
        std::unique_ptr<scopedOutputSilence> silence;
        if (options.quiet) silence = std::make_unique<scopedOutputSilence>();
        loadAssessmentService(options.paramFile, limits, service);
        if (!options.tokenFile.empty()) token = readTokenFile(options.tokenFile);
    } catch (const recogError& e) {
        std::printf("%s\n", e.what());
        return 2;
    }

    // Every thread started from here on leaves SIGINT and SIGTERM to the
    // waiting thread below, which stops the server in an ordinary context.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    recognizeServer server(service, options, token);
    if (!server.bind()) {
        std::printf("Error: cannot listen on %s port %d\n", options.host.c_str(), options.port);
        return 2;
    }
    std::printf("Listening on http://%s:%d/ (%d workers)\n", options.host.c_str(), server.port(), options.threads);
    std::fflush(stdout);

    std::atomic<bool> served{false};
    std::thread waiter([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        // The server may not have started listening yet: stop until it has ended.
        while (!served) {
            server.stop();
            usleep(20000);
        }
    });
    server.serve();
    served = true;
    // The waiter may still be waiting for a signal when the server ended on its own.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    if (!options.quiet) std::printf("Stopped\n");
    return 0;
}
