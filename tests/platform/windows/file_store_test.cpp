#include "core/file_store.h"

#include "support/temp_dir.h"
#include "windows_helper.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
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

// windows_helper adding 1 to the number in path, times times.
PROCESS_INFORMATION startCounter(const std::string& path, int times) {
    // Built by appending: GCC 12 reports a false -Wrestrict overlap for one long concatenation here.
    std::string commandLine = "\"";
    commandLine += test::windowsHelper() + "\" count \"" + path + "\" " + std::to_string(times);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    EXPECT_TRUE(::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &process));
    return process;
}

std::string replaceWith(const std::string& path, const std::string& data) {
    return file_store::update(path, [&](const std::optional<std::string>&) { return data; });
}

TEST(Win32FileStore, WritesReadsAndLeavesOnlyTheFile) {
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
    EXPECT_EQ(folderNames(dir.file("new folder/\xC3\xBC")), (std::vector<std::string>{"prefs.ini"}))
        << "no lock file beside it";
}

TEST(Win32FileStore, ATemporaryFileLeftByACrashIsRemovedByTheNextWrite) {
    TempDir dir;
    const std::string path = dir.file("prefs.ini");
    test::writeFile(path + ".tmp-abc123", "half");
    test::writeFile(path + ".tmp-keep-me-not-mine", "other");
    EXPECT_EQ(replaceWith(path, "whole"), "");
    EXPECT_EQ(folderNames(dir.path()), (std::vector<std::string>{"prefs.ini", "prefs.ini.tmp-keep-me-not-mine"}));
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

// Two writers that name the file in two ways (the lock is the file's, whatever its spelling), and a third killed
// in the middle of its writes, whose lock the system lets go.
TEST(Win32FileStore, TwoWriterProcessesNeverLoseAChange) {
    TempDir dir;
    const std::string path = dir.file("counter");
    test::writeFile(dir.file("sub/keep"), "");
    PROCESS_INFORMATION killed = startCounter(path, 1'000'000);
    for (int waited = 0; waited < 60'000 && std::atoi(file_store::read(path).value_or("0").c_str()) < 20; waited += 10)
        ::Sleep(10);
    ASSERT_TRUE(::TerminateProcess(killed.hProcess, 9));
    ::WaitForSingleObject(killed.hProcess, INFINITE);
    ::CloseHandle(killed.hThread);
    ::CloseHandle(killed.hProcess);
    const auto before = file_store::read(path);
    ASSERT_TRUE(before);
    const int start = std::atoi(before->c_str());

    std::vector<PROCESS_INFORMATION> writers;
    for (const std::string& spelling : {path, dir.file("sub/../COUNTER")})
        writers.push_back(startCounter(spelling, 150));
    for (auto& process : writers) {
        ASSERT_EQ(::WaitForSingleObject(process.hProcess, 120'000), WAIT_OBJECT_0);
        DWORD code = 99;
        ::GetExitCodeProcess(process.hProcess, &code);
        EXPECT_EQ(code, 0u);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    EXPECT_EQ(file_store::read(path), std::to_string(start + 300));
    EXPECT_EQ(folderNames(dir.path()), (std::vector<std::string>{"counter", "sub"}));
}

} // namespace
} // namespace tamberly
