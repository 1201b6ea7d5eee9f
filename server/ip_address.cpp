#include "ip_address.h"

#include "text/ascii_text.h"

#include <arpa/inet.h>

#include <cstring>

namespace tamberly {
namespace {

constexpr std::uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

std::string v6Text(const std::uint8_t* bytes) {
    char out[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, bytes, out, sizeof out);
    return out;
}

} // namespace

std::string IpAddress::text() const {
    char out[INET6_ADDRSTRLEN] = {};
    if (v4)
        inet_ntop(AF_INET, bytes.data(), out, sizeof out);
    else
        inet_ntop(AF_INET6, bytes.data(), out, sizeof out);
    return out;
}

std::string IpAddress::clientKey() const {
    if (v4)
        return text();
    std::uint8_t prefix[16] = {};
    std::memcpy(prefix, bytes.data(), 8);
    return v6Text(prefix) + "/64";
}

std::optional<IpAddress> parseIpAddress(std::string_view text) {
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN)
        return std::nullopt;
    const std::string copy(text);
    IpAddress address;
    if (inet_pton(AF_INET, copy.c_str(), address.bytes.data()) == 1)
        return address;
    std::uint8_t v6[16];
    if (inet_pton(AF_INET6, copy.c_str(), v6) != 1)
        return std::nullopt;
    if (std::memcmp(v6, kMappedPrefix, sizeof kMappedPrefix) == 0) {
        std::memcpy(address.bytes.data(), v6 + 12, 4);
        return address;
    }
    std::memcpy(address.bytes.data(), v6, 16);
    address.v4 = false;
    return address;
}

bool IpRange::contains(const IpAddress& address) const {
    if (address.v4 != network.v4)
        return false;
    int left = bits;
    for (std::size_t i = 0; left > 0; ++i, left -= 8) {
        const std::uint8_t mask = left >= 8 ? 0xff : static_cast<std::uint8_t>(0xff << (8 - left));
        if ((address.bytes[i] & mask) != (network.bytes[i] & mask))
            return false;
    }
    return true;
}

std::optional<IpRange> parseIpRange(std::string_view text) {
    const auto slash = text.find('/');
    const auto address = parseIpAddress(text.substr(0, slash));
    if (!address)
        return std::nullopt;
    IpRange range{*address, address->v4 ? 32 : 128};
    if (slash != std::string_view::npos) {
        const std::string_view bits = text.substr(slash + 1);
        if (bits.empty() || bits.size() > 3 || bits.find_first_not_of("0123456789") != std::string_view::npos)
            return std::nullopt;
        const int value = std::stoi(std::string(bits));
        if (value > range.bits)
            return std::nullopt;
        range.bits = value;
    }
    return range;
}

bool inRanges(const IpAddress& address, const std::vector<IpRange>& ranges) {
    for (const auto& range : ranges)
        if (range.contains(address))
            return true;
    return false;
}

IpAddress forwardedClient(const IpAddress& peer, const std::vector<std::string_view>& forwardedFor,
                          const std::vector<IpRange>& trusted) {
    if (!inRanges(peer, trusted))
        return peer;
    std::vector<std::string_view> hops;
    for (const auto field : forwardedFor) {
        std::string_view rest = field;
        while (true) {
            const auto comma = rest.find(',');
            hops.push_back(trim(rest.substr(0, comma), " \t"));
            if (comma == std::string_view::npos)
                break;
            rest.remove_prefix(comma + 1);
        }
    }
    IpAddress client = peer;
    for (auto hop = hops.rbegin(); hop != hops.rend(); ++hop) {
        const auto address = parseIpAddress(*hop);
        if (!address)
            break;
        client = *address;
        if (!inRanges(client, trusted))
            break;
    }
    return client;
}

} // namespace tamberly
