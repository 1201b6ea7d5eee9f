#pragma once

#include "platform/session_start.h"
#include "platform/windows/registry_key.h"

#include <string>

namespace tamberly {

/// The program's value under the user's Run key (HKCU\Software\Microsoft\Windows\CurrentVersion\Run), the value
/// name the installer uses, so that the installer's choice and the menu's are one setting.
class RunKeySessionStart final : public SessionStart {
public:
    static constexpr const char* kValueName = "Tamberly";

    /// run: the Run key; approved: Explorer's record of the entries a user turned on or off in Task Manager
    /// (...\Explorer\StartupApproved\Run), cleared when the menu turns the entry on; program: the full path of
    /// tamberly.exe.
    RunKeySessionStart(RegistryKey& run, RegistryKey& approved, std::string program);

    /// The command the Run key holds: the program's path in quotes, started hidden.
    static std::string command(const std::string& program);

    bool enabled() const override;
    std::string setEnabled(bool on) override;

private:
    RegistryKey& m_run;
    RegistryKey& m_approved;
    std::string m_program;
};

} // namespace tamberly
