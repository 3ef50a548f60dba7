// The program's one random generator: MT19937, seeded at every session start.
#pragma once
#include <cstdint>

void random_seed(std::uint32_t seed);
std::uint32_t random_next();
