// The proxy check's entry parser: any bytes are safe; what it accepts is a plain host and port, turned into a proxy
// URL that holds nothing else and reads back to the same target; blanks around an entry change nothing.
#include "fuzz_support.h"
#include "net/proxy_check.h"

#include <cstddef>
#include <cstdint>
#include <string>

using tamberly::fuzz::require;
using tamberly::fuzz::shown;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string entry(reinterpret_cast<const char*>(data), size);
    const auto target = tamberly::parseCheckEntry(entry);
    const auto padded = tamberly::parseCheckEntry(" \t\r\n" + entry + "\r\n ");
    require(target.has_value() == padded.has_value(), "blanks around an entry change nothing",
            [&] { return shown(entry); });
    if (!target)
        return 0;

    require(target->port >= 1 && target->port <= 65535, "the port is 1 to 65535", [&] { return shown(entry); });
    require(!target->host.empty(), "a host is given", [&] { return shown(entry); });
    for (const char c : target->host) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':';
        require(plain, "the host holds only lower-case letters, digits, '.', '-' and ':'",
                [&] { return shown(entry) + " -> " + shown(target->host); });
    }
    std::string url = tamberly::proxyUrl(*target);
    require(url.rfind(target->socks5 ? "socks5h://" : "http://", 0) == 0, "the URL names the proxy's kind",
            [&] { return shown(url); });
    if (target->socks5)
        url.replace(0, 7, "socks5"); // "socks5h://" back to the entry's "socks5://"
    const auto again = tamberly::parseCheckEntry(url);
    require(again && again->socks5 == target->socks5 && again->host == target->host && again->port == target->port &&
                padded->host == target->host && padded->port == target->port,
            "the URL reads back to the same target", [&] { return shown(entry) + " -> " + shown(url); });
    return 0;
}
