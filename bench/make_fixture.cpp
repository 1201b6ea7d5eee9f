// Writes the benchmark inputs: a list text file, or a settings file holding a stored list (through the list store,
// as a download stores it) and a browser, so the program starts without looking for one. Or stalls requests, or holds
// idle connections to a server on 127.0.0.1, for the memory each one costs it.

#include "bench_support.h"

#include "core/proxy_list_store.h"
#include "core/settings.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Opens CONNECTIONS keep-alive connections to 127.0.0.1:PORT, fetches PATH once on each (so each is a connection
// that served a request and now waits for the next), prints "ready", and keeps them open for SECONDS.
int holdConnections(int port, unsigned long connections, const std::string& path, int seconds) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < connections + 64) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, connections + 64);
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    std::vector<int> sockets;
    for (unsigned long i = 0; i < connections; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
            std::cerr << "connection " << i << " failed\n";
            return 1;
        }
        sockets.push_back(fd);
    }
    // Each answer read whole: its head, then Content-Length bytes.
    for (const int fd : sockets) {
        std::string received;
        char buffer[65536];
        for (;;) {
            const auto end = received.find("\r\n\r\n");
            if (end != std::string::npos) {
                const auto at = received.find("Content-Length: ");
                const auto length = at == std::string::npos ? 0 : std::strtoul(received.c_str() + at + 16, nullptr, 10);
                if (received.size() >= end + 4 + length)
                    break;
            }
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                std::cerr << "an answer was cut short\n";
                return 1;
            }
            received.append(buffer, static_cast<std::size_t>(n));
        }
    }
    std::cout << "ready" << std::endl;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    for (const int fd : sockets)
        close(fd);
    return 0;
}

// Opens CONNECTIONS connections to 127.0.0.1:PORT, each with a small receive buffer, sends a GET of PATH on each and
// never reads the answer; prints "ready" once all are sent and keeps them open for SECONDS. What the server holds
// for them meanwhile is what a crowd of clients that never read costs it.
int stallConnections(int port, unsigned long connections, const std::string& path, int seconds) {
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    std::vector<int> sockets;
    for (unsigned long i = 0; i < connections; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int small = 4096;
        if (fd >= 0)
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
            std::cerr << "connection " << i << " failed\n";
            return 1;
        }
        sockets.push_back(fd);
    }
    // The server answers them all meanwhile, as far as the unread buffers let it.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    std::cout << "ready" << std::endl;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    for (const int fd : sockets)
        close(fd);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::string usage = "usage: tamberly_bench_fixture list|prefs ENTRIES FILE\n"
                              "       tamberly_bench_fixture hold|stall PORT CONNECTIONS PATH SECONDS\n";
    if (argc == 6 && std::string(argv[1]) == "hold")
        return holdConnections(std::atoi(argv[2]), std::strtoul(argv[3], nullptr, 10), argv[4], std::atoi(argv[5]));
    if (argc == 6 && std::string(argv[1]) == "stall")
        return stallConnections(std::atoi(argv[2]), std::strtoul(argv[3], nullptr, 10), argv[4], std::atoi(argv[5]));
    if (argc != 4) {
        std::cerr << usage;
        return 2;
    }
    const std::string what = argv[1];
    char* end = nullptr;
    const unsigned long entries = std::strtoul(argv[2], &end, 10);
    const std::string file = argv[3];
    if (*end != '\0' || (what != "list" && what != "prefs")) {
        std::cerr << usage;
        return 2;
    }
    const std::string text = tamberly::bench::makeListText(entries);
    try {
        if (what == "list") {
            tamberly::bench::writeFile(file, text);
            return 0;
        }
        tamberly::Settings settings(file);
        std::string why = tamberly::ProxyListStore(settings).save(text);
        if (why.empty())
            why = settings.setBrowserPath("/bin/true");
        if (!why.empty()) {
            std::cerr << why << "\n";
            return 1;
        }
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return 0;
}
