#pragma once

#include "platform/registry.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tamberly {

/// Which desktop proxy settings carry the per-user Internet Settings, and how long a write may take.
struct DesktopProxyOptions {
    /// Write GNOME's org.gnome.system.proxy whenever its schema is installed and a session bus answers.
    bool gnome = false;
    /// The session is a desktop that uses GNOME's schema: its setting is the one read back, and a write that
    /// cannot reach it is reported even when the schema or the bus is missing.
    bool gnomeDesktop = false;
    /// Write KDE's kioslaverc at kioslavercPath.
    bool kde = false;
    /// The session is KDE: kioslaverc is the setting read back.
    bool kdeDesktop = false;
    std::string kioslavercPath;
    /// The longest a desktop write or read may keep the caller waiting.
    std::chrono::milliseconds limit{3000};

    /// From XDG_CURRENT_DESKTOP and DESKTOP_SESSION: GNOME's schema always (Firefox reads it on any desktop),
    /// KDE's file on KDE or when it exists already.
    static DesktopProxyOptions fromEnvironment();
};

/// The per-user Internet Settings on Linux: every value lives in the registry file, and ProxyServer and
/// ProxyEnable are also the desktop's own proxy setting, the one its programs use. Writes go to the file first
/// (so it always keeps a copy), then to each desktop setting, bounded in time; a desktop that cannot be changed
/// is reported through the reporter, not thrown, so a command goes on as it does on Windows. Reads of the two
/// values come from the desktop in use, falling back to the file's copy.
class DesktopRegistry final : public Registry {
public:
    using Reporter = std::function<void(const std::string&)>;

    DesktopRegistry(Registry& file, DesktopProxyOptions options, Reporter reporter = {});

    void RegWrite(const std::string& fullName, const RegValue& value, const std::string& typeName) override;
    std::optional<RegValue> RegRead(const std::string& fullName) override;

    void setReporter(Reporter reporter) { m_reporter = std::move(reporter); }
    const DesktopProxyOptions& options() const { return m_options; }
    /// The settings a proxy change writes, in words for the user.
    std::vector<std::string> writtenSettings() const;

private:
    std::string writeGnome(const std::function<std::string()>& work);
    std::string writeKde(const std::function<std::string(const std::string&)>& edit);
    std::optional<RegValue> readDesktop(bool enable);

    Registry& m_file;
    DesktopProxyOptions m_options;
    Reporter m_reporter;
    // Set while a call on the session bus is still running after its time ran out: the bus hangs, and another
    // call would too.
    std::shared_ptr<std::atomic<bool>> m_busBusy = std::make_shared<std::atomic<bool>>(false);
};

} // namespace tamberly
