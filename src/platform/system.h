// Facts about the machine and requests to the operating system.
#pragma once
#include <cstdint>
#include <string>

// Whether the processor reports MMX (CPUID leaf 1, EDX bit 23).
bool cpu_has_mmx();
// Installed physical memory in bytes, 0 when unknown.
std::uint64_t physical_memory_bytes();
// Logs the working-set range computed from the physical memory and asks the system to
// honour it. Linux has no working-set control, so the request is reported as failed.
void adjust_working_set();
// Opens a folder in the desktop's file browser without waiting; false when that failed.
bool open_folder_in_browser(const std::string &path);
