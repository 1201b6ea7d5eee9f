// The Linux platform as a front end gets it from createPlatform: wired to the settings folder and the HTTP client it
// is given, and cheap to build.
#include "platform/platform.h"

#include "platform/http_transfer.h"
#include "platform/launcher.h"
#include "platform/random_source.h"
#include "platform/system_proxy.h"
#include "scoped_env.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tamberly {
namespace {

using test::readFile;
using test::ScopedEnv;
using test::ScopedUserHome;
using test::TempDir;

PlatformSetup setupIn(const std::string& folder, bool leaveDesktopAlone) {
    PlatformSetup setup;
    setup.settingsFolder = folder;
    setup.leaveDesktopAlone = leaveDesktopAlone;
    setup.transfer = std::make_unique<test::FakeTransfer>();
    return setup;
}

TEST(LinuxPlatform, KeepsTheRecordInTheSettingsFolderAndUsesTheHttpClientItIsGiven) {
    ScopedUserHome home;
    PlatformSetup setup = setupIn(home.configDir(), true);
    auto* transfer = setup.transfer.get();
    const auto platform = createPlatform(std::move(setup));
    EXPECT_EQ(&platform->transfer(), transfer);

    const ProxySetting change = ProxySetting::manual(parseProxyServers("10.1.2.3:3128").servers.value());
    const ApplyOutcome outcome = platform->systemProxy().apply(change);
    ASSERT_TRUE(outcome.recorded()) << outcome.failure();
    ASSERT_EQ(outcome.backends.size(), 1u) << "the desktop is left alone";
    EXPECT_NE(readFile(home.configDir() + "/registry.reg").find("\"ProxyServer\"=\"10.1.2.3:3128\""),
              std::string::npos);
    const CurrentSetting current = platform->systemProxy().current();
    ASSERT_TRUE(current.setting) << current.why;
    EXPECT_EQ(current.setting->mode, ProxyMode::Manual);
    EXPECT_EQ(current.setting->servers, change.servers);

    const double draw = platform->random().next();
    EXPECT_TRUE(draw >= 0.0 && draw < 1.0) << draw;
}

TEST(LinuxPlatform, ASetupWithoutAFolderOrAnHttpClientIsRefusedClearly) {
    ScopedUserHome home;
    PlatformSetup noClient;
    noClient.settingsFolder = "/tmp";
    EXPECT_THROW(createPlatform(std::move(noClient)), std::invalid_argument);
    EXPECT_THROW(createPlatform(setupIn("", false)), std::invalid_argument);
}

// The window shows before the desktop is reached: building the platform and naming its places never calls on the
// session bus (here one that would never answer).
TEST(LinuxPlatform, IsBuiltWithoutReachingTheDesktop) {
    ScopedUserHome home;
    const std::string bus = home.dir().file("bus");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    bus.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
    ScopedEnv env;
    env.set("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + bus);
    env.set("XDG_CURRENT_DESKTOP", "GNOME");

    const auto platform = createPlatform(setupIn(home.configDir(), false));
    const auto places = platform->systemProxy().places();

    pollfd pending{listener, POLLIN, 0};
    EXPECT_EQ(::poll(&pending, 1, 0), 0) << "a connection to the session bus was opened";
    EXPECT_EQ(places.front(), "registry.reg");
    EXPECT_EQ(places.at(1), "the GNOME proxy setting (org.gnome.system.proxy)");
    EXPECT_EQ(places.back(), "the environment of the browser that Tamberly starts");
    ::close(listener);
}

} // namespace
} // namespace tamberly
