#pragma once

#include "platform/options_panel.h"

#include <string>

namespace tamberly {

/// The system's Internet Options panel, opened on its connections page, where the proxy is set.
class ControlPanelOptions final : public OptionsPanel {
public:
    static constexpr const char* kCommandLine = "control.exe inetcpl.cpl,,4";
    void open() override;
};

} // namespace tamberly
