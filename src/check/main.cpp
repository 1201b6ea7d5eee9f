// tamberly-check: checks proxy entries from the command line, for scripts and cron. No window, no Qt.
#include "core/proxy_list_store.h"
#include "core/settings.h"
#include "net/proxy_check.h"
#include "platform/linux/user_paths.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace tamberly;

constexpr const char* kUsage =
    "usage: tamberly-check [FILE | - | --stored] [--fastest N] [--url URL] [--expect TEXT] [--judge URL]\n"
    "                      [--tunnel-host HOST] [--no-grades] [--timeout SECONDS] [--parallel N]\n"
    "\n"
    "Checks each proxy entry with one GET of the test URL through it and prints one line per entry,\n"
    "tab-separated: entry, verdict (works, refused, unknown host, timed out, needs password, wrong answer,\n"
    "bad entry), milliseconds (\"-\" when nothing was sent), anonymity (transparent, anonymous, elite) and\n"
    "tunnel (tunnel, no tunnel); the last two are graded for working entries only, and empty when not known.\n"
    "Entries come from FILE, from standard input (no FILE, or -), or with --stored from the list stored in\n"
    "prefs.ini: a list text (each entry followed by \"*\") or one entry a line. The proxy in force is never changed.\n"
    "\n"
    "  --fastest N         only the N fastest working entries, fastest first\n"
    "  --url URL           the test URL (default: prefs.ini [Check] URL, else the list server's check.php)\n"
    "  --expect TEXT       a text the test URL's answer must contain, directly and through each proxy (default:\n"
    "                      prefs.ini [Check] Expect; the check page's own body for the list server's check.php)\n"
    "  --judge URL         the judge page, fetched directly and through each working entry to grade its\n"
    "                      anonymity; plain http (default: the list server's judge.php, over http)\n"
    "  --tunnel-host HOST  the host each working entry is asked to open a tunnel to, on port 443 (default: the\n"
    "                      list server's host)\n"
    "  --no-grades         neither anonymity nor tunnel: one request per entry\n"
    "  --timeout SECONDS   time limit for each request, to connect and in all (default 5)\n"
    "  --parallel N        requests at once (default 128)\n"
    "\n"
    "Exit code: 0 when at least one entry works, 1 when none does (or the test URL fails), 2 for bad usage, a\n"
    "file that cannot be read, or no entries.\n";

int usageError(const std::string& message) {
    std::cerr << "tamberly-check: " << message << "\n" << kUsage;
    return 2;
}

// The whole of a file, or why it cannot be read ("No such file or directory", "Is a directory").
std::optional<std::string> readWhole(const std::string& path, std::string& why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        why = std::strerror(errno);
        return std::nullopt;
    }
    std::string text;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            why = std::strerror(errno);
            ::close(fd);
            return std::nullopt;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

std::optional<long> wholeNumber(const std::string& text, long low, long high) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const long value = std::stol(text);
    return value >= low && value <= high ? std::optional<long>(value) : std::nullopt;
}

std::optional<std::chrono::milliseconds> seconds(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= 0.001 && value <= 3600))
        return std::nullopt;
    return std::chrono::milliseconds(static_cast<long>(value * 1000));
}

// Pieces between "*" and line ends, blanks around them dropped, empty ones skipped.
std::vector<std::string> splitEntries(const std::string& text) {
    std::vector<std::string> entries;
    std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of("*\n", start);
        if (end == std::string::npos)
            end = text.size();
        std::size_t first = start, last = end;
        while (first < last && (text[first] == ' ' || text[first] == '\t' || text[first] == '\r'))
            ++first;
        while (last > first && (text[last - 1] == ' ' || text[last - 1] == '\t' || text[last - 1] == '\r'))
            --last;
        if (last > first)
            entries.push_back(text.substr(first, last - first));
        start = end + 1;
    }
    return entries;
}

// The entry as printed: control bytes as \xNN, so that a line and its columns stay whole.
std::string printable(const std::string& entry) {
    std::string out;
    for (const char c : entry) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

int main(int argc, char* argv[]) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::optional<std::string> file;
    bool stored = false;
    long fastest = -1;
    std::optional<std::string> url;
    std::optional<std::string> expect;
    std::optional<std::string> judge;
    std::optional<std::string> tunnelHost;
    bool grades = true;
    CheckLimits limits;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // The option's value: the next argument.
        const auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size())
                return std::nullopt;
            return args[++i];
        };
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--stored") {
            stored = true;
        } else if (arg == "--fastest") {
            const auto text = value();
            const auto n = text ? wholeNumber(*text, 1, 100'000'000) : std::nullopt;
            if (!n)
                return usageError("--fastest needs a whole number of at least 1");
            fastest = *n;
        } else if (arg == "--url") {
            const auto text = value();
            if (!text || text->empty())
                return usageError("--url needs a URL");
            url = *text;
        } else if (arg == "--expect") {
            const auto text = value();
            if (!text || text->empty())
                return usageError("--expect needs a text");
            expect = *text;
        } else if (arg == "--judge") {
            const auto text = value();
            if (!text || text->rfind("http://", 0) != 0)
                return usageError("--judge needs an http:// URL (a proxy's header lines cannot be seen over https)");
            judge = *text;
        } else if (arg == "--tunnel-host") {
            const auto text = value();
            if (!text || text->empty() || text->find_first_of("/ \t") != std::string::npos)
                return usageError("--tunnel-host needs a host name or address");
            tunnelHost = *text;
        } else if (arg == "--no-grades") {
            grades = false;
        } else if (arg == "--timeout") {
            const auto text = value();
            const auto limit = text ? seconds(*text) : std::nullopt;
            if (!limit)
                return usageError("--timeout needs a number of seconds, at most 3600");
            limits.timeLimit = *limit;
        } else if (arg == "--parallel") {
            const auto text = value();
            const auto n = text ? wholeNumber(*text, 1, 10'000) : std::nullopt;
            if (!n)
                return usageError("--parallel needs a whole number from 1 to 10000");
            limits.atOnce = static_cast<int>(*n);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option " + arg);
        } else if (file) {
            return usageError("only one FILE may be given");
        } else {
            file = arg;
        }
    }
    if (stored && file)
        return usageError("give either FILE or --stored, not both");

    Settings settings(configDir() + "/prefs.ini");
    std::vector<std::string> entries;
    if (stored) {
        // The stored list as the window shows it, row by row.
        const std::string list = ProxyListStore(settings).load();
        const auto rows = splitListText(list);
        entries.assign(rows.begin(), rows.end());
    } else {
        std::string text;
        if (!file || *file == "-") {
            text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        } else {
            std::string why;
            auto read = readWhole(*file, why);
            if (!read) {
                std::cerr << "tamberly-check: cannot read " << *file << ": " << why << "\n";
                return 2;
            }
            text = std::move(*read);
        }
        entries = splitEntries(text);
    }
    if (entries.empty()) {
        std::cerr << "No proxies to check.\n";
        return 2;
    }
    // A test URL given here is a page of the caller's own: prefs.ini's text to expect belongs to prefs.ini's URL.
    TestPage page;
    page.url = url ? *url : settings.checkUrl();
    page.expect = expect ? *expect : url ? std::string() : settings.checkExpect();
    if (grades) {
        page.judgeUrl = judge ? *judge : settings.judgeUrl();
        page.tunnelHost = tunnelHost ? *tunnelHost : settings.tunnelHost();
    }

    // Progress only where someone watches: never in a pipe or a log.
    const bool showProgress = ::isatty(STDERR_FILENO) == 1;
    std::size_t done = 0, working = 0;
    auto lastShown = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    const auto show = [&] {
        std::fprintf(stderr, "\rChecking %zu of %zu: %zu work\033[K", done, entries.size(), working);
        std::fflush(stderr);
    };
    ProxyCheck check(page, limits);
    const auto outcome = check.run(entries, [&](std::size_t, const CheckResult& result) {
        ++done;
        working += result.verdict == Verdict::Works ? 1 : 0;
        const auto now = std::chrono::steady_clock::now();
        if (showProgress && now - lastShown >= std::chrono::milliseconds(100)) {
            lastShown = now;
            show();
        }
    });
    if (showProgress) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    if (!outcome.ok) {
        std::cerr << "tamberly-check: " << outcome.error << "\n";
        return 1;
    }

    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (fastest < 0 || outcome.results[i].verdict == Verdict::Works)
            order.push_back(i);
    }
    if (fastest >= 0) {
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return outcome.results[a].totalMs < outcome.results[b].totalMs;
        });
        if (order.size() > static_cast<std::size_t>(fastest))
            order.resize(static_cast<std::size_t>(fastest));
    }
    std::ostringstream out;
    for (const std::size_t i : order) {
        const CheckResult& result = outcome.results[i];
        out << printable(entries[i]) << '\t' << verdictText(result.verdict) << '\t';
        if (result.totalMs < 0)
            out << '-';
        else
            out << result.totalMs;
        out << '\t' << anonymityText(result.anonymity) << '\t' << tunnelText(result.tunnel) << '\n';
    }
    std::cout << out.str() << std::flush;
    return working > 0 ? 0 : 1;
}
