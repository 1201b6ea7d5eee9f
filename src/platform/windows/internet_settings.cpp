#include "platform/windows/internet_settings.h"

#include "platform/windows/win32_registry_key.h"
#include "text/ascii_text.h"

// clang-format off
#include <windows.h>
#include <wininet.h>
// clang-format on

namespace tamberly {
namespace {

constexpr const char* kInternetSettingsPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr const char* kProxyServer = "ProxyServer";
constexpr const char* kProxyEnable = "ProxyEnable";
constexpr const char* kProxyOverride = "ProxyOverride";
constexpr const char* kAutoConfigUrl = "AutoConfigURL";

std::string text(const std::optional<RegistryData>& data) {
    if (!data)
        return {};
    if (const auto* number = std::get_if<std::uint32_t>(&*data))
        return std::to_string(*number);
    return std::get<std::string>(*data);
}

// Whether ProxyEnable says "use ProxyServer": the number 1, or a text that reads as 1.
bool enableIsOn(const std::optional<RegistryData>& data) {
    return proxyEnableIsOn(text(data));
}

// ProxyOverride is one text of entries separated by ";"; the system allows blanks around them.
std::vector<std::string> bypassEntries(const std::string& value) {
    std::vector<std::string> entries;
    for (const std::string_view piece : splitList(value, ';'))
        if (const std::string_view entry = trim(piece); !entry.empty())
            entries.emplace_back(entry);
    return entries;
}

std::string bypassText(const std::vector<std::string>& entries) {
    std::string value;
    for (const std::string& entry : entries) {
        if (!value.empty())
            value += ';';
        value += entry;
    }
    return value;
}

// One value a change writes (data) or removes (nullopt).
struct ValueChange {
    const char* name;
    std::optional<RegistryData> data;
};

} // namespace

InternetSettings::InternetSettings()
    : InternetSettings(std::make_unique<Win32RegistryKey>(RegistryRoot::CurrentUser, kInternetSettingsPath),
                       notifyRunningPrograms) {}

InternetSettings::InternetSettings(std::unique_ptr<RegistryKey> settings, Notify notify)
    : m_settings(std::move(settings)), m_notify(std::move(notify)) {}

InternetSettings::~InternetSettings() = default;

void InternetSettings::notifyRunningPrograms() {
    ::InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
    ::InternetSetOptionW(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
}

CurrentSetting InternetSettings::current() {
    const RegistryRead enable = m_settings->read(kProxyEnable);
    const RegistryRead server = m_settings->read(kProxyServer);
    const RegistryRead bypass = m_settings->read(kProxyOverride);
    const RegistryRead script = m_settings->read(kAutoConfigUrl);
    for (const RegistryRead* value : {&enable, &server, &bypass, &script})
        if (!value->why.empty())
            return {std::nullopt, value->why};

    ProxySetting setting;
    // A server text that names no proxy (empty, or not host:port) reads as none.
    setting.servers = parseProxyServers(text(server.data)).servers.value_or(ProxyServers{});
    setting.bypass = bypassEntries(text(bypass.data));
    // A configuration script wins over the servers, as it does for the system's own programs.
    const auto* url = script.data ? std::get_if<std::string>(&*script.data) : nullptr;
    if (url && !url->empty()) {
        setting.mode = ProxyMode::Automatic;
        setting.autoConfigUrl = *url;
    } else {
        setting.mode = enableIsOn(enable.data) ? ProxyMode::Manual : ProxyMode::Off;
    }
    return {setting, {}};
}

ApplyOutcome InternetSettings::apply(const ProxySetting& change) {
    ApplyOutcome outcome;
    const auto failed = [&](const std::string& why) {
        outcome.backends.push_back(
            {kPlaceName, BackendOutcome::State::Failed, "The proxy setting could not be changed: " + why + "."});
        return outcome;
    };
    // Detection ("Automatically detect settings") lives only in the binary connection settings of the Internet
    // Options panel, a format of the system's own that the program leaves alone.
    if (change.mode == ProxyMode::Automatic && change.autoConfigUrl.empty())
        return failed("Windows turns on automatic detection in its Internet Options only (\"Automatically detect "
                      "settings\")");
    if (change.bypass) {
        for (const std::string& entry : *change.bypass)
            if (entry.find(';') != std::string::npos)
                return failed("the entry \"" + entry + "\" of the hosts that go direct holds a \";\", which " +
                              "separates them");
    }

    // Without a list of their own, Windows programs already send loopback addresses direct: a missing
    // ProxyOverride stays missing.
    std::vector<ValueChange> changes;
    if (change.servers)
        changes.push_back({kProxyServer, RegistryData{formatProxyServers(*change.servers)}});
    if (change.bypass)
        changes.push_back({kProxyOverride, RegistryData{bypassText(*change.bypass)}});
    // A script left in place would win over the servers, and over "no proxy".
    changes.push_back({kAutoConfigUrl, change.mode == ProxyMode::Automatic
                                           ? std::optional<RegistryData>(change.autoConfigUrl)
                                           : std::nullopt});
    changes.push_back({kProxyEnable, RegistryData{std::uint32_t{change.mode == ProxyMode::Manual ? 1u : 0u}}});

    bool wroteAny = false;
    std::string why;
    for (const ValueChange& value : changes) {
        why = value.data ? m_settings->write(value.name, *value.data) : m_settings->remove(value.name);
        if (!why.empty())
            break;
        wroteAny = true;
    }
    for (std::size_t i = 0; why.empty() && i < changes.size(); ++i) {
        const RegistryRead back = m_settings->read(changes[i].name);
        if (!back.why.empty())
            why = back.why;
        else if (back.data != changes[i].data)
            why = std::string("the Internet Settings did not keep ") + changes[i].name + " as written";
    }
    // Once for the whole change, and also after a partial one: running programs then follow what the registry holds.
    if (wroteAny && m_notify)
        m_notify();
    if (!why.empty())
        return failed(why);
    outcome.backends.push_back({kPlaceName, BackendOutcome::State::Written, {}});
    return outcome;
}

std::vector<std::string> InternetSettings::places() const {
    return {kPlaceName};
}

bool InternetSettings::openSettingsPage() {
    // The connections page (the fourth), where the proxy is set. Not waited for.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"control.exe inetcpl.cpl,,4";
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process))
        return false;
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return true;
}

} // namespace tamberly
