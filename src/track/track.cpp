#include "track/track.h"

#include "files/stream.h"
#include "files/vfs.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/process.h"
#include "track/gates.h"
#include "track/hooks.h"
#include "track/terrain.h"
#include "track/terrain_io.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numeric>
#include <set>

namespace {

TrackList g_list;
TrackState g_state;
StatueGrid g_grid;
bool g_force_reload = false;

// A display name longer than this is cut (names are shown in menus).
constexpr std::size_t kMaxLongName = 1023;

bool ends_with(const std::string &text, const char *suffix) {
    std::size_t n = std::char_traits<char>::length(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

bool debug_on() {
    return process_flags().debug_level >= 1;
}

std::string long_name_of(const std::string &folder) {
    std::string path = "@" + folder + "/desc";
    Stream *s = vfs_open(path.c_str(), "rb");
    if (!s) return folder;
    std::string name;
    int c;
    while (name.size() < kMaxLongName && (c = stream_getc(s)) >= 0 && c != '\r' && c != '\n' &&
           c != 0) {
        name += char(c);
    }
    vfs_close(s);
    return name;
}

int compare_no_case(const std::string &a, const std::string &b) {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; i++) {
        int ca = std::tolower(static_cast<unsigned char>(a[i]));
        int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca - cb;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

void hash_file(Ripemd160 &ctx, const std::string &path) {
    Stream *s = vfs_open(path.c_str(), "rb");
    if (!s) return;
    char chunk[1024];
    std::size_t got;
    while ((got = stream_read(s, chunk, sizeof chunk)) > 0) ripemd160_update(ctx, chunk, got);
    vfs_close(s);
}

void log_texture_memory(const char *when) {
    const TrackHooks &hooks = track_hooks();
    if (debug_on() && hooks.texture_memory)
        log_printf("%lu bytes texture memory used after %s\n", hooks.texture_memory(), when);
}

void grid_clear() {
    for (std::vector<int> &b : g_grid.buckets) b.clear();
}

// Releases everything of the current track; logs only when asked to.
void release_track(bool log) {
    const TrackHooks &hooks = track_hooks();
    if (log) log_printf("Deallocating track\n");
    if (hooks.editor_active && hooks.editor_active() && hooks.editor_track_release)
        hooks.editor_track_release();
    gates_free();
    if (hooks.line_slots_free) hooks.line_slots_free();
    grid_clear();
    if (hooks.scenery_free) hooks.scenery_free();
    terrain_free();
    g_state = TrackState();
    if (log) log_printf("Finished deallocating track\n");
}

} // namespace

int track_list_build() {
    g_list = TrackList();
    std::vector<std::string> dirs;
    std::set<std::string> seen;
    for (const std::string &name : vfs_list()) {
        if (!ends_with(name, "/terrain.hf") && !ends_with(name, "/terrain.hf.gz")) continue;
        std::string folder = name.substr(0, name.rfind('/'));
        if (seen.insert(folder).second) dirs.push_back(folder);
    }
    std::vector<std::string> names;
    for (const std::string &d : dirs) names.push_back(long_name_of(d));
    std::vector<std::size_t> order(dirs.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        int c = compare_no_case(names[a], names[b]);
        return c != 0 ? c < 0 : dirs[a] < dirs[b];
    });
    for (std::size_t k : order) {
        g_list.dirs.push_back(dirs[k]);
        g_list.long_names.push_back(names[k]);
        if (debug_on()) log_printf("%s -> %s\n", dirs[k].c_str(), names[k].c_str());
    }
    g_list.count = int(order.size());
    return g_list.count;
}

const TrackList &track_list() {
    return g_list;
}

int track_list_find(const char *dir) {
    for (int i = 0; i < g_list.count; i++) {
        if (g_list.dirs[std::size_t(i)] == dir) return i;
    }
    return -1;
}

bool track_load(const char *dir, int ground_method) {
    if (g_state.loaded) release_track(true);
    g_force_reload = false;
    const TrackHooks &hooks = track_hooks();
    const std::string folder = std::string("@") + dir;
    auto file = [&](const char *name) { return folder + "/" + name; };

    int listed = track_list_find(dir);
    g_state.dir = dir;
    g_state.long_name = listed >= 0 ? g_list.long_names[std::size_t(listed)] : std::string(dir);
    Ripemd160 ctx;
    ripemd160_init(ctx);

    if (hooks.scenery_reset) hooks.scenery_reset();
    grid_clear();
    if (hooks.loading_screen) hooks.loading_screen("Loading track...");

    for (const char *name : {"terrain.hf", "terrain.png", "texturelist", "tilemap", "tileinfo"})
        hash_file(ctx, file(name));
    if (debug_on()) log_printf("Loading '%s'\n", folder.c_str());
    if (hooks.lighting_load) hooks.lighting_load(file("lighting").c_str());

    if (!terrain_load(folder.c_str(), ground_method)) {
        release_track(false);
        return false;
    }
    log_texture_memory("hf creation");

    hash_file(ctx, file("timing_gates"));
    gates_load(file("timing_gates").c_str());
    if (hooks.roost_pool_create) hooks.roost_pool_create();
    if (hooks.flaggers_load) hooks.flaggers_load(file("flaggers").c_str());
    log_texture_memory("flagger creation");
    if (hooks.scenery_mark_fixed) hooks.scenery_mark_fixed();
    if (hooks.billboards_load) hooks.billboards_load(file("billboards").c_str());
    log_texture_memory("billboard creation");
    hash_file(ctx, file("statues"));
    if (hooks.statues_load) hooks.statues_load(file("statues").c_str());
    log_texture_memory("statue creation");
    if (hooks.map_load) hooks.map_load(file("map.png").c_str());

    int statues = hooks.statue_count ? hooks.statue_count() : 0;
    std::vector<std::string> shapes;
    std::set<std::string> shapes_seen;
    for (int i = 0; i < statues && hooks.statue_collision; i++) {
        StatueCollision c{};
        if (!hooks.statue_collision(i, c) || !c.shape_file) continue;
        statue_grid_insert(g_grid, i, c.x, c.z, c.radius, terrain().extent);
        if (shapes_seen.insert(c.shape_file).second) shapes.push_back(c.shape_file);
    }
    if (hooks.editor_active && hooks.editor_active() && hooks.editor_track_setup)
        hooks.editor_track_setup();
    for (const std::string &shape : shapes) hash_file(ctx, shape);
    g_state.hash = ripemd160_final(ctx);
    g_state.loaded = true;
    if (hooks.cameras_load) hooks.cameras_load(file("cameras").c_str());
    return true;
}

void track_free() {
    release_track(true);
}

const TrackState &track_state() {
    return g_state;
}

bool track_load_needed(const char *dir) {
    return !g_state.loaded || g_force_reload || g_state.dir != dir;
}

void track_force_reload() {
    g_force_reload = true;
}

bool save_track_info() {
    if (!g_state.loaded) return false;
    std::string name = g_state.dir + ".trackinfo";
    Stream *s = vfs_open(("@" + name).c_str(), "wb");
    if (!s) return false;
    const GateData &g = gates();
    int listed = track_list_find(g_state.dir.c_str());
    const std::string &long_name =
        listed >= 0 ? g_list.long_names[std::size_t(listed)] : g_state.dir;
    bool ok = stream_printf(s, "dir=%s\n", g_state.dir.c_str()) >= 0 &&
              stream_printf(s, "longname=%s\n", long_name.c_str()) >= 0 &&
              stream_printf(s, "firstlap=%d\n", int(g.first_lap.size())) >= 0 &&
              stream_printf(s, "normallap=%d\n", int(g.normal_lap.size())) >= 0 &&
              stream_printf(s, "gatecount=%d\n", int(g.starts.size())) >= 0 &&
              stream_printf(s, "hash=%s\n", digest_to_hex(g_state.hash).c_str()) >= 0;
    if (!ok) {
        vfs_close_discard(s);
        return false;
    }
    if (!vfs_close(s)) return false;
    show_messagef("Track info saved to %s", name.c_str());
    return true;
}

const StatueGrid &statue_grid() {
    return g_grid;
}

int statue_grid_cell(double c, double extent) {
    double v = std::floor(8.0 * ((c / extent) - 0.125) * 4.0 / 3.0);
    if (!(v >= 0.0)) return 0;
    if (v > kStatueGridCells - 1) return kStatueGridCells - 1;
    return int(v);
}

void statue_grid_insert(StatueGrid &grid, int index, double x, double z, double r, double extent) {
    int c0 = statue_grid_cell(x - r, extent), c1 = statue_grid_cell(x + r, extent);
    int r0 = statue_grid_cell(z - r, extent), r1 = statue_grid_cell(z + r, extent);
    for (int row = r0; row <= r1; row++) {
        for (int col = c0; col <= c1; col++)
            grid.buckets[row * kStatueGridCells + col].push_back(index);
    }
}
