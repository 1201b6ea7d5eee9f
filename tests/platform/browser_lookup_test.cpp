#include "platform/linux/browser_lookup.h"

#include "scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include <sys/stat.h>

namespace tamberly {
namespace {

using test::ScopedEnv;
using test::TempDir;
using test::writeFile;

// A machine of its own: PATH is only bin/, the data folders are home/ and sys1/, sys2/.
class BrowserLookupTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_env.set("HOME", m_dir.path());
        m_env.set("PATH", bin());
        m_env.set("XDG_DATA_HOME", m_dir.file("home"));
        m_env.set("XDG_DATA_DIRS", m_dir.file("sys1") + ":relative/ignored:" + m_dir.file("sys2"));
    }

    std::string bin() const { return m_dir.file("bin"); }
    std::string program(const std::string& name, const std::string& text = "#!/bin/sh\nexit 0\n") {
        const std::string path = bin() + "/" + name;
        writeFile(path, text);
        ::chmod(path.c_str(), 0755);
        return path;
    }
    void defaultBrowser(const std::string& answer) { program("xdg-settings", "#!/bin/sh\necho '" + answer + "'\n"); }
    void desktopFile(const std::string& dataDir, const std::string& id, const std::string& exec) {
        writeFile(m_dir.file(dataDir) + "/applications/" + id,
                  "[Desktop Entry]\nName=Some Browser\nTryExec=wrong-one\nExec[de]=wrong-one\nExec = " + exec +
                      "\n\n[Desktop Action new-window]\nExec=wrong-one --new-window\n");
    }

    TempDir m_dir;
    ScopedEnv m_env;
};

TEST_F(BrowserLookupTest, DefaultBrowserComesFromItsDesktopFile) {
    defaultBrowser("surfer.desktop");
    desktopFile("home", "surfer.desktop", "surfer-bin --new-window %u");
    const std::string surfer = program("surfer-bin");
    program("firefox");
    EXPECT_EQ(BrowserLookup().findBrowser(), surfer);
}

TEST_F(BrowserLookupTest, DesktopFileIsSearchedThroughTheDataFoldersInOrder) {
    defaultBrowser("surfer.desktop");
    desktopFile("sys2", "surfer.desktop", "second");
    desktopFile("sys1", "surfer.desktop", "\"" + bin() + "/first\" %U");
    const std::string first = program("first");
    program("second");
    EXPECT_EQ(BrowserLookup().findBrowser(), first);

    desktopFile("home", "surfer.desktop", "second");
    EXPECT_EQ(BrowserLookup().findBrowser(), bin() + "/second") << "the user's own desktop file comes first";
}

TEST_F(BrowserLookupTest, FallsBackToTheFirstKnownBrowserOnPath) {
    const std::string chromium = program("chromium");
    program("epiphany");
    program("not-a-browser");

    struct Case {
        const char* name;
        std::optional<std::string> xdgSettings; // script body; nullopt: not installed
    } cases[] = {
        {"no xdg-settings", std::nullopt},
        {"xdg-settings fails", "#!/bin/sh\necho 'surfer.desktop'\nexit 1\n"},
        {"no desktop file", "#!/bin/sh\necho 'surfer.desktop'\n"},
        {"desktop file's program missing", "#!/bin/sh\necho 'gone.desktop'\n"},
        {"not a desktop id", "#!/bin/sh\necho '../../bin/not-a-browser.desktop'\n"},
        {"empty answer", "#!/bin/sh\n"},
    };
    desktopFile("home", "gone.desktop", "gone-browser %u");
    for (const auto& c : cases) {
        std::filesystem::remove(bin() + "/xdg-settings");
        if (c.xdgSettings)
            program("xdg-settings", *c.xdgSettings);
        EXPECT_EQ(BrowserLookup().findBrowser(), chromium) << c.name;
    }
}

TEST_F(BrowserLookupTest, HangingXdgSettingsIsGivenUpOn) {
    const std::string firefox = program("firefox");
    program("xdg-settings", "#!/bin/sh\nexec /bin/sleep 60\n");
    EXPECT_EQ(BrowserLookup(std::chrono::milliseconds(200)).findBrowser(), firefox);
}

// The first start waits for this lookup before its window shows: by default the desktop gets about a second to
// name its browser, never the several a slow answer takes.
TEST_F(BrowserLookupTest, ByDefaultAnAnswerTakingSecondsIsNotWaitedFor) {
    const std::string firefox = program("firefox");
    program("xdg-settings", "#!/bin/sh\n/bin/sleep 3\necho surfer.desktop\n");
    desktopFile("home", "surfer.desktop", "surfer-bin %u");
    program("surfer-bin");
    EXPECT_EQ(BrowserLookup().findBrowser(), firefox);
}

TEST_F(BrowserLookupTest, NothingFoundIsTheEmptyText) {
    defaultBrowser("surfer.desktop");
    program("not-a-browser");
    writeFile(bin() + "/firefox", "not runnable"); // no run permission
    EXPECT_EQ(BrowserLookup().findBrowser(), "");
}

TEST(BrowserLookupExec, ProgramOfAnExecLine) {
    const struct {
        std::string exec, program;
    } cases[] = {
        {"firefox-esr %u", "firefox-esr"},
        {"/usr/lib/chromium/chromium --flag %U", "/usr/lib/chromium/chromium"},
        {"\"/opt/My Browser/browser\" --new-window %u", "/opt/My Browser/browser"},
        {"\"/opt/cost\\\\$s/browser\"", "/opt/cost$s/browser"},
        {"browser\\s--private", "browser"},
        {"brow%%ser", "brow%ser"},
        {"%U browser", "browser"},
        {"env MOZ_ENABLE_WAYLAND=1 A=b /snap/bin/firefox %u", "/snap/bin/firefox"},
        {"/usr/bin/env GDK_BACKEND=x11 chromium", "chromium"},
        {"", ""},
        {"%u", ""},
        {"/usr/bin/flatpak run --branch=stable --arch=x86_64 --command=firefox --file-forwarding "
         "org.mozilla.firefox @@u %u @@",
         "/var/lib/flatpak/exports/bin/org.mozilla.firefox"},
        {"flatpak run", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BrowserLookup::execProgram(c.exec), c.program) << c.exec;
}

// A browser installed with Flatpak for this user starts through the launcher Flatpak exports for it.
TEST_F(BrowserLookupTest, AFlatpakBrowserStartsThroughItsExportedLauncher) {
    const std::string launcher = m_dir.file("home") + "/flatpak/exports/bin/org.mozilla.firefox";
    writeFile(launcher, "#!/bin/sh\n");
    ASSERT_EQ(::chmod(launcher.c_str(), 0755), 0);
    defaultBrowser("org.mozilla.firefox.desktop");
    desktopFile("home", "org.mozilla.firefox.desktop",
                "/usr/bin/flatpak run --branch=stable --arch=x86_64 --command=firefox org.mozilla.firefox %u");
    EXPECT_EQ(BrowserLookup().findBrowser(), launcher);
}

} // namespace
} // namespace tamberly
