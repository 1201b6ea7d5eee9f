#include "platform/linux/proxy_servers.h"

#include "text/ascii_text.h"

#include <cctype>

namespace tamberly {
namespace {

constexpr std::string_view kBlanks = " \t";

bool parsePort(const std::string& digits, int& port) {
    if (digits.empty() || digits.size() > 5)
        return false;
    for (char c : digits)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    port = std::stoi(digits);
    return port >= 1 && port <= 65535;
}

std::optional<ProxyHost> parseHostPort(const std::string& text, std::string& why) {
    ProxyHost proxy;
    if (text.empty())
        return proxy;
    std::string portText;
    if (text[0] == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || (close + 1 < text.size() && text[close + 1] != ':')) {
            why = "\"" + text + "\" is not host:port";
            return std::nullopt;
        }
        proxy.host = text.substr(1, close - 1);
        if (close + 1 < text.size())
            portText = text.substr(close + 2);
    } else {
        const auto colon = text.rfind(':');
        // Two colons or more without brackets: a bare IPv6 address with no port.
        if (colon == std::string::npos || text.find(':') != colon) {
            proxy.host = text;
        } else {
            proxy.host = text.substr(0, colon);
            portText = text.substr(colon + 1);
        }
    }
    for (unsigned char c : proxy.host) {
        // The desktops' formats and URLs have no room for these.
        if (c <= 0x20 || c == 0x7f || c == '/' || c == '@' || c == '[' || c == ']' || c == ';' || c == '=') {
            why = "\"" + text + "\" is not host:port";
            return std::nullopt;
        }
    }
    if (proxy.host.empty()) {
        why = "\"" + text + "\" has no host";
        return std::nullopt;
    }
    if (portText.empty() && text.back() != ':') {
        proxy.port = 80; // what a proxy without a port means on Windows
    } else if (!parsePort(portText, proxy.port)) {
        why = "\"" + text + "\" has no valid port";
        return std::nullopt;
    }
    return proxy;
}

} // namespace

std::optional<ProxyServers> parseProxyServer(const std::string& text, std::string& why) {
    ProxyServers servers;
    if (text.find('=') == std::string::npos) {
        const auto proxy = parseHostPort(text, why);
        if (!proxy)
            return std::nullopt;
        servers.http = servers.https = servers.ftp = *proxy;
        return servers;
    }
    std::size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string part(trim(text.substr(start, end - start), kBlanks));
        start = end + 1;
        if (part.empty())
            continue;
        const auto equals = part.find('=');
        if (equals == std::string::npos) {
            why = "\"" + text + "\" mixes a plain proxy with per-protocol ones";
            return std::nullopt;
        }
        const std::string protocol = lowerAscii(trim(part.substr(0, equals), kBlanks));
        ProxyHost* target = protocol == "http"    ? &servers.http
                            : protocol == "https" ? &servers.https
                            : protocol == "ftp"   ? &servers.ftp
                            : protocol == "socks" ? &servers.socks
                                                  : nullptr;
        if (!target)
            continue; // protocols the desktops have no setting for (gopher, ...)
        const auto proxy = parseHostPort(std::string(trim(part.substr(equals + 1), kBlanks)), why);
        if (!proxy)
            return std::nullopt;
        *target = *proxy;
    }
    return servers;
}

std::string hostPort(const ProxyHost& proxy) {
    const bool v6 = proxy.host.find(':') != std::string::npos;
    return (v6 ? "[" + proxy.host + "]" : proxy.host) + ":" + std::to_string(proxy.port);
}

std::string formatProxyServer(const ProxyServers& servers) {
    if (servers.http == servers.https && servers.http == servers.ftp && servers.socks.host.empty())
        return servers.http.host.empty() ? std::string() : hostPort(servers.http);
    std::string out;
    const std::pair<const char*, const ProxyHost*> parts[] = {
        {"http", &servers.http}, {"https", &servers.https}, {"ftp", &servers.ftp}, {"socks", &servers.socks}};
    for (const auto& [name, proxy] : parts) {
        if (proxy->host.empty())
            continue;
        if (!out.empty())
            out += ';';
        out += std::string(name) + "=" + hostPort(*proxy);
    }
    return out;
}

const std::vector<std::string>& proxyEnvironmentNames() {
    static const std::vector<std::string> names = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                                   "ftp_proxy",  "FTP_PROXY",  "no_proxy",    "NO_PROXY"};
    return names;
}

std::vector<std::string> proxyEnvironment(const ProxyServers& servers) {
    std::vector<std::string> variables;
    const auto add = [&](const char* lower, const char* upper, const ProxyHost& proxy) {
        if (proxy.host.empty())
            return;
        // Firefox takes the variables only with a scheme; the proxy itself is spoken to in plain HTTP.
        const std::string url = "http://" + hostPort(proxy);
        variables.push_back(std::string(lower) + "=" + url);
        variables.push_back(std::string(upper) + "=" + url);
    };
    add("http_proxy", "HTTP_PROXY", servers.http);
    add("https_proxy", "HTTPS_PROXY", servers.https);
    add("ftp_proxy", "FTP_PROXY", servers.ftp);
    if (!variables.empty()) {
        variables.emplace_back("no_proxy=localhost,127.0.0.1,::1");
        variables.emplace_back("NO_PROXY=localhost,127.0.0.1,::1");
    }
    return variables;
}

} // namespace tamberly
