#pragma once

#include "platform/windows/win32_registry_key.h"

#include <string>
#include <vector>

namespace tamberly::test {

/// A key of the test's own under HKEY_CURRENT_USER\Software, removed with everything below it afterwards.
class ScratchKey {
public:
    ScratchKey();
    ~ScratchKey();
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;

    /// "Software\Tamberly-test-<process>-<n>"
    const std::string& path() const { return m_path; }
    /// The key itself, or sub below it.
    Win32RegistryKey key(const std::string& sub = {}) const;
    /// Lets the user go on reading the key (sub below this one, created when missing) but no longer change it,
    /// or with reads too, neither.
    void deny(const std::string& sub, bool reads = false);
    /// Writes a value of a type the program never writes (REG_BINARY).
    void writeBinary(const std::string& sub, const std::string& name, const std::string& bytes) const;

private:
    std::string pathOf(const std::string& sub) const;

    std::string m_path;
    std::vector<std::string> m_denied;
};

} // namespace tamberly::test
