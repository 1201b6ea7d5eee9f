#include "command_line.h"

#include "core/proxy_entry.h"

#include <string>
#include <utility>

namespace tamberly {
namespace {

constexpr int kMaxDeadAfter = 1000000;
constexpr int kMaxThreads = 4096;
constexpr int kMaxConnections = 1000000;

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

} // namespace

const char* usageText() {
    return kUsage;
}

bool parseListenAddress(std::string_view text, std::string& host, int& port) {
    // Any host the resolver takes, and port 0 for a free one: only the split is an entry's.
    const HostPortSplit split = splitHostPort(text);
    host = std::string(split.host);
    return split.why.empty() && !host.empty() && parseNumber(split.port, 0, 65535, port);
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

} // namespace tamberly
