#include "platform/linux/browser_lookup.h"

#include "platform/linux/path_search.h"
#include "platform/linux/spawn_process.h"
#include "platform/linux/user_paths.h"
#include "text/ascii_text.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tamberly {
namespace {

// Tried in this order when the desktop names no default browser, or names one we cannot find.
const char* const kKnownBrowsers[] = {
    "firefox",          "firefox-esr",   "chromium",       "chromium-browser", "google-chrome-stable",
    "google-chrome",    "brave-browser", "microsoft-edge", "vivaldi-stable",   "opera",
    "epiphany-browser", "epiphany",      "falkon",         "konqueror",        "qutebrowser",
    "midori",
};

constexpr std::string_view kBlanks = " \t\r\n";

// The XDG base folders that hold applications/, most important first; relative entries are invalid and skipped.
std::vector<std::string> dataDirs() {
    std::vector<std::string> dirs;
    if (const std::string dataHome = xdgBaseDir("XDG_DATA_HOME", ".local/share"); !dataHome.empty())
        dirs.push_back(dataHome);
    const char* value = std::getenv("XDG_DATA_DIRS");
    for (const std::string_view dir : splitList(value && *value ? value : "/usr/local/share:/usr/share", ':'))
        if (!dir.empty() && dir[0] == '/')
            dirs.emplace_back(dir);
    return dirs;
}

// The raw Exec value of the [Desktop Entry] group; empty when the file or the key is missing.
std::string desktopExec(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    bool inEntry = false;
    while (std::getline(in, line)) {
        line = std::string(trim(line, kBlanks));
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        const auto equals = line.find('=');
        if (inEntry && equals != std::string::npos && trim(line.substr(0, equals), kBlanks) == "Exec")
            return std::string(trim(line.substr(equals + 1), kBlanks));
    }
    return {};
}

// The value escapes of desktop files (\s \n \t \r \\), applied before the Exec quoting rules.
std::string unescapeValue(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            out += '\\';
            out += value[i];
            break;
        }
    }
    return out;
}

// Splits an Exec command line into words: double quotes group, a backslash escapes the next character, and the
// field codes (%u, %F, ...) are dropped, "%%" being a plain percent sign. A word that was only a field code goes.
std::vector<std::string> execWords(const std::string& command) {
    std::vector<std::string> words;
    std::string current;
    bool inWord = false;
    bool quoted = false;
    for (std::size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (c == '\\' && i + 1 < command.size()) {
            current += command[++i];
            inWord = true;
        } else if (!quoted && (c == ' ' || c == '\t' || c == '\n')) {
            if (inWord && !current.empty())
                words.push_back(current);
            current.clear();
            inWord = false;
        } else if (c == '%' && i + 1 < command.size()) {
            if (command[++i] == '%')
                current += '%';
            inWord = true;
        } else {
            current += c;
            inWord = true;
        }
    }
    if (inWord && !current.empty())
        words.push_back(current);
    return words;
}

std::string baseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Runs a program with its output captured, for at most `wait`; the empty text when it fails or takes too long.
std::string captureOutput(const std::vector<std::string>& command, std::chrono::milliseconds wait) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return {};

    SpawnOptions options;
    options.output = pipeFds[1];
    options.quietErrors = true;
    pid_t pid = -1;
    const int error = spawnProcess(command.front(), command, options, pid);
    ::close(pipeFds[1]);
    if (error != 0) {
        ::close(pipeFds[0]);
        return {};
    }

    const auto deadline = std::chrono::steady_clock::now() + wait;
    auto remaining = [&deadline] {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        return left.count() > 0 ? static_cast<int>(left.count()) : 0;
    };
    std::string output;
    bool finished = false;
    while (!finished && output.size() < 64 * 1024) {
        pollfd pfd{pipeFds[0], POLLIN, 0};
        const int ready = ::poll(&pfd, 1, remaining());
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char buffer[4096];
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            finished = true;
        else
            output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);

    int status = 0;
    pid_t done = 0;
    while (finished && (done = ::waitpid(pid, &status, WNOHANG)) == 0 && remaining() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (done == -1 && errno == ECHILD)
        return output; // SIGCHLD is ignored here, so the system collected it and its exit status is lost
    if (done != pid) {
        ::kill(-pid, SIGKILL);
        while (::waitpid(pid, &status, 0) == -1 && errno == EINTR) {
        }
        return {};
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? output : std::string();
}

} // namespace

BrowserLookup::BrowserLookup(std::chrono::milliseconds settingsWait) : m_settingsWait(settingsWait) {}

std::string BrowserLookup::execProgram(const std::string& exec) {
    const auto words = execWords(unescapeValue(exec));
    std::size_t i = 0;
    // "env VAR=value program ..." starts program; snap packages write their launchers that way.
    if (i < words.size() && baseName(words[i]) == "env") {
        ++i;
        while (i < words.size() && words[i].find('=') != std::string::npos)
            ++i;
    }
    // "flatpak run [options] APP-ID" needs its arguments; Flatpak exports a launcher per application that
    // carries them, so the browser path stays one program: the user's installation first, then the system's.
    if (i + 1 < words.size() && baseName(words[i]) == "flatpak" && words[i + 1] == "run") {
        std::size_t app = i + 2;
        while (app < words.size() && words[app][0] == '-')
            ++app;
        if (app == words.size())
            return {};
        const std::string dataHome = xdgBaseDir("XDG_DATA_HOME", ".local/share");
        const std::string user = dataHome + "/flatpak/exports/bin/" + words[app];
        return !dataHome.empty() && !findOnPath(user).empty() ? user : "/var/lib/flatpak/exports/bin/" + words[app];
    }
    return i < words.size() ? words[i] : std::string();
}

std::string BrowserLookup::defaultBrowserId() const {
    // xdg-settings may be missing, may fail without a desktop session, or may hang; each means "no answer".
    const std::string id(trim(captureOutput({"xdg-settings", "get", "default-web-browser"}, m_settingsWait), kBlanks));
    const std::string suffix = ".desktop";
    if (id.size() <= suffix.size() || id.compare(id.size() - suffix.size(), suffix.size(), suffix) != 0 ||
        id.find('/') != std::string::npos || id.find('\n') != std::string::npos)
        return {};
    return id;
}

std::string BrowserLookup::findBrowser() {
    if (const std::string id = defaultBrowserId(); !id.empty()) {
        for (const auto& dir : dataDirs()) {
            const std::string desktopFile = dir + "/applications/" + id;
            struct stat st {};
            if (::stat(desktopFile.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                continue;
            // The first desktop file found is the one the desktop uses, even when its program is missing.
            if (std::string found = findOnPath(execProgram(desktopExec(desktopFile))); !found.empty())
                return found;
            break;
        }
    }
    for (const char* name : kKnownBrowsers)
        if (std::string found = findOnPath(name); !found.empty())
            return found;
    return {};
}

} // namespace tamberly
