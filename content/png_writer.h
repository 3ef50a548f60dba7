// PNG encoding into memory with libpng: 8-bit RGB or RGBA, no time stamp or other
// varying chunks, fixed compression settings, so equal pixels give equal bytes.
#pragma once
#include <cstdint>
#include <vector>

// Encodes width x height pixels of channels bytes each (3 = RGB, 4 = RGBA), rows top to
// bottom. Returns an empty vector when libpng fails.
std::vector<std::uint8_t> png_encode(const std::uint8_t *pixels, int width, int height,
                                     int channels);
