#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/messages.h"
#include "sim/shapes.h"
#include "support/tempdir.h"

namespace {

bool parse(const std::string &text, CollisionShape &out) {
    return shape_parse("@test.shp", text.data(), text.size(), out);
}

TEST(Shapes, ParsesSpheresAndBoundingRadius) {
    CollisionShape s;
    ASSERT_TRUE(parse("2\n 0 0 0 0.5 1 2500 250\n3 4 0\n1 0.8 0 100\n", s));
    ASSERT_EQ(s.spheres.size(), 2u);
    EXPECT_EQ(s.name, "@test.shp");
    EXPECT_FLOAT_EQ(s.spheres[1].centre[0], 3);
    EXPECT_FLOAT_EQ(s.spheres[1].friction, 0.8f);
    EXPECT_FLOAT_EQ(s.spheres[1].stiffness, 0);
    EXPECT_FLOAT_EQ(s.spheres[1].damping, 100);
    EXPECT_FLOAT_EQ(s.bounding_radius, 6); // |(3, 4, 0)| + 1
}

TEST(Shapes, RejectsBadContentWithAMessage) {
    const char *bad[] = {
        "",                                // no count
        "0\n",                             // no spheres
        "-3\n0 0 0 1 1 1 1\n",             // negative count
        "100000\n0 0 0 1 1 1 1\n",         // beyond the limit
        "40\n0 0 0 1 1 1 1\n",             // more spheres than the text can hold
        "2\n0 0 0 1 1 1 1\n0 0 0 1 1 1\n", // truncated
        "1\n0 0 0 0 1 1 1\n",              // radius 0
        "1\n0 0 0 -1 1 1 1\n",             // negative radius
        "1\n0 0 0 1 1 0 0\n",              // neither stiffness nor damping
        "1\n0 0 0 1 -1 1 1\n",             // negative friction
        "1\n0 0 0 1 1 1e39 1\n",           // infinite stiffness
        "1\n0 x 0 1 1 1 1\n",              // not a number
    };
    for (const char *text : bad) {
        messages_clear();
        CollisionShape s;
        s.name = "untouched";
        EXPECT_FALSE(parse(text, s)) << text;
        EXPECT_EQ(s.name, "untouched");
        const char *line = messages_shown_line(0);
        ASSERT_NE(line, nullptr) << text;
        EXPECT_NE(std::strstr(line, "@test.shp"), nullptr) << line;
    }
}

TEST(Shapes, LoadsThroughTheCache) {
    VfsSandbox box;
    box.write_install("good.shp", "1\n0 1 0\n0.25 1 2500 250\n");
    box.write_install("bad.shp", "1\n0 1 0\n0 1 2500 250\n");
    box.reset();
    shapes_free_all();
    const CollisionShape *a = shape_load("@good.shp");
    ASSERT_NE(a, nullptr);
    EXPECT_FLOAT_EQ(a->bounding_radius, 1.25f);
    EXPECT_EQ(shape_load("@good.shp"), a);
    EXPECT_EQ(shape_load("@missing.shp"), nullptr);
    messages_clear();
    EXPECT_EQ(shape_load("@bad.shp"), nullptr);
    EXPECT_NE(messages_shown_line(0), nullptr);
    messages_clear();
    EXPECT_EQ(shape_load("@bad.shp"), nullptr); // not read (nor reported) again
    EXPECT_EQ(messages_shown_line(0), nullptr);
    shapes_free_all();
}

} // namespace
