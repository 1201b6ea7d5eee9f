// Runs one proxy command through the real handlers and the real desktop setting, as the window would, and prints
// what the user would see: "status=...", "problem=..." and "message=..." lines, then "ms=" the time it took.
// Used by the desktop tests, each in an environment of its own (private session bus, missing schema, ...).
//   desktop_proxy_tool [--limit-ms N] use ENTRY | off | show
#include "platform/linux/desktop_registry.h"
#include "platform/linux/registry_file.h"
#include "platform/linux/user_paths.h"
#include "proxy/system_proxy.h"
#include "support/fakes.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    using namespace tamberly;
    auto options = DesktopProxyOptions::fromEnvironment();
    int arg = 1;
    if (arg + 1 < argc && std::strcmp(argv[arg], "--limit-ms") == 0) {
        options.limit = std::chrono::milliseconds(std::atoi(argv[arg + 1]));
        arg += 2;
    }
    if (arg >= argc) {
        std::fprintf(stderr, "usage: %s [--limit-ms N] use ENTRY | off | show\n", argv[0]);
        return 2;
    }
    RegistryFile file(configDir() + "/registry.reg");
    DesktopRegistry registry(file, options,
                             [](const std::string& problem) { std::printf("problem=%s\n", problem.c_str()); });
    test::FakeStatusLine status;
    test::FakeDialogs dialogs;
    SystemProxy proxy(registry, status, dialogs);

    const auto started = std::chrono::steady_clock::now();
    const std::string command = argv[arg];
    if (command == "use" && arg + 1 < argc)
        proxy.UseProxy(argv[arg + 1]);
    else if (command == "off")
        proxy.DisableProxy();
    else if (command == "show")
        proxy.currproxy_Click();
    else
        return 2;
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    std::printf("status=%s\n", status.text.c_str());
    for (const auto& shown : dialogs.messages)
        std::printf("message=%s\n", shown.text.c_str());
    std::printf("ms=%lld\n", static_cast<long long>(ms));
    std::fflush(stdout);
    return 0;
}
