#include "files/stream.h"
#include "platform/messages.h"
#include "track/surfaces.h"
#include "track/terrain_io.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

std::vector<TileType> read_tileinfo(const std::string &text) {
    Stream *s = stream_open_memory(text.data(), text.size(), false);
    std::vector<TileType> tiles;
    tileinfo_read(s, tiles);
    stream_free(s);
    return tiles;
}

std::vector<TileType> read_texturelist(const std::string &text) {
    Stream *s = stream_open_memory(text.data(), text.size(), false);
    std::vector<TileType> tiles;
    texturelist_read(s, tiles);
    stream_free(s);
    return tiles;
}

// Every message line shown since the ring was cleared, oldest first.
std::vector<std::string> messages_since_clear() {
    std::vector<std::string> out;
    const MessageRing &ring = messages_state();
    for (int i = 0; i < ring.next; i++) out.push_back(ring.lines[i]);
    return out;
}

struct TileinfoCase {
    const char *name;
    std::string text;
    std::function<void(const std::vector<TileType> &)> check;
    std::vector<std::string> warnings; // message lines expected, in order
};

TEST(Tileinfo, ParsingTable) {
    const TileinfoCase cases[] = {
        {"defaults when a type sets nothing",
         "addtile\n",
         [](const std::vector<TileType> &t) {
             ASSERT_EQ(t.size(), 1u);
             EXPECT_EQ(t[0].friction[0].coefficient, 1.0f);
             EXPECT_EQ(t[0].friction[0].key, 1.0f);
             EXPECT_EQ(t[0].friction[1].key, 0.0f);
             EXPECT_EQ(t[0].roll_resist[0].a, 5.0f);
             EXPECT_EQ(t[0].roll_resist[0].b, 15.0f);
             EXPECT_EQ(t[0].roost[0].kind, 0);
             EXPECT_EQ(t[0].erode.radius, 4.0f);
         },
         {}},
        {"friction points are sorted by key",
         "friction 0.8 20\nfriction 1.2 5\naddtile\n",
         [](const std::vector<TileType> &t) {
             ASSERT_EQ(t.size(), 1u);
             EXPECT_EQ(t[0].friction[0].coefficient, 1.2f);
             EXPECT_EQ(t[0].friction[0].key, 5.0f);
             EXPECT_EQ(t[0].friction[1].coefficient, 0.8f);
             EXPECT_EQ(t[0].friction[1].key, 20.0f);
             EXPECT_EQ(t[0].friction[2].key, 0.0f);
         },
         {}},
        {"negative values and tiny keys are limited",
         "friction -1 0\nroll_resist -2 -3 -4\naddtile\n",
         [](const std::vector<TileType> &t) {
             EXPECT_EQ(t[0].friction[0].coefficient, 0.0f);
             EXPECT_EQ(t[0].friction[0].key, kMinKeySpeed);
             EXPECT_EQ(t[0].roll_resist[0].a, 0.0f);
             EXPECT_EQ(t[0].roll_resist[0].b, 0.0f);
             EXPECT_EQ(t[0].roll_resist[0].key, kMinKeySpeed);
         },
         {}},
        {"statements after the last addtile make no type",
         "  \ttexture @a/b/dirt.png\r\naddtile\n\n   \nfriction 1 2\ntexture @grass.png\n",
         [](const std::vector<TileType> &t) {
             ASSERT_EQ(t.size(), 1u);
             EXPECT_EQ(t[0].texture_path, "@a/b/dirt.png");
             EXPECT_EQ(t[0].name, "dirt.png");
         },
         {}},
        {"a ninth friction point and bad parameters are skipped",
         std::string(8 * 1, ' ') +
             "friction 1 1\nfriction 1 2\nfriction 1 3\nfriction 1 4\n"
             "friction 1 5\nfriction 1 6\nfriction 1 7\nfriction 1 8\nfriction 1 9\n"
             "roll_resist 1 2\nfriction x\naddtile\n",
         [](const std::vector<TileType> &t) { EXPECT_EQ(t[0].friction[7].key, 8.0f); },
         {"tileinfo warning: too many friction points\n",
          "tileinfo warning: bad roll_resist parameters\n",
          "tileinfo warning: too many friction points\n"}},
        {"roost slots: fields, quoted words, colours and fades",
         "roost count=3 \"texture=@my roost.png\" r=300 g=-5 b=12.9 fade_a=-256 fade_r=64 "
         "splash=1\nroost size=2 splash=0\naddtile\n",
         [](const std::vector<TileType> &t) {
             const RoostSpec &r0 = t[0].roost[0];
             EXPECT_EQ(r0.kind, 2);
             EXPECT_EQ(r0.count, 3.0f);
             EXPECT_EQ(r0.r, 255);
             EXPECT_EQ(r0.g, 0);
             EXPECT_EQ(r0.b, 12);
             EXPECT_EQ(r0.fade_a, -2);
             EXPECT_EQ(r0.fade_r, 0); // 64 / 128 truncates to 0
             EXPECT_EQ(r0.dig, 1.0f);
             EXPECT_EQ(t[0].roost[1].kind, 1);
             EXPECT_EQ(t[0].roost[1].size, 2.0f);
             EXPECT_EQ(t[0].roost[2].kind, 0);
         },
         {}},
        {"roost problems are reported and leave the field",
         "roost count= grow=abc wobble=1\nroost\nroost\nroost\nroost\naddtile\n",
         [](const std::vector<TileType> &t) {
             EXPECT_EQ(t[0].roost[0].count, 10.0f);
             EXPECT_EQ(t[0].roost[0].grow, 4.0f);
             EXPECT_EQ(t[0].roost[3].kind, 1);
         },
         {"tileinfo warning: bad count\n", "tileinfo warning: bad grow\n",
          "tileinfo warning: unknown roost parameter 'wobble=1'\n",
          "tileinfo warning: too many roost types\n"}},
        {"erode keys, a bad erode value and an unknown keyword",
         "erode_depth 2\nerode_radius\nerode_on_speed 30\nbounce 3\naddtile\n",
         [](const std::vector<TileType> &t) {
             EXPECT_EQ(t[0].erode.depth, 2.0f);
             EXPECT_EQ(t[0].erode.radius, 4.0f);
             EXPECT_EQ(t[0].erode.on_speed, 30.0f);
         },
         {"tileinfo warning: bad erode_radius\n",
          "tileinfo warning: Unknown identifier 'bounce'\n"}},
    };
    for (const TileinfoCase &c : cases) {
        SCOPED_TRACE(c.name);
        messages_clear();
        std::vector<TileType> tiles = read_tileinfo(c.text);
        c.check(tiles);
        EXPECT_EQ(messages_since_clear(), c.warnings);
    }
}

TEST(Tileinfo, AtMost256TypesAreRead) {
    std::string text;
    for (int i = 0; i < 300; i++) text += "friction " + std::to_string(i) + " 1\naddtile\n";
    std::vector<TileType> tiles = read_tileinfo(text);
    ASSERT_EQ(tiles.size(), 256u);
    EXPECT_EQ(tiles[255].friction[0].coefficient, 255.0f);
}

TEST(SurfaceCurves, FrictionIsLinearInTheSquaredSpeed) {
    std::vector<TileType> t = read_tileinfo("friction 0.8 20\nfriction 1.2 5\naddtile\n");
    double tt = (12.5 * 12.5 - 25.0) / (400.0 - 25.0);
    EXPECT_NEAR(surface_friction(t[0], 12.5f), 1.2 + tt * (0.8 - 1.2), 1e-6);
    EXPECT_FLOAT_EQ(surface_friction(t[0], 0.0f), 1.2f); // below the first key
    EXPECT_FLOAT_EQ(surface_friction(t[0], 3.0f), 1.2f);
    EXPECT_FLOAT_EQ(surface_friction(t[0], 50.0f), 0.8f); // beyond the last point
    EXPECT_FLOAT_EQ(surface_friction(t[0], -12.5f), surface_friction(t[0], 12.5f));
}

TEST(SurfaceCurves, RollingResistanceIsLinearInTheSpeed) {
    std::vector<TileType> t = read_tileinfo("roll_resist 1 2 10\nroll_resist 3 6 20\naddtile\n");
    RollResist mid = surface_roll_resist(t[0], 15.0f);
    EXPECT_FLOAT_EQ(mid.a, 2.0f);
    EXPECT_FLOAT_EQ(mid.b, 4.0f);
    EXPECT_FLOAT_EQ(surface_roll_resist(t[0], 1.0f).a, 1.0f);
    EXPECT_FLOAT_EQ(surface_roll_resist(t[0], 99.0f).b, 6.0f);
}

TEST(SurfaceCurves, EqualKeysNeverGiveNaN) {
    std::vector<TileType> t = read_tileinfo(
        "friction 0.5 5\nfriction 0.9 5\nfriction 1.1 5\nroll_resist 1 1 5\nroll_resist 2 2 "
        "5\naddtile\nfriction 1 0\nfriction 2 0\naddtile\n");
    for (const TileType &tile : t) {
        for (float s : {0.0f, 4.9f, 5.0f, 5.1f, 100.0f, 1e30f, NAN}) {
            EXPECT_TRUE(std::isfinite(surface_friction(tile, s))) << s;
            RollResist r = surface_roll_resist(tile, s);
            EXPECT_TRUE(std::isfinite(r.a) && std::isfinite(r.b)) << s;
        }
    }
}

TEST(Texturelist, NumbersOrAWholeLineName) {
    std::vector<TileType> t = read_texturelist("0.7 4 12 dirt.png\r\n\n  grass one.png \n"
                                               "3dmud.png\n");
    ASSERT_EQ(t.size(), 3u);
    EXPECT_FLOAT_EQ(t[0].friction[7].coefficient, 0.7f);
    EXPECT_EQ(t[0].friction[0].key, 1.0f);
    EXPECT_EQ(t[0].friction[1].key, 0.0f);
    EXPECT_FLOAT_EQ(t[0].roll_resist[3].a, 4.0f);
    EXPECT_FLOAT_EQ(t[0].roll_resist[3].b, 12.0f);
    EXPECT_EQ(t[0].texture_path, "@dirt.png");
    EXPECT_EQ(t[0].roost[0].kind, 1);
    EXPECT_EQ(t[0].roost[1].kind, 0);
    // Only the line end is removed: a trailing blank belongs to the name.
    EXPECT_EQ(t[1].texture_path, "@grass one.png ");
    EXPECT_FLOAT_EQ(t[1].friction[0].coefficient, 1.0f);
    EXPECT_EQ(t[2].texture_path, "@3dmud.png");
}

TEST(Tileinfo, WrittenTypesReadBackTheSame) {
    std::vector<TileType> tiles =
        read_tileinfo("texture @dirt.png\nfriction 0.8 20\nfriction 1.2 5.5\nroll_resist 1 2 3\n"
                      "roost count=3 r=7 fade_g=-640 splash=1\nroost drag=0.125\nerode_depth 2.5\n"
                      "erode_max_slope 0.3\naddtile\ntexture @grass.png\naddtile\n");
    ASSERT_EQ(tiles.size(), 2u);
    std::FILE *f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    Stream *out = stream_open_file(f, 0, kStreamNoLimit, false);
    ASSERT_TRUE(tileinfo_write(out, tiles));
    stream_flush(out);
    std::rewind(f);
    std::string text;
    char buf[512];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    stream_free(out);
    std::vector<TileType> back = read_tileinfo(text);
    ASSERT_EQ(back.size(), tiles.size());
    for (std::size_t t = 0; t < tiles.size(); t++) {
        const TileType &a = tiles[t], &b = back[t];
        EXPECT_EQ(a.texture_path, b.texture_path);
        EXPECT_EQ(a.name, b.name);
        for (int k = 0; k < kCurvePoints; k++) {
            EXPECT_EQ(a.friction[k].coefficient, b.friction[k].coefficient);
            EXPECT_EQ(a.friction[k].key, b.friction[k].key);
            EXPECT_EQ(a.roll_resist[k].a, b.roll_resist[k].a);
            EXPECT_EQ(a.roll_resist[k].key, b.roll_resist[k].key);
        }
        for (int k = 0; k < kRoostSlots; k++) {
            EXPECT_EQ(a.roost[k].kind, b.roost[k].kind);
            EXPECT_EQ(a.roost[k].count, b.roost[k].count);
            EXPECT_EQ(a.roost[k].drag, b.roost[k].drag);
            EXPECT_EQ(a.roost[k].r, b.roost[k].r);
            EXPECT_EQ(a.roost[k].fade_g, b.roost[k].fade_g);
            EXPECT_EQ(a.roost[k].fade_a, b.roost[k].fade_a);
        }
        EXPECT_EQ(a.erode.depth, b.erode.depth);
        EXPECT_EQ(a.erode.max_slope, b.erode.max_slope);
    }
}

TEST(TransitionCodes, FromTypeNames) {
    std::vector<TileType> tiles;
    for (const char *name :
         {"grass.png", "dirt.png", "grass-dirt-0101.png", "grass-alt2.png", "dirt-grass-01x1.png",
          "grass-sand-1111.png", "sand-dirt-1111.png", "plain.png"}) {
        TileType t = tile_type_default();
        t.name = name;
        tiles.push_back(t);
    }
    std::vector<int> codes = surface_transition_codes(tiles);
    ASSERT_EQ(codes.size(), tiles.size());
    EXPECT_EQ(codes[0], 0);
    EXPECT_EQ(codes[1], 1 * 65536 + 1 * 256);
    EXPECT_EQ(codes[2], 0 * 65536 + 1 * 256 + 5);
    EXPECT_EQ(codes[3], 0);                   // base-alt<digit>: the base type itself
    EXPECT_EQ(codes[4], 1 * 65536 + 0 * 256); // no valid bits
    EXPECT_EQ(codes[5], 5 * 65536 + 5 * 256); // second part names no type: plain
    EXPECT_EQ(codes[6], 6 * 65536 + 6 * 256); // base names no type: plain
    EXPECT_EQ(codes[7], 7 * 65536 + 7 * 256);
}

} // namespace
