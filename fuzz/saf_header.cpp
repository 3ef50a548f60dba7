// Fuzzes the ".saf" archive header reader, and the index and member streams built on it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "files/stream.h"
#include "files/vfs.h"

namespace {

std::string g_dir; // private temporary folder for the archive file

void remove_dir() {
    std::error_code ec;
    std::filesystem::remove_all(g_dir, ec);
}

void make_dir() {
    if (!g_dir.empty()) return;
    char templ[] = "/tmp/vq-fuzz-saf-XXXXXX";
    if (!mkdtemp(templ)) std::abort();
    g_dir = std::string(templ) + "/";
    std::atexit(remove_dir);
    setenv("VQ_HOME", (g_dir + "install").c_str(), 1);
    setenv("XDG_DATA_HOME", (g_dir + "xdg").c_str(), 1);
    std::filesystem::create_directories(g_dir + "install");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The header reader on its own.
    Stream *s = stream_open_memory(data, size, false);
    std::vector<SafMember> members;
    bool good = saf_read_header(s, static_cast<std::int64_t>(size), members);
    vfs_close(s);
    if (!good && !members.empty()) __builtin_trap();
    std::int64_t end = 0;
    for (const SafMember &m : members) {
        if (m.size < 0 || m.offset < end || m.offset + m.size > static_cast<std::int64_t>(size))
            __builtin_trap();
        end = m.offset + m.size;
    }

    // The same bytes as an archive under the installation folder: every listed name opens
    // and delivers no more than its member holds.
    make_dir();
    std::string path = g_dir + "install/fuzz.saf";
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    vfs_reset_for_tests();
    int opened = 0;
    for (const std::string &name : vfs_list()) {
        if (++opened > 64) break;
        std::string v = "@" + name;
        Stream *m = vfs_open(v.c_str(), "rb");
        if (!m) continue;
        std::int64_t got = 0;
        char buf[4096];
        for (std::size_t n; (n = stream_read(m, buf, sizeof buf)) > 0 && got < (1 << 24);)
            got += static_cast<std::int64_t>(n);
        if (!m->compressed && got > static_cast<std::int64_t>(size)) __builtin_trap();
        vfs_close(m);
    }
    vfs_reset_for_tests();
    return 0;
}
