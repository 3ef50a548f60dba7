#include "track/terrain_io.h"

#include "files/stream.h"
#include "files/vfs.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/process.h"
#include "track/grid_image.h"
#include "track/hooks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string path_in(const char *folder, const char *file) {
    return std::string(folder) + "/" + file;
}

void cant_open(const std::string &path) {
    show_messagef("Can't open '%.950s'", path.c_str());
}

float height_of(const TerrainHeader &h, unsigned u) {
    return float(double(h.min_height) +
                 double(u) * (double(h.max_height) - double(h.min_height)) / 65535.0);
}

bool read_inline_heights(Stream *s, const TerrainHeader &header, Terrain &t, Ripemd160 &digest) {
    std::size_t samples = std::size_t(t.side) * std::size_t(t.side);
    std::int64_t remaining = stream_remaining(s);
    if (remaining >= 0 && std::uint64_t(remaining) < samples * 2) return false;
    t.heights.resize(samples);
    std::vector<std::uint8_t> chunk(1 << 16);
    std::size_t done = 0;
    while (done < samples) {
        std::size_t want = std::min(samples - done, chunk.size() / 2);
        if (stream_read(s, chunk.data(), want * 2) != want * 2) return false;
        ripemd160_update(digest, chunk.data(), want * 2);
        for (std::size_t k = 0; k < want; k++) {
            unsigned u = unsigned(chunk[2 * k]) | unsigned(chunk[2 * k + 1]) << 8;
            t.heights[done + k] = height_of(header, u);
        }
        done += want;
    }
    return true;
}

void read_png_heights(const char *folder, const TerrainHeader &header, Terrain &t,
                      Ripemd160 &digest) {
    std::size_t samples = std::size_t(t.side) * std::size_t(t.side);
    std::vector<std::uint16_t> values;
    std::string path = path_in(folder, "terrain.png");
    Stream *s = vfs_open(path.c_str(), "rb");
    bool ok = s && grid_png_read_grey16(s, t.side, values);
    if (s) vfs_close(s);
    if (!ok) {
        log_printf("Can't read '%.950s': every height is the minimum\n", path.c_str());
        values.assign(samples, 0);
    }
    t.heights.resize(samples);
    std::vector<std::uint8_t> bytes(samples * 2);
    for (std::size_t k = 0; k < samples; k++) {
        bytes[2 * k] = std::uint8_t(values[k] & 255);
        bytes[2 * k + 1] = std::uint8_t(values[k] >> 8);
        t.heights[k] = height_of(header, values[k]);
    }
    ripemd160_update(digest, bytes.data(), bytes.size());
}

bool read_shading(const char *folder, Terrain &t) {
    bool halve = false;
    std::string path = path_in(folder, "shadingx2.ppm");
    Stream *s = vfs_open(path.c_str(), "rb");
    if (!s) {
        path = path_in(folder, "shading.ppm");
        s = vfs_open(path.c_str(), "rb");
        halve = true;
    }
    if (!s) {
        cant_open(path);
        return false;
    }
    GridImageHeader header;
    std::string error;
    if (!grid_image_read_header(s, false, header, error)) {
        vfs_close(s);
        log_printf("%s\n", error.c_str());
        show_message("Error reading shading");
        return false;
    }
    if (header.width != t.side || header.height != t.side) {
        vfs_close(s);
        show_messagef("Bad shading dimensions (%dx%d)", header.width, header.height);
        return false;
    }
    bool ok = grid_image_read_pixels(s, header, 3, t.shading);
    vfs_close(s);
    if (!ok) {
        show_message("Error reading shading");
        return false;
    }
    if (halve) {
        for (std::uint8_t &v : t.shading) v = std::uint8_t(v / 2);
    }
    return true;
}

bool read_shadows(const char *folder, Terrain &t) {
    std::size_t samples = std::size_t(t.side) * std::size_t(t.side);
    std::string path = path_in(folder, "shadows.pgm");
    Stream *s = vfs_open(path.c_str(), "rb");
    if (!s) {
        t.shadows.assign(samples, 0);
        return true;
    }
    GridImageHeader header;
    std::string error;
    if (!grid_image_read_header(s, true, header, error)) {
        vfs_close(s);
        log_printf("%s\n", error.c_str());
        show_message("Error reading shadows");
        return false;
    }
    if (header.width != t.side || header.height != t.side) {
        vfs_close(s);
        log_printf("Bad shadow dimensions (%dx%d)\n", header.width, header.height);
        t.shadows.assign(samples, 0);
        return true;
    }
    bool ok = grid_image_read_pixels(s, header, 1, t.shadows);
    vfs_close(s);
    if (!ok) {
        show_message("Error reading shadows");
        return false;
    }
    for (std::uint8_t &v : t.shadows) v = std::uint8_t(255 - v);
    return true;
}

bool read_surfaces(const char *folder, Terrain &t) {
    std::string path = path_in(folder, "tileinfo");
    Stream *s = vfs_open(path.c_str(), "rb");
    if (s) {
        tileinfo_read(s, t.tiles);
    } else {
        path = path_in(folder, "texturelist");
        s = vfs_open(path.c_str(), "rb");
        if (!s) {
            cant_open(path);
            return false;
        }
        texturelist_read(s, t.tiles);
    }
    vfs_close(s);
    if (t.tiles.empty()) {
        log_printf("'%.950s' defines no surface type: using the default type\n", path.c_str());
        t.tiles.push_back(tile_type_default());
    }
    t.tile_codes = surface_transition_codes(t.tiles);
    return true;
}

bool read_tilemap(const char *folder, Terrain &t) {
    std::string path = path_in(folder, "tilemap");
    Stream *s = vfs_open(path.c_str(), "rb");
    if (!s) {
        cant_open(path);
        return false;
    }
    std::size_t cells = std::size_t(1) << (2 * t.size_exp);
    t.tilemap.assign(cells, 0);
    std::size_t got = stream_read(s, t.tilemap.data(), cells);
    vfs_close(s);
    if (got < cells) {
        // The cells past the end of a short map get the first surface type.
        log_printf("'%.950s' holds %zu of %zu cells; the rest are type 0\n", path.c_str(), got,
                   cells);
        std::fill(t.tilemap.begin() + std::ptrdiff_t(got), t.tilemap.end(), std::uint8_t(0));
    }
    int last = int(t.tiles.size()) - 1;
    for (std::uint8_t &c : t.tilemap) {
        if (int(c) > last) c = std::uint8_t(last);
    }
    return true;
}

void read_decals(const char *folder, Terrain &t) {
    t.decals.clear();
    std::string path = path_in(folder, "decals");
    Stream *s = vfs_open(path.c_str(), "rb");
    if (!s) return;
    char name[1024];
    for (;;) {
        Decal d;
        if (stream_scan(s, " [ %f %f ] %f %f %f %1023s", &d.x, &d.z, &d.angle, &d.size, &d.aspect,
                        name) != 6) {
            break;
        }
        if (!std::isfinite(d.x) || !std::isfinite(d.z) || !std::isfinite(d.angle) ||
            !std::isfinite(d.size) || !std::isfinite(d.aspect)) {
            break;
        }
        d.texture = name;
        t.decals.push_back(d);
    }
    vfs_close(s);
}

// The header of a terrain as it will be written ("%d %f %f %f\n" with the actual range)
// and that range as the reader will see it, so the quantisation matches the reader.
struct HeightRange {
    char text[160];
    float min, max;
};

HeightRange height_range(const Terrain &t) {
    float lo = 0.0f, hi = 0.0f;
    if (!t.heights.empty()) {
        auto [mn, mx] = std::minmax_element(t.heights.begin(), t.heights.end());
        lo = *mn;
        hi = *mx;
    }
    HeightRange r;
    std::snprintf(r.text, sizeof r.text, "%d %f %f %f\n", t.size_exp, double(t.spacing), double(lo),
                  double(hi));
    r.min = lo;
    r.max = hi;
    Stream *s = stream_open_memory(r.text, std::strlen(r.text), false);
    if (s) {
        int n;
        float sp, a, b;
        if (stream_scan(s, "%d %f %f %f", &n, &sp, &a, &b) == 4) {
            r.min = a;
            r.max = b;
        }
        stream_free(s);
    }
    return r;
}

// Heights outside the printed range (by its rounding) are clamped into it.
std::uint16_t quantise(float h, const HeightRange &r) {
    double span = double(r.max) - double(r.min);
    if (!(span > 0.0)) return 0; // flat terrain
    double v = (double(h) - r.min) / span * 65535.0 + 0.5;
    if (!(v >= 0.0)) v = 0.0;
    if (v > 65535.0) v = 65535.0;
    return std::uint16_t(v);
}

Stream *open_for_write(const std::string &path) {
    Stream *s = vfs_open(path.c_str(), "wb");
    if (!s) cant_open(path);
    return s;
}

bool finish_write(Stream *s, bool ok) {
    if (!ok) {
        vfs_close_discard(s);
        return false;
    }
    return vfs_close(s);
}

void fmt_float(char *buf, std::size_t size, float v) {
    std::snprintf(buf, size, "%.9g", double(v));
}

} // namespace

bool terrain_read_header(Stream *s, TerrainHeader &header) {
    header = TerrainHeader();
    int n = 0;
    float spacing = 0, lo = 0, hi = 0;
    if (stream_scan(s, "%d %f %f %f ", &n, &spacing, &lo, &hi) != 4) {
        show_message("Bad height field parameters");
        show_message("Error reading heights");
        return false;
    }
    if (n < kTerrainMinSizeExp || n > kTerrainMaxSizeExp) {
        show_messagef("Bad height field parameters: size %d is outside %d..%d", n,
                      kTerrainMinSizeExp, kTerrainMaxSizeExp);
        return false;
    }
    if (!(spacing > 0.0f) || !std::isfinite(spacing) ||
        !std::isfinite(spacing * float(1 << (n + 1)))) {
        show_messagef("Bad height field parameters: spacing %g must be above 0 and finite",
                      double(spacing));
        return false;
    }
    if (!std::isfinite(lo) || !std::isfinite(hi) || hi < lo) {
        show_messagef("Bad height field parameters: heights %g to %g", double(lo), double(hi));
        return false;
    }
    header.size_exp = n;
    header.spacing = spacing;
    header.min_height = lo;
    header.max_height = hi;
    if (stream_peek(s) == ':') {
        stream_getc(s);
        header.inline_heights = true;
    }
    return true;
}

bool terrain_load(const char *folder, int ground_method) {
    terrain_free();
    Terrain &t = terrain();
    std::string path = path_in(folder, "terrain.hf");
    Stream *s = vfs_open(path.c_str(), "rb");
    if (!s) {
        cant_open(path);
        return false;
    }
    TerrainHeader header;
    if (!terrain_read_header(s, header)) {
        vfs_close(s);
        return false;
    }
    t.size_exp = header.size_exp;
    t.side = (1 << (header.size_exp + 1)) + 1;
    t.spacing = header.spacing;
    t.extent = header.spacing * float(1 << (header.size_exp + 1));
    t.min_height = header.min_height;
    t.max_height = header.max_height;
    t.ground_method = ground_method;

    Ripemd160 digest;
    ripemd160_init(digest);
    if (header.inline_heights) {
        bool ok = read_inline_heights(s, header, t, digest);
        vfs_close(s);
        if (!ok) {
            show_message("Error reading heights");
            terrain_clear(t);
            return false;
        }
    } else {
        vfs_close(s);
        read_png_heights(folder, header, t, digest);
    }
    t.height_digest = ripemd160_final(digest);
    if (process_flags().debug_level >= 2)
        log_printf("%s\n", digest_to_hex(t.height_digest).c_str());

    if (!read_shading(folder, t) || !read_shadows(folder, t) || !read_surfaces(folder, t) ||
        !read_tilemap(folder, t)) {
        terrain_clear(t);
        return false;
    }
    read_decals(folder, t);
    const TrackHooks &hooks = track_hooks();
    if (hooks.terrain_render_setup) hooks.terrain_render_setup(t, ground_method);
    return true;
}

void terrain_free() {
    Terrain &t = terrain();
    const TrackHooks &hooks = track_hooks();
    if (t.render && hooks.terrain_render_free) hooks.terrain_render_free(t);
    terrain_clear(t);
}

bool terrain_write_heights(const char *folder, const Terrain &t, bool inline_heights) {
    HeightRange range = height_range(t);
    std::size_t samples = t.heights.size();
    std::vector<std::uint16_t> values(samples);
    for (std::size_t k = 0; k < samples; k++) values[k] = quantise(t.heights[k], range);

    Stream *s = open_for_write(path_in(folder, "terrain.hf"));
    if (!s) return false;
    bool ok = stream_puts(s, range.text) >= 0;
    if (inline_heights) {
        ok = ok && stream_putc(s, ':') != EOF;
        std::vector<std::uint8_t> bytes(samples * 2);
        for (std::size_t k = 0; k < samples; k++) {
            bytes[2 * k] = std::uint8_t(values[k] & 255);
            bytes[2 * k + 1] = std::uint8_t(values[k] >> 8);
        }
        ok = ok && stream_write(s, bytes.data(), bytes.size()) == bytes.size();
    }
    if (!finish_write(s, ok)) return false;
    if (inline_heights) return true;
    Stream *png = open_for_write(path_in(folder, "terrain.png"));
    if (!png) return false;
    return finish_write(png, grid_png_write_grey16(png, values.data(), t.side, t.side));
}

bool terrain_write_shading(const char *folder, const Terrain &t) {
    Stream *s = open_for_write(path_in(folder, "shadingx2.ppm"));
    if (!s) return false;
    if (!finish_write(s, grid_write_ppm(s, t.shading.data(), t.side, t.side))) return false;
    std::vector<std::uint8_t> full(t.shading.size());
    for (std::size_t k = 0; k < full.size(); k++)
        full[k] = std::uint8_t(std::min(255, 2 * int(t.shading[k])));
    s = open_for_write(path_in(folder, "shading.ppm"));
    if (!s) return false;
    return finish_write(s, grid_write_ppm(s, full.data(), t.side, t.side));
}

bool terrain_write_shadows(const char *folder, const Terrain &t) {
    std::vector<std::uint8_t> grey(t.shadows.size());
    for (std::size_t k = 0; k < grey.size(); k++) grey[k] = std::uint8_t(255 - t.shadows[k]);
    Stream *s = open_for_write(path_in(folder, "shadows.pgm"));
    if (!s) return false;
    return finish_write(s, grid_write_pgm(s, grey.data(), t.side, t.side));
}

bool terrain_write_tilemap(const char *folder, const Terrain &t) {
    Stream *s = open_for_write(path_in(folder, "tilemap"));
    if (!s) return false;
    return finish_write(s, stream_write(s, t.tilemap.data(), t.tilemap.size()) == t.tilemap.size());
}

bool terrain_write_decals(const char *folder, const Terrain &t) {
    Stream *s = open_for_write(path_in(folder, "decals"));
    if (!s) return false;
    bool ok = true;
    for (const Decal &d : t.decals) {
        ok = ok &&
             stream_printf(s, "[%f %f] %f %f %f %s\n", double(d.x), double(d.z), double(d.angle),
                           double(d.size), double(d.aspect), d.texture.c_str()) >= 0;
    }
    return finish_write(s, ok);
}

bool tileinfo_write(Stream *s, const std::vector<TileType> &tiles) {
    static const char *const kErodeNames[] = {
        "erode_depth",  "erode_lower",     "erode_upper",     "erode_displacement",
        "erode_radius", "erode_max_slope", "erode_off_speed", "erode_on_speed"};
    bool ok = true;
    char a[32], b[32], c[32];
    for (const TileType &tile : tiles) {
        if (!tile.texture_path.empty())
            ok = ok && stream_printf(s, "texture %s\n", tile.texture_path.c_str()) >= 0;
        for (const FrictionPoint &p : tile.friction) {
            if (p.key == 0.0f) break;
            fmt_float(a, sizeof a, p.coefficient);
            fmt_float(b, sizeof b, p.key);
            ok = ok && stream_printf(s, "friction %s %s\n", a, b) >= 0;
        }
        for (const RollResistPoint &p : tile.roll_resist) {
            if (p.key == 0.0f) break;
            fmt_float(a, sizeof a, p.a);
            fmt_float(b, sizeof b, p.b);
            fmt_float(c, sizeof c, p.key);
            ok = ok && stream_printf(s, "roll_resist %s %s %s\n", a, b, c) >= 0;
        }
        for (const RoostSpec &r : tile.roost) {
            if (r.kind == 0) continue;
            ok = ok &&
                 stream_printf(
                     s,
                     "roost count=%.9g dig=%.9g slip_threshold=%.9g slow_angle=%.9g "
                     "fast_angle=%.9g slow_speed=%.9g fast_speed=%.9g size=%.9g grow=%.9g "
                     "drag=%.9g vscale=%.9g randomize=%.9g r=%d g=%d b=%d a=%d fade_r=%d "
                     "fade_g=%d fade_b=%d fade_a=%d%s\n",
                     double(r.count), double(r.dig), double(r.slip_threshold), double(r.slow_angle),
                     double(r.fast_angle), double(r.slow_speed), double(r.fast_speed),
                     double(r.size), double(r.grow), double(r.drag), double(r.vscale),
                     double(r.randomize), r.r, r.g, r.b, r.a, r.fade_r * 128, r.fade_g * 128,
                     r.fade_b * 128, r.fade_a * 128, r.kind == 2 ? " splash=1" : "") >= 0;
        }
        const float values[] = {tile.erode.depth,        tile.erode.lower,   tile.erode.upper,
                                tile.erode.displacement, tile.erode.radius,  tile.erode.max_slope,
                                tile.erode.off_speed,    tile.erode.on_speed};
        for (int k = 0; k < 8; k++) {
            fmt_float(a, sizeof a, values[k]);
            ok = ok && stream_printf(s, "%s %s\n", kErodeNames[k], a) >= 0;
        }
        ok = ok && stream_puts(s, "addtile\n") >= 0;
    }
    return ok;
}

bool terrain_write_tileinfo(const char *folder, const Terrain &t) {
    Stream *s = open_for_write(path_in(folder, "tileinfo"));
    if (!s) return false;
    return finish_write(s, tileinfo_write(s, t.tiles));
}

bool terrain_save(const char *folder, const Terrain &t, bool inline_heights) {
    bool ok = terrain_write_heights(folder, t, inline_heights);
    ok = terrain_write_shading(folder, t) && ok;
    ok = terrain_write_shadows(folder, t) && ok;
    ok = terrain_write_tileinfo(folder, t) && ok;
    ok = terrain_write_tilemap(folder, t) && ok;
    ok = terrain_write_decals(folder, t) && ok;
    return ok;
}
