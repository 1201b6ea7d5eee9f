#include "postgres_server.h"

#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace tamberly::test {
namespace {

// The newest installed server version's programs (Debian keeps them out of PATH).
std::string serverBin() {
    namespace fs = std::filesystem;
    std::string best;
    int bestVersion = 0;
    std::error_code ec;
    for (const auto& dir : fs::directory_iterator("/usr/lib/postgresql", ec)) {
        const int version = std::atoi(dir.path().filename().c_str());
        if (version > bestVersion && fs::exists(dir.path() / "bin" / "initdb")) {
            bestVersion = version;
            best = (dir.path() / "bin").string();
        }
    }
    return best;
}

int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

} // namespace

PostgresServer::PostgresServer() {
    namespace fs = std::filesystem;
    m_bin = serverBin();
    if (m_bin.empty()) {
        m_error = "no PostgreSQL server installed (Debian package postgresql)";
        return;
    }
    // PostgreSQL refuses to run as root: the cluster belongs to the postgres user then.
    const std::string home = m_dir.file("pg");
    fs::create_directory(home);
    if (geteuid() == 0) {
        const passwd* user = getpwnam("postgres");
        if (!user) {
            m_error = "running as root and there is no postgres user";
            return;
        }
        fs::permissions(m_dir.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        if (chown(home.c_str(), user->pw_uid, user->pw_gid) != 0) {
            m_error = "cannot hand the folder to the postgres user";
            return;
        }
    }
    m_data = home + "/data";
    const auto init = run(m_bin + "/initdb -D " + m_data +
                          " -U tamberly --auth=trust --no-sync -E UTF8 --locale=C --no-instructions");
    if (!init.empty()) {
        m_error = "initdb failed: " + init;
        return;
    }
    for (int attempt = 0; attempt < 5 && !m_running; ++attempt) {
        m_port = freePort();
        start();
    }
}

PostgresServer::~PostgresServer() {
    stop();
}

PostgresServer& PostgresServer::shared() {
    static PostgresServer server;
    return server;
}

std::string PostgresServer::run(const std::string& command) const {
    const std::string log = m_dir.file("pg/command.log");
    const std::string asUser = geteuid() == 0 ? "runuser -u postgres -- " : "";
    const int status = std::system((asUser + command + " >" + log + " 2>&1 </dev/null").c_str());
    if (status == 0)
        return {};
    return "exit status " + std::to_string(status) + ": " + readFile(log);
}

bool PostgresServer::start() {
    const std::string options = "-c listen_addresses=127.0.0.1 -p " + std::to_string(m_port) +
                                " -c unix_socket_directories=" + m_dir.file("pg") +
                                " -c fsync=off -c synchronous_commit=off -c full_page_writes=off"
                                " -c max_connections=300";
    const auto started = run(m_bin + "/pg_ctl -D " + m_data + " -l " + m_dir.file("pg/server.log") + " -w -t 60 -o '" +
                             options + "' start");
    m_running = started.empty();
    m_error = m_running ? std::string() : "pg_ctl start failed: " + started + readFile(m_dir.file("pg/server.log"));
    return m_running;
}

void PostgresServer::stop() {
    if (!m_running)
        return;
    run(m_bin + "/pg_ctl -D " + m_data + " -m fast -w -t 60 stop");
    m_running = false;
}

std::string PostgresServer::createDatabase() {
    const std::string base = "postgresql://tamberly@127.0.0.1:" + std::to_string(m_port) + "/";
    const std::string name = "list" + std::to_string(++m_databases);
    const auto error = executeSql(base + "postgres", "CREATE DATABASE " + name);
    return error.empty() ? base + name : std::string();
}

std::string executeSql(const std::string& conninfo, const std::string& sql) {
    const auto rows = queryRows(conninfo, sql);
    return !rows.empty() && rows.front().rfind("error: ", 0) == 0 ? rows.front() : std::string();
}

std::vector<std::string> queryRows(const std::string& conninfo, const std::string& sql) {
    std::unique_ptr<PGconn, decltype(&PQfinish)> conn(PQconnectdb(conninfo.c_str()), PQfinish);
    if (PQstatus(conn.get()) != CONNECTION_OK)
        return {std::string("error: ") + PQerrorMessage(conn.get())};
    std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(conn.get(), sql.c_str()), PQclear);
    const auto status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        return {std::string("error: ") + PQerrorMessage(conn.get())};
    std::vector<std::string> rows;
    for (int row = 0; row < PQntuples(result.get()); ++row) {
        std::string text;
        for (int column = 0; column < PQnfields(result.get()); ++column)
            text += (column ? "|" : "") + std::string(PQgetvalue(result.get(), row, column));
        rows.push_back(text);
    }
    return rows;
}

} // namespace tamberly::test
