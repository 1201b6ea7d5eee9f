// Opening a page through the shell with the stored browser, or the desktop's default one.
#include "net/desktop_web_browser.h"

#include "storage/ini_file.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

namespace tamberly::test {
namespace {

constexpr const char* kPage = "http://127.0.0.1:8642/Tamberly/index.php";

class DesktopWebBrowserTest : public ::testing::Test {
protected:
    ScopedUserHome home;
    std::string iniPath = home.configDir() + "/prefs.ini";
    FakeShell shell;
    DesktopWebBrowser browser{shell, iniPath};
};

TEST_F(DesktopWebBrowserTest, StartsTheStoredBrowserWithANewWindowWhereItTakesOne) {
    const struct {
        std::string stored;
        std::string file;
        std::string parameters;
    } cases[] = {
        {"", "xdg-open", kPage},
        {"/usr/bin/firefox", "/usr/bin/firefox", std::string("--new-window ") + kPage},
        {"/usr/bin/firefox-esr", "/usr/bin/firefox-esr", std::string("--new-window ") + kPage},
        {"/usr/lib/chromium/chromium", "/usr/lib/chromium/chromium", std::string("--new-window ") + kPage},
        {"/usr/bin/google-chrome-stable", "/usr/bin/google-chrome-stable", std::string("--new-window ") + kPage},
        {"/usr/bin/brave-browser", "/usr/bin/brave-browser", std::string("--new-window ") + kPage},
        {"/usr/bin/microsoft-edge-stable", "/usr/bin/microsoft-edge-stable", std::string("--new-window ") + kPage},
        {"/opt/Firefox/Firefox", "/opt/Firefox/Firefox", std::string("--new-window ") + kPage},
        {"/usr/bin/epiphany-browser", "/usr/bin/epiphany-browser", kPage},
        {"/home/me/firefox-tools/konqueror", "/home/me/firefox-tools/konqueror", kPage},
        {"C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE", "C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE",
         kPage},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteINI("Path", "IE", c.stored, iniPath));
        shell.requests.clear();

        EXPECT_EQ(browser.openInNewWindow(kPage), "") << c.stored;

        ASSERT_EQ(shell.requests.size(), 1u) << c.stored;
        const auto& r = shell.requests[0];
        EXPECT_EQ(r.file, c.file);
        EXPECT_EQ(r.parameters, c.parameters);
        EXPECT_EQ(r.verb, "Open");
        EXPECT_EQ(r.directory, "C:\\");
        EXPECT_EQ(r.show, 1);
        EXPECT_EQ(r.owner, shell.GetDesktopWindow());
    }
}

TEST_F(DesktopWebBrowserTest, AFailureCodeBecomesTheMessage) {
    const struct {
        long code;
        std::string message;
    } cases[] = {{33, ""}, {42, ""}, {2, "File not found"}, {5, "Access denied"}, {0, "Unknown error"}};
    for (const auto& c : cases) {
        shell.result = c.code;
        EXPECT_EQ(browser.openInNewWindow(kPage), c.message) << c.code;
    }
}

// The shell splits its parameters on blanks; a blank in the address must not split it.
TEST_F(DesktopWebBrowserTest, KeepsTheAddressOneWord) {
    ASSERT_TRUE(WriteINI("Path", "IE", "/usr/bin/firefox", iniPath));

    browser.openInNewWindow("http://lists.example/my page/\"x\"");

    ASSERT_EQ(shell.requests.size(), 1u);
    EXPECT_EQ(shell.requests[0].parameters, "--new-window http://lists.example/my%20page/%22x%22");
}

} // namespace
} // namespace tamberly::test
