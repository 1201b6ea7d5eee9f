#include "platform/windows/app_paths_browser_locator.h"

#include "platform/windows/program_folder.h"
#include "platform/windows/win32_registry.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace tamberly {
namespace {

using test::FakeRegistry;
using test::TempDir;

constexpr const char* kAppPaths = AppPathsBrowserLocator::kAppPathsValue;
constexpr const char* kUserChoice = AppPathsBrowserLocator::kUserChoiceValue;

TEST(AppPathsBrowserLocator, FindsTheBrowserAsTheProgramAlwaysHasElseTheDefaultBrowser) {
    const std::string firefoxCommand = "HKEY_CLASSES_ROOT\\FirefoxURL\\shell\\open\\command\\";
    const struct {
        const char* what;
        std::map<std::string, RegValue> values;
        std::string browser;
    } cases[] = {
        {"App Paths folder less its separator",
         {{kAppPaths, std::string("C:\\Program Files\\Internet Explorer;")}, {kUserChoice, std::string("FirefoxURL")}},
         "C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE"},
        {"the last character goes whatever it is", {{kAppPaths, std::string("D:\\IE")}}, "D:\\I\\IEXPLORE.EXE"},
        {"no App Paths: the default browser's quoted program",
         {{kUserChoice, std::string("FirefoxURL")},
          {firefoxCommand, std::string("\"C:\\Program Files\\Mozilla Firefox\\firefox.exe\" -osint -url \"%1\"")}},
         "C:\\Program Files\\Mozilla Firefox\\firefox.exe"},
        {"an empty App Paths value counts as none",
         {{kAppPaths, std::string()},
          {kUserChoice, std::string("FirefoxURL")},
          {firefoxCommand, std::string("C:\\bin\\browser.exe %1")}},
         "C:\\bin\\browser.exe"},
        {"neither", {}, ""},
        {"a default browser without an open command", {{kUserChoice, std::string("Gone")}}, ""},
    };
    for (const auto& c : cases) {
        FakeRegistry registry;
        registry.values = c.values;
        EXPECT_EQ(AppPathsBrowserLocator(registry).findBrowser(), c.browser) << c.what;
    }
}

TEST(AppPathsBrowserLocator, ReadsTheRealRegistry) {
    Win32Registry registry;
    const auto appPaths = registry.RegRead(kAppPaths);
    if (!appPaths || regValueText(*appPaths).empty())
        GTEST_SKIP() << "this system has no App Paths entry for Internet Explorer";
    const std::string folder = regValueText(*appPaths);
    EXPECT_EQ(AppPathsBrowserLocator(registry).findBrowser(), folder.substr(0, folder.size() - 1) + "\\IEXPLORE.EXE");
}

TEST(SettingsFilePath, BesideTheProgramWhenItsFileIsThereOrTheFolderIsWritableElseInAppData) {
    TempDir dir;
    const std::string appData = dir.file("AppData");
    EXPECT_EQ(settingsFilePath(dir.path(), appData), dir.path() + "\\prefs.ini") << "writable folder";
    EXPECT_EQ(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator())
        << "the writability probe leaves nothing behind";
    const std::string missing = dir.file("gone");
    EXPECT_EQ(settingsFilePath(missing, appData), appData + "\\Tamberly\\prefs.ini") << "folder not writable";
    EXPECT_FALSE(programFolder().empty());
    EXPECT_TRUE(std::filesystem::is_directory(programFolder()));
}

} // namespace
} // namespace tamberly
