#pragma once

#include "platform/linux/proxy_record_file.h"
#include "platform/system_proxy.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace tamberly {

class Launcher;

/// Which desktop proxy settings follow the record, and how long a desktop may take.
struct DesktopProxyOptions {
    /// Write GNOME's org.gnome.system.proxy whenever its schema is installed and a session bus answers.
    bool gnome = false;
    /// The session is a desktop that uses GNOME's schema: its setting is the one read, and a write that cannot
    /// reach it is reported even when the schema or the bus is missing.
    bool gnomeDesktop = false;
    /// Write KDE's kioslaverc at kioslavercPath.
    bool kde = false;
    /// The session is KDE: kioslaverc is the setting read.
    bool kdeDesktop = false;
    std::string kioslavercPath;
    /// The longest a desktop write or read may keep the caller waiting.
    std::chrono::milliseconds limit{3000};

    /// From XDG_CURRENT_DESKTOP and DESKTOP_SESSION: GNOME's schema always (Firefox reads it on any desktop),
    /// KDE's file on KDE or when it exists already. Reads the environment and looks for kioslaverc; no more.
    static DesktopProxyOptions fromEnvironment();
    /// Whether no desktop setting is written (the record only: prefs.ini [Desktop] LeaveAlone=1).
    bool leavesDesktopAlone() const { return !gnome && !kde; }
};

/// The user's web proxy on a Linux desktop: the record file first (it always keeps a copy, and when it cannot be
/// written nothing else is), then GNOME's setting as one change set, then KDE's file with one replace and one
/// signal to its running programs. Each desktop is bounded in time and read back; one that fails is reported in
/// the outcome, and the change stands all the same. Nothing is opened before the first read or write.
class DesktopSystemProxy final : public SystemProxy {
public:
    /// launcher opens the desktop's own proxy page.
    DesktopSystemProxy(std::string recordPath, DesktopProxyOptions options, Launcher& launcher);

    /// KDE's file on a KDE desktop, else GNOME's setting on a GNOME desktop, else (or when the desktop's cannot be
    /// read in time) the record.
    CurrentSetting current() override;
    ApplyOutcome apply(const ProxySetting& change) override;
    /// registry.reg, each desktop setting written, and the environment of the browser the program starts.
    std::vector<std::string> places() const override;
    /// GNOME Settings' network page, Cinnamon's, or KDE's proxy module; none with the desktop left alone.
    bool openSettingsPage() override;

    const DesktopProxyOptions& options() const { return m_options; }

private:
    BackendOutcome applyGnome(const ProxySetting& change);
    BackendOutcome applyKde(const ProxySetting& change);
    std::optional<ProxySetting> readGnome();

    ProxyRecordFile m_record;
    DesktopProxyOptions m_options;
    Launcher& m_launcher;
    // Set while a call on the session bus is still running after its time ran out: the bus hangs, and another
    // call would too.
    std::shared_ptr<std::atomic<bool>> m_busBusy = std::make_shared<std::atomic<bool>>(false);
};

} // namespace tamberly
