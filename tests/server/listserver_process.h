#pragma once

#include <httplib.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace tamberly::test {

/// Path of the built tamberly-listserver.
const char* listServerPath();

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

/// Runs tamberly-listserver with the arguments to its end; input is fed to its standard input.
RunResult runListServer(const std::vector<std::string>& args, const std::string& input = {});

/// A running `tamberly-listserver serve`, started with --listen 127.0.0.1:0 plus the given arguments. Its port is
/// read from the "listening on" line; it is killed, if still running, when the object goes. A wrapper (a command
/// that ends by executing its arguments, such as unshare) runs the server in a setting of the test's own.
class ServerProcess {
public:
    explicit ServerProcess(const std::vector<std::string>& args, const std::vector<std::string>& wrapper = {});
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    /// The whole first line it printed.
    const std::string& firstLine() const { return m_firstLine; }
    httplib::Client client() const;
    /// Sends the signal and waits for the end; the exit code, or 128 + signal when killed by one.
    int stop(int signal);
    /// What it wrote to standard error so far (the access log).
    std::string log() const;

private:
    pid_t m_pid = -1;
    int m_stdout = -1;
    int m_port = 0;
    std::string m_firstLine;
    std::string m_logPath;
};

/// A raw connection to the server, for requests no HTTP library would send.
class RawClient {
public:
    /// Connects to 127.0.0.1:port; throws when it cannot.
    explicit RawClient(int port);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    /// Sends data; false once the server no longer takes it.
    bool send(const std::string& data);
    /// Everything the server sends until it closes the connection (or 30 s pass).
    std::string receiveAll();
    /// Whether the server has closed the connection by now, without waiting.
    bool closedByServer();
    std::size_t sent() const { return m_sent; }

private:
    int m_socket = -1;
    std::size_t m_sent = 0;
};

/// The server's answer to a GET, or status -1 when there was none.
struct Answer {
    int status = -1;
    std::string body;
    std::string contentType;
};
Answer get(const ServerProcess& server, const std::string& target);

} // namespace tamberly::test
