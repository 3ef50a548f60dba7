// The configuration file: reading a full file, writing it, resetting the settings.
#include "files/config.h"
#include "files/settings.h"
#include "files/stream.h"

#include <benchmark/benchmark.h>

#include <string>

static void BM_ConfigRead(benchmark::State &state) {
    settings_reset();
    const std::string text = config_text();
    for (auto _ : state) {
        Stream *s = stream_open_memory(text.data(), text.size(), false);
        config_read_stream(s);
        stream_free(s);
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(text.size()));
}
BENCHMARK(BM_ConfigRead);

static void BM_ConfigText(benchmark::State &state) {
    settings_reset();
    for (auto _ : state) benchmark::DoNotOptimize(config_text());
}
BENCHMARK(BM_ConfigText);

static void BM_SettingsReset(benchmark::State &state) {
    for (auto _ : state) settings_reset();
}
BENCHMARK(BM_SettingsReset);

BENCHMARK_MAIN();
