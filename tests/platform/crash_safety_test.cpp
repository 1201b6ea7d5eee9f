// The settings file and the proxy record (registry.reg) under a writer that is killed at random moments, and under
// two writers at once: a file always reads back whole, and no completed write is ever lost.
#include "core/file_store.h"
#include "platform/linux/proxy_record_file.h"
#include "settings_writer.h"
#include "core/ini_file.h"
#include "scoped_env.h"
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

// How far each racing writer's writes show in a snapshot of the file, or why the snapshot is not a valid one.
struct RaceView {
    int progress[2] = {0, 0};
    std::string problem;
};

// One of the two files the program replaces on every write, seen the way the writer and the program see it.
struct StoreKind {
    const char* name;
    const char* mode; // the writer's
    const char* fileName;
    const char* valueLineStart;                    // how the line holding the writer's value begins
    std::function<void(const std::string&)> setUp; // other values the writes must keep
    std::function<std::string(long)> stepValue;    // the value of step n as it reads back
    std::function<std::optional<std::string>(const std::string&)> value; // the writer's value as read back
    std::function<void(const std::string&, long)> write;                 // stores step n as the writer does
    // A snapshot taken while two writers race, against the file before they started.
    std::function<RaceView(const std::string& before, const std::string& snapshot)> raceSnapshot;
    // Why the file the race left is wrong; empty when every write is there.
    std::function<std::string(const std::string& file)> raceEnd;
};

std::set<std::string> lineSet(const std::string& text) {
    const auto all = lines(text);
    return {all.begin(), all.end()};
}

bool writeValue(const std::string& file, const std::string& section, const std::string& key, const std::string& value) {
    std::string why;
    return IniFile::write(file, section, key, value, why).has_value();
}

const StoreKind kSettingsFile{
    "SettingsFile",
    "ini",
    "prefs.ini",
    "Proxylist=",
    [](const std::string& file) {
        ASSERT_TRUE(writeValue(file, "Path", "IE", "/usr/bin/firefox"));
        ASSERT_TRUE(writeValue(file, kWriterSection, kWriterKey, sequenceValue(0)));
        ASSERT_TRUE(writeValue(file, "Server", "URL", "http://127.0.0.1:8642"));
    },
    sequenceValue,
    [](const std::string& file) {
        return std::optional<std::string>(IniFile::read(file).value(kWriterSection, kWriterKey));
    },
    [](const std::string& file, long n) {
        ASSERT_TRUE(writeValue(file, kWriterSection, kWriterKey, sequenceValue(n)));
    },
    [](const std::string& before, const std::string& snapshot) {
        // Every line a racing write adds: which writer, and which of its writes.
        static const std::map<std::string, std::pair<int, int>> raceLines = [] {
            std::map<std::string, std::pair<int, int>> all;
            for (int w = 0; w < 2; ++w)
                for (int i = 0; i < kRaceWrites; ++i) {
                    const std::string tag = w == 0 ? "A" : "B";
                    all[raceName(tag, i) + "=" + ini::encodeValue(raceValue(tag, i))] = {w, i};
                }
            return all;
        }();
        std::set<std::string> known = lineSet(before);
        known.insert("");
        known.insert("[" + std::string(kRaceSection) + "]");
        RaceView view;
        for (const auto& line : lines(snapshot)) {
            if (known.count(line))
                continue;
            const auto race = raceLines.find(line);
            // Each writer's values are added in the order it wrote them.
            if (race == raceLines.end() || race->second.second != view.progress[race->second.first]) {
                view.problem = "unexpected line \"" + line + "\" in:\n" + snapshot;
                break;
            }
            ++view.progress[race->second.first];
        }
        return view;
    },
    [](const std::string& file) {
        for (const std::string tag : {"A", "B"})
            for (int i = 0; i < kRaceWrites; ++i)
                if (IniFile::read(file).value(kRaceSection, raceName(tag, i)) != raceValue(tag, i))
                    return raceName(tag, i) + " is missing";
        return std::string();
    },
};

const std::string kRecordKey(ProxyRecordFile::kKey);

std::optional<std::string> recordServer(const std::string& text) {
    return ProxyRecordFile::valueText(text, kRecordKey, "ProxyServer");
}

// The record's lines other than its two values.
std::string recordOtherLines(const std::string& text) {
    std::string out;
    for (const auto& line : lines(text))
        if (line.rfind("\"ProxyServer\"=", 0) != 0 && line.rfind("\"ProxyEnable\"=", 0) != 0)
            out += line + "\n";
    return out;
}

const StoreKind kProxyRecord{
    "ProxyRecord",
    "record",
    "registry.reg",
    "\"ProxyServer\"=",
    [](const std::string& file) {
        writeFile(file,
                  "Windows Registry Editor Version 5.00\n\n[" + kRecordKey +
                      "]\n\"ProxyOverride\"=\"<local>\"\n\n[HKEY_CURRENT_USER\\Software\\Other]\n\"Kept\"=\"yes\"\n");
        ASSERT_EQ(ProxyRecordFile(file).write(ProxySetting::manual(sequenceServers(0))), "");
    },
    [](long n) { return formatProxyServers(sequenceServers(n)); },
    [](const std::string& file) { return recordServer(readFile(file)); },
    [](const std::string& file, long n) {
        ASSERT_EQ(ProxyRecordFile(file).write(ProxySetting::manual(sequenceServers(n))), "");
    },
    // Writer A puts servers in force, writer B turns the proxy off and keeps them: a write of B's that took the file
    // from before one of A's would put an older server back.
    [](const std::string& before, const std::string& snapshot) {
        RaceView view;
        if (recordOtherLines(snapshot) != recordOtherLines(before)) {
            view.problem = "other lines changed:\n" + snapshot;
            return view;
        }
        const auto server = recordServer(snapshot);
        if (server == recordServer(before))
            return view;
        for (int i = 0; i < kRaceWrites; ++i)
            if (server == formatProxyServers(raceServers(i)))
                view.progress[0] = i + 1;
        if (view.progress[0] == 0)
            view.problem = "unexpected server in:\n" + snapshot;
        return view;
    },
    [](const std::string& file) {
        const auto server = recordServer(readFile(file));
        return server == formatProxyServers(raceServers(kRaceWrites - 1))
                   ? std::string()
                   : "the server is " + server.value_or("missing") + ", not writer A's last";
    },
};

void PrintTo(const StoreKind& kind, std::ostream* out) {
    *out << kind.name;
}

class CrashSafety : public ::testing::TestWithParam<StoreKind> {
protected:
    void SetUp() override { env.set("XDG_RUNTIME_DIR", runtime.path()); }

    TempDir dir;
    TempDir runtime; // the writers' runtime folder, where their locks live
    ScopedEnv env;
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

    const std::set<std::string> ownFiles = {kind.fileName};
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
        // At most the lock file of the write it was in, in the runtime folder; none beside the file.
        ASSERT_LE(strayFiles(runtime.path(), {}).size(), 1u) << "kill " << kill;

        const std::string text = readFile(file);
        ASSERT_EQ(otherLines(text, kind.valueLineStart), before) << "kill " << kill << ":\n" << text;
        const std::optional<std::string> value = kind.value(file);
        ASSERT_TRUE(value) << "kill " << kill << ":\n" << text;
        if (*value == kind.stepValue(done + 1)) {
            ++killsAfterTheRename;
            stored = done + 1;
        } else {
            ASSERT_EQ(*value, kind.stepValue(done)) << "kill " << kill << " after step " << done;
            stored = done;
        }
    }
    std::cout << kind.name << ": " << kKills << " kills survived, " << stored << " writes completed, "
              << killsBeforeTheFirstWrite << " kills before a run's first completed write, " << killsInTheMiddle
              << " kills in the middle of a write, " << killsAfterTheRename
              << " kills after the new file was in place but before the write returned\n";

    // The next write completes and leaves nothing of the killed ones behind.
    kind.write(file, stored + 1);
    EXPECT_EQ(kind.value(file), kind.stepValue(stored + 1));
    EXPECT_EQ(strayFiles(dir.path(), ownFiles), std::vector<std::string>{});
    EXPECT_EQ(strayFiles(runtime.path(), {}), std::vector<std::string>{});
}

// Two writers write into one file at the same time, 500 times each. Every snapshot taken meanwhile is a whole file
// in which no writer's progress ever goes back, and in the end every write is there.
TEST_P(CrashSafety, TwoWritersAtOnceLoseNothing) {
    const StoreKind& kind = GetParam();
    kind.setUp(file);
    const std::string before = readFile(file);
    Writer a({"race", kind.mode, file, "A", std::to_string(kRaceWrites)});
    Writer b({"race", kind.mode, file, "B", std::to_string(kRaceWrites)});

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
            const RaceView view = kind.raceSnapshot(before, *text);
            problem = view.problem;
            for (int w = 0; w < 2 && problem.empty(); ++w) {
                if (view.progress[w] < seen[w])
                    problem = "a write that was in the file went missing:\n" + *text;
                seen[w] = view.progress[w];
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
    EXPECT_EQ(kind.raceEnd(file), "");
    EXPECT_EQ(strayFiles(dir.path(), {kind.fileName}), std::vector<std::string>{}) << "no lock file beside the file";
    EXPECT_EQ(strayFiles(runtime.path(), {}), std::vector<std::string>{}) << "none in the runtime folder either";
    std::cout << kind.name << ": " << 2 * kRaceWrites << " writes raced, " << snapshots
              << " snapshots read whole meanwhile\n";
}

INSTANTIATE_TEST_SUITE_P(Files, CrashSafety, ::testing::Values(kSettingsFile, kProxyRecord),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace tamberly::test
