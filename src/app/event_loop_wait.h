#pragma once

#include "net/transfer_wait.h"

#include <QEventLoop>

#include <atomic>

namespace tamberly {

/// A request's wait inside the window's event loop: the window keeps painting and taking commands until the
/// request's thread wakes it, and the wait ends early when the application quits.
class EventLoopWait final : public TransferWait {
public:
    bool run() override;
    void wake() override;

    /// Makes one for each request.
    static TransferWaitFactory factory();

private:
    QEventLoop m_loop;
    std::atomic<bool> m_woken{false};
};

} // namespace tamberly
