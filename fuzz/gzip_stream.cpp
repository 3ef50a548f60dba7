// Fuzzes the gzip stream: header parsing and inflating, from memory and from a window of
// a file that continues past the data (the stream must never read beyond the window).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "files/stream.h"
#include "files/vfs.h"

namespace {

constexpr std::int64_t kMaxOutput = 1 << 24; // stop reading decompression bombs here

std::string g_path; // private temporary file

void remove_file() {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(g_path).parent_path(), ec);
}

void drain(Stream *s, bool by_char) {
    char buf[3000];
    for (std::int64_t total = 0; total < kMaxOutput;) {
        if (by_char) {
            if (stream_getc(s) < 0) break;
            ++total;
        } else {
            std::size_t n = stream_read(s, buf, sizeof buf);
            if (n == 0) break;
            total += static_cast<std::int64_t>(n);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Stream *s = stream_open_memory(data, size, true);
    if (s) {
        drain(s, size % 2 == 0);
        if (s->compressed_used > static_cast<std::int64_t>(size)) __builtin_trap();
        vfs_close(s);
    }

    if (g_path.empty()) {
        char templ[] = "/tmp/vq-fuzz-gz-XXXXXX";
        if (!mkdtemp(templ)) std::abort();
        g_path = std::string(templ) + "/data";
        std::atexit(remove_file);
    }
    std::FILE *f = std::fopen(g_path.c_str(), "w+b");
    if (!f) return 0;
    static const char kTail[] = "BEYOND THE WINDOW";
    std::fwrite("pad", 1, 3, f);
    std::fwrite(data, 1, size, f);
    std::fwrite(kTail, 1, sizeof kTail, f);
    std::fseek(f, 3, SEEK_SET);
    s = stream_open_file(f, 3, static_cast<std::int64_t>(size), true);
    if (s) {
        drain(s, false);
        if (s->compressed_used > static_cast<std::int64_t>(size) ||
            std::ftell(s->file) > 3 + static_cast<long>(size))
            __builtin_trap();
        vfs_close(s);
    }
    return 0;
}
