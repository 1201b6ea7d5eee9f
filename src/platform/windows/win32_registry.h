#pragma once

#include "platform/registry.h"

#include <functional>
#include <string>

namespace tamberly {

/// The real registry, addressed by full names the way the shell automation object takes them: a root
/// ("HKEY_CURRENT_USER" or "HKCU", "HKEY_LOCAL_MACHINE" or "HKLM", "HKEY_CLASSES_ROOT" or "HKCR", "HKEY_USERS",
/// "HKEY_CURRENT_CONFIG"), the key path and the value name after the last backslash; a name ending in a backslash
/// means the key's default value. Text is UTF-8 here and UTF-16 in the registry.
class Win32Registry final : public Registry {
public:
    /// Called after every write under the per-user Internet Settings, so running programs take the change.
    using SettingsChanged = std::function<void()>;

    /// By default tells running programs through WinINet (settings changed, then refresh).
    explicit Win32Registry(SettingsChanged settingsChanged = notifyInternetSettingsChanged);

    void RegWrite(const std::string& fullName, const RegValue& value, const std::string& typeName) override;
    std::optional<RegValue> RegRead(const std::string& fullName) override;

    /// InternetSetOption "settings changed" (39) then "refresh" (37); a failed refresh is harmless (Wine refuses it)
    /// and is ignored, like a failure of either.
    static void notifyInternetSettingsChanged();

private:
    SettingsChanged m_settingsChanged;
};

} // namespace tamberly
