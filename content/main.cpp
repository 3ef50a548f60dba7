// vqcontent: writes the installation data (see content.h).
//
//   vqcontent <install folder> [--header <file>] [--preview <folder>]
//
// --header writes the digests header (only when its text changes, so the program is not
// rebuilt for nothing); --preview writes a top-down picture of each track.
#include "content.h"

#include "files/stream.h"
#include "files/vfs.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string read_all(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool write_if_changed(const std::string &path, const std::string &text) {
    if (read_all(path) == text) return true;
    make_parent_folders(path.c_str());
    Stream *s = vfs_open(path.c_str(), "wb");
    if (!s) return false;
    if (stream_write(s, text.data(), text.size()) != text.size()) {
        vfs_close_discard(s);
        return false;
    }
    return vfs_close(s);
}

} // namespace

int main(int argc, char **argv) {
    std::string root, header, preview;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--header") == 0 && i + 1 < argc) {
            header = argv[++i];
        } else if (std::strcmp(argv[i], "--preview") == 0 && i + 1 < argc) {
            preview = argv[++i];
        } else if (argv[i][0] != '-' && root.empty()) {
            root = argv[i];
        } else {
            std::fprintf(stderr, "usage: vqcontent <install folder> [--header <file>] "
                                 "[--preview <folder>]\n");
            return 1;
        }
    }
    if (root.empty()) {
        std::fprintf(stderr, "vqcontent: no install folder given\n");
        return 1;
    }
    if (root.back() != '/') root += '/';
    auto t0 = std::chrono::steady_clock::now();
    ContentDigests digests;
    std::string error;
    std::vector<BuiltTrack> tracks;
    if (!content_generate(root, digests, error, preview.empty() ? nullptr : &tracks)) {
        std::fprintf(stderr, "vqcontent: %s\n", error.c_str());
        return 1;
    }
    if (!header.empty() && !write_if_changed(header, digests_header(digests))) {
        std::fprintf(stderr, "vqcontent: can't write %s\n", header.c_str());
        return 1;
    }
    if (!preview.empty()) {
        if (preview.back() != '/') preview += '/';
        make_parent_folders(preview.c_str());
        for (const BuiltTrack &t : tracks) {
            std::string png = track_preview_png(t, 1);
            std::ofstream(preview + t.design->dir + ".png", std::ios::binary) << png;
            std::printf("%s: loop %.0f ft, lap %.1f / %.1f / %.1f s (novice/amateur/expert), "
                        "first lap %.1f s, %zu checkpoints\n",
                        t.design->dir.c_str(), t.course.loop.length, t.lines[0].normal_lap_seconds,
                        t.lines[1].normal_lap_seconds, t.lines[2].normal_lap_seconds,
                        t.lines[2].first_lap_seconds, t.gates.data.checkpoints.size());
        }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("vqcontent: game data %s, physics %s, %.2f s\n", digests.game_data.c_str(),
                digests.physics.c_str(), seconds);
    return 0;
}
