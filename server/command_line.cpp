#include "command_line.h"

#include "core/proxy_entry.h"
#include "ip_address.h"

#include <algorithm>
#include <iterator>

#include <string>
#include <utility>

namespace tamberly {
namespace {

constexpr int kMaxDeadAfter = 1000000;
constexpr int kMaxThreads = 4096;
constexpr int kMaxConnections = 1000000;
constexpr int kMaxPending = 100000000;
constexpr int kMaxBurst = 1000000;
constexpr int kMaxTokenSeconds = 86400;
constexpr std::int64_t kMaxReportWindow = 365 * 86400;
constexpr int kMaxChecksAtOnce = 1024;

const char* const kUsage =
    "Usage: tamberly-listserver [serve] [--listen HOST:PORT] [--db PATH] [--dead-after N] [--report-window TIME]\n"
    "                           [--moderate] [--max-pending N] [--allow-private-entries] [--trust-proxy CIDR]...\n"
    "                           [--write-rate BURST/SECONDS|off] [--reporter-secret FILE] [--threads N]\n"
    "                           [--max-connections N] [--max-connections-per-client N]\n"
    "                           [--verify [--public-url URL] [--recheck TIME] [--checks-at-once N]]\n"
    "       tamberly-listserver import FILE [--db PATH] [--allow-private-entries]\n"
    "       tamberly-listserver export|pending|withdrawn [--db PATH] [--allow-private-entries]\n"
    "       tamberly-listserver approve|remove ENTRY [--db PATH]\n"
    "\n"
    "Serves the Tamberly proxy list over HTTP and keeps it in an SQLite or PostgreSQL database.\n"
    "\n"
    "Commands:\n"
    "  serve           answer requests until SIGINT or SIGTERM (the default)\n"
    "  import FILE     publish the entries of FILE (\"*\" after each entry, or one a line; - reads standard input)\n"
    "  export          write the published list text to standard output\n"
    "  pending         list the entries that wait for approval, one a line\n"
    "  withdrawn       list the withdrawn entries, and the stored ones the list leaves out with the reason\n"
    "  approve ENTRY   publish a waiting (or withdrawn) entry\n"
    "  remove ENTRY    delete an entry, whatever its state\n"
    "\n"
    "Options:\n"
    "  --listen HOST:PORT      address to listen on (default 127.0.0.1:8642; port 0 picks a free port)\n"
    "  --db PATH               database file (default $XDG_DATA_HOME/tamberly/listserver.db), or a PostgreSQL\n"
    "                          connection string (postgresql://user@host/dbname)\n"
    "  --dead-after N          withdraw an entry once N different reporters reported it (default 3)\n"
    "  --report-window TIME    how long a report counts: seconds, or with s, m, h or d (default 24h)\n"
    "  --moderate              new entries wait for approve instead of being published at once\n"
    "  --max-pending N         with --moderate, entries that may wait at most (default 10000)\n"
    "  --allow-private-entries take loopback, link-local and private addresses and localhost (a LAN's list)\n"
    "  --trust-proxy CIDR      take the client's address from X-Forwarded-For when the peer is in CIDR\n"
    "                          (repeatable)\n"
    "  --write-rate B/S|off    submissions and reports per client: a burst of B, then one every S seconds\n"
    "                          (default 20/2)\n"
    "  --reporter-secret FILE  the key that hashes reporters (default: beside an SQLite database; needed with\n"
    "                          PostgreSQL, the same file on every instance); made when missing\n"
    "  --threads N             event-loop threads (default: one per core)\n"
    "  --max-connections N     open connections at most; the longest idle is closed for a new one (default 10000)\n"
    "  --max-connections-per-client N\n"
    "                          open connections from one address (an IPv6 /64) at most (default 64)\n"
    "  --verify                check each proxy through itself before it is listed, and again every\n"
    "                          --recheck; a dead report asks for a check instead of counting reporters\n"
    "  --public-url URL        where the world reaches this server, for the checks (default: the --listen\n"
    "                          address; needed with --verify on a loopback address)\n"
    "  --recheck TIME          how often a listed proxy is checked again (default 1h)\n"
    "  --checks-at-once N      checks running at once, 5 s each at most (default 16)\n"
    "  -h, --help              show this help\n";

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

bool parseDuration(std::string_view text, std::int64_t& seconds) {
    std::int64_t unit = 1;
    if (!text.empty()) {
        switch (text.back()) {
        case 's':
            unit = 1;
            break;
        case 'm':
            unit = 60;
            break;
        case 'h':
            unit = 3600;
            break;
        case 'd':
            unit = 86400;
            break;
        default:
            unit = 0;
        }
        if (unit != 0)
            text.remove_suffix(1);
        else
            unit = 1;
    }
    int number = 0;
    if (!parseNumber(text, 1, static_cast<int>(kMaxReportWindow), number))
        return false;
    seconds = number * unit;
    return seconds <= kMaxReportWindow;
}

bool parseListenAddress(std::string_view text, std::string& host, int& port) {
    // Any host the resolver takes, and port 0 for a free one: only the split is an entry's.
    const HostPortSplit split = splitHostPort(text);
    host = std::string(split.host);
    return split.why.empty() && !host.empty() && parseNumber(split.port, 0, 65535, port);
}

bool parseCommandLine(const std::vector<std::string>& args, CommandLine& commandLine, std::string& error) {
    static const std::pair<const char*, CommandLine::Command> commands[] = {
        {"serve", CommandLine::Command::Serve},         {"import", CommandLine::Command::Import},
        {"export", CommandLine::Command::Export},       {"pending", CommandLine::Command::Pending},
        {"withdrawn", CommandLine::Command::Withdrawn}, {"approve", CommandLine::Command::Approve},
        {"remove", CommandLine::Command::Remove},
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
        if (name == "--verify") {
            if (equals != std::string::npos) {
                error = name + " takes no value";
                return false;
            }
            commandLine.verify.enabled = true;
            commandLine.service.verify = true;
            serveOnly.push_back(name);
            continue;
        }
        if (name == "--moderate" || name == "--allow-private-entries") {
            if (equals != std::string::npos) {
                error = name + " takes no value";
                return false;
            }
            if (name == "--moderate") {
                commandLine.service.moderate = true;
                serveOnly.push_back(name);
            } else {
                commandLine.service.allowPrivateEntries = true;
            }
            continue;
        }
        static const char* const valued[] = {"--listen",
                                             "--db",
                                             "--dead-after",
                                             "--report-window",
                                             "--max-pending",
                                             "--trust-proxy",
                                             "--write-rate",
                                             "--reporter-secret",
                                             "--threads",
                                             "--max-connections",
                                             "--max-connections-per-client",
                                             "--public-url",
                                             "--recheck",
                                             "--checks-at-once"};
        if (std::find(std::begin(valued), std::end(valued), name) == std::end(valued)) {
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
        if (name == "--max-connections-per-client" &&
            !parseNumber(value, 1, kMaxConnections, commandLine.http.maxConnectionsPerClient)) {
            error = "--max-connections-per-client wants a number from 1 to " + std::to_string(kMaxConnections);
            return false;
        }
        if (name == "--max-pending" && !parseNumber(value, 1, kMaxPending, commandLine.service.maxPending)) {
            error = "--max-pending wants a number from 1 to " + std::to_string(kMaxPending);
            return false;
        }
        if (name == "--report-window" && !parseDuration(value, commandLine.service.reportWindow)) {
            error = "--report-window wants a time such as 3600, 90m, 24h or 7d, at most 365d, not '" + value + "'";
            return false;
        }
        if (name == "--recheck" && !parseDuration(value, commandLine.verify.recheck)) {
            error = "--recheck wants a time such as 600, 30m or 1h, at most 365d, not '" + value + "'";
            return false;
        }
        if (name == "--checks-at-once" && !parseNumber(value, 1, kMaxChecksAtOnce, commandLine.verify.atOnce)) {
            error = "--checks-at-once wants a number from 1 to " + std::to_string(kMaxChecksAtOnce);
            return false;
        }
        if (name == "--public-url") {
            std::string url = value;
            while (!url.empty() && url.back() == '/')
                url.pop_back();
            const bool scheme = url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
            const std::size_t host = url.find("://") + 3;
            if (!scheme || url.size() <= host || url.find_first_of("?# \t", host) != std::string::npos) {
                error = "--public-url wants the server's address as the world reaches it, such as "
                        "http://proxies.example.org, not '" +
                        value + "'";
                return false;
            }
            commandLine.verify.publicUrl = url;
        }
        if (name == "--trust-proxy") {
            const auto range = parseIpRange(value);
            if (!range) {
                error =
                    "--trust-proxy wants an address or ADDRESS/BITS, such as 10.0.0.0/8 or ::1, not '" + value + "'";
                return false;
            }
            commandLine.http.trustedProxies.push_back(*range);
        }
        if (name == "--write-rate") {
            const auto slash = value.find('/');
            int burst = 0;
            int seconds = 0;
            if (value == "off") {
                commandLine.http.writeBurst = 0;
            } else if (slash != std::string::npos &&
                       parseNumber(std::string_view(value).substr(0, slash), 1, kMaxBurst, burst) &&
                       parseNumber(std::string_view(value).substr(slash + 1), 1, kMaxTokenSeconds, seconds)) {
                commandLine.http.writeBurst = burst;
                commandLine.http.writeSeconds = seconds;
            } else {
                error = "--write-rate wants BURST/SECONDS, such as 20/2, or off, not '" + value + "'";
                return false;
            }
        }
        if (name == "--reporter-secret") {
            if (value.empty()) {
                error = "--reporter-secret needs a file name";
                return false;
            }
            commandLine.reporterSecret = value;
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
    for (const auto& name : serveOnly) {
        if (!commandLine.verify.enabled &&
            (name == "--public-url" || name == "--recheck" || name == "--checks-at-once")) {
            error = name + " applies only with --verify";
            return false;
        }
    }
    commandLine.verify.moderate = commandLine.service.moderate;
    commandLine.verify.allowPrivateEntries = commandLine.service.allowPrivateEntries;
    return true;
}

} // namespace tamberly
