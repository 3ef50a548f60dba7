#include "files/config.h"
#include "files/settings.h"
#include "files/setup.h"
#include "files/vfs.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char *const kBikes[] = {"450sxf(2013)", "crf450(2013)", "crf250(2008)", "kx250f(2008)",
                              "cr125"};

std::vector<std::string> test_bike_skins(const std::string &bike) {
    return {"default", bike + "-red", bike + "-blue"};
}

// Settings with the outside lists filled as start-up fills them, all values default.
class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings_set_bike_models(kBikes, int(std::size(kBikes)));
        settings_set_bike_skin_source(test_bike_skins);
        choice_set_texts(settings().setup.rider_texture, {"default", "rider_body-black"});
        choice_set_texts(settings().setup.head_texture, {"default", "rider_head-white"});
        choice_set_texts(settings().setup.wheel_texture, {"default", "wheels-gold"});
        const VideoMode modes[] = {{1920, 1080, 32}, {1280, 720, 32}, {800, 600, 32}};
        video_modes_build(modes, 3);
        settings_set_track_list({"rabbithill", "dunes"}, {"Rabbit Hill", "The Dunes"});
        settings_reset();
    }
    void TearDown() override {
        settings_set_bike_skin_source(nullptr);
        settings_reset();
    }

    static void read_text(const std::string &text) {
        Stream *s = stream_open_memory(text.data(), text.size(), false);
        ASSERT_NE(s, nullptr);
        config_read_stream(s);
        stream_free(s);
    }
};

std::vector<std::string> keys_of(const std::string &text) {
    std::vector<std::string> keys;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) keys.push_back(line.substr(0, line.find('=')));
    return keys;
}

TEST_F(ConfigTest, WrittenFileReadsBackByteForByteInKeyOrder) {
    Settings &s = settings();
    s.xres = 1024;
    s.laps.value = 12;
    s.skill.index = 2;
    s.gates[5].index = 4;
    s.track.index = 1;
    s.setup.bike.index = 2;
    settings_bike_changed();
    s.setup.bike_texture.index = 2;
    s.setup.name.text = "Rider = One";
    s.setup.rider_mass_distribution.value = 0.47;
    s.setup.restricted_lock.value = 12.625;
    s.video_mode.index = 3;
    s.server_history[2] = "race.example.org:1234";
    s.map_scale = 2.5;
    binding_parse(s.controls[kControlThrottle], "(0.0625,0.9375)Joystick1.axis[1]");
    std::string first = config_text();

    settings_reset();
    read_text(first);
    EXPECT_EQ(config_text(), first);
    EXPECT_EQ(settings_track_id(), "dunes");
    EXPECT_EQ(choice_text(s.setup.bike_texture), "crf250(2008)-blue");
    EXPECT_EQ(choice_text(s.video_mode), "1280x720");

    // Key order: the general keys, the setup block after time_trial_abort, then the
    // rest, with the twenty bindings last.
    std::vector<std::string> keys = keys_of(first);
    ASSERT_EQ(keys.size(), 11u + 40 + 2 + 57 + 1 + 1 + 16 + 26 + 20);
    EXPECT_EQ(keys[0], "xres");
    EXPECT_EQ(keys[6], "track");
    EXPECT_EQ(keys[11], "slot00");
    EXPECT_EQ(keys[50], "slot39");
    EXPECT_EQ(keys[52], "time_trial_abort");
    EXPECT_EQ(keys[53], "bike");
    EXPECT_EQ(keys[53 + 56], "rider_mass_distribution");
    EXPECT_EQ(keys[110], "video_mode");
    EXPECT_EQ(keys[112], "server_name_hist00");
    EXPECT_EQ(keys[keys.size() - 21], "map_scale");
    EXPECT_EQ(keys[keys.size() - 20], "throttle_key");
    EXPECT_EQ(keys.back(), "screenshot_key");
}

TEST_F(ConfigTest, DefaultFileFormat) {
    std::string text = config_text();
    for (const char *line : {"xres=640\n",
                             "draw_ping=1\n",
                             "track=rabbithill\n",
                             "skill=Novice\n",
                             "laps=5.000000\n",
                             "slot17=Robot\n",
                             "slot19=Human\n",
                             "slot20=Robot\n",
                             "slot23=Empty\n",
                             "bike=450sxf(2013)\n",
                             "name=Vrok Motocross\n",
                             "number=999\n",
                             "bike_texture=default\n",
                             "rider_mass_distribution=0.330000\n",
                             "video_mode=Default Fullscreen\n",
                             "server_name=localhost\n",
                             "server_name_hist15=\n",
                             "map_scale=1.000000\n",
                             "dab_key=(k)right ctrl\n",
                             "rewind_key=(k)\\\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    EXPECT_EQ(text.find("use_fbo"), std::string::npos);
    EXPECT_EQ(text.find("ground_texture_distance"), std::string::npos);
}

TEST_F(ConfigTest, FileOfAnotherVersionReadsBackStable) {
    // Unknown keys, keys out of order, an unbound control: after one read and write the
    // file is stable.
    read_text("future_key=1\nlaps=3\nbike=cr125\nfov=90.5\nspy=1\nuse_fbo=Yes\n"
              "throttle_key=(k)\nmap_scale=0.5\n");
    std::string first = config_text();
    EXPECT_EQ(first.find("throttle_key"), std::string::npos);
    settings_reset();
    read_text(first);
    std::string second = config_text();
    settings_reset();
    read_text(second);
    EXPECT_EQ(config_text(), second);
}

struct EdgeCase {
    const char *name;
    std::string file;
    std::function<void(const Settings &)> check;
};

TEST_F(ConfigTest, EdgeCases) {
    const std::string long200(200, 'h');
    const std::string long126(126, 'h');
    const EdgeCase cases[] = {
        {"laps above range", "laps=75\n", [](const Settings &s) { EXPECT_EQ(s.laps.value, 50); }},
        {"fov below range", "fov=5\n", [](const Settings &s) { EXPECT_EQ(s.fov.value, 10); }},
        {"laps not a number", "laps=lots\n", [](const Settings &s) { EXPECT_EQ(s.laps.value, 5); }},
        {"skill in lower case", "skill=expert\n",
         [](const Settings &s) { EXPECT_EQ(choice_text(s.skill), "Novice"); }},
        {"skill exact", "skill=Expert\n",
         [](const Settings &s) { EXPECT_EQ(choice_text(s.skill), "Expert"); }},
        {"bike_texture before bike loses the skin", "bike_texture=cr125-red\nbike=cr125\n",
         [](const Settings &s) { EXPECT_EQ(choice_text(s.setup.bike_texture), "default"); }},
        {"bike_texture after bike keeps the skin", "bike=cr125\nbike_texture=cr125-red\n",
         [](const Settings &s) { EXPECT_EQ(choice_text(s.setup.bike_texture), "cr125-red"); }},
        {"older bike name", "bike=kx250f\n",
         [](const Settings &s) {
             EXPECT_EQ(choice_text(s.setup.bike), "kx250f(2008)");
             EXPECT_EQ(s.setup.bike_texture.choices[1], "kx250f(2008)-red");
         }},
        {"unknown bike keeps the bike and its skin",
         "bike=cr125\nbike_texture=cr125-red\nbike=zz9\n",
         [](const Settings &s) {
             EXPECT_EQ(choice_text(s.setup.bike), "cr125");
             EXPECT_EQ(choice_text(s.setup.bike_texture), "cr125-red");
         }},
        {"stability 50", "stability=50\n",
         [](const Settings &s) {
             const SetupSettings &u = s.setup;
             EXPECT_DOUBLE_EQ(u.roll_damping.value, 65);
             EXPECT_DOUBLE_EQ(u.roll_limit_angle.value, 42.5);
             EXPECT_DOUBLE_EQ(u.roll_limit_factor.value, 21);
             EXPECT_DOUBLE_EQ(u.slow_damping_factor.value, 1.75);
             EXPECT_DOUBLE_EQ(u.land_damping_falloff.value, 0.25);
             EXPECT_DOUBLE_EQ(u.land_damping_factor.value, 2);
             EXPECT_DOUBLE_EQ(u.restricted_lock.value, 7.5);
             EXPECT_DOUBLE_EQ(u.direct_steering.value, 1);
         }},
        {"assist key after stability overrides one value", "stability=50\nroll_damping=99\n",
         [](const Settings &s) {
             EXPECT_EQ(s.setup.roll_damping.value, 99);
             EXPECT_DOUBLE_EQ(s.setup.roll_limit_factor.value, 21);
         }},
        {"assist key before stability is overwritten", "roll_damping=99\nstability=50\n",
         [](const Settings &s) { EXPECT_DOUBLE_EQ(s.setup.roll_damping.value, 65); }},
        {"axis binding", "throttle_key=(0.1,0.9)Joystick1.axis[1]\n",
         [](const Settings &s) {
             const ControlBinding &b = s.controls[kControlThrottle];
             EXPECT_EQ(b.key_name, nullptr);
             ASSERT_NE(b.axis_name, nullptr);
             EXPECT_STREQ(b.axis_name, "Joystick1.axis[1]");
             EXPECT_EQ(b.low, double(0.1f));
             EXPECT_EQ(b.high, double(0.9f));
         }},
        {"bare key name", "clutch_key=x\n",
         [](const Settings &s) {
             const ControlBinding &b = s.controls[kControlClutch];
             ASSERT_NE(b.key_name, nullptr);
             EXPECT_STREQ(b.key_name, "x");
             EXPECT_EQ(b.axis_name, nullptr);
         }},
        {"key binding with blanks", "dab_key=  (k)left ctrl\n",
         [](const Settings &s) { EXPECT_STREQ(s.controls[kControlDab].key_name, "left ctrl"); }},
        {"infinite axis end is a key name", "throttle_key=(1e99,1)Joystick1.axis[0]\n",
         [](const Settings &s) {
             EXPECT_EQ(s.controls[kControlThrottle].axis_name, nullptr);
             EXPECT_STREQ(s.controls[kControlThrottle].key_name, "(1e99,1)Joystick1.axis[0]");
         }},
        {"history entry of 200 characters", "server_name_hist03=" + long200 + "\n",
         [](const Settings &s) { EXPECT_EQ(s.server_history[3], ""); }},
        {"history entry of 126 characters", "server_name_hist03=" + long126 + "\n",
         [&long126](const Settings &s) { EXPECT_EQ(s.server_history[3], long126); }},
        {"name cut to 63", "name=" + long200 + "\n",
         [](const Settings &s) { EXPECT_EQ(s.setup.name.text, std::string(63, 'h')); }},
        {"number cut to 3", "number=12345\n",
         [](const Settings &s) { EXPECT_EQ(s.setup.number.text, "123"); }},
        {"map scale clamped", "map_scale=100\n",
         [](const Settings &s) { EXPECT_EQ(s.map_scale, 8); }},
        {"map scale not a number", "map_scale=big\n",
         [](const Settings &s) { EXPECT_EQ(s.map_scale, 1); }},
        {"older key use_fbo", "use_fbo=Yes\nrender_texture=Software\nuse_fbo=no\n",
         [](const Settings &s) { EXPECT_EQ(choice_text(s.render_texture), "Hardware/Copy"); }},
        {"integer with trailing text", "xres=1280px\nyres=tall\n",
         [](const Settings &s) {
             EXPECT_EQ(s.xres, 1280);
             EXPECT_EQ(s.yres, 480);
         }},
        {"carriage returns", "laps=7\r\nname=Me\r\r\n",
         [](const Settings &s) {
             EXPECT_EQ(s.laps.value, 7);
             EXPECT_EQ(s.setup.name.text, "Me");
         }},
        {"key with a blank is unknown", " laps=7\nlaps =8\n",
         [](const Settings &s) { EXPECT_EQ(s.laps.value, 5); }},
        {"value with =", "server_name=a=b\n",
         [](const Settings &s) { EXPECT_EQ(s.server_name.text, "a=b"); }},
        {"video mode that no longer exists", "video_mode=640x400\n",
         [](const Settings &s) { EXPECT_EQ(choice_text(s.video_mode), "Default Fullscreen"); }},
        {"unknown track stays on the default", "track=nowhere\n",
         [](const Settings &) { EXPECT_EQ(settings_track_id(), "rabbithill"); }},
    };
    for (const EdgeCase &c : cases) {
        SCOPED_TRACE(c.name);
        settings_reset();
        read_text(c.file);
        c.check(settings());
    }
}

TEST_F(ConfigTest, DamagedFilesKeepDefaults) {
    std::mt19937 rng(1234);
    std::string garbage(200000, '\0');
    for (char &ch : garbage) ch = char(rng() & 0xff);
    std::string huge = "laps=9" + std::string(5 * 1024 * 1024, 'a') + "\n";
    const std::string files[] = {
        garbage,
        huge,
        "no equals sign here\njust words\n\n\n=\n==\n",
        std::string("laps=\0"
                    "12\n",
                    9),
    };
    const std::string defaults = config_text();
    for (const std::string &f : files) {
        settings_reset();
        read_text(f);
        std::string after = config_text();
        settings_reset();
        read_text(after); // whatever was read writes back in a form that reads again
        EXPECT_EQ(config_text(), after);
    }
    settings_reset();
    read_text(files[2]);
    EXPECT_EQ(config_text(), defaults);
    // A long line is cut into 1023-character pieces: the first piece still sets laps.
    settings_reset();
    read_text(huge + "fov=20\n");
    EXPECT_EQ(settings().laps.value, 9);
    EXPECT_EQ(settings().fov.value, 20);
}

TEST_F(ConfigTest, WriteAndReadThroughTheHomeFolder) {
    VfsSandbox box;
    config_read(); // no file: nothing changes
    EXPECT_EQ(settings().laps.value, 5);

    settings().laps.value = 17;
    settings().setup.name.text = "Saved";
    ASSERT_TRUE(config_write());
    std::string written = box.dir().read("xdg/Vantorq/config");
    EXPECT_EQ(written, config_text());
    EXPECT_EQ(box.dir().entries("xdg/Vantorq"), std::vector<std::string>{"config"});

    settings_reset();
    config_read();
    EXPECT_EQ(settings().laps.value, 17);
    EXPECT_EQ(settings().setup.name.text, "Saved");
}

TEST_F(ConfigTest, BindingText) {
    ControlBinding b;
    binding_parse(b, "(-0.0625,-0.9375)Joystick1.axis[0]");
    EXPECT_EQ(binding_text(b), "(-0.062500,-0.937500)Joystick1.axis[0]");
    binding_parse(b, "(k)(k)x");
    EXPECT_EQ(binding_text(b), "(k)(k)x");
    binding_parse(b, "(0.5,1)");
    EXPECT_EQ(binding_text(b), "");
    b.key_code = 7;
    binding_parse(b, "up");
    EXPECT_EQ(b.key_code, -1);
    EXPECT_EQ(binding_text(b), "(k)up");
}

TEST_F(ConfigTest, VideoModes) {
    const VideoMode modes[] = {
        {1920, 1080, 32}, {1024, 768, 16}, {1280, 720, 32}, {1920, 1080, 32}, {800, 600, 32}};
    video_modes_build(modes, 5);
    const Settings &s = settings();
    EXPECT_EQ(s.video_mode.choices, (std::vector<std::string>{"Default Fullscreen", "Windowed",
                                                              "1920x1080", "1280x720", "800x600"}));
    ASSERT_EQ(s.video_mode_sizes.size(), 5u);
    EXPECT_EQ(s.video_mode_sizes[3].width, 1280);
    EXPECT_EQ(s.video_mode_sizes[3].height, 720);

    video_modes_build(nullptr, 0); // headless
    EXPECT_EQ(s.video_mode.choices, (std::vector<std::string>{"Default Fullscreen", "Windowed"}));
}

TEST_F(ConfigTest, ListsWithoutTextsKeepTheValueRead) {
    // Without the texture layer there are no skins; the rider's choice survives a run.
    choice_set_texts(settings().setup.rider_texture, {});
    settings_set_bike_skin_source(nullptr);
    read_text("bike=cr125\nrider_texture=rider_body-black\nbike_texture=cr125-red\n");
    std::string text = config_text();
    EXPECT_NE(text.find("rider_texture=rider_body-black\n"), std::string::npos);
    EXPECT_NE(text.find("bike_texture=cr125-red\n"), std::string::npos);
    // Once the list arrives, the held value is selected.
    choice_set_texts(settings().setup.rider_texture, {"default", "rider_body-black"});
    EXPECT_EQ(settings().setup.rider_texture.index, 1);
}

} // namespace
