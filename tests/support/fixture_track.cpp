#include "support/fixture_track.h"

#include "files/stream.h"
#include "files/vfs.h"
#include "track/terrain_io.h"

#include <cmath>
#include <cstdio>
#include <numbers>

float fixture_hills(int i, int j) {
    return float(20.0 + 6.0 * std::sin(i * 0.37) * std::cos(j * 0.23) +
                 0.05 * ((i * 7 + j * 13) % 11));
}

Terrain fixture_terrain(const FixtureTrack &track) {
    Terrain t;
    terrain_init_flat(t, track.size_exp, track.spacing, 0.0f);
    auto height = track.height ? track.height : fixture_hills;
    float lo = INFINITY, hi = -INFINITY;
    for (int j = 0; j < t.side; j++) {
        for (int i = 0; i < t.side; i++) {
            float h = height(i, j);
            t.heights[std::size_t(i) + std::size_t(t.side) * std::size_t(j)] = h;
            lo = std::min(lo, h);
            hi = std::max(hi, h);
        }
    }
    t.min_height = lo;
    t.max_height = hi;
    t.tiles.clear();
    for (int k = 0; k < track.tile_types; k++) {
        TileType type = tile_type_default();
        type.texture_path = "@type" + std::to_string(k) + ".png";
        type.name = "type" + std::to_string(k) + ".png";
        t.tiles.push_back(type);
    }
    t.tile_codes = surface_transition_codes(t.tiles);
    int cells = 1 << track.size_exp;
    if (track.tile) {
        for (int cz = 0; cz < cells; cz++) {
            for (int cx = 0; cx < cells; cx++)
                t.tilemap[std::size_t(cx) + std::size_t(cells) * std::size_t(cz)] =
                    track.tile(cx, cz);
        }
    }
    return t;
}

namespace {

bool write_text(const std::string &name, const std::string &text) {
    Stream *s = vfs_open(name.c_str(), "wb");
    if (!s) return false;
    bool ok = stream_write(s, text.data(), text.size()) == text.size();
    if (!ok) {
        vfs_close_discard(s);
        return false;
    }
    return vfs_close(s);
}

} // namespace

bool write_fixture_track(const FixtureTrack &track) {
    Terrain t = fixture_terrain(track);
    std::string folder = "@" + track.dir;
    bool ok = terrain_save(folder.c_str(), t, track.inline_heights);
    if (!track.timing_gates.empty())
        ok = write_text(folder + "/timing_gates", track.timing_gates) && ok;
    if (track.has_desc) ok = write_text(folder + "/desc", track.desc) && ok;
    return ok;
}

std::string fixture_round_course(float cx, float cz, float radius, float gate_radius) {
    char buf[256];
    std::string text = "startinggate:\n";
    double a0 = 10.0 * std::numbers::pi / 180.0;
    // Riders face (-sin angle, -cos angle): facing the direction of increasing course angle
    // (-sin a0, cos a0) needs angle = atan2(sin a0, -cos a0).
    std::snprintf(buf, sizeof buf, "[%f 0 %f] %f\n", cx + radius * std::cos(a0),
                  cz + radius * std::sin(a0), std::atan2(std::sin(a0), -std::cos(a0)));
    text += buf;
    text += "checkpoints:\n";
    for (int k = 0; k < 4; k++) {
        double a = k * std::numbers::pi / 2.0;
        std::snprintf(buf, sizeof buf, "%f [%f 0 %f] [%f 0 %f]\n", gate_radius,
                      cx + radius * std::cos(a), cz + radius * std::sin(a), -std::sin(a),
                      std::cos(a));
        text += buf;
    }
    text += "firstlap:\n1 2 3 0\nnormallap:\n1 2 3 0\n";
    return text;
}
