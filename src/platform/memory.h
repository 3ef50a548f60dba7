// Allocation that cannot fail, and interned strings.
#pragma once
#include <cstddef>
#include <string_view>

// Returns a block of size bytes. On failure runs the fatal clean-up (audio and window
// close), shows "Error" / "Out of virtual memory" and exits with code 1.
void *alloc_or_die(std::size_t size);
// Ends the process as a failed alloc_or_die does.
[[noreturn]] void die_out_of_memory();
// A stable copy of text; equal texts (case-sensitive) give the same pointer. Lives until exit.
const char *intern_string(std::string_view text);
// Registers the clean-up run before the out-of-memory box (closes audio and window).
void set_fatal_cleanup(void (*cleanup)());
