// Seeded, stateless noise for the generated content: every value is a pure function of
// its integer coordinates and seed, so the output never depends on call order.
#pragma once
#include <cstdint>

// A well-mixed 32-bit hash of (x, y, seed).
std::uint32_t noise_hash(std::int32_t x, std::int32_t y, std::uint32_t seed);
// Hash as a number in [0, 1).
double noise_unit(std::int32_t x, std::int32_t y, std::uint32_t seed);
// Smooth value noise in [-1, 1] at (x, y) in lattice units.
double value_noise(double x, double y, std::uint32_t seed);
// The same, periodic with period (a positive number of lattice cells) in both axes.
double value_noise_periodic(double x, double y, int period, std::uint32_t seed);
// Sum of octaves of value noise (each of half the amplitude and twice the frequency).
double fractal_noise(double x, double y, int octaves, std::uint32_t seed);
