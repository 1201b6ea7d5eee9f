#include "platform/platform.h"

#include "platform/random_source.h"
#include "platform/system_proxy.h"
#include "platform/windows/wininet_transfer.h"

#include <gtest/gtest.h>

namespace tamberly {
namespace {

TEST(WindowsPlatform, IsTheInternetSettingsTheShellWinInetAndTheClock) {
    auto transfer = std::make_unique<WinInetTransfer>();
    HttpTransfer* windowsOwn = transfer.get();
    const std::unique_ptr<Platform> platform = createPlatform({"C:\\ignored", true, std::move(transfer)});
    EXPECT_EQ(platform->systemProxy().places(), std::vector<std::string>{"the Internet Settings"});
    EXPECT_EQ(&platform->transfer(), windowsOwn) << "the window's transfer, with its keys";
    EXPECT_FALSE(platform->transfer().busy());
    platform->random().reseedFromClock();
    const double draw = platform->random().next();
    EXPECT_GE(draw, 0.0);
    EXPECT_LT(draw, 1.0);

    const std::unique_ptr<Platform> bare = createPlatform({});
    EXPECT_NE(dynamic_cast<WinInetTransfer*>(&bare->transfer()), nullptr) << "one of its own when given none";
}

} // namespace
} // namespace tamberly
