#include "core/cmdline.h"
#include "platform/process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Parsed {
    int rc;
    CommandLine cl;
    ProcessFlags pf;
    std::string err, out;
};

Parsed parse(std::vector<std::string> args) {
    process_flags() = ProcessFlags{};
    args.insert(args.begin(), "vantorq");
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    Parsed p;
    p.rc = parse_command_line(int(args.size()), argv.data(), p.cl, p.err, p.out);
    p.pf = process_flags();
    return p;
}

TEST(OptionMatch, Rules) {
    struct Case {
        std::vector<const char *> args;
        const char *name;
        bool takes_value;
        bool matched;
        const char *value; // expected value, null for none
        int consumed;
        bool ended;
    };
    const Case cases[] = {
        {{"--warp"}, "--warp", false, true, nullptr, 1, false},
        {{"--warp=1"}, "--warp", false, false, nullptr, 0, false},
        {{"--lock-fps", "30"}, "--lock-fps", true, true, "30", 2, false},
        {{"--lock-fps=30"}, "--lock-fps", true, true, "30", 1, false},
        {{"--lock-fps30"}, "--lock-fps", true, false, nullptr, 0, false},
        {{"--lock-fps"}, "--lock-fps", true, true, nullptr, 1, false},
        {{"--", "--warp"}, "--lock-fps", true, false, nullptr, 1, true},
        {{"--"}, "--warp", false, false, nullptr, 0, false},
        {{"x"}, "--warp", false, false, nullptr, 0, false},
    };
    for (const Case &c : cases) {
        std::vector<char *> argv;
        for (const char *a : c.args) argv.push_back(const_cast<char *>(a));
        OptionCursor cur{int(argv.size()), argv.data(), false};
        const char *value = "unset";
        bool m = option_match(cur, c.name, c.takes_value, &value);
        SCOPED_TRACE(std::string(c.args[0]) + " vs " + c.name);
        EXPECT_EQ(m, c.matched);
        if (c.value)
            EXPECT_STREQ(value, c.value);
        else
            EXPECT_EQ(value, nullptr);
        EXPECT_EQ(int(argv.size()) - cur.remaining, c.consumed);
        EXPECT_EQ(cur.options_ended, c.ended);
    }
    // Nothing matches once the options have ended.
    char *arg = const_cast<char *>("--warp");
    OptionCursor ended{1, &arg, true};
    EXPECT_FALSE(option_match(ended, "--warp", false, nullptr));
}

TEST(CommandLine, BadValuesEndWithTheirMessage) {
    struct Case {
        std::vector<std::string> args;
        const char *message;
    };
    const Case cases[] = {
        {{"--texture-detail", "x"}, "Bad arg for --texture-detail\n"},
        {{"--ground-texture-detail", ""}, "Bad arg for --ground-texture-detail\n"},
        {{"--roostfrequency", "many"}, "Bad arg for --roostfrequency\n"},
        {{"--erode", "nan"}, "Bad arg for --erode\n"},
        {{"--detail", "inf"}, "Bad arg for --detail\n"},
        {{"--max-detail-distance", "far"}, "Bad arg for --max-detail-distance\n"},
        {{"--lod-scale", "-"}, "Bad arg for --lod-scale\n"},
        {{"--lod-bias", "b"}, "Bad arg for --lod-bias\n"},
        {{"--lock-fps", "fast"}, "Bad arg for --lock-fps\n"},
        {{"--fake-lag", "?"}, "Bad arg for --fake-lag\n"},
        {{"--fake-loss", "%"}, "Bad arg for --fake-loss\n"},
        {{"--chase-center", "1,2"}, "Bad arg for --chase-center\n"},
        {{"--max-seconds", "long"}, "Bad arg for --max-seconds\n"},
        // A numeric option given last has no value and reports its message.
        {{"--lock-fps"}, "Bad arg for --lock-fps\n"},
        {{"--bogus"}, "bad option '--bogus'\n"},
        {{"--warp=yes"}, "bad option '--warp=yes'\n"},
        {{"--lock-fps30"}, "bad option '--lock-fps30'\n"},
        {{"a.vqdemo", "b.vqdemo"}, "Too many files!\n"},
        {{"--", "-x", "y"}, "Too many files!\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[0]);
        Parsed p = parse(c.args);
        EXPECT_EQ(p.rc, 1);
        EXPECT_EQ(p.err, c.message);
    }
}

TEST(CommandLine, ValuesAndClamps) {
    EXPECT_EQ(*parse({"--texture-detail", "9"}).cl.model_texture_reduction, 4);
    EXPECT_EQ(*parse({"--texture-detail=-3"}).cl.ground_texture_reduction, 0);
    EXPECT_DOUBLE_EQ(parse({"--fake-lag", "2500"}).pf.fake_lag, 1.0);
    EXPECT_DOUBLE_EQ(parse({"--fake-lag", "-5"}).pf.fake_lag, 0.0);
    EXPECT_DOUBLE_EQ(parse({"--fake-lag", "40"}).pf.fake_lag, 0.04);
    EXPECT_EQ(parse({"--fake-loss", "250"}).pf.fake_loss, 100);
    EXPECT_DOUBLE_EQ(parse({"--erode", "150"}).pf.erosion_rate, 100);
    EXPECT_EQ(*parse({"--roostfrequency", "5000"}).cl.roost_count, 1000);
    EXPECT_DOUBLE_EQ(*parse({"--lod-scale", "0"}).cl.model_lod_scale, 0.000001);
    // Loose and atoi options never fail.
    Parsed loose = parse({"--width", "wide", "--depth", "24bit", "--draw-fps", "x"});
    EXPECT_EQ(loose.rc, -1);
    EXPECT_FALSE(loose.cl.xres.has_value());
    EXPECT_EQ(loose.cl.startup.colour_bits, 24);
    EXPECT_EQ(*loose.cl.draw_fps, 0);
    Parsed cc = parse({"--chase-center=1.5,2,-3"});
    EXPECT_DOUBLE_EQ(cc.cl.startup.chase_center[0], 1.5);
    EXPECT_DOUBLE_EQ(cc.cl.startup.chase_center[2], -3);
}

TEST(CommandLine, TextOptionsAndFiles) {
    EXPECT_EQ(parse({"--connect", "vantorq:host:19800"}).pf.connect_address, "host:19800");
    EXPECT_EQ(parse({"--connect=VANTORQ:host"}).pf.connect_address, "VANTORQ:host");
    // Text options given last behave as if not given.
    Parsed last = parse({"--track"});
    EXPECT_EQ(last.rc, -1);
    EXPECT_TRUE(last.pf.startup_track.empty());
    Parsed pw = parse({"--password"});
    EXPECT_FALSE(pw.pf.has_password);
    EXPECT_EQ(parse({"--track", "rabbithill"}).pf.startup_track, "rabbithill");
    // After "--" an argument starting with "-" is the file to play.
    Parsed after = parse({"--warp", "--", "-odd.vqdemo"});
    EXPECT_EQ(after.rc, -1);
    EXPECT_TRUE(after.cl.startup.warp);
    EXPECT_EQ(after.pf.play_file, "-odd.vqdemo");
    // "--" given last simply ends the options.
    EXPECT_EQ(parse({"--"}).rc, -1);
    // --bikes consumes its value and says it does nothing.
    Parsed bikes = parse({"--bikes", "3"});
    EXPECT_EQ(bikes.rc, -1);
    EXPECT_EQ(bikes.err, "--bikes doesn't do anything anymore\n");
    EXPECT_TRUE(bikes.pf.play_file.empty());
}

TEST(CommandLine, HelpListsEveryOption) {
    Parsed p = parse({"--help"});
    EXPECT_EQ(p.rc, 0);
    for (const char *name :
         {"--fugly", "--print-orientation", "--headless", "--max-seconds", "--version"})
        EXPECT_NE(p.out.find(name), std::string::npos) << name;
    EXPECT_EQ(parse({"--version"}).rc, 0);
}

} // namespace
