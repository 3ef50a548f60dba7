#include "files/stream.h"
#include "files/vfs.h"
#include "support/tempdir.h"
#include "track/gates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

namespace {

bool parse(const std::string &text, GateData &out) {
    return gates_parse(text.data(), text.size(), out);
}

const char *const kFullFile = "startinggate:\n"
                              "[ 10 1 20 ] 0.5\n"
                              "  [11 1 21] 7 @gate2.zm @gate2.png null\n"
                              "[12 1 22] -1 @m.zm\n"
                              "checkpoints:\n"
                              "5 [ 0 0 0 ] [ 1 0 0 ]\n"
                              "6 [10 0 0] [0 0 1]\n"
                              "7 [20 0 0] [-1 0 0]\n"
                              "8 [30 0 0] [0 0 -1]\n"
                              "9 [40 0 0] [1 0 1]\n"
                              "firstlap: 0 1 100007 -3\n"
                              "normallap:\n1 100002 3\n";

TEST(GatesParse, AFullFile) {
    GateData d;
    ASSERT_TRUE(parse(kFullFile, d));
    ASSERT_EQ(d.starts.size(), 3u);
    EXPECT_FLOAT_EQ(d.starts[0].x, 10.0f);
    EXPECT_FLOAT_EQ(d.starts[0].angle, 0.5f);
    EXPECT_EQ(d.starts[0].model, kStartGateModel);
    EXPECT_EQ(d.starts[0].shape, kStartGateShape);
    EXPECT_NEAR(d.starts[1].angle, 7.0 - 2.0 * std::numbers::pi, 1e-6); // normalised to -pi..pi
    EXPECT_EQ(d.starts[1].model, "@gate2.zm");
    EXPECT_EQ(d.starts[1].texture, "@gate2.png");
    EXPECT_EQ(d.starts[1].shape, ""); // "null"
    EXPECT_EQ(d.starts[2].model, "@m.zm");
    EXPECT_EQ(d.starts[2].texture, kStartGateTexture);
    EXPECT_EQ(d.starts[0].gate_statue, -1);
    ASSERT_EQ(d.checkpoints.size(), 5u);
    EXPECT_FLOAT_EQ(d.checkpoints[4].radius, 9.0f);
    EXPECT_FLOAT_EQ(d.checkpoints[4].direction[2], 1.0f);
    // 100007 with 5 checkpoints keeps its flag with the index limited to 4; -3 becomes 0.
    EXPECT_EQ(d.first_lap, (std::vector<int>{0, 1, 100004, 0}));
    EXPECT_EQ(d.normal_lap, (std::vector<int>{1, 100002, 3}));
    EXPECT_EQ(d.first_lap_segments, 3);
    EXPECT_EQ(d.normal_lap_segments, 2);
}

TEST(GatesParse, AcceptanceAndDroppedTiming) {
    struct Case {
        const char *name;
        std::string text;
        bool accepted;
        std::size_t starts;
    };
    const std::string starts = "startinggate:\n[1 2 3] 0\n\n[4 5 6] 0\n";
    const Case cases[] = {
        {"no start section", "checkpoints:\n1 [0 0 0] [1 0 0]\nfirstlap: 0\nnormallap: 0\n", true,
         0},
        {"blank lines in the start section",
         starts + "checkpoints: 1 [0 0 0] [1 0 0]\nfirstlap: 0\nnormallap: 0", true, 2},
        {"no checkpoints", starts + "checkpoints:\nfirstlap: 0\nnormallap: 0\n", false, 2},
        {"empty normal lap", starts + "checkpoints:\n1 [0 0 0] [1 0 0]\nfirstlap: 0\nnormallap:\n",
         false, 2},
        {"only flagged entries",
         starts + "checkpoints:\n1 [0 0 0] [1 0 0]\nfirstlap: 100000\nnormallap: 0\n", false, 2},
        {"missing normallap keyword", starts + "checkpoints:\n1 [0 0 0] [1 0 0]\nfirstlap: 0 0\n",
         false, 2},
        {"keyword glued to a number",
         starts + "checkpoints:\n1 [0 0 0] [1 0 0]\nfirstlap:0\nnormallap: 0\n", false, 2},
        {"malformed start line without the keyword",
         starts + "[7 8] 0\ncheckpoints:\n1 [0 0 0] [1 0 0]\nfirstlap: 0\nnormallap: 0\n", false,
         2},
        {"checkpoints keyword glued",
         starts + "checkpoints:1 [0 0 0] [1 0 0]\nfirstlap: 0\nnormallap: 0\n", false, 2},
        {"an unknown first word", "gates:\n", false, 0},
        {"empty", "", false, 0},
    };
    for (const Case &c : cases) {
        GateData d;
        EXPECT_EQ(parse(c.text, d), c.accepted) << c.name;
        EXPECT_EQ(d.starts.size(), c.starts) << c.name;
        if (!c.accepted) {
            EXPECT_TRUE(d.checkpoints.empty()) << c.name;
            EXPECT_TRUE(d.first_lap.empty() && d.normal_lap.empty()) << c.name;
        }
    }
}

TEST(GatesParse, StartPositionsAreLimitedTo159) {
    auto file = [](int positions) {
        std::string text = "startinggate:\n";
        for (int i = 0; i < positions; i++) text += "[" + std::to_string(i) + " 0 0] 0\n";
        return text + "checkpoints:\n1 [0 0 0] [1 0 0]\nfirstlap: 0\nnormallap: 0\n";
    };
    GateData d;
    EXPECT_TRUE(parse(file(159), d));
    EXPECT_EQ(d.starts.size(), 159u);
    EXPECT_FALSE(parse(file(160), d));
    EXPECT_TRUE(d.starts.empty());
    EXPECT_TRUE(d.checkpoints.empty());
}

TEST(GatesParse, LapListsAndCheckpointsAreBounded) {
    std::string text = "checkpoints:\n";
    for (int i = 0; i < 300; i++) text += "1 [0 0 0] [1 0 0]\n";
    GateData d;
    EXPECT_FALSE(parse(text + "firstlap: 0\nnormallap: 0\n", d)); // the 257th is no keyword
    text = "checkpoints:\n1 [0 0 0] [1 0 0]\nfirstlap:";
    for (int i = 0; i < 300; i++) text += " 0";
    EXPECT_FALSE(parse(text + "\nnormallap: 0\n", d)); // the 257th entry is no keyword
}

TEST(GatesWrite, WhatIsWrittenReadsBackTheSame) {
    GateData d;
    ASSERT_TRUE(parse(kFullFile, d));
    TempDir dir;
    std::FILE *f = std::fopen(dir.file("out").c_str(), "wb");
    Stream *s = stream_open_file(f, 0, kStreamNoLimit, false);
    ASSERT_TRUE(gates_write(s, d));
    stream_free(s);
    std::string text = dir.read("out");
    EXPECT_NE(text.find("startinggate:\n[10.000000 1.000000 20.000000] 0.500000\n"),
              std::string::npos);
    EXPECT_NE(text.find(" @gate2.zm @gate2.png null\n"), std::string::npos);
    EXPECT_NE(text.find("firstlap:\n0 1 100004 0 \nnormallap:\n1 100002 3 \n"), std::string::npos);
    GateData back;
    ASSERT_TRUE(parse(text, back));
    ASSERT_EQ(back.starts.size(), d.starts.size());
    for (std::size_t i = 0; i < d.starts.size(); i++) {
        EXPECT_NEAR(back.starts[i].angle, d.starts[i].angle, 1e-6);
        EXPECT_EQ(back.starts[i].model, d.starts[i].model);
        EXPECT_EQ(back.starts[i].texture, d.starts[i].texture);
        EXPECT_EQ(back.starts[i].shape, d.starts[i].shape);
    }
    EXPECT_EQ(back.checkpoints.size(), d.checkpoints.size());
    EXPECT_EQ(back.first_lap, d.first_lap);
    EXPECT_EQ(back.normal_lap, d.normal_lap);
}

TEST(GatesWrite, SaveReplacesTheFileWhole) {
    VfsSandbox sandbox;
    sandbox.write_home("tracks/t/timing_gates", "old content\n");
    GateData d;
    ASSERT_TRUE(parse(kFullFile, d));
    ASSERT_TRUE(gates_save_file("@tracks/t/timing_gates", d));
    GateData back;
    EXPECT_TRUE(parse(sandbox.dir().read("xdg/Vantorq/tracks/t/timing_gates"), back));
    // No temporary file is left beside it.
    EXPECT_EQ(sandbox.dir().entries("xdg/Vantorq/tracks/t"),
              std::vector<std::string>{"timing_gates"});
}

TEST(Gates, ZoneIsAHalfDiscInFrontOfTheCentre) {
    Checkpoint c;
    c.centre[0] = 10;
    c.centre[2] = 20;
    c.direction[0] = 0;
    c.direction[2] = 2; // riders pass towards +z; the length does not matter
    c.radius = 5;
    struct Case {
        double x, z;
        bool in;
    };
    const Case cases[] = {{10, 20, true},    {10, 24.9, true}, {13, 23.9, true}, {10, 25.1, false},
                          {10, 19.9, false}, {14, 20, true},   {15.1, 20, false}};
    for (const Case &k : cases) EXPECT_EQ(gate_contains(c, k.x, k.z), k.in) << k.x << "," << k.z;
}

TEST(Gates, SequenceIndices) {
    GateData d;
    d.checkpoints.resize(8);
    d.first_lap = {0, 1, 2};
    d.normal_lap = {3, 100004, 5, 6};
    d.first_lap_segments = 3;
    d.normal_lap_segments = 3;
    // A first lap of 3 and a normal lap of 4: indices 2, 6 and 10 end laps 1, 2 and 3.
    for (int s = 0; s < 14; s++) EXPECT_EQ(gate_is_lap_end(d, s), s == 2 || s == 6 || s == 10) << s;
    EXPECT_EQ(gate_lap_end_index(d, 1), 2);
    EXPECT_EQ(gate_lap_end_index(d, 3), 10);
    EXPECT_EQ(gate_checkpoint(d, 4), 4);
    EXPECT_EQ(gate_entry(d, 4), 100004);
    EXPECT_EQ(gate_checkpoint(d, 9), 5);
    const int segments[] = {0, 1, 2, 3, 4, 4, 5, 6, 7, 7, 8};
    for (int s = 0; s <= 10; s++) EXPECT_EQ(segment_of(d, s), segments[s]) << s;
}

} // namespace
