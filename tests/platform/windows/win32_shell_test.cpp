#include "platform/windows/win32_shell.h"

#include "support/temp_dir.h"
#include "windows_helper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace tamberly {
namespace {

using test::TempDir;

std::string waitForFile(const std::string& path) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists(path) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return test::readFile(path);
}

TEST(Win32Shell, StartsAProgramWithItsParametersAndReturnsAtOnce) {
    TempDir dir;
    Win32Shell shell;
    const std::string record = dir.file("started.txt");
    const long code = shell.ShellExecute(shell.GetDesktopWindow(), "Open", test::windowsHelper(),
                                         "record \"" + record + "\" http://127.0.0.1:9/a?b=c", "C:\\", 1);
    EXPECT_GT(code, 32);
    const std::string started = waitForFile(record);
    EXPECT_NE(started.find("record"), std::string::npos) << started;
    EXPECT_NE(started.find("http://127.0.0.1:9/a?b=c"), std::string::npos) << started;
}

TEST(Win32Shell, MissingProgramsGetTheShellsOwnCodes) {
    TempDir dir;
    Win32Shell shell;
    EXPECT_EQ(shell.ShellExecute(0, "Open", dir.file("no-browser.exe"), "", "C:\\", 1), 2);
    // Windows tells a missing folder apart (3); Wine says file not found (2).
    EXPECT_THAT(shell.ShellExecute(0, "Open", dir.file("no-folder/browser.exe"), "", "C:\\", 1),
                ::testing::AnyOf(2, 3));
}

} // namespace
} // namespace tamberly
