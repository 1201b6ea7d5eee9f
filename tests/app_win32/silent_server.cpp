// A server on 127.0.0.1 that takes every connection and never answers, for the window test's request that waits:
//   tamberly_silent_server     prints "listening on 127.0.0.1:PORT", then holds each connection until killed
#include <cstdio>
#include <vector>

#include <winsock2.h>

int main() {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 1;
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    if (listener == INVALID_SOCKET || ::bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener, 16) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
        return 1;
    }
    std::printf("listening on 127.0.0.1:%d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    // Held, never read from or answered: the client waits until it gives up.
    std::vector<SOCKET> held;
    for (SOCKET client; (client = ::accept(listener, nullptr, nullptr)) != INVALID_SOCKET;)
        held.push_back(client);
    return 0;
}
