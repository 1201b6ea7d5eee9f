// The per-user folders every Linux piece and the list server take from one place.
#include "platform/linux/user_paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include <pwd.h>
#include <unistd.h>

namespace tamberly {
namespace {

// Puts HOME and XDG_DATA_HOME back as they were.
class UserPathsTest : public ::testing::Test {
protected:
    void TearDown() override {
        restore("HOME", m_home);
        restore("XDG_DATA_HOME", m_data);
        restore("XDG_CACHE_HOME", m_cache);
    }
    static void put(const char* name, const std::optional<std::string>& value) {
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }

private:
    static std::optional<std::string> saved(const char* name) {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }
    static void restore(const char* name, const std::optional<std::string>& value) { put(name, value); }
    std::optional<std::string> m_home = saved("HOME");
    std::optional<std::string> m_data = saved("XDG_DATA_HOME");
    std::optional<std::string> m_cache = saved("XDG_CACHE_HOME");
};

TEST_F(UserPathsTest, BaseFolderFromTheVariableOrUnderHome) {
    const passwd* pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    const std::string accountHome = pw->pw_dir;
    struct Case {
        std::optional<std::string> home;
        std::optional<std::string> data;
        std::string expected;
    };
    const Case cases[] = {
        {"/home/u", "/srv/data", "/srv/data"},
        {"/home/u", std::nullopt, "/home/u/.local/share"},
        {"/home/u", "", "/home/u/.local/share"},
        {"/home/u", "relative/data", "/home/u/.local/share"}, // a relative value is invalid
        {std::nullopt, std::nullopt, accountHome + "/.local/share"},
        {"", std::nullopt, accountHome + "/.local/share"},
        {std::nullopt, "/srv/data", "/srv/data"},
    };
    for (const auto& c : cases) {
        put("HOME", c.home);
        put("XDG_DATA_HOME", c.data);
        EXPECT_EQ(xdgBaseDir("XDG_DATA_HOME", ".local/share"), c.expected)
            << "HOME=" << c.home.value_or("(unset)") << " XDG_DATA_HOME=" << c.data.value_or("(unset)");
    }
}

TEST_F(UserPathsTest, TheCacheFolderIsTheProgramsOwnInTheUsersCache) {
    put("HOME", "/home/u");
    put("XDG_CACHE_HOME", "/srv/cache");
    EXPECT_EQ(cacheDir(), "/srv/cache/tamberly");
    put("XDG_CACHE_HOME", std::nullopt);
    EXPECT_EQ(cacheDir(), "/home/u/.cache/tamberly");
}

} // namespace
} // namespace tamberly
