// The autostart entry: what the session reads at log-in, written and removed by "Start with the session".
#include "platform/linux/autostart_entry.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

namespace tamberly {
namespace {

using test::readFile;
using test::ScopedUserHome;
using test::writeFile;

std::string execLine(const std::string& text) {
    const auto start = text.find("\nExec=");
    if (start == std::string::npos)
        return {};
    const auto end = text.find('\n', start + 1);
    return text.substr(start + 1, end - start - 1);
}

TEST(AutostartEntryTest, TurnedOnAndOffInTheUsersAutostartFolder) {
    const ScopedUserHome home;
    const std::string path = AutostartEntry::defaultPath();
    EXPECT_EQ(path, home.dir().path() + "/config/autostart/org.tamberly.Tamberly.desktop");
    AutostartEntry entry(path, "/usr/bin/tamberly");
    EXPECT_FALSE(entry.enabled());

    ASSERT_EQ(entry.setEnabled(true), "");
    EXPECT_TRUE(entry.enabled());
    const std::string text = readFile(path);
    EXPECT_EQ(execLine(text), "Exec=/usr/bin/tamberly --hidden");
    for (const char* key : {"X-GNOME-Autostart-Delay=", "X-KDE-autostart-after=panel", "X-LXQt-Need-Tray=true"})
        EXPECT_NE(text.find(key), std::string::npos) << key;
    // Validated by the desktop's own tool where the machine has it.
    if (std::system("command -v desktop-file-validate >/dev/null 2>&1") == 0) {
        const int status = std::system(("desktop-file-validate '" + path + "' >&2").c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;
    }

    ASSERT_EQ(entry.setEnabled(false), "");
    EXPECT_FALSE(entry.enabled());
    struct stat st {};
    EXPECT_NE(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(entry.setEnabled(false), "") << "an entry that is gone already is no failure";
}

TEST(AutostartEntryTest, AnEntryTheDesktopTurnedOffCountsAsOff) {
    const ScopedUserHome home;
    const std::string path = AutostartEntry::defaultPath();
    AutostartEntry entry(path, "/usr/bin/tamberly");
    for (const char* line : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
        writeFile(path, AutostartEntry::entryText("/usr/bin/tamberly") + line + "\n");
        EXPECT_FALSE(entry.enabled()) << line;
        ASSERT_EQ(entry.setEnabled(true), "");
        EXPECT_TRUE(entry.enabled()) << "turning it on again writes the entry whole";
    }
}

TEST(AutostartEntryTest, ProgramPathsAreQuotedAsTheDesktopEntryRulesSay) {
    struct Case {
        std::string program;
        std::string exec; // as written in the file; empty: refused
    };
    const Case cases[] = {
        {"/opt/Tamberly/bin/tamberly", "/opt/Tamberly/bin/tamberly"},
        {"/home/a b/tamberly", R"("/home/a b/tamberly")"},
        {"/home/$USER/tamberly", R"("/home/\\$USER/tamberly")"},
        {"/home/a\"b/tamberly", R"("/home/a\\"b/tamberly")"},
        {"/home/a\\b/tamberly", R"("/home/a\\\\b/tamberly")"},
        {"/home/100%/tamberly", "/home/100%%/tamberly"},
        {"/home/a\nb/tamberly", ""},
    };
    for (const Case& c : cases) {
        const std::string text = AutostartEntry::entryText(c.program);
        if (c.exec.empty())
            EXPECT_EQ(text, "") << c.program;
        else
            EXPECT_EQ(execLine(text), "Exec=" + c.exec + " --hidden") << c.program;
    }
}

TEST(AutostartEntryTest, FailuresAreNamedAndChangeNothing) {
    const ScopedUserHome home;
    // A file where the autostart folder should be.
    writeFile(home.dir().path() + "/config/autostart", "not a folder");
    AutostartEntry entry(AutostartEntry::defaultPath(), "/usr/bin/tamberly");
    EXPECT_NE(entry.setEnabled(true), "");
    EXPECT_FALSE(entry.enabled());

    AutostartEntry unwritable(home.dir().file("entry.desktop"), "/home/a\nb/tamberly");
    EXPECT_NE(unwritable.setEnabled(true).find("cannot be written"), std::string::npos);
    EXPECT_FALSE(unwritable.enabled());
}

} // namespace
} // namespace tamberly
