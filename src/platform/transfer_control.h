#pragma once

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

/// The Internet transfer control (`Inet1`): one request at a time.
class TransferControl {
public:
    virtual ~TransferControl() = default;
    /// True while a request is running.
    virtual bool StillExecuting() const = 0;
    /// Fetches url with GET and returns when the whole body has arrived or the request failed.
    /// The window keeps answering meanwhile, so another command may run and see StillExecuting() true.
    virtual TransferResult OpenURL(const std::string& url) = 0;
};

} // namespace tamberly
