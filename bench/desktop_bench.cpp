// "Use this proxy" as the window runs it, with every desktop setting on (registry.reg, GNOME's schema through dconf,
// KDE's kioslaverc and its signal), beside the same GNOME keys written by one minimal GIO sequence. Runs on a private
// session bus (bench/run starts one) with the real dconf service.
#include "commands/commands.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "support/fake_platform.h"
#include "support/fake_view.h"
#include "support/temp_dir.h"

#include <benchmark/benchmark.h>
#include <gio/gio.h>

#include <cstdlib>
#include <string>

namespace tamberly::bench {
namespace {

using test::TempDir;

void BM_UseThisProxyEveryDesktop(benchmark::State& state) {
    // bench/run gives the session a configuration folder of its own (dconf's service reads the same one) and names
    // GNOME and KDE as its desktops; KDE's file is written when it exists.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (!config || !*config) {
        state.SkipWithError("XDG_CONFIG_HOME is not set: run under bench/run");
        return;
    }
    test::writeFile(std::string(config) + "/kioslaverc", "[Proxy Settings]\nProxyType=0\n");
    TempDir dir;
    Settings settings(dir.file("tamberly/prefs.ini"));
    const auto platform = createPlatform({dir.file("tamberly"), false, std::make_unique<test::FakeTransfer>()});
    test::FakeView view;
    view.rows = {"10.0.0.1:8080"};
    view.selected = 0;
    Commands commands(view, *platform, settings);
    for (auto _ : state) {
        commands.run(Command::UseSelected);
        if (view.status != "Proxy changed to : 10.0.0.1:8080") {
            state.SkipWithError(view.status.c_str());
            break;
        }
    }
}
BENCHMARK(BM_UseThisProxyEveryDesktop)->UseRealTime();

// The least a program can do to write the same keys: one settings object, one delayed change set, apply, sync.
void BM_MinimalGio(benchmark::State& state) {
    GSettings* settings = g_settings_new("org.gnome.system.proxy");
    const char* const children[] = {"http", "https", "ftp", "socks"};
    GSettings* child[4];
    g_settings_delay(settings);
    for (int i = 0; i < 4; ++i)
        child[i] = g_settings_get_child(settings, children[i]);
    for (auto _ : state) {
        for (int i = 0; i < 3; ++i) {
            g_settings_set_string(child[i], "host", "10.0.0.1");
            g_settings_set_int(child[i], "port", 8080);
        }
        g_settings_set_string(child[3], "host", "");
        g_settings_set_int(child[3], "port", 0);
        g_settings_set_string(settings, "mode", "manual");
        g_settings_apply(settings);
        g_settings_sync();
    }
    for (auto* c : child)
        g_object_unref(c);
    g_object_unref(settings);
}
BENCHMARK(BM_MinimalGio)->UseRealTime();

} // namespace
} // namespace tamberly::bench

BENCHMARK_MAIN();
