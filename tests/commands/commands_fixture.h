#pragma once

// The commands over a window and a platform in memory, with a real settings file in a home folder of the test's own.

#include "commands/commands.h"
#include "core/settings.h"
#include "support/fake_platform.h"
#include "support/fake_view.h"
#include "support/temp_dir.h"
#include "watch_fakes.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tamberly::test {

inline constexpr const char* kBrowser = "/opt/browser/bin/browser";

class CommandsTest : public ::testing::Test {
protected:
    CommandsTest() {
        view.log = &log;
        platform.proxy.log = &log;
        platform.launcher_.log = &log;
        settings.setBrowserPath(kBrowser);
    }
    ~CommandsTest() override { commands.abandonCheck(); }

    /// Changes prefs.ini as a user's editor would, behind the program's back.
    void editSetting(const std::string& section, const std::string& key, const std::string& value) {
        Settings(prefs).setValue(section, key, value);
    }
    void run(Command command) { commands.run(command); }
    /// The rows and selection of the list.
    void showRows(std::vector<std::string> rows, std::optional<int> selected = std::nullopt) {
        view.rows = std::move(rows);
        view.selected = selected;
    }

    ScopedUserHome home;
    std::string prefs = home.configDir() + "/prefs.ini";
    std::vector<std::string> log;
    FakeView view;
    FakePlatform platform = withCache(home.dir().path() + "/cache/tamberly");
    Settings settings{prefs};
    FakeWatchTimer timer;
    FakeProbe probe;
    Commands commands{view, platform, settings, {}, {&timer, &probe}};

private:
    static FakePlatform withCache(std::string folder) {
        FakePlatform made;
        made.cache = std::move(folder);
        return made;
    }
};

} // namespace tamberly::test
