// How a page is opened on a Linux desktop: the stored browser with a new window where it takes one, or xdg-open.
#include "platform/linux/desktop_browser_opener.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamberly {
namespace {

constexpr const char* kPage = "http://127.0.0.1:8642/Tamberly/index.php";

TEST(DesktopBrowserOpener, StartsTheStoredBrowserWithANewWindowWhereItTakesOne) {
    const struct {
        std::string stored;
        std::vector<std::string> command;
    } cases[] = {
        {"", {"xdg-open", kPage}},
        {"/usr/bin/firefox", {"/usr/bin/firefox", "--new-window", kPage}},
        {"/usr/bin/firefox-esr", {"/usr/bin/firefox-esr", "--new-window", kPage}},
        {"/usr/lib/chromium/chromium", {"/usr/lib/chromium/chromium", "--new-window", kPage}},
        {"/usr/bin/google-chrome-stable", {"/usr/bin/google-chrome-stable", "--new-window", kPage}},
        {"/usr/bin/brave-browser", {"/usr/bin/brave-browser", "--new-window", kPage}},
        {"/usr/bin/microsoft-edge-stable", {"/usr/bin/microsoft-edge-stable", "--new-window", kPage}},
        {"/opt/Firefox/Firefox", {"/opt/Firefox/Firefox", "--new-window", kPage}},
        {"chromium", {"chromium", "--new-window", kPage}},
        {"/usr/bin/epiphany-browser", {"/usr/bin/epiphany-browser", kPage}},
        {"/home/me/firefox-tools/konqueror", {"/home/me/firefox-tools/konqueror", kPage}},
        {"C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE",
         {"C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE", kPage}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(desktop_browser::command(c.stored, kPage), c.command) << c.stored;
}

// A blank or quote in the address must not make it two words, or a word the browser reads otherwise.
TEST(DesktopBrowserOpener, KeepsTheAddressOneWord) {
    EXPECT_EQ(desktop_browser::command("/usr/bin/firefox", "http://lists.example/my page/\"x\""),
              (std::vector<std::string>{"/usr/bin/firefox", "--new-window", "http://lists.example/my%20page/%22x%22"}));
    EXPECT_EQ(desktop_browser::command("", "http://lists.example/a b"),
              (std::vector<std::string>{"xdg-open", "http://lists.example/a%20b"}));
}

} // namespace
} // namespace tamberly
