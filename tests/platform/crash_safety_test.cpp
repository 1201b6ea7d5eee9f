// The settings file and the registry file under a writer that is killed at random moments, and under two writers
// at once: a file always reads back whole, and no completed write is ever lost.
#include "core/file_store.h"
#include "platform/linux/registry_file.h"
#include "settings_writer.h"
#include "storage/ini_file.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tamberly::test {
namespace {

constexpr int kKills = 200;
constexpr int kRaceWrites = 500;        // per writer: two writers make 1,000 writes to one file
constexpr int kMaxSleepMicros = 30'000; // start-up and the first few writes

/// A running settings_writer with its standard input and output on pipes; killed and reaped when destroyed.
class Writer {
public:
    explicit Writer(const std::vector<std::string>& args) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("cannot make pipes");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        std::vector<std::string> all = {TAMBERLY_SETTINGS_WRITER};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int error = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        m_in = in[1];
        m_out = out[0];
        if (error != 0)
            throw std::runtime_error("cannot start " + all[0]);
    }
    ~Writer() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            reap();
        }
        release();
        ::close(m_out);
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    /// Lets a racing writer start.
    void release() {
        if (m_in >= 0)
            ::close(m_in);
        m_in = -1;
    }
    void kill() { ::kill(m_pid, SIGKILL); }
    /// Waits for the end; the raw wait status.
    int reap() {
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
        return status;
    }
    /// Everything it printed, up to its end.
    std::string output() {
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = ::read(m_out, buffer, sizeof buffer)) != 0;) {
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

private:
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

/// The file's lines without the one holding the writer's value, so everything else can be compared exactly.
std::string otherLines(const std::string& text, const std::string& valueLineStart) {
    std::string out;
    for (const auto& line : lines(text))
        if (line.rfind(valueLineStart, 0) != 0)
            out += line + "\n";
    return out;
}

/// Entries of a folder other than the named ones: what a writer left behind.
std::vector<std::string> strayFiles(const std::string& folder, const std::set<std::string>& expected) {
    std::vector<std::string> stray;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (!expected.count(entry.path().filename().string()))
            stray.push_back(entry.path().filename().string());
    return stray;
}

// One of the two files the program replaces on every write, seen the way the writer and the program see it.
struct StoreKind {
    const char* name;
    const char* mode; // the writer's
    const char* fileName;
    const char* valueLineStart;                    // how the line holding the writer's value begins
    std::function<void(const std::string&)> setUp; // other values the writes must keep
    std::function<std::optional<std::string>(const std::string&)> value; // the writer's value as read back
    std::function<void(const std::string&, const std::string&)> write;   // stores a value as the writer does
    std::function<std::optional<std::string>(const std::string&, const std::string&)> raceValue;
    std::function<std::string(const std::string&, const std::string&)> raceLine; // a racing value's line
};

const std::string kServerName = std::string(kRegistryKey) + "\\ProxyServer";

const StoreKind kSettingsFile{
    "SettingsFile",
    "ini",
    "prefs.ini",
    "Proxylist=",
    [](const std::string& file) {
        ASSERT_TRUE(WriteINI("Path", "IE", "/usr/bin/firefox", file));
        ASSERT_TRUE(WriteINI(kWriterSection, kWriterKey, sequenceValue(0), file));
        ASSERT_TRUE(WriteINI("Server", "URL", "http://127.0.0.1:8642", file));
    },
    [](const std::string& file) { return std::optional<std::string>(ReadINI(kWriterSection, kWriterKey, file)); },
    [](const std::string& file, const std::string& value) {
        ASSERT_TRUE(WriteINI(kWriterSection, kWriterKey, value, file));
    },
    [](const std::string& file, const std::string& name) {
        return std::optional<std::string>(ReadINI(kRaceSection, name, file));
    },
    [](const std::string& name, const std::string& value) { return name + "=" + ini::encodeValue(value); },
};

std::optional<std::string> registryText(const std::string& file, const std::string& fullName) {
    const auto value = RegistryFile(file).RegRead(fullName);
    if (!value)
        return std::nullopt;
    return regValueText(*value);
}

const StoreKind kRegistryFile{
    "RegistryFile",
    "registry",
    "registry.reg",
    "\"ProxyServer\"=",
    [](const std::string& file) {
        RegistryFile registry(file);
        registry.RegWrite(std::string(kRegistryKey) + "\\ProxyEnable", std::uint32_t{1}, "REG_DWORD");
        registry.RegWrite(kServerName, sequenceValue(0), "REG_SZ");
        registry.RegWrite(std::string(kRegistryKey) + "\\ProxyOverride", std::string("<local>"), "REG_SZ");
    },
    [](const std::string& file) { return registryText(file, kServerName); },
    [](const std::string& file, const std::string& value) {
        RegistryFile(file).RegWrite(kServerName, value, "REG_SZ");
    },
    [](const std::string& file, const std::string& name) {
        return registryText(file, std::string(kRegistryKey) + "\\" + name);
    },
    [](const std::string& name, const std::string& value) { return "\"" + name + "\"=\"" + value + "\""; },
};

void PrintTo(const StoreKind& kind, std::ostream* out) {
    *out << kind.name;
}

class CrashSafety : public ::testing::TestWithParam<StoreKind> {
protected:
    TempDir dir;
    std::string file = dir.file(GetParam().fileName);
};

// The writer is killed at a random moment, before, during or between writes. Afterwards the file holds the value
// of the last write it reported done, or of the write it was in, never anything else, and all other lines as
// they were.
TEST_P(CrashSafety, AKilledWriterLeavesTheOldOrTheNewFileWhole) {
    const StoreKind& kind = GetParam();
    kind.setUp(file);
    const std::string before = otherLines(readFile(file), kind.valueLineStart);
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> sleepMicros(0, kMaxSleepMicros);

    const std::set<std::string> ownFiles = {kind.fileName, std::string(kind.fileName) + ".lock"};
    long stored = 0; // the step whose value the file holds
    int killsAfterTheRename = 0, killsBeforeTheFirstWrite = 0, killsInTheMiddle = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        Writer writer({"sequence", kind.mode, file, std::to_string(stored + 1)});
        std::this_thread::sleep_for(std::chrono::microseconds(sleepMicros(random)));
        writer.kill();
        const int status = writer.reap();
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself before the kill";

        long done = stored;
        for (const auto& line : lines(writer.output())) {
            ASSERT_EQ(std::stol(line), done + 1) << "steps are reported in order";
            done = std::stol(line);
        }
        killsBeforeTheFirstWrite += done == stored;
        // The temporary file of the write it was in; earlier ones were cleared by the writes after them.
        const std::vector<std::string> stray = strayFiles(dir.path(), ownFiles);
        ASSERT_LE(stray.size(), 1u) << "kill " << kill << " left " << ::testing::PrintToString(stray);
        killsInTheMiddle += stray.size();

        const std::string text = readFile(file);
        ASSERT_EQ(otherLines(text, kind.valueLineStart), before) << "kill " << kill << ":\n" << text;
        const std::optional<std::string> value = kind.value(file);
        ASSERT_TRUE(value) << "kill " << kill << ":\n" << text;
        if (*value == sequenceValue(done + 1)) {
            ++killsAfterTheRename;
            stored = done + 1;
        } else {
            ASSERT_EQ(*value, sequenceValue(done)) << "kill " << kill << " after step " << done;
            stored = done;
        }
    }
    std::cout << kind.name << ": " << kKills << " kills survived, " << stored << " writes completed, "
              << killsBeforeTheFirstWrite << " kills before a run's first completed write, " << killsInTheMiddle
              << " kills in the middle of a write, " << killsAfterTheRename
              << " kills after the new file was in place but before the write returned\n";

    // The next write completes and leaves nothing of the killed ones behind.
    kind.write(file, sequenceValue(stored + 1));
    EXPECT_EQ(kind.value(file), sequenceValue(stored + 1));
    EXPECT_EQ(strayFiles(dir.path(), ownFiles), std::vector<std::string>{});
}

// Two writers store values of their own into one file at the same time, 500 each. Every snapshot taken meanwhile
// is a whole file whose values are the first ones of each writer, and in the end all 1,000 are there.
TEST_P(CrashSafety, TwoWritersAtOnceLoseNothing) {
    const StoreKind& kind = GetParam();
    kind.setUp(file);
    Writer a({"race", kind.mode, file, "A", std::to_string(kRaceWrites)});
    Writer b({"race", kind.mode, file, "B", std::to_string(kRaceWrites)});

    std::set<std::string> known;
    for (const auto& line : lines(readFile(file)))
        known.insert(line);
    known.insert("");
    known.insert("[" + std::string(kRaceSection) + "]");
    // Every line a racing write adds: which writer, and which of its writes.
    std::map<std::string, std::pair<int, int>> raceLines;
    for (int w = 0; w < 2; ++w)
        for (int i = 0; i < kRaceWrites; ++i) {
            const std::string tag = w == 0 ? "A" : "B";
            raceLines[kind.raceLine(raceName(tag, i), raceValue(tag, i))] = {w, i};
        }

    // Watches the file from this thread while the writers run.
    std::atomic<bool> done{false};
    int snapshots = 0;
    std::string problem;
    std::thread watcher([&] {
        int seen[2] = {0, 0};
        while (!done && problem.empty()) {
            const std::optional<std::string> text = file_store::read(file);
            if (!text || text->empty() || text->back() != '\n') {
                problem = "a snapshot is not a whole file";
                break;
            }
            ++snapshots;
            std::this_thread::sleep_for(std::chrono::microseconds(500)); // leave the writers the processor
            int count[2] = {0, 0};
            for (const auto& line : lines(*text)) {
                if (known.count(line))
                    continue;
                const auto race = raceLines.find(line);
                // Each writer's values are added in the order it wrote them.
                if (race == raceLines.end() || race->second.second != count[race->second.first]) {
                    problem = "unexpected line \"" + line + "\" in:\n" + *text;
                    break;
                }
                ++count[race->second.first];
            }
            for (int w = 0; w < 2 && problem.empty(); ++w) {
                if (count[w] < seen[w])
                    problem = "a write that was in the file went missing";
                seen[w] = count[w];
            }
        }
    });
    a.release();
    b.release();
    const int statusA = a.reap();
    const int statusB = b.reap();
    done = true;
    watcher.join();

    ASSERT_TRUE(WIFEXITED(statusA) && WEXITSTATUS(statusA) == 0);
    ASSERT_TRUE(WIFEXITED(statusB) && WEXITSTATUS(statusB) == 0);
    EXPECT_EQ(problem, "");
    for (const std::string tag : {"A", "B"})
        for (int i = 0; i < kRaceWrites; ++i)
            ASSERT_EQ(kind.raceValue(file, raceName(tag, i)), raceValue(tag, i)) << raceName(tag, i);

    // How often the file passed from one writer to the other, read from the order the values were added in.
    int handovers = 0;
    int last = -1;
    for (const auto& line : lines(readFile(file))) {
        if (const auto race = raceLines.find(line); race != raceLines.end()) {
            handovers += last >= 0 && last != race->second.first;
            last = race->second.first;
        }
    }
    std::cout << kind.name << ": " << 2 * kRaceWrites << " writes raced, the file changed hands " << handovers
              << " times, " << snapshots << " snapshots read whole meanwhile\n";
}

INSTANTIATE_TEST_SUITE_P(Files, CrashSafety, ::testing::Values(kSettingsFile, kRegistryFile),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace tamberly::test
