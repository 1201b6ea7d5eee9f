#include "core/ini_file.h"

#include "core/list_cipher.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#ifndef _WIN32
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tamberly {
namespace {

// One value read from the file at path, as each command reads it.
std::string readValue(const std::string& section, const std::string& key, const std::string& path) {
    return IniFile::read(path).value(section, key);
}

bool writeValue(const std::string& section, const std::string& key, const std::string& value, const std::string& path,
                std::string& why) {
    return IniFile::write(path, section, key, value, why).has_value();
}

bool writeValue(const std::string& section, const std::string& key, const std::string& value, const std::string& path) {
    std::string why;
    return writeValue(section, key, value, path, why);
}

using test::readFile;
using test::TempDir;
using test::writeFile;

namespace fs = std::filesystem;

// Settings as the classic program and a hand editor leave them: CRLF, a comment, mixed-case names, blanks
// around values, quoted values, a junk line and a key line without "=".
const std::string kClassic = "; written by hand\r\n"
                             "[proxy]\r\n"
                             "PROXYLIST =  8x3p5B  \r\n"
                             "\r\n"
                             "[Path]\r\n"
                             "ie=C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE\r\n"
                             "Quoted=\"C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE\"\r\n"
                             "Padded = \" two blanks  \" \r\n"
                             "Single='in single quotes'\r\n"
                             "Unpaired=\"only one quote\r\n"
                             "NewTools=\"C:\\new\\tools\"\r\n"
                             "Unc=\"\\\\server\\share\"\r\n"
                             "Doubled=\"C:\\\\dir\"\r\n"
                             "HexName=\"C:\\x64\\app\"\r\n"
                             "Empty=\r\n"
                             "just some words\r\n"
                             "[broken\r\n"
                             "  Indented  =  value with = sign\r\n"
                             "ie=second key of the same name\r\n"
                             "[Server]\r\n"
                             "URL=http://127.0.0.1:8642\r\n"
                             "[PATH]\r\n"
                             "Later=in a second section of the same name\r\n";

struct Expected {
    const char* section;
    const char* key;
    const char* value;
};

const std::vector<Expected> kClassicValues = {
    {"Proxy", "Proxylist", "8x3p5B"},
    {"PROXY", "proxylist", "8x3p5B"},
    {"Path", "IE", "C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE"},
    {"path", "Quoted", "C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE"},
    {"Path", "Padded", " two blanks  "},
    {"Path", "Single", "in single quotes"},
    {"Path", "Unpaired", "\"only one quote"},
    {"Path", "NewTools", "C:\\new\\tools"},
    {"Path", "Unc", "\\\\server\\share"},
    {"Path", "Doubled", "C:\\\\dir"},
    {"Path", "HexName", "C:\\x64\\app"},
    {"Path", "Empty", ""},
    {"Path", "Indented", "value with = sign"},
    {"Path", "just some words", ""},
    {"Path", "Later", ""},
    {"Server", "url", "http://127.0.0.1:8642"},
    {"Proxy", "IE", ""},
    {"Nowhere", "IE", ""},
};

class IniFileTest : public ::testing::Test {
protected:
    TempDir m_dir;
    std::string m_file = m_dir.file("prefs.ini");
};

TEST_F(IniFileTest, ClassicFileReadsAsTheWindowsFunctionReadsIt) {
    std::string lf = kClassic;
    for (std::size_t at; (at = lf.find("\r\n")) != std::string::npos;)
        lf.erase(at, 1);
    for (const std::string& content : {kClassic, lf}) {
        writeFile(m_file, content);
        for (const Expected& e : kClassicValues)
            EXPECT_EQ(readValue(e.section, e.key, m_file), e.value)
                << "[" << e.section << "] " << e.key << (content == lf ? " (LF)" : " (CRLF)");
    }
}

TEST_F(IniFileTest, MissingOrUnreadableFileReadsEmpty) {
    EXPECT_EQ(readValue("Path", "IE", m_file), "");
    EXPECT_EQ(readValue("Path", "IE", m_dir.file("no/such/folder/prefs.ini")), "");
    EXPECT_EQ(readValue("Path", "IE", m_dir.path()), ""); // a folder, not a file
}

TEST_F(IniFileTest, FileWithByteOrderMarkReadsItsFirstSection) {
    writeFile(m_file, "\xEF\xBB\xBF[Path]\nIE=/usr/bin/firefox\n");
    EXPECT_EQ(readValue("Path", "IE", m_file), "/usr/bin/firefox");
    ASSERT_TRUE(writeValue("Path", "IE", "/usr/bin/chromium", m_file));
    EXPECT_EQ(readFile(m_file), "\xEF\xBB\xBF[Path]\nIE=/usr/bin/chromium\n");
}

TEST_F(IniFileTest, WriteKeepsEverythingElseInPlace) {
    writeFile(m_file, kClassic);
    ASSERT_TRUE(writeValue("PROXY", "ProxyList", "new list", m_file)); // replaced in place, key keeps its spelling
    ASSERT_TRUE(writeValue("server", "Port", "8642", m_file));         // appended to its section
    ASSERT_TRUE(writeValue("Extra", "Key", " padded ", m_file));       // new section at the end
    ASSERT_TRUE(writeValue("Path", "Indented", "other", m_file));      // indentation kept

    std::string expected = kClassic;
    expected.replace(expected.find("PROXYLIST =  8x3p5B  "), 21, "PROXYLIST =new list");
    expected.replace(expected.find("  Indented  =  value with = sign"), 32, "  Indented  =other");
    expected.insert(expected.find("[PATH]"), "Port=8642\r\n");
    expected += "\r\n[Extra]\r\nKey=\" padded \"\r\n";
    EXPECT_EQ(readFile(m_file), expected);
    EXPECT_EQ(readValue("Extra", "Key", m_file), " padded ");
    EXPECT_EQ(readValue("Server", "Port", m_file), "8642");
}

TEST_F(IniFileTest, WriteCreatesFolderAndFile) {
    const std::string file = m_dir.file("config/tamberly/prefs.ini");
    ASSERT_TRUE(writeValue("Path", "IE", "/usr/bin/firefox", file));
    EXPECT_EQ(readFile(file), "[Path]\nIE=/usr/bin/firefox\n");
    ASSERT_TRUE(writeValue("Proxy", "Proxylist", "a*", file));
    EXPECT_EQ(readFile(file), "[Path]\nIE=/usr/bin/firefox\n\n[Proxy]\nProxylist=a*\n");
}

TEST_F(IniFileTest, WriteIntoFileWithoutFinalLineEnd) {
    writeFile(m_file, "[Path]\r\nIE=x");
    ASSERT_TRUE(writeValue("Path", "Other", "y", m_file));
    EXPECT_EQ(readFile(m_file), "[Path]\r\nIE=x\r\nOther=y\r\n");
    ASSERT_TRUE(writeValue("Proxy", "Proxylist", "z", m_file));
    EXPECT_EQ(readFile(m_file), "[Path]\r\nIE=x\r\nOther=y\r\n\r\n[Proxy]\r\nProxylist=z\r\n");
}

// Values that a plain line cannot carry, next to values that must stay plain.
std::vector<std::string> trickyValues() {
    std::vector<std::string> values = {
        "",
        " ",
        "  both ends  ",
        "\"",
        "'",
        "\"\"",
        "''",
        "\"quoted\"",
        "'single'",
        "\\",
        "\\\\",
        "\\x0D",
        "\"\\x0D\"",
        "\" \\\\a\"",
        "a\r\nb",
        "\r\n",
        "=starts with equals",
        ";starts like a comment",
        "[starts like a section]",
        "ends with backslash\\",
        "C:\\new\\tools",
        "tab\tinside",
        std::string("nul\0inside", 10),
        "\x7F\x80\xFF",
    };
    std::string everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte.push_back(static_cast<char>(b));
    values.push_back(everyByte);
    // One value that a plain line could not hold for three reasons at once.
    values.push_back(" \"" + std::string(ListCipher::alphabet()) + "\" ");
    return values;
}

TEST_F(IniFileTest, EveryValueRoundTripsThroughTheFile) {
    const std::vector<std::string> tricky = trickyValues();
    std::vector<std::string> values = tricky;
    for (char c : ListCipher::alphabet())
        values.push_back(std::string(1, c) + "1.2.3.4:80*" + c);
    writeFile(m_file, "; keep me\n[Proxy]\nProxylist=old\n");
    for (std::size_t i = 0; i < values.size(); ++i)
        ASSERT_TRUE(writeValue("Values", "v" + std::to_string(i), values[i], m_file));
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(readValue("Values", "v" + std::to_string(i), m_file), values[i]) << "value " << i;

    // The same, replacing one stored value in place.
    for (std::size_t i = 0; i < tricky.size(); ++i) {
        ASSERT_TRUE(writeValue("Proxy", "Proxylist", tricky[i], m_file));
        ASSERT_EQ(readValue("Proxy", "Proxylist", m_file), tricky[i]) << "value " << i;
    }
    EXPECT_EQ(readFile(m_file).substr(0, 18), "; keep me\n[Proxy]\n");
}

TEST_F(IniFileTest, LongValueReadsWhole) {
    const std::string value(300000, 'x');
    ASSERT_TRUE(writeValue("Proxy", "Proxylist", value, m_file));
    EXPECT_EQ(readValue("Proxy", "Proxylist", m_file), value);
}

TEST(IniValueTest, PlainValuesStayPlain) {
    for (const std::string value :
         {"C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE", "http://127.0.0.1:8642", "1.2.3.4:80*5.6.7.8:3128*",
          "say \"hi\"", "it's", "\"", "a=b;c", "caf\xC3\xA9", "\\\\server\\share", ""})
        EXPECT_EQ(ini::encodeValue(value), value);
}

TEST(IniValueTest, RandomBytesRoundTrip) {
    std::mt19937 rng(99);
    // Mostly the characters that need care, so quotes, escapes and blanks meet in every combination.
    const std::string symbols = std::string("\"'\\x0D ") + "\r\n\t" + std::string(1, '\0') + "aF\x80";
    std::uniform_int_distribution<std::size_t> pick(0, symbols.size() - 1);
    std::uniform_int_distribution<int> length(0, 12);
    for (int round = 0; round < 20000; ++round) {
        std::string value(static_cast<std::size_t>(length(rng)), '\0');
        for (char& c : value)
            c = symbols[pick(rng)];
        const std::string encoded = ini::encodeValue(value);
        ASSERT_EQ(encoded.find_first_of("\r\n"), std::string::npos);
        ASSERT_EQ(ini::decodeValue(encoded), value) << "encoded as " << encoded;
        ASSERT_EQ(ini::decodeValue(" \t" + encoded + "  "), value);
    }
}

TEST_F(IniFileTest, BadNamesAreRefusedAndTheFileKept) {
    writeFile(m_file, kClassic);
    const std::vector<std::pair<std::string, std::string>> names = {
        {"Proxy", "a=b"},   {"Proxy", ""},      {"Proxy", "  "},   {"", "Key"},
        {"Pro\nxy", "Key"}, {"Proxy", "Ke\ry"}, {"Proxy", ";Key"}, {"Proxy", "[Key"},
    };
    for (const auto& [section, key] : names) {
        std::string why;
        EXPECT_FALSE(writeValue(section, key, "value", m_file, why)) << section << " / " << key;
        EXPECT_FALSE(why.empty());
    }
    EXPECT_EQ(readFile(m_file), kClassic);
}

bool sameFolderEntries(const std::string& folder, const std::vector<std::string>& names) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder))
        found.push_back(entry.path().filename().string());
    std::sort(found.begin(), found.end());
    std::vector<std::string> wanted = names;
    std::sort(wanted.begin(), wanted.end());
    return found == wanted;
}

TEST_F(IniFileTest, FailedWritesReportAndLeaveTheOldFileWhole) {
    // A folder where the file should be and a folder path through a plain file: failures that hold whatever the
    // permissions. Neither leaves anything beside the files, a lock file least of all.
    writeFile(m_file, kClassic);
    std::string why;
    fs::create_directory(m_dir.file("folder.ini"));
    EXPECT_FALSE(writeValue("Proxy", "Proxylist", "x", m_dir.file("folder.ini"), why));
    EXPECT_FALSE(why.empty());

    why.clear();
    EXPECT_FALSE(writeValue("Proxy", "Proxylist", "x", m_file + "/prefs.ini", why));
    EXPECT_FALSE(why.empty());

    EXPECT_EQ(readFile(m_file), kClassic);
    EXPECT_TRUE(sameFolderEntries(m_dir.path(), {"prefs.ini", "folder.ini"}));
}

constexpr const char* kNotBinding = "file permissions do not bind this user";

// A read-only folder, then an unreadable file in a writable one: each write fails with a reason and the stored value
// stays. Returns what went wrong, empty when nothing did. Needs a user that file permissions bind.
std::string readOnlyCases(const std::string& folder) {
    const std::string file = folder + "/prefs.ini";
    if (!writeValue("Proxy", "Proxylist", "old", file))
        return "the first write failed";
    const std::string before = readFile(file);

    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    if (std::FILE* probe = std::fopen((folder + "/probe").c_str(), "w")) {
        std::fclose(probe);
        return kNotBinding;
    }
    std::string why;
    if (writeValue("Proxy", "Proxylist", "new", file, why) || why.empty())
        return "a write into a read-only folder did not fail with a reason";
    if (readValue("Proxy", "Proxylist", file) != "old")
        return "a failed write into a read-only folder changed the value";

    // The file unreadable in a writable folder: not replaced by one holding only the new value.
    fs::permissions(folder, fs::perms::owner_all);
    fs::permissions(file, fs::perms::none);
    why.clear();
    if (writeValue("Proxy", "Proxylist", "new", file, why) || why.empty())
        return "a write over an unreadable file did not fail with a reason";
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    if (readFile(file) != before)
        return "an unreadable file was replaced";
    if (!sameFolderEntries(folder, {"prefs.ini"}))
        return "a failed write left files behind";
    return {};
}

TEST_F(IniFileTest, WriteIntoReadOnlyFolderOrUnreadableFileFails) {
    const std::string folder = m_dir.file("locked");
    fs::create_directories(folder);
#ifdef _WIN32
    const std::string result = readOnlyCases(folder);
    if (result == kNotBinding)
        GTEST_SKIP() << result;
    EXPECT_EQ(result, "");
#else
    if (geteuid() != 0) {
        EXPECT_EQ(readOnlyCases(folder), "");
        return;
    }
    // Root ignores file permissions: the cases run in a child that drops to an unprivileged user.
    constexpr uid_t kNobody = 65534;
    ASSERT_EQ(chown(m_dir.path().c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(chown(folder.c_str(), kNobody, kNobody), 0);
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(channel[0]);
        std::string result = "could not drop to an unprivileged user";
        if (setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0)
            result = readOnlyCases(folder);
        const ssize_t written = write(channel[1], result.data(), result.size());
        _exit(written == static_cast<ssize_t>(result.size()) ? 0 : 1);
    }
    close(channel[1]);
    std::string result;
    char buffer[256];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
        result.append(buffer, static_cast<std::size_t>(n));
    close(channel[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(result, "");
#endif
}

} // namespace
} // namespace tamberly
