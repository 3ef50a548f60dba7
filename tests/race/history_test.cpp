// The per-slot state histories: ordered insertion into the 128-entry ring and the choice
// of the record shown at a time (interpolation, exact hits, capped extrapolation).
#include "race/history.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/messages.h"

namespace {

// A record whose frame x (24 bits) is x; everything else 0. Interpolation moves only
// that field in a way the test can read back exactly.
BikeStateRecord rec(std::uint32_t x) {
    BikeStateRecord r;
    r.bytes[0] = std::uint8_t(x);
    r.bytes[1] = std::uint8_t(x >> 8);
    r.bytes[2] = std::uint8_t(x >> 16);
    r.bytes[18] = 1; // a recorded (not interpolated) record
    return r;
}
std::uint32_t x_of(const BikeStateRecord &r) {
    return r.bytes[0] | r.bytes[1] << 8 | std::uint32_t(r.bytes[2]) << 16;
}

// The stored times of slot, oldest first (empty entries left out).
std::vector<int> times(int slot) {
    const StateHistory &h = *history(slot);
    std::vector<int> out;
    for (int k = kHistoryEntries - 1; k >= 0; --k) {
        int t = h.times[(h.head - k + kHistoryEntries) % kHistoryEntries];
        if (t >= 0) out.push_back(t);
    }
    return out;
}

class History : public ::testing::Test {
protected:
    void SetUp() override {
        history_clear_all();
        messages_clear();
    }
    void TearDown() override { history_clear_all(); }
};

TEST_F(History, InsertionKeepsTimeOrderAndTheFirstRecordOfATime) {
    EXPECT_TRUE(history_add(3, rec(100), 10));
    EXPECT_TRUE(history_add(3, rec(300), 30));
    EXPECT_TRUE(history_add(3, rec(200), 20));  // between the two
    EXPECT_FALSE(history_add(3, rec(999), 20)); // duplicate time: the first stays
    EXPECT_TRUE(history_add(3, rec(50), 5));    // older than everything
    EXPECT_EQ(times(3), (std::vector<int>{5, 10, 20, 30}));
    const StateHistory &h = *history(3);
    EXPECT_EQ(h.times[h.head], 30); // the newest state stays the head
    EXPECT_EQ(h.pending, 4);
    BikeStateRecord r;
    ASSERT_TRUE(history_sample(3, 20, r));
    EXPECT_EQ(x_of(r), 200u);
    EXPECT_TRUE(times(4).empty()); // other slots untouched
}

TEST_F(History, FullRingLosesTheOldestAndDropsAnythingOlder) {
    for (int t = 0; t < kHistoryEntries + 10; ++t) ASSERT_TRUE(history_add(0, rec(t), 2 * t));
    std::vector<int> kept = times(0);
    ASSERT_EQ(kept.size(), std::size_t(kHistoryEntries));
    EXPECT_EQ(kept.front(), 20);
    EXPECT_EQ(kept.back(), 2 * (kHistoryEntries + 9));
    EXPECT_FALSE(history_add(0, rec(1), 3)); // older than the whole ring
    EXPECT_TRUE(history_add(0, rec(1), 21)); // inside: the oldest (20) goes
    EXPECT_EQ(times(0).front(), 21);
    EXPECT_EQ(history(0)->pending, kHistoryEntries);
}

TEST_F(History, RecordShownAtATime) {
    // Entries at 0 (x 1000), 4 (x 2000), 8 (x 4000).
    history_add(7, rec(1000), 0);
    history_add(7, rec(2000), 4);
    history_add(7, rec(4000), 8);
    struct Case {
        int time;
        std::uint32_t x;
        bool exact; // the stored record itself (swingarm bit 0 still set)
    };
    const Case cases[] = {
        {-5, 1000, true},    // clamped to 0: the first record
        {0, 1000, true},     // exact hit
        {4, 2000, true},     // exact hit
        {2, 1500, false},    // half way
        {7, 3500, false},    // 3/4 of the way from 4 to 8
        {10, 5000, false},   // extrapolated 2 steps
        {72, 36000, false},  // 64 steps past the newest: the cap
        {200, 36000, false}, // long after: held at the cap
    };
    for (const Case &c : cases) {
        BikeStateRecord r;
        ASSERT_TRUE(history_sample(7, c.time, r)) << c.time;
        EXPECT_EQ(x_of(r), c.x) << "time " << c.time;
        EXPECT_EQ(r.bytes[18] & 1, c.exact ? 1 : 0) << "time " << c.time;
    }
    // A single entry is shown as it is, before and after it.
    history_add(8, rec(777), 50);
    for (int t : {0, 50, 500}) {
        BikeStateRecord r;
        ASSERT_TRUE(history_sample(8, t, r));
        EXPECT_EQ(x_of(r), 777u);
    }
    BikeStateRecord r;
    EXPECT_FALSE(history_sample(9, 10, r)); // empty
}

TEST_F(History, BadSlotsAndTimesStoreNothing) {
    EXPECT_FALSE(history_add(160, rec(1), 1));
    EXPECT_STREQ(messages_shown_line(0), "add_state_to_history: slot out of range");
    EXPECT_FALSE(history_add(-1, rec(1), 1));
    EXPECT_FALSE(history_add(0, rec(1), -4)); // -1 marks empty entries
    EXPECT_TRUE(times(0).empty());
    EXPECT_EQ(history_latest_time(0), -1);
    history_add(0, rec(1), 40);
    EXPECT_EQ(history_latest_time(0), 40);
    EXPECT_TRUE(history_has_entry_near(0, 168, 128));
    EXPECT_FALSE(history_has_entry_near(0, 169, 128));
}

TEST_F(History, PendingEntriesComeOldestFirst) {
    history_add(2, rec(1), 4);
    history(2)->pending = 0; // written
    history_add(2, rec(2), 8);
    history_add(2, rec(3), 12);
    const StateHistory &h = *history(2);
    ASSERT_EQ(h.pending, 2);
    EXPECT_EQ(h.times[history_pending_index(h, 0)], 8);
    EXPECT_EQ(h.times[history_pending_index(h, 1)], 12);
}

} // namespace
