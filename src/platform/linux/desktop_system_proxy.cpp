#include "platform/linux/desktop_system_proxy.h"

#include "platform/launcher.h"
#include "platform/linux/bounded_call.h"
#include "platform/linux/desktop_proxy_page.h"
#include "platform/linux/desktop_session.h"
#include "platform/linux/gnome_proxy_setting.h"
#include "platform/linux/kde_proxy_setting.h"
#include "text/ascii_text.h"

#include <cstdlib>

#include <sys/stat.h>

namespace tamberly {
namespace {

constexpr const char* kRecordName = "registry.reg";
constexpr const char* kGnomeName = "GNOME proxy setting (org.gnome.system.proxy)";

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

BackendOutcome failed(std::string name, std::string why) {
    return {std::move(name), BackendOutcome::State::Failed, std::move(why)};
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

DesktopSystemProxy::DesktopSystemProxy(std::string recordPath, DesktopProxyOptions options, Launcher& launcher)
    : m_record(std::move(recordPath)), m_options(std::move(options)), m_launcher(launcher) {}

std::vector<std::string> DesktopSystemProxy::places() const {
    std::vector<std::string> out = {kRecordName};
    if (m_options.gnome)
        out.emplace_back(std::string("the ") + kGnomeName + (m_options.gnomeDesktop ? "" : ", when installed"));
    if (m_options.kde)
        out.push_back("the KDE proxy setting (" + m_options.kioslavercPath + ")");
    out.emplace_back("the environment of the browser that Tamberly starts");
    return out;
}

ApplyOutcome DesktopSystemProxy::apply(const ProxySetting& change) {
    ApplyOutcome outcome;
    if (std::string why = m_record.write(change); !why.empty()) {
        outcome.backends.push_back(failed(kRecordName, "The proxy setting could not be changed: " + why));
        return outcome;
    }
    outcome.backends.push_back({kRecordName, BackendOutcome::State::Written, {}});
    if (m_options.gnome)
        outcome.backends.push_back(applyGnome(change));
    if (m_options.kde)
        outcome.backends.push_back(applyKde(change));
    return outcome;
}

BackendOutcome DesktopSystemProxy::applyGnome(const ProxySetting& change) {
    const std::string name = std::string("the ") + kGnomeName;
    const std::string notChanged = std::string("The ") + kGnomeName + " could not be changed: ";
    if (m_busBusy->load())
        return failed(name, notChanged + "the session bus has not answered an earlier change yet.");
    m_busBusy->store(true);
    // Everything the thread needs is copied in: it may finish after this call has given up on it.
    const auto answer = runBounded<gnome_proxy::Outcome>(
        [change, busy = m_busBusy] {
            gnome_proxy::Outcome outcome = gnome_proxy::write(change);
            busy->store(false);
            return outcome;
        },
        m_options.limit);
    if (!answer.answer) {
        if (!answer.noThread.empty()) {
            m_busBusy->store(false);
            return failed(name, notChanged + answer.noThread + ".");
        }
        return failed(name, notChanged + "the session bus did not answer within " + seconds(m_options.limit) + ".");
    }
    const gnome_proxy::Outcome& outcome = *answer.answer;
    if (outcome.problem.empty())
        return {name, BackendOutcome::State::Written, {}};
    // Off a GNOME desktop a missing schema or bus only means there is no such setting to keep up to date.
    if (outcome.unavailable != gnome_proxy::Unavailable::None && !m_options.gnomeDesktop)
        return {name, BackendOutcome::State::NotPresent, {}};
    return failed(name, notChanged + outcome.problem + ".");
}

BackendOutcome DesktopSystemProxy::applyKde(const ProxySetting& change) {
    const std::string name = "the KDE proxy setting (" + m_options.kioslavercPath + ")";
    const std::string prefix = "The KDE proxy setting (" + m_options.kioslavercPath + ") ";
    // The file is edited here, at once; only the signal needs the bus, which may hang.
    if (std::string why = kde_proxy::write(m_options.kioslavercPath, change); !why.empty())
        return failed(name, prefix + "could not be changed: " + why + ".");
    const std::string notTold = prefix + "was written, but running KDE programs could not be told: ";
    if (m_busBusy->load())
        return failed(name, notTold + "the session bus has not answered an earlier change yet.");
    m_busBusy->store(true);
    const auto answer = runBounded<std::string>(
        [busy = m_busBusy] {
            std::string why = kde_proxy::notifyRunningPrograms();
            busy->store(false);
            return why;
        },
        m_options.limit);
    if (!answer.answer) {
        if (!answer.noThread.empty()) {
            m_busBusy->store(false);
            return failed(name, notTold + answer.noThread + ".");
        }
        return failed(name, notTold + "the session bus did not answer within " + seconds(m_options.limit) + ".");
    }
    if (!answer.answer->empty())
        return failed(name, notTold + *answer.answer + ".");
    return {name, BackendOutcome::State::Written, {}};
}

std::optional<ProxySetting> DesktopSystemProxy::readGnome() {
    if (m_busBusy->load())
        return std::nullopt;
    m_busBusy->store(true);
    const auto answer = runBounded<gnome_proxy::Reading>(
        [busy = m_busBusy] {
            gnome_proxy::Reading reading = gnome_proxy::read();
            busy->store(false);
            return reading;
        },
        m_options.limit);
    if (!answer.noThread.empty())
        m_busBusy->store(false);
    if (!answer.answer || !answer.answer->outcome.problem.empty())
        return std::nullopt;
    return answer.answer->setting;
}

CurrentSetting DesktopSystemProxy::current() {
    if (m_options.kde && m_options.kdeDesktop) {
        if (auto setting = kde_proxy::read(m_options.kioslavercPath))
            return {std::move(setting), {}};
    } else if (m_options.gnome && m_options.gnomeDesktop) {
        if (auto setting = readGnome())
            return {std::move(setting), {}};
    }
    return m_record.read();
}

bool DesktopSystemProxy::openSettingsPage() {
    if (m_options.leavesDesktopAlone())
        return false;
    const std::vector<std::string> command = desktopProxyPageCommand();
    if (command.empty())
        return false;
    return m_launcher.launch(command.front(), {command.begin() + 1, command.end()}, {}) == LaunchError::None;
}

} // namespace tamberly
