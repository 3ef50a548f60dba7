#include <cmath>
#include <cstring>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "platform/messages.h"
#include "sim/catalogue.h"

namespace {

const BikeModel &model(const char *name) {
    const BikeModel *m = bike_model_find(name);
    EXPECT_NE(m, nullptr) << name;
    return m ? *m : bike_models()[0];
}

TEST(Catalogue, TableOrderAndNames) {
    const char *order[kBikeModelCount] = {
        "crf450(2013)",    "kx450f(2013)", "rmz450(2013)", "yz450f(2013)", "450sxf(2013)",
        "350sxf(2013)",    "crf450(2011)", "kx450f(2011)", "rmz450(2011)", "yz450f(2011)",
        "450sxf(2011)",    "350sxf(2011)", "250sx(2012)",  "cr250(2007)",  "kx250(2006)",
        "rm250(2008)",     "yz250(2012)",  "crf250(2013)", "kx250f(2013)", "rmz250(2013)",
        "yz250f(2013)",    "250sxf(2013)", "crf250(2009)", "kx250f(2009)", "rmz250(2009)",
        "yz250f(2009)",    "250sxf(2009)", "crf250(2008)", "kx250f(2008)", "rmz250(2008)",
        "yz250f(2008)",    "cr125",        "kx125",        "rm125",        "yz125",
        "125sx",           "crf250(2007)", "kx250f(2007)", "rmz250(2007)", "yz250f(2007)",
        "yz250f_se(2006)", "rs50cr",       "rs50kx",       "rs50rm",       "rs50yz"};
    std::set<std::string> prefixes;
    for (int i = 0; i < kBikeModelCount; ++i) {
        EXPECT_STREQ(bike_models()[i].name, order[i]);
        EXPECT_STREQ(bike_model_names()[i], order[i]);
        EXPECT_EQ(bike_model_find(order[i]), &bike_models()[i]);
        prefixes.insert(bike_models()[i].prefix);
    }
    EXPECT_EQ(prefixes.size(), 29u);
    EXPECT_EQ(bike_model_find("CRF450(2013)"), nullptr); // exact match only
    EXPECT_EQ(bike_model_find(nullptr), nullptr);
}

TEST(Catalogue, FallbackFollowsTheRule) {
    struct Case {
        const char *asked, *used;
        bool message;
    } cases[] = {
        {"crf450(2013)", "crf450(2013)", false},
        {"kx125(1999)", "cr125", true},    // first name containing "125"
        {"mystery", "kx250f(2013)", true}, // first name containing "250f"
        {"", "kx250f(2013)", true},
    };
    for (const Case &c : cases) {
        messages_clear();
        const BikeModel &m = bike_model_resolve(c.asked);
        EXPECT_STREQ(m.name, c.used) << c.asked;
        const char *line = messages_shown_line(0);
        if (c.message) {
            ASSERT_NE(line, nullptr);
            std::string expected = std::string("bike info for '") + c.asked +
                                   "' not found using '" + c.used + "' instead";
            EXPECT_EQ(line, expected);
        } else {
            EXPECT_EQ(line, nullptr);
        }
    }
}

TEST(Catalogue, GroupValues) {
    struct Case {
        const char *name;
        float frame, fork, fork_lo, fork_hi, fork_reb, swing, shock_lo, shock_hi, shock_reb;
        float inertia, down, up, top, rider, clutch_k, clutch_c;
    } cases[] = {
        {"crf450(2013)", 4.735f, 0.703125f, 376.303f, 913.878f, 32, 0.5025f, 2486.29f, 5174.16f,
         650, 0.0088501f, 6000, 10500, 12000, 5.46875f, 7500, 0.75f},
        {"350sxf(2013)", 4.735f, 0.703125f, 376.303f, 913.878f, 32, 0.5025f, 2486.29f, 5174.16f,
         650, 0.00683594f, 6000, 10500, 12000, 5.46875f, 7500, 0.75f},
        {"cr250(2007)", 4.36562f, 0.75375f, 322.545f, 860.12f, 30, 0.589375f, 2083.1f, 4770.98f,
         600, 0.00683594f, 6000, 9000, 10500, 5.46875f, 7500, 0.75f},
        {"yz250f_se(2006)", 4.24f, 0.703125f, 335.984f, 873.56f, 30, 0.504375f, 2217.5f, 4905.37f,
         600, 0.00488281f, 8000, 12500, 13250, 4.6875f, 7500, 0.75f},
        {"rm125", 3.65375f, 0.739688f, 322.545f, 860.12f, 30, 0.541875f, 1814.32f, 4502.19f, 600,
         0.00488281f, 9400, 12000, 13750, 4.6875f, 7500, 0.75f},
        {"rs50yz", 3.34125f, 0.739688f, 309.106f, 846.681f, 30, 0.541875f, 1814.32f, 4502.19f, 600,
         0.00119358f, 9400, 12000, 12750, 4.6875f, 1200, 1.0f},
    };
    for (const Case &c : cases) {
        const BikeModel &m = model(c.name);
        SCOPED_TRACE(c.name);
        EXPECT_FLOAT_EQ(m.frame_mass, c.frame);
        EXPECT_FLOAT_EQ(m.fork_mass, c.fork);
        EXPECT_FLOAT_EQ(m.fork_spring_min, c.fork_lo);
        EXPECT_FLOAT_EQ(m.fork_spring_max, c.fork_hi);
        EXPECT_FLOAT_EQ(m.fork_hs_rebound, c.fork_reb);
        EXPECT_FLOAT_EQ(m.swingarm_mass, c.swing);
        EXPECT_FLOAT_EQ(m.shock_spring_min, c.shock_lo);
        EXPECT_FLOAT_EQ(m.shock_spring_max, c.shock_hi);
        EXPECT_FLOAT_EQ(m.shock_hs_rebound, c.shock_reb);
        EXPECT_FLOAT_EQ(m.engine_inertia, c.inertia);
        EXPECT_FLOAT_EQ(m.downshift_rpm, c.down);
        EXPECT_FLOAT_EQ(m.upshift_rpm, c.up);
        EXPECT_FLOAT_EQ(m.top_rpm, c.top);
        EXPECT_FLOAT_EQ(m.rider_mass, c.rider);
        EXPECT_FLOAT_EQ(m.clutch_stiffness, c.clutch_k);
        EXPECT_FLOAT_EQ(m.clutch_damping, c.clutch_c);
    }
    EXPECT_STREQ(model("350sxf(2013)").class_name, "250f");
    EXPECT_STREQ(model("350sxf(2011)").class_name, "450f");
}

TEST(Catalogue, GearingRows) {
    const BikeModel &crf = model("crf450(2013)");
    EXPECT_FLOAT_EQ(crf.primary_ratio, 2.73913f);
    EXPECT_EQ(crf.front_sprocket, 13);
    EXPECT_EQ(crf.rear_sprocket, 48);
    EXPECT_FLOAT_EQ(crf.gear_ratio[4], 0.909091f);
    EXPECT_FALSE(bike_model_has_gear(crf, 5));
    EXPECT_TRUE(bike_model_has_gear(crf, 4));
    const BikeModel &sxf09 = model("250sxf(2009)");
    EXPECT_FLOAT_EQ(sxf09.primary_ratio, 3.09091f);
    EXPECT_FLOAT_EQ(sxf09.gear_ratio[5], 1.09091f); // as 250sxf(2013)
    EXPECT_EQ(model("rm125").front_sprocket, 12);
    EXPECT_FLOAT_EQ(model("rs50kx").gear_ratio[0], 3.09091f);
    EXPECT_FLOAT_EQ(model("450sxf(2011)").gear_ratio[0], 2.125f);
}

TEST(Catalogue, TorqueCurves) {
    // Telling rows as given, end to end (a short initialiser would leave zeros at the end).
    EXPECT_FLOAT_EQ(model("crf450(2013)").open_torque[14], 31);
    EXPECT_FLOAT_EQ(model("crf450(2013)").open_torque[49], -34);
    EXPECT_FLOAT_EQ(model("250sx(2012)").open_torque[49], -23.5f);
    EXPECT_FLOAT_EQ(model("crf250(2013)").open_torque[49], -23.5f);
    EXPECT_FLOAT_EQ(model("cr125").open_torque[25], 2.10085f);
    EXPECT_FLOAT_EQ(model("cr125").open_torque[49], -11);
    EXPECT_FLOAT_EQ(model("rs50cr").open_torque[26], 0.808017f);
    EXPECT_FLOAT_EQ(model("rs50cr").open_torque[49], -5.5f);
    // Closed-throttle curves.
    const float *four = model("yz450f(2013)").closed_torque;
    EXPECT_FLOAT_EQ(four[3], 0);
    EXPECT_FLOAT_EQ(four[4], -1);
    EXPECT_FLOAT_EQ(four[5], -1);
    EXPECT_FLOAT_EQ(four[49], -23);
    const float *two = model("kx125").closed_torque;
    EXPECT_FLOAT_EQ(two[14], -3.33f);
    EXPECT_FLOAT_EQ(two[21], -9);
    EXPECT_FLOAT_EQ(two[22], -10);
    EXPECT_FLOAT_EQ(two[24], -11);
    EXPECT_FLOAT_EQ(two[49], -23);
    const float *fifty = model("rs50rm").closed_torque;
    EXPECT_FLOAT_EQ(fifty[21], -4.5f);
    EXPECT_FLOAT_EQ(fifty[22], -5);
    EXPECT_FLOAT_EQ(fifty[49], -11.5f);

    // Every open curve: a flat start, positive up to the top speed, 0 just above it, then
    // negative (the limiter). rs50rm keeps the rs50 row, which ends at 13500 rpm.
    for (int i = 0; i < kBikeModelCount; ++i) {
        const BikeModel &m = bike_models()[i];
        SCOPED_TRACE(m.name);
        int zero = -1;
        for (int k = 1; k < kTorquePoints; ++k)
            if (m.open_torque[k] <= 0 && m.open_torque[k - 1] > 0) {
                zero = k;
                break;
            }
        ASSERT_GT(zero, 0);
        if (std::strcmp(m.name, "rs50rm") != 0) {
            EXPECT_GE(zero * 500.0f, m.top_rpm);
        }
        EXPECT_LE(zero * 500.0f, m.top_rpm + 1000);
        EXPECT_FLOAT_EQ(m.open_torque[0], std::strcmp(m.class_name, "50") ? 5.0f : 1.0f);
        for (int k = zero + 2; k < kTorquePoints; ++k) EXPECT_LT(m.open_torque[k], 0) << k;
        float peak = 0;
        for (int k = 0; k < zero; ++k) peak = std::fmax(peak, m.open_torque[k]);
        EXPECT_GT(peak, m.open_torque[0]);
    }
}

TEST(Catalogue, SharedGeometryAndPartFiles) {
    const BikeModel &m = model("crf450(2013)");
    EXPECT_FLOAT_EQ(m.front_wheel.rim_radius, 0.8333f);
    EXPECT_FLOAT_EQ(m.rear_wheel.axle[2], 6.0f);
    EXPECT_FLOAT_EQ(m.torso_pos[1], 4.5f);
    EXPECT_FLOAT_EQ(m.rider.footpegs[0][0], -0.6f);
    EXPECT_FLOAT_EQ(m.bone_centres[4][1], -2.208f);
    const char *files[kPartFileCount] = {"@crf450v2013_frame.zm",
                                         "@generic_frame.shp",
                                         "@crf450v2013.png",
                                         "@crf450v2013_fork_upper.zm",
                                         "@generic_fork_upper.shp",
                                         "@crf450v2013_fork_lower.zm",
                                         "@generic_fork_lower.shp",
                                         "@crf450v2013_swingarm.zm",
                                         "@generic_swingarm.shp",
                                         "@front_wheel.zm",
                                         "@front_wheel.shp",
                                         "@rear_wheel.zm",
                                         "@rear_wheel.shp",
                                         "@wheels.png",
                                         "@rider_head.zm",
                                         "@rider_head.png",
                                         "@rider_body.zm",
                                         "@rider_body_fp.zm",
                                         "@generic_rider.shp",
                                         "@rider_body.png",
                                         "@crf450v2013_side_plates.zm",
                                         "@crf450v2013_front_plate.zm",
                                         "@rider_plate.zm"};
    for (int i = 0; i < kPartFileCount; ++i) EXPECT_STREQ(m.part_files[i], files[i]);
    EXPECT_STREQ(model("crf450(2011)").part_files[kPartFrameModel], "@crf450v2013_frame.zm");
    EXPECT_STREQ(model("250sx(2012)").part_files[kPartBikeTexture], "@250sx.png");
    EXPECT_STREQ(model("yz250f_se(2006)").part_files[kPartSidePlatesModel],
                 "@yz250f_se_side_plates.zm");
}

} // namespace
