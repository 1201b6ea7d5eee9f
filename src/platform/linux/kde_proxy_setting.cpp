#include "platform/linux/kde_proxy_setting.h"

#include "core/file_store.h"
#include "platform/linux/gio_library.h"
#include "platform/linux/held_proxy_entry.h"
#include "platform/linux/kde_config_lock.h"
#include "platform/linux/user_paths.h"
#include "text/ascii_text.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace tamberly::kde_proxy {
namespace {

constexpr const char* kGroup = "[Proxy Settings]";
constexpr const char* kScriptKey = "Proxy Config Script";
constexpr const char* kLocalHosts = "localhost,127.0.0.1,::1";
constexpr std::string_view kLineBlanks = " \t\r";
// KDE's programs hold their lock for the milliseconds of a write; one held longer is a program stuck in its write.
constexpr std::chrono::milliseconds kLockWait{3000};

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The key of a "key=value" line ("key[$e]" and localised "key[de]" count as key); empty for other lines.
std::string keyOf(const std::string& line) {
    const std::string t(trim(line, kLineBlanks));
    if (t.empty() || t[0] == '#' || t[0] == '[')
        return {};
    const auto equals = t.find('=');
    if (equals == std::string::npos)
        return {};
    std::string key(trim(t.substr(0, equals), kLineBlanks));
    if (const auto bracket = key.find('['); bracket != std::string::npos)
        key = key.substr(0, bracket);
    return key;
}

// "http://HOST PORT" as KDE's own page writes it; KIO and Chromium also read "http://HOST:PORT".
std::string proxyUrl(const char* scheme, const std::optional<ProxyEntry>& proxy) {
    if (!proxy)
        return {};
    const bool v6 = proxy->host.find(':') != std::string::npos;
    return std::string(scheme) + "://" + (v6 ? "[" + proxy->host + "]" : proxy->host) + " " +
           std::to_string(proxy->port);
}

std::optional<ProxyEntry> parseProxyUrl(std::string value, ProxyScheme scheme) {
    value = std::string(trim(value, kLineBlanks));
    if (const auto separator = value.find("://"); separator != std::string::npos)
        value = value.substr(separator + 3);
    if (value.empty())
        return std::nullopt;
    std::string portText;
    if (const auto blank = value.rfind(' '); blank != std::string::npos) {
        portText = std::string(trim(value.substr(blank + 1), kLineBlanks));
        value = std::string(trim(value.substr(0, blank), kLineBlanks));
    } else if (const auto colon = value.rfind(':');
               colon != std::string::npos && (value[0] != '[' || value.rfind(']') < colon)) {
        portText = value.substr(colon + 1);
        value = value.substr(0, colon);
    }
    if (value.size() > 1 && value.front() == '[' && value.back() == ']')
        value = value.substr(1, value.size() - 2);
    if (const auto slash = value.find('/'); slash != std::string::npos)
        value = value.substr(0, slash);
    return heldProxyEntry(value, std::atol(portText.c_str()), scheme);
}

int proxyType(const ProxySetting& change) {
    switch (change.mode) {
    case ProxyMode::Manual:
        return 1;
    case ProxyMode::Automatic:
        return change.autoConfigUrl.empty() ? 3 : 2;
    case ProxyMode::Off:
        break;
    }
    return 0;
}

std::string joined(const std::vector<std::string>& hosts) {
    std::string out;
    for (const auto& host : hosts)
        out += (out.empty() ? "" : ",") + host;
    return out;
}

std::vector<std::string> hostList(std::string_view value) {
    std::vector<std::string> hosts;
    for (const std::string_view host : splitList(value, ','))
        if (const std::string_view bare = trim(host, kLineBlanks); !bare.empty())
            hosts.emplace_back(bare);
    return hosts;
}

// Same proxies, protocol by protocol, whatever scheme the caller's entries carry.
bool sameServers(const ProxyServers& a, const ProxyServers& b) {
    const auto same = [](const std::optional<ProxyEntry>& x, const std::optional<ProxyEntry>& y) {
        return x.has_value() == y.has_value() && (!x || x->hostPort() == y->hostPort());
    };
    return same(a.http, b.http) && same(a.https, b.https) && same(a.ftp, b.ftp) && same(a.socks, b.socks);
}

} // namespace

std::string defaultPath() {
    return xdgBaseDir("XDG_CONFIG_HOME", ".config") + "/kioslaverc";
}

std::string editProxyGroup(const std::optional<std::string>& old,
                           const std::vector<std::pair<std::string, std::string>>& keys,
                           const std::vector<std::pair<std::string, std::string>>& addIfMissing) {
    std::vector<std::string> lines = old ? splitLines(*old) : std::vector<std::string>{};
    std::vector<bool> done(keys.size(), false);
    std::vector<bool> present(addIfMissing.size(), false);
    std::optional<std::size_t> groupEnd; // just past the group's last non-blank line
    bool inGroup = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string t(trim(lines[i], kLineBlanks));
        if (!t.empty() && t[0] == '[') {
            inGroup = t == kGroup;
            if (inGroup)
                groupEnd = i + 1;
            continue;
        }
        if (!inGroup)
            continue;
        if (!t.empty())
            groupEnd = i + 1;
        const std::string key = keyOf(lines[i]);
        for (std::size_t k = 0; k < keys.size(); ++k) {
            if (key != keys[k].first)
                continue;
            if (done[k]) { // a repeated key: the first one stands for all
                lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i--));
                break;
            }
            lines[i] = keys[k].first + "=" + keys[k].second;
            done[k] = true;
        }
        for (std::size_t k = 0; k < addIfMissing.size(); ++k)
            if (key == addIfMissing[k].first)
                present[k] = true;
    }
    std::vector<std::string> added;
    for (std::size_t k = 0; k < keys.size(); ++k)
        if (!done[k])
            added.push_back(keys[k].first + "=" + keys[k].second);
    for (std::size_t k = 0; k < addIfMissing.size(); ++k)
        if (!present[k])
            added.push_back(addIfMissing[k].first + "=" + addIfMissing[k].second);
    if (groupEnd) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*groupEnd), added.begin(), added.end());
    } else {
        if (!lines.empty() && !trim(lines.back(), kLineBlanks).empty())
            lines.emplace_back();
        lines.emplace_back(kGroup);
        lines.insert(lines.end(), added.begin(), added.end());
    }
    std::string out;
    for (const auto& line : lines)
        out += line + "\n";
    return out;
}

std::string write(const std::string& path, const ProxySetting& change) {
    std::vector<std::pair<std::string, std::string>> keys = {{"ProxyType", std::to_string(proxyType(change))}};
    std::vector<std::pair<std::string, std::string>> addIfMissing;
    if (change.mode == ProxyMode::Automatic && !change.autoConfigUrl.empty())
        keys.emplace_back(kScriptKey, change.autoConfigUrl);
    if (change.servers) {
        keys.emplace_back("httpProxy", proxyUrl("http", change.servers->http));
        keys.emplace_back("httpsProxy", proxyUrl("http", change.servers->https));
        keys.emplace_back("ftpProxy", proxyUrl("http", change.servers->ftp));
        keys.emplace_back("socksProxy", proxyUrl("socks", change.servers->socks));
    }
    if (change.bypass)
        keys.emplace_back("NoProxyFor", joined(*change.bypass));
    else if (change.servers)
        addIfMissing.emplace_back("NoProxyFor", kLocalHosts);

    std::string why;
    {
        // Under KDE's own lock, so that a KDE program writing the file at the same moment keeps its change and ours.
        std::error_code ignored; // a folder that cannot be made is named by the lock
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
        KdeConfigLock lock(path);
        why = lock.take(kLockWait);
        if (why.empty())
            why = file_store::update(
                path, [&](const std::optional<std::string>& old) { return editProxyGroup(old, keys, addIfMissing); });
    }
    if (!why.empty())
        return "cannot write " + path + ": " + why;

    // Read back as KIO reads it: another program may have replaced the file meanwhile.
    const auto held = read(path);
    const bool same = held && proxyType(change) == proxyType(*held) &&
                      (change.mode != ProxyMode::Automatic || held->autoConfigUrl == change.autoConfigUrl) &&
                      (!change.servers || sameServers(*held->servers, *change.servers)) &&
                      (!change.bypass || *held->bypass == *change.bypass);
    return same ? std::string() : path + " reads back otherwise";
}

std::optional<ProxySetting> read(const std::string& path) {
    const auto text = file_store::read(path);
    if (!text)
        return std::nullopt;
    ProxySetting setting{ProxyMode::Off, ProxyServers{}, std::vector<std::string>{}, {}};
    bool found = false, inGroup = false;
    int type = 0;
    std::string script;
    for (const auto& line : splitLines(*text)) {
        const std::string t(trim(line, kLineBlanks));
        if (!t.empty() && t[0] == '[') {
            inGroup = t == kGroup;
            found = found || inGroup;
            continue;
        }
        const std::string key = inGroup ? keyOf(line) : std::string();
        if (key.empty())
            continue;
        const std::string value(trim(t.substr(t.find('=') + 1), kLineBlanks));
        if (key == "ProxyType")
            type = std::atoi(value.c_str());
        else if (key == kScriptKey)
            script = value;
        else if (key == "httpProxy")
            setting.servers->http = parseProxyUrl(value, ProxyScheme::Http);
        else if (key == "httpsProxy")
            setting.servers->https = parseProxyUrl(value, ProxyScheme::Http);
        else if (key == "ftpProxy")
            setting.servers->ftp = parseProxyUrl(value, ProxyScheme::Http);
        else if (key == "socksProxy")
            setting.servers->socks = parseProxyUrl(value, ProxyScheme::Socks5);
        else if (key == "NoProxyFor")
            setting.bypass = hostList(value);
    }
    setting.mode = type == 1 ? ProxyMode::Manual : type == 2 || type == 3 ? ProxyMode::Automatic : ProxyMode::Off;
    // Detection has no script, whatever address the file keeps for another time.
    setting.autoConfigUrl = type == 3 ? std::string() : script;
    if (!found)
        return std::nullopt;
    return setting;
}

std::string notifyRunningPrograms() {
    std::string why;
    const GioLibrary* gio = loadGio(why);
    if (!gio)
        return why;
    GError* error = nullptr;
    GDBusConnection* bus = gio->bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (bus && gio->dbus_connection_emit_signal(bus, nullptr, "/KIO/Scheduler", "org.kde.KIO.Scheduler",
                                                "reparseSlaveConfiguration", gio->variant_new("(s)", ""), &error))
        gio->dbus_connection_flush_sync(bus, nullptr, &error);
    if (error) {
        why = error->message;
        gio->error_free(error);
    }
    if (bus)
        gio->object_unref(bus);
    return why;
}

} // namespace tamberly::kde_proxy
