#include "platform/random.h"

#include <random>

// std::mt19937 is exactly the standard MT19937: its seeding recurrence
// (1812433253 multiplier), twist constant 0x9908B0DF and tempering.
static std::mt19937 g_generator(5489u);

void random_seed(std::uint32_t seed) {
    g_generator.seed(seed);
}

std::uint32_t random_next() {
    return std::uint32_t(g_generator());
}
