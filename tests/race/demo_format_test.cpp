// The demo file format: the head, the linked blocks read forwards and backwards, the
// older versions, and what a damaged file does.
#include "demo_fixture.h"

#include <vector>

#include "files/vfs.h"
#include "platform/messages.h"

namespace {

class DemoFormat : public ::testing::Test {
protected:
    void SetUp() override {
        race_state_reset();
        demo_state_reset();
        messages_clear();
    }
    void TearDown() override {
        demo_state_reset();
        race_state_reset();
    }
    // Opens bytes, gives rider i slot i and reads at clock.
    bool play(const std::string &bytes, int clock = 0) {
        if (!open_bytes(bytes)) return false;
        for (int i = 0; i < int(demo_header().riders.size()); ++i) demo_assign_slot(i, i);
        session().clock = clock;
        demo_read_step();
        return true;
    }
    static std::string last_message() {
        const char *m = messages_shown_line(0);
        return m ? m : "";
    }
};

TEST_F(DemoFormat, HeadRoundTripCleansLineBreaksAndPipes) {
    DemoHeader h;
    h.time_limit = 76800;
    h.laps = 2;
    h.gate_drop = 1800;
    h.track = "tracks/dune\nside";
    DemoRider a;
    a.bike = "kx|125";
    a.body_texture = "@rider_body-alt1.png";
    a.wheels_texture = "@wheels-alt2.png";
    a.number = "23";
    a.name = "Two\nLines\r";
    DemoRider b;
    b.bike = "crf250";
    b.number = "7";
    h.riders = {a, b};
    VfsSandbox sandbox;
    Stream *out = vfs_open("@demos/head.vqdemo", "wb");
    ASSERT_TRUE(out);
    ASSERT_TRUE(demo_write_head(out, h));
    ASSERT_TRUE(vfs_close(out));

    Stream *in = vfs_open("@demos/head.vqdemo", "rb");
    ASSERT_TRUE(in);
    DemoHeader r;
    std::string error;
    ASSERT_TRUE(demo_read_head(in, r, error)) << error;
    EXPECT_EQ(stream_getc(in), -1); // the head is all there is
    vfs_close(in);
    EXPECT_EQ(r.version, 6);
    EXPECT_EQ(r.time_limit, 76800);
    EXPECT_EQ(r.laps, 2);
    EXPECT_EQ(r.gate_drop, 1800);
    EXPECT_EQ(r.track, "tracks/dune side");
    ASSERT_EQ(r.riders.size(), 2u);
    EXPECT_EQ(r.riders[0].bike, "kx_125");
    EXPECT_EQ(r.riders[0].body_texture, "@rider_body-alt1.png");
    EXPECT_EQ(r.riders[0].bike_texture, "");
    EXPECT_EQ(r.riders[0].wheels_texture, "@wheels-alt2.png");
    EXPECT_EQ(r.riders[0].number, "23");
    EXPECT_EQ(r.riders[0].name, "Two Lines ");
    EXPECT_EQ(r.riders[1].bike, "crf250");
    EXPECT_EQ(r.riders[1].name, "");
}

TEST_F(DemoFormat, OlderHeadsAndDefaults) {
    // Version 5: no name and empty lines; three numbers are enough.
    std::string v5 = "VQ05 2 0\ntracks/fixture\nyz125|a|b|c|d\n31\ncr125||||\n32\n";
    ASSERT_TRUE(open_bytes(v5));
    const DemoHeader &h = demo_header();
    EXPECT_EQ(h.version, 5);
    EXPECT_EQ(h.laps, 0);
    EXPECT_EQ(h.gate_drop, kDemoDefaultGateDrop);
    ASSERT_EQ(h.riders.size(), 2u);
    EXPECT_EQ(h.riders[0].head_texture, "d");
    EXPECT_EQ(h.riders[1].number, "32");
}

TEST_F(DemoFormat, MalformedHeadsAreRefusedWithAReason) {
    struct Case {
        const char *what;
        std::string bytes;
        const char *reason;
    };
    const Case cases[] = {
        {"not a demo", "hello\n", "bad header line"},
        {"too few numbers", "VQ06 1\ntracks/fixture\n", "bad header line"},
        {"version 3", "VQ03 0 0 1 1792\ntracks/fixture\n", "unknown demo version 3"},
        {"version 7", "VQ07 0 0 1 1792\ntracks/fixture\n", "unknown demo version 7"},
        {"161 riders", "VQ06 161 0 1 1792\ntracks/fixture\n", "bad rider count 161"},
        {"negative riders", "VQ06 -1 0 1 1792\ntracks/fixture\n", "bad rider count -1"},
        {"negative laps", "VQ06 0 0 -2 1792\ntracks/fixture\n", "negative"},
        {"no track line", "VQ06 0 0 1 1792\n", "no track line"},
        {"track without line feed", "VQ06 0 0 1 1792\ntracks/fixture", "no track line"},
        {"track outside the tree", "VQ06 0 0 1 1792\n../../etc\n", "bad track name"},
        {"missing rider", head6(2).substr(0, head6(2).size() - 22), "rider 2"},
        {"name not followed by an empty line",
         "VQ06 1 0 1 1792\ntracks/fixture\ncrf250||||\n1\nme\nextra\n", "no empty line"},
        {"overlong line", "VQ06 0 0 1 1792\n" + std::string(5000, 't') + "\n", "no track line"},
        {"empty file", "", "no header line"},
    };
    for (const Case &c : cases) {
        messages_clear();
        EXPECT_FALSE(open_bytes(c.bytes)) << c.what;
        EXPECT_FALSE(demo_playing()) << c.what;
        EXPECT_NE(last_message().find(c.reason), std::string::npos)
            << c.what << ": " << last_message();
    }
}

TEST_F(DemoFormat, DamagedBodiesStopSafely) {
    std::string head = head6(2);
    BlockChain c;
    std::string good = c.add(0, 1, state_entry(0, 0, 100) + state_entry(1, 0, 200));
    struct Case {
        const char *what;
        std::string body;
        std::vector<int> slot0_times, slot1_times;
        const char *message; // expected in the last message, or null
    };
    BlockChain c2 = c;
    std::string bad_index = c2.add(16, 1, state_entry(5, 16, 1) + state_entry(1, 16, 201));
    BlockChain c3 = c;
    std::string truncated = c3.add(16, 1, state_entry(0, 16, 101));
    truncated.resize(truncated.size() - 10);
    BlockChain c4 = c;
    std::string huge = le32(c4.previous ^ 0x7fffffffu) + le32(16) + std::string(1, '\1');
    BlockChain c5 = c;
    std::string negative_time = c5.add(16, 1, state_entry(0, -16, 1) + state_entry(0, 12, 150));
    BlockChain c6 = c;
    std::string odd_length = c6.add(16, 1, state_entry(0, 16, 1) + "xyz");
    std::string after_odd = c6.add(32, 1, state_entry(0, 32, 300));
    BlockChain c7 = c;
    std::string text = c7.add(8, 2, std::string(1500, 'm'));
    std::string after_text = c7.add(16, 1, state_entry(1, 16, 250));
    BlockChain c8 = c;
    std::string unknown = c8.add(10, 9, "whatever");
    unknown += c8.add(16, 1, state_entry(0, 16, 160));
    const Case cases[] = {
        {"rider index out of range skipped", good + bad_index, {0}, {0, 16}, nullptr},
        {"truncated block", good + truncated, {0}, {0}, nullptr},
        {"payload length too large", good + huge, {0}, {0}, "damaged at offset"},
        {"negative entry time", good + negative_time, {0, 12}, {0}, nullptr},
        {"states block of a bad length skipped",
         good + odd_length + after_odd,
         {0, 32},
         {0},
         nullptr},
        {"1500 bytes of text, then more states",
         good + text + after_text,
         {0},
         {0, 16},
         "mmmmmmmm"},
        {"unknown block type skipped", good + unknown, {0, 16}, {0}, nullptr},
    };
    for (const Case &cs : cases) {
        messages_clear();
        demo_state_reset();
        ASSERT_TRUE(play(head + cs.body)) << cs.what;
        for (int k = 0; k < 3; ++k) demo_read_step(); // reading again does no harm
        auto times = [](int slot) {
            std::vector<int> t;
            for (int k = kHistoryEntries - 1; k >= 0; --k) {
                const StateHistory &h = *history(slot);
                int v = h.times[(h.head - k + kHistoryEntries) % kHistoryEntries];
                if (v >= 0) t.push_back(v);
            }
            return t;
        };
        EXPECT_EQ(times(0), cs.slot0_times) << cs.what;
        EXPECT_EQ(times(1), cs.slot1_times) << cs.what;
        for (int s = 2; s < kHistorySlots; ++s) EXPECT_EQ(history_latest_time(s), -1) << cs.what;
        if (cs.message) {
            EXPECT_NE(last_message().find(cs.message), std::string::npos)
                << cs.what << ": " << last_message();
        }
    }
}

TEST_F(DemoFormat, WalkingBackwardsReachesTheBlocksReadForwards) {
    std::string bytes = head6(3);
    BlockChain c;
    // Blocks of varied lengths, including empty ones and large ones.
    for (int b = 0; b < 40; ++b) {
        std::string payload;
        for (int e = 0; e < (b * 7) % 13; ++e) payload += state_entry(e % 3, b * 16, b);
        bytes += c.add(b * 16, b % 5 == 4 ? 2 : 1, b % 5 == 4 ? std::string(b, 't') : payload);
    }
    Stream *s = stream_open_memory(bytes.data(), bytes.size(), false);
    DemoHeader h;
    std::string error;
    ASSERT_TRUE(demo_read_head(s, h, error)) << error;
    DemoReader r;
    demo_reader_init(r, s);
    std::vector<std::int64_t> forward;
    std::vector<int> forward_times;
    DemoBlock b;
    std::vector<std::uint8_t> payload;
    while (demo_next_block(r, b, payload) == DemoRead::ok) {
        forward.push_back(b.offset);
        forward_times.push_back(b.time);
    }
    ASSERT_EQ(forward.size(), 40u);
    EXPECT_EQ(r.next_offset, std::int64_t(bytes.size()));
    std::vector<std::int64_t> backward;
    while (demo_block_back(r, b)) {
        backward.push_back(b.offset);
        EXPECT_EQ(b.time, forward_times[forward.size() - backward.size()]);
    }
    std::vector<std::int64_t> reversed(forward.rbegin(), forward.rend());
    EXPECT_EQ(backward, reversed);
    // Never past the first block; and reading forwards again from there works.
    EXPECT_EQ(r.next_offset, r.first_block);
    EXPECT_FALSE(demo_block_back(r, b));
    EXPECT_EQ(r.next_offset, r.first_block);
    ASSERT_EQ(demo_next_block(r, b, payload), DemoRead::ok);
    EXPECT_EQ(b.offset, forward[0]);
    ASSERT_EQ(demo_next_block(r, b, payload), DemoRead::ok);
    EXPECT_EQ(b.offset, forward[1]);
    vfs_close(s);
}

TEST_F(DemoFormat, BrokenLinksStopTheWalkInsideTheFile) {
    std::string bytes = head6(1);
    BlockChain c;
    bytes += c.add(0, 1, state_entry(0, 0, 1));
    bytes += c.add(16, 1, state_entry(0, 16, 2));
    std::size_t third = bytes.size();
    bytes += c.add(32, 1, state_entry(0, 32, 3));
    // The third block claims a previous block far longer than the file.
    std::string link = le32(0x00ffff00u ^ 44u);
    bytes.replace(third, 4, link);
    Stream *s = stream_open_memory(bytes.data(), bytes.size(), false);
    DemoHeader h;
    std::string error;
    ASSERT_TRUE(demo_read_head(s, h, error));
    DemoReader r;
    demo_reader_init(r, s);
    DemoBlock b;
    std::vector<std::uint8_t> payload;
    ASSERT_EQ(demo_next_block(r, b, payload), DemoRead::ok);
    ASSERT_EQ(demo_next_block(r, b, payload), DemoRead::ok);
    // Forward the bad link gives an absurd length: refused before any allocation.
    EXPECT_EQ(demo_next_block(r, b, payload), DemoRead::bad);
    // Backward from the end of the file the walk reaches block 3, then stops.
    r.next_offset = std::int64_t(bytes.size());
    r.previous_length = 44;
    ASSERT_TRUE(demo_block_back(r, b));
    EXPECT_EQ(b.offset, std::int64_t(third));
    EXPECT_FALSE(demo_block_back(r, b));
    EXPECT_GE(r.next_offset, r.first_block);
    vfs_close(s);
}

TEST_F(DemoFormat, Version5AndVersion4RecordsPerStep) {
    for (int version : {4, 5}) {
        int size = version == 4 ? 26 : 39;
        std::string bytes = "VQ0" + std::to_string(version) +
                            " 2 0 1\ntracks/fixture\nyz125||||\n1\ncr125||||\n2\n";
        for (int step = 0; step < 40; ++step)
            for (int rider = 0; rider < 2; ++rider)
                bytes += record_bytes(std::uint32_t(1000 * rider + step), size);
        demo_state_reset();
        session().clock = 100; // the demo's time starts at the first read
        ASSERT_TRUE(open_bytes(bytes));
        demo_assign_slot(0, 4);
        demo_assign_slot(1, 9);
        demo_read_step();
        EXPECT_EQ(history_latest_time(4), 108) << version; // up to the clock + 8
        BikeStateRecord r;
        ASSERT_TRUE(history_sample(9, 103, r));
        EXPECT_EQ(record_x(r), 1003u) << version;
        EXPECT_EQ(history(9)->version, version);
        // Version 4 records are never interpolated: between two steps the earlier one.
        // Jumping there reads the record of that step.
        demo_reposition(130);
        EXPECT_EQ(session().clock, 130);
        ASSERT_TRUE(history_sample(4, 130, r));
        EXPECT_EQ(record_x(r), 30u) << version;
        EXPECT_EQ(history_latest_time(4), 138) << version;
        // Past the end of the file nothing more comes.
        demo_reposition(200);
        EXPECT_EQ(history_latest_time(4), -1) << version;
        EXPECT_TRUE(demo_playback_done()) << version;
    }
}

TEST_F(DemoFormat, FirstBlockSetsTheClockOrTheGhostOffset) {
    std::string bytes = head6(1);
    BlockChain c;
    bytes += c.add(500, 1, state_entry(0, 500, 7));
    bytes += c.add(516, 1, state_entry(0, 516, 8));
    ASSERT_TRUE(play(bytes, 0));
    EXPECT_EQ(session().clock, 500); // playback jumps to the recording's time
    EXPECT_EQ(history_latest_time(0), 516);
    demo_state_reset();
    ASSERT_TRUE(open_bytes(bytes, true)); // a ghost starts now
    demo_assign_slot(0, 1);
    session().clock = 40000;
    demo_read_step();
    EXPECT_EQ(session().clock, 40000);
    EXPECT_EQ(history_latest_time(1), 40016);
}

} // namespace
