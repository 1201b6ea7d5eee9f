#pragma once

#include "platform/system_proxy.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tamberly {

class RegistryKey;

/// The user's web proxy on Windows: the per-user Internet Settings that WinINet, and with it every browser that
/// follows the system, reads. ProxyServer holds the servers, ProxyEnable switches them on, ProxyOverride lists the
/// hosts that go direct and AutoConfigURL names a configuration script; after a change running programs are told
/// once.
class InternetSettings final : public SystemProxy {
public:
    /// Tells running programs that the Internet Settings changed.
    using Notify = std::function<void()>;

    /// The place's name in outcomes and messages.
    static constexpr const char* kPlaceName = "the Internet Settings";

    /// The real per-user key, with the real notification.
    InternetSettings();
    /// settings holds the values; notify is called once after each change that wrote something.
    InternetSettings(std::unique_ptr<RegistryKey> settings, Notify notify);
    ~InternetSettings() override;

    CurrentSetting current() override;
    /// Writes ProxyServer (when the change gives servers), ProxyOverride (when it gives a bypass list), AutoConfigURL
    /// (written for a script, removed otherwise) and last ProxyEnable, so that the switch never turns on a server or
    /// a list not yet written; stops at the first failure.
    ApplyOutcome apply(const ProxySetting& change) override;
    std::vector<std::string> places() const override;
    /// Opens the Internet Options panel on its connections page; false when it could not be started.
    bool openSettingsPage() override;

    /// WinINet's "settings changed" then "refresh" to every running program. Wine refuses the refresh; either failing
    /// is harmless (programs then read the values when they next start), so failures are ignored.
    static void notifyRunningPrograms();

private:
    std::unique_ptr<RegistryKey> m_settings;
    Notify m_notify;
};

} // namespace tamberly
