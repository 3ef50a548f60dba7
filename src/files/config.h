// The configuration file "@config": one "key=value" line per setting of the global
// settings record (files/settings.h), read at start-up and written back at shutdown.
// Keys the program does not know are ignored, so files of other versions load.
#pragma once
#include <string>

#include "files/settings.h"
#include "files/stream.h"

// Reads "@config" when it exists; a missing or unreadable file leaves every setting as
// it is. Values that do not parse or name no choice leave their setting unchanged.
void config_read();
// Reads configuration lines from s (lines of at most 1023 characters; longer lines are
// split, the rest read as another line). Every line goes to setup_read_line first.
void config_read_stream(Stream *s);
// Applies one configuration line's key and value (setup keys included).
void config_read_line(const char *key, const char *value);
// Splits a line at its first "=": the key unchanged, the value without the carriage
// returns and line feeds at its end. False for a line without "=".
bool config_split_line(const char *line, std::string &key, std::string &value);

// The configuration text: every key in writing order, setup keys in the middle, the
// control bindings last.
std::string config_text();
// Writes "@config" as a safe save (temporary file renamed over the old one). False, and
// the old file kept, when it could not be written.
bool config_write();

// Reads a binding value: "(k)name" or a bare name binds a key; "(low,high)name" an axis.
// Clears the resolved code and handle.
void binding_parse(ControlBinding &b, const char *value);
// The binding's value as written ("(k)%s" or "(%f,%f)%s"), empty when it is unbound.
std::string binding_text(const ControlBinding &b);
