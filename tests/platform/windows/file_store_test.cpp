#include "core/file_store.h"

#include "support/temp_dir.h"
#include "windows_helper.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <windows.h>

namespace tamberly {
namespace {

using test::TempDir;

std::vector<std::string> folderNames(const std::string& folder) {
    std::vector<std::string> names;
    // The C++ library takes narrow paths in the ANSI code page; these are UTF-8.
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::u8path(folder))) {
        const auto name = entry.path().filename().u8string();
        names.emplace_back(name.begin(), name.end());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string replaceWith(const std::string& path, const std::string& data) {
    return file_store::update(path, [&](const std::optional<std::string>&) { return data; });
}

TEST(Win32FileStore, WritesReadsAndLeavesOnlyTheFileAndItsLock) {
    TempDir dir;
    const std::string path = dir.file("new folder/\xC3\xBC/prefs.ini");
    errno = 0;
    EXPECT_EQ(file_store::read(path), std::nullopt);
    EXPECT_EQ(errno, ENOENT);

    std::optional<std::string> seen = "not called";
    EXPECT_EQ(file_store::update(path,
                                 [&](const std::optional<std::string>& old) {
                                     seen = old;
                                     return std::string("[Proxy]\r\nProxylist=a\0b\r\n", 23);
                                 }),
              "");
    EXPECT_EQ(seen, std::nullopt) << "a missing file is told as missing";
    EXPECT_EQ(file_store::read(path), std::string("[Proxy]\r\nProxylist=a\0b\r\n", 23)) << "bytes kept exactly";

    const std::string big(3'000'000, 'x');
    EXPECT_EQ(replaceWith(path, big), "");
    EXPECT_EQ(file_store::read(path), big);
    EXPECT_EQ(folderNames(dir.file("new folder/\xC3\xBC")), (std::vector<std::string>{"prefs.ini", "prefs.ini.lock"}));
}

TEST(Win32FileStore, ATemporaryFileLeftByACrashIsRemovedByTheNextWrite) {
    TempDir dir;
    const std::string path = dir.file("prefs.ini");
    test::writeFile(path + ".tmp-abc123", "half");
    test::writeFile(path + ".tmp-keep-me-not-mine", "other");
    EXPECT_EQ(replaceWith(path, "whole"), "");
    EXPECT_EQ(folderNames(dir.path()),
              (std::vector<std::string>{"prefs.ini", "prefs.ini.lock", "prefs.ini.tmp-keep-me-not-mine"}));
}

// Replacing a file fails while another program has it open; the store waits for the reader instead of failing.
TEST(Win32FileStore, ReplacesAFileWhileAReaderHoldsItOpen) {
    TempDir dir;
    const std::string path = dir.file("prefs.ini");
    ASSERT_EQ(replaceWith(path, "old"), "");
    for (const bool plainStream : {true, false}) {
        std::thread reader;
        {
            auto stream = std::make_shared<std::ifstream>(path, std::ios::binary);
            ASSERT_TRUE(stream->is_open());
            HANDLE handle = plainStream ? INVALID_HANDLE_VALUE
                                        : ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                        OPEN_EXISTING, 0, nullptr);
            reader = std::thread([stream, handle] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                stream->close();
                if (handle != INVALID_HANDLE_VALUE)
                    ::CloseHandle(handle);
            });
        }
        const std::string next = plainStream ? "new" : "newer";
        EXPECT_EQ(replaceWith(path, next), "");
        reader.join();
        EXPECT_EQ(file_store::read(path), next);
    }
}

TEST(Win32FileStore, TwoWriterProcessesNeverLoseAChange) {
    TempDir dir;
    const std::string path = dir.file("counter");
    std::vector<PROCESS_INFORMATION> writers;
    for (int i = 0; i < 2; ++i) {
        std::string commandLine = "\"";
        commandLine += test::windowsHelper() + "\" count \"" + path + "\" 150";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                     &startup, &process));
        writers.push_back(process);
    }
    for (auto& process : writers) {
        ASSERT_EQ(::WaitForSingleObject(process.hProcess, 120'000), WAIT_OBJECT_0);
        DWORD code = 99;
        ::GetExitCodeProcess(process.hProcess, &code);
        EXPECT_EQ(code, 0u);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    EXPECT_EQ(file_store::read(path), "300");
}

} // namespace
} // namespace tamberly
