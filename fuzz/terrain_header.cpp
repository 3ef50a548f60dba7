// Fuzzes the readers of the terrain's own files: the first byte picks the "terrain.hf"
// header, a shading (PPM / delta) image, a shadow (PGM) map or a 16-bit height PNG; the
// rest of the input is the file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "files/stream.h"
#include "track/grid_image.h"
#include "track/terrain_io.h"

// Images larger than this are only parsed up to their header, to keep runs fast.
constexpr long kMaxFuzzPixels = 1 << 16;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1) return 0;
    int mode = data[0] % 4;
    Stream *s = stream_open_memory(data + 1, size - 1, false);
    if (!s) return 0;
    if (mode == 0) {
        TerrainHeader h;
        if (terrain_read_header(s, h)) {
            if (h.size_exp < kTerrainMinSizeExp || h.size_exp > kTerrainMaxSizeExp ||
                !(h.spacing > 0.0f) || !(h.max_height >= h.min_height))
                __builtin_trap();
        }
    } else if (mode == 1 || mode == 2) {
        GridImageHeader h;
        std::string error;
        if (grid_image_read_header(s, mode == 2, h, error) &&
            long(h.width) * long(h.height) <= kMaxFuzzPixels) {
            std::vector<std::uint8_t> pixels;
            int channels = mode == 2 ? 1 : 3;
            if (grid_image_read_pixels(s, h, channels, pixels) &&
                pixels.size() != std::size_t(h.width) * h.height * channels)
                __builtin_trap();
        }
    } else {
        std::vector<std::uint16_t> samples;
        if (grid_png_read_grey16(s, 33, samples) && samples.size() != 33u * 33u) __builtin_trap();
    }
    stream_free(s);
    return 0;
}
