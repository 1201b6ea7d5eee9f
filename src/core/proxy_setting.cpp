#include "core/proxy_setting.h"

namespace tamberly {

bool proxyEnableIsOn(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long number = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && number < 1'000'000'000'000; ++i)
        number = number * 10 + (text[i] - '0');
    return (negative ? -number : number) == 1;
}

EnvironmentChange proxyEnvironment(const ProxySetting& setting) {
    EnvironmentChange change;
    change.unset = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                    "ftp_proxy",  "FTP_PROXY",  "no_proxy",    "NO_PROXY"};
    if (setting.mode != ProxyMode::Manual || !setting.servers)
        return change;
    const auto add = [&](const char* lower, const char* upper, const std::optional<ProxyEntry>& proxy) {
        if (!proxy)
            return;
        // Firefox takes the variables only with a scheme; the proxy itself is spoken to in plain HTTP.
        const std::string url = "http://" + proxy->hostPort();
        change.set.emplace_back(lower, url);
        change.set.emplace_back(upper, url);
    };
    add("http_proxy", "HTTP_PROXY", setting.servers->http);
    add("https_proxy", "HTTPS_PROXY", setting.servers->https);
    add("ftp_proxy", "FTP_PROXY", setting.servers->ftp);
    if (!change.set.empty()) {
        change.set.emplace_back("no_proxy", "localhost,127.0.0.1,::1");
        change.set.emplace_back("NO_PROXY", "localhost,127.0.0.1,::1");
    }
    return change;
}

} // namespace tamberly
