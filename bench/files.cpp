// Benchmarks of the virtual file system and the scanner: building the index over a large
// tree with archives, and scanning a large gzip-compressed text file.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>
#include <zlib.h>

#include "files/stream.h"
#include "files/vfs.h"

namespace fs = std::filesystem;

namespace {

// A temporary folder that VQ_HOME points at while the benchmark runs.
struct BenchTree {
    std::string dir;
    BenchTree() {
        char templ[] = "/tmp/vq-bench-files-XXXXXX";
        if (!mkdtemp(templ)) std::abort();
        dir = std::string(templ) + "/";
        fs::create_directories(dir + "install");
        setenv("VQ_HOME", (dir + "install").c_str(), 1);
        setenv("XDG_DATA_HOME", (dir + "xdg").c_str(), 1);
        vfs_reset_for_tests();
    }
    ~BenchTree() {
        vfs_reset_for_tests();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    void write(const std::string &rel, const std::string &data) const {
        fs::path p = dir + "install/" + rel;
        fs::create_directories(p.parent_path());
        std::FILE *f = std::fopen(p.c_str(), "wb");
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
    }
};

std::string archive(int members, const std::string &prefix) {
    std::string header, data;
    for (int i = 0; i < members; ++i) {
        std::string body = "member " + std::to_string(i) + "\n";
        header += std::to_string(body.size()) + " " + prefix + std::to_string(i) + ".txt\n";
        data += body;
    }
    return header + "-\n" + data;
}

// 10,000 files in 100 folders plus two archives of 5,000 members each.
void BM_IndexBuild(benchmark::State &state) {
    BenchTree tree;
    for (int i = 0; i < 10000; ++i)
        tree.write("tracks/t" + std::to_string(i % 100) + "/file" + std::to_string(i), "x");
    tree.write("pack1.saf", archive(5000, "models/a"));
    tree.write("pack2.saf", archive(5000, "Models/B"));
    std::size_t names = 0;
    for (auto _ : state) {
        vfs_reset_for_tests();
        names = vfs_list().size();
        benchmark::DoNotOptimize(names);
    }
    state.counters["names"] = static_cast<double>(names);
}
BENCHMARK(BM_IndexBuild)->Unit(benchmark::kMillisecond);

// Scans a 10 MB text file of vector lines stored as ".gz".
void BM_GzipScan(benchmark::State &state) {
    BenchTree tree;
    std::string text;
    for (int i = 0; text.size() < 10 * 1000 * 1000; ++i)
        text +=
            "point: " + std::to_string(i) + " [ 1.25 -3.5 " + std::to_string(i % 977) + ".0625 ]\n";
    z_stream zs{};
    deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string gz(deflateBound(&zs, text.size()), '\0');
    zs.next_in = reinterpret_cast<Bytef *>(text.data());
    zs.avail_in = static_cast<uInt>(text.size());
    zs.next_out = reinterpret_cast<Bytef *>(gz.data());
    zs.avail_out = static_cast<uInt>(gz.size());
    deflate(&zs, Z_FINISH);
    gz.resize(zs.total_out);
    deflateEnd(&zs);
    tree.write("points.txt.gz", gz);

    for (auto _ : state) {
        Stream *s = vfs_open("@points.txt", "rb");
        if (!s) {
            state.SkipWithError("open failed");
            break;
        }
        int n = 0, lines = 0;
        float v[3];
        while (stream_scan(s, " point: %d [ %f %f %f ]", &n, &v[0], &v[1], &v[2]) == 4) ++lines;
        vfs_close(s);
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_GzipScan)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
