// Real launches through the shell under Wine: the helper program stands in for the browser and records how it was
// started.
#include "platform/windows/shell_launcher.h"

#include "platform/windows/wide_text.h"
#include "support/temp_dir.h"
#include "windows_helper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include <windows.h>

#include <shellapi.h>

namespace tamberly {
namespace {

using test::TempDir;

struct Started {
    std::vector<std::string> arguments; // as the started program's start-up code splits its command line
    std::string commandLine;
    std::string folder;
    std::string show; // how its window was to be shown
};

// Waits for the record a started helper writes (a minute at most: a start that never comes fails the test, with
// nothing recorded). The record may be unreadable for a moment after it appears: the rename that puts it in place
// holds it open until it returns.
Started waitForStart(const std::string& record) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    std::string text;
    while ((text = test::readFile(record)).empty() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Started started;
    std::istringstream lines(text);
    std::getline(lines, started.commandLine);
    std::getline(lines, started.folder);
    std::getline(lines, started.show);
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(widen(started.commandLine).c_str(), &count);
    for (int i = 1; i < count; ++i)
        started.arguments.push_back(narrow(arguments[i]));
    ::LocalFree(arguments);
    return started;
}

// A browser of the test's own: the helper copied into dir, recording to dir\started.txt.
std::string copyHelper(const TempDir& dir, const std::string& name) {
    const std::string program = dir.path() + "\\" + name;
    EXPECT_TRUE(::CopyFileW(widen(test::windowsHelper()).c_str(), widen(program).c_str(), FALSE));
    return program;
}

TEST(ShellLauncher, StartsAProgramFromCWithEveryArgumentAsItWasAndReturnsAtOnce) {
    TempDir dir;
    const std::string record = dir.file("started.txt");
    const std::vector<std::string> arguments = {
        "record",
        record,
        "http://127.0.0.1:9/a?b=c",
        "two words",
        "say \"hi\"",
        "C:\\Program Files\\",
        "\\\\\"q\"",
        "tab\there",
        "",
        "pr\xC3\xB6xy \xE6\x97\xA5\xE6\x9C\xAC",
    };
    EXPECT_EQ(ShellLauncher().launch(test::windowsHelper(), arguments, {}), LaunchError::None);
    const Started started = waitForStart(record);
    EXPECT_EQ(started.arguments, arguments) << started.commandLine;
    EXPECT_EQ(started.folder, "C:\\");
    EXPECT_EQ(started.show, std::to_string(SW_SHOWNORMAL));
}

TEST(ShellLauncher, FailuresComeBackAsTheirKind) {
    TempDir dir;
    test::writeFile(dir.file("page.tamberly-unknown"), "no program opens this");
    test::writeFile(dir.file("broken.exe"), "not a program");
    const struct {
        std::string program;
        std::vector<LaunchError> errors; // Windows tells a missing folder apart; Wine says file not found
    } cases[] = {
        {dir.file("no-browser.exe"), {LaunchError::FileNotFound}},
        {dir.file("no-folder/browser.exe"), {LaunchError::PathNotFound, LaunchError::FileNotFound}},
        {dir.file("page.tamberly-unknown"), {LaunchError::NoAssociation}},
        {dir.file("broken.exe"), {LaunchError::BadFormat}},
    };
    ShellLauncher launcher;
    for (const auto& c : cases)
        EXPECT_THAT(launcher.launch(c.program, {}, {}), ::testing::AnyOfArray(c.errors)) << c.program;
}

TEST(ShellLauncher, TheShellsCodesAreTheirKinds) {
    const std::pair<std::intptr_t, LaunchError> codes[] = {
        {33, LaunchError::None},
        {42, LaunchError::None},
        {0, LaunchError::Unknown}, // the system's out of memory, an unknown error as the program has always said
        {2, LaunchError::FileNotFound},
        {3, LaunchError::PathNotFound},
        {5, LaunchError::AccessDenied},
        {8, LaunchError::OutOfMemory},
        {11, LaunchError::BadFormat},
        {26, LaunchError::SharingViolation},
        {27, LaunchError::IncompleteAssociation},
        {28, LaunchError::DdeTimeout},
        {29, LaunchError::DdeFailed},
        {30, LaunchError::DdeBusy},
        {31, LaunchError::NoAssociation},
        {32, LaunchError::DllNotFound},
        {1, LaunchError::Unknown},
        {12, LaunchError::Unknown},
    };
    for (const auto& [code, error] : codes)
        EXPECT_EQ(ShellLauncher::launchError(code), error) << code;
}

TEST(ShellLauncher, OpensThePageInTheStoredBrowserAsItsOneQuotedArgument) {
    const struct {
        std::string url;
        std::string argument;
    } cases[] = {
        {"http://127.0.0.1:8642/Tamberly/index.php", "http://127.0.0.1:8642/Tamberly/index.php"},
        {"http://127.0.0.1/a b\"c", "http://127.0.0.1/a b%22c"},
        {"http://127.0.0.1/back\\", "http://127.0.0.1/back\\"},
    };
    ShellLauncher launcher;
    for (const auto& c : cases) {
        TempDir dir;
        const std::string browser = copyHelper(dir, "browser.exe");
        EXPECT_EQ(launcher.openUrl(c.url, browser, {}), LaunchError::None);
        const Started started = waitForStart(dir.file("started.txt"));
        EXPECT_EQ(started.arguments, std::vector<std::string>{c.argument}) << started.commandLine;
        EXPECT_THAT(started.commandLine, ::testing::EndsWith("\"")) << "always quoted";
    }
    TempDir empty;
    EXPECT_EQ(launcher.openUrl("http://127.0.0.1/", empty.file("gone.exe"), {}), LaunchError::FileNotFound);
}

// With no browser stored the shell opens the address itself with the handler of its scheme: here a scheme of the
// test's own, handled by the helper.
TEST(ShellLauncher, WithoutABrowserTheShellOpensThePageInTheDefaultOne) {
    TempDir dir;
    const std::string handler = copyHelper(dir, "handler.exe");
    const std::wstring scheme = L"tamberly-test-" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring command = L"\"" + widen(handler) + L"\" \"%1\"";
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CLASSES_ROOT, scheme.c_str(), L"URL Protocol", REG_SZ, L"", sizeof(wchar_t)),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CLASSES_ROOT, (scheme + L"\\shell\\open\\command").c_str(), nullptr, REG_SZ,
                                command.c_str(), static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);

    const std::string url = narrow(scheme) + "://127.0.0.1:8642/Tamberly/index.php";
    const LaunchError error = ShellLauncher().openUrl(url, "", {});
    const Started started = error == LaunchError::None ? waitForStart(dir.file("started.txt")) : Started{};
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, scheme.c_str());

    EXPECT_EQ(error, LaunchError::None);
    EXPECT_EQ(started.arguments, std::vector<std::string>{url}) << started.commandLine;
}

} // namespace
} // namespace tamberly
