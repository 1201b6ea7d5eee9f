#pragma once

#include "platform/http_transfer.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

class QNetworkAccessManager;

namespace tamberly {

/// The program's requests on Qt Network: get() waits in a local event loop, so the window keeps painting and
/// answering while a request runs, and a second command sees busy() true. Requests bypass the system proxy.
class QtHttpTransfer final : public HttpTransfer {
public:
    /// A request fails after stallTimeout without any progress, after totalTimeout in all, or when the body grows
    /// past maxBodyBytes.
    explicit QtHttpTransfer(std::chrono::milliseconds stallTimeout = transfer_limits::kStall,
                            std::chrono::milliseconds totalTimeout = transfer_limits::kTotal,
                            std::int64_t maxBodyBytes = transfer_limits::kMaxBodyBytes);
    ~QtHttpTransfer() override;

    QtHttpTransfer(const QtHttpTransfer&) = delete;
    QtHttpTransfer& operator=(const QtHttpTransfer&) = delete;

    bool busy() const override;
    /// GET url (http or https), following at most transfer_limits::kMaxRedirects redirects. Fails, with a reason, on
    /// no connection, a time-out, a body over the size cap, or a final status outside 200-299; a 4xx answer's short
    /// plain-text body comes back as serverReason.
    TransferResult get(const std::string& url) override;

private:
    QNetworkAccessManager& manager();

    std::unique_ptr<QNetworkAccessManager> m_manager;
    std::chrono::milliseconds m_stallTimeout;
    std::chrono::milliseconds m_totalTimeout;
    std::int64_t m_maxBodyBytes;
    bool m_running = false;
};

} // namespace tamberly
