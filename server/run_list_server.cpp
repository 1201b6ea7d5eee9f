#include "run_list_server.h"

#include "admin_commands.h"
#include "platform/linux/user_paths.h"
#include "command_line.h"
#include "program_output.h"
#include "proxy_store.h"
#include "reporter_secret.h"
#include "serve_command.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <vector>

namespace tamberly {
namespace {

std::string openDatabasePath(const std::string& given, std::string& error) {
    namespace fs = std::filesystem;
    std::string path = given.empty() ? defaultDatabasePath() : given;
    if (path.empty()) {
        error = "cannot find a place for the database: set XDG_DATA_HOME or HOME, or give --db PATH";
        return {};
    }
    const fs::path folder = fs::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty() && !fs::exists(folder, ec)) {
        fs::create_directories(folder, ec);
        if (ec) {
            error = "cannot create the folder " + folder.string() + ": " + ec.message();
            return {};
        }
        // The default folder holds only this program's data.
        if (given.empty())
            fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
    }
    return path;
}

int runCommand(const CommandLine& commandLine) {
    std::string error;
    const bool postgres = isPostgresLocation(commandLine.database);
    const std::string path = postgres ? commandLine.database : openDatabasePath(commandLine.database, error);
    if (path.empty())
        return failure(error);
    const auto opened = openProxyStore(path);
    ProxyStore& store = *opened;
    if (postgres && commandLine.command == CommandLine::Command::Serve && commandLine.reporterSecret.empty())
        return failure("serving a PostgreSQL database needs --reporter-secret FILE (the same file on every "
                       "instance)");
    std::optional<ReporterSecret> secret;
    if (commandLine.command == CommandLine::Command::Serve) {
        // Kept apart from the database, so that a copy of the database tells nobody who reported what.
        std::string secretPath = commandLine.reporterSecret;
        if (secretPath.empty())
            secretPath = path + ".reporter-secret";
        secret = ReporterSecret::load(secretPath);
    }
    const bool allowPrivate = commandLine.service.allowPrivateEntries;
    switch (commandLine.command) {
    case CommandLine::Command::Serve:
        return serveList(store, *openProxyStore(path), commandLine, std::move(*secret));
    case CommandLine::Command::Import:
        return importFile(store, commandLine.argument, allowPrivate);
    case CommandLine::Command::Withdrawn:
        return listWithdrawn(store, allowPrivate);
    case CommandLine::Command::Export:
        return exportList(store, commandLine.service);
    case CommandLine::Command::Pending:
        return listPending(store);
    case CommandLine::Command::Approve:
        return approveEntry(store, commandLine.argument);
    case CommandLine::Command::Remove:
        return removeEntry(store, commandLine.argument);
    case CommandLine::Command::Help:
        break;
    }
    return 0;
}

} // namespace

std::string defaultDatabasePath() {
    const std::string data = xdgBaseDir("XDG_DATA_HOME", ".local/share");
    return data.empty() ? std::string() : data + "/tamberly/listserver.db";
}

int runListServer(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    CommandLine commandLine;
    std::string error;
    if (!parseCommandLine(args, commandLine, error))
        return usageError(error);
    if (commandLine.command == CommandLine::Command::Help) {
        std::cout << usageText();
        return 0;
    }
    try {
        return runCommand(commandLine);
    } catch (const std::exception& e) {
        return failure(e.what());
    }
}

} // namespace tamberly
