#include "noise.h"

#include <cmath>

std::uint32_t noise_hash(std::int32_t x, std::int32_t y, std::uint32_t seed) {
    std::uint32_t h = seed * 0x9E3779B1u;
    h ^= std::uint32_t(x) * 0x85EBCA77u;
    h = (h << 13) | (h >> 19);
    h ^= std::uint32_t(y) * 0xC2B2AE3Du;
    h *= 0x27D4EB2Fu;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

double noise_unit(std::int32_t x, std::int32_t y, std::uint32_t seed) {
    return (noise_hash(x, y, seed) >> 8) * (1.0 / 16777216.0);
}

namespace {

double fade(double t) {
    return t * t * t * (t * (t * 6 - 15) + 10);
}

double lattice(std::int32_t x, std::int32_t y, std::uint32_t seed) {
    return noise_unit(x, y, seed) * 2.0 - 1.0;
}

double value_noise_at(double x, double y, int period, std::uint32_t seed) {
    double fx = std::floor(x), fy = std::floor(y);
    std::int32_t ix = std::int32_t(fx), iy = std::int32_t(fy);
    double u = fade(x - fx), v = fade(y - fy);
    auto wrap = [period](std::int32_t k) {
        if (period <= 0) return k;
        k %= period;
        return k < 0 ? k + period : k;
    };
    double a = lattice(wrap(ix), wrap(iy), seed), b = lattice(wrap(ix + 1), wrap(iy), seed);
    double c = lattice(wrap(ix), wrap(iy + 1), seed), d = lattice(wrap(ix + 1), wrap(iy + 1), seed);
    return (a + (b - a) * u) + ((c + (d - c) * u) - (a + (b - a) * u)) * v;
}

} // namespace

double value_noise(double x, double y, std::uint32_t seed) {
    return value_noise_at(x, y, 0, seed);
}

double value_noise_periodic(double x, double y, int period, std::uint32_t seed) {
    return value_noise_at(x, y, period, seed);
}

double fractal_noise(double x, double y, int octaves, std::uint32_t seed) {
    double sum = 0, amp = 1, norm = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += amp * value_noise(x, y, seed + std::uint32_t(o) * 101u);
        norm += amp;
        amp *= 0.5;
        x *= 2.0;
        y *= 2.0;
    }
    return sum / norm;
}
