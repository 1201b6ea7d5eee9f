// Qt-free figures: the list cipher against memcpy, and putting a proxy into force against one rename.

#include "bench_support.h"

#include "core/list_cipher.h"
#include "platform/platform.h"
#include "platform/system_proxy.h"
#include "support/fake_platform.h"

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
void BM_ListCipher(benchmark::State& state) {
    const std::string& text = listTextMiB();
    for (auto _ : state) {
        std::string scrambled = ListCipher().apply(text);
        benchmark::DoNotOptimize(scrambled.data());
        if (scrambled.size() != text.size())
            state.SkipWithError("the scrambled text changed length");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ListCipher);

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

// One change through the real platform with the desktop left alone: registry.reg replaced atomically (locked,
// flushed to disk, renamed) and read back.
void BM_RecordOnly(benchmark::State& state) {
    TempDir dir;
    const auto platform = createPlatform({dir.path(), true, std::make_unique<test::FakeTransfer>()});
    const ProxySetting change = ProxySetting::manual(*parseProxyServers("10.0.0.1:8080").servers);
    for (auto _ : state) {
        const ApplyOutcome outcome = platform->systemProxy().apply(change);
        if (!outcome.recorded()) {
            state.SkipWithError(outcome.failure().c_str());
            break;
        }
    }
}
BENCHMARK(BM_RecordOnly)->UseRealTime();

} // namespace
} // namespace tamberly::bench

BENCHMARK_MAIN();
