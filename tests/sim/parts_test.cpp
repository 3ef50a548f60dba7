#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/parts.h"

namespace {

TEST(Parts, TextureNamesFromOutsideStayInTheData) {
    const std::string long_name(300, 'a');
    struct Case {
        const char *name;
        bool safe;
    } cases[] = {
        {"", true},
        {"@riders/red-team-1.png", true},
        {"bikes/crf450v2013-team-3.png", true},
        {"../secret.png", false},
        {"bikes/../../x.png", false},
        {"@..", false},
        {"/etc/passwd", false},
        {"@/etc/passwd", false},
        {"bikes\\x.png", false},
        {"a\nb", false},
        {long_name.c_str(), false},
    };
    for (const Case &c : cases) EXPECT_EQ(texture_name_safe(c.name), c.safe) << c.name;
}

TEST(Parts, VariantPaths) {
    EXPECT_EQ(model_variant_path("@crf450v2013_frame.zm", "bikes/crf450v2013-team-3.png"),
              "@crf450v2013_frame-team.zm");
    EXPECT_EQ(model_variant_path("@crf450v2013_frame.zm", "crf450v2013-team.png"), "");
    EXPECT_EQ(model_variant_path("@dir.v2/frame", "a-b-c.png"), "");
    EXPECT_EQ(model_variant_path("frame", "a-b-c.png"), "");
    EXPECT_EQ(model_variant_path("@x.zm", "a-b-c-d.png"), "@x-b.zm");
}

std::vector<std::string> g_tried;

void *fake_model_load(const char *path) {
    g_tried.push_back(path);
    return std::string(path) == "@plain.zm" ? reinterpret_cast<void *>(1) : nullptr;
}

TEST(Parts, SkinnedModelLookUpOrder) {
    BikePartHooks hooks;
    hooks.model_load = fake_model_load;
    bike_part_hooks_install(hooks);
    g_tried.clear();
    EXPECT_EQ(skinned_model_load("@crf450v2013_frame.zm", "bikes/crf450v2013-team-3.png", true),
              nullptr);
    EXPECT_EQ(g_tried, (std::vector<std::string>{"@crf450v2013_frame-team.zm",
                                                 "bikes/crf450v2013_frame-team.zm"}));
    g_tried.clear();
    EXPECT_NE(skinned_model_load("@plain.zm", "", false), nullptr);
    EXPECT_EQ(g_tried, (std::vector<std::string>{"@plain.zm"}));
    bike_part_hooks_install(BikePartHooks{});
}

TEST(Parts, NumberPlateColours) {
    unsigned char bg[3], fg[3];
    number_plate_colours(nullptr, bg, fg);
    EXPECT_EQ(bg[0] + bg[1] + bg[2], 3 * 255);
    EXPECT_EQ(fg[0] + fg[1] + fg[2], 0);
    number_plate_colours("x [numberbackground:1,0.5,2] [numberforeground:0.2,-1,0]", bg, fg);
    EXPECT_EQ(bg[0], 255);
    EXPECT_EQ(bg[1], 127);
    EXPECT_EQ(bg[2], 255);
    EXPECT_EQ(fg[0], 51);
    EXPECT_EQ(fg[1], 0);
    number_plate_colours("[numberbackground:oops]", bg, fg);
    EXPECT_EQ(bg[1], 255);
}

} // namespace
