#include "tracks.h"

#include "files/stream.h"
#include "files/vfs.h"
#include "noise.h"
#include "track/gates.h"
#include "track/surfaces.h"
#include "track/terrain_io.h"

#include <cmath>
#include <cstdio>

namespace {

Piece S(double length, bool solve = false) {
    return Piece{length, 0, 0, solve};
}
Piece R(double radius, double deg) {
    return Piece{0, radius, deg, false};
}
Piece L(double radius, double deg) {
    return Piece{0, radius, -deg, false};
}

FeatureSpec tabletop(int piece, double offset, double height, double top) {
    FeatureSpec f;
    f.kind = FeatureKind::Tabletop;
    f.piece = piece;
    f.offset = offset;
    f.height = height;
    f.length = top;
    return f;
}
FeatureSpec double_jump(int piece, double offset, double takeoff, double gap, double landing) {
    FeatureSpec f;
    f.kind = FeatureKind::Double;
    f.piece = piece;
    f.offset = offset;
    f.height = takeoff;
    f.length = gap;
    f.height2 = landing;
    return f;
}
FeatureSpec bumps(FeatureKind kind, int piece, double offset, double height, double wavelength,
                  int count, bool sand) {
    FeatureSpec f;
    f.kind = kind;
    f.piece = piece;
    f.offset = offset;
    f.height = height;
    f.length = wavelength;
    f.count = count;
    f.sand = sand;
    return f;
}

// ---- Rabbit Hill: a rolling outdoor circuit around a grassy hill ----

double rabbithill_ground(double x, double z) {
    double dx = x - 1040.0, dz = z - 720.0;
    double hill = 38.0 * std::exp(-(dx * dx + dz * dz) / (2.0 * 190.0 * 190.0));
    double roll = 3.5 * fractal_noise(x / 260.0, z / 260.0, 3, 1001);
    double tilt = 0.012 * (768.0 - z); // the land falls gently towards the south
    return 20.0 + hill + roll + tilt;
}

int rabbithill_offcourse(double x, double z) {
    double n = fractal_noise(x / 40.0, z / 40.0, 2, 1002);
    return n > 0.45 ? kSurfaceDirt : kSurfaceGrass;
}

TrackDesign rabbithill() {
    TrackDesign d;
    d.dir = "rabbithill";
    d.long_name = "Rabbit Hill";
    d.description =
        "A rolling outdoor circuit around a grassy hill: a long level start straight, a\n"
        "tabletop on the climb, a double on the back straight, rollers over the shoulder of\n"
        "the hill, sand whoops on the long descent and a big tabletop before the finish.\n";
    CourseDesign &c = d.course;
    c.name = d.dir;
    c.join_x = 600;
    c.join_z = 760;
    c.join_heading_deg = -90; // north (-z)
    c.loop = {
        S(80),        // 0  out of the start area
        L(65, 90),    // 1  turn one
        S(110),       // 2
        R(60, 90),    // 3
        S(250),       // 4  tabletop on the climb
        R(60, 90),    // 5
        S(300),       // 6  the double
        R(60, 90),    // 7
        S(100),       // 8
        L(60, 90),    // 9
        S(160),       // 10 rollers over the hill's shoulder
        L(55, 90),    // 11
        S(100),       // 12
        R(60, 90),    // 13
        S(60),        // 14
        R(60, 90),    // 15
        S(440),       // 16 the long descent with the sand whoops
        R(60, 90),    // 17
        S(100),       // 18
        L(55, 90),    // 19
        S(100),       // 20
        R(60, 90),    // 21
        S(305, true), // 22 the big tabletop
        R(60, 90),    // 23
        S(205, true), // 24 the finish straight beside the start
    };
    c.chute = {S(320), R(100, 45), S(129.3), L(100, 45)};
    c.features = {
        tabletop(4, 60, 5.0, 28),
        double_jump(6, 120, 5.0, 12, 4.5),
        bumps(FeatureKind::Rollers, 10, 40, 2.5, 38, 3, false),
        bumps(FeatureKind::Whoops, 16, 150, 1.8, 15, 12, true),
        tabletop(22, 100, 6.0, 34),
    };
    c.half_width = 14;
    c.berm_extra = 6;
    c.berm_max = 5.5;
    c.blend = 24;
    c.gate_half_width = 74;
    c.finish_piece = 24;
    c.finish_offset = 110;
    c.loop_surface = kSurfaceDirt;
    c.chute_surface = kSurfaceHardpack;
    d.ground.size_exp = 9;
    d.ground.spacing = 1.5f;
    d.ground.natural = rabbithill_ground;
    d.ground.offcourse = rabbithill_offcourse;
    Lighting &l = d.ground.lighting;
    l.sun[0] = 0.45;
    l.sun[1] = 0.75;
    l.sun[2] = 0.48;
    return d;
}

// ---- Duneside Sands: a tight sand track between low dunes ----

double duneside_ground(double x, double z) {
    double u = (x * 0.8 + z * 0.6) / 260.0;
    double dunes = 4.0 * std::sin(2.0 * 3.14159265358979 * u) *
                   (0.6 + 0.4 * value_noise(x / 300.0, z / 300.0, 2003));
    double roll = 2.5 * fractal_noise(x / 150.0, z / 150.0, 3, 2001);
    return 12.0 + dunes + roll;
}

int duneside_offcourse(double x, double z) {
    double n = fractal_noise(x / 25.0, z / 25.0, 2, 2002);
    return n > 0.35 ? kSurfaceGrass : kSurfaceSand;
}

TrackDesign duneside() {
    TrackDesign d;
    d.dir = "duneside";
    d.long_name = "Duneside Sands";
    d.description =
        "A tight sand track between low dunes: deep, rutted sand, hairpin berms, two whoop\n"
        "sections, a double and two tabletops. Momentum is everything.\n";
    d.sand_track = true;
    CourseDesign &c = d.course;
    c.name = d.dir;
    c.join_x = 560;
    c.join_z = 520;
    c.join_heading_deg = -90;
    c.loop = {
        S(60),        // 0
        R(40, 180),   // 1  hairpin turn one
        S(140),       // 2  whoops
        L(40, 90),    // 3
        S(220),       // 4  the double
        L(40, 180),   // 5  hairpin
        S(100),       // 6
        R(40, 90),    // 7
        S(220),       // 8  tabletop
        R(45, 90),    // 9
        S(175),       // 10 rollers
        R(40, 90),    // 11
        S(420),       // 12 long whoops
        R(40, 90),    // 13
        S(120),       // 14
        L(40, 90),    // 15
        S(160),       // 16 tabletop
        R(40, 90),    // 17
        S(180, true), // 18
        R(40, 90),    // 19
        S(435, true), // 20 finish straight
    };
    c.chute = {S(320), R(90, 45), S(124.2), L(90, 45)};
    c.features = {
        bumps(FeatureKind::Whoops, 2, 20, 1.5, 13, 8, true),
        double_jump(4, 60, 4.5, 10, 4.0),
        tabletop(8, 50, 4.5, 24),
        bumps(FeatureKind::Rollers, 10, 15, 2.2, 36, 3, true),
        bumps(FeatureKind::Whoops, 12, 150, 1.6, 14, 12, true),
        tabletop(16, 30, 4.5, 26),
    };
    c.half_width = 12;
    c.berm_extra = 5;
    c.berm_max = 5.0;
    c.blend = 20;
    c.gate_half_width = 72;
    c.finish_piece = 20;
    c.finish_offset = 150;
    c.loop_surface = kSurfaceSand;
    c.chute_surface = kSurfaceHardpack;
    d.ground.size_exp = 9;
    d.ground.spacing = 1.25f;
    d.ground.natural = duneside_ground;
    d.ground.offcourse = duneside_offcourse;
    Lighting &l = d.ground.lighting;
    l.sun[0] = -0.35;
    l.sun[1] = 0.85;
    l.sun[2] = 0.40;
    l.sun_color[0] = 0.76;
    l.sun_color[1] = 0.70;
    l.sun_color[2] = 0.60;
    l.ambient[0] = 0.42;
    l.ambient[1] = 0.42;
    l.ambient[2] = 0.46;
    l.fog[0] = 0.86;
    l.fog[1] = 0.82;
    l.fog[2] = 0.74;
    l.fog[3] = 0.0006;
    return d;
}

// ---- Surfaces ----

struct SurfaceParams {
    const char *texture;
    float friction[4][2]; // coefficient, sliding speed
    float roll[3][3];     // a, b, rolling speed
    std::uint8_t roost_rgb[3];
    float roost_count, roost_size;
    float erode_depth, erode_lower;
};

const SurfaceParams kSurfaces[4] = {
    // Loose dirt: good grip that falls away as the tyre slides.
    {"@dirt.png",
     {{1.15f, 1}, {1.05f, 5}, {0.90f, 15}, {0.80f, 40}},
     {{5, 15, 1}, {6, 18, 30}, {8, 22, 80}},
     {150, 112, 78},
     10,
     0.25f,
     1.0f,
     50},
    // Hard-pack: grips until it breaks away, little rolling resistance, little roost.
    {"@hardpack.png",
     {{1.05f, 1}, {0.95f, 6}, {0.78f, 15}, {0.65f, 40}},
     {{3, 10, 1}, {4, 12, 30}, {6, 16, 80}},
     {140, 122, 102},
     5,
     0.2f,
     0.5f,
     80},
    // Sand: less grip, much more rolling resistance, big roost.
    {"@sand.png",
     {{0.92f, 1}, {0.86f, 5}, {0.76f, 15}, {0.70f, 40}},
     {{14, 36, 1}, {16, 42, 30}, {20, 50, 80}},
     {222, 200, 152},
     14,
     0.35f,
     1.6f,
     40},
    // Grass: slippery, especially when sliding.
    {"@grass.png",
     {{0.85f, 1}, {0.72f, 5}, {0.56f, 15}, {0.50f, 40}},
     {{6, 16, 1}, {7, 19, 30}, {9, 24, 80}},
     {112, 118, 72},
     6,
     0.2f,
     0.8f,
     60},
};

bool write_text(const std::string &path, const std::string &text, std::string &error) {
    Stream *s = vfs_open(path.c_str(), "wb");
    if (!s) {
        error = "can't open " + path + " for writing";
        return false;
    }
    bool ok = stream_write(s, text.data(), text.size()) == text.size();
    if (!ok) {
        vfs_close_discard(s);
    } else {
        ok = vfs_close(s);
    }
    if (!ok) error = "can't write " + path;
    return ok;
}

} // namespace

const std::vector<TrackDesign> &track_designs() {
    static const std::vector<TrackDesign> designs = {rabbithill(), duneside()};
    return designs;
}

std::vector<TileType> track_tile_types(bool sand_track) {
    std::vector<TileType> tiles;
    for (int k = 0; k < 4; ++k) {
        const SurfaceParams &p = kSurfaces[k];
        TileType t = tile_type_default();
        t.texture_path = p.texture;
        t.name = std::string(p.texture + 1);
        for (int i = 0; i < kCurvePoints; ++i) {
            t.friction[i] = i < 4 ? FrictionPoint{p.friction[i][0], p.friction[i][1]}
                                  : FrictionPoint{p.friction[3][0], 0.0f};
            t.roll_resist[i] = i < 3 ? RollResistPoint{p.roll[i][0], p.roll[i][1], p.roll[i][2]}
                                     : RollResistPoint{p.roll[2][0], p.roll[2][1], 0.0f};
        }
        // The deep sand of a sand track drags harder.
        if (sand_track && k == kSurfaceSand)
            for (int i = 0; i < 3; ++i) {
                t.roll_resist[i].a *= 1.15f;
                t.roll_resist[i].b *= 1.15f;
            }
        RoostSpec r = roost_spec_default();
        r.kind = 1;
        r.texture = 0;
        r.count = p.roost_count;
        r.size = p.roost_size;
        r.r = p.roost_rgb[0];
        r.g = p.roost_rgb[1];
        r.b = p.roost_rgb[2];
        r.a = 255;
        for (RoostSpec &slot : t.roost) slot = roost_spec_default();
        for (RoostSpec &slot : t.roost) slot.texture = 0;
        t.roost[0] = r;
        t.erode.depth = p.erode_depth;
        t.erode.lower = p.erode_lower;
        t.erode.upper = p.erode_lower + 100.0f;
        tiles.push_back(t);
    }
    return tiles;
}

std::string lighting_text(const Lighting &l) {
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "sun_vector [ %.4f %.4f %.4f ]\n"
                  "sun_color [ %.4f %.4f %.4f ]\n"
                  "ambient [ %.4f %.4f %.4f ]\n"
                  "global_ambient [ %.4f %.4f %.4f ]\n"
                  "fog [ %.4f %.4f %.4f ] %.6f\n"
                  "near_plane %.4f\n"
                  "far_plane %.1f\n",
                  l.sun[0], l.sun[1], l.sun[2], l.sun_color[0], l.sun_color[1], l.sun_color[2],
                  l.ambient[0], l.ambient[1], l.ambient[2], l.global_ambient[0],
                  l.global_ambient[1], l.global_ambient[2], l.fog[0], l.fog[1], l.fog[2], l.fog[3],
                  l.near_plane, l.far_plane);
    return buf;
}

bool track_build(const TrackDesign &design, BuiltTrack &out, std::string &error) {
    out = BuiltTrack{};
    out.design = &design;
    if (!course_build(design.course, out.course, error)) return false;
    if (!ground_build(design.ground, out.course, out.terrain, out.ground, error)) return false;
    out.terrain.tiles = track_tile_types(design.sand_track);
    out.terrain.tile_codes = surface_transition_codes(out.terrain.tiles);
    out.gates = gate_layout(out.course, out.terrain);
    for (int k = 0; k < 3; ++k)
        out.lines[k] = line_library(out.course, out.terrain, out.gates, Skill(k));
    return true;
}

bool track_write(const BuiltTrack &track, const std::string &root, std::string &error) {
    const TrackDesign &d = *track.design;
    std::string folder = root + d.dir;
    make_parent_folders((folder + "/").c_str());
    const char *f = folder.c_str();
    if (!terrain_write_heights(f, track.terrain, true) ||
        !terrain_write_tilemap(f, track.terrain) || !terrain_write_tileinfo(f, track.terrain) ||
        !terrain_write_shading(f, track.terrain)) {
        error = "can't write the terrain files of " + folder;
        return false;
    }
    if (!write_text(folder + "/desc", d.long_name + "\n" + d.description, error)) return false;
    if (!write_text(folder + "/lighting", lighting_text(d.ground.lighting), error)) return false;
    if (!gates_save_file((folder + "/timing_gates").c_str(), track.gates.data)) {
        error = "can't write " + folder + "/timing_gates";
        return false;
    }
    const char *names[3] = {"lines_novice", "lines_amateur", "lines_expert"};
    for (int k = 0; k < 3; ++k)
        if (!write_text(folder + "/" + names[k], line_library_text(track.lines[k]), error))
            return false;
    return true;
}
