#pragma once

#include "platform/windows/registry_key.h"

#include <string>

namespace tamberly {

/// The registry's top-level keys the program uses.
enum class RegistryRoot { CurrentUser, LocalMachine, ClassesRoot };

/// A key of the real registry, opened anew for each access (another program may remove or recreate it meanwhile).
/// Failures name the value in full ("HKEY_CURRENT_USER\...\ProxyServer") with the system's reason.
class Win32RegistryKey final : public RegistryKey {
public:
    Win32RegistryKey(RegistryRoot root, std::string path);

    /// The key path\name below this one.
    Win32RegistryKey subKey(const std::string& name) const;
    /// "HKEY_CURRENT_USER\path", for messages.
    std::string fullName() const;

    RegistryRead read(const std::string& name) const override;
    std::string write(const std::string& name, const RegistryData& data) override;
    std::string remove(const std::string& name) override;

private:
    RegistryRoot m_root;
    std::string m_path;
};

} // namespace tamberly
