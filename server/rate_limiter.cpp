#include "rate_limiter.h"

#include <algorithm>
#include <cmath>

namespace tamberly {

RateLimiter::RateLimiter(int burst, double secondsPerToken, std::size_t maxClients)
    : m_burst(std::max(1, burst)), m_secondsPerToken(std::max(secondsPerToken, 0.001)),
      m_maxClients(std::max<std::size_t>(1, maxClients)) {}

int RateLimiter::take(const std::string& client, Clock::time_point now) {
    std::lock_guard lock(m_mutex);
    auto found = m_buckets.find(client);
    if (found == m_buckets.end()) {
        if (m_buckets.size() >= m_maxClients) {
            m_buckets.erase(m_recent.back());
            m_recent.pop_back();
        }
        m_recent.push_front(client);
        found = m_buckets.emplace(client, Bucket{m_burst, now, m_recent.begin()}).first;
    } else {
        m_recent.splice(m_recent.begin(), m_recent, found->second.use);
    }
    Bucket& bucket = found->second;
    const double elapsed = std::chrono::duration<double>(now - bucket.updated).count();
    if (elapsed > 0) {
        bucket.tokens = std::min(m_burst, bucket.tokens + elapsed / m_secondsPerToken);
        bucket.updated = now;
    }
    if (bucket.tokens >= 1) {
        bucket.tokens -= 1;
        return 0;
    }
    return std::max(1, static_cast<int>(std::ceil((1 - bucket.tokens) * m_secondsPerToken)));
}

std::size_t RateLimiter::clients() const {
    std::lock_guard lock(m_mutex);
    return m_buckets.size();
}

} // namespace tamberly
