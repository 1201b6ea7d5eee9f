#pragma once

#include "platform/http_transfer.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

struct tagMSG;

namespace tamberly {

/// The limits a WinInetTransfer keeps to: those of transfer_limits, smaller in tests.
using WinInetLimits = TransferLimits;

/// The program's requests to the list server on WinINet. The request runs on a worker thread while get() runs a
/// message loop, so the window keeps painting and answering and a second command sees busy() true.
/// Requests go direct, never through the proxy in force, and ask for no compression. Outcomes and texts are those of
/// the other platforms' client, but WinINet reads a whole head before it hands any of it on: a head over the caps is
/// refused once it has ended, and one that never ends runs to the total time limit.
class WinInetTransfer final : public HttpTransfer {
public:
    /// Offered each message first while get() waits (the window's accelerators and dialog keys); true when it
    /// handled the message.
    using PreTranslate = std::function<bool(tagMSG&)>;

    explicit WinInetTransfer(PreTranslate preTranslate = {}, WinInetLimits limits = {});
    ~WinInetTransfer() override;
    WinInetTransfer(const WinInetTransfer&) = delete;
    WinInetTransfer& operator=(const WinInetTransfer&) = delete;

    bool busy() const override;
    /// GET url (http or https), following at most transfer_limits::kMaxRedirects redirects. Fails, with a reason, on
    /// no connection, a time-out, a head over transfer_limits::kMaxHeadBytes or kMaxHeadFields, a body over the size
    /// cap, any content coding but identity, or a final status outside 200-299 (a short text/plain body of a 4xx
    /// answer comes back as serverReason).
    TransferResult get(const std::string& url) override;

private:
    void* m_session = nullptr;
    PreTranslate m_preTranslate;
    WinInetLimits m_limits;
    bool m_running = false;
};

} // namespace tamberly
