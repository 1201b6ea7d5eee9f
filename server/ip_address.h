#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamberly {

/// An IPv4 or IPv6 address as the list server counts clients: an IPv4-mapped IPv6 address is its IPv4 address.
struct IpAddress {
    /// IPv4 in the first four bytes.
    std::array<std::uint8_t, 16> bytes{};
    bool v4 = true;

    bool operator==(const IpAddress&) const = default;
    /// The usual text: dotted quad, or IPv6 in its short form (no brackets).
    std::string text() const;
    /// Who a client is for counting and limits: an IPv4 address, or an IPv6 /64 (one household or host gets a
    /// whole /64, so single IPv6 addresses would be free to make up).
    std::string clientKey() const;
};

/// Reads a plain address (no brackets, no port, no zone); an IPv4-mapped IPv6 address becomes IPv4.
std::optional<IpAddress> parseIpAddress(std::string_view text);

/// An address range, as given to --trust-proxy: ADDRESS/BITS, or one address.
struct IpRange {
    IpAddress network;
    int bits = 32;

    bool contains(const IpAddress& address) const;
};

/// Reads "10.0.0.0/8", "2001:db8::/32" or a single address; nothing for anything else.
std::optional<IpRange> parseIpRange(std::string_view text);

/// The client behind trusted proxies, as nginx's real_ip with real_ip_recursive on: when the peer is trusted, the
/// X-Forwarded-For addresses (every field, in order) are walked from the right and the first one not trusted is the
/// client; when all are trusted, the leftmost. A value that is not an address ends the walk at the last good one.
/// From a peer that is not trusted the header counts for nothing.
IpAddress forwardedClient(const IpAddress& peer, const std::vector<std::string_view>& forwardedFor,
                          const std::vector<IpRange>& trusted);

/// Whether the address lies in one of the ranges.
bool inRanges(const IpAddress& address, const std::vector<IpRange>& ranges);

} // namespace tamberly
