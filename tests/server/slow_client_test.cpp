// Slow and idle connections against the list server: thousands of request heads trickled a byte at a time must not
// hold up the list, must cost little memory, and must be closed at the head deadline; at the connection cap the
// longest idle connection makes room.
#include "listserver_process.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace tamberly::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::string kList = "/Tamberly/update.php";
// The server's deadline for a whole request head.
constexpr auto kHeadDeadline = std::chrono::seconds(5);
// The goal for the list's 99th-percentile latency while the slow connections trickle, in ms.
constexpr double kListP99Ms = 50;

int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

// True once the server closed the connection (or reset it); never blocks.
bool closedByServer(int fd) {
    pollfd wait{fd, POLLIN | POLLRDHUP, 0};
    if (::poll(&wait, 1, 0) <= 0)
        return false;
    char byte;
    const ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT);
    return n <= 0;
}

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// Enough descriptors for the test's own connections; the server raises its own limit.
bool raiseDescriptorLimit(rlim_t wanted) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return false;
    if (limit.rlim_cur >= wanted)
        return true;
    limit.rlim_cur = wanted;
    limit.rlim_max = std::max(limit.rlim_max, wanted); // raising the hard limit works for root only
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

// 5,000 connections trickle a request head a byte each second, while a client fetches the list over and over.
TEST(ListServerSlowClients, TrickledHeadsNeitherHoldUpTheListNorOutliveTheirDeadline) {
    constexpr int kSlow = 5000;
    if (!raiseDescriptorLimit(kSlow + 256))
        GTEST_SKIP() << "cannot open " << kSlow << " connections here (open-file limit)";
    TempDir dir;
    const std::string db = dir.file("list.db");
    // One address opens them all here: the cap per client is the subject of a test of its own.
    ServerProcess server({"--db", db, "--max-connections-per-client", "1000000", "--allow-private-entries"});
    ASSERT_EQ(get(server, "/Tamberly/addproxy.php?proxy=10.0.0.1:80").status, 200);

    struct Slow {
        int fd;
        Clock::time_point opened;
        Clock::time_point closed{};
    };
    std::vector<Slow> slow;
    slow.reserve(kSlow);
    for (int i = 0; i < kSlow; ++i) {
        const int fd = connectTo(server.port());
        ASSERT_GE(fd, 0) << "connection " << i;
        slow.push_back({fd, Clock::now()});
    }

    std::atomic<bool> trickling{true};
    std::vector<double> latenciesMs;
    int wrongAnswers = 0;
    long mostResidentKiB = 0;
    std::thread fetcher([&] {
        while (trickling) {
            const auto start = Clock::now();
            const auto answer = get(server, kList);
            latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            if (answer.status != 200 || answer.body != "10.0.0.1:80*")
                ++wrongAnswers;
            mostResidentKiB = std::max(mostResidentKiB, residentKiB(server.pid()));
            std::this_thread::sleep_for(milliseconds(5));
        }
    });

    // One byte of the head to every open connection each second, until the server has closed them all.
    const std::string head = "GET /Tamberly/update.php HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + std::string(64, 'z');
    const auto giveUp = slow.back().opened + kHeadDeadline + std::chrono::seconds(20);
    int open = kSlow;
    for (std::size_t round = 0; open > 0 && Clock::now() < giveUp; ++round) {
        const auto roundEnd = Clock::now() + std::chrono::seconds(1);
        while (open > 0 && Clock::now() < roundEnd) {
            std::vector<pollfd> waits;
            std::vector<Slow*> waiting;
            for (auto& s : slow) {
                if (s.closed == Clock::time_point{}) {
                    waits.push_back({s.fd, POLLIN | POLLRDHUP, 0});
                    waiting.push_back(&s);
                }
            }
            if (::poll(waits.data(), waits.size(), 100) > 0) {
                for (std::size_t i = 0; i < waits.size(); ++i) {
                    if (waits[i].revents && closedByServer(waits[i].fd)) {
                        waiting[i]->closed = Clock::now();
                        --open;
                    }
                }
            }
        }
        for (auto& s : slow)
            if (s.closed == Clock::time_point{})
                ::send(s.fd, &head[round % head.size()], 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    trickling = false;
    fetcher.join();

    EXPECT_EQ(open, 0) << "trickling connections still open long after the head deadline";
    auto earliest = Clock::duration::max();
    auto latest = Clock::duration::zero();
    for (const auto& s : slow) {
        ::close(s.fd);
        if (s.closed == Clock::time_point{})
            continue;
        earliest = std::min(earliest, s.closed - s.opened);
        latest = std::max(latest, s.closed - s.opened);
    }
    // Opened before the server accepted it, so never closed before the deadline; a generous margin after it.
    EXPECT_GE(earliest, kHeadDeadline);
    EXPECT_LE(latest, kHeadDeadline + std::chrono::seconds(3));

    ASSERT_FALSE(latenciesMs.empty());
    EXPECT_EQ(wrongAnswers, 0);
    std::sort(latenciesMs.begin(), latenciesMs.end());
    const double p99 = latenciesMs[latenciesMs.size() * 99 / 100];
    EXPECT_LT(p99, kListP99Ms) << "99th percentile of " << latenciesMs.size() << " list fetches";
    EXPECT_GT(mostResidentKiB, 0);
    EXPECT_LT(mostResidentKiB, 200 * 1024) << "KiB resident";
    std::cout << kSlow << " trickling connections: " << latenciesMs.size() << " list fetches, p99 " << p99
              << " ms, max " << latenciesMs.back() << " ms; server resident at most " << mostResidentKiB / 1024
              << " MiB; closed " << std::chrono::duration<double>(earliest).count() << " to "
              << std::chrono::duration<double>(latest).count() << " s after opening\n";
    EXPECT_EQ(server.stop(SIGTERM), 0);
}

// At the cap a new connection takes the place of the one idle the longest; a slow but timely head is answered.
TEST(ListServerSlowClients, AtTheCapTheLongestIdleConnectionMakesRoom) {
    TempDir dir;
    ServerProcess server({"--db", dir.file("list.db"), "--threads", "1", "--max-connections", "3"});
    const int oldest = connectTo(server.port());
    std::this_thread::sleep_for(milliseconds(100));
    const int second = connectTo(server.port());
    const int third = connectTo(server.port());
    ASSERT_GE(oldest, 0);
    ASSERT_GE(second, 0);
    ASSERT_GE(third, 0);
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_FALSE(closedByServer(oldest));

    // A request sent a byte every 20 ms, well within the deadline, on a fourth connection.
    const int timely = connectTo(server.port());
    ASSERT_GE(timely, 0);
    for (const char c : std::string("GET /Tamberly/update.php HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")) {
        ASSERT_EQ(::send(timely, &c, 1, MSG_NOSIGNAL), 1);
        std::this_thread::sleep_for(milliseconds(20));
    }
    timeval patience{10, 0};
    ::setsockopt(timely, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    char answer[512] = {};
    EXPECT_GT(::recv(timely, answer, sizeof answer - 1, 0), 0);
    EXPECT_EQ(std::string(answer).rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;

    EXPECT_TRUE(closedByServer(oldest)) << "the longest idle connection made room";
    EXPECT_FALSE(closedByServer(second));
    EXPECT_FALSE(closedByServer(third));
    for (const int fd : {oldest, second, third, timely})
        ::close(fd);
    EXPECT_EQ(get(server, kList).status, 200);
    EXPECT_EQ(server.stop(SIGTERM), 0);
}

} // namespace
} // namespace tamberly::test
