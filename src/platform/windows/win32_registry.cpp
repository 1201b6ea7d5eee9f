#include "platform/windows/win32_registry.h"

#include "platform/windows/wide_text.h"

#include <algorithm>
#include <cwctype>
#include <vector>

// clang-format off
#include <windows.h>
#include <wininet.h>
// clang-format on

namespace tamberly {
namespace {

constexpr const wchar_t* kInternetSettings = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

struct ValueName {
    HKEY root = nullptr;
    std::wstring key;
    std::wstring value; // empty: the key's default value
};

std::wstring upper(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towupper(c); });
    return text;
}

ValueName parseName(const std::string& fullName) {
    const std::wstring name = widen(fullName);
    const auto firstSlash = name.find(L'\\');
    const auto lastSlash = name.rfind(L'\\');
    if (firstSlash == std::wstring::npos)
        throw RegistryError("Invalid registry name \"" + fullName + "\": no key is given");
    const std::wstring rootName = upper(name.substr(0, firstSlash));
    ValueName parsed;
    if (rootName == L"HKEY_CURRENT_USER" || rootName == L"HKCU")
        parsed.root = HKEY_CURRENT_USER;
    else if (rootName == L"HKEY_LOCAL_MACHINE" || rootName == L"HKLM")
        parsed.root = HKEY_LOCAL_MACHINE;
    else if (rootName == L"HKEY_CLASSES_ROOT" || rootName == L"HKCR")
        parsed.root = HKEY_CLASSES_ROOT;
    else if (rootName == L"HKEY_USERS")
        parsed.root = HKEY_USERS;
    else if (rootName == L"HKEY_CURRENT_CONFIG")
        parsed.root = HKEY_CURRENT_CONFIG;
    else
        throw RegistryError("Invalid root in registry name \"" + fullName + "\"");
    parsed.key = lastSlash > firstSlash ? name.substr(firstSlash + 1, lastSlash - firstSlash - 1) : std::wstring();
    parsed.value = name.substr(lastSlash + 1);
    return parsed;
}

class Key {
public:
    Key() = default;
    ~Key() {
        if (m_key)
            ::RegCloseKey(m_key);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* out() { return &m_key; }
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

std::string failure(const std::string& what, const std::string& fullName, LONG error) {
    return what + " \"" + fullName + "\": " + systemErrorText(static_cast<unsigned long>(error));
}

} // namespace

Win32Registry::Win32Registry(SettingsChanged settingsChanged) : m_settingsChanged(std::move(settingsChanged)) {}

void Win32Registry::notifyInternetSettingsChanged() {
    ::InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
    ::InternetSetOptionW(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
}

void Win32Registry::RegWrite(const std::string& fullName, const RegValue& value, const std::string& typeName) {
    const ValueName name = parseName(fullName);
    std::vector<BYTE> data;
    DWORD type = 0;
    if (typeName == "REG_SZ" || typeName == "REG_EXPAND_SZ") {
        type = typeName == "REG_SZ" ? REG_SZ : REG_EXPAND_SZ;
        const std::wstring text = widen(regValueText(value));
        const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
        data.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
    } else if (typeName == "REG_DWORD") {
        type = REG_DWORD;
        DWORD number = 0;
        if (const auto* n = std::get_if<std::uint32_t>(&value)) {
            number = *n;
        } else {
            const std::string& text = std::get<std::string>(value);
            try {
                std::size_t used = 0;
                const unsigned long parsed = std::stoul(text, &used, 0);
                if (used != text.size() || parsed > 0xFFFFFFFFul)
                    throw std::out_of_range("DWORD");
                number = static_cast<DWORD>(parsed);
            } catch (const std::logic_error&) {
                throw RegistryError("Cannot write \"" + text + "\" as a number to \"" + fullName + "\"");
            }
        }
        const auto* bytes = reinterpret_cast<const BYTE*>(&number);
        data.assign(bytes, bytes + sizeof number);
    } else {
        throw RegistryError("Unsupported registry type \"" + typeName + "\" for \"" + fullName + "\"");
    }

    Key key;
    LONG result = ::RegCreateKeyExW(name.root, name.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                    nullptr, key.out(), nullptr);
    if (result != ERROR_SUCCESS)
        throw RegistryError(failure("Cannot open the registry key of", fullName, result));
    result = ::RegSetValueExW(key.get(), name.value.empty() ? nullptr : name.value.c_str(), 0, type, data.data(),
                              static_cast<DWORD>(data.size()));
    if (result != ERROR_SUCCESS)
        throw RegistryError(failure("Cannot write", fullName, result));
    if (name.root == HKEY_CURRENT_USER && upper(name.key) == upper(kInternetSettings) && m_settingsChanged)
        m_settingsChanged();
}

std::optional<RegValue> Win32Registry::RegRead(const std::string& fullName) {
    const ValueName name = parseName(fullName);
    Key key;
    LONG result = ::RegOpenKeyExW(name.root, name.key.c_str(), 0, KEY_QUERY_VALUE, key.out());
    if (result == ERROR_FILE_NOT_FOUND)
        return std::nullopt;
    if (result != ERROR_SUCCESS)
        throw RegistryError(failure("Cannot open the registry key of", fullName, result));
    const wchar_t* valueName = name.value.empty() ? nullptr : name.value.c_str();
    std::vector<BYTE> data;
    DWORD type = 0;
    for (;;) {
        DWORD size = static_cast<DWORD>(data.size());
        result = ::RegQueryValueExW(key.get(), valueName, nullptr, &type, data.empty() ? nullptr : data.data(), &size);
        if (result == ERROR_FILE_NOT_FOUND)
            return std::nullopt;
        if (result == ERROR_SUCCESS && !data.empty()) {
            data.resize(size);
            break;
        }
        if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA)
            throw RegistryError(failure("Cannot read", fullName, result));
        // The value may grow between the two calls: ask again with the new size.
        data.resize(std::max<DWORD>(size, 1) + sizeof(wchar_t));
    }
    if (type == REG_DWORD) {
        if (data.size() < sizeof(DWORD))
            throw RegistryError("Cannot read \"" + fullName + "\": the number is truncated");
        DWORD number = 0;
        std::copy_n(data.data(), sizeof number, reinterpret_cast<BYTE*>(&number));
        return RegValue{static_cast<std::uint32_t>(number)};
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        std::wstring text(data.size() / sizeof(wchar_t), L'\0');
        std::copy_n(data.data(), text.size() * sizeof(wchar_t), reinterpret_cast<BYTE*>(text.data()));
        // The stored terminator (or several, or none) is not part of the text.
        if (const auto end = text.find(L'\0'); end != std::wstring::npos)
            text.resize(end);
        return RegValue{narrow(text)};
    }
    throw RegistryError("Cannot read \"" + fullName + "\": its type is neither text nor a number");
}

} // namespace tamberly
