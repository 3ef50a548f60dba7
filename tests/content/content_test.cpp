// The generated installation data: it is deterministic, every file loads with the
// program's own loaders, and the tracks can be ridden (gates, corridor, slopes, lines).
#include "content.h"
#include "textures.h"

#include "core/datacheck.h"
#include "files/stream.h"
#include "files/vfs.h"
#include "race/timing.h"
#include "sim/catalogue.h"
#include "sim/shapes.h"
#include "support/tempdir.h"
#include "track/gates.h"
#include "track/ripemd160.h"
#include "track/terrain.h"
#include "track/terrain_io.h"
#include "track/track.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace {

namespace fs = std::filesystem;

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Every regular file under root, by relative path.
std::map<std::string, std::string> all_files(const std::string &root) {
    std::map<std::string, std::string> out;
    for (const auto &e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            out[fs::relative(e.path(), root).string()] = read_file(e.path().string());
    return out;
}

// Points the virtual file system at an installation folder (and a private home folder).
class InstallRoots {
public:
    explicit InstallRoots(const std::string &install)
        : xdg_("XDG_DATA_HOME", home_.path().c_str()), vq_("VQ_HOME", install.c_str()) {
        vfs_reset_for_tests();
    }
    ~InstallRoots() { vfs_reset_for_tests(); }

private:
    TempDir home_;
    ScopedEnv xdg_, vq_;
};

// The data is generated once for all tests.
class Generated : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        tracks_ = new std::vector<BuiltTrack>();
        std::string error;
        ASSERT_TRUE(content_generate(dir_->path(), digests_, error, tracks_)) << error;
    }
    static void TearDownTestSuite() {
        delete tracks_;
        delete dir_;
        tracks_ = nullptr;
        dir_ = nullptr;
    }
    static const BuiltTrack &track(const std::string &name) {
        for (const BuiltTrack &t : *tracks_)
            if (t.design->dir == name) return t;
        ADD_FAILURE() << "no track " << name;
        return tracks_->front();
    }
    static TempDir *dir_;
    static ContentDigests digests_;
    static std::vector<BuiltTrack> *tracks_;
};
TempDir *Generated::dir_ = nullptr;
ContentDigests Generated::digests_;
std::vector<BuiltTrack> *Generated::tracks_ = nullptr;

TEST_F(Generated, TheSameBytesOnEveryRun) {
    TempDir again;
    ContentDigests d;
    std::string error;
    ASSERT_TRUE(content_generate(again.path(), d, error)) << error;
    std::map<std::string, std::string> a = all_files(dir_->path()), b = all_files(again.path());
    ASSERT_EQ(a.size(), b.size());
    for (const auto &[name, data] : a) {
        ASSERT_TRUE(b.count(name)) << name;
        EXPECT_TRUE(b[name] == data) << name << " differs between two runs";
    }
    EXPECT_EQ(d.game_data, digests_.game_data);
    EXPECT_EQ(d.physics, digests_.physics);
}

TEST_F(Generated, StartUpChecksAcceptTheData) {
    InstallRoots roots(dir_->path());
    EXPECT_EQ(data_check(digests_.game_data.c_str()), 1); // root 1: the installation
    EXPECT_EQ(physics_files_digest(), digests_.physics);
    // The archive's members are visible under their full names.
    std::string archive = read_file(dir_->file("zzzz.saf"));
    Stream *s = vfs_open(dir_->file("zzzz.saf").c_str(), "rb");
    ASSERT_NE(s, nullptr);
    std::vector<SafMember> members;
    EXPECT_TRUE(saf_read_header(s, std::int64_t(archive.size()), members));
    vfs_close(s);
    std::vector<GeneratedFile> files = global_files();
    ASSERT_EQ(members.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(members[i].name, files[i].name);
        EXPECT_EQ(archive.substr(members[i].offset, members[i].size), files[i].data);
        Stream *m = vfs_open(("@" + files[i].name).c_str(), "rb");
        ASSERT_NE(m, nullptr) << files[i].name;
        vfs_close(m);
    }
}

TEST(ShippedData, MatchesTheCompiledDigests) {
    const char *data = std::getenv("VQ_TEST_DATA");
    ASSERT_NE(data, nullptr);
    std::string header = read_file(std::string(VQ_GENERATED_DIR) + "/data_digests.h");
    ASSERT_FALSE(header.empty()) << "build the vqdata target first";
    auto constant = [&](const std::string &name) {
        std::size_t p = header.find(name + " \"");
        if (p == std::string::npos) return std::string();
        p += name.size() + 2;
        return header.substr(p, header.find('"', p) - p);
    };
    std::string game = constant("VQ_GAME_DATA_DIGEST"), physics = constant("VQ_PHYSICS_DIGEST");
    ASSERT_EQ(game.size(), 40u);
    ASSERT_EQ(physics.size(), 40u);
    InstallRoots roots(data);
    EXPECT_GE(data_check(game.c_str()), 0) << "the shipped zzzz.saf does not match the header";
    EXPECT_EQ(physics_files_digest(), physics);
    // And this generator makes exactly that data.
    ContentDigests now = content_digests(global_archive(), global_files());
    EXPECT_EQ(now.game_data, game);
    EXPECT_EQ(now.physics, physics);
}

// ---- Collision shapes ----

TEST(Shapes, LoadWithTheSimulationsLoaderAndFitTheBike) {
    const BikeModel &m = bike_models()[0];
    const float *bodies[7] = {m.frame_pos,    m.steer_head,       m.fork_lower_pos,
                              m.swingarm_pos, m.front_wheel.axle, m.rear_wheel.axle,
                              m.torso_pos};
    std::vector<GeneratedFile> shapes = bike_shapes();
    ASSERT_EQ(shapes.size(), 7u);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ("@" + shapes[i].name, kPhysicsFiles[i]);
        CollisionShape shape;
        ASSERT_TRUE(shape_parse(shapes[i].name.c_str(), shapes[i].data.data(),
                                shapes[i].data.size(), shape))
            << shapes[i].name;
        EXPECT_GE(shape.spheres.size(), 5u);
        bool wheel = i == 4 || i == 5;
        for (const ShapeSphere &s : shape.spheres) {
            EXPECT_FLOAT_EQ(s.stiffness, 2500.0f);
            EXPECT_FLOAT_EQ(s.damping, 250.0f);
            // At rest no part but the tyres comes near the ground (the tyres squash 0.08 ft
            // below the model's y = 0).
            double bottom = s.centre[1] + bodies[i][1] - s.radius;
            if (!wheel) {
                EXPECT_GT(bottom, 0.9) << shapes[i].name;
            }
        }
        if (wheel) {
            const WheelSpec &w = i == 4 ? m.front_wheel : m.rear_wheel;
            int ring = 0;
            for (const ShapeSphere &s : shape.spheres) {
                double r = std::hypot(s.centre[1], s.centre[2]);
                EXPECT_FLOAT_EQ(s.centre[0], 0.0f);
                if (std::fabs(r - w.rim_radius) < 1e-3) {
                    ++ring;
                    EXPECT_NEAR(s.radius, w.tube_radius, 1e-4);
                }
            }
            EXPECT_EQ(ring, 16);
            EXPECT_NEAR(shape.bounding_radius, w.rim_radius + w.tube_radius, 1e-3);
        }
    }
    // The rider's helmet is the highest point, above the head point; the grips of the
    // upper fork are where the catalogue puts them.
    CollisionShape rider, fork;
    ASSERT_TRUE(shape_parse("r", shapes[6].data.data(), shapes[6].data.size(), rider));
    ASSERT_TRUE(shape_parse("f", shapes[1].data.data(), shapes[1].data.size(), fork));
    double top = -1e9;
    for (const ShapeSphere &s : rider.spheres) top = std::max(top, double(s.centre[1] + s.radius));
    EXPECT_GT(top, m.rider.head[1] + 0.5);
    EXPECT_NEAR(fork.spheres[0].centre[0], m.rider.grips[0][0], 1e-4);
    EXPECT_NEAR(fork.spheres[1].centre[2], m.rider.grips[1][2], 1e-4);
    GeneratedFile gate = startgate_shape();
    CollisionShape g;
    EXPECT_TRUE(shape_parse("g", gate.data.data(), gate.data.size(), g));
}

// ---- Textures ----

struct Decoded {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;
};

Decoded decode_png(const std::string &data) {
    Decoded d;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data.data(), data.size())) return d;
    image.format = PNG_FORMAT_RGBA;
    d.rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, d.rgba.data(), 0, nullptr)) return d;
    d.width = int(image.width);
    d.height = int(image.height);
    return d;
}

TEST(Textures, TilesArePowerOfTwoAndTheirBorderContinuesThePattern) {
    std::vector<GeneratedFile> tiles = tile_textures();
    ASSERT_EQ(tiles.size(), 4u);
    for (int s = 0; s < 4; ++s) {
        Decoded d = decode_png(tiles[s].data);
        ASSERT_EQ(d.width, kTileSize) << tiles[s].name;
        ASSERT_EQ(d.height, kTileSize);
        EXPECT_EQ(d.width & (d.width - 1), 0);
        std::vector<std::uint8_t> rgb = tile_pixels(s);
        const int inner = kTileSize - 2 * kTileBorder;
        auto px = [&](int x, int y) {
            std::size_t o = (std::size_t(y) * kTileSize + x) * 4;
            return std::array<int, 3>{d.rgba[o], d.rgba[o + 1], d.rgba[o + 2]};
        };
        int differing = 0;
        for (int y = 0; y < kTileSize; ++y) {
            for (int x = 0; x < kTileSize; ++x) {
                std::size_t o = (std::size_t(y) * kTileSize + x) * 3;
                EXPECT_EQ(px(x, y)[0], rgb[o]);
                // A border pixel repeats the pixel one period inside.
                if (x < kTileBorder) {
                    EXPECT_EQ(px(x, y), px(x + inner, y));
                }
                if (y >= kTileSize - kTileBorder) {
                    EXPECT_EQ(px(x, y), px(x, y - inner));
                }
                if (px(x, y) != px(0, 0)) ++differing;
            }
        }
        EXPECT_GT(differing, kTileSize * kTileSize / 4) << "a tile needs some texture";
    }
    Decoded roost = decode_png(roost_texture().data);
    ASSERT_EQ(roost.width, 32);
    EXPECT_EQ(roost.rgba[3], 0);                        // transparent corner
    EXPECT_EQ(roost.rgba[(16 * 32 + 16) * 4 + 3], 255); // solid middle
}

// ---- Tracks ----

TEST_F(Generated, TracksAreListedAndLoad) {
    InstallRoots roots(dir_->path());
    ASSERT_EQ(track_list_build(), 2);
    ASSERT_GE(track_list_find("rabbithill"), 0);
    ASSERT_GE(track_list_find("duneside"), 0);
    EXPECT_EQ(track_list().long_names[track_list_find("rabbithill")], "Rabbit Hill");
    for (const char *dir : {"rabbithill", "duneside"}) {
        ASSERT_TRUE(track_load(dir, 0)) << dir;
        const Terrain &t = terrain();
        const BuiltTrack &b = track(dir);
        EXPECT_GE(t.size_exp, 9);
        EXPECT_LE(t.size_exp, 10);
        ASSERT_EQ(t.tiles.size(), 4u);
        EXPECT_EQ(t.tiles[kSurfaceSand].name, "sand.png");
        EXPECT_EQ(t.tilemap, b.terrain.tilemap);
        EXPECT_EQ(t.shading, b.terrain.shading);
        // The heights survive their 16-bit quantisation.
        double step = (t.max_height - t.min_height) / 65535.0;
        for (std::size_t k = 0; k < t.heights.size(); k += 997)
            EXPECT_NEAR(t.heights[k], b.terrain.heights[k], step);
        const GateData &g = gates();
        EXPECT_EQ(g.starts.size(), 40u);
        EXPECT_EQ(g.checkpoints.size(), b.gates.data.checkpoints.size());
        EXPECT_EQ(g.first_lap, b.gates.data.first_lap);
        EXPECT_EQ(g.normal_lap, b.gates.data.normal_lap);
        // Every surface has sensible curves: grip falls as the tyre slides, sand drags most.
        for (int s = 0; s < 4; ++s) {
            float slow = surface_friction(s, 0.5f), fast = surface_friction(s, 40.0f);
            EXPECT_GT(slow, fast);
            EXPECT_GE(fast, 0.4f);
            EXPECT_LE(slow, 1.3f);
        }
        EXPECT_GT(surface_roll_resist(kSurfaceSand, 20).b, surface_roll_resist(kSurfaceDirt, 20).b);
        EXPECT_GT(surface_roll_resist(kSurfaceDirt, 20).b,
                  surface_roll_resist(kSurfaceHardpack, 20).b);
        EXPECT_LT(surface_friction(kSurfaceGrass, 10), surface_friction(kSurfaceDirt, 10));
        track_free();
    }
}

TEST_F(Generated, ShadingIsBakedFromTheLightingFile) {
    for (const BuiltTrack &b : *tracks_) {
        std::string text = read_file(dir_->file(b.design->dir + "/lighting"));
        Stream *s = stream_open_memory(text.data(), text.size(), false);
        ASSERT_NE(s, nullptr);
        Lighting light;
        float v[12];
        ASSERT_EQ(stream_scan(s,
                              "sun_vector [ %f %f %f ] sun_color [ %f %f %f ] ambient [ %f %f %f ]",
                              &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8]),
                  9);
        vfs_close(s);
        for (int c = 0; c < 3; ++c) {
            light.sun[c] = v[c];
            light.sun_color[c] = v[3 + c];
            light.ambient[c] = v[6 + c];
        }
        // Away from shadows the baked value is the lighting of the ground's normal (from
        // the height differences of the neighbouring samples).
        const Terrain &t = b.terrain;
        int close = 0, total = 0;
        for (int j = 1; j < t.side - 1; j += 13) {
            for (int i = 1; i < t.side - 1; i += 11) {
                auto h = [&](int a, int c) {
                    return double(t.heights[std::size_t(c) * t.side + a]);
                };
                double n[3] = {-(h(i + 1, j) - h(i - 1, j)) / (2 * t.spacing), 1.0,
                               -(h(i, j + 1) - h(i, j - 1)) / (2 * t.spacing)};
                double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
                for (double &v : n) v /= len;
                std::uint8_t rgb[3];
                shading_of(light, n, 1.0, rgb);
                const std::uint8_t *stored = &t.shading[3 * (std::size_t(j) * t.side + i)];
                ++total;
                if (std::abs(int(stored[0]) - int(rgb[0])) <= 1) ++close;
                EXPECT_LE(stored[0], rgb[0] + 1); // shadows only darken
            }
        }
        EXPECT_GT(close, total * 9 / 10) << b.design->dir;
    }
}

// A scripted rider along the centre line from the middle start position: it passes every
// gate of three laps in order and finishes.
TEST_F(Generated, AScriptedRideAlongTheCentreLinePassesEveryGate) {
    for (const BuiltTrack &b : *tracks_) {
        const GateData &g = b.gates.data;
        RiderGates rider;
        RaceLaps race;
        race.total_laps = 3;
        race.leader = &rider;
        double end = b.gates.sequence_r.back();
        int step = 0, passed = 0, expected_next = 0;
        for (double r = 0; r < end + 100 && !rider.finished; r += 0.5, ++step) {
            CoursePoint p = ride_point(b.course, r);
            int s = gates_check(g, rider, p.x, p.z, step, race);
            if (s >= 0) {
                EXPECT_EQ(s, expected_next) << b.design->dir << " at ride distance " << r;
                expected_next = s + 1;
                ++passed;
            }
        }
        int total = int(g.first_lap.size() + 2 * g.normal_lap.size());
        EXPECT_TRUE(rider.finished) << b.design->dir;
        EXPECT_EQ(passed, total);
        EXPECT_EQ(lap_of(g, rider).lap, 3);
        for (int t : rider.gate_times) EXPECT_GE(t, 0);
    }
}

TEST_F(Generated, GatesAreEvenlySpacedAndCatchOnlyTheirOwnStretch) {
    for (const BuiltTrack &b : *tracks_) {
        const std::vector<double> &R = b.gates.sequence_r;
        double prev = 0;
        for (double r : R) {
            EXPECT_GE(r - prev, 150.0) << b.design->dir;
            EXPECT_LE(r - prev, 300.0) << b.design->dir;
            prev = r;
        }
        // A gate's zone holds no course point that lies far from it along the ride.
        const GateData &g = b.gates.data;
        double total = R.back();
        for (std::size_t k = 0; k < R.size(); ++k) {
            const Checkpoint &c = g.checkpoints[gate_checkpoint(g, int(k))];
            for (double r = 0; r < total; r += 2.0) {
                CoursePoint p = ride_point(b.course, r);
                double d = std::hypot(p.x - c.centre[0], p.z - c.centre[2]);
                if (d > c.radius) continue;
                // Same place on a later lap, or the same stretch.
                double rel = std::fmod(std::fabs(r - R[k]), b.gates.lap_length);
                rel = std::min(rel, b.gates.lap_length - rel);
                bool chute = r < ride_join(b.course) || R[k] < ride_join(b.course);
                if (!chute) {
                    EXPECT_LE(rel, 2.5 * c.radius) << b.design->dir << " gate " << k;
                }
            }
        }
    }
}

TEST_F(Generated, TheCorridorStaysInsideTheTerrain) {
    for (const BuiltTrack &b : *tracks_) {
        const double margin = 60.0, extent = b.terrain.extent;
        for (const CourseLeg *leg : {&b.course.loop, &b.course.chute}) {
            for (const CoursePoint &p : leg->points) {
                double reach = std::max(p.edge_left, p.edge_right) + b.course.design.blend + margin;
                EXPECT_GE(p.x - reach, 0.0) << b.design->dir;
                EXPECT_GE(p.z - reach, 0.0) << b.design->dir;
                EXPECT_LE(p.x + reach, extent) << b.design->dir;
                EXPECT_LE(p.z + reach, extent) << b.design->dir;
            }
        }
    }
}

TEST_F(Generated, SlopesAreRideableAndTheStartIsLevel) {
    const double kClimb = 0.75; // steepest face (37 degrees) a bike climbs at speed
    const double kGrade = 0.15; // steepest grade of the course between features
    const double kCliff = 1.0;  // steepest slope anywhere on the terrain
    for (const BuiltTrack &b : *tracks_) {
        const Terrain &t = b.terrain;
        double worst = 0, worst_grade = 0, worst_cross = 0;
        double at[3][2] = {};
        for (const CourseLeg *leg : {&b.course.loop, &b.course.chute}) {
            const std::vector<CoursePoint> &p = leg->points;
            for (std::size_t i = 0; i < p.size(); ++i) {
                const CoursePoint &a = p[i];
                double h0 = terrain_height(t, a.x - a.tx * 0.5, a.z - a.tz * 0.5);
                double h1 = terrain_height(t, a.x + a.tx * 0.5, a.z + a.tz * 0.5);
                if (std::fabs(h1 - h0) > worst) {
                    worst = std::fabs(h1 - h0);
                    at[0][0] = a.x;
                    at[0][1] = a.z;
                }
                if (i + 1 < p.size())
                    worst_grade =
                        std::max(worst_grade, std::fabs(p[i + 1].base - a.base) / leg->step);
                // Across the riding surface (berms included).
                for (double lat = -a.half_width + 1; lat <= a.half_width - 1; lat += 2) {
                    double x = a.x - a.tz * lat, z = a.z + a.tx * lat;
                    double c0 = terrain_height(t, x + a.tz * 0.5, z - a.tx * 0.5);
                    double c1 = terrain_height(t, x - a.tz * 0.5, z + a.tx * 0.5);
                    if (std::fabs(c1 - c0) > worst_cross) {
                        worst_cross = std::fabs(c1 - c0);
                        at[1][0] = x;
                        at[1][1] = z;
                    }
                }
            }
        }
        EXPECT_LE(worst, kClimb) << b.design->dir << " at " << at[0][0] << ", " << at[0][1];
        EXPECT_LE(worst_grade, kGrade) << b.design->dir;
        EXPECT_LE(worst_cross, kClimb) << b.design->dir << " at " << at[1][0] << ", " << at[1][1];
        // No cliffs anywhere.
        double cliff = 0;
        for (int j = 0; j + 1 < t.side; ++j)
            for (int i = 0; i + 1 < t.side; ++i) {
                std::size_t k = std::size_t(j) * t.side + i;
                double d = std::max(std::fabs(double(t.heights[k + 1]) - t.heights[k]),
                                    std::fabs(double(t.heights[k + t.side]) - t.heights[k]));
                if (d > cliff) {
                    cliff = d;
                    at[2][0] = i * t.spacing;
                    at[2][1] = j * t.spacing;
                }
            }
        EXPECT_LE(cliff / t.spacing, kCliff)
            << b.design->dir << " at " << at[2][0] << ", " << at[2][1];
        // The start: all 40 positions with the three rows behind them (10 ft apart, a bike
        // 7 ft long), and 300 ft of straight ahead of them are level.
        const GateData &g = b.gates.data;
        for (const StartPosition &s : g.starts) {
            for (double back = 0; back <= 38; back += 2) {
                double x = s.x + std::sin(s.angle) * back, z = s.z + std::cos(s.angle) * back;
                EXPECT_NEAR(terrain_height(t, x, z), b.ground.pad_height, 0.02) << back;
            }
        }
        for (double r = 0; r <= 300; r += 5) {
            CoursePoint p = ride_point(b.course, r);
            EXPECT_NEAR(terrain_height(t, p.x, p.z), b.ground.pad_height, 0.02) << r;
            EXPECT_LT(std::fabs(p.curvature), 1e-6) << "the start straight bends at " << r;
        }
    }
}

// Reads a line library file the way the robots read it.
struct ReadLibrary {
    int sections = -1;
    std::vector<std::vector<std::vector<std::array<float, 5>>>> points;
    std::vector<std::vector<std::array<int, 9>>> counters;
    bool ok = false;
};

ReadLibrary read_library(const std::string &text) {
    ReadLibrary lib;
    Stream *s = stream_open_memory(text.data(), text.size(), false);
    if (stream_scan(s, "ct03 %d ", &lib.sections) != 1) return lib;
    lib.points.resize(lib.sections);
    lib.counters.resize(lib.sections);
    for (int sec = 0; sec < lib.sections; ++sec) {
        int slots = 0;
        if (stream_scan(s, " %d ", &slots) != 1) return lib;
        for (int k = 0; k < slots; ++k) {
            std::array<int, 9> c{};
            if (stream_scan(s, " %d %d %d %d %d %d %d %d %d ", &c[0], &c[1], &c[2], &c[3], &c[4],
                            &c[5], &c[6], &c[7], &c[8]) != 9)
                return lib;
            lib.counters[sec].push_back(c);
            std::vector<std::array<float, 5>> pts(c[0]);
            for (auto &p : pts)
                if (stream_scan(s, " [ %f %f %f ] %f %f ", &p[0], &p[1], &p[2], &p[3], &p[4]) != 5)
                    return lib;
            lib.points[sec].push_back(pts);
        }
    }
    lib.ok = stream_getc(s) == -1;
    vfs_close(s);
    return lib;
}

TEST_F(Generated, LineLibrariesFollowTheCourseFasterAtEachSkill) {
    const char *files[3] = {"lines_novice", "lines_amateur", "lines_expert"};
    for (const BuiltTrack &b : *tracks_) {
        const GateData &g = b.gates.data;
        int sections = g.first_lap_segments + g.normal_lap_segments;
        std::vector<long> totals(3, 0);
        for (int k = 0; k < 3; ++k) {
            ReadLibrary lib = read_library(read_file(dir_->file(b.design->dir + "/" + files[k])));
            ASSERT_TRUE(lib.ok) << b.design->dir << " " << files[k];
            ASSERT_EQ(lib.sections, sections);
            int airborne = 0;
            for (int sec = 0; sec < sections; ++sec) {
                ASSERT_GE(lib.points[sec].size(), 1u);
                ASSERT_LE(lib.points[sec].size(), 45u);
                for (std::size_t slot = 0; slot < lib.points[sec].size(); ++slot) {
                    const auto &pts = lib.points[sec][slot];
                    const auto &c = lib.counters[sec][slot];
                    ASSERT_GE(pts.size(), 2u);
                    EXPECT_GT(c[1], 0);
                    EXPECT_GT(c[2], c[1]);
                    if (slot == 0) totals[k] += c[1];
                    // The line starts at the gate that begins its section.
                    double r0 = sec == 0 ? 0.0 : b.gates.sequence_r[sec - 1];
                    CoursePoint start = ride_point(b.course, r0);
                    double d = std::hypot(pts[0][0] - start.x, pts[0][2] - start.z);
                    EXPECT_LE(d, sec == 0 ? 75.0 : 8.0) << "section " << sec;
                    // Every point lies on the riding surface.
                    for (const auto &p : pts) {
                        int i = int(std::lround(p[0] / b.terrain.spacing));
                        int j = int(std::lround(p[2] / b.terrain.spacing));
                        ASSERT_TRUE(i >= 0 && j >= 0 && i < b.terrain.side && j < b.terrain.side);
                        EXPECT_LE(b.ground.edge_distance[std::size_t(j) * b.terrain.side + i], 1.5f)
                            << b.design->dir << " section " << sec;
                        if (p[3] < 0) ++airborne;
                        EXPECT_LE(std::fabs(p[3]), 95.0f);
                    }
                }
            }
            if (k == kExpert) {
                EXPECT_GT(airborne, 0) << "experts jump";
            }
        }
        EXPECT_GT(totals[kNovice], totals[kAmateur]) << b.design->dir;
        EXPECT_GT(totals[kAmateur], totals[kExpert]) << b.design->dir;
    }
    // Rabbit Hill takes about a minute a lap.
    const BuiltTrack &rh = track("rabbithill");
    for (int k : {kAmateur, kExpert}) {
        EXPECT_GE(rh.lines[k].normal_lap_seconds, 60.0);
        EXPECT_LE(rh.lines[k].normal_lap_seconds, 75.0);
    }
}

TEST_F(Generated, TheDefaultTrackHasTheFeaturesOfAMotocrossTrack) {
    const BuiltTrack &rh = track("rabbithill");
    int tabletops = 0, doubles = 0, whoops = 0;
    for (const PlacedFeature &f : rh.course.features) {
        tabletops += f.kind == FeatureKind::Tabletop;
        doubles += f.kind == FeatureKind::Double;
        whoops += f.kind == FeatureKind::Whoops;
    }
    EXPECT_GE(tabletops, 2);
    EXPECT_GE(doubles, 1);
    EXPECT_GE(whoops, 1);
    // Berms in the tight turns.
    double berm = 0;
    for (const CoursePoint &p : rh.course.loop.points) berm = std::max(berm, std::fabs(p.berm));
    EXPECT_GT(berm, 3.0);
    // The finish line is on a straight.
    CoursePoint f = leg_point_at(rh.course.loop, rh.course.finish_s);
    EXPECT_LT(std::fabs(f.curvature), 1e-6);
}

} // namespace
