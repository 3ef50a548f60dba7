#include "platform/log.h"

#include "platform/clock.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <set>
#include <string>
#include <unistd.h>
#include <utility>

namespace {

struct LogState {
    std::recursive_mutex lock;
    FILE *file = nullptr;
    bool initialised = false;
    bool flush = true;
    std::string last_error = "Unknown";
};

struct OptionState {
    bool loaded = false;
    std::string text;
};

struct NameTables {
    std::mutex lock;
    std::list<std::pair<std::string, std::string>> aliases; // newest first
    std::set<std::string> shared;
};

LogState g_log;
OptionState g_options;
NameTables g_names;

void write_stamped(const char *text) {
    if (!g_log.file) return;
    char stamp[32];
    log_format_stamp(stamp, sizeof stamp, clock_ms());
    std::fputs(stamp, g_log.file);
    std::fputs(text, g_log.file);
    // Each line is flushed to the kernel so a crash loses nothing already logged.
    // The log is not fsync'ed per line: a commit to disk costs milliseconds on a
    // busy disk and the main loop must not stall on it.
    if (g_log.flush) std::fflush(g_log.file);
}

void open_log(const char *request) {
    const char *env_name = std::getenv("ZELK_LOGFILE");
    const char *env_flags = std::getenv("ZELK_LOGFILE_FLAGS");
    std::string name;
    if (env_name)
        name = env_name;
    else if (request)
        name = request;
    else
        return; // no log file: every later message is dropped
    std::string mode = "w";
    if (name.rfind(">>", 0) == 0) {
        mode = "a";
        name.erase(0, 2);
    } else if (name.rfind(">", 0) == 0) {
        name.erase(0, 1);
    }
    if (env_flags) mode = env_flags;
    g_log.file = std::fopen(name.c_str(), mode.c_str());
    if (!g_log.file) return;
    std::string opened = "Logfile \"" + name + "\" opened\n";
    write_stamped(opened.c_str());
    write_stamped("ZELK 0.31\n");
}

} // namespace

void log_format_stamp(char *buf, std::size_t size, std::uint64_t ms) {
    std::uint64_t hundredths = ms / 10;
    unsigned h = unsigned(hundredths / 360000);
    unsigned m = unsigned(hundredths / 6000 % 60);
    unsigned s = unsigned(hundredths / 100 % 60);
    unsigned c = unsigned(hundredths % 100);
    std::snprintf(buf, size, "[%u:%02u:%02u.%02u] ", h, m, s, c);
}

void log_printf(const char *fmt, ...) {
    std::lock_guard<std::recursive_mutex> guard(g_log.lock);
    if (!fmt) {
        if (g_log.file) std::fclose(g_log.file);
        g_log.file = nullptr;
        return;
    }
    char text[4096];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);

    if (!g_log.initialised) {
        static const char kRequest[] = "ZELK_LOGFILE=";
        bool is_request = std::strncmp(text, kRequest, sizeof kRequest - 1) == 0;
        g_log.initialised = true;
        open_log(is_request ? text + sizeof kRequest - 1 : nullptr);
        if (is_request) return;
    }
    if (text[0] == 19) {
        if (std::strcmp(text + 1, "FLUSH") == 0)
            g_log.flush = true;
        else if (std::strcmp(text + 1, "NOFLUSH") == 0)
            g_log.flush = false;
        return;
    }
    write_stamped(text);
}

void log_error(const char *text) {
    std::lock_guard<std::recursive_mutex> guard(g_log.lock);
    g_log.last_error = text ? text : "";
    log_printf("Error: %s\n", g_log.last_error.c_str());
}

std::string log_last_error() {
    std::lock_guard<std::recursive_mutex> guard(g_log.lock);
    return g_log.last_error;
}

void log_reset_for_tests() {
    std::lock_guard<std::recursive_mutex> guard(g_log.lock);
    if (g_log.file) std::fclose(g_log.file);
    g_log.file = nullptr;
    g_log.initialised = false;
    g_log.flush = true;
    g_log.last_error = "Unknown";
    g_options.loaded = false;
    g_options.text.clear();
}

void options_set_text_for_tests(const char *text) {
    g_options.loaded = true;
    g_options.text = text ? text : "";
}

// Finds "[name:" in the options text; returns the position after ":" or npos.
static std::size_t option_value_pos(const char *name) {
    if (!g_options.loaded) {
        const char *env = std::getenv("ZELK_OPTIONS");
        g_options.text = env ? env : "";
        g_options.loaded = true;
    }
    std::string key = "[" + std::string(name).substr(0, 60) + ":";
    std::size_t pos = g_options.text.find(key);
    return pos == std::string::npos ? pos : pos + key.size();
}

bool option_flag(const char *name, bool def) {
    std::size_t pos = option_value_pos(name);
    if (pos == std::string::npos) return def;
    const char *v = g_options.text.c_str() + pos;
    if (!std::strncmp(v, "yes]", 4) || !std::strncmp(v, "on]", 3)) return true;
    if (!std::strncmp(v, "no]", 3) || !std::strncmp(v, "off]", 4)) return false;
    log_printf("unrecognized setting for %s\n", name);
    return def;
}

int option_int(const char *name, int def) {
    std::size_t pos = option_value_pos(name);
    if (pos == std::string::npos) return def;
    const char *v = g_options.text.c_str() + pos;
    const char *p = v;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (!std::isdigit((unsigned char)*p)) {
        log_printf("unrecognized setting for %s\n", name);
        return def;
    }
    long long value = 0;
    while (std::isdigit((unsigned char)*p)) {
        if (value < 100000000000LL) value = value * 10 + (*p - '0');
        ++p;
    }
    if (negative) value = -value;
    if (value > 2147483647LL) value = 2147483647LL;
    if (value < -2147483647LL - 1) value = -2147483647LL - 1;
    return int(value);
}

bool alias_define(const char *name, const char *target) {
    std::lock_guard<std::mutex> guard(g_names.lock);
    for (auto &a : g_names.aliases) {
        if (a.first == name) {
            log_printf("Second alias for '%s' ('%s') ignored\n", name, target);
            return false;
        }
    }
    g_names.aliases.emplace_front(name, target);
    return true;
}

const char *alias_resolve(const char *name) {
    std::lock_guard<std::mutex> guard(g_names.lock);
    for (auto &a : g_names.aliases)
        if (a.first == name) return a.second.c_str();
    return name;
}

const char *shared_name(const char *text) {
    std::lock_guard<std::mutex> guard(g_names.lock);
    return g_names.shared.insert(text).first->c_str();
}
