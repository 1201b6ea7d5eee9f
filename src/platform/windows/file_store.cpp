#include "core/file_store.h"

#include "platform/windows/wide_text.h"

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <random>

#include <windows.h>

namespace tamberly::file_store {
namespace {

class Handle {
public:
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    ~Handle() { close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle) {
        close();
        m_handle = handle;
    }
    bool close() {
        const bool ok = !valid() || ::CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE m_handle;
};

std::string failure(const std::string& what, const std::string& path, DWORD error) {
    return what + " " + path + ": " + systemErrorText(error);
}

void setErrno(DWORD error) {
    errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
}

constexpr const char* kTempMark = ".tmp-";
constexpr std::size_t kTempRandomChars = 6;

// A writer killed between creating its temporary file and the replace leaves that file behind. Temporary files
// are only made under the lock, so whoever holds it may remove any it finds.
void removeLeftovers(const std::filesystem::path& folder, const std::wstring& fileName) {
    const std::wstring prefix = fileName + widen(kTempMark);
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        const std::wstring name = it->path().filename().wstring();
        if (name.size() == prefix.size() + kTempRandomChars && name.compare(0, prefix.size(), prefix) == 0)
            ::DeleteFileW(it->path().c_str());
    }
}

std::wstring randomSuffix() {
    static constexpr wchar_t kChars[] = L"abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 generator{std::random_device{}() ^ ::GetCurrentProcessId()};
    std::uniform_int_distribution<std::size_t> pick(0, 35);
    std::wstring suffix;
    for (std::size_t i = 0; i < kTempRandomChars; ++i)
        suffix += kChars[pick(generator)];
    return suffix;
}

bool writeAll(HANDLE file, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, data.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

// Replacing fails while another process has the file open (a reader between its open and close): such a hold is
// short, so try again for a while before giving up.
bool replaceWithRetry(const std::wstring& from, const std::wstring& to, DWORD& error) {
    for (int attempt = 0;; ++attempt) {
        if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        error = ::GetLastError();
        const bool busy =
            error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
        if (!busy || attempt >= 200)
            return false;
        ::Sleep(attempt < 20 ? 1 : 20);
    }
}

// The file's one name for its lock: its folder as the system resolves it (short names, links, "..") and its own
// name, in upper case since names compare case-blind. A folder that cannot be opened keeps its full path.
std::wstring lockKey(const std::filesystem::path& folder, const std::wstring& fileName) {
    std::wstring resolved;
    Handle handle(::CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (handle.valid()) {
        resolved.resize(MAX_PATH);
        DWORD n = ::GetFinalPathNameByHandleW(handle.get(), resolved.data(), static_cast<DWORD>(resolved.size()), 0);
        if (n >= resolved.size()) {
            resolved.resize(n + 1);
            n = ::GetFinalPathNameByHandleW(handle.get(), resolved.data(), static_cast<DWORD>(resolved.size()), 0);
        }
        resolved.resize(n < resolved.size() ? n : 0);
    }
    if (resolved.empty()) {
        std::error_code ec;
        resolved = std::filesystem::absolute(folder, ec).wstring();
    }
    std::wstring key = resolved + L"\\" + fileName;
    ::CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
    return key;
}

// The lock of a file: a mutex of the system named for the file, so that nothing of it is left beside the user's
// files. Global, so that the user's programs in every session meet it; the system lets go of it when its holder ends,
// even killed, and the next one takes it over.
class FileMutex {
public:
    ~FileMutex() {
        if (m_owned)
            ::ReleaseMutex(m_mutex);
        if (m_mutex)
            ::CloseHandle(m_mutex);
    }

    std::string take(const std::filesystem::path& folder, const std::wstring& fileName, const std::string& path) {
        std::uint64_t hash = 14695981039346656037ull; // FNV-1a over the name's UTF-16 units
        for (const wchar_t c : lockKey(folder, fileName))
            hash = (hash ^ static_cast<std::uint16_t>(c)) * 1099511628211ull;
        std::wstring name = L"Global\\Tamberly.file.";
        for (int shift = 60; shift >= 0; shift -= 4)
            name += L"0123456789abcdef"[(hash >> shift) & 0xf];
        // Another account's program holding a mutex of that name (a folder two users share) keeps it from this
        // one: it is held for a write, so wait until it is gone.
        for (int attempt = 0; !(m_mutex = ::CreateMutexW(nullptr, FALSE, name.c_str())); ++attempt) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_ACCESS_DENIED)
                return failure("cannot lock", path, error);
            ::Sleep(attempt < 20 ? 1 : 20);
        }
        const DWORD waited = ::WaitForSingleObject(m_mutex, INFINITE);
        if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) // abandoned: its holder ended in the middle
            return failure("cannot lock", path, ::GetLastError());
        m_owned = true;
        return {};
    }

private:
    HANDLE m_mutex = nullptr;
    bool m_owned = false;
};

Stamp stampOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info))
        return {};
    return {info.dwVolumeSerialNumber, (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
            (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow,
            static_cast<std::int64_t>((static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                      info.ftLastWriteTime.dwLowDateTime)};
}

} // namespace

std::optional<Stamp> stamp(const std::string& path) {
    Handle file(::CreateFileW(widen(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return std::nullopt;
    return stampOf(file.get());
}

std::optional<std::string> read(const std::string& path, Stamp* stamp) {
    // Others may read, write and replace the file meanwhile: the replace is what keeps it whole.
    Handle file(::CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) {
        setErrno(::GetLastError());
        return std::nullopt;
    }
    if (stamp)
        *stamp = stampOf(file.get());
    LARGE_INTEGER size{};
    const bool sized = ::GetFileSizeEx(file.get(), &size) && size.QuadPart > 0;
    std::string data(sized ? static_cast<std::size_t>(size.QuadPart) + 1 : 65536, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == data.size())
            data.resize(data.size() * 2);
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(data.size() - used, 1u << 30));
        DWORD got = 0;
        if (!::ReadFile(file.get(), data.data() + used, want, &got, nullptr)) {
            setErrno(::GetLastError());
            return std::nullopt;
        }
        if (got == 0)
            break;
        used += got;
    }
    data.resize(used);
    return data;
}

std::string update(const std::string& path, const std::function<std::string(const std::optional<std::string>&)>& change,
                   Version* known) {
    const std::filesystem::path target(widen(path));
    const std::filesystem::path folder =
        target.parent_path().empty() ? std::filesystem::path(L".") : target.parent_path();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);

    // Not a lock on the data file, which is replaced (a lock on it would be lost), nor a lock file beside it: a
    // mutex of the system, let go on every way out.
    FileMutex lock;
    if (std::string why = lock.take(folder, target.filename().wstring(), path); !why.empty())
        return why;

    // A file that exists but cannot be read is left alone: replacing it would keep only the one new value. Under
    // the lock, a file that still has the caller's stamp holds the caller's bytes.
    std::optional<std::string> current;
    const auto now = stamp(path);
    const bool same = known && now && *now == known->stamp;
    if (same) {
        current = std::move(known->bytes);
    } else {
        current = read(path);
        if (!current && errno != ENOENT)
            return failure("cannot read", path, ::GetLastError()) + ", so it was left as it is";
    }
    // The caller's bytes go back to it on every way out but success.
    struct GiveBack {
        Version* known;
        std::optional<std::string>& current;
        bool taken;
        ~GiveBack() {
            if (taken && current)
                known->bytes = std::move(*current);
        }
    } giveBack{known, current, same};
    std::string next = change(current);

    removeLeftovers(folder, target.filename().wstring());
    std::wstring temp;
    Handle out(INVALID_HANDLE_VALUE);
    for (int attempt = 0; attempt < 100 && !out.valid(); ++attempt) {
        temp = target.wstring() + widen(kTempMark) + randomSuffix();
        out.reset(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out.valid() && ::GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (!out.valid())
        return failure("cannot create a temporary file beside", path, ::GetLastError());
    if (!writeAll(out.get(), next) || !::FlushFileBuffers(out.get())) {
        const DWORD error = ::GetLastError();
        out.close();
        ::DeleteFileW(temp.c_str());
        return failure("cannot write", path, error);
    }
    DWORD error = 0;
    if (!out.close() || !replaceWithRetry(temp, target.wstring(), error)) {
        if (error == 0)
            error = ::GetLastError();
        ::DeleteFileW(temp.c_str());
        return failure("cannot replace", path, error);
    }
    if (known) {
        // Still under the lock: no other writer can have replaced the file since.
        giveBack.taken = false;
        known->stamp = stamp(path).value_or(Stamp{});
        known->bytes = std::move(next);
    }
    return {};
}

} // namespace tamberly::file_store
