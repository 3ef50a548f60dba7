#include "platform/messages.h"

#include "platform/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

static MessageRing g_ring = {{}, 0, 0, 5, 0.0, 0.0};

MessageRing &messages_state() {
    return g_ring;
}

void messages_clear() {
    int max_shown = g_ring.max_shown;
    std::memset(&g_ring, 0, sizeof g_ring);
    g_ring.max_shown = max_shown;
}

void messages_set_run_time(double run_time) {
    g_ring.run_time = run_time;
}

void show_message(const char *text) {
    if (!text) return;
    std::size_t len = std::strlen(text);
    const char *reset = std::strchr(text, 27) ? "\033[0m" : "";
    if (len > 0 && text[len - 1] == '\n')
        log_printf("%s%s", text, reset);
    else
        log_printf("%s%s\n", text, reset);

    char *slot = g_ring.lines[g_ring.next];
    std::size_t n = len < std::size_t(kMessageMaxChars) ? len : std::size_t(kMessageMaxChars);
    std::memcpy(slot, text, n);
    slot[n] = 0;
    g_ring.next = (g_ring.next + 1) % kMessageRingSize;
    if (g_ring.shown < g_ring.max_shown) g_ring.shown++;
    if (g_ring.shown > g_ring.max_shown) g_ring.shown = g_ring.max_shown;
    g_ring.expiry = g_ring.run_time + 2.0;
}

void show_messagef(const char *fmt, ...) {
    char text[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    show_message(text);
}

void messages_tick(double run_time) {
    g_ring.run_time = run_time;
    if (run_time > g_ring.expiry && g_ring.shown > 0) {
        g_ring.shown--;
        g_ring.expiry = run_time + 5.0;
    }
}

const char *messages_shown_line(int i) {
    if (i < 0 || i >= g_ring.shown) return nullptr;
    int slot = ((g_ring.next - 1 - i) % kMessageRingSize + kMessageRingSize) % kMessageRingSize;
    return g_ring.lines[slot];
}
