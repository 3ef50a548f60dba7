// Start-up checks of the installed game data: the archive "zzzz.saf" and the seven
// collision shapes whose contents decide whether this is the stock physics.
#pragma once
#include <string>

// The digests the program was built for (from the content generator).
struct DataDigests {
    const char *game_data;     // over at most the first MiB of "zzzz.saf"
    const char *physics_files; // over the seven bike collision shapes, in order
};

// Looks for "zzzz.saf" in each search root in order and digests at most its first
// 1,048,576 bytes, read 256 bytes at a time. Returns the index of the first root whose
// digest equals expected_hex, or -1 when none does.
int data_check(const char *expected_hex);
// Digest over "@generic_frame.shp", "@generic_fork_upper.shp", "@generic_fork_lower.shp",
// "@generic_swingarm.shp", "@front_wheel.shp", "@rear_wheel.shp", "@generic_rider.shp"
// in that order (a missing file adds nothing), as 40 lower-case hex digits.
std::string physics_files_digest();
// The names of the seven physics files, in digest order.
extern const char *const kPhysicsFiles[7];
