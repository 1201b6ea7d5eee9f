#pragma once

namespace tamberly {

/// The Internet Options panel: lets the user edit the system proxy settings by hand.
class OptionsPanel {
public:
    virtual ~OptionsPanel() = default;
    /// Opens a new panel and returns at once, without waiting for it to close.
    virtual void open() = 0;
};

} // namespace tamberly
