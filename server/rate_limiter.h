#pragma once

#include <chrono>
#include <cstddef>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

namespace tamberly {

/// A token bucket per client (as IpAddress::clientKey gives it): burst requests at once, then one every
/// secondsPerToken. The table holds at most maxClients buckets; the one used least recently makes room. Safe to
/// call from many threads.
class RateLimiter {
public:
    using Clock = std::chrono::steady_clock;

    RateLimiter(int burst, double secondsPerToken, std::size_t maxClients = 100000);

    /// Takes a token for the client: 0 when it had one, else the whole seconds until it has one again.
    int take(const std::string& client, Clock::time_point now);

    std::size_t clients() const;

private:
    struct Bucket {
        double tokens = 0;
        Clock::time_point updated;
        std::list<std::string>::iterator use;
    };

    const double m_burst;
    const double m_secondsPerToken;
    const std::size_t m_maxClients;
    mutable std::mutex m_mutex;
    std::list<std::string> m_recent; ///< most recently used first
    std::unordered_map<std::string, Bucket> m_buckets;
};

} // namespace tamberly
