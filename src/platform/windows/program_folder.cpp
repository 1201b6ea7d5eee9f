#include "platform/windows/program_folder.h"

#include "platform/windows/wide_text.h"

#include <vector>

#include <windows.h>

namespace tamberly {
namespace {

bool fileExists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Asks the file system itself: access rights, virtualisation and read-only media all show in a real attempt.
bool folderWritable(const std::wstring& folder) {
    const std::wstring probe = folder + L"\\prefs.ini.probe-" + std::to_wstring(::GetCurrentProcessId());
    const HANDLE file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(file);
    return true;
}

} // namespace

std::string programPath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length < buffer.size())
            return narrow(std::wstring(buffer.data(), length));
        buffer.resize(buffer.size() * 2);
    }
}

std::string programFolder() {
    const std::string path = programPath();
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string settingsFilePath(const std::string& programFolder, const std::string& appData) {
    const std::wstring folder = widen(programFolder);
    if (fileExists(folder + L"\\prefs.ini") || folderWritable(folder))
        return programFolder + "\\prefs.ini";
    std::wstring base = widen(appData);
    if (base.empty()) {
        std::vector<wchar_t> buffer(32768);
        const DWORD length = ::GetEnvironmentVariableW(L"APPDATA", buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length > 0 && length < buffer.size())
            base.assign(buffer.data(), length);
    }
    if (base.empty())
        return programFolder + "\\prefs.ini";
    return narrow(base) + "\\Tamberly\\prefs.ini";
}

} // namespace tamberly
