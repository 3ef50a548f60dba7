// The process log, platform options, name aliases and shared names.
#pragma once
#include <cstdint>
#include <string>

// Appends one formatted message to the log, prefixed by "[h:mm:ss.hh] " from the
// monotonic clock. The first call of the process opens the log (ZELK_LOGFILE,
// ZELK_LOGFILE_FLAGS, or a "ZELK_LOGFILE=<name>" request). A message starting with
// DC3 (19) followed by "FLUSH"/"NOFLUSH" switches per-line flushing. A null format
// closes the log. Safe to call from any thread; stamp and text are written together.
void log_printf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Logs "Error: <text>\n" and remembers the text as the last error.
void log_error(const char *text);
// The text of the last log_error ("Unknown" before any).
std::string log_last_error();

// Writes the stamp "[h:mm:ss.hh] " for a clock reading in milliseconds into buf.
void log_format_stamp(char *buf, std::size_t size, std::uint64_t ms);

// Platform options from ZELK_OPTIONS: entries "[name:value]". A missing entry gives
// the default; a malformed value logs "unrecognized setting for <name>" and gives it too.
bool option_flag(const char *name, bool def);
int option_int(const char *name, int def);

// Defines an alias; a second alias for the same name is logged and ignored.
bool alias_define(const char *name, const char *target);
// The alias target of name, or name itself. One lookup, never chained.
const char *alias_resolve(const char *name);
// A stable stored copy of text, added on first request.
const char *shared_name(const char *text);

// Test support: close the log and forget every first-call decision, so the next
// log_printf behaves as the first of the process. Options text is re-read too.
void log_reset_for_tests();
void options_set_text_for_tests(const char *text);
