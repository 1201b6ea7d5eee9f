// Drives the platform the way the program does, in the environment it is started in, and prints what happened as
// "key=value" lines. The desktop tests run it, each in an environment of its own (a private session bus with the
// real dconf service, no schema, no bus, KDE, ...).
//
//   desktop_proxy_tool [--leave-alone] [--bypass HOST,HOST...] OPERATION
//     use SERVERS     puts SERVERS (host:port, or the per-protocol form) in force
//     off [SERVERS]   turns the proxy off, keeping the servers (or writing SERVERS)
//     auto [URL]      an automatic proxy: the script at URL, or detection
//     current         the setting in force
//     places          the places a change is written to
//     page            opens the desktop's own proxy page
//     command NAME [ROW]  runs a command as the window does, over a list holding ROW selected: use (Use this
//                     proxy), use-and-launch, off (No proxy), show (Show current proxy); prints each "status=" and
//                     "message=" the user would see
//     hold-kde-lock MILLISECONDS  takes kioslaverc's lock as a write does, prints "held", holds it that long, then
//                     prints "changed-while-held=" 1 or 0 and lets go
//
// A change prints "recorded=", then "record=", "gnome=", "kde=" with each place's state ("written", "not-present",
// "failed") and "<place>.why=" its sentence, then "failure=" and "problems=" as the commands show them. "current"
// prints "mode=", "servers=", "bypass=" and "url=", or "why=".
#include "commands/commands.h"
#include "core/file_store.h"
#include "core/settings.h"
#include "platform/linux/kde_config_lock.h"
#include "platform/linux/kde_proxy_setting.h"
#include "platform/linux/user_paths.h"
#include "platform/platform.h"
#include "platform/system_proxy.h"
#include "support/fake_platform.h"
#include "support/fake_view.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace tamberly;

struct Request {
    bool leaveDesktopAlone = false;
    std::optional<std::vector<std::string>> bypass;
    std::string operation;
    std::vector<std::string> operands;
};

void print(const std::string& key, const std::string& value) {
    std::printf("%s=%s\n", key.c_str(), value.c_str());
}

std::vector<std::string> splitCommas(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= text.size() && !text.empty()) {
        const auto comma = std::min(text.find(',', start), text.size());
        out.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return out;
}

std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& part : parts)
        out += (out.empty() ? "" : ",") + part;
    return out;
}

// Where a place's lines go: record, gnome, kde, or place for one the tool does not know.
std::string placeKey(const std::string& name) {
    if (name == "registry.reg")
        return "record";
    if (name.find("GNOME") != std::string::npos)
        return "gnome";
    if (name.find("KDE") != std::string::npos)
        return "kde";
    return "place";
}

const char* stateName(BackendOutcome::State state) {
    switch (state) {
    case BackendOutcome::State::Written:
        return "written";
    case BackendOutcome::State::NotPresent:
        return "not-present";
    case BackendOutcome::State::Failed:
        return "failed";
    }
    return "?";
}

const char* modeName(ProxyMode mode) {
    switch (mode) {
    case ProxyMode::Off:
        return "off";
    case ProxyMode::Manual:
        return "manual";
    case ProxyMode::Automatic:
        return "auto";
    }
    return "?";
}

// Servers named on the command line; exits with a message when they are not servers.
ProxyServers serversFrom(const std::string& text) {
    ServersParse parsed = parseProxyServers(text);
    if (!parsed.servers) {
        std::fprintf(stderr, "desktop_proxy_tool: %s: %s\n", text.c_str(), parsed.why.c_str());
        std::exit(2);
    }
    return *parsed.servers;
}

int apply(Platform& platform, ProxySetting change, const Request& request) {
    change.bypass = request.bypass;
    const ApplyOutcome outcome = platform.systemProxy().apply(change);
    print("recorded", outcome.recorded() ? "1" : "0");
    for (const auto& backend : outcome.backends) {
        const std::string key = placeKey(backend.name);
        print(key, stateName(backend.state));
        if (!backend.why.empty())
            print(key + ".why", backend.why);
    }
    if (!outcome.failure().empty())
        print("failure", outcome.failure());
    if (!outcome.problems().empty())
        print("problems", outcome.problems());
    return 0;
}

int use(Platform& platform, const Request& request) {
    if (request.operands.size() != 1)
        return 2;
    return apply(platform, ProxySetting::manual(serversFrom(request.operands[0])), request);
}

int off(Platform& platform, const Request& request) {
    if (request.operands.size() > 1)
        return 2;
    ProxySetting change = ProxySetting::off();
    if (!request.operands.empty())
        change.servers = serversFrom(request.operands[0]);
    return apply(platform, change, request);
}

int automatic(Platform& platform, const Request& request) {
    if (request.operands.size() > 1)
        return 2;
    return apply(platform,
                 {ProxyMode::Automatic, std::nullopt, std::nullopt,
                  request.operands.empty() ? std::string() : request.operands[0]},
                 request);
}

int current(Platform& platform, const Request&) {
    const CurrentSetting current = platform.systemProxy().current();
    if (!current.setting) {
        print("why", current.why);
        return 0;
    }
    const ProxySetting& setting = *current.setting;
    print("mode", modeName(setting.mode));
    print("servers", setting.servers ? formatProxyServers(*setting.servers) : "<none>");
    print("bypass", setting.bypass ? joined(*setting.bypass) : "<none>");
    print("url", setting.autoConfigUrl);
    return 0;
}

int places(Platform& platform, const Request&) {
    for (const auto& place : platform.systemProxy().places())
        print("place", place);
    return 0;
}

int page(Platform& platform, const Request&) {
    print("page", platform.systemProxy().openSettingsPage() ? "1" : "0");
    return 0;
}

int command(Platform& platform, const Request& request) {
    static const std::map<std::string, Command> commands = {{"use", Command::UseSelected},
                                                            {"use-and-launch", Command::UseSelectedAndLaunch},
                                                            {"off", Command::TurnProxyOff},
                                                            {"show", Command::ShowCurrentProxy}};
    if (request.operands.empty() || request.operands.size() > 2 || !commands.count(request.operands[0]))
        return 2;
    test::FakeView view;
    if (request.operands.size() == 2) {
        view.rows = {request.operands[1]};
        view.selected = 0;
    }
    Settings settings(configDir() + "/prefs.ini");
    Commands(view, platform, settings).run(commands.at(request.operands[0]));
    for (const auto& status : view.statuses)
        print("status", status);
    for (const auto& message : view.messages)
        print("message", message.text);
    return 0;
}

int holdKdeLock(Platform&, const Request& request) {
    if (request.operands.size() != 1)
        return 2;
    const std::string path = kde_proxy::defaultPath();
    KdeConfigLock lock(path);
    if (const std::string why = lock.take(std::chrono::seconds(3)); !why.empty()) {
        print("why", why);
        return 1;
    }
    const auto before = file_store::read(path);
    print("held", "1");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(request.operands[0].c_str())));
    print("changed-while-held", file_store::read(path) == before ? "0" : "1");
    std::fflush(stdout);
    return 0;
}

const std::map<std::string, std::function<int(Platform&, const Request&)>> kOperations = {
    {"use", use},       {"off", off},   {"auto", automatic},  {"current", current},
    {"places", places}, {"page", page}, {"command", command}, {"hold-kde-lock", holdKdeLock},
};

int usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--leave-alone] [--bypass HOST,HOST...] use SERVERS | off [SERVERS] | auto [URL] | "
                 "current | places | page\n",
                 program);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    Request request;
    int arg = 1;
    for (; arg < argc && std::strncmp(argv[arg], "--", 2) == 0; ++arg) {
        if (std::strcmp(argv[arg], "--leave-alone") == 0)
            request.leaveDesktopAlone = true;
        else if (std::strcmp(argv[arg], "--bypass") == 0 && arg + 1 < argc)
            request.bypass = splitCommas(argv[++arg]);
        else
            return usage(argv[0]);
    }
    if (arg >= argc || !kOperations.count(argv[arg]))
        return usage(argv[0]);
    request.operation = argv[arg];
    request.operands.assign(argv + arg + 1, argv + argc);

    PlatformSetup setup;
    setup.settingsFolder = configDir();
    setup.leaveDesktopAlone = request.leaveDesktopAlone;
    setup.transfer = std::make_unique<test::FakeTransfer>();
    const std::unique_ptr<Platform> platform = createPlatform(std::move(setup));

    const int result = kOperations.at(request.operation)(*platform, request);
    std::fflush(stdout);
    return result == 2 ? usage(argv[0]) : result;
}
