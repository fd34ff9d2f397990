// tallyforge-results: receives, checks and stores benchmark results and serves their
// pages. See --help.

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <memory>
#include <thread>

#include "server/options.h"
#include "server/service.h"
#include "server/store.h"

int main(int argc, char** argv) {
    const CommandLineOutcome outcome = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!outcome.options) {
        (outcome.exitCode == 0 ? std::cout : std::cerr) << outcome.message << std::flush;
        return outcome.exitCode;
    }
    const ServiceOptions& options = *outcome.options;

    // Termination signals are taken by one thread that asks the server to stop; every
    // other thread, the server's workers included, inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a client that hangs up must not end the service

    if (const std::string passFile = usePasswordFileFromCredentials(); !passFile.empty()) {
        std::cerr << "tallyforge-results: PostgreSQL passwords from " << passFile << std::endl;
    }
    // A database out of reach at start ends the process with status 2, as a wrong address
    // does: under systemd, Restart= starts it again until the database answers (the units
    // in deploy/ and packaging/ keep trying), and nothing listens before it can serve.
    std::string whyNot;
    const auto store = openResultStore(options.databaseUrl, &whyNot);
    if (!store) {
        std::cerr << "tallyforge-results: cannot open the database " << redactedUrl(options.databaseUrl)
                  << ": " << whyNot << "\n";
        return 2;
    }

    int exitCode = 0;
    {
        std::unique_ptr<ResultService> started;
        try {
            started = std::make_unique<ResultService>(options, *store);
        } catch (const std::exception& e) {
            std::cerr << "tallyforge-results: cannot read the database " << redactedUrl(options.databaseUrl)
                      << " at start: " << e.what() << "\n";
            return 2;
        }
        ResultService& service = *started;
        if (const int failed = service.bind(&whyNot)) {
            std::cerr << "tallyforge-results: " << whyNot << "\n";
            return failed;
        }
        std::atomic<bool> stopRequested{false};
        std::thread signalWaiter([&] {
            int signal = 0;
            sigwait(&stopSignals, &signal);
            if (stopRequested.exchange(true)) return;  // woken by main to leave
            std::cerr << "tallyforge-results: " << (signal == SIGINT ? "SIGINT" : "SIGTERM")
                      << " received, finishing requests in flight" << std::endl;
            service.stop();
        });

        std::cerr << "tallyforge-results: listening on " << service.baseUrl() << " with "
                  << redactedUrl(options.databaseUrl) << std::endl;
        service.run();  // returns once stopped, or if the listener fails
        if (!stopRequested.exchange(true)) {
            // run() ended without a signal: the listener failed. Wake the waiting thread.
            std::cerr << "tallyforge-results: the listener stopped unexpectedly\n";
            exitCode = 1;
            pthread_kill(signalWaiter.native_handle(), SIGTERM);
        }
        signalWaiter.join();
        // Leaving this scope drains the write queue (empty by now: every handler has returned).
    }
    std::cerr << "tallyforge-results: stopped" << std::endl;
    return exitCode;
}
