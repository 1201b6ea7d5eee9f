// Qt-free figures: the list cipher against memcpy, and putting a proxy into force against one rename.

#include "bench_support.h"

#include "platform/dialogs.h"
#include "platform/linux/registry_file.h"
#include "platform/status_line.h"
#include "proxy/system_proxy.h"
#include "storage/ds_encrypt.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace tamberly::bench {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;

const std::string& listTextMiB() {
    static const std::string text = makeListTextOfSize(kMiB);
    return text;
}

void BM_Memcpy(benchmark::State& state) {
    const std::string& text = listTextMiB();
    std::string copy(text.size(), '\0');
    for (auto _ : state) {
        std::memcpy(copy.data(), text.data(), text.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_Memcpy);

// As the list store uses it: a new cipher object, the fixed key, one call.
void BM_Encrypt(benchmark::State& state) {
    const std::string& text = listTextMiB();
    for (auto _ : state) {
        dsEncrypt cipher;
        cipher.KeyString("VELTOR");
        std::string scrambled = cipher.Encrypt(text);
        benchmark::DoNotOptimize(scrambled.data());
        if (scrambled.size() != text.size())
            state.SkipWithError("the scrambled text changed length");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_Encrypt);

void BM_Rename(benchmark::State& state) {
    TempDir dir;
    const std::string names[2] = {dir.path() + "/a.reg", dir.path() + "/b.reg"};
    writeFile(names[0], std::string(200, 'x'));
    int at = 0;
    for (auto _ : state) {
        if (std::rename(names[at].c_str(), names[1 - at].c_str()) != 0)
            state.SkipWithError("rename failed");
        at = 1 - at;
    }
}
BENCHMARK(BM_Rename)->UseRealTime();

class NoDialogs final : public Dialogs {
public:
    int MsgBox(const std::string& text, int, const std::string&) override {
        m_last = text;
        return vbOK;
    }
    std::string InputBox(const std::string&, const std::string&) override { return {}; }
    const std::string& last() const { return m_last; }

private:
    std::string m_last;
};

class StatusText final : public StatusLine {
public:
    void setCaption(const std::string& text) override { m_text = text; }
    std::string caption() const override { return m_text; }

private:
    std::string m_text;
};

// Both registry writes, each an atomic replacement of registry.reg (locked, flushed to disk, renamed).
void BM_UseProxy(benchmark::State& state) {
    TempDir dir;
    RegistryFile registry(dir.path() + "/registry.reg");
    StatusText status;
    NoDialogs dialogs;
    SystemProxy proxy(registry, status, dialogs);
    for (auto _ : state) {
        if (!proxy.UseProxy("10.0.0.1:8080")) {
            state.SkipWithError(dialogs.last().c_str());
            break;
        }
    }
}
BENCHMARK(BM_UseProxy)->UseRealTime();

} // namespace
} // namespace tamberly::bench

BENCHMARK_MAIN();
