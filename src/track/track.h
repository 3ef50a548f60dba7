// The installed tracks, loading one track folder as a unit, the track hash that
// identifies its riding-relevant content, and the ".trackinfo" summary.
//
// A track is a folder holding "terrain.hf" (or "terrain.hf.gz"); its identifier is the
// folder's virtual path without a trailing "/" and every file is "@" + folder + "/" + name.
// Scenery, textures, drawing, the editor and the robot lines join the load through the
// hooks of track/hooks.h.
#pragma once
#include <string>
#include <vector>

#include "track/ripemd160.h"

struct TrackList {
    int count = 0;
    std::vector<std::string> dirs;       // track folder of each track
    std::vector<std::string> long_names; // display name of each track, same index
};

struct TrackState {
    bool loaded = false;   // a track is loaded (dir and long_name are then set)
    std::string dir;       // folder of the loaded track; empty when none
    std::string long_name; // its list name, or the folder name when it is not listed
    Digest hash;           // RIPEMD-160 of the track content
};

// Statue buckets over the middle of the terrain: 8 x 8 cells, rows by z, columns by x,
// spanning E/8 .. 7E/8 (E = terrain extent); everything outside falls into the border cells.
constexpr int kStatueGridCells = 8;
struct StatueGrid {
    std::vector<int> buckets[kStatueGridCells * kStatueGridCells]; // index row * 8 + column
};

// Builds the track list from every name the virtual file system lists: folders holding
// "terrain.hf" or "terrain.hf.gz" (each folder once), named by the first line of their
// "desc" file (up to CR, LF, NUL or the end) or by the folder name, sorted by name
// ignoring letter case. Returns the number of tracks. Replaces any earlier list.
int track_list_build();
// The list built by track_list_build.
const TrackList &track_list();
// Index of dir in the list (exact comparison), or -1.
int track_list_find(const char *dir);

// Loads the track in folder dir: terrain (required; with ground_method for its drawing),
// timing gates, scenery, and the track hash. On failure everything read is released, no
// track is loaded afterwards and false is returned; another load may follow.
bool track_load(const char *dir, int ground_method);
// Releases everything track_load created (no track is loaded afterwards).
void track_free();
// The loaded track (or none).
const TrackState &track_state();
// Whether a session start must load dir: none loaded, another folder, or a forced reload.
bool track_load_needed(const char *dir);
// The "forcereload" request: the next session start loads the track again.
void track_force_reload();

// Writes "@" + folder + ".trackinfo" (dir, longname, firstlap, normallap, gatecount,
// hash) and shows "Track info saved to <folder>.trackinfo". Does nothing without a loaded
// track, and writes and shows nothing when the file cannot be written. Returns success.
bool save_track_info();

// Statue grid of the loaded track.
const StatueGrid &statue_grid();
// Cell of coordinate c: floor(8 * ((c / extent) - 0.125) * 4/3) clamped to 0..7 (NaN -> 0).
int statue_grid_cell(double c, double extent);
// Appends index to every bucket the square of half-size r around (x, z) touches.
void statue_grid_insert(StatueGrid &grid, int index, double x, double z, double r, double extent);
