#pragma once

#include "platform/transfer_control.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

struct tagMSG;

namespace tamberly {

/// The transfer control `Inet1` on WinINet. The request runs on a worker thread while OpenURL runs a message loop,
/// so the window keeps painting and answering and a second command sees StillExecuting() true.
/// Requests go direct, never through the proxy in force: the program switches that proxy itself, often to one that
/// no longer works. Outcomes, texts and limits are those of the other platforms' transfer control.
class WinInetTransferControl final : public TransferControl {
public:
    static constexpr std::chrono::milliseconds kStallTimeout{30'000};
    static constexpr std::chrono::milliseconds kTotalTimeout{120'000};
    static constexpr std::int64_t kMaxBodyBytes = 8 * 1024 * 1024;
    static constexpr int kMaxRedirects = 5;

    /// Offered each message first while OpenURL waits (the window's accelerators and dialog keys); true when it
    /// handled the message.
    using PreTranslate = std::function<bool(tagMSG&)>;

    explicit WinInetTransferControl(std::chrono::milliseconds stallTimeout = kStallTimeout,
                                    std::chrono::milliseconds totalTimeout = kTotalTimeout,
                                    std::int64_t maxBodyBytes = kMaxBodyBytes);
    ~WinInetTransferControl() override;
    WinInetTransferControl(const WinInetTransferControl&) = delete;
    WinInetTransferControl& operator=(const WinInetTransferControl&) = delete;

    void setPreTranslate(PreTranslate preTranslate) { m_preTranslate = std::move(preTranslate); }

    bool StillExecuting() const override;
    /// GET url (http or https), following at most kMaxRedirects redirects. Fails, with a reason, on no connection,
    /// a time-out, a body over the size cap, or a final status outside 200-299.
    TransferResult OpenURL(const std::string& url) override;

private:
    void* m_session = nullptr;
    std::chrono::milliseconds m_stallTimeout;
    std::chrono::milliseconds m_totalTimeout;
    std::int64_t m_maxBodyBytes;
    PreTranslate m_preTranslate;
    bool m_running = false;
};

} // namespace tamberly
