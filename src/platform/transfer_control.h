#pragma once

#include <string>

namespace tamberly {

/// Outcome of one HTTP GET: the body when ok, otherwise a reason a user can read.
struct TransferResult {
    bool ok = false;
    std::string body;
    std::string error;
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
