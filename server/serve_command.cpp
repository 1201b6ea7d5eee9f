#include "serve_command.h"

#include "command_line.h"
#include "http_server.h"
#include "list_service.h"
#include "program_output.h"
#include "proxy_store.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>

namespace tamberly {

int serveList(ProxyStore& store, ProxyStore& pageStore, const CommandLine& commandLine, ReporterSecret secret) {
    // Signals are taken by one thread with sigwait, so stopping never runs inside a signal handler. Blocked before
    // any thread starts, so every thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    ListService service(store, commandLine.service, std::move(secret), {}, &pageStore);
    service.setErrorSink([](const std::string& message) { logLine(std::string(kProgram) + ": " + message + "\n"); });
    HttpServer server(service, commandLine.http, logLine);
    const int port = server.bind();
    if (port <= 0)
        return failure("cannot listen on " + displayAddress(commandLine.http.host, commandLine.http.port) +
                       " (address in use or not available here)");

    std::atomic<bool> runEnded{false};
    std::atomic<bool> signalled{false};
    std::thread signalThread([&] {
        int number = 0;
        sigwait(&signals, &number);
        if (number == SIGUSR1) // woken because run() ended on its own
            return;
        signalled = true;
        logLine(std::string(kProgram) + ": stopping on " + (number == SIGINT ? "SIGINT" : "SIGTERM") + "\n");
        // stop() does nothing before the server runs, so wait until it does.
        while (!server.running() && !runEnded)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        server.stop();
    });

    // Subcommands and other servers change the database behind the cached list.
    std::thread pollThread([&] {
        while (!runEnded) {
            try {
                service.waitForChange(std::chrono::milliseconds(250));
                service.refreshIfChangedElsewhere();
            } catch (const std::exception& error) {
                logLine(std::string(kProgram) + ": " + error.what() + "\n");
            }
        }
    });

    std::cout << "listening on " << displayAddress(commandLine.http.host, port) << std::endl;
    const bool ran = server.run();
    runEnded = true;
    pollThread.join();
    if (!signalled)
        pthread_kill(signalThread.native_handle(), SIGUSR1);
    signalThread.join();
    if (!ran && !signalled)
        return failure("the server stopped unexpectedly");
    return 0;
}

} // namespace tamberly
