#include "net/shell_web_browser.h"

#include "storage/ini_file.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace tamberly {
namespace {

TEST(ShellWebBrowser, OpensThePageInTheStoredBrowserElseWithTheShellAndReportsFailures) {
    test::TempDir dir;
    const std::string iniPath = dir.file("prefs.ini");
    test::FakeShell shell;
    ShellWebBrowser browser(shell, iniPath);

    EXPECT_EQ(browser.openInNewWindow("http://127.0.0.1:8642/Tamberly/index.php"), "");
    ASSERT_TRUE(WriteINI("Path", "IE", "C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE", iniPath));
    EXPECT_EQ(browser.openInNewWindow("http://h/a b\"c"), "");
    ASSERT_EQ(shell.requests.size(), 2u);
    EXPECT_EQ(shell.requests[0].file, "http://127.0.0.1:8642/Tamberly/index.php") << "the default browser";
    EXPECT_EQ(shell.requests[0].verb, "Open");
    EXPECT_EQ(shell.requests[1].file, "C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE");
    EXPECT_EQ(shell.requests[1].parameters, "\"http://h/a b%22c\"") << "one argument, whatever the address holds";
    EXPECT_EQ(shell.requests[1].show, 1);

    shell.result = 2;
    EXPECT_EQ(browser.openInNewWindow("http://h/"), "File not found");
}

} // namespace
} // namespace tamberly
