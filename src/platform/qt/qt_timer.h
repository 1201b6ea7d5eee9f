#pragma once

#include "platform/timer.h"

#include <QTimer>

namespace tamberly {

/// A window timer over QTimer.
class QtTimer final : public Timer {
public:
    explicit QtTimer(QTimer& timer) : m_timer(timer) {}
    void setEnabled(bool enabled) override {
        if (enabled)
            m_timer.start();
        else
            m_timer.stop();
    }
    bool enabled() const override { return m_timer.isActive(); }

private:
    QTimer& m_timer;
};

} // namespace tamberly
