// Cost of one log line as the log writes it (stamp, text, flush to the kernel),
// against the same line committed to disk with fsync, which the log does not do.
#include "platform/log.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

static std::string temp_path(const char *name) {
    const char *dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/" + name;
}

static void BM_LogLine(benchmark::State &state) {
    std::string path = temp_path("vq_bench_log.txt");
    log_reset_for_tests();
    log_printf("ZELK_LOGFILE=%s", path.c_str());
    int i = 0;
    for (auto _ : state) log_printf("bench line %d with some text in it\n", i++);
    log_printf(nullptr);
    log_reset_for_tests();
    std::remove(path.c_str());
}
BENCHMARK(BM_LogLine);

static void BM_LineWithFsync(benchmark::State &state) {
    std::string path = temp_path("vq_bench_fsync.txt");
    FILE *f = std::fopen(path.c_str(), "w");
    int i = 0;
    for (auto _ : state) {
        std::fprintf(f, "[0:00:00.00] bench line %d with some text in it\n", i++);
        std::fflush(f);
        fsync(fileno(f));
    }
    std::fclose(f);
    std::remove(path.c_str());
}
BENCHMARK(BM_LineWithFsync)->Unit(benchmark::kMillisecond)->Iterations(200);

BENCHMARK_MAIN();
