#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tamberly {

/// Outcome of one HTTP GET: the body when ok, otherwise a reason a user can read.
struct TransferResult {
    bool ok = false;
    std::string body;
    std::string error;
    /// A refusal's (4xx) short plain-text body exactly as the server sent it, else empty. Untrusted: show it only
    /// through serverReasonLine().
    std::string serverReason = {};
};

/// The limits every HTTP client of the program keeps to, whatever it is built on.
namespace transfer_limits {
/// A request fails after this long without any progress...
inline constexpr std::chrono::milliseconds kStall{30'000};
/// ...or after this long in all...
inline constexpr std::chrono::milliseconds kTotal{120'000};
/// ...or when the body grows past this size.
inline constexpr std::int64_t kMaxBodyBytes = 8 * 1024 * 1024;
inline constexpr int kMaxRedirects = 5;
/// An answer's head (status line and header fields) may not be longer than this...
inline constexpr std::int64_t kMaxHeadBytes = 64 * 1024;
/// ...nor hold more fields than this: a server that never ends its head is refused as soon as it passes either.
inline constexpr int kMaxHeadFields = 100;
/// A 4xx answer's text/plain body up to this size is handed on as the server's reason.
inline constexpr std::int64_t kMaxReasonBytes = 1024;
} // namespace transfer_limits

/// The limits one HTTP client keeps to: those of transfer_limits, smaller in tests.
struct TransferLimits {
    std::chrono::milliseconds stall = transfer_limits::kStall;
    std::chrono::milliseconds total = transfer_limits::kTotal;
    std::int64_t maxBodyBytes = transfer_limits::kMaxBodyBytes;
};

/// The program's own requests to the list server: one at a time, never through the proxy in force (the program
/// switches that proxy itself, often to one that no longer works).
class HttpTransfer {
public:
    virtual ~HttpTransfer() = default;
    /// True while a request is running.
    virtual bool busy() const = 0;
    /// GETs url (http or https) and returns when the whole body has arrived or the request failed. The window keeps
    /// answering meanwhile, so another command may run and see busy() true.
    virtual TransferResult get(const std::string& url) = 0;
};

} // namespace tamberly
