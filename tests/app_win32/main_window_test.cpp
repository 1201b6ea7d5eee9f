// The Win32 window in this process under Wine, on the test run's own display: its rows, status line, menus and
// dialogs, each dialog answered from a second thread as a user would answer it.
#include "app_win32/app.h"
#include "app_win32/main_window.h"
#include "app_win32/resource.h"
#include "app_win32/watch_timer.h"
#include "commands/check_proxies.h"
#include "commands/check_results.h"
#include "core/proxy_list_store.h"
#include "core/settings.h"
#include "platform/windows/wide_text.h"
#include "support/temp_dir.h"
#include "support/winsock_servers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <ostream>
#include <thread>

#include <commctrl.h>

namespace tamberly {
void PrintTo(const WindowSize& size, std::ostream* out) {
    *out << size.width << "x" << size.height;
}
} // namespace tamberly

namespace tamberly::win32 {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::string textOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return narrow(text);
}

// A visible dialog of this process with the title given (another test program may show one of the same name).
HWND findDialog(const std::string& title) {
    struct Search {
        std::string title;
        HWND found = nullptr;
    } search{title};
    ::EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(data);
            DWORD process = 0;
            ::GetWindowThreadProcessId(window, &process);
            wchar_t name[8] = {};
            ::GetClassNameW(window, name, 8);
            if (process == ::GetCurrentProcessId() && std::wstring_view(name) == L"#32770" &&
                ::IsWindowVisible(window) && textOf(window) == s.title) {
                s.found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Waits on a thread of its own for the dialog titled title and answers it with act, while the test's thread sits
// in the dialog's modal loop. found says whether it came within 10 s.
class DialogAnswer {
public:
    DialogAnswer(std::string title, std::function<void(HWND)> act)
        : m_thread([this, title = std::move(title), act = std::move(act)] {
              const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
              while (std::chrono::steady_clock::now() < until) {
                  if (const HWND dialog = findDialog(title)) {
                      act(dialog);
                      m_found = true;
                      return;
                  }
                  ::Sleep(20);
              }
          }) {}
    ~DialogAnswer() { join(); }
    bool found() {
        join();
        return m_found;
    }

private:
    void join() {
        if (m_thread.joinable())
            m_thread.join();
    }
    bool m_found = false;
    std::thread m_thread;
};

// The static control of a message box that holds its text.
constexpr int kMessageBoxText = 0xFFFF;
void press(HWND dialog, int button) {
    ::SendMessageW(::GetDlgItem(dialog, button), BM_CLICK, 0, 0);
}
// The Enter key, as the keyboard gives it to the dialog's focused control: sent once the dialog has taken the focus,
// which it does a moment after it appears (a key sent before would go to the window behind it).
void pressEnter(HWND dialog) {
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    do {
        ::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &thread);
        if (thread.hwndFocus && (thread.hwndFocus == dialog || ::IsChild(dialog, thread.hwndFocus)))
            break;
        ::Sleep(10);
    } while (std::chrono::steady_clock::now() < until);
    const HWND focus = thread.hwndFocus ? thread.hwndFocus : dialog;
    ::PostMessageW(focus, WM_KEYDOWN, VK_RETURN, 0);
    ::PostMessageW(focus, WM_KEYUP, VK_RETURN, 0);
}

// Every item of a menu by its path ("Proxy/Internet Explorer/Use this proxy"), without the accelerator's text.
void collectItems(HMENU menu, const std::string& path, std::map<std::string, int>& items) {
    for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
        wchar_t caption[64] = {};
        ::GetMenuStringW(menu, static_cast<UINT>(i), caption, 64, MF_BYPOSITION);
        std::string name = narrow(caption);
        name = name.substr(0, name.find('\t'));
        if (const HMENU sub = ::GetSubMenu(menu, i))
            collectItems(sub, path + name + "/", items);
        else
            items[path + name] = static_cast<int>(::GetMenuItemID(menu, i));
    }
}

// Hands the thread's waiting messages to the window as the program's loop does.
void pumpMessages(MainWindow& window) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (window.preTranslate(message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

int dpi() {
    const HDC screen = ::GetDC(nullptr);
    const int value = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    return value;
}

// A window's rectangle in its parent's client coordinates (the screen's for a top-level window).
RECT placeOf(HWND window) {
    RECT r{};
    ::GetWindowRect(window, &r);
    if (const HWND parent = ::GetParent(window))
        ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { open(); }
    void open() {
        made.reset();
        settings.emplace(dir.file("prefs.ini"));
        try {
            made.emplace(
                ::GetModuleHandleW(nullptr), *settings, [this](Command c) { commands.push_back(c); },
                [this] { ++quits; });
        } catch (const std::runtime_error& error) {
            GTEST_SKIP() << error.what() << " (needs the display of scripts/test-windows)";
        }
        made->show();
    }
    MainWindow& window() { return *made; }
    HWND control(int id) { return ::GetDlgItem(window().handle(), id); }
    // The client area at 96 dpi, as settings keep it.
    WindowSize clientArea() {
        RECT client{};
        ::GetClientRect(window().handle(), &client);
        return {::MulDiv(client.right, 96, dpi()), ::MulDiv(client.bottom, 96, dpi())};
    }
    // Resizes the window's frame by a drag of its border, which ends in WM_EXITSIZEMOVE.
    void dragFrameBy(int dx, int dy) {
        const RECT frame = placeOf(window().handle());
        ::SendMessageW(window().handle(), WM_ENTERSIZEMOVE, 0, 0);
        ::SetWindowPos(window().handle(), nullptr, 0, 0, frame.right - frame.left + dx, frame.bottom - frame.top + dy,
                       SWP_NOMOVE | SWP_NOZORDER);
        ::SendMessageW(window().handle(), WM_EXITSIZEMOVE, 0, 0);
    }
    // The list's pixels in the grey of the hint, as the box paints itself.
    int greyPixelsOfList() {
        const HWND list = control(IDC_PROXY_LIST);
        RECT area{};
        ::GetClientRect(list, &area);
        const HDC screen = ::GetDC(list);
        const HDC dc = ::CreateCompatibleDC(screen);
        const HBITMAP bitmap = ::CreateCompatibleBitmap(screen, area.right, area.bottom);
        const HGDIOBJ old = ::SelectObject(dc, bitmap);
        ::FillRect(dc, &area, ::GetSysColorBrush(COLOR_WINDOW));
        ::SendMessageW(list, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
        const COLORREF grey = ::GetSysColor(COLOR_GRAYTEXT);
        int count = 0;
        for (int y = 0; y < area.bottom; ++y) {
            for (int x = 0; x < area.right; ++x)
                count += ::GetPixel(dc, x, y) == grey;
        }
        ::SelectObject(dc, old);
        ::DeleteObject(bitmap);
        ::DeleteDC(dc);
        ::ReleaseDC(list, screen);
        return count;
    }

    test::TempDir dir;
    std::optional<Settings> settings;
    std::vector<Command> commands;
    int quits = 0;
    std::optional<MainWindow> made;
};

TEST_F(MainWindowTest, ShowsEveryRowInOneGoAndDropsTheSelectionWithTheOldRows) {
    {
        // The rows point into a text that goes once they are shown.
        const std::string text = "first.example:8080*third & co:1**";
        window().showEntries({std::string_view(text).substr(0, 18), std::string_view(text).substr(19, 12),
                              std::string_view(text).substr(32, 0)});
    }
    EXPECT_EQ(window().entryCount(), 3);
    EXPECT_EQ(::SendMessageW(control(IDC_PROXY_LIST), LB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(window().entry(0), "first.example:8080");
    EXPECT_EQ(window().entry(1), "third & co:1");
    for (const int outside : {2, 3, -1})
        EXPECT_EQ(window().entry(outside), "") << outside;
    EXPECT_EQ(window().selectedRow(), std::nullopt);

    ::SendMessageW(control(IDC_PROXY_LIST), LB_SETCURSEL, 1, 0);
    EXPECT_EQ(window().selectedRow(), 1);
    window().showEntries({"only.example:1"});
    EXPECT_EQ(window().entryCount(), 1);
    EXPECT_EQ(window().entry(0), "only.example:1");
    EXPECT_EQ(window().selectedRow(), std::nullopt);
    window().showEntries({});
    EXPECT_EQ(window().entryCount(), 0);
    EXPECT_EQ(::SendMessageW(control(IDC_PROXY_LIST), LB_GETCOUNT, 0, 0), 0);
}

TEST_F(MainWindowTest, EachMenuItemAndTheButtonRunTheirCommandAndNothingElseDoes) {
    std::map<std::string, int> items;
    collectItems(::GetMenu(window().handle()), "", items);
    const HMENU popup = ::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_TRAY_POPUP));
    collectItems(popup, "", items);
    ::DestroyMenu(popup);

    // Every menu and item with its access key.
    const std::map<std::string, Command> expected = {
        {"Popup/&No proxy and launch", Command::TurnProxyOffAndLaunch},
        {"Popup/&Random proxy and launch", Command::UseRandomAndLaunch},
        {"&File/&Visit Website", Command::VisitWebsite},
        {"&File/&Start with the session", Command::ToggleStartWithSession},
        {"&Proxy/Download &List", Command::DownloadList},
        {"&Proxy/&Internet Explorer/&Launch", Command::LaunchBrowser},
        {"&Proxy/&Internet Explorer/&No proxy", Command::TurnProxyOff},
        {"&Proxy/&Internet Explorer/&Use this proxy", Command::UseSelected},
        {"&Proxy/&Internet Explorer/Show Internet &Options", Command::ShowProxySettings},
        {"&Proxy/&Random proxy and launch", Command::UseRandomAndLaunch},
        {"&Proxy/&Show current proxy", Command::ShowCurrentProxy},
        {"&Proxy/Report &dead proxy", Command::ReportDeadProxy},
        {"&Proxy/&Add a new proxy", Command::SubmitProxy},
        {"&Proxy/&Check proxies", Command::CheckProxies},
        {"&Proxy/S&top checking", Command::StopCheck},
        {"&Proxy/Use &fastest working proxy", Command::UseFastest},
        {"&Proxy/S&ort by last check", Command::ToggleSortByCheck},
        {"&Proxy/&Keep me on a working proxy", Command::ToggleWatch},
    };
    EXPECT_EQ(items.size(), expected.size() + 3) << "an item with no command or access key";
    for (const auto& [path, command] : expected) {
        ASSERT_TRUE(items.count(path)) << "no menu item " << path;
        commands.clear();
        ::SendMessageW(window().handle(), WM_COMMAND, MAKEWPARAM(items[path], 0), 0);
        EXPECT_THAT(commands, ElementsAre(command)) << path;
    }
    commands.clear();
    ::SendMessageW(control(IDC_USE_AND_LAUNCH), BM_CLICK, 0, 0);
    EXPECT_THAT(commands, ElementsAre(Command::UseSelectedAndLaunch));

    // The controls' other notices are no commands, whatever their numbers.
    commands.clear();
    for (const int notice : {LBN_SELCHANGE, LBN_SETFOCUS})
        ::SendMessageW(window().handle(), WM_COMMAND, MAKEWPARAM(IDC_PROXY_LIST, notice),
                       reinterpret_cast<LPARAM>(control(IDC_PROXY_LIST)));
    ::SendMessageW(window().handle(), WM_COMMAND, MAKEWPARAM(IDC_STATUS, STN_CLICKED),
                   reinterpret_cast<LPARAM>(control(IDC_STATUS)));
    EXPECT_THAT(commands, IsEmpty());
    EXPECT_EQ(quits, 0);

    // "Hide" is the window's own; both "Quit"s end the program.
    ::SendMessageW(window().handle(), WM_COMMAND, MAKEWPARAM(items.at("&File/&Hide"), 0), 0);
    EXPECT_FALSE(::IsWindowVisible(window().handle()));
    window().trayActivated(WM_LBUTTONDBLCLK);
    EXPECT_TRUE(::IsWindowVisible(window().handle()));
    ::SendMessageW(window().handle(), WM_COMMAND, MAKEWPARAM(items.at("&File/&Quit"), 0), 0);
    ::SendMessageW(window().handle(), WM_COMMAND, MAKEWPARAM(items.at("Popup/&Quit"), 0), 0);
    EXPECT_THAT(commands, IsEmpty());
    EXPECT_EQ(quits, 2);
}

TEST_F(MainWindowTest, EnterOnTheListOrTheButtonLaunchesAndDeleteOnTheListOffersTheReport) {
    window().showEntries({"a.example:1", "b.example:2"});
    ::SendMessageW(control(IDC_PROXY_LIST), LB_SETCURSEL, 1, 0);
    const struct {
        int focus;
        UINT key;
        std::vector<Command> expected;
    } cases[] = {
        {IDC_PROXY_LIST, VK_RETURN, {Command::UseSelectedAndLaunch}},
        {IDC_PROXY_LIST, VK_DELETE, {Command::ReportDeadProxy}},
        {IDC_PROXY_LIST, VK_DOWN, {}},
        {IDC_PROXY_LIST, VK_ESCAPE, {Command::StopCheck}},
        {IDC_USE_AND_LAUNCH, VK_RETURN, {Command::UseSelectedAndLaunch}},
        {IDC_USE_AND_LAUNCH, VK_DELETE, {}},
        {IDC_USE_AND_LAUNCH, VK_ESCAPE, {Command::StopCheck}},
    };
    for (const auto& c : cases) {
        ::SetFocus(control(c.focus));
        pumpMessages(window());
        commands.clear();
        ::PostMessageW(control(c.focus), WM_KEYDOWN, c.key, 1);
        ::PostMessageW(control(c.focus), WM_KEYUP, c.key, 0xC0000001);
        pumpMessages(window());
        EXPECT_EQ(commands, c.expected) << "key " << c.key << " on control " << c.focus;
    }
}

TEST_F(MainWindowTest, AnEmptyListShowsTheGreyHintInItselfAndTheStatusLineStaysEmpty) {
    EXPECT_EQ(textOf(control(IDC_STATUS)), "");
    EXPECT_GT(greyPixelsOfList(), 20) << "no hint in the empty list";
    window().showEntries({"a.example:1"});
    EXPECT_EQ(greyPixelsOfList(), 0) << "the hint stays over the rows";
    window().showEntries({});
    EXPECT_GT(greyPixelsOfList(), 20) << "no hint once the rows went";
    EXPECT_EQ(ProxyListBox::kEmptyHint, std::string("No proxies yet: Proxy \u2192 Download List"));
}

TEST_F(MainWindowTest, TheStatusLineShowsALongTextWholeWrappedOrWidensTheWindowAndTheListMakesRoom) {
    const HWND status = control(IDC_STATUS);
    const HWND list = control(IDC_PROXY_LIST);
    const RECT before = placeOf(window().handle());
    const RECT listBefore = placeOf(list);
    // The line's own test of what fits: the control's font, wrapped between words at the control's width.
    const auto lines = [&] {
        RECT area{};
        ::GetClientRect(status, &area);
        const HDC dc = ::GetDC(status);
        const HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(status, WM_GETFONT, 0, 0)));
        TEXTMETRICW metrics{};
        ::GetTextMetricsW(dc, &metrics);
        const std::wstring text = widen(textOf(status));
        RECT needed = area;
        ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needed,
                    DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
        ::SelectObject(dc, old);
        ::ReleaseDC(status, dc);
        EXPECT_LE(needed.right, area.right) << "a word reaches past the line";
        EXPECT_LE(needed.bottom, area.bottom) << "the line cuts the text short";
        return (needed.bottom - needed.top) / metrics.tmHeight;
    };

    const std::string shortText = "Proxy changed to : a & b.example:80";
    window().setStatus(shortText);
    EXPECT_EQ(textOf(status), shortText);
    EXPECT_EQ(lines(), 1);
    EXPECT_EQ(placeOf(window().handle()).right, before.right) << "a short text widened the window";

    const std::string longText = "\"third & co:1\" is not a proxy address (proxy entry holds a blank, a control "
                                 "character or a character outside ASCII): nothing was changed.";
    window().setStatus(longText);
    EXPECT_EQ(textOf(status), longText);
    EXPECT_LE(lines(), 2);
    EXPECT_GT(placeOf(window().handle()).right - placeOf(window().handle()).left, before.right - before.left)
        << "the window did not widen for a text that two lines of it do not hold";
    const RECT listAfter = placeOf(list);
    EXPECT_GE(listAfter.top, placeOf(status).bottom) << "the list lies under the status line";
    EXPECT_GT(listAfter.right - listAfter.left, listBefore.right - listBefore.left) << "the list did not widen";

    // Wider than the screen allows in two lines: more lines, the window as wide as the screen, all of it on it.
    std::string endless;
    for (int i = 0; i < 60; ++i)
        endless += "unreachable.example:8080 ";
    window().setStatus(endless);
    EXPECT_GT(lines(), 2);
    const RECT frame = placeOf(window().handle());
    EXPECT_LE(frame.right - frame.left, ::GetSystemMetrics(SM_CXSCREEN));
    EXPECT_GE(frame.left, 0);
    EXPECT_GE(placeOf(list).top, placeOf(status).bottom);
    window().setStatus("");
    EXPECT_EQ(textOf(status), "");
}

TEST_F(MainWindowTest, OpensAtTheRememberedSizeNeverBelowTheWrittenOneNorBeyondTheScreen) {
    EXPECT_EQ(clientArea(), MainWindow::kDefaultClientArea) << "nothing remembered";
    MINMAXINFO limits{};
    ::SendMessageW(window().handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    const RECT frame = placeOf(window().handle());
    EXPECT_EQ(limits.ptMinTrackSize.x, frame.right - frame.left) << "the written size is the least";
    EXPECT_EQ(limits.ptMinTrackSize.y, frame.bottom - frame.top);

    const struct {
        WindowSize stored;
        WindowSize opened; // 0: as large as the screen holds
    } cases[] = {
        {{400, 300}, {400, 300}},
        {{100, 500}, {MainWindow::kDefaultClientArea.width, 500}},
        {{100000, 100000}, {0, 0}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(settings->setWindowSize(c.stored), "");
        open();
        const WindowSize area = clientArea();
        if (c.opened.width) {
            EXPECT_EQ(area, c.opened) << c.stored.width << "x" << c.stored.height;
        } else {
            const RECT outer = placeOf(window().handle());
            EXPECT_LE(outer.right - outer.left, ::GetSystemMetrics(SM_CXSCREEN));
            EXPECT_LE(outer.bottom - outer.top, ::GetSystemMetrics(SM_CYSCREEN));
            EXPECT_GT(area.width, 400);
        }
    }
}

TEST_F(MainWindowTest, AResizeGivesTheListTheRoomAndIsWrittenWhenTheDragEndsAndOnTheWayOut) {
    const RECT list = placeOf(control(IDC_PROXY_LIST));
    const RECT button = placeOf(control(IDC_USE_AND_LAUNCH));
    const std::string untouched = test::readFile(settings->path());

    // A drag writes once, at its end.
    dragFrameBy(120, 80);
    const RECT grown = placeOf(control(IDC_PROXY_LIST));
    EXPECT_EQ(grown.right - grown.left, list.right - list.left + 120);
    EXPECT_EQ(grown.bottom - grown.top, list.bottom - list.top + 80);
    const RECT moved = placeOf(control(IDC_USE_AND_LAUNCH));
    EXPECT_EQ(moved.top, button.top + 80) << "the button stays below the list";
    EXPECT_EQ(moved.left, button.left + 60) << "the button stays where it is from the centre";
    settings->reload();
    const WindowSize dragged = {MainWindow::kDefaultClientArea.width + ::MulDiv(120, 96, dpi()),
                                MainWindow::kDefaultClientArea.height + ::MulDiv(80, 96, dpi())};
    EXPECT_EQ(settings->windowSize(), dragged);

    // Maximised is no size of the user's own; the way out writes the size the window has.
    ::ShowWindow(window().handle(), SW_MAXIMIZE);
    window().quit();
    settings->reload();
    EXPECT_EQ(settings->windowSize(), dragged);
    ::ShowWindow(window().handle(), SW_RESTORE);
    ::SendMessageW(window().handle(), WM_ENTERSIZEMOVE, 0, 0);
    ::SetWindowPos(window().handle(), nullptr, 0, 0, 600, 500, SWP_NOMOVE | SWP_NOZORDER);
    const WindowSize large = clientArea();
    window().quit();
    settings->reload();
    EXPECT_EQ(settings->windowSize(), large) << "the way out did not write the size";
    EXPECT_NE(untouched, test::readFile(settings->path()));

    // It opens at that size next time.
    open();
    EXPECT_EQ(clientArea(), large);
}

TEST_F(MainWindowTest, MessagesCarryTheApplicationsTitleUnlessGivenOneAndQuestionsDefaultToYes) {
    for (const std::string title : {"", "Dead Proxy"}) {
        std::string shown;
        DialogAnswer answer(title.empty() ? "Tamberly" : title, [&](HWND box) {
            shown = textOf(::GetDlgItem(box, kMessageBoxText));
            press(box, IDOK);
        });
        window().tell("List & more", title);
        EXPECT_TRUE(answer.found()) << title;
        EXPECT_EQ(shown, "List & more");
    }

    // Enter gives the default, Yes.
    const struct {
        std::function<void(HWND)> answer;
        View::Answer expected;
    } cases[] = {{pressEnter, View::Answer::Yes},
                 {[](HWND box) { press(box, IDYES); }, View::Answer::Yes},
                 {[](HWND box) { press(box, IDNO); }, View::Answer::No}};
    for (const auto& c : cases) {
        std::string shown;
        DialogAnswer answer("New Proxy", [&](HWND box) {
            shown = textOf(::GetDlgItem(box, kMessageBoxText));
            c.answer(box);
        });
        EXPECT_EQ(window().ask("Do you want to send a.example:1 as new proxy ?", "New Proxy"), c.expected);
        EXPECT_TRUE(answer.found());
        EXPECT_EQ(shown, "Do you want to send a.example:1 as new proxy ?");
    }
}

TEST_F(MainWindowTest, CheckProxiesMarksEachRowAndCountsTheWorkingOnesInTheStatusLine) {
    using Mode = test::WinTestProxy::Mode;
    test::PageServer page({{"/Tamberly/check.php", [] { return test::httpAnswer("tamberly-check-ok"); }}});
    test::WinTestProxy working(Mode::Elite), login(Mode::AskLogin), refusing(Mode::Refusing), silent(Mode::Silent);
    settings->setValue("Check", "URL", page.url("/Tamberly/check.php"));
    CheckResults kept("");
    CheckProxies check(window(), *settings, kept, window().post(), {.timeLimit = std::chrono::milliseconds(3000)});
    const auto checkUntil = [&](const std::string& done) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (textOf(control(IDC_STATUS)).rfind(done, 0) != 0 && std::chrono::steady_clock::now() < until) {
            pumpMessages(window());
            ::Sleep(10);
        }
    };

    const std::string rows[] = {working.entry(), "no proxy here", login.entry(), refusing.entry(),
                                "socks5://" + working.entry()};
    window().showEntries({rows[0], rows[1], rows[2], rows[3], rows[4]});
    EXPECT_EQ(window().list().mark(1), (RowMark{false, kNotAProxyAddress})) << "before any check";
    check.checkProxies();
    EXPECT_EQ(textOf(control(IDC_STATUS)), "Checking 0 of 5: 0 work");
    checkUntil("Checked");
    EXPECT_EQ(textOf(control(IDC_STATUS)), "Checked 5: 1 work");
    const RowMark works = window().list().mark(0);
    EXPECT_TRUE(works.works);
    EXPECT_THAT(works.text, ::testing::EndsWith(" ms"));
    EXPECT_EQ(window().list().mark(1), (RowMark{false, kNotAProxyAddress}));
    EXPECT_EQ(window().list().mark(2), (RowMark{false, "needs password"}));
    EXPECT_EQ(window().list().mark(3), (RowMark{false, "refused"}));
    EXPECT_EQ(window().list().mark(4), (RowMark{false, "not checked here"}));
    EXPECT_EQ(window().entry(4), rows[4]) << "a row's text stays as it was";

    // A second check asked for while one runs offers to stop it; Yes stops it where it got to.
    window().showEntries({silent.entry()});
    check.checkProxies();
    {
        DialogAnswer answer("Check proxies", [](HWND box) { press(box, IDYES); });
        check.checkProxies();
        EXPECT_TRUE(answer.found());
    }
    EXPECT_FALSE(check.running());
    EXPECT_EQ(textOf(control(IDC_STATUS)), "Check stopped at 0 of 1: 0 work");
}

TEST_F(MainWindowTest, TheSortedViewShowsRowsInItsOrderWhileCommandsCountStoredRows) {
    const HWND list = control(IDC_PROXY_LIST);
    window().showEntries({"a.example:1", "b.example:2", "c.example:3"});
    ::SendMessageW(list, LB_SETCURSEL, 2, 0);
    window().showOrder({2, 0, 1});
    // The entry the user had selected stays selected, now shown first; rows are still counted as stored.
    EXPECT_EQ(window().selectedRow(), 2);
    EXPECT_EQ(::SendMessageW(list, LB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(window().entry(0), "a.example:1");
    ::SendMessageW(list, LB_SETCURSEL, 1, 0);
    EXPECT_EQ(window().selectedRow(), 0) << "the second row shown is the first stored";

    // No order, or one that is no arrangement of the rows: the stored order.
    for (const std::vector<int>& order : {std::vector<int>{}, std::vector<int>{0, 0, 1}, std::vector<int>{0, 1}}) {
        window().showOrder({1, 2, 0});
        ::SendMessageW(list, LB_SETCURSEL, 0, 0);
        window().showOrder(order);
        EXPECT_EQ(window().selectedRow(), 1);
        EXPECT_EQ(::SendMessageW(list, LB_GETCURSEL, 0, 0), 1);
    }
    // New rows drop the order.
    window().showOrder({2, 0, 1});
    window().showEntries({"x.example:1", "y.example:2", "z.example:3"});
    ::SendMessageW(list, LB_SETCURSEL, 0, 0);
    EXPECT_EQ(window().selectedRow(), 0);
}

TEST_F(MainWindowTest, TheWatchersTipGoesToTheIconCutToItsRecordAndItsOwnComesBack) {
    window().showWatchTip("Watching first.example:8080: works, 120 ms");
    EXPECT_EQ(window().trayTip(), "Watching first.example:8080: works, 120 ms");
    window().hideToTray(); // the icon is added with the watcher's tip, and takes later ones in place
    window().showWatchTip(std::string(200, 'w'));
    EXPECT_EQ(window().trayTip(), std::string(127, 'w'));
    window().notify("Switched to second.example:3128: first.example:8080 stopped working");
    window().showWatchTip("");
    EXPECT_EQ(window().trayTip(), ":-)");
    window().restore();
}

// The whole program in this process, over the real Internet Settings of the test's Wine prefix: the watcher's timer,
// its probe over WinHTTP and the window's posted tasks together.
TEST(Win32App, TheWatcherLeavesADeadProxyInForceForOneThatWorks) {
    using Mode = test::WinTestProxy::Mode;
    test::PageServer page({{"/Tamberly/check.php", [] { return test::httpAnswer("tamberly-check-ok"); }}});
    test::WinTestProxy working(Mode::Elite), dead(Mode::Refusing);
    test::TempDir dir;
    Settings settings(dir.file("prefs.ini"));
    ASSERT_EQ(ProxyListStore(settings).save(dead.entry() + "*" + working.entry() + "*"), "");
    settings.setValue("Check", "URL", page.url("/Tamberly/check.php"));
    settings.setBrowserPath("C:\\windows\\notepad.exe");
    std::optional<App> app;
    try {
        app.emplace(::GetModuleHandleW(nullptr), settings);
    } catch (const std::runtime_error& error) {
        GTEST_SKIP() << error.what() << " (needs the display of scripts/test-windows)";
    }
    const HWND window = app->window().handle();
    const auto statusUntil = [&](const std::string& part) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (app->window().statusText().find(part) == std::string::npos && std::chrono::steady_clock::now() < until)
            pumpMessages(app->window());
        return app->window().statusText();
    };

    ::SendMessageW(::GetDlgItem(window, IDC_PROXY_LIST), LB_SETCURSEL, 0, 0);
    ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(ID_USE_SELECTED, 0), 0);
    EXPECT_THAT(app->window().statusText(), HasSubstr(dead.entry()));
    ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(ID_WATCH, 0), 0);
    EXPECT_THAT(statusUntil("now using"), HasSubstr("now using " + working.entry()));
    EXPECT_THAT(app->window().trayTip(), HasSubstr(working.entry()));

    // The prefix's proxy goes back off for the tests after this one.
    ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(ID_WATCH, 0), 0);
    ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(ID_TURN_PROXY_OFF, 0), 0);
}

// Hands the thread's waiting messages on for a while, as the program's loop does.
void pumpFor(std::chrono::milliseconds time) {
    const auto until = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < until) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        ::Sleep(5);
    }
}

TEST(Win32WatchTimer, FiresOnceOnTheThreadsLoopAndArmingAgainReplacesTheTimerArmedBefore) {
    using namespace std::chrono_literals;
    Win32WatchTimer timer(::GetModuleHandleW(nullptr));
    std::vector<int> fired;
    timer.arm(30ms, [&] { fired.push_back(1); });
    timer.arm(60ms, [&] { fired.push_back(2); });
    EXPECT_TRUE(fired.empty()) << "fired outside the loop";
    pumpFor(400ms);
    EXPECT_EQ(fired, std::vector<int>{2});

    // A timer armed again from its own firing; one disarmed never fires.
    timer.arm(20ms, [&] {
        fired.push_back(3);
        timer.arm(20ms, [&] { fired.push_back(4); });
    });
    pumpFor(400ms);
    timer.arm(20ms, [&] { fired.push_back(5); });
    timer.disarm();
    pumpFor(200ms);
    EXPECT_EQ(fired, (std::vector<int>{2, 3, 4}));

    const auto before = timer.now();
    ::Sleep(50);
    EXPECT_GT(timer.now(), before);
}

TEST(ProxyListBoxColours, ADeadRowsMarkReadsAtLeastAt4_5To1InAnyScheme) {
    const struct {
        COLORREF grey, text, background;
    } schemes[] = {
        {RGB(109, 109, 109), RGB(0, 0, 0), RGB(255, 255, 255)},       // today's light scheme: grey already reads
        {RGB(128, 128, 128), RGB(0, 0, 0), RGB(255, 255, 255)},       // the classic grey, too light on white
        {RGB(128, 128, 128), RGB(255, 255, 255), RGB(0, 0, 0)},       // high contrast black
        {RGB(160, 160, 160), RGB(200, 200, 200), RGB(170, 170, 170)}, // a scheme whose own text hardly reads
    };
    for (const auto& s : schemes) {
        const COLORREF dead = ProxyListBox::deadColour(s.grey, s.text, s.background);
        EXPECT_GE(ProxyListBox::contrast(dead, s.background), 4.5) << std::hex << s.grey << " on " << s.background;
    }
    // Grey that already reads stays as it is.
    EXPECT_EQ(ProxyListBox::deadColour(RGB(109, 109, 109), RGB(0, 0, 0), RGB(255, 255, 255)), RGB(109, 109, 109));
}

TEST_F(MainWindowTest, AskTextGivesTheLineAsTypedEvenEmptyAndNothingWhenCancelled) {
    const struct {
        std::string title;
        std::string typed;
        int button;
        std::optional<std::string> answer;
    } cases[] = {
        {"Add a proxy", "new.example:8888", IDOK, "new.example:8888"},
        {"Add a proxy", "", IDOK, ""},
        {"Add a proxy", "new.example:8888", IDCANCEL, std::nullopt},
        {"", "caf\xC3\xA9:1", IDOK, "caf\xC3\xA9:1"},
    };
    for (const auto& c : cases) {
        std::string prompt;
        DialogAnswer answer(c.title.empty() ? "Tamberly" : c.title, [&](HWND dialog) {
            prompt = textOf(::GetDlgItem(dialog, IDC_PROMPT));
            ::SetWindowTextW(::GetDlgItem(dialog, IDC_ANSWER), widen(c.typed).c_str());
            press(dialog, c.button);
        });
        EXPECT_EQ(window().askText("Enter the proxy address (ip:port) ex:127.0.0.1:80", c.title), c.answer) << c.typed;
        EXPECT_TRUE(answer.found());
        EXPECT_EQ(prompt, "Enter the proxy address (ip:port) ex:127.0.0.1:80");
    }
}

TEST_F(MainWindowTest, TheProxySettingsDialogOpensAtOnceSavesOnOkAndStaysOpenWhileTheSaveSaysWhyNot) {
    std::vector<std::pair<std::string, bool>> saved;
    std::string refusal = "\"bad\" is not a proxy address (proxy entry must be host:port).";
    window().editProxySetting("a.example:1", true, {"the Internet Settings"}, [&](const std::string& server, bool on) {
        saved.emplace_back(server, on);
        return refusal;
    });
    const HWND dialog = findDialog("Internet Options");
    ASSERT_NE(dialog, nullptr) << "the dialog is not open";
    EXPECT_EQ(textOf(::GetDlgItem(dialog, IDC_PROXY_SERVER)), "a.example:1");
    EXPECT_EQ(::IsDlgButtonChecked(dialog, IDC_USE_PROXY), BST_CHECKED);
    EXPECT_THAT(textOf(::GetDlgItem(dialog, IDC_PLACES)), HasSubstr("the Internet Settings"));

    ::SetWindowTextW(::GetDlgItem(dialog, IDC_PROXY_SERVER), L"bad");
    press(dialog, IDC_USE_PROXY);
    std::string told;
    {
        DialogAnswer answer("Tamberly", [&](HWND box) {
            told = textOf(::GetDlgItem(box, kMessageBoxText));
            press(box, IDOK);
        });
        press(dialog, IDOK);
        EXPECT_TRUE(answer.found());
    }
    EXPECT_EQ(told, refusal);
    EXPECT_TRUE(::IsWindow(dialog)) << "the dialog closed on a refused save";

    refusal.clear();
    press(dialog, IDOK);
    EXPECT_FALSE(::IsWindow(dialog));
    using Saved = std::pair<std::string, bool>;
    EXPECT_THAT(saved, ElementsAre(Saved{"bad", false}, Saved{"bad", false}));

    // Cancel closes without saving.
    window().editProxySetting("", false, {}, [&](const std::string& server, bool on) {
        saved.emplace_back(server, on);
        return std::string();
    });
    const HWND second = findDialog("Internet Options");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(textOf(::GetDlgItem(second, IDC_PLACES)), "");
    press(second, IDCANCEL);
    EXPECT_FALSE(::IsWindow(second));
    EXPECT_EQ(saved.size(), 2u);
}

} // namespace
} // namespace tamberly::win32
