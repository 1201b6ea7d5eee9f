// "Use this proxy" with every desktop setting on (registry.reg, GNOME's schema through dconf, KDE's kioslaverc and
// its signal), beside the same GNOME keys written by one minimal GIO sequence. Runs on a private session bus
// (bench/run starts one) with the real dconf service.
#include "platform/linux/desktop_registry.h"
#include "platform/linux/registry_file.h"
#include "platform/dialogs.h"
#include "platform/status_line.h"
#include "proxy/system_proxy.h"
#include "support/temp_dir.h"

#include <benchmark/benchmark.h>
#include <gio/gio.h>

#include <string>

namespace tamberly::bench {
namespace {

using test::TempDir;

class NoDialogs final : public Dialogs {
public:
    int MsgBox(const std::string& text, int, const std::string&) override {
        last = text;
        return vbOK;
    }
    std::string InputBox(const std::string&, const std::string&) override { return {}; }
    std::string last;
};

class StatusText final : public StatusLine {
public:
    void setCaption(const std::string& text) override { m_text = text; }
    std::string caption() const override { return m_text; }

private:
    std::string m_text;
};

void BM_UseProxyEveryDesktop(benchmark::State& state) {
    TempDir dir;
    RegistryFile file(dir.path() + "/registry.reg");
    DesktopProxyOptions options;
    options.gnome = options.gnomeDesktop = options.kde = true;
    options.kioslavercPath = dir.path() + "/kioslaverc";
    std::string problem;
    DesktopRegistry registry(file, options, [&](const std::string& text) { problem = text; });
    StatusText status;
    NoDialogs dialogs;
    SystemProxy proxy(registry, status, dialogs);
    for (auto _ : state) {
        if (!proxy.UseProxy("10.0.0.1:8080") || !problem.empty()) {
            state.SkipWithError((problem + dialogs.last).c_str());
            break;
        }
    }
}
BENCHMARK(BM_UseProxyEveryDesktop)->UseRealTime();

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
