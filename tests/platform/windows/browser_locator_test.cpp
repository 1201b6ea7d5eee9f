#include "platform/windows/app_paths_browser_locator.h"

#include "platform/windows/shell_launcher.h"
#include "scratch_key.h"

#include <gtest/gtest.h>

#include <map>

namespace tamberly {
namespace {

TEST(AppPathsBrowserLocator, FindsTheBrowserAsTheProgramAlwaysHasElseTheDefaultBrowser) {
    // Value names below the scratch key: "AppPaths" (its Path), "UserChoice" (its ProgId), "Classes\..." (defaults).
    const std::string firefoxCommand = "Classes\\FirefoxURL\\shell\\open\\command";
    const struct {
        const char* what;
        std::map<std::pair<std::string, std::string>, std::string> values;
        std::string browser;
    } cases[] = {
        {"App Paths folder less its separator",
         {{{"AppPaths", "Path"}, "C:\\Program Files\\Internet Explorer;"}, {{"UserChoice", "ProgId"}, "FirefoxURL"}},
         "C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE"},
        {"the last character goes whatever it is", {{{"AppPaths", "Path"}, "D:\\IE"}}, "D:\\I\\IEXPLORE.EXE"},
        {"no App Paths: the default browser's quoted program",
         {{{"UserChoice", "ProgId"}, "FirefoxURL"},
          {{firefoxCommand, ""}, "\"C:\\Program Files\\Mozilla Firefox\\firefox.exe\" -osint -url \"%1\""}},
         "C:\\Program Files\\Mozilla Firefox\\firefox.exe"},
        {"an empty App Paths value counts as none",
         {{{"AppPaths", "Path"}, ""},
          {{"UserChoice", "ProgId"}, "FirefoxURL"},
          {{firefoxCommand, ""}, "C:\\bin\\browser.exe %1"}},
         "C:\\bin\\browser.exe"},
        {"neither", {}, ""},
        {"a default browser without an open command", {{{"UserChoice", "ProgId"}, "Gone"}}, ""},
        {"a ProgId that is a path, not a class",
         {{{"UserChoice", "ProgId"}, "Nested\\Browser"},
          {{"Classes\\Nested\\Browser\\shell\\open\\command", ""}, "C:\\bin\\browser.exe"}},
         ""},
    };
    for (const auto& c : cases) {
        test::ScratchKey scratch;
        for (const auto& [place, value] : c.values)
            ASSERT_EQ(scratch.key(place.first).write(place.second, value), "");
        const AppPathsBrowserLocator locator(
            {scratch.key("AppPaths"), scratch.key("UserChoice"), scratch.key("Classes")});
        EXPECT_EQ(locator.findBrowser(), c.browser) << c.what;
    }
}

TEST(AppPathsBrowserLocator, ReadsTheRealRegistry) {
    const RegistryRead appPaths = AppPathsBrowserLocator::systemKeys().appPaths.read("Path");
    const auto* folder = appPaths.data ? std::get_if<std::string>(&*appPaths.data) : nullptr;
    if (!folder || folder->empty())
        GTEST_SKIP() << "this system has no App Paths entry for Internet Explorer";
    EXPECT_EQ(ShellLauncher().findBrowser(), folder->substr(0, folder->size() - 1) + "\\IEXPLORE.EXE");
}

} // namespace
} // namespace tamberly
