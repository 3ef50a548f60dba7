// The places where higher layers (textures, terrain drawing, scenery, the editor, the
// robot line library) join track loading. Each entry is optional: a null entry means
// that subsystem is not part of the running program, and loading goes on without it
// (no textures, no scenery, no drawing state). The owners install their entries once at
// start-up with track_hooks_install; nothing in track/ depends on them being present.
#pragma once

struct Terrain;

// What the scenery layer reports about a statue for the statue grid and the track hash.
struct StatueCollision {
    const char *shape_file; // virtual name of its collision-shape file
    float x, z;             // position
    float radius;           // bounding radius of the collision shape
};

struct TrackHooks {
    // ---- Textures ----
    // Loads a texture by virtual name; returns its handle, or 0 when it cannot be loaded.
    int (*texture_load)(const char *name) = nullptr;
    // The texture memory counter in bytes (for the debug log lines of track loading).
    unsigned long (*texture_memory)() = nullptr;

    // ---- Terrain drawing ----
    // Creates the drawing state of a freshly loaded terrain (page textures, decal
    // textures, low-detail textures) for the given ground-texture method.
    void (*terrain_render_setup)(Terrain &terrain, int ground_method) = nullptr;
    // Releases that drawing state.
    void (*terrain_render_free)(Terrain &terrain) = nullptr;
    // Samples [i0, i1] x [j0, j1] (inclusive) changed height: recompute their shading and
    // mark the ground pages over them for redrawing.
    void (*terrain_changed)(Terrain &terrain, int i0, int j0, int i1, int j1) = nullptr;

    // ---- Track loading ----
    // Draws a full-screen message such as "Loading track..." and presents the frame.
    void (*loading_screen)(const char *text) = nullptr;
    // Empties the statue, billboard and flagger containers.
    void (*scenery_reset)() = nullptr;
    // Readers of the track's scenery files (each given the full virtual path; a missing
    // file means none of that kind).
    void (*lighting_load)(const char *path) = nullptr;
    void (*flaggers_load)(const char *path) = nullptr;
    void (*billboards_load)(const char *path) = nullptr;
    void (*statues_load)(const char *path) = nullptr;
    void (*map_load)(const char *path) = nullptr;
    void (*cameras_load)(const char *path) = nullptr;
    // Creates the pool of roost-particle billboards.
    void (*roost_pool_create)() = nullptr;
    // Remembers how many statues and billboards exist before "billboards" is read.
    void (*scenery_mark_fixed)() = nullptr;
    // Adds a statue (x, y offset, z, angle parameter, model, texture, shape; null names
    // for none) and returns its index, or -1. Used for the starting-gate statues.
    int (*statue_add)(float x, float y, float z, float angle, const char *model,
                      const char *texture, const char *shape) = nullptr;
    // Number of statues, and the collision data of statue i (false: it has no shape).
    int (*statue_count)() = nullptr;
    bool (*statue_collision)(int index, StatueCollision &out) = nullptr;
    // Frees every statue, billboard and flagger.
    void (*scenery_free)() = nullptr;

    // ---- Editor and robots ----
    void (*editor_track_setup)() = nullptr;   // only called when the editor is active
    void (*editor_track_release)() = nullptr; // likewise
    bool (*editor_active)() = nullptr;
    // Sizes the robot line storage for a course of that many sections (all slots empty).
    void (*line_slots_create)(int sections) = nullptr;
    // Frees the robot line slots.
    void (*line_slots_free)() = nullptr;
};

// The installed hooks (all null until something is installed).
const TrackHooks &track_hooks();
// Replaces the installed hooks with a copy of hooks.
void track_hooks_install(const TrackHooks &hooks);
