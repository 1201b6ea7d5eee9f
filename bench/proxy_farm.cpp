// Many HTTP proxies on loopback for the proxy check's benchmark: N listeners spread over 127.0.0.0/8 addresses
// (127.0.1.1, 127.0.1.2, ...; ports chosen by the system) plus the test URL and the judge on 127.0.0.1, all in one
// epoll loop. Every proxy answers a GET of the test URL with the test URL's own answer, as a caching proxy would, a
// GET of the judge with the judge's answer as it would come through an elite proxy (the proxy's own address, the
// request's header lines), and CONNECT with 200 (then a request inside the tunnel with the test URL's answer), so
// that the figure is the checker's work and not the farm's.
// Usage: tamberly_bench_proxy_farm COUNT ENTRIES_FILE   (prints "ready URL JUDGE_URL" once every listener is up)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "net/check_grades.h"

namespace {

const char kAnswer[] = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 17\r\n"
                       "Cache-Control: no-store\r\nConnection: close\r\n\r\ntamberly-check-ok";

const char kTunnel[] = "HTTP/1.1 200 Connection established\r\n\r\n";

// The judge's answer to a request whose head is given: seen from the peer for a direct request, from the proxy's
// own address (the listener's) for one through it.
std::string judgeAnswer(int fd, const std::string& head) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    const bool proxied = head.compare(0, 11, "GET http://") == 0;
    if (proxied)
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    else
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    tamberly::JudgeAnswer answer{text, {}};
    for (std::size_t at = head.find("\r\n") + 2, end; (end = head.find("\r\n", at)) != std::string::npos && end > at;
         at = end + 2) {
        const std::string line = head.substr(at, end - at);
        const std::size_t colon = line.find(':');
        const std::size_t value = line.find_first_not_of(' ', colon + 1);
        if (colon != std::string::npos)
            answer.headers.emplace_back(line.substr(0, colon), value == std::string::npos ? "" : line.substr(value));
    }
    const std::string body = tamberly::formatJudgeAnswer(answer);
    return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
}

int listenOn(const std::string& address, int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in in{};
    in.sin_family = AF_INET;
    ::inet_pton(AF_INET, address.c_str(), &in.sin_addr);
    socklen_t length = sizeof in;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) != 0 || ::listen(fd, 256) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&in), &length) != 0) {
        std::fprintf(stderr, "proxy farm: cannot listen on %s: %s\n", address.c_str(), std::strerror(errno));
        std::exit(1);
    }
    port = ntohs(in.sin_port);
    return fd;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tamberly_bench_proxy_farm COUNT ENTRIES_FILE\n");
        return 2;
    }
    const int count = std::atoi(argv[1]);
    if (count < 1 || count > 60000) {
        std::fprintf(stderr, "proxy farm: COUNT must be 1 to 60000\n");
        return 2;
    }
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur < static_cast<rlim_t>(count) + 1024) {
        std::fprintf(stderr, "proxy farm: %d listeners need more open files than the limit of %llu\n", count,
                     static_cast<unsigned long long>(files.rlim_cur));
        return 1;
    }

    const int poll = ::epoll_create1(EPOLL_CLOEXEC);
    std::unordered_set<int> listeners;
    const auto watch = [&](int fd) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        ::epoll_ctl(poll, EPOLL_CTL_ADD, fd, &event);
    };
    int testPort = 0;
    const int test = listenOn("127.0.0.1", testPort);
    listeners.insert(test);
    watch(test);
    std::ofstream entries(argv[2]);
    for (int i = 0; i < count; ++i) {
        const std::string address = "127.0." + std::to_string(1 + i / 250) + "." + std::to_string(1 + i % 250);
        int port = 0;
        const int fd = listenOn(address, port);
        listeners.insert(fd);
        watch(fd);
        entries << address << ':' << port << '\n';
    }
    entries.close();
    if (!entries) {
        std::fprintf(stderr, "proxy farm: cannot write %s\n", argv[2]);
        return 1;
    }
    std::printf("ready http://127.0.0.1:%d/Tamberly/check.php http://127.0.0.1:%d/Tamberly/judge.php\n", testPort,
                testPort);
    std::fflush(stdout);

    std::unordered_map<int, std::string> heads;
    // Connections with a tunnel open: what comes through gets the test URL's answer; the end closes them.
    std::unordered_set<int> tunnels;
    epoll_event events[256];
    while (true) {
        const int n = ::epoll_wait(poll, events, 256, -1);
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (listeners.count(fd)) {
                int client;
                while ((client = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0) {
                    heads[client];
                    watch(client);
                }
                continue;
            }
            char buffer[4096];
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got < 0 && errno == EAGAIN)
                continue;
            std::string& head = heads[fd];
            if (got > 0)
                head.append(buffer, static_cast<std::size_t>(got));
            if (got > 0 && head.find("\r\n\r\n") == std::string::npos && head.size() < 65536)
                continue;
            if (got > 0 && !tunnels.count(fd) && head.compare(0, 8, "CONNECT ") == 0) {
                ::send(fd, kTunnel, sizeof kTunnel - 1, MSG_NOSIGNAL);
                tunnels.insert(fd);
                head.clear();
                continue;
            }
            if (got > 0 && head.compare(0, 4, "GET ") == 0) {
                if (head.find("/Tamberly/judge.php ") < head.find("\r\n")) {
                    const std::string answer = judgeAnswer(fd, head);
                    ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
                } else {
                    ::send(fd, kAnswer, sizeof kAnswer - 1, MSG_NOSIGNAL);
                }
            }
            tunnels.erase(fd);
            heads.erase(fd);
            ::close(fd);
        }
    }
}
