#pragma once

#include <string>

namespace tamberly {

/// The key that turns a reporter (an IPv4 address or an IPv6 /64) into the keyed hash the database keeps, so that
/// the database never holds a client's address. Kept in a file of its own, apart from the database: a copy of the
/// database alone tells nobody who reported what.
class ReporterSecret {
public:
    /// Reads the key file, or creates it (mode 0600, a new random key) when there is none. Throws std::runtime_error
    /// with a message naming the file when it cannot be read or made, or does not hold a key.
    static ReporterSecret load(const std::string& path);

    /// HMAC-SHA-256 of the reporter under the key, as hex (the first 128 bits).
    std::string hash(const std::string& reporter) const;

private:
    explicit ReporterSecret(std::string key) : m_key(std::move(key)) {}
    std::string m_key;
};

} // namespace tamberly
