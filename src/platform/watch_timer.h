#pragma once

#include <chrono>
#include <functional>

namespace tamberly {

/// One single-shot timer on the window's thread, and a clock to tell how late it fired: the proxy watcher's only
/// way to wake up.
class WatchTimer {
public:
    virtual ~WatchTimer() = default;
    /// Runs fire once on the window's thread after delay; arming again replaces the timer armed before.
    virtual void arm(std::chrono::milliseconds delay, std::function<void()> fire) = 0;
    /// Stops the armed timer, if any.
    virtual void disarm() = 0;
    /// The time now, on a clock that goes on counting while the computer sleeps.
    virtual std::chrono::milliseconds now() const = 0;
};

} // namespace tamberly
