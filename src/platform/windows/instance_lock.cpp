#include "platform/windows/instance_lock.h"

#include "platform/windows/wide_text.h"

#include <cstdint>

namespace tamberly {
namespace {

constexpr const wchar_t* kShowRequestName = L"Tamberly.ShowWindow";
// The main window's class: only such windows are asked.
constexpr const wchar_t* kWindowClass = L"Tamberly";

std::wstring fullPath(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    DWORD size = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (size > full.size()) {
        full.resize(size);
        size = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    if (size == 0 || size > full.size())
        return path;
    full.resize(size);
    return full;
}

// The final path of an existing file or folder, links and short names followed, without the "\\?\" prefix.
bool finalPath(const std::wstring& path, std::wstring& final) {
    const HANDLE handle = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    std::wstring result(MAX_PATH, L'\0');
    DWORD size = ::GetFinalPathNameByHandleW(handle, result.data(), static_cast<DWORD>(result.size()), 0);
    if (size >= result.size()) {
        result.resize(size + 1);
        size = ::GetFinalPathNameByHandleW(handle, result.data(), static_cast<DWORD>(result.size()), 0);
    }
    ::CloseHandle(handle);
    if (size == 0 || size >= result.size())
        return false;
    result.resize(size);
    if (result.rfind(L"\\\\?\\UNC\\", 0) == 0)
        result = L"\\" + result.substr(7);
    else if (result.rfind(L"\\\\?\\", 0) == 0)
        result = result.substr(4);
    final = result;
    return true;
}

std::uint64_t fnv1a(const std::wstring& text) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const wchar_t c : text) {
        for (int shift = 0; shift < 16; shift += 8) {
            hash ^= (static_cast<std::uint64_t>(c) >> shift) & 0xFF;
            hash *= 0x100000001b3ULL;
        }
    }
    return hash;
}

std::wstring hex(std::uint64_t value) {
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text(16, L'0');
    for (int i = 15; i >= 0; --i, value >>= 4)
        text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    return text;
}

} // namespace

std::wstring resolvedFolderKey(const std::string& folder) {
    const std::wstring full = fullPath(widen(folder.empty() ? std::string(".") : folder));
    // The part that exists is resolved by the system; a part not made yet (a first start's settings folder) is kept
    // as written.
    std::wstring head = full, tail, resolved = full;
    for (;;) {
        std::wstring final;
        if (finalPath(head, final)) {
            resolved = final + tail;
            break;
        }
        const std::size_t slash = head.find_last_of(L"\\/");
        if (slash == std::wstring::npos || slash + 1 >= head.size() || head.find_first_of(L"\\/") == slash)
            break;
        tail = L"\\" + head.substr(slash + 1) + tail;
        head.resize(slash);
    }
    while (resolved.size() > 3 && (resolved.back() == L'\\' || resolved.back() == L'/'))
        resolved.pop_back();
    // Case-blind, as the file system is.
    std::wstring upper(resolved.size(), L'\0');
    const int size =
        ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, resolved.c_str(), static_cast<int>(resolved.size()),
                        upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
    if (size <= 0)
        return resolved;
    upper.resize(static_cast<std::size_t>(size));
    return upper;
}

InstanceLock::InstanceLock(const std::string& settingsFolder)
    : m_key(L"Tamberly-" + hex(fnv1a(resolvedFolderKey(settingsFolder)))) {
    // The session's own namespace: each user's desktop has its own programs.
    const std::wstring name = L"Local\\" + m_key;
    m_mutex = ::CreateMutexW(nullptr, TRUE, name.c_str());
    if (!m_mutex) {
        m_why = "the lock of the settings folder could not be made: " + systemErrorText(::GetLastError());
        return;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) {
        m_role = Role::First;
        return;
    }
    // Made already: owned by a running program, or left by one that ended (abandoned), which makes this one first.
    const DWORD wait = ::WaitForSingleObject(m_mutex, 0);
    m_role = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED ? Role::First : Role::Second;
}

InstanceLock::~InstanceLock() {
    unmarkWindow();
    if (m_mutex) {
        if (m_role == Role::First)
            ::ReleaseMutex(m_mutex);
        ::CloseHandle(m_mutex);
    }
}

void InstanceLock::markWindow(HWND window) {
    if (m_role != Role::First || !window)
        return;
    unmarkWindow();
    if (::SetPropW(window, m_key.c_str(), reinterpret_cast<HANDLE>(1)))
        m_marked = window;
}

void InstanceLock::unmarkWindow() {
    if (m_marked && ::IsWindow(m_marked))
        ::RemovePropW(m_marked, m_key.c_str());
    m_marked = nullptr;
}

UINT InstanceLock::showRequestMessage() {
    return ::RegisterWindowMessageW(kShowRequestName);
}

HWND InstanceLock::findMarkedWindow() const {
    struct Search {
        const std::wstring* key;
        HWND found = nullptr;
    } search{&m_key};
    // Hidden windows too: the first program may sit in the notification area.
    ::EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(data);
            wchar_t name[16] = {};
            if (::GetClassNameW(window, name, 16) > 0 && std::wstring_view(name) == kWindowClass &&
                ::GetPropW(window, s.key->c_str())) {
                s.found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool InstanceLock::askFirstToShow(std::chrono::milliseconds limit) {
    if (m_role != Role::Second)
        return false;
    const UINT request = showRequestMessage();
    const ULONGLONG until = ::GetTickCount64() + static_cast<ULONGLONG>(limit.count());
    for (;;) {
        if (const HWND window = findMarkedWindow()) {
            DWORD process = 0;
            ::GetWindowThreadProcessId(window, &process);
            // A start from the user may take the foreground; it passes that right on to the first program.
            ::AllowSetForegroundWindow(process);
            DWORD_PTR reply = 0;
            const ULONGLONG now = ::GetTickCount64();
            const UINT wait = now < until ? static_cast<UINT>(until - now) : 1;
            if (::SendMessageTimeoutW(window, request, 0, 0, SMTO_ABORTIFHUNG, wait, &reply) &&
                static_cast<LRESULT>(reply) == kShown)
                return true;
        }
        // The first program ended before its window answered: this one takes over.
        const DWORD wait = ::WaitForSingleObject(m_mutex, 0);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
            m_role = Role::First;
            return false;
        }
        if (::GetTickCount64() >= until) {
            m_why = "its window did not answer";
            return false;
        }
        ::Sleep(50);
    }
}

} // namespace tamberly
