// Ground tile textures and the roost particle sprite, as PNG files.
//
// A tile is square with a power-of-two side; the terrain renderer draws only its inner
// 7/8 (texture coordinates 1/16 to 15/16), so the pattern repeats seamlessly with the
// inner part's period and the border of 1/16 of the side on each edge continues it.
#pragma once
#include <cstdint>
#include <vector>

#include "shapes.h"

constexpr int kTileSize = 128;
constexpr int kTileBorder = kTileSize / 16;

// The tile textures in surface order: "dirt.png", "hardpack.png", "sand.png",
// "grass.png" (index = the Surface value).
std::vector<GeneratedFile> tile_textures();
// "roost.png": a soft clump of dirt with alpha, light so that each surface's roost colour
// tints it.
GeneratedFile roost_texture();

// The RGB pixels of tile `surface` (kTileSize^2 * 3 bytes), as encoded in its PNG.
std::vector<std::uint8_t> tile_pixels(int surface);
