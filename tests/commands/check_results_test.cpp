// The last check's results kept across a restart, and the commands that use them: the fastest working proxy, a random
// pick among the working ones, and the list sorted by the check.

#include "commands/check_results.h"
#include "commands/proxy_commands.h"
#include "commands_fixture.h"
#include "core/proxy_list_store.h"

#include <gmock/gmock.h>

#include <filesystem>

using testing::ElementsAre;
using testing::IsEmpty;

namespace tamberly::test {
namespace {

std::vector<KeptResult> sample() {
    return {{"b:2", true, 200, Anonymity::Anonymous, Tunnel::Yes, "anonymous · tunnel · 200 ms", 1765400000},
            {"c:3", true, 100, Anonymity::Elite, Tunnel::No, "100 ms", 1765400001},
            {"d:4", false, -1, Anonymity::Unknown, Tunnel::Unknown, "refused", 1765400002},
            {"[2001:db8::1]:8080", true, 150, Anonymity::Transparent, Tunnel::Unknown, "150 ms", 1765400003}};
}

TEST(CheckResults, RoundTripThroughTheFile) {
    const TempDir dir;
    const std::string path = dir.file("cache/tamberly/check-results.txt");
    ASSERT_EQ(CheckResults(path).replace(sample()), "") << "the folder is made when missing";
    CheckResults read(path);
    read.load();
    EXPECT_EQ(read.all(), sample());
    ASSERT_NE(read.find("c:3"), nullptr);
    EXPECT_EQ(read.find("c:3")->latencyMs, 100);
    EXPECT_EQ(read.find("e:5"), nullptr);
    std::vector<std::string> files;
    for (const auto& file : std::filesystem::directory_iterator(dir.file("cache/tamberly")))
        files.push_back(file.path().filename().string());
    EXPECT_THAT(files, ElementsAre("check-results.txt")) << "no temporary file left behind";
}

TEST(CheckResults, ADamagedOrForeignFileReadsAsNoResults) {
    const std::string good = CheckResults::format(sample());
    const std::string cases[] = {
        "",
        "\x7f"
        "ELF\x02\x01\x01\0\0\0",
        "[Proxy]\nProxylist=abc\n",
        "tamberly-check-results 2\n",
        good.substr(0, good.size() - 5), // cut short
        "tamberly-check-results 1\nb:2\t1\tfast\t-\t-\t1\t200 ms\n",
        "tamberly-check-results 1\nb:2\t2\t200\t-\t-\t1\t200 ms\n",
        "tamberly-check-results 1\nb:2\t1\t200\tsecret\t-\t1\t200 ms\n",
        "tamberly-check-results 1\nb:2\t1\t200\t-\t-\n",
        "tamberly-check-results 1\n\t1\t200\t-\t-\t1\t200 ms\n",
    };
    const TempDir dir;
    for (const std::string& text : cases) {
        SCOPED_TRACE(testing::PrintToString(text));
        EXPECT_EQ(CheckResults::parse(text), std::nullopt);
        writeFile(dir.file("results"), text);
        CheckResults read(dir.file("results"));
        read.load();
        EXPECT_TRUE(read.empty());
    }
    CheckResults missing(dir.file("none"));
    missing.load();
    EXPECT_TRUE(missing.empty());
}

class KeptResultsTest : public CommandsTest {
protected:
    /// The stored list and the results a check kept, then start-up.
    void startWith(const std::string& list, std::vector<KeptResult> kept) {
        ProxyListStore(settings).save(list);
        CheckResults(platform.cache + "/check-results.txt").replace(std::move(kept));
        commands.startUp();
    }
    std::string inForce() const { return formatProxyServers(*platform.proxy.setting.servers); }
};

TEST_F(KeptResultsTest, StartUpShowsTheKeptMarksForTheRowsOfTheListNow) {
    startWith("a:1*c:3*d:4*b:2*", sample());
    EXPECT_THAT(view.marks, ElementsAre(RowMark{}, RowMark{true, "100 ms"}, RowMark{false, "refused"},
                                        RowMark{true, "anonymous · tunnel · 200 ms"}));
}

TEST_F(KeptResultsTest, UseFastestPutsTheFastestWorkingRowInForce) {
    startWith("a:1*b:2*c:3*d:4*", sample());
    run(Command::UseFastest);
    EXPECT_EQ(inForce(), "c:3");
    EXPECT_EQ(view.status, "Proxy changed to : c:3");
    EXPECT_THAT(platform.launcher_.launches, IsEmpty());
}

TEST_F(KeptResultsTest, UseFastestWithoutAWorkingEntryAsksForACheckFirst) {
    struct Case {
        const char* name;
        std::string list;
        std::vector<KeptResult> kept;
        const char* status;
    };
    const Case cases[] = {
        {"no check yet", "a:1*b:2*", {}, kNoWorkingText},
        {"none worked", "d:4*", sample(), kNoWorkingText},
        {"the working ones are not in the list now", "a:1*e:5*", sample(), kNoWorkingText},
        {"empty list", "", sample(), kEmptyListText},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startWith(c.list, c.kept);
        run(Command::UseFastest);
        EXPECT_EQ(view.status, c.status);
        EXPECT_THAT(platform.proxy.applied, IsEmpty());
    }
}

TEST_F(KeptResultsTest, RandomPicksAmongTheWorkingEntriesWhenThereAreAny) {
    startWith("a:1*b:2*c:3*d:4*e:5*", sample());
    platform.random_.draws = {0.0, 0.99};
    run(Command::UseRandomAndLaunch);
    EXPECT_EQ(inForce(), "c:3");
    run(Command::UseRandomAndLaunch);
    EXPECT_EQ(inForce(), "b:2");

    // Without a working entry in the list, any row, as before any check.
    startWith("a:1*d:4*e:5*", sample());
    platform.random_.draws = {0.99};
    run(Command::UseRandomAndLaunch);
    EXPECT_EQ(inForce(), "e:5");
}

TEST_F(KeptResultsTest, SortedViewIsRememberedAndLeavesTheStoredOrderAlone) {
    startWith("a:1*b:2*c:3*d:4*e:5*", sample());
    EXPECT_THAT(view.order, IsEmpty());
    EXPECT_FALSE(commands.sortedByCheck());
    run(Command::ToggleSortByCheck);
    EXPECT_THAT(view.order, ElementsAre(2, 1, 0, 3, 4)) << "working fastest first, then the rest as stored";
    EXPECT_EQ(Settings(prefs).value("Window", "SortByCheck"), "1");
    EXPECT_EQ(ProxyListStore(settings).load(), "a:1*b:2*c:3*d:4*e:5*");

    // A new start sorts again; a new list is sorted as it comes.
    view.order.clear();
    commands.startUp();
    EXPECT_THAT(view.order, ElementsAre(2, 1, 0, 3, 4));
    platform.transfer_.answer = [](const std::string&) { return TransferResult{true, "d:4*b:2*", {}}; };
    run(Command::DownloadList);
    EXPECT_THAT(view.order, ElementsAre(1, 0));

    run(Command::ToggleSortByCheck);
    EXPECT_THAT(view.order, IsEmpty());
    EXPECT_EQ(Settings(prefs).value("Window", "SortByCheck"), "0");
}

} // namespace
} // namespace tamberly::test
