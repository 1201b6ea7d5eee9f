#include "platform/windows/win32_registry_key.h"

#include "platform/windows/wide_text.h"

#include <algorithm>
#include <vector>

#include <windows.h>

namespace tamberly {
namespace {

HKEY rootKey(RegistryRoot root) {
    switch (root) {
    case RegistryRoot::CurrentUser:
        return HKEY_CURRENT_USER;
    case RegistryRoot::LocalMachine:
        return HKEY_LOCAL_MACHINE;
    case RegistryRoot::ClassesRoot:
        return HKEY_CLASSES_ROOT;
    }
    return HKEY_CURRENT_USER;
}

const char* rootName(RegistryRoot root) {
    switch (root) {
    case RegistryRoot::CurrentUser:
        return "HKEY_CURRENT_USER";
    case RegistryRoot::LocalMachine:
        return "HKEY_LOCAL_MACHINE";
    case RegistryRoot::ClassesRoot:
        return "HKEY_CLASSES_ROOT";
    }
    return "";
}

class OpenKey {
public:
    OpenKey() = default;
    ~OpenKey() {
        if (m_key)
            ::RegCloseKey(m_key);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    HKEY* out() { return &m_key; }
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

std::string failure(const std::string& what, const std::string& valueName, LONG error) {
    return what + " \"" + valueName + "\": " + systemErrorText(static_cast<unsigned long>(error));
}

// The empty name is the key's default value, which the W functions take as none.
const wchar_t* valueNameOrNull(const std::wstring& name) {
    return name.empty() ? nullptr : name.c_str();
}

} // namespace

Win32RegistryKey::Win32RegistryKey(RegistryRoot root, std::string path) : m_root(root), m_path(std::move(path)) {}

Win32RegistryKey Win32RegistryKey::subKey(const std::string& name) const {
    return Win32RegistryKey(m_root, m_path.empty() ? name : m_path + "\\" + name);
}

std::string Win32RegistryKey::fullName() const {
    return m_path.empty() ? std::string(rootName(m_root)) : std::string(rootName(m_root)) + "\\" + m_path;
}

RegistryRead Win32RegistryKey::read(const std::string& name) const {
    const std::string valueName = fullName() + "\\" + name;
    OpenKey key;
    LONG result = ::RegOpenKeyExW(rootKey(m_root), widen(m_path).c_str(), 0, KEY_QUERY_VALUE, key.out());
    if (result == ERROR_FILE_NOT_FOUND)
        return {};
    if (result != ERROR_SUCCESS)
        return {std::nullopt, failure("Cannot open the registry key of", valueName, result)};
    const std::wstring wideName = widen(name);
    std::vector<BYTE> data;
    DWORD type = 0;
    for (;;) {
        DWORD size = static_cast<DWORD>(data.size());
        result = ::RegQueryValueExW(key.get(), valueNameOrNull(wideName), nullptr, &type,
                                    data.empty() ? nullptr : data.data(), &size);
        if (result == ERROR_FILE_NOT_FOUND)
            return {};
        if (result == ERROR_SUCCESS && !data.empty()) {
            data.resize(size);
            break;
        }
        if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA)
            return {std::nullopt, failure("Cannot read", valueName, result)};
        // The value may grow between the two calls: ask again with the new size.
        data.resize(std::max<DWORD>(size, 1) + sizeof(wchar_t));
    }
    if (type == REG_DWORD) {
        if (data.size() < sizeof(DWORD))
            return {std::nullopt, "Cannot read \"" + valueName + "\": the number is truncated"};
        DWORD number = 0;
        std::copy_n(data.data(), sizeof number, reinterpret_cast<BYTE*>(&number));
        return {RegistryData{static_cast<std::uint32_t>(number)}, {}};
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        std::wstring text(data.size() / sizeof(wchar_t), L'\0');
        std::copy_n(data.data(), text.size() * sizeof(wchar_t), reinterpret_cast<BYTE*>(text.data()));
        // The stored terminator (or several, or none) is not part of the text.
        if (const auto end = text.find(L'\0'); end != std::wstring::npos)
            text.resize(end);
        return {RegistryData{narrow(text)}, {}};
    }
    return {std::nullopt, "Cannot read \"" + valueName + "\": its type is neither text nor a number"};
}

std::string Win32RegistryKey::write(const std::string& name, const RegistryData& data) {
    const std::string valueName = fullName() + "\\" + name;
    std::vector<BYTE> bytes;
    DWORD type = 0;
    if (const auto* number = std::get_if<std::uint32_t>(&data)) {
        type = REG_DWORD;
        const DWORD value = *number;
        const auto* begin = reinterpret_cast<const BYTE*>(&value);
        bytes.assign(begin, begin + sizeof value);
    } else {
        type = REG_SZ;
        const std::wstring text = widen(std::get<std::string>(data));
        const auto* begin = reinterpret_cast<const BYTE*>(text.c_str());
        bytes.assign(begin, begin + (text.size() + 1) * sizeof(wchar_t));
    }
    OpenKey key;
    LONG result = ::RegCreateKeyExW(rootKey(m_root), widen(m_path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_SET_VALUE, nullptr, key.out(), nullptr);
    if (result != ERROR_SUCCESS)
        return failure("Cannot open the registry key of", valueName, result);
    const std::wstring wideName = widen(name);
    result =
        ::RegSetValueExW(key.get(), valueNameOrNull(wideName), 0, type, bytes.data(), static_cast<DWORD>(bytes.size()));
    if (result != ERROR_SUCCESS)
        return failure("Cannot write", valueName, result);
    return {};
}

std::string Win32RegistryKey::remove(const std::string& name) {
    const std::string valueName = fullName() + "\\" + name;
    OpenKey key;
    LONG result = ::RegOpenKeyExW(rootKey(m_root), widen(m_path).c_str(), 0, KEY_SET_VALUE, key.out());
    if (result == ERROR_FILE_NOT_FOUND)
        return {};
    if (result != ERROR_SUCCESS)
        return failure("Cannot open the registry key of", valueName, result);
    const std::wstring wideName = widen(name);
    result = ::RegDeleteValueW(key.get(), valueNameOrNull(wideName));
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
        return failure("Cannot remove", valueName, result);
    return {};
}

} // namespace tamberly
