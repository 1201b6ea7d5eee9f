#pragma once

#include <chrono>
#include <string>

#include <windows.h>

namespace tamberly {

/// One running program per settings folder. The first start owns a named mutex keyed to the settings folder as the
/// system resolves it (its full, final path, case-blind) and marks its window with a property keyed the same way; a
/// later start with the same folder finds the mutex owned, finds the marked window and asks it to come forward. The
/// mutex is the kernel's: when the first program ends, however it ends, a waiting start takes it over.
class InstanceLock final {
public:
    enum class Role {
        First,     // the mutex is this process's: its window is the one later starts bring forward
        Second,    // another process owns it: askFirstToShow() hands over to it
        Unguarded, // no mutex could be made: the program runs without one, as any number of copies
    };

    /// The reply of a window that came forward on showRequestMessage().
    static constexpr LRESULT kShown = 0x54616D;

    /// Takes the mutex for settingsFolder, or finds it owned.
    explicit InstanceLock(const std::string& settingsFolder);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    Role role() const { return m_role; }
    /// Unguarded: why; Second, after a failed askFirstToShow(): why it failed.
    const std::string& why() const { return m_why; }
    /// The key of the settings folder: the same for every spelling of one folder, different for another folder.
    const std::wstring& key() const { return m_key; }

    /// First: marks window as the one a later start brings forward; unmarkWindow() takes the mark off again before
    /// the window goes.
    void markWindow(HWND window);
    void unmarkWindow();

    /// Second: finds the first program's marked window (waiting for it while the first is still starting) and asks
    /// it to come forward, letting it take the foreground; true once it answered kShown. False, with why(), when no
    /// window answered within limit; the role is First instead when the first program ended meanwhile.
    bool askFirstToShow(std::chrono::milliseconds limit = std::chrono::seconds(10));

    /// The message a marked window gets from a later start: it comes forward and replies kShown.
    static UINT showRequestMessage();

private:
    HWND findMarkedWindow() const;

    Role m_role = Role::Unguarded;
    std::string m_why;
    std::wstring m_key;
    HANDLE m_mutex = nullptr;
    HWND m_marked = nullptr;
};

/// The folder as the system resolves it, for comparing: absolute, "." and ".." gone, links and short names followed
/// as far as the folder exists, no trailing backslash, in upper case.
std::wstring resolvedFolderKey(const std::string& folder);

} // namespace tamberly
