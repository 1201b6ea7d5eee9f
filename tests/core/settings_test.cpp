// The typed settings of prefs.ini: what each reads when missing, and when a change by hand counts.
#include "core/settings.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <optional>
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

// The judge and the tunnel host belong to the list server, also with a test page of the user's own.
TEST(Settings, JudgeAndTunnelHostComeFromTheListServer) {
    TempDir dir;
    Settings settings(dir.file("prefs.ini"));
    settings.setValue("Check", "URL", "https://check.example.org/ok.txt");
    const struct {
        std::string stored;
        std::string judge;
        std::string tunnelHost;
    } cases[] = {
        {"", "http://127.0.0.1:8642/Tamberly/judge.php", "127.0.0.1"},
        {"http://lists.example.org:8642/", "http://lists.example.org:8642/Tamberly/judge.php", "lists.example.org"},
        // Over TLS no proxy's header line reaches the judge.
        {"HTTPS://lists.example.org", "http://lists.example.org/Tamberly/judge.php", "lists.example.org"},
        {"http://[2001:db8::1]:8642/mirror", "http://[2001:db8::1]:8642/mirror/Tamberly/judge.php", "2001:db8::1"},
        {"http://user@lists.example.org:8080", "http://user@lists.example.org:8080/Tamberly/judge.php",
         "lists.example.org"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(settings.setValue("Server", "URL", c.stored), "");
        EXPECT_EQ(settings.judgeUrl(), c.judge) << c.stored;
        EXPECT_EQ(settings.tunnelHost(), c.tunnelHost) << c.stored;
    }
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

// The window's size is read only when both values are sizes; anything else leaves the window at its own default.
TEST(Settings, WindowSizeIsReadWhenBothValuesAreSizesAndWrittenTogether) {
    TempDir dir;
    const std::string path = dir.file("prefs.ini");
    const struct {
        std::string lines;
        std::optional<WindowSize> size;
    } cases[] = {
        {"Width=640\r\nHeight=480\r\n", WindowSize{640, 480}},
        {"Width= 1 \r\nHeight=100000\r\n", WindowSize{1, 100000}},
        {"Width=640\r\n", std::nullopt},
        {"Width=0\r\nHeight=480\r\n", std::nullopt},
        {"Width=-640\r\nHeight=480\r\n", std::nullopt},
        {"Width=640px\r\nHeight=480\r\n", std::nullopt},
        {"Width=100001\r\nHeight=480\r\n", std::nullopt},
        {"Width=99999999999999999999\r\nHeight=480\r\n", std::nullopt},
        {"Width=\r\nHeight=480\r\n", std::nullopt},
    };
    for (const auto& c : cases) {
        writeFile(path, "[Window]\r\n" + c.lines);
        EXPECT_EQ(Settings(path).windowSize(), c.size) << c.lines;
    }

    writeFile(path, "[Path]\r\nIE=/usr/bin/firefox\r\n[Window]\r\nWidth=junk\r\nMaximized=0\r\n");
    Settings settings(path);
    ASSERT_EQ(settings.setWindowSize({512, 300}), "");
    EXPECT_EQ(settings.windowSize(), (WindowSize{512, 300}));
    EXPECT_EQ(readFile(path),
              "[Path]\r\nIE=/usr/bin/firefox\r\n[Window]\r\nWidth=512\r\nMaximized=0\r\nHeight=300\r\n");
    EXPECT_EQ(Settings(path).windowSize(), (WindowSize{512, 300}));

    writeFile(dir.file("blocker"), "a file where a folder should be");
    Settings blocked(dir.file("blocker/prefs.ini"));
    EXPECT_NE(blocked.setWindowSize({512, 300}), "");
    EXPECT_EQ(blocked.windowSize(), std::nullopt);
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
