#include "listserver_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace tamberly::test {
namespace {

// Guards against a child that never answers; a hung test is worse than a failed one.
constexpr int kGuardMs = 60000;

std::string scratchFile(const char* what) {
    static std::atomic<int> counter{0};
    return (std::filesystem::temp_directory_path() /
            ("tamberly-listserver-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + "-" + what))
        .string();
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<char*> argumentVector(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    return argv;
}

int exitCodeOf(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

// Waits for the child's end; one that outlives the guard is killed, so a wrong behaviour fails instead of hanging.
int waitFor(pid_t pid) {
    int status = 0;
    for (int waited = 0;; waited += 10) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return exitCodeOf(status);
        if (done < 0 && errno != EINTR)
            return -1;
        if (waited == kGuardMs)
            kill(pid, SIGKILL);
        usleep(10000);
    }
}

} // namespace

const char* listServerPath() {
    return TAMBERLY_LISTSERVER_PATH;
}

RunResult runListServer(const std::vector<std::string>& args, const std::string& input) {
    const std::string inPath = scratchFile("in");
    const std::string outPath = scratchFile("out");
    const std::string errPath = scratchFile("err");
    {
        std::ofstream in(inPath, std::ios::binary);
        in << input;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> all{listServerPath()};
    all.insert(all.end(), args.begin(), args.end());
    auto argv = argumentVector(all);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, listServerPath(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start tamberly-listserver");
    RunResult result;
    result.exitCode = waitFor(pid);
    result.out = slurp(outPath);
    result.err = slurp(errPath);
    std::remove(inPath.c_str());
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return result;
}

ServerProcess::ServerProcess(const std::vector<std::string>& args, const std::vector<std::string>& wrapper)
    : m_logPath(scratchFile("log")) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make a pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    // A file, not a pipe: nobody drains the access log while the test runs.
    posix_spawn_file_actions_addopen(&actions, 2, m_logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> all{listServerPath(), "serve", "--listen", "127.0.0.1:0"};
    all.insert(all.end(), args.begin(), args.end());
    // A server on PostgreSQL needs the reporters' key; the test program's servers share one, as a cluster's must.
    const auto db = std::find(args.begin(), args.end(), "--db");
    if (db != args.end() && db + 1 != args.end() && db[1].rfind("postgresql://", 0) == 0 &&
        std::find(args.begin(), args.end(), "--reporter-secret") == args.end()) {
        struct SharedSecret {
            std::string path = scratchFile("reporter-secret");
            ~SharedSecret() { std::remove(path.c_str()); }
        };
        static const SharedSecret shared;
        all.insert(all.end(), {"--reporter-secret", shared.path});
    }
    all.insert(all.begin(), wrapper.begin(), wrapper.end());
    auto argv = argumentVector(all);
    const int rc = posix_spawnp(&m_pid, all.front().c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    m_stdout = pipeEnds[0];
    if (rc != 0) {
        close(m_stdout);
        throw std::runtime_error("cannot start tamberly-listserver");
    }

    while (m_firstLine.find('\n') == std::string::npos) {
        pollfd wait{m_stdout, POLLIN, 0};
        char buffer[256];
        const ssize_t n = poll(&wait, 1, kGuardMs) == 1 ? read(m_stdout, buffer, sizeof buffer) : -1;
        if (n <= 0) {
            const int code = stop(SIGKILL);
            throw std::runtime_error("tamberly-listserver did not start (exit " + std::to_string(code) + "): " + log());
        }
        m_firstLine.append(buffer, static_cast<std::size_t>(n));
    }
    m_firstLine.erase(m_firstLine.find('\n'));
    const auto colon = m_firstLine.rfind(':');
    m_port = colon == std::string::npos ? 0 : std::atoi(m_firstLine.c_str() + colon + 1);
}

ServerProcess::~ServerProcess() {
    if (m_pid > 0)
        stop(SIGKILL);
    std::remove(m_logPath.c_str());
}

int ServerProcess::stop(int signal) {
    if (m_pid <= 0)
        return -1;
    kill(m_pid, signal);
    const int code = waitFor(m_pid);
    m_pid = -1;
    if (m_stdout >= 0)
        close(m_stdout);
    m_stdout = -1;
    return code;
}

std::string ServerProcess::log() const {
    return slurp(m_logPath);
}

httplib::Client ServerProcess::client() const {
    httplib::Client client("127.0.0.1", m_port);
    // Targets are sent as the tests write them, so they can hold any percent-escape.
    client.set_url_encode(false);
    return client;
}

RawClient::RawClient(int port) {
    m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (m_socket < 0 || ::connect(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (m_socket >= 0)
            ::close(m_socket);
        throw std::runtime_error("cannot connect to the list server");
    }
    timeval patience{30, 0}; // only a hang reaches it
    ::setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    ::setsockopt(m_socket, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
}

RawClient::~RawClient() {
    ::close(m_socket);
}

bool RawClient::send(const std::string& data) {
    for (std::size_t sent = 0; sent < data.size();) {
        const ssize_t n = ::send(m_socket, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
        m_sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::string RawClient::receiveAll() {
    std::string data;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(m_socket, buffer, sizeof buffer, 0)) > 0;)
        data.append(buffer, static_cast<std::size_t>(n));
    return data;
}

bool RawClient::closedByServer() {
    pollfd wait{m_socket, POLLIN | POLLRDHUP, 0};
    if (::poll(&wait, 1, 0) <= 0)
        return false;
    char byte;
    return ::recv(m_socket, &byte, 1, MSG_DONTWAIT | MSG_PEEK) <= 0;
}

Answer get(const ServerProcess& server, const std::string& target) {
    auto client = server.client();
    Answer answer;
    if (auto result = client.Get(target)) {
        answer.status = result->status;
        answer.body = result->body;
        answer.contentType = result->get_header_value("Content-Type");
    }
    return answer;
}

} // namespace tamberly::test
