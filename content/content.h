// The content generator: everything the program installs beside its executable, made
// from code. Deterministic: the same bytes on every run.
//
// Output (under an installation folder):
//   "zzzz.saf"   the archive of global data: the seven bike collision shapes, the start
//                gate's shape, the ground tile textures and the roost particle texture;
//   "<track>/"   one folder per track (track_designs()).
#pragma once
#include <string>
#include <vector>

#include "shapes.h"
#include "tracks.h"

struct ContentDigests {
    std::string game_data; // RIPEMD-160 of at most the first MiB of "zzzz.saf", hex
    std::string physics;   // RIPEMD-160 over the seven bike shapes in order, hex
};

// The members of "zzzz.saf", in archive order (the bike shapes first).
std::vector<GeneratedFile> global_files();
// The archive bytes of global_files().
std::string global_archive();
// The two digests the program checks at start-up, for an archive and its members.
ContentDigests content_digests(const std::string &archive,
                               const std::vector<GeneratedFile> &members);

// Writes all installation data under root (a folder path ending in "/"). When tracks is
// given, the built tracks are handed back for inspection. False with error on failure.
bool content_generate(const std::string &root, ContentDigests &digests, std::string &error,
                      std::vector<BuiltTrack> *tracks = nullptr);

// The generated header that compiles the digests into the program.
std::string digests_header(const ContentDigests &digests);

// A top-down picture of a built track for the developer: shaded relief, the course's
// riding surface and its gates. RGB PNG bytes, one pixel per height sample (scaled down
// by `reduce`).
std::string track_preview_png(const BuiltTrack &track, int reduce);
