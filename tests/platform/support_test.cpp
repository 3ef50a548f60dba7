#include "platform/memory.h"
#include "platform/messages.h"
#include "platform/random.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Random, IsTheStandardMersenneTwister) {
    random_seed(5489);
    EXPECT_EQ(random_next(), 3499211612u);
    random_seed(5489);
    std::uint32_t v = 0;
    for (int i = 0; i < 10000; ++i) v = random_next();
    EXPECT_EQ(v, 4123659995u);
}

TEST(Intern, EqualTextsShareOneCopy) {
    std::string a = "Left Ctrl", b = "Left Ctrl";
    EXPECT_EQ(intern_string(a), intern_string(b));
    EXPECT_NE(intern_string("left ctrl"), intern_string(a));
    EXPECT_STREQ(intern_string(a), "Left Ctrl");
}

TEST(Messages, RingShowsTheLatestAndExpiresThem) {
    messages_clear();
    MessageRing &r = messages_state();
    r.max_shown = 5;
    messages_set_run_time(100.0);
    for (int i = 0; i < 20; ++i) show_messagef("message %d", i);
    EXPECT_EQ(r.shown, 5);
    EXPECT_STREQ(messages_shown_line(0), "message 19");
    EXPECT_STREQ(messages_shown_line(4), "message 15");
    EXPECT_EQ(messages_shown_line(5), nullptr);
    // Nothing expires for the first 2 s, then one line every 5 s.
    double t = 100.0;
    int shown_at_2 = 0, shown_at_7 = 0, shown_at_22 = 0;
    for (int frame = 1; frame <= 30 * 8; ++frame) {
        t = 100.0 + frame * 0.125;
        messages_tick(t);
        if (frame == 16) shown_at_2 = r.shown;        // t = 102.0: not yet past expiry
        if (frame == 8 * 7 + 1) shown_at_7 = r.shown; // t = 107.125
        if (frame == 8 * 23) shown_at_22 = r.shown;   // t = 123.0
    }
    EXPECT_EQ(shown_at_2, 5);
    EXPECT_EQ(shown_at_7, 4);  // the first expired at 102.125, the next is due at 107.125
    EXPECT_EQ(shown_at_22, 0); // then 107.25, 112.375, 117.5 and the last at 122.625
    // Long texts are cut to 127 characters; the ring wraps after 1000.
    show_message(std::string(300, 'x').c_str());
    EXPECT_EQ(std::string(messages_shown_line(0)).size(), 127u);
    for (int i = 0; i < 1500; ++i) show_messagef("m%d", i);
    EXPECT_STREQ(messages_shown_line(0), "m1499");
    EXPECT_EQ(r.next, (20 + 1 + 1500) % 1000);
}

} // namespace
