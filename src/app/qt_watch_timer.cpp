#include "app/qt_watch_timer.h"

#include <ctime>
#include <utility>

namespace tamberly {

QtWatchTimer::QtWatchTimer() {
    m_timer.setSingleShot(true);
    // Minutes apart at most once: coarse timers let the system gather wake-ups.
    m_timer.setTimerType(Qt::CoarseTimer);
    m_timer.callOnTimeout([this] {
        // Taken out first: fire may arm the timer again.
        const std::function<void()> fire = std::move(m_fire);
        m_fire = nullptr;
        if (fire)
            fire();
    });
}

void QtWatchTimer::arm(std::chrono::milliseconds delay, std::function<void()> fire) {
    m_fire = std::move(fire);
    m_timer.start(delay);
}

void QtWatchTimer::disarm() {
    m_timer.stop();
    m_fire = nullptr;
}

std::chrono::milliseconds QtWatchTimer::now() const {
    // CLOCK_BOOTTIME goes on while the computer is suspended, so a timer that fires after a sleep shows as late.
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return std::chrono::seconds(now.tv_sec) +
           std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::nanoseconds(now.tv_nsec));
}

} // namespace tamberly
