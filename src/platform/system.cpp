#include "platform/system.h"

#include "platform/log.h"

#include <algorithm>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

extern char **environ;

bool cpu_has_mmx() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    return (d >> 23) & 1u;
#else
    return false;
#endif
}

std::uint64_t physical_memory_bytes() {
    long pages = sysconf(_SC_PHYS_PAGES);
    long size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || size <= 0) return 0;
    return std::uint64_t(pages) * std::uint64_t(size);
}

void adjust_working_set() {
    const std::uint64_t MiB = 1024 * 1024;
    std::uint64_t phys = physical_memory_bytes();
    if (phys < 64 * MiB) {
        log_printf("Working set left alone - less than 64 MB physical memory\n");
        return;
    }
    std::uint64_t maximum = std::min<std::uint64_t>(phys, 2048 * MiB) - 32 * MiB;
    std::uint64_t minimum = std::min<std::uint64_t>(1024 * MiB, maximum);
    log_printf("Setting working set range to %u - %u\n", unsigned(minimum), unsigned(maximum));
    // The kernel decides residency on its own; there is no call that sets a
    // process working-set range, so the request cannot succeed here.
    log_printf("Working set update failed\n");
}

bool open_folder_in_browser(const std::string &path) {
    const char *argv[] = {"xdg-open", path.c_str(), nullptr};
    pid_t pid;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 1, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 1, 0);
    int rc = posix_spawnp(&pid, "xdg-open", &actions, nullptr, const_cast<char **>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
