// veltrane-devserver: the local stand-in for the team's server. Prints "Listening on <url>" once
// it accepts connections, then one line per request; ends on SIGINT or SIGTERM.
#include "devserver/DevServer.h"
#include "devserver/Options.h"

#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <iostream>

int main(int argc, char** argv) {
    using veltrane::devserver::CommandLine;
    using veltrane::devserver::DevServer;

    const auto options = CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc));
    if (!options) {
        const bool help = options.error() == CommandLine::usage();
        (help ? std::cout : std::cerr) << options.error() << (help ? "" : "\n" + CommandLine::usage());
        return help ? 0 : 2;
    }

    // The stop signals are taken with sigwait below; blocking them first keeps every server
    // thread, which inherits the mask, from receiving them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    DevServer server(*options);
    if (!server.start()) {
        return 1;
    }
    std::printf("Listening on %s\n", server.baseURL().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    server.stop();
    return 0;
}
