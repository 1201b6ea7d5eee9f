// "Start with the session" on Windows: the Run key's value, in the real registry under a key of the test's own.
#include "platform/windows/run_key_session_start.h"

#include "scratch_key.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>

namespace tamberly {
namespace {

TEST(RunKeySessionStartTest, TheRunValueStartsTheProgramHiddenAndClearsTaskManagersOff) {
    const test::ScratchKey scratch;
    Win32RegistryKey run = scratch.key("Run");
    Win32RegistryKey approved = scratch.key("StartupApproved");
    RunKeySessionStart start(run, approved, "C:\\Program Files\\Tamberly\\tamberly.exe");
    EXPECT_FALSE(start.enabled());

    // Task Manager's "off" record for the entry: gone once the menu turns the entry on.
    scratch.writeBinary("StartupApproved", "Tamberly", std::string("\x03\0\0\0\0\0\0\0\0\0\0\0", 12));
    ASSERT_EQ(start.setEnabled(true), "");
    EXPECT_TRUE(start.enabled());
    const RegistryRead value = run.read("Tamberly");
    ASSERT_TRUE(value.data);
    EXPECT_EQ(std::get<std::string>(*value.data), "\"C:\\Program Files\\Tamberly\\tamberly.exe\" --hidden");
    const RegistryRead record = approved.read("Tamberly");
    EXPECT_FALSE(record.data);
    EXPECT_EQ(record.why, "");

    ASSERT_EQ(start.setEnabled(false), "");
    EXPECT_FALSE(start.enabled());
    EXPECT_FALSE(run.read("Tamberly").data);
    EXPECT_EQ(start.setEnabled(false), "") << "a value that is gone already is no failure";
}

TEST(RunKeySessionStartTest, ARunKeyTheUserCannotChangeIsNamed) {
    test::ScratchKey scratch;
    scratch.deny("Run");
    Win32RegistryKey run = scratch.key("Run");
    Win32RegistryKey approved = scratch.key("StartupApproved");
    RunKeySessionStart start(run, approved, "C:\\Tamberly\\tamberly.exe");
    EXPECT_NE(start.setEnabled(true), "");
    EXPECT_FALSE(start.enabled());
}

} // namespace
} // namespace tamberly
