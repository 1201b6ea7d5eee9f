#pragma once

#include "support/temp_dir.h"

#include <string>
#include <vector>

namespace tamberly::test {

/// A PostgreSQL server of the test's own: a fresh cluster (initdb) in a temporary folder, listening on a free
/// loopback port, run as the postgres user when the test runs as root, stopped when the object goes.
class PostgresServer {
public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    /// One server for the whole test program, started on first use.
    static PostgresServer& shared();

    /// Empty when the server runs; otherwise why it did not start.
    const std::string& error() const { return m_error; }
    int port() const { return m_port; }

    /// A new empty database, as a connection URI for --db.
    std::string createDatabase();
    /// Stops the server (fast shutdown) and starts it again on the same port, keeping the data.
    void stop();
    bool start();

private:
    std::string run(const std::string& command) const;

    TempDir m_dir;
    std::string m_bin;
    std::string m_data;
    std::string m_error;
    int m_port = 0;
    bool m_running = false;
    int m_databases = 0;
};

/// Runs SQL on a database; empty on success, else the server's message.
std::string executeSql(const std::string& conninfo, const std::string& sql);
/// The rows of a query, columns joined by "|"; one row "error: ..." when it failed.
std::vector<std::string> queryRows(const std::string& conninfo, const std::string& sql);

} // namespace tamberly::test
