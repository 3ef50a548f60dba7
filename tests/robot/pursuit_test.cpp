// The pursuit driver's line reader, its section mapping and the course point ahead.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "files/stream.h"
#include "files/vfs.h"
#include "robot/pursuit.h"
#include "sim/bike.h"
#include "sim/world.h"
#include "track/gates.h"
#include "track/terrain.h"

namespace {

bool parse(const std::string &text, int sections, PursuitLibrary &lib) {
    Stream *s = stream_open_memory(text.data(), text.size(), false);
    bool ok = pursuit_lines_parse(s, sections, lib);
    vfs_close(s);
    return ok;
}

std::string slot(int points, int first_time, float x0 = 0, float speed = 10) {
    std::string t = std::to_string(points) + " " + std::to_string(first_time) +
                    " 2000 0 1000000 1000000 0 0 0\n";
    for (int i = 0; i < points; ++i)
        t += "[" + std::to_string(x0 + 10 * i) + " 0 100] " +
             std::to_string(i % 3 ? speed : -speed) + " 0\n";
    return t;
}

TEST(PursuitLines, ReadsPointsAndPicksTheFastestLine) {
    std::string text =
        "ct03 2\n3\n" + slot(4, 900) + slot(0, 10) + slot(3, 700, 100) + "1\n" + slot(2, 500);
    PursuitLibrary lib;
    ASSERT_TRUE(parse(text, 2, lib));
    ASSERT_EQ(lib.sections.size(), 2u);
    ASSERT_EQ(lib.sections[0].lines.size(), 3u);
    EXPECT_EQ(lib.sections[0].best, 2); // the empty slot's time does not count
    EXPECT_EQ(lib.sections[0].lines[2].points[1].x, 110);
    EXPECT_EQ(lib.sections[0].lines[0].points[0].speed, -10); // airborne keeps its sign
    EXPECT_EQ(lib.sections[1].best, 0);
}

TEST(PursuitLines, RejectsMismatchAndSurvivesHostileCounts) {
    PursuitLibrary lib;
    EXPECT_FALSE(parse("ct03 3\n0\n0\n0\n", 2, lib));
    EXPECT_TRUE(lib.sections.empty());
    EXPECT_FALSE(parse("garbage", 2, lib));
    EXPECT_FALSE(parse("", 2, lib));

    // A slot or point count far beyond the data stops the read; what came before stays.
    ASSERT_TRUE(parse("ct03 2\n1\n" + slot(2, 100) + "2000000000\n", 2, lib));
    EXPECT_EQ(lib.sections[0].best, 0);
    EXPECT_TRUE(lib.sections[1].lines.empty());
    ASSERT_TRUE(parse("ct03 1\n1\n999999999 1 2 3 4 5 6 7 8\n[1 2 3] 4 5\n", 1, lib));
    EXPECT_TRUE(lib.sections[0].lines.empty());
    ASSERT_TRUE(parse("ct03 1\n2\n" + slot(2, 100) + "2 50 0 0 0 0 0 0 0\n[1 2 3] x 5\n", 1, lib));
    EXPECT_EQ(lib.sections[0].lines.size(), 1u); // the broken slot is dropped

    // More than 45 slots: read, and the extra ones dropped.
    std::string many = "ct03 1\n50\n";
    for (int i = 0; i < 50; ++i) many += slot(2, 1000 - i);
    ASSERT_TRUE(parse(many, 1, lib));
    EXPECT_EQ(int(lib.sections[0].lines.size()), kPursuitLinesPerSection);
    EXPECT_EQ(lib.sections[0].best, 44);
}

class PursuitCourse : public ::testing::Test {
protected:
    void SetUp() override {
        terrain_init_flat(terrain(), 6, 2.0f, 0.0f);
        physics_world_create();
        // Two checkpoints; both laps "1 0": sections 0, 1 (first lap), 2, 3 (normal lap).
        const char *text = "checkpoints:\n10 [50 0 100] [1 0 0]\n10 [100 0 100] [1 0 0]\n"
                           "firstlap:\n1 0\nnormallap:\n1 0\n";
        ASSERT_TRUE(gates_parse(text, std::strlen(text), gates()));
        bike_ = bike_create("crf450(2013)", 0, "1", "", "", "", "");
        bike_place(bike_, 20, 0, 100, 0);
    }
    void TearDown() override {
        bike_destroy(bike_);
        pursuit_lines_clear();
        gates_free();
        physics_world_destroy();
        terrain_clear(terrain());
    }
    Bike *bike_ = nullptr;
};

TEST_F(PursuitCourse, SectionsMapOntoTheFirstAndOneNormalLap) {
    EXPECT_EQ(pursuit_section(0), 0);
    EXPECT_EQ(pursuit_section(1), 1);
    EXPECT_EQ(pursuit_section(2), 2);
    EXPECT_EQ(pursuit_section(3), 3);
    EXPECT_EQ(pursuit_section(4), 2); // the second normal lap reuses its sections
    EXPECT_EQ(pursuit_section(4, 1), 3);
}

TEST_F(PursuitCourse, CoursePointIsFourPointsOnAlongTheBestLine) {
    // Section 0: a line along x from 0 to 90 ft; section 1: a line from 100 on.
    std::string text = "ct03 4\n1\n" + slot(10, 100, 0) + "1\n" + slot(5, 100, 100) + "0\n0\n";
    PursuitLibrary lib;
    ASSERT_TRUE(parse(text, 4, lib));
    pursuit_lines_use(std::move(lib));
    Vec3 p;
    ASSERT_TRUE(pursuit_course_point(bike_, &p)); // frame near x = 20: nearest point 2
    EXPECT_EQ(p.x, 60);
    bike_place(bike_, 78, 0, 100, 0); // nearest point 8: runs 3 past the end into section 1
    ASSERT_TRUE(pursuit_course_point(bike_, &p));
    EXPECT_EQ(p.x, 130);
    // Section 2 has no line: nothing here (the rider falls back to the checkpoint).
    bike_->gates.next_gate = 2;
    EXPECT_FALSE(pursuit_course_point(bike_, &p));
}

} // namespace
