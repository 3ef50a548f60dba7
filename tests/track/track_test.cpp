#include "platform/messages.h"
#include "support/fixture_track.h"
#include "support/tempdir.h"
#include "track/gates.h"
#include "track/hooks.h"
#include "track/terrain.h"
#include "track/track.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

std::string last_message() {
    const char *m = messages_shown_line(0);
    return m ? m : "";
}

class TrackTest : public ::testing::Test {
protected:
    void SetUp() override { messages_clear(); }
    void TearDown() override {
        track_free();
        track_hooks_install(TrackHooks{});
    }
    std::string read_home(const std::string &rel) const {
        return sandbox.dir().read("xdg/Vantorq/" + rel);
    }
    VfsSandbox sandbox;
};

TEST_F(TrackTest, ListingFindsEachTrackFolderOnceSortedByName) {
    sandbox.write_home("tracks/a/terrain.hf", "x");
    sandbox.write_home("tracks/a/desc", "\nsecond line"); // empty first line
    sandbox.write_home("tracks/b/terrain.hf", "x");
    sandbox.write_home("tracks/b/desc", "beta\r\nmore"); // CR LF removed
    sandbox.write_home("tracks/c/terrain.hf", "x");
    sandbox.write_home("tracks/c/terrain.hf.gz", "x"); // listed once
    sandbox.write_home("tracks/d/terrain.hf.gz", "x");
    sandbox.write_home("tracks/d/desc", "Alpha");
    sandbox.write_install("tracks/e/terrain.hf", "x");
    sandbox.write_install("tracks/e/desc", std::string("ALPHA 2\0tail", 12));
    sandbox.write_home("tracks/f/terrain.hfx", "x"); // not a track
    sandbox.write_home("terrain.hf", "x");           // no folder
    sandbox.reset();

    ASSERT_EQ(track_list_build(), 5);
    const TrackList &list = track_list();
    const std::vector<std::string> dirs = {"tracks/a", "tracks/d", "tracks/e", "tracks/b",
                                           "tracks/c"};
    const std::vector<std::string> names = {"", "Alpha", "ALPHA 2", "beta", "tracks/c"};
    EXPECT_EQ(list.dirs, dirs);
    EXPECT_EQ(list.long_names, names);
    EXPECT_EQ(track_list_find("tracks/b"), 3);
    EXPECT_EQ(track_list_find("tracks/B"), -1);
}

// The hashed files of the fixture, concatenated in hash order.
std::string hashed_content(const TrackTest &,
                           const std::function<std::string(const std::string &)> &read) {
    std::string all;
    for (const char *name : {"terrain.hf", "terrain.png", "texturelist", "tilemap", "tileinfo",
                             "timing_gates", "statues"})
        all += read(std::string("tracks/fixture/") + name);
    return all;
}

TEST_F(TrackTest, HashCoversTheRidingFilesOnly) {
    FixtureTrack f;
    f.timing_gates = fixture_round_course(256, 256, 100, 15);
    ASSERT_TRUE(write_fixture_track(f));
    sandbox.write_home("tracks/fixture/texturelist", "dirt.png\n");
    sandbox.write_home("tracks/fixture/statues", "[1 0 2] 0 @rock.zm @rock.png @rock.shp\n");
    sandbox.write_home("tracks/fixture/lighting", "sun_vector [1 2 3]\n");
    sandbox.write_home("tracks/fixture/billboards", "[1 0 2] 3 1 @tree.png\n");
    sandbox.write_home("tracks/fixture/rock.shp", "shape");
    ASSERT_TRUE(track_load("tracks/fixture", 0)) << last_message();
    const Digest base = track_state().hash;
    std::string all = hashed_content(*this, [&](const std::string &r) { return read_home(r); });
    EXPECT_TRUE(digest_equal(base, ripemd160(all.data(), all.size())));

    // A changed byte in any hashed file changes the hash.
    for (const char *name :
         {"terrain.hf", "texturelist", "tilemap", "tileinfo", "timing_gates", "statues"}) {
        std::string rel = std::string("tracks/fixture/") + name;
        std::string original = read_home(rel);
        std::string changed = original;
        changed.back() = changed.back() == '\n' ? ' ' : char(changed.back() ^ 1);
        sandbox.write_home(rel, changed);
        ASSERT_TRUE(track_load("tracks/fixture", 0)) << name;
        EXPECT_FALSE(digest_equal(track_state().hash, base)) << name;
        sandbox.write_home(rel, original);
    }
    // Lighting and billboards, changed or removed, do not.
    sandbox.write_home("tracks/fixture/lighting", "sun_vector [3 2 1]\n");
    std::remove((sandbox.home() + "tracks/fixture/billboards").c_str());
    ASSERT_TRUE(track_load("tracks/fixture", 0));
    EXPECT_TRUE(digest_equal(track_state().hash, base));
}

TEST_F(TrackTest, HashCoversAHeightImage) {
    FixtureTrack f;
    f.inline_heights = false;
    ASSERT_TRUE(write_fixture_track(f));
    ASSERT_TRUE(track_load("tracks/fixture", 0));
    const Digest base = track_state().hash;
    std::string png = read_home("tracks/fixture/terrain.png");
    png[png.size() / 2] ^= 1;
    sandbox.write_home("tracks/fixture/terrain.png", png);
    ASSERT_TRUE(track_load("tracks/fixture", 0));
    EXPECT_FALSE(digest_equal(track_state().hash, base));
}

// A stand-in scenery layer: four statues, shape files shared by two of them.
struct SceneryLog {
    std::vector<std::string> calls;
    std::vector<std::vector<float>> gate_statues;
    int frees = 0;
};
SceneryLog g_scenery;

TrackHooks scenery_hooks() {
    TrackHooks h;
    h.statue_count = [] { return 4; };
    h.statue_collision = [](int i, StatueCollision &out) {
        static const char *const shapes[] = {"@s1.shp", nullptr, "@s2.shp", "@s1.shp"};
        if (!shapes[i]) return false;
        out = {shapes[i], 100.0f + 200.0f * i, 328.0f, 10.0f};
        return true;
    };
    h.statue_add = [](float x, float y, float z, float angle, const char *model,
                      const char *texture, const char *shape) {
        g_scenery.gate_statues.push_back({x, y, z, angle});
        g_scenery.calls.push_back(std::string(model ? model : "-") + " " +
                                  (texture ? texture : "-") + " " + (shape ? shape : "-"));
        return int(g_scenery.gate_statues.size()) + 99;
    };
    h.scenery_free = [] { g_scenery.frees++; };
    return h;
}

TEST_F(TrackTest, StatueShapesAreHashedOnceEachAndFillTheGrid) {
    g_scenery = SceneryLog();
    track_hooks_install(scenery_hooks());
    FixtureTrack f;
    f.timing_gates = "startinggate:\n[10 1 20] 0\n[30 1 40] 1.5707963 @g.zm null @g.shp\n"
                     "checkpoints:\n5 [0 0 0] [1 0 0]\nfirstlap: 0\nnormallap: 0\n";
    ASSERT_TRUE(write_fixture_track(f));
    sandbox.write_home("s1.shp", "one");
    sandbox.write_home("s2.shp", "two");
    ASSERT_TRUE(track_load("tracks/fixture", 0));
    std::string all = hashed_content(*this, [&](const std::string &r) { return read_home(r); });
    all += "one";
    all += "two";
    EXPECT_TRUE(digest_equal(track_state().hash, ripemd160(all.data(), all.size())));

    // The gate statues stand 3 units ahead of their start positions.
    ASSERT_EQ(g_scenery.gate_statues.size(), 2u);
    EXPECT_FLOAT_EQ(g_scenery.gate_statues[0][0], 10.0f);
    EXPECT_FLOAT_EQ(g_scenery.gate_statues[0][2], 17.0f);
    EXPECT_NEAR(g_scenery.gate_statues[1][0], 27.0f, 1e-5);
    EXPECT_NEAR(g_scenery.gate_statues[1][2], 40.0f, 1e-5);
    EXPECT_EQ(g_scenery.calls[0], "@startgate.zm @startgate.ppm @startgate.shp");
    EXPECT_EQ(g_scenery.calls[1], "@g.zm - @g.shp");
    EXPECT_EQ(gates().starts[1].gate_statue, 101);

    // Extent 512, cells 48 units wide from 64: statue 0 at x 100 (r 10) is in column 0,
    // statue 2 at x 500 in 7, statue 3 at x 700 clamps to 7; z 328 +- 10 is row 5.
    const StatueGrid &grid = statue_grid();
    EXPECT_EQ(grid.buckets[5 * 8 + 0], std::vector<int>{0});
    EXPECT_EQ(grid.buckets[5 * 8 + 7], (std::vector<int>{2, 3}));
    int total = 0;
    for (const auto &b : grid.buckets) total += int(b.size());
    EXPECT_EQ(total, 3);

    // Changing a shape file changes the hash.
    const Digest base = track_state().hash;
    sandbox.write_home("s2.shp", "twO");
    ASSERT_TRUE(track_load("tracks/fixture", 0));
    EXPECT_FALSE(digest_equal(track_state().hash, base));
}

TEST_F(TrackTest, StatueGridCells) {
    const double e = 800.0;
    struct Case {
        double c;
        int cell;
    };
    const Case cases[] = {{0, 0},   {100, 0}, {174.9, 0}, {175, 1},  {400, 4},
                          {699, 7}, {700, 7}, {1e9, 7},   {-1e9, 0}, {NAN, 0}};
    for (const Case &c : cases) EXPECT_EQ(statue_grid_cell(c.c, e), c.cell) << c.c;
}

TEST_F(TrackTest, AFailedLoadLeavesNoTrackAndAnotherLoadWorks) {
    g_scenery = SceneryLog();
    track_hooks_install(scenery_hooks());
    FixtureTrack good;
    good.timing_gates = fixture_round_course(256, 256, 100, 15);
    ASSERT_TRUE(write_fixture_track(good));
    ASSERT_TRUE(track_load("tracks/fixture", 0));
    FixtureTrack bad;
    bad.dir = "tracks/bad";
    ASSERT_TRUE(write_fixture_track(bad));
    sandbox.write_home("tracks/bad/terrain.hf", "7 2 0\n");

    track_free();
    int frees = g_scenery.frees;
    EXPECT_FALSE(track_load("tracks/bad", 0));
    EXPECT_GT(g_scenery.frees, frees); // what the attempt created was released
    EXPECT_FALSE(track_state().loaded);
    EXPECT_TRUE(track_state().dir.empty());
    EXPECT_EQ(terrain().side, 0);
    EXPECT_TRUE(gates().checkpoints.empty());
    EXPECT_TRUE(track_load_needed("tracks/bad"));

    ASSERT_TRUE(track_load("tracks/fixture", 0));
    EXPECT_TRUE(track_state().loaded);
    EXPECT_EQ(track_state().dir, "tracks/fixture");
    EXPECT_EQ(gates().checkpoints.size(), 4u);
}

TEST_F(TrackTest, TrackInfoSummary) {
    EXPECT_FALSE(save_track_info()); // no track loaded
    FixtureTrack f;
    f.timing_gates = fixture_round_course(256, 256, 100, 15);
    f.has_desc = true;
    f.desc = "Fixture Park\n";
    ASSERT_TRUE(write_fixture_track(f));
    sandbox.reset();
    track_list_build();
    ASSERT_TRUE(track_load("tracks/fixture", 0));
    EXPECT_EQ(track_state().long_name, "Fixture Park");
    ASSERT_TRUE(save_track_info());
    EXPECT_EQ(read_home("tracks/fixture.trackinfo"),
              "dir=tracks/fixture\nlongname=Fixture Park\nfirstlap=4\nnormallap=4\ngatecount=1\n"
              "hash=" +
                  digest_to_hex(track_state().hash) + "\n");
    EXPECT_EQ(last_message(), "Track info saved to tracks/fixture.trackinfo");
}

TEST_F(TrackTest, ReloadIsNeededForAnotherFolderOrOnRequest) {
    FixtureTrack f;
    ASSERT_TRUE(write_fixture_track(f));
    track_list_build(); // forget the lists of earlier tests
    EXPECT_TRUE(track_load_needed("tracks/fixture"));
    ASSERT_TRUE(track_load("tracks/fixture", 0));
    EXPECT_EQ(track_state().long_name, "tracks/fixture"); // no "desc": the folder name
    EXPECT_FALSE(track_load_needed("tracks/fixture"));
    EXPECT_TRUE(track_load_needed("tracks/other"));
    track_force_reload();
    EXPECT_TRUE(track_load_needed("tracks/fixture"));
    ASSERT_TRUE(track_load("tracks/fixture", 0));
    EXPECT_FALSE(track_load_needed("tracks/fixture"));
    track_free();
    EXPECT_TRUE(track_load_needed("tracks/fixture"));
}

} // namespace
