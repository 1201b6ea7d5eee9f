// The one proxy entry type: any bytes are safe; what it accepts is a plain host and port whose written form reads
// back to the same entry, and a ProxyServer text reads back from its own formatted text; the proxy check takes the
// same entries with blanks around them and hands the transfer a URL that holds nothing else.
#include "core/proxy_entry.h"
#include "fuzz_support.h"
#include "net/proxy_check.h"
#include "text/ascii_text.h"

#include <cstddef>
#include <cstdint>
#include <string>

using tamberly::fuzz::require;
using tamberly::fuzz::shown;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const auto parsed = tamberly::parseProxyEntry(text);
    require(parsed.entry.has_value() == parsed.why.empty(), "an entry, or why not", [&] { return shown(text); });
    if (parsed.entry) {
        const auto& entry = *parsed.entry;
        require(entry.port >= 1, "the port is 1 to 65535", [&] { return shown(text); });
        require(!entry.host.empty(), "a host is given", [&] { return shown(text); });
        for (const char c : entry.host) {
            const bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':';
            require(plain, "the host holds only lower-case letters, digits, '.', '-' and ':'",
                    [&] { return shown(text) + " -> " + shown(entry.host); });
        }
        const auto again = tamberly::parseProxyEntry(entry.text());
        require(again.entry && *again.entry == entry, "the written form reads back to the same entry",
                [&] { return shown(text) + " -> " + shown(entry.text()); });
    }

    const auto servers = tamberly::parseProxyServers(text);
    require(servers.servers.has_value() == servers.why.empty(), "servers, or why not", [&] { return shown(text); });
    if (servers.servers) {
        const std::string formatted = tamberly::formatProxyServers(*servers.servers);
        const auto back = tamberly::parseProxyServers(formatted);
        require(back.servers && tamberly::formatProxyServers(*back.servers) == formatted,
                "a formatted ProxyServer text reads back to itself", [&] { return shown(text) + " -> " + formatted; });
    }

    const auto target = tamberly::parseCheckEntry(text);
    const auto padded = tamberly::parseCheckEntry(" \t\r\n" + text + "\r\n ");
    const auto trimmed = tamberly::parseProxyEntry(tamberly::trim(text, " \t\r\n")).entry;
    require(target.has_value() == padded.has_value() && target == trimmed,
            "the check takes the same entries, blanks around them or not", [&] { return shown(text); });
    if (target) {
        std::string url = tamberly::proxyUrl(*target);
        const bool socks = target->scheme == tamberly::ProxyScheme::Socks5;
        require(url.rfind(socks ? "socks5h://" : "http://", 0) == 0, "the URL names the proxy's kind",
                [&] { return shown(url); });
        if (socks)
            url.replace(0, 7, "socks5"); // "socks5h://" back to the entry's "socks5://"
        const auto fromUrl = tamberly::parseCheckEntry(url);
        require(fromUrl && *fromUrl == *target && *padded == *target, "the URL reads back to the same target",
                [&] { return shown(text) + " -> " + shown(url); });
    }
    return 0;
}
