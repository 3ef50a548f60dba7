#include "platform/memory.h"

#include "platform/dialog.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>

namespace {
struct InternTable {
    std::mutex lock;
    std::unordered_set<std::string> texts;
};
InternTable &interned() {
    static InternTable *table = new InternTable; // lives until exit, never destroyed
    return *table;
}
void (*g_fatal_cleanup)() = nullptr;
} // namespace

void set_fatal_cleanup(void (*cleanup)()) {
    g_fatal_cleanup = cleanup;
}

void die_out_of_memory() {
    void (*cleanup)() = g_fatal_cleanup;
    g_fatal_cleanup = nullptr; // never re-enter if the clean-up itself runs out of memory
    if (cleanup) cleanup();
    show_error_box("Error", "Out of virtual memory");
    std::_Exit(1);
}

void *alloc_or_die(std::size_t size) {
    void *p = std::malloc(size ? size : 1);
    if (!p) die_out_of_memory();
    return p;
}

const char *intern_string(std::string_view text) {
    InternTable &t = interned();
    std::lock_guard<std::mutex> guard(t.lock);
    try {
        return t.texts.emplace(text).first->c_str();
    } catch (const std::bad_alloc &) {
        die_out_of_memory();
    }
}
