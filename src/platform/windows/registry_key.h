#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace tamberly {

/// A registry value's data as the program uses it: text (REG_SZ, or REG_EXPAND_SZ as stored) or a number (REG_DWORD).
using RegistryData = std::variant<std::string, std::uint32_t>;

/// One value read: its data, nothing when the value or its key does not exist, or why it could not be read.
struct RegistryRead {
    std::optional<RegistryData> data;
    /// Set when the value exists but could not be read (no access, a type other than text or a number, ...).
    std::string why;
};

/// The values of one registry key, by name; the empty name is the key's default value. Text is UTF-8.
class RegistryKey {
public:
    virtual ~RegistryKey() = default;
    virtual RegistryRead read(const std::string& name) const = 0;
    /// Creates or replaces the value, creating the key when it is missing. The empty text, or why it failed.
    virtual std::string write(const std::string& name, const RegistryData& data) = 0;
    /// Removes the value; one that is missing already is no failure. The empty text, or why it failed.
    virtual std::string remove(const std::string& name) = 0;
};

} // namespace tamberly
