#include "scratch_key.h"

#include "platform/windows/wide_text.h"

#include <stdexcept>

#include <windows.h>

#include <sddl.h>

namespace tamberly::test {
namespace {

bool setAccess(const std::wstring& path, const wchar_t* descriptor) {
    HKEY key = nullptr;
    // The owner may always change the key's access list, whatever the list says.
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, WRITE_DAC, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    PSECURITY_DESCRIPTOR security = nullptr;
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(descriptor, SDDL_REVISION_1, &security, nullptr);
    const LONG result = ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, security);
    ::LocalFree(security);
    ::RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

} // namespace

std::string ScratchKey::pathOf(const std::string& sub) const {
    return sub.empty() ? m_path : m_path + "\\" + sub;
}

ScratchKey::ScratchKey() {
    static int made = 0;
    m_path = "Software\\Tamberly-test-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++made);
}

ScratchKey::~ScratchKey() {
    for (const std::string& sub : m_denied)
        setAccess(widen(pathOf(sub)), L"D:(A;;KA;;;WD)");
    ::RegDeleteTreeW(HKEY_CURRENT_USER, widen(m_path).c_str());
}

Win32RegistryKey ScratchKey::key(const std::string& sub) const {
    return Win32RegistryKey(RegistryRoot::CurrentUser, pathOf(sub));
}

void ScratchKey::deny(const std::string& sub, bool reads) {
    // Everyone: denied the writes (or everything), allowed the rest.
    m_denied.push_back(sub);
    if (!setAccess(widen(pathOf(sub)), reads ? L"D:P(D;;KA;;;WD)" : L"D:P(D;;KW;;;WD)(A;;KA;;;WD)"))
        throw std::runtime_error("cannot change the access list of a scratch key");
}

void ScratchKey::writeBinary(const std::string& sub, const std::string& name, const std::string& bytes) const {
    if (::RegSetKeyValueW(HKEY_CURRENT_USER, widen(pathOf(sub)).c_str(), widen(name).c_str(), REG_BINARY, bytes.data(),
                          static_cast<DWORD>(bytes.size())) != ERROR_SUCCESS)
        throw std::runtime_error("cannot write a binary value");
}

} // namespace tamberly::test
