#include "serve_command.h"

#include "command_line.h"
#include "entry.h"
#include "http_server.h"
#include "ip_address.h"
#include "list_service.h"
#include "net/curl_library.h"
#include "program_output.h"
#include "proxy_store.h"
#include "proxy_verifier.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <thread>

namespace tamberly {
namespace {

// Why the address the server listens on cannot be where proxies fetch the check page, or empty when it can be.
std::string unreachableForChecks(const std::string& host, bool allowPrivate) {
    if (host == "localhost")
        return "a loopback address";
    const auto address = parseIpAddress(host);
    if (!address)
        return {};
    const std::string entry = displayAddress(address->text(), 1);
    const std::string fault = listPolicyFault(entry, allowPrivate);
    if (!fault.empty())
        return fault.substr(0, std::min(fault.find(" points into"), fault.find(" cannot be a proxy")));
    return {};
}

} // namespace

int serveList(ProxyStore& store, ProxyStore& pageStore, const CommandLine& commandLine, ReporterSecret secret) {
    VerifyOptions verify = commandLine.verify;
    // Loaded now, so that a machine without it is told at start rather than at the first check.
    if (std::string why; verify.enabled && !loadCurl(why))
        return failure("--verify needs libcurl: " + why);
    if (verify.enabled && verify.publicUrl.empty()) {
        const std::string why = unreachableForChecks(commandLine.http.host, commandLine.service.allowPrivateEntries);
        if (!why.empty())
            return failure("--verify needs --public-url here: the server listens on " + commandLine.http.host + ", " +
                           why +
                           ", and each proxy would fetch the check page from its own machine instead of this "
                           "server");
    }
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

    std::unique_ptr<ProxyVerifier> verifier;
    if (verify.enabled) {
        if (verify.publicUrl.empty())
            verify.publicUrl = "http://" + displayAddress(commandLine.http.host, port);
        verifier = std::make_unique<ProxyVerifier>(service, verify, [](const std::string& message) {
            logLine(std::string(kProgram) + ": " + message + "\n");
        });
        service.setCheckRequested([&verifier] { verifier->wake(); });
    }

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

    // Checks run on a thread of their own: a round waits for its proxies without holding up requests.
    std::thread checkThread;
    if (verifier)
        checkThread = std::thread([&] { verifier->run(); });

    std::cout << "listening on " << displayAddress(commandLine.http.host, port) << std::endl;
    const bool ran = server.run();
    runEnded = true;
    if (verifier) {
        verifier->stop();
        checkThread.join();
    }
    pollThread.join();
    if (!signalled)
        pthread_kill(signalThread.native_handle(), SIGUSR1);
    signalThread.join();
    if (!ran && !signalled)
        return failure("the server stopped unexpectedly");
    return 0;
}

} // namespace tamberly
