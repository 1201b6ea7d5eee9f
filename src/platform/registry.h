#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>

namespace tamberly {

/// Data of one registry value: text for "REG_SZ", a number for "REG_DWORD".
using RegValue = std::variant<std::string, std::uint32_t>;

/// The value as text, the way the shell object hands it over when it is read as text (numbers in decimal).
inline std::string regValueText(const RegValue& value) {
    if (const auto* number = std::get_if<std::uint32_t>(&value))
        return std::to_string(*number);
    return std::get<std::string>(value);
}

/// A registry access that could not be carried out; what() says why, in words a user can read.
class RegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The two calls of the shell automation object, addressed by full names such as
/// "HKEY_CURRENT_USER\Software\...\Internet Settings\ProxyServer".
class Registry {
public:
    virtual ~Registry() = default;
    /// Creates or replaces one value; typeName is "REG_SZ" or "REG_DWORD". Throws RegistryError.
    virtual void RegWrite(const std::string& fullName, const RegValue& value, const std::string& typeName) = 0;
    /// The stored data, or nullopt when the value does not exist. Throws RegistryError when the store is unreadable.
    virtual std::optional<RegValue> RegRead(const std::string& fullName) = 0;
};

/// Full names of the two per-user Internet Settings values that decide the browser's proxy.
inline constexpr const char* kProxyServerName =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ProxyServer";
inline constexpr const char* kProxyEnableName =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ProxyEnable";

/// Whether a ProxyEnable value says "use ProxyServer": its text read as a number the way the classic runtime's Val
/// reads it (leading blanks, tabs and line feeds skipped, a sign, then digits; anything else reads as 0) is 1.
inline bool proxyEnableIsOn(const RegValue& value) {
    const std::string text = regValueText(value);
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long number = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && number < 1'000'000'000'000; ++i)
        number = number * 10 + (text[i] - '0');
    return (negative ? -number : number) == 1;
}

} // namespace tamberly
