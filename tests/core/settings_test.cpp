// The typed settings of prefs.ini: what each reads when missing, and when a change by hand counts.
#include "core/settings.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

namespace tamberly::test {
namespace {

TEST(Settings, ListServerUrlComesFromTheFileWithoutTrailingSlash) {
    TempDir dir;
    Settings settings(dir.file("tamberly/prefs.ini"));
    EXPECT_EQ(settings.listServerUrl(), "http://127.0.0.1:8642") << "no settings file yet";

    const struct {
        std::string stored;
        std::string base;
    } cases[] = {
        {"", "http://127.0.0.1:8642"},
        {"http://lists.example:9000", "http://lists.example:9000"},
        {"http://lists.example:9000/", "http://lists.example:9000"},
        {"https://lists.example//", "https://lists.example"},
        {"http://lists.example/mirror/", "http://lists.example/mirror"},
        {"/", "http://127.0.0.1:8642"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(settings.setValue("Server", "URL", c.stored), "");
        EXPECT_EQ(settings.listServerUrl(), c.base) << c.stored;
    }
}

TEST(Settings, CheckUrlIsItsOwnElseTheListServersCheckPage) {
    TempDir dir;
    Settings settings(dir.file("prefs.ini"));
    EXPECT_EQ(settings.checkUrl(), "http://127.0.0.1:8642/Tamberly/check.php");
    EXPECT_EQ(settings.checkExpect(), "tamberly-check-ok");
    settings.setValue("Server", "URL", "http://lists.example.org:8642/");
    EXPECT_EQ(settings.checkUrl(), "http://lists.example.org:8642/Tamberly/check.php");
    EXPECT_EQ(settings.checkExpect(), "tamberly-check-ok");
    // A page of the user's own may answer anything, unless the user says what it must hold.
    settings.setValue("Check", "URL", "http://check.example.org/ok.txt");
    EXPECT_EQ(settings.checkUrl(), "http://check.example.org/ok.txt");
    EXPECT_EQ(settings.checkExpect(), "");
    settings.setValue("Check", "Expect", "all good");
    EXPECT_EQ(settings.checkExpect(), "all good");
    settings.setValue("Check", "URL", "");
    EXPECT_EQ(settings.checkExpect(), "all good");
}

TEST(Settings, TheFileIsReadWhenMadeAndAtReloadOnly) {
    TempDir dir;
    const std::string path = dir.file("prefs.ini");
    writeFile(path, "[Path]\r\nIE=/usr/bin/firefox\r\n[Desktop]\r\nLeaveAlone=1\r\n");
    Settings settings(path);
    EXPECT_EQ(settings.browserPath(), "/usr/bin/firefox");
    EXPECT_TRUE(settings.leaveDesktopAlone());

    writeFile(path, "[Path]\r\nIE=/usr/bin/chromium\r\n[Desktop]\r\nLeaveAlone=yes\r\n");
    EXPECT_EQ(settings.browserPath(), "/usr/bin/firefox") << "one command sees one state of the file";
    settings.reload();
    EXPECT_EQ(settings.browserPath(), "/usr/bin/chromium");
    EXPECT_FALSE(settings.leaveDesktopAlone()) << "only 1 leaves the desktop alone";

    // A write keeps the lines of the file as it is on disk, and its own value is read back at once.
    writeFile(path, "[Path]\r\nIE=/usr/bin/edited-meanwhile\r\n");
    ASSERT_EQ(settings.setScrambledList("abc"), "");
    EXPECT_EQ(settings.scrambledList(), "abc");
    EXPECT_EQ(settings.browserPath(), "/usr/bin/edited-meanwhile");
}

// Another writer's change is read at the next reload even when it leaves the file the same size: a replaced file is a
// new file. And this object's own write, made from the bytes it holds, keeps the other writer's change.
TEST(Settings, AChangeByAnotherWriterIsSeenAndKept) {
    TempDir dir;
    const std::string path = dir.file("prefs.ini");
    Settings mine(path);
    ASSERT_EQ(mine.setBrowserPath("/usr/bin/aaaaa"), "");
    ASSERT_EQ(Settings(path).setBrowserPath("/usr/bin/bbbbb"), "");
    EXPECT_EQ(mine.browserPath(), "/usr/bin/aaaaa") << "not before the next command";
    mine.reload();
    EXPECT_EQ(mine.browserPath(), "/usr/bin/bbbbb");

    ASSERT_EQ(Settings(path).setValue("Server", "URL", "http://lists.example"), "");
    ASSERT_EQ(mine.setScrambledList("abc"), "") << "written without a reload in between";
    mine.reload();
    EXPECT_EQ(mine.listServerUrl(), "http://lists.example");
    EXPECT_EQ(mine.scrambledList(), "abc");
}

TEST(Settings, AFailedWriteSaysWhyAndChangesNothing) {
    TempDir dir;
    writeFile(dir.file("blocker"), "a file where a folder should be");
    Settings settings(dir.file("blocker/prefs.ini"));
    EXPECT_NE(settings.setBrowserPath("/usr/bin/firefox"), "");
    EXPECT_EQ(settings.browserPath(), "");
    EXPECT_EQ(readFile(dir.file("blocker")), "a file where a folder should be");
}

} // namespace
} // namespace tamberly::test
