#pragma once

#include "platform/watch_timer.h"

#include <QTimer>

namespace tamberly {

/// The watcher's timer over a QTimer on the window's thread, and the clock that counts the time asleep too.
class QtWatchTimer final : public WatchTimer {
public:
    QtWatchTimer();
    void arm(std::chrono::milliseconds delay, std::function<void()> fire) override;
    void disarm() override;
    std::chrono::milliseconds now() const override;

private:
    QTimer m_timer;
    std::function<void()> m_fire;
};

} // namespace tamberly
