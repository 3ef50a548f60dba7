// Reading the terrain files of a track folder into the loaded terrain, and writing a
// terrain back out (the editor's save, the content generator and test fixtures).
//
// Files: "terrain.hf" (header "n spacing min max", then ":" and side * side
// little-endian u16 heights, or the heights in "terrain.png"), "shadingx2.ppm" or
// "shading.ppm", "shadows.pgm", "tileinfo" or "texturelist", "tilemap", "decals".
#pragma once
#include <string>

#include "track/terrain.h"

struct Stream;

struct TerrainHeader {
    int size_exp = 0;
    float spacing = 0.0f;
    float min_height = 0.0f;
    float max_height = 0.0f;
    bool inline_heights = false; // ":" follows the header: the heights are in the file
};

// Reads the header with the directive string "%d %f %f %f " and the character after it
// (consumed when it is ":"). Rejects, with message lines, a header that does not scan
// ("Bad height field parameters", "Error reading heights") and one a track cannot use:
// n outside 7..11, spacing not above 0 or not finite, heights not finite or max < min.
bool terrain_read_header(Stream *s, TerrainHeader &header);

// Loads the terrain files of folder (a virtual path such as "@tracks/mx1") into
// terrain(): heights, shading, shadows, surface types, tilemap and decals, then hands
// the terrain to the terrain_render_setup hook with ground_method. Stops at the first
// failure with its message line, frees what was read and returns false.
bool terrain_load(const char *folder, int ground_method);
// Releases the loaded terrain and its drawing state (terrain() becomes empty).
void terrain_free();

// Writers, each to folder + "/" + the file name through safe saves. False when the file
// could not be written ("Can't open '%.950s'" is shown for a file that does not open).
// Heights: "terrain.hf" with the actual minimum and maximum of the heights, then the
// samples round((h - min) / (max - min) * 65535) inline after ":" or in "terrain.png".
bool terrain_write_heights(const char *folder, const Terrain &t, bool inline_heights);
// "shadingx2.ppm" (the stored values) and "shading.ppm" (twice them, saturated).
bool terrain_write_shading(const char *folder, const Terrain &t);
// "shadows.pgm" (the file holds 255 - darkness).
bool terrain_write_shadows(const char *folder, const Terrain &t);
// "tilemap": 4^n bytes.
bool terrain_write_tilemap(const char *folder, const Terrain &t);
// "decals": one "[%f %f] %f %f %f %s\n" line per decal.
bool terrain_write_decals(const char *folder, const Terrain &t);
// "tileinfo": the surface types as statements, each ended by "addtile".
bool terrain_write_tileinfo(const char *folder, const Terrain &t);
// The tileinfo statements of tiles to an open stream.
bool tileinfo_write(Stream *s, const std::vector<TileType> &tiles);
// Every file above (heights inline or as PNG).
bool terrain_save(const char *folder, const Terrain &t, bool inline_heights);
