#include "platform/windows/program_folder.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace tamberly {
namespace {

using test::TempDir;

TEST(SettingsFilePath, BesideTheProgramWhenItsFileIsThereOrTheFolderIsWritableElseInAppData) {
    TempDir dir;
    const std::string appData = dir.file("AppData");
    EXPECT_EQ(settingsFilePath(dir.path(), appData), dir.path() + "\\prefs.ini") << "writable folder";
    EXPECT_EQ(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator())
        << "the writability probe leaves nothing behind";
    const std::string missing = dir.file("gone");
    EXPECT_EQ(settingsFilePath(missing, appData), appData + "\\Tamberly\\prefs.ini") << "folder not writable";
    EXPECT_FALSE(programFolder().empty());
    EXPECT_TRUE(std::filesystem::is_directory(programFolder()));
}

} // namespace
} // namespace tamberly
