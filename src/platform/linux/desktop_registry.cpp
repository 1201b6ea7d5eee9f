#include "platform/linux/desktop_registry.h"

#include "platform/linux/bounded_call.h"
#include "platform/linux/gnome_proxy_setting.h"
#include "platform/linux/kde_proxy_setting.h"
#include "platform/linux/proxy_servers.h"
#include "text/ascii_text.h"

#include <cstdlib>

#include <sys/stat.h>

namespace tamberly {
namespace {

constexpr const char* kGnomeName = "GNOME proxy setting (org.gnome.system.proxy)";

std::vector<std::string> currentDesktops() {
    std::vector<std::string> out;
    const char* value = std::getenv("XDG_CURRENT_DESKTOP");
    const std::string list = lowerAscii(value ? value : "");
    std::size_t start = 0;
    while (start < list.size()) {
        auto end = list.find(':', start);
        if (end == std::string::npos)
            end = list.size();
        out.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string seconds(std::chrono::milliseconds limit) {
    const auto tenths = (limit.count() + 50) / 100;
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10)
        text.append(".").append(std::to_string(tenths % 10));
    return text.append(" s");
}

} // namespace

DesktopProxyOptions DesktopProxyOptions::fromEnvironment() {
    DesktopProxyOptions options;
    for (const auto& desktop : currentDesktops()) {
        if (desktop == "gnome" || desktop == "x-cinnamon" || desktop == "cinnamon" || desktop == "mate" ||
            desktop == "budgie" || desktop == "unity" || desktop == "pantheon")
            options.gnomeDesktop = true;
        if (desktop == "kde")
            options.kdeDesktop = true;
    }
    const char* session = std::getenv("DESKTOP_SESSION");
    if (session && lowerAscii(session) == "mate")
        options.gnomeDesktop = true;
    options.gnome = true;
    options.kioslavercPath = kde_proxy::defaultPath();
    options.kde = options.kdeDesktop || exists(options.kioslavercPath);
    return options;
}

DesktopRegistry::DesktopRegistry(Registry& file, DesktopProxyOptions options, Reporter reporter)
    : m_file(file), m_options(std::move(options)), m_reporter(std::move(reporter)) {}

std::vector<std::string> DesktopRegistry::writtenSettings() const {
    std::vector<std::string> out;
    if (m_options.gnome)
        out.emplace_back(std::string("the ") + kGnomeName + (m_options.gnomeDesktop ? "" : ", when installed"));
    if (m_options.kde)
        out.push_back("the KDE proxy setting (" + m_options.kioslavercPath + ")");
    out.emplace_back("the environment of the browser that Tamberly starts");
    return out;
}

std::string DesktopRegistry::writeGnome(const std::function<std::string()>& work) {
    if (m_busBusy->load())
        return std::string("The ") + kGnomeName +
               " could not be changed: the session bus has not answered an earlier change yet.";
    m_busBusy->store(true);
    auto busy = m_busBusy;
    const auto answer = runBounded(
        [work, busy] {
            std::string result = work();
            busy->store(false);
            return result;
        },
        m_options.limit);
    if (!answer)
        return std::string("The ") + kGnomeName + " could not be changed: the session bus did not answer within " +
               seconds(m_options.limit) + ".";
    if (answer->empty())
        return {};
    return std::string("The ") + kGnomeName + " could not be changed: " + *answer + ".";
}

std::string DesktopRegistry::writeKde(const std::function<std::string(const std::string&)>& edit) {
    const std::string prefix = "The KDE proxy setting (" + m_options.kioslavercPath + ") ";
    // The file is edited here, at once; only the signal needs the bus, which may hang.
    if (std::string why = edit(m_options.kioslavercPath); !why.empty())
        return prefix + "could not be changed: " + why + ".";
    const std::string notWarned = prefix + "was written, but running KDE programs could not be told: ";
    if (m_busBusy->load())
        return notWarned + "the session bus has not answered an earlier change yet.";
    m_busBusy->store(true);
    auto busy = m_busBusy;
    const auto answer = runBounded(
        [busy] {
            std::string why = kde_proxy::notifyRunningPrograms();
            busy->store(false);
            return why;
        },
        m_options.limit);
    if (!answer)
        return notWarned + "the session bus did not answer within " + seconds(m_options.limit) + ".";
    return answer->empty() ? std::string() : notWarned + *answer + ".";
}

void DesktopRegistry::RegWrite(const std::string& fullName, const RegValue& value, const std::string& typeName) {
    m_file.RegWrite(fullName, value, typeName);
    const bool server = equalsIgnoringCase(fullName, kProxyServerName);
    const bool enable = equalsIgnoringCase(fullName, kProxyEnableName);
    if ((!server && !enable) || (!m_options.gnome && !m_options.kde))
        return;

    std::vector<std::string> problems;
    // Each backend's work as a function a thread may finish alone: everything it needs is copied in.
    std::function<gnome_proxy::Outcome()> gnomeWork;
    std::function<std::string(const std::string&)> kdeWork;
    if (server) {
        std::string why;
        const auto servers = parseProxyServer(regValueText(value), why);
        if (!servers) {
            if (m_reporter)
                m_reporter("The desktop proxy setting was not changed: " + why + ".");
            return;
        }
        gnomeWork = [s = *servers] { return gnome_proxy::writeServers(s); };
        kdeWork = [s = *servers](const std::string& path) { return kde_proxy::writeServers(path, s); };
    } else {
        // Only the number 1 means on, as "Show current proxy" reads it.
        const bool manual = regValueText(value) == "1";
        gnomeWork = [manual] { return gnome_proxy::writeMode(manual); };
        kdeWork = [manual](const std::string& path) { return kde_proxy::writeMode(path, manual); };
    }

    if (m_options.gnome) {
        // Off a GNOME desktop a missing schema or bus only means there is no such setting to keep up to date.
        const bool quietWhenMissing = !m_options.gnomeDesktop;
        std::string problem = writeGnome([gnomeWork, quietWhenMissing] {
            const auto outcome = gnomeWork();
            const bool missing = outcome.unavailable != gnome_proxy::Unavailable::None;
            return missing && quietWhenMissing ? std::string() : outcome.problem;
        });
        if (!problem.empty())
            problems.push_back(std::move(problem));
    }
    if (m_options.kde) {
        std::string problem = writeKde(kdeWork);
        if (!problem.empty())
            problems.push_back(std::move(problem));
    }
    if (!problems.empty() && m_reporter) {
        std::string text;
        for (const auto& p : problems)
            text += (text.empty() ? "" : " ") + p;
        m_reporter(text);
    }
}

std::optional<RegValue> DesktopRegistry::readDesktop(bool enable) {
    if (m_options.kde && m_options.kdeDesktop) {
        if (const auto state = kde_proxy::read(m_options.kioslavercPath)) {
            if (enable)
                return std::uint32_t{state->proxyType == 1 ? 1u : 0u};
            // Off, with no proxy in the file: the copy in the registry file is the last one used.
            if (state->proxyType == 1 || !formatProxyServer(state->servers).empty())
                return formatProxyServer(state->servers);
        }
        return std::nullopt;
    }
    if (!m_options.gnome || !m_options.gnomeDesktop || m_busBusy->load())
        return std::nullopt;
    auto busy = m_busBusy;
    busy->store(true);
    const auto answer = runBounded(
        [enable, busy]() -> std::string {
            gnome_proxy::State state;
            const auto outcome = gnome_proxy::read(state);
            busy->store(false);
            if (!outcome.problem.empty())
                return "?";
            if (enable)
                return state.mode == "manual" ? "=1" : "=0";
            if (state.mode == "manual" || !formatProxyServer(state.servers).empty())
                return std::string("=").append(formatProxyServer(state.servers));
            return "?";
        },
        m_options.limit);
    if (!answer || answer->empty() || (*answer)[0] != '=')
        return std::nullopt;
    if (enable)
        return std::uint32_t{*answer == "=1" ? 1u : 0u};
    return answer->substr(1);
}

std::optional<RegValue> DesktopRegistry::RegRead(const std::string& fullName) {
    const bool server = equalsIgnoringCase(fullName, kProxyServerName);
    const bool enable = equalsIgnoringCase(fullName, kProxyEnableName);
    if (server || enable)
        if (auto value = readDesktop(enable))
            return value;
    return m_file.RegRead(fullName);
}

} // namespace tamberly
