#include "platform/messages.h"
#include "support/fixture_track.h"
#include "support/tempdir.h"
#include "track/terrain.h"
#include "track/terrain_io.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

namespace {

std::string last_message() {
    const char *m = messages_shown_line(0);
    return m ? m : "";
}

// The heights a fixture's samples become after the 16-bit round trip.
std::vector<float> quantised_heights(const Terrain &t) {
    float lo = t.heights[0], hi = t.heights[0];
    for (float h : t.heights) lo = std::min(lo, h), hi = std::max(hi, h);
    char text[128];
    std::snprintf(text, sizeof text, "%f %f", double(lo), double(hi));
    float a, b;
    std::sscanf(text, "%f %f", &a, &b);
    std::vector<float> out;
    for (float h : t.heights) {
        double v =
            std::min(65535.0, std::max(0.0, (double(h) - a) / (double(b) - a) * 65535.0 + 0.5));
        out.push_back(float(a + double(unsigned(v)) * (double(b) - a) / 65535.0));
    }
    return out;
}

class TerrainLoad : public ::testing::Test {
protected:
    void SetUp() override { messages_clear(); }
    void TearDown() override { terrain_free(); }
    const char *folder() const { return "@tracks/fixture"; }
    std::string home(const char *file) const { return sandbox.home() + "tracks/fixture/" + file; }
    VfsSandbox sandbox;
};

TEST_F(TerrainLoad, InlineAndPngHeightsLoadTheSameTerrain) {
    FixtureTrack f;
    f.tile_types = 3;
    f.tile = [](int cx, int cz) { return std::uint8_t((cx * cz) % 3); };
    Terrain expected = fixture_terrain(f);
    std::vector<float> heights = quantised_heights(expected);
    Digest digests[2];
    for (int form = 0; form < 2; form++) {
        f.inline_heights = form == 0;
        f.dir = form == 0 ? "tracks/inline" : "tracks/png";
        ASSERT_TRUE(write_fixture_track(f));
        ASSERT_TRUE(terrain_load(("@" + f.dir).c_str(), 1)) << last_message();
        const Terrain &t = terrain();
        EXPECT_EQ(t.size_exp, 7);
        EXPECT_EQ(t.side, 257);
        EXPECT_FLOAT_EQ(t.spacing, 2.0f);
        EXPECT_FLOAT_EQ(t.extent, 512.0f);
        EXPECT_EQ(t.ground_method, 1);
        ASSERT_EQ(t.heights.size(), heights.size());
        for (std::size_t k = 0; k < heights.size(); k++)
            ASSERT_FLOAT_EQ(t.heights[k], heights[k]) << "sample " << k;
        EXPECT_EQ(t.tiles.size(), 3u);
        EXPECT_EQ(t.tilemap, expected.tilemap);
        EXPECT_EQ(t.shading, expected.shading);
        EXPECT_EQ(t.shadows, expected.shadows);
        digests[form] = t.height_digest;
    }
    EXPECT_TRUE(digest_equal(digests[0], digests[1]));
}

TEST_F(TerrainLoad, HeightDigestCoversTheSamplesLowByteFirst) {
    FixtureTrack f;
    ASSERT_TRUE(write_fixture_track(f));
    ASSERT_TRUE(terrain_load(folder(), 0));
    std::string hf = sandbox.dir().read("xdg/Vantorq/tracks/fixture/terrain.hf");
    std::size_t colon = hf.find(':');
    ASSERT_NE(colon, std::string::npos);
    std::string samples = hf.substr(colon + 1);
    ASSERT_EQ(samples.size(), 257u * 257u * 2u);
    EXPECT_TRUE(digest_equal(terrain().height_digest, ripemd160(samples.data(), samples.size())));
}

TEST_F(TerrainLoad, HeaderValidation) {
    struct Case {
        const char *header;
        const char *message;
    };
    const Case cases[] = {
        {"abc", "Error reading heights"},
        {"7 2 0", "Error reading heights"},
        {"6 2 0 10\n:", "Bad height field parameters: size 6 is outside 7..11"},
        {"12 2 0 10\n:", "Bad height field parameters: size 12 is outside 7..11"},
        {"-1 2 0 10\n:", "Bad height field parameters: size -1 is outside 7..11"},
        {"7 0 0 10\n:", "Bad height field parameters: spacing 0 must be above 0 and finite"},
        {"7 -2 0 10\n:", "Bad height field parameters: spacing -2 must be above 0 and finite"},
        {"7 1e39 0 10\n:", "Bad height field parameters: spacing inf must be above 0 and finite"},
        {"7 2 10 0\n:", "Bad height field parameters: heights 10 to 0"},
        {"7 2 0 1e40\n:", "Bad height field parameters: heights 0 to inf"},
    };
    FixtureTrack f;
    ASSERT_TRUE(write_fixture_track(f));
    for (const Case &c : cases) {
        sandbox.write_home("tracks/fixture/terrain.hf", c.header);
        EXPECT_FALSE(terrain_load(folder(), 0)) << c.header;
        EXPECT_EQ(last_message(), c.message) << c.header;
        EXPECT_EQ(terrain().side, 0);
        EXPECT_TRUE(terrain().heights.empty());
    }
}

TEST_F(TerrainLoad, ShortInlineHeightsFailTheLoad) {
    FixtureTrack f;
    ASSERT_TRUE(write_fixture_track(f));
    std::string hf = sandbox.dir().read("xdg/Vantorq/tracks/fixture/terrain.hf");
    sandbox.write_home("tracks/fixture/terrain.hf", hf.substr(0, hf.size() - 1));
    EXPECT_FALSE(terrain_load(folder(), 0));
    EXPECT_EQ(last_message(), "Error reading heights");
    EXPECT_EQ(terrain().side, 0);
}

TEST_F(TerrainLoad, CompressedHeightFieldIsRead) {
    FixtureTrack f;
    ASSERT_TRUE(write_fixture_track(f));
    std::string hf = sandbox.dir().read("xdg/Vantorq/tracks/fixture/terrain.hf");
    std::remove(home("terrain.hf").c_str());
    sandbox.write_home("tracks/fixture/terrain.hf.gz", gzip_bytes(hf));
    ASSERT_TRUE(terrain_load(folder(), 0)) << last_message();
    EXPECT_EQ(terrain().side, 257);
}

TEST_F(TerrainLoad, FlatTerrainRoundTrips) {
    FixtureTrack f;
    f.height = [](int, int) { return 3.5f; };
    ASSERT_TRUE(write_fixture_track(f));
    ASSERT_TRUE(terrain_load(folder(), 0));
    EXPECT_FLOAT_EQ(terrain().min_height, 3.5f);
    EXPECT_FLOAT_EQ(terrain().max_height, 3.5f);
    EXPECT_DOUBLE_EQ(terrain_height(100.0, 200.0), 3.5);
    EXPECT_DOUBLE_EQ(terrain_normal(100.0, 200.0).y, 4.0);
}

TEST_F(TerrainLoad, ShadingAndShadowFiles) {
    FixtureTrack f;
    ASSERT_TRUE(write_fixture_track(f));
    const std::string side = "257 257\n255\n";
    // Without "shadingx2.ppm" the full-scale "shading.ppm" is halved.
    std::remove(home("shadingx2.ppm").c_str());
    sandbox.write_home("tracks/fixture/shading.ppm",
                       "P6\n" + side + std::string(257 * 257 * 3, char(201)));
    // The shadow file holds 255 - darkness.
    sandbox.write_home("tracks/fixture/shadows.pgm",
                       "P5\n" + side + std::string(257 * 257, char(55)));
    ASSERT_TRUE(terrain_load(folder(), 0)) << last_message();
    EXPECT_EQ(terrain().shading[0], 100);
    EXPECT_EQ(terrain().shadows[0], 200);

    // A shadow map of the wrong size is ignored; the load goes on.
    sandbox.write_home("tracks/fixture/shadows.pgm", "P5\n3 3\n255\n123456789");
    ASSERT_TRUE(terrain_load(folder(), 0));
    EXPECT_EQ(terrain().shadows[0], 0);

    struct Case {
        std::string shading;
        const char *message;
    };
    const Case failures[] = {
        {"P6\n256 257\n255\n" + std::string(256 * 257 * 3, 'x'),
         "Bad shading dimensions (256x257)"},
        {"P6\n" + side + "xyz", "Error reading shading"},
        {"P9\n" + side, "Error reading shading"},
        {"P6\n257 257\n0\n" + std::string(257 * 257 * 3, 'x'), "Error reading shading"},
    };
    for (const Case &c : failures) {
        sandbox.write_home("tracks/fixture/shading.ppm", c.shading);
        EXPECT_FALSE(terrain_load(folder(), 0));
        EXPECT_EQ(last_message(), c.message);
        EXPECT_EQ(terrain().side, 0);
    }
    std::remove(home("shading.ppm").c_str());
    EXPECT_FALSE(terrain_load(folder(), 0));
    EXPECT_EQ(last_message(), "Can't open '@tracks/fixture/shading.ppm'");
}

TEST_F(TerrainLoad, DeltaShadingIsDecoded) {
    FixtureTrack f;
    ASSERT_TRUE(write_fixture_track(f));
    // Every delta byte 1: pixel (0, 0) is 1, the first row and column count up, inner
    // pixels predict left + above - above-left and add 1.
    sandbox.write_home("tracks/fixture/shadingx2.ppm",
                       "Z6\n257 257\n" + std::string(257 * 257 * 3, char(1)));
    ASSERT_TRUE(terrain_load(folder(), 0)) << last_message();
    const std::vector<std::uint8_t> &s = terrain().shading;
    EXPECT_EQ(s[0], 1);
    EXPECT_EQ(s[3 * 2], 3);         // (2, 0)
    EXPECT_EQ(s[3 * 257], 2);       // (0, 1)
    EXPECT_EQ(s[3 * (257 + 1)], 4); // (1, 1): 2 + 2 - 1, plus 1
}

TEST_F(TerrainLoad, SurfaceTypesAndTilemap) {
    FixtureTrack f;
    f.tile = [](int cx, int) { return std::uint8_t(cx == 0 ? 200 : 1); };
    ASSERT_TRUE(write_fixture_track(f));
    std::string tileinfo;
    for (int i = 0; i < 12; i++) tileinfo += "texture @t" + std::to_string(i) + ".png\naddtile\n";
    sandbox.write_home("tracks/fixture/tileinfo", tileinfo);
    ASSERT_TRUE(terrain_load(folder(), 0));
    EXPECT_EQ(terrain().tiles.size(), 12u);
    EXPECT_EQ(terrain_tile(0.0, 0.0), 11); // 200 with 12 types reads as the last type
    EXPECT_EQ(terrain_tile(5.0, 0.0), 1);

    // A short tilemap: the cells past its end get type 0.
    sandbox.write_home("tracks/fixture/tilemap", std::string(10, char(1)));
    ASSERT_TRUE(terrain_load(folder(), 0));
    EXPECT_EQ(terrain_tile(4.0 * 9, 0.0), 1);
    EXPECT_EQ(terrain_tile(4.0 * 10, 0.0), 0);

    // A tileinfo without any type still gives one (default) type.
    sandbox.write_home("tracks/fixture/tileinfo", "friction 1 2\n");
    ASSERT_TRUE(terrain_load(folder(), 0));
    ASSERT_EQ(terrain().tiles.size(), 1u);
    EXPECT_EQ(terrain_tile(0.0, 0.0), 0);
    EXPECT_FLOAT_EQ(surface_friction(terrain_tile(0.0, 0.0), 3.0f), 1.0f);

    // Without "tileinfo" the older "texturelist" is read; without both the load fails.
    std::remove(home("tileinfo").c_str());
    sandbox.write_home("tracks/fixture/texturelist", "0.5 1 2 dirt.png\ngrass.png\n");
    ASSERT_TRUE(terrain_load(folder(), 0));
    EXPECT_EQ(terrain().tiles.size(), 2u);
    EXPECT_FLOAT_EQ(surface_friction(0, 1.0f), 0.5f);
    std::remove(home("texturelist").c_str());
    EXPECT_FALSE(terrain_load(folder(), 0));
    EXPECT_EQ(last_message(), "Can't open '@tracks/fixture/texturelist'");
    std::remove(home("tilemap").c_str());
    sandbox.write_home("tracks/fixture/tileinfo", "addtile\n");
    EXPECT_FALSE(terrain_load(folder(), 0));
    EXPECT_EQ(last_message(), "Can't open '@tracks/fixture/tilemap'");
}

TEST_F(TerrainLoad, DecalsAreKeptUntilARecordDoesNotParse) {
    FixtureTrack f;
    ASSERT_TRUE(write_fixture_track(f));
    sandbox.write_home("tracks/fixture/decals",
                       "[ 1 2 ] 0.5 8 2 @tyre.png\n[3 4] 0 1 1 @line.png\n[ 5 x ] 0 1 1 @bad.png\n"
                       "[7 8] 0 1 1 @late.png\n");
    ASSERT_TRUE(terrain_load(folder(), 0));
    ASSERT_EQ(terrain().decals.size(), 2u);
    EXPECT_FLOAT_EQ(terrain().decals[0].size, 8.0f);
    EXPECT_EQ(terrain().decals[1].texture, "@line.png");
}

TEST_F(TerrainLoad, MissingHeightFieldIsReported) {
    EXPECT_FALSE(terrain_load("@tracks/none", 0));
    EXPECT_EQ(last_message(), "Can't open '@tracks/none/terrain.hf'");
}

TEST_F(TerrainLoad, UnreadablePngGivesTheMinimumHeight) {
    FixtureTrack f;
    f.inline_heights = false;
    ASSERT_TRUE(write_fixture_track(f));
    sandbox.write_home("tracks/fixture/terrain.png", "not a png");
    ASSERT_TRUE(terrain_load(folder(), 0));
    EXPECT_FLOAT_EQ(terrain().heights[12345], terrain().min_height);
}

} // namespace
