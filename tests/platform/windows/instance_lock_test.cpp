#include "platform/windows/instance_lock.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

namespace tamberly {
namespace {

using test::TempDir;
using Role = InstanceLock::Role;

// Runs f on a thread of its own, as another program's start would, while this thread answers its window's messages.
void onOtherThread(const std::function<void()>& f) {
    bool done = false;
    std::thread other([&] {
        f();
        done = true;
    });
    while (!done) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&message);
        ::Sleep(5);
    }
    other.join();
}

// A window of the program's class that counts the requests to come forward.
class FirstWindow {
public:
    FirstWindow() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
            if (message == InstanceLock::showRequestMessage()) {
                ++*reinterpret_cast<int*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
                return InstanceLock::kShown;
            }
            return ::DefWindowProcW(window, message, wParam, lParam);
        };
        windowClass.lpszClassName = L"Tamberly";
        ::RegisterClassW(&windowClass);
        m_window =
            ::CreateWindowExW(0, L"Tamberly", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        ::SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&m_requests));
    }
    ~FirstWindow() { ::DestroyWindow(m_window); }
    HWND handle() const { return m_window; }
    int requests() const { return m_requests; }

private:
    HWND m_window = nullptr;
    int m_requests = 0;
};

TEST(InstanceLock, EverySpellingOfOneFolderIsOneKeyAndAnotherFolderAnother) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("sub"));
    std::string upper = dir.path();
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::wstring key = resolvedFolderKey(dir.path());
    const struct {
        std::string folder;
        bool same;
    } cases[] = {
        {dir.path() + "\\", true},      {upper, true},
        {dir.path() + "/sub/..", true}, {dir.path() + "\\.", true},
        {dir.file("sub"), false},       {dir.file("not yet made"), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(resolvedFolderKey(c.folder) == key, c.same) << c.folder;
    // A folder not made yet (a first start's) has one key for its spellings too.
    EXPECT_EQ(resolvedFolderKey(dir.file("not yet made")), resolvedFolderKey(upper + "\\NOT YET MADE\\"));
}

TEST(InstanceLock, TheFirstStartForAFolderIsFirstALaterOneSecondAndAnotherFolderFirstAgain) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("other"));
    InstanceLock first(dir.path());
    ASSERT_EQ(first.role(), Role::First) << first.why();
    onOtherThread([&] {
        EXPECT_EQ(InstanceLock(dir.path() + "\\").role(), Role::Second);
        EXPECT_EQ(InstanceLock(dir.file("other")).role(), Role::First);
    });
}

TEST(InstanceLock, ALaterStartBringsTheMarkedWindowForwardOnlyThatOfItsOwnFolder) {
    TempDir dir, other;
    InstanceLock first(dir.path());
    FirstWindow window;
    first.markWindow(window.handle());
    InstanceLock otherFirst(other.path());
    FirstWindow otherWindow;
    otherFirst.markWindow(otherWindow.handle());

    onOtherThread([&] {
        InstanceLock later(dir.path());
        ASSERT_EQ(later.role(), Role::Second);
        EXPECT_TRUE(later.askFirstToShow()) << later.why();
    });
    EXPECT_EQ(window.requests(), 1);
    EXPECT_EQ(otherWindow.requests(), 0);

    // Without the mark no window answers: the later start says so within its limit.
    first.unmarkWindow();
    onOtherThread([&] {
        InstanceLock later(dir.path());
        EXPECT_FALSE(later.askFirstToShow(std::chrono::milliseconds(300)));
        EXPECT_EQ(later.role(), Role::Second);
        EXPECT_EQ(later.why(), "its window did not answer");
    });
    EXPECT_EQ(window.requests(), 1);
}

TEST(InstanceLock, ALaterStartTakesOverWhenTheFirstEndsHoweverItEnds) {
    TempDir dir;
    // Ended in order: the lock given back.
    auto first = std::make_unique<InstanceLock>(dir.path());
    std::atomic<bool> waiting = false;
    std::thread later([&] {
        InstanceLock lock(dir.path());
        ASSERT_EQ(lock.role(), Role::Second);
        waiting = true;
        EXPECT_FALSE(lock.askFirstToShow(std::chrono::seconds(10)));
        EXPECT_EQ(lock.role(), Role::First);
    });
    while (!waiting)
        ::Sleep(5);
    first.reset();
    later.join();
    // Ended without giving it back, as a crash does: the system gives the lock up with the thread.
    std::unique_ptr<InstanceLock> crashed;
    std::thread([&] { crashed = std::make_unique<InstanceLock>(dir.path()); }).join();
    ASSERT_EQ(crashed->role(), Role::First);
    onOtherThread([&] { EXPECT_EQ(InstanceLock(dir.path()).role(), Role::First); });
}

} // namespace
} // namespace tamberly
