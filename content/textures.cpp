#include "textures.h"

#include "course.h"
#include "noise.h"
#include "png_writer.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kInner = kTileSize - 2 * kTileBorder; // the period of the pattern

struct Palette {
    double r, g, b;     // base colour
    double coarse;      // relative variation of large blotches
    double fine;        // relative variation of grain
    double speck;       // fraction of pixels that are pebbles or clods
    double speck_shade; // brightness factor of the specks
    std::uint32_t seed;
};

const Palette kPalettes[4] = {
    {128, 92, 62, 0.16, 0.12, 0.06, 0.70, 11},   // dirt: brown with dark clods
    {114, 98, 82, 0.08, 0.07, 0.04, 1.25, 23},   // hard-pack: grey-brown, light pebbles
    {206, 182, 136, 0.06, 0.07, 0.03, 0.85, 37}, // sand: pale fine grain
    {76, 112, 46, 0.14, 0.22, 0.05, 0.65, 53},   // grass: green blades, earth specks
};

std::uint8_t to_byte(double v) {
    return std::uint8_t(std::clamp(std::lround(v), 0L, 255L));
}

} // namespace

std::vector<std::uint8_t> tile_pixels(int surface) {
    const Palette &p = kPalettes[std::clamp(surface, 0, 3)];
    std::vector<std::uint8_t> rgb(std::size_t(kTileSize) * kTileSize * 3);
    for (int y = 0; y < kTileSize; ++y) {
        for (int x = 0; x < kTileSize; ++x) {
            // Border pixels continue the periodic pattern of the inner part.
            int u = ((x - kTileBorder) % kInner + kInner) % kInner;
            int v = ((y - kTileBorder) % kInner + kInner) % kInner;
            double fu = double(u) / kInner, fv = double(v) / kInner;
            double coarse = value_noise_periodic(fu * 4, fv * 4, 4, p.seed);
            double mid = value_noise_periodic(fu * 16, fv * 16, 16, p.seed + 1);
            double grain = noise_unit(u, v, p.seed + 2) * 2 - 1;
            double k = 1 + p.coarse * coarse + 0.5 * p.fine * mid + 0.5 * p.fine * grain;
            if (surface == kSurfaceSand) // wind ripples
                k += 0.04 * std::sin(2 * 3.14159265358979 * (fu * 6 + 0.3 * coarse));
            if (noise_unit(u / 2, v / 2, p.seed + 3) < p.speck) k *= p.speck_shade;
            double r = p.r * k, g = p.g * k, b = p.b * k;
            if (surface == kSurfaceGrass && noise_unit(u, v, p.seed + 4) < 0.08) {
                r = 110 * k; // bare earth between the blades
                g = 88 * k;
                b = 60 * k;
            }
            std::size_t o = (std::size_t(y) * kTileSize + x) * 3;
            rgb[o] = to_byte(r);
            rgb[o + 1] = to_byte(g);
            rgb[o + 2] = to_byte(b);
        }
    }
    return rgb;
}

std::vector<GeneratedFile> tile_textures() {
    const char *names[4] = {"dirt.png", "hardpack.png", "sand.png", "grass.png"};
    std::vector<GeneratedFile> out;
    for (int s = 0; s < 4; ++s) {
        std::vector<std::uint8_t> rgb = tile_pixels(s);
        std::vector<std::uint8_t> png = png_encode(rgb.data(), kTileSize, kTileSize, 3);
        out.push_back({names[s], std::string(png.begin(), png.end())});
    }
    return out;
}

GeneratedFile roost_texture() {
    const int n = 32;
    std::vector<std::uint8_t> rgba(std::size_t(n) * n * 4);
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            double dx = (x + 0.5) / n * 2 - 1, dy = (y + 0.5) / n * 2 - 1;
            double ang = std::atan2(dy, dx);
            double edge =
                0.78 + 0.14 * value_noise_periodic((ang + 3.14159265) / 6.2831853 * 8, 0.5, 8, 71);
            double r = std::sqrt(dx * dx + dy * dy) / edge;
            double a = std::clamp((1.0 - r) * 3.0, 0.0, 1.0);
            double shade = 0.85 + 0.15 * value_noise(x * 0.4, y * 0.4, 72) - 0.15 * dy;
            std::size_t o = (std::size_t(y) * n + x) * 4;
            rgba[o] = to_byte(228 * shade);
            rgba[o + 1] = to_byte(218 * shade);
            rgba[o + 2] = to_byte(204 * shade);
            rgba[o + 3] = to_byte(255 * a);
        }
    }
    std::vector<std::uint8_t> png = png_encode(rgba.data(), n, n, 4);
    return {"roost.png", std::string(png.begin(), png.end())};
}
