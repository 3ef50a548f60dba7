// Fuzzes the surface-type readers: the first byte picks "tileinfo" or the older
// "texturelist"; the rest of the input is the file. Every curve must stay finite.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "files/stream.h"
#include "track/surfaces.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1) return 0;
    Stream *s = stream_open_memory(data + 1, size - 1, false);
    if (!s) return 0;
    std::vector<TileType> tiles;
    if (data[0] & 1)
        texturelist_read(s, tiles);
    else
        tileinfo_read(s, tiles);
    stream_free(s);
    if (tiles.size() > std::size_t(kMaxTileTypes)) __builtin_trap();
    std::vector<int> codes = surface_transition_codes(tiles);
    if (codes.size() != tiles.size()) __builtin_trap();
    static const float kSpeeds[] = {-3.0f, 0.0f, 1e-7f, 0.5f, 5.0f, 20.0f, 1e4f, 3e38f};
    for (const TileType &t : tiles) {
        for (float v : kSpeeds) {
            RollResist r = surface_roll_resist(t, v);
            if (!std::isfinite(surface_friction(t, v)) || !std::isfinite(r.a) ||
                !std::isfinite(r.b))
                __builtin_trap();
        }
    }
    return 0;
}
