#include "judge_page.h"

#include "net/check_grades.h"
#include "text/ascii_text.h"

#include <algorithm>
#include <optional>

namespace tamberly {
namespace {

bool named(const std::string& name, std::string_view wanted) {
    return equalsIgnoringCase(name, wanted);
}

std::vector<std::string_view> listItems(std::string_view value) {
    std::vector<std::string_view> items;
    for (const std::string_view item : splitList(value, ','))
        items.push_back(trim(item, " \t"));
    return items;
}

// The address of a Forwarded element's for= parameter ("for=1.2.3.4", "for=\"[2001:db8::1]:80\"").
std::optional<IpAddress> forwardedFor(std::string_view element) {
    for (std::string_view pair : splitList(element, ';')) {
        pair = trim(pair, " \t");
        const auto equals = pair.find('=');
        if (equals == std::string_view::npos || !equalsIgnoringCase(trim(pair.substr(0, equals), " \t"), "for"))
            continue;
        std::string_view value = trim(trim(pair.substr(equals + 1), " \t"), "\"");
        if (!value.empty() && value.front() == '[') {
            value = value.substr(1, value.find(']') - 1);
        } else if (std::count(value.begin(), value.end(), ':') == 1) {
            value = value.substr(0, value.find(':'));
        }
        return parseIpAddress(value);
    }
    return std::nullopt;
}

// Drops, from the right, the items of every field called name that the trusted proxies wrote (walked says which),
// and keeps the rest of each field as it came; a field left with nothing goes.
template <typename Walked> void dropFromRight(HeaderLines& headers, std::string_view name, const Walked& walked) {
    struct Item {
        std::size_t field;
        std::string_view text;
    };
    std::vector<Item> items;
    for (std::size_t i = 0; i < headers.size(); ++i)
        if (named(headers[i].first, name))
            for (const std::string_view text : listItems(headers[i].second))
                items.push_back({i, text});
    std::size_t kept = items.size();
    while (kept > 0 && walked(items[kept - 1].text))
        --kept;
    if (kept == items.size())
        return;
    std::vector<std::string> values(headers.size());
    std::vector<bool> touched(headers.size(), false);
    for (std::size_t k = 0; k < items.size(); ++k) {
        touched[items[k].field] = true;
        if (k < kept)
            values[items[k].field] += (values[items[k].field].empty() ? "" : ", ") + std::string(items[k].text);
    }
    HeaderLines out;
    for (std::size_t i = 0; i < headers.size(); ++i) {
        if (!touched[i])
            out.push_back(std::move(headers[i]));
        else if (!values[i].empty())
            out.emplace_back(std::move(headers[i].first), values[i]);
    }
    headers = std::move(out);
}

} // namespace

std::string judgePageText(const IpAddress& peer, const HeaderLines& headers, const std::vector<IpRange>& trusted) {
    JudgeAnswer answer;
    answer.headers = headers;
    if (!inRanges(peer, trusted)) {
        answer.clientAddress = peer.text();
        return formatJudgeAnswer(answer);
    }
    std::vector<std::string_view> forwarded;
    for (const auto& [name, value] : headers)
        if (named(name, "X-Forwarded-For"))
            forwarded.push_back(value);
    const IpAddress client = forwardedClient(peer, forwarded, trusted);
    answer.clientAddress = client.text();

    // The walk's own steps, as forwardedClient takes them: from the right, trusted addresses, then the first other
    // one (the client, written by the nearest trusted proxy); a value that is no address ends it.
    const auto walk = [&trusted]() {
        return [&trusted, done = false](const std::optional<IpAddress>& address) mutable {
            if (!address || done)
                return false;
            done = !inRanges(*address, trusted);
            return true;
        };
    };
    auto hop = walk();
    dropFromRight(answer.headers, "X-Forwarded-For", [&](std::string_view item) { return hop(parseIpAddress(item)); });
    auto element = walk();
    dropFromRight(answer.headers, "Forwarded", [&](std::string_view item) { return element(forwardedFor(item)); });

    // What a front web server sets of its own (nginx's usual proxy_set_header lines): it tells of the client the
    // front saw, or of the front itself, never of the proxy being judged.
    std::erase_if(answer.headers, [&](const auto& header) {
        if (named(header.first, "X-Real-IP")) {
            const auto address = parseIpAddress(trim(header.second, " \t"));
            return address && (*address == client || inRanges(*address, trusted));
        }
        return named(header.first, "X-Forwarded-Proto") || named(header.first, "X-Forwarded-Host") ||
               named(header.first, "X-Forwarded-Port");
    });
    return formatJudgeAnswer(answer);
}

} // namespace tamberly
