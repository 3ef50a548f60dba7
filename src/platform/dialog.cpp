#include "platform/dialog.h"

#include "platform/log.h"

#include <cstdarg>
#include <cstdio>

namespace {
bool g_headless = false;
bool (*g_backend)(const char *, const char *) = nullptr;
} // namespace

void dialog_set_headless(bool headless) {
    g_headless = headless;
}

void dialog_set_backend(bool (*show)(const char *title, const char *text)) {
    g_backend = show;
}

void show_error_box(const char *title, const char *fmt, ...) {
    char text[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    log_printf("%s: %s\n", title, text);
    if (!g_headless && g_backend && g_backend(title, text)) return;
    std::fprintf(stderr, "vantorq: %s: %s", title, text);
    std::size_t n = 0;
    while (text[n]) ++n;
    if (n == 0 || text[n - 1] != '\n') std::fputc('\n', stderr);
}
