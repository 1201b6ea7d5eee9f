// registry.reg, the record of the proxy in force: its format, what it reads as, what a write keeps, and two writer
// processes at once.
#include "platform/linux/proxy_record_file.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace tamberly {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

const std::string kKey(ProxyRecordFile::kKey);

ProxyServers servers(const std::string& text) {
    ServersParse parsed = parseProxyServers(text);
    EXPECT_TRUE(parsed.servers) << text << ": " << parsed.why;
    return parsed.servers.value_or(ProxyServers{});
}

// An entry exactly as given, past the entry rules, as a desktop or a hand-edited file may hold one.
ProxyServers heldAsIs(const std::string& host) {
    ProxyEntry entry;
    entry.host = host;
    entry.port = 80;
    ProxyServers held;
    held.http = held.https = held.ftp = entry;
    return held;
}

std::optional<std::string> value(const std::string& file, const std::string& name, const std::string& key = kKey) {
    return ProxyRecordFile::valueText(file, key, name);
}

TEST(ProxyRecordFile, WritesTheRegistryEditorFormat) {
    TempDir dir;
    ProxyRecordFile record(dir.file("sub/registry.reg"));
    ASSERT_EQ(record.write(ProxySetting::manual(servers("10.0.0.1:80"))), "");
    EXPECT_EQ(readFile(record.path()), "Windows Registry Editor Version 5.00\n"
                                       "\n"
                                       "[" +
                                           kKey +
                                           "]\n"
                                           "\"ProxyServer\"=\"10.0.0.1:80\"\n"
                                           "\"ProxyEnable\"=dword:00000001\n"
                                           "\n");
    // Off keeps the server, as the Internet Settings keep ProxyServer; the record knows no automatic mode.
    ASSERT_EQ(record.write(ProxySetting::off()), "");
    EXPECT_NE(readFile(record.path()).find("\"ProxyServer\"=\"10.0.0.1:80\"\n\"ProxyEnable\"=dword:00000000\n"),
              std::string::npos);
    ASSERT_EQ(record.write({ProxyMode::Automatic, std::nullopt, std::nullopt, "http://wpad.example/proxy.pac"}), "");
    EXPECT_NE(readFile(record.path()).find("\"ProxyEnable\"=dword:00000000\n"), std::string::npos);
    // Quotes and backslashes are escaped.
    ASSERT_EQ(record.write(ProxySetting::manual(heldAsIs("back\\slash \"quoted\""))), "");
    EXPECT_NE(readFile(record.path()).find("\"ProxyServer\"=\"back\\\\slash \\\"quoted\\\":80\"\n"), std::string::npos);
}

TEST(ProxyRecordFile, AnyServerTextAndNumberRoundTripsExactly) {
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
    std::optional<std::string> file;
    for (const auto& text : texts) {
        file = ProxyRecordFile::edited(file, text, 1);
        EXPECT_EQ(value(*file, "ProxyServer"), text);
        EXPECT_EQ(value(*file, "ProxyEnable"), "1");
    }
    for (std::uint32_t number : {0u, 1u, 2u, 0xffffffffu}) {
        file = ProxyRecordFile::edited(file, std::nullopt, number);
        EXPECT_EQ(value(*file, "ProxyEnable"), std::to_string(number));
        EXPECT_EQ(value(*file, "ProxyServer"), texts[std::size(texts) - 1]);
    }
}

TEST(ProxyRecordFile, ReadsAndKeepsAFileEditedByHand) {
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
    ProxyRecordFile record(path);
    const CurrentSetting before = record.read();
    ASSERT_TRUE(before.setting) << before.why;
    EXPECT_EQ(before.setting->mode, ProxyMode::Off); // an unreadable ProxyEnable
    EXPECT_EQ(before.setting->servers, servers("hand.example:8080"));
    EXPECT_EQ(value(readFile(path), "ProxyEnable"), "dword:zz");
    EXPECT_EQ(value(readFile(path), "Missing"), std::nullopt);
    EXPECT_EQ(value(readFile(path), "ProxyServer", "HKEY_CURRENT_USER\\Software\\Nowhere"), std::nullopt);

    ASSERT_EQ(record.write({ProxyMode::Manual, std::nullopt, std::nullopt, {}}), "");
    const std::string after = readFile(path);
    EXPECT_NE(after.find("; kept comment\n"), std::string::npos);
    EXPECT_NE(after.find("\"Binary\"=hex:01,02,03,04\n"), std::string::npos);
    EXPECT_NE(after.find("@=\"default\"\n"), std::string::npos);
    EXPECT_NE(after.find("\"proxyserver\" = \"hand.example:8080\"\n\"ProxyOverride\"=\"<local>\"\n"
                         "\"ProxyEnable\"=dword:00000001\n"),
              std::string::npos)
        << after;
    EXPECT_EQ(record.read().setting,
              (ProxySetting{ProxyMode::Manual, servers("hand.example:8080"), std::vector<std::string>{}, {}}));
}

// What the record reads as: ProxyEnable is on only when its text reads as the number 1; ProxyServer names servers
// only as the entry rules take them.
TEST(ProxyRecordFile, ReadsAsTheSettingItHolds) {
    const std::string head = "Windows Registry Editor Version 5.00\n\n[" + kKey + "]\n";
    struct Case {
        std::string enable; // the data after "ProxyEnable"=, or "" for no such line
        std::string server; // likewise for ProxyServer
        ProxyMode mode;
        std::string servers; // formatted
    };
    const Case cases[] = {
        {"dword:00000001", "\"10.1.2.3:3128\"", ProxyMode::Manual, "10.1.2.3:3128"},
        {"dword:00000000", "\"10.1.2.3:3128\"", ProxyMode::Off, "10.1.2.3:3128"},
        {"dword:00000002", "", ProxyMode::Off, ""},
        {"\"1\"", "\"http=a.example:1;https=[::1]:8080\"", ProxyMode::Manual, "http=a.example:1;https=[::1]:8080"},
        {"hex(1):0a,2b,31", "", ProxyMode::Manual, ""}, // "\n+1"
        {"\" 01x\"", "", ProxyMode::Manual, ""},
        {"\"-1\"", "", ProxyMode::Off, ""},
        {"\"yes\"", "", ProxyMode::Off, ""},
        {"dword:zz", "", ProxyMode::Off, ""},
        {"", "\"a.example:1\"", ProxyMode::Off, "a.example:1"},
        {"dword:00000001", "\"proxy.example\"", ProxyMode::Manual, ""}, // no port: no server
        {"dword:00000001", "\"a b:80\"", ProxyMode::Manual, ""},
        {"dword:00000001", "dword:00000050", ProxyMode::Manual, ""},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.enable + " " + c.server);
        writeFile(dir.file("registry.reg"), head + (c.enable.empty() ? "" : "\"ProxyEnable\"=" + c.enable + "\n") +
                                                (c.server.empty() ? "" : "\"ProxyServer\"=" + c.server + "\n"));
        const CurrentSetting read = ProxyRecordFile(dir.file("registry.reg")).read();
        ASSERT_TRUE(read.setting) << read.why;
        EXPECT_EQ(read.setting->mode, c.mode);
        ASSERT_TRUE(read.setting->servers);
        EXPECT_EQ(formatProxyServers(*read.setting->servers), c.servers);
        EXPECT_EQ(read.setting->bypass, std::vector<std::string>{});
        EXPECT_EQ(read.setting->autoConfigUrl, "");
    }
    EXPECT_EQ(ProxyRecordFile(dir.file("missing.reg")).read().setting,
              (ProxySetting{ProxyMode::Off, ProxyServers{}, std::vector<std::string>{}, {}}));
}

TEST(ProxyRecordFile, FailuresSayWhyAndLeaveTheFileAsItWas) {
    TempDir dir;
    writeFile(dir.file("blocker"), "a file where a folder should be");
    const std::string blocked = ProxyRecordFile(dir.file("blocker/registry.reg")).write(ProxySetting::off());
    EXPECT_NE(blocked.find(dir.file("blocker/registry.reg")), std::string::npos) << blocked;
    EXPECT_EQ(readFile(dir.file("blocker")), "a file where a folder should be");

    // A folder where the file should be cannot be read, and is not replaced.
    std::filesystem::create_directory(dir.file("registry.reg"));
    ProxyRecordFile folder(dir.file("registry.reg"));
    const CurrentSetting read = folder.read();
    EXPECT_FALSE(read.setting);
    EXPECT_EQ(read.why.rfind("cannot read " + dir.file("registry.reg") + ": ", 0), 0u) << read.why;
    EXPECT_NE(folder.write(ProxySetting::manual(servers("a.example:1"))).find("left as it is"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("registry.reg")));
}

// Hand-edited files whose odd hex lines, once rewritten, took in the line after them.
TEST(ProxyRecordFile, OddHexLinesKeepToThemselvesWhenTheFileIsRewritten) {
    const std::string files[] = {
        std::string("\0]\\=hex\xFB\xFB\\k\\\\\\\\\\\\", 17), // ends in backslashes, no line break
        "\"Bin\"=hex:01,\\\\",
        "[HKEY_CURRENT_USER\\Other]\r\n\"Bin\"=hex:01,\\\r\r\n[HKEY_CURRENT_USER\\Next]\r\n\"Kept\"=\"yes\"\r\n",
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file);
        TempDir dir;
        writeFile(dir.file("registry.reg"), file);
        ProxyRecordFile record(dir.file("registry.reg"));
        const auto keptBefore = value(file, "Kept", "HKEY_CURRENT_USER\\Next");
        ASSERT_EQ(record.write(ProxySetting::manual(servers("a.example:1"))), "");
        ASSERT_EQ(record.write(ProxySetting::off()), "");
        const std::string after = readFile(dir.file("registry.reg"));
        EXPECT_EQ(value(after, "ProxyServer"), "a.example:1");
        EXPECT_EQ(value(after, "ProxyEnable"), "0");
        EXPECT_EQ(value(after, "Kept", "HKEY_CURRENT_USER\\Next"), keptBefore);
    }
}

// One process puts servers in force while another turns the proxy off, each 150 times: every read sees a whole
// file, and no write undoes another's (the server only ever moves on, and the other key stays).
TEST(ProxyRecordFile, TwoWriterProcessesNeitherTearTheFileNorLoseAChange) {
    TempDir dir;
    const std::string path = dir.file("registry.reg");
    writeFile(path, "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Other]\n\"Kept\"=\"yes\"\n");
    constexpr int kWrites = 150;
    const auto serverOf = [](int i) { return "a" + std::to_string(i) + ".example:" + std::to_string(i + 1); };
    pid_t children[2];
    for (int w = 0; w < 2; ++w) {
        children[w] = fork();
        ASSERT_GE(children[w], 0);
        if (children[w] == 0) {
            ProxyRecordFile record(path);
            for (int i = 0; i < kWrites; ++i) {
                const ProxySetting change =
                    w == 0 ? ProxySetting::manual(parseProxyServers(serverOf(i)).servers.value()) : ProxySetting::off();
                if (!record.write(change).empty())
                    _exit(1);
            }
            _exit(0);
        }
    }
    int statuses[2] = {-1, -1};
    int latest = -1;
    while (statuses[0] == -1 || statuses[1] == -1) {
        const std::string text = readFile(path);
        ASSERT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
        ASSERT_EQ(value(text, "Kept", "HKEY_CURRENT_USER\\Software\\Other"), "yes");
        if (const auto server = value(text, "ProxyServer")) {
            int index = latest;
            while (index + 1 < kWrites && *server != serverOf(index))
                ++index;
            ASSERT_EQ(*server, serverOf(index)) << "the server went back from " << serverOf(latest);
            latest = index;
        }
        for (int w = 0; w < 2; ++w)
            if (statuses[w] == -1 && waitpid(children[w], &statuses[w], WNOHANG) == 0)
                statuses[w] = -1;
    }
    EXPECT_EQ(statuses[0], 0);
    EXPECT_EQ(statuses[1], 0);
    EXPECT_EQ(value(readFile(path), "ProxyServer"), serverOf(kWrites - 1));
}

} // namespace
} // namespace tamberly
