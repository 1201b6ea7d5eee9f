#pragma once

#include "net/transfer_wait.h"
#include "platform/http_transfer.h"

#include <string>

namespace tamberly {

/// The program's requests to the list server on libcurl. A request runs on a thread of its own while get() waits
/// in the wait its caller gave (on Linux the window's event loop), so a second command sees busy() true; a wait
/// that ends early (the program quits) stops the request at once. Requests go direct: no proxy, not even one the
/// environment names.
class CurlHttpTransfer final : public HttpTransfer {
public:
    /// Without a wait, get() blocks its thread until the request ends.
    explicit CurlHttpTransfer(TransferWaitFactory wait = {}, TransferLimits limits = {});
    ~CurlHttpTransfer() override;
    CurlHttpTransfer(const CurlHttpTransfer&) = delete;
    CurlHttpTransfer& operator=(const CurlHttpTransfer&) = delete;

    bool busy() const override;
    /// GET url (http or https), following at most transfer_limits::kMaxRedirects redirects, never from https to
    /// http. Fails, with a reason, on no connection, a time-out, a head over transfer_limits::kMaxHeadBytes or
    /// kMaxHeadFields, a body over the size cap (counted after decoding), a content coding other than identity,
    /// gzip or deflate (or more than one), or a final status outside 200-299; a 4xx answer's short plain-text body
    /// comes back as serverReason.
    TransferResult get(const std::string& url) override;

private:
    TransferWaitFactory m_wait;
    TransferLimits m_limits;
    bool m_running = false;
};

} // namespace tamberly
