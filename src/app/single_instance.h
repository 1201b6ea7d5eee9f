#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace tamberly {

class InstanceLock;

/// While this program is the first for its settings folder: each later start's request, taken from the event loop,
/// brings the window forward with the activation token the later start was launched with.
class ShowRequests final : public QObject {
    Q_OBJECT
public:
    /// Watches lock's socket when it listens; show brings the window forward.
    ShowRequests(InstanceLock& lock, std::function<void()> show);

private:
    InstanceLock& m_lock;
    std::function<void()> m_show;
    QSocketNotifier* m_notifier = nullptr;
};

/// A later start: asks the program already running for the same settings folder to bring its window forward. The
/// exit code: 0 when it did, 1 after saying on standard error why not.
int showRunningInstance(InstanceLock& lock, const std::string& settingsFolder);

} // namespace tamberly
