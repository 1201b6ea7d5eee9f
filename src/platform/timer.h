#pragma once

namespace tamberly {

/// A window timer (`Timer1`): while enabled it ticks at its interval on the window's thread.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool enabled() const = 0;
};

} // namespace tamberly
