#include "platform/linux/registry_file.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace tamberly {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

const std::string kKey = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const std::string kServer = kKey + "\\ProxyServer";
const std::string kEnable = kKey + "\\ProxyEnable";

TEST(RegistryFile, WritesTheRegistryEditorFormat) {
    TempDir dir;
    RegistryFile registry(dir.file("sub/registry.reg"));
    registry.RegWrite(kServer, std::string("10.0.0.1:80"), "REG_SZ");
    registry.RegWrite(kEnable, std::uint32_t{1}, "REG_DWORD");
    registry.RegWrite(kServer, std::string("C:\\a \"b\""), "REG_SZ");
    EXPECT_EQ(readFile(registry.path()), "Windows Registry Editor Version 5.00\n"
                                         "\n"
                                         "[" + kKey + "]\n"
                                         "\"ProxyServer\"=\"C:\\\\a \\\"b\\\"\"\n"
                                         "\"ProxyEnable\"=dword:00000001\n"
                                         "\n");
}

TEST(RegistryFile, AnyTextAndNumberRoundTripsExactly) {
    TempDir dir;
    RegistryFile registry(dir.file("registry.reg"));
    std::string everyByte;
    for (int c = 0; c < 256; ++c)
        everyByte += static_cast<char>(c);
    const std::string texts[] = {"",
                                 "10.0.0.1:80",
                                 "\"quoted\"",
                                 "back\\slash\\",
                                 "cr\rlf\ncrlf\r\n",
                                 "  blanks at both ends  ",
                                 "h\xc3\xa9llo",
                                 "bytes \x80\xff\xfe above 127",
                                 std::string("nul\0inside", 10),
                                 "[not a key]",
                                 "\"Name\"=dword:00000001",
                                 everyByte,
                                 std::string(10000, 'x')};
    for (const auto& text : texts) {
        registry.RegWrite(kServer, text, "REG_SZ");
        EXPECT_EQ(registry.RegRead(kServer), std::optional<RegValue>(text));
        EXPECT_EQ(RegistryFile(registry.path()).RegRead(kServer), std::optional<RegValue>(text));
    }
    for (std::uint32_t number : {0u, 1u, 2u, 0xffffffffu}) {
        registry.RegWrite(kEnable, number, "REG_DWORD");
        EXPECT_EQ(registry.RegRead(kEnable), std::optional<RegValue>(number));
    }
}

TEST(RegistryFile, ReadsAndKeepsAFileEditedByHand) {
    TempDir dir;
    const std::string path = dir.file("registry.reg");
    writeFile(path, "Windows Registry Editor Version 5.00\r\n"
                    "\r\n"
                    "; kept comment\r\n"
                    "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
                    "\"Binary\"=hex:01,02,\\\r\n"
                    "  03,04\r\n"
                    "@=\"default\"\r\n"
                    "\r\n"
                    "[hkey_current_user\\software\\microsoft\\windows\\currentversion\\internet settings]\r\n"
                    "\"proxyserver\" = \"hand.example:8080\"\r\n"
                    "\"ProxyOverride\"=\"<local>\"\r\n"
                    "\"ProxyEnable\"=dword:zz\r\n");
    RegistryFile registry(path);
    EXPECT_EQ(registry.RegRead(kServer), std::optional<RegValue>(std::string("hand.example:8080")));
    EXPECT_EQ(registry.RegRead(kEnable), std::optional<RegValue>(std::string("dword:zz"))); // unreadable: as text
    EXPECT_EQ(registry.RegRead(kKey + "\\Missing"), std::nullopt);
    EXPECT_EQ(registry.RegRead("HKEY_CURRENT_USER\\Software\\Nowhere\\ProxyServer"), std::nullopt);

    registry.RegWrite(kEnable, std::uint32_t{1}, "REG_DWORD");
    registry.RegWrite(kKey + "\\AutoDetect", std::uint32_t{0}, "REG_DWORD");
    const std::string after = readFile(path);
    EXPECT_NE(after.find("; kept comment\n"), std::string::npos);
    EXPECT_NE(after.find("\"Binary\"=hex:01,02,03,04\n"), std::string::npos);
    EXPECT_NE(after.find("@=\"default\"\n"), std::string::npos);
    EXPECT_NE(after.find("\"ProxyOverride\"=\"<local>\"\n\"ProxyEnable\"=dword:00000001\n\"AutoDetect\"=dword:00000000\n"),
              std::string::npos);
    EXPECT_EQ(registry.RegRead(kServer), std::optional<RegValue>(std::string("hand.example:8080")));
}

TEST(RegistryFile, MissingFileReadsAsNoValue) {
    TempDir dir;
    EXPECT_EQ(RegistryFile(dir.file("none.reg")).RegRead(kServer), std::nullopt);
}

TEST(RegistryFile, FailuresAreTypedErrorsAndLeaveTheFileWhole) {
    TempDir dir;
    writeFile(dir.file("blocker"), "a file where a folder should be");
    RegistryFile blocked(dir.file("blocker/registry.reg"));
    EXPECT_THROW(blocked.RegWrite(kServer, std::string("x:1"), "REG_SZ"), RegistryError);

    RegistryFile folder(dir.path()); // a folder cannot be read as the file
    EXPECT_THROW(folder.RegRead(kServer), RegistryError);

    RegistryFile registry(dir.file("registry.reg"));
    registry.RegWrite(kServer, std::string("a:1"), "REG_SZ");
    const std::string before = readFile(registry.path());
    EXPECT_THROW(registry.RegWrite(kServer, std::uint32_t{1}, "REG_SZ"), RegistryError);
    EXPECT_THROW(registry.RegWrite(kEnable, std::string("1"), "REG_DWORD"), RegistryError);
    EXPECT_THROW(registry.RegWrite("NoBackslash", std::string("1"), "REG_SZ"), RegistryError);
    // A line break in a value name would let the name forge lines of its own.
    EXPECT_THROW(registry.RegWrite(kKey + "\\\n\n", std::uint32_t{16759900}, "REG_DWORD"), RegistryError);
    EXPECT_THROW(registry.RegWrite(kKey + "\\x\"=\"\r\n\"ProxyEnable", std::string("1"), "REG_SZ"), RegistryError);
    EXPECT_EQ(readFile(registry.path()), before);
}

// Hand-edited files whose odd hex lines, once rewritten, took in the line after them.
TEST(RegistryFile, OddHexLinesKeepToThemselvesWhenTheFileIsRewritten) {
    const std::string files[] = {
        std::string("\0]\\=hex\xFB\xFB\\k\\\\\\\\\\\\", 17), // ends in backslashes, no line break
        "\"Bin\"=hex:01,\\\\",
        "[HKEY_CURRENT_USER\\Other]\r\n\"Bin\"=hex:01,\\\r\r\n[HKEY_CURRENT_USER\\Next]\r\n\"Kept\"=\"yes\"\r\n",
    };
    const std::string kept = "HKEY_CURRENT_USER\\Next\\Kept";
    for (const auto& file : files) {
        SCOPED_TRACE(file);
        TempDir dir;
        writeFile(dir.file("registry.reg"), file);
        RegistryFile registry(dir.file("registry.reg"));
        const auto keptBefore = registry.RegRead(kept);
        registry.RegWrite(kKey + "\\]", std::uint32_t{16759900}, "REG_DWORD");
        registry.RegWrite(kServer, std::string("a:1"), "REG_SZ");
        EXPECT_EQ(registry.RegRead(kKey + "\\]"), std::optional<RegValue>(std::uint32_t{16759900}));
        EXPECT_EQ(registry.RegRead(kServer), std::optional<RegValue>(std::string("a:1")));
        EXPECT_EQ(registry.RegRead(kept), keptBefore);
    }
}

TEST(RegistryFile, TwoWriterProcessesNeitherTearTheFileNorLoseAValue) {
    TempDir dir;
    const std::string path = dir.file("registry.reg");
    constexpr int kWrites = 150;
    pid_t children[2];
    for (int w = 0; w < 2; ++w) {
        children[w] = fork();
        ASSERT_GE(children[w], 0);
        if (children[w] == 0) {
            RegistryFile registry(path);
            try {
                for (int i = 0; i < kWrites; ++i)
                    registry.RegWrite(kKey + "\\W" + std::to_string(w) + "_" + std::to_string(i),
                                      std::string(i % 7, '"') + "v\r\n" + std::to_string(i), "REG_SZ");
            } catch (...) {
                _exit(1);
            }
            _exit(0);
        }
    }
    // Meanwhile every read sees a whole file.
    RegistryFile reader(path);
    int statuses[2] = {-1, -1};
    while (statuses[0] == -1 || statuses[1] == -1) {
        const std::string text = readFile(path);
        if (!text.empty()) {
            EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
        }
        EXPECT_NO_THROW(reader.RegRead(kKey + "\\W0_0"));
        for (int w = 0; w < 2; ++w)
            if (statuses[w] == -1 && waitpid(children[w], &statuses[w], WNOHANG) == 0)
                statuses[w] = -1;
    }
    EXPECT_EQ(statuses[0], 0);
    EXPECT_EQ(statuses[1], 0);
    for (int w = 0; w < 2; ++w)
        for (int i = 0; i < kWrites; ++i)
            EXPECT_EQ(reader.RegRead(kKey + "\\W" + std::to_string(w) + "_" + std::to_string(i)),
                      std::optional<RegValue>(std::string(i % 7, '"') + "v\r\n" + std::to_string(i)));
}

} // namespace
} // namespace tamberly
