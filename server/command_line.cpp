#include "command_line.h"

#include "entry.h"
#include "proxy_store.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

namespace tamberly {
namespace {

constexpr const char* kProgram = "tamberly-listserver";
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kMaxDeadAfter = 1000000;
constexpr int kMaxThreads = 4096;
constexpr int kMaxConnections = 1000000;
constexpr std::size_t kMaxImportErrorsShown = 20;

const char* const kUsage =
    "Usage: tamberly-listserver [serve] [--listen HOST:PORT] [--db PATH] [--dead-after N] [--moderate]\n"
    "                           [--threads N] [--max-connections N]\n"
    "       tamberly-listserver import FILE [--db PATH]\n"
    "       tamberly-listserver export|pending [--db PATH]\n"
    "       tamberly-listserver approve|remove ENTRY [--db PATH]\n"
    "\n"
    "Serves the Tamberly proxy list over HTTP and keeps it in an SQLite database.\n"
    "\n"
    "Commands:\n"
    "  serve           answer requests until SIGINT or SIGTERM (the default)\n"
    "  import FILE     publish the entries of FILE (\"*\" after each entry, or one a line; - reads standard input)\n"
    "  export          write the published list text to standard output\n"
    "  pending         list the entries that wait for approval, one a line\n"
    "  approve ENTRY   publish a waiting (or withdrawn) entry\n"
    "  remove ENTRY    delete an entry, whatever its state\n"
    "\n"
    "Options:\n"
    "  --listen HOST:PORT  address to listen on (default 127.0.0.1:8642; port 0 picks a free port)\n"
    "  --db PATH           database file (default $XDG_DATA_HOME/tamberly/listserver.db), or a PostgreSQL\n"
    "                      connection string (postgresql://user@host/dbname)\n"
    "  --dead-after N      withdraw an entry after N dead-proxy reports (default 1)\n"
    "  --moderate          new entries wait for approve instead of being published at once\n"
    "  --threads N         event-loop threads (default: one per core)\n"
    "  --max-connections N open connections at most; the longest idle is closed for a new one (default 10000)\n"
    "  -h, --help          show this help\n";

bool parseNumber(std::string_view text, int low, int high, int& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    value = std::stoi(std::string(text));
    return value >= low && value <= high;
}

void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const auto n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

// One write call per line, so lines from many threads never interleave.
void logLine(const std::string& line) {
    writeAll(STDERR_FILENO, line);
}

std::string displayAddress(const std::string& host, int port) {
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

int usageError(const std::string& message) {
    std::cerr << kProgram << ": " << message << "\nTry '" << kProgram << " --help'.\n";
    return kExitUsage;
}

int failure(const std::string& message) {
    std::cerr << kProgram << ": " << message << "\n";
    return kExitFailure;
}

std::string openDatabasePath(const std::string& given, std::string& error) {
    namespace fs = std::filesystem;
    std::string path = given.empty() ? defaultDatabasePath() : given;
    if (path.empty()) {
        error = "cannot find a place for the database: set XDG_DATA_HOME or HOME, or give --db PATH";
        return {};
    }
    const fs::path folder = fs::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty() && !fs::exists(folder, ec)) {
        fs::create_directories(folder, ec);
        if (ec) {
            error = "cannot create the folder " + folder.string() + ": " + ec.message();
            return {};
        }
        // The default folder holds only this program's data.
        if (given.empty())
            fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
    }
    return path;
}

int serve(ProxyStore& store, const CommandLine& commandLine) {
    // Signals are taken by one thread with sigwait, so stopping never runs inside a signal handler. Blocked before
    // any thread starts, so every thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    ListService service(store, commandLine.service);
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

bool readInput(const std::string& file, std::string& text, std::string& error) {
    if (file == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return true;
    }
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec)) {
        error = "cannot read " + file + ": it is a folder";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot read " + file + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream out;
    out << in.rdbuf();
    text = out.str();
    return true;
}

int importFile(ProxyStore& store, const std::string& file) {
    std::string text;
    std::string error;
    if (!readInput(file, text, error))
        return failure(error);
    std::vector<std::string> entries;
    std::set<std::string> seen;
    std::size_t refused = 0;
    for (const auto& piece : splitImportText(text)) {
        const auto check = checkEntry(piece.text);
        if (!check.ok) {
            if (++refused <= kMaxImportErrorsShown)
                std::cerr << file << ":" << piece.line << ": " << check.reason << "\n";
            continue;
        }
        if (seen.insert(check.entry).second)
            entries.push_back(check.entry);
    }
    if (refused > 0) {
        if (refused > kMaxImportErrorsShown)
            std::cerr << file << ": " << (refused - kMaxImportErrorsShown) << " more entries refused\n";
        return failure(std::to_string(refused) + (refused == 1 ? " entry" : " entries") +
                       " refused; nothing was imported");
    }
    const auto count = store.importEntries(entries, static_cast<std::int64_t>(std::time(nullptr)));
    std::cout << "imported " << entries.size() << (entries.size() == 1 ? " entry" : " entries") << ": " << count.added
              << " new, " << count.republished << " published again, " << count.alreadyPublished
              << " already on the list\n";
    return 0;
}

int approveEntry(ProxyStore& store, const std::string& raw) {
    const auto check = checkEntry(raw);
    if (!check.ok)
        return failure("invalid proxy entry: " + check.reason);
    switch (store.approve(check.entry)) {
    case ProxyStore::ApproveResult::Unknown:
        return failure(check.entry + " is not known");
    case ProxyStore::ApproveResult::AlreadyPublished:
        std::cout << check.entry << " is already on the list\n";
        break;
    case ProxyStore::ApproveResult::Approved:
        std::cout << check.entry << " is now on the list\n";
        break;
    }
    return 0;
}

int removeEntry(ProxyStore& store, const std::string& raw) {
    const auto check = checkEntry(raw);
    // A row that is not a valid entry (edited in by hand) can still be removed by its exact text.
    const std::string& entry = check.ok ? check.entry : raw;
    if (!store.remove(entry))
        return failure(check.ok ? entry + " is not known" : "invalid proxy entry: " + check.reason);
    std::cout << "removed " << entry << "\n";
    return 0;
}

int runCommand(const CommandLine& commandLine) {
    std::string error;
    const bool postgres = isPostgresLocation(commandLine.database);
    const std::string path = postgres ? commandLine.database : openDatabasePath(commandLine.database, error);
    if (path.empty())
        return failure(error);
    const auto opened = openProxyStore(path);
    ProxyStore& store = *opened;
    switch (commandLine.command) {
    case CommandLine::Command::Serve:
        return serve(store, commandLine);
    case CommandLine::Command::Import:
        return importFile(store, commandLine.argument);
    case CommandLine::Command::Export: {
        ListService service(store, commandLine.service);
        std::cout << *service.listText() << std::flush;
        return 0;
    }
    case CommandLine::Command::Pending:
        for (const auto& record : store.entries(ProxyState::Pending))
            std::cout << record.entry << "\n";
        return 0;
    case CommandLine::Command::Approve:
        return approveEntry(store, commandLine.argument);
    case CommandLine::Command::Remove:
        return removeEntry(store, commandLine.argument);
    case CommandLine::Command::Help:
        break;
    }
    return 0;
}

} // namespace

bool parseListenAddress(std::string_view text, std::string& host, int& port) {
    std::string_view portText;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return false;
        host = std::string(text.substr(1, close - 1));
        portText = text.substr(close + 2);
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string_view::npos)
            return false;
        host = std::string(text.substr(0, colon));
        portText = text.substr(colon + 1);
        if (host.find(':') != std::string::npos)
            return false;
    }
    return !host.empty() && parseNumber(portText, 0, 65535, port);
}

std::string defaultDatabasePath() {
    std::string data;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    // A relative XDG_DATA_HOME is to be ignored.
    if (xdg && xdg[0] == '/')
        data = xdg;
    else if (home && home[0] != '\0')
        data = std::string(home) + "/.local/share";
    else
        return {};
    return data + "/tamberly/listserver.db";
}

bool parseCommandLine(const std::vector<std::string>& args, CommandLine& commandLine, std::string& error) {
    static const std::pair<const char*, CommandLine::Command> commands[] = {
        {"serve", CommandLine::Command::Serve},     {"import", CommandLine::Command::Import},
        {"export", CommandLine::Command::Export},   {"pending", CommandLine::Command::Pending},
        {"approve", CommandLine::Command::Approve}, {"remove", CommandLine::Command::Remove},
    };
    std::vector<std::string> positional;
    std::vector<std::string> serveOnly;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            commandLine.command = CommandLine::Command::Help;
            return true;
        }
        const auto equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (name == "--moderate") {
            if (equals != std::string::npos) {
                error = "--moderate takes no value";
                return false;
            }
            commandLine.service.moderate = true;
            serveOnly.push_back(name);
            continue;
        }
        if (name != "--listen" && name != "--db" && name != "--dead-after" && name != "--threads" &&
            name != "--max-connections") {
            error = "unknown option " + name;
            return false;
        }
        std::string value;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = name + " needs a value";
            return false;
        }
        if (name == "--db") {
            if (value.empty()) {
                error = "--db needs a file name";
                return false;
            }
            commandLine.database = value;
            continue;
        }
        serveOnly.push_back(name);
        if (name == "--listen" && !parseListenAddress(value, commandLine.http.host, commandLine.http.port)) {
            error = "--listen wants HOST:PORT with a port from 0 to 65535, not '" + value + "'";
            return false;
        }
        if (name == "--dead-after" && !parseNumber(value, 1, kMaxDeadAfter, commandLine.service.deadAfter)) {
            error = "--dead-after wants a number from 1 to " + std::to_string(kMaxDeadAfter);
            return false;
        }
        if (name == "--threads" && !parseNumber(value, 1, kMaxThreads, commandLine.http.threads)) {
            error = "--threads wants a number from 1 to " + std::to_string(kMaxThreads);
            return false;
        }
        if (name == "--max-connections" && !parseNumber(value, 1, kMaxConnections, commandLine.http.maxConnections)) {
            error = "--max-connections wants a number from 1 to " + std::to_string(kMaxConnections);
            return false;
        }
    }

    std::size_t next = 0;
    if (!positional.empty()) {
        bool known = false;
        for (const auto& [name, command] : commands) {
            if (positional[0] == name) {
                commandLine.command = command;
                known = true;
            }
        }
        if (!known) {
            error = "unknown command '" + positional[0] + "'";
            return false;
        }
        next = 1;
    }
    const auto command = commandLine.command;
    const bool wantsArgument = command == CommandLine::Command::Import || command == CommandLine::Command::Approve ||
                               command == CommandLine::Command::Remove;
    if (wantsArgument) {
        if (next >= positional.size()) {
            error = positional[0] + (command == CommandLine::Command::Import ? " needs a FILE" : " needs an ENTRY");
            return false;
        }
        commandLine.argument = positional[next++];
    }
    if (next < positional.size()) {
        error = "unexpected argument '" + positional[next] + "'";
        return false;
    }
    if (command != CommandLine::Command::Serve && !serveOnly.empty()) {
        error = serveOnly.front() + " applies only to serve";
        return false;
    }
    return true;
}

int runListServer(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    CommandLine commandLine;
    std::string error;
    if (!parseCommandLine(args, commandLine, error))
        return usageError(error);
    if (commandLine.command == CommandLine::Command::Help) {
        std::cout << kUsage;
        return 0;
    }
    try {
        return runCommand(commandLine);
    } catch (const std::exception& e) {
        return failure(e.what());
    }
}

} // namespace tamberly
