// The on-screen message lines: a ring of 1000 texts, a few of them shown at a time.
#pragma once

constexpr int kMessageRingSize = 1000;
constexpr int kMessageMaxChars = 127;

struct MessageRing {
    char lines[kMessageRingSize][kMessageMaxChars + 1];
    int next;        // ring slot the next message goes to
    int shown;       // lines currently shown (at most max_shown)
    int max_shown;   // the message_lines setting (default 5)
    double expiry;   // run time at which the next shown line expires
    double run_time; // the main loop's run time, kept current by the loop
};

// Logs the text ("%s%s\n" with a colour reset when it holds an escape), stores at most
// 127 characters in the next ring slot, shows one more line (up to max_shown) and
// sets the expiry to run_time + 2 s.
void show_message(const char *text);
// printf-style show_message (the text is formatted to at most 1023 characters).
void show_messagef(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Clears the ring (start-up step 1).
void messages_clear();
// The loop's run time, read by show_message for the expiry.
void messages_set_run_time(double run_time);
// Frame step 12: when run_time passed the expiry and lines are shown, one line fewer
// is shown and the expiry becomes run_time + 5 s.
void messages_tick(double run_time);
// The i-th most recent shown line (0 = newest), or null past the shown count.
const char *messages_shown_line(int i);
MessageRing &messages_state();
