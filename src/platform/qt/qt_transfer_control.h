#pragma once

#include "platform/transfer_control.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

class QNetworkAccessManager;

namespace tamberly {

/// The transfer control `Inet1` on Qt Network: OpenURL waits in a local event loop, so the window keeps painting
/// and answering while a request runs, and a second command sees StillExecuting() true.
/// Requests bypass the system proxy: the program switches that proxy itself, often to one that no longer works.
class QtTransferControl final : public TransferControl {
public:
    static constexpr std::chrono::milliseconds kStallTimeout{30'000};
    static constexpr std::chrono::milliseconds kTotalTimeout{120'000};
    static constexpr std::int64_t kMaxBodyBytes = 8 * 1024 * 1024;
    static constexpr int kMaxRedirects = 5;
    /// A 4xx answer's text/plain body up to this size is handed on as the server's reason.
    static constexpr std::int64_t kMaxReasonBytes = 1024;

    /// A request fails after stallTimeout without any progress, after totalTimeout in all, or when the body grows
    /// past maxBodyBytes.
    explicit QtTransferControl(std::chrono::milliseconds stallTimeout = kStallTimeout,
                               std::chrono::milliseconds totalTimeout = kTotalTimeout,
                               std::int64_t maxBodyBytes = kMaxBodyBytes);
    ~QtTransferControl() override;

    QtTransferControl(const QtTransferControl&) = delete;
    QtTransferControl& operator=(const QtTransferControl&) = delete;

    bool StillExecuting() const override;
    /// GET url (http or https), following at most kMaxRedirects redirects. Fails, with a reason, on no connection,
    /// a time-out, a body over the size cap, or a final status outside 200-299; a 4xx answer's short plain-text
    /// body comes back as serverReason.
    TransferResult OpenURL(const std::string& url) override;

private:
    std::unique_ptr<QNetworkAccessManager> m_manager;
    std::chrono::milliseconds m_stallTimeout;
    std::chrono::milliseconds m_totalTimeout;
    std::int64_t m_maxBodyBytes;
    bool m_running = false;
};

} // namespace tamberly
