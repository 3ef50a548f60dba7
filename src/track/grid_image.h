// Per-sample images of the terrain: the baked shading (PPM, or the program's predictive
// delta format "Z6"/"Z7"), the shadow map (PGM) and 16-bit grey height images (PNG),
// read and written through streams. Pixels are 8 bits per channel, rows top to bottom.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct Stream;

struct GridImageHeader {
    char magic[16] = {}; // "P6", "P3", "P5", "P2", "Z6" or "Z7"
    int width = 0;
    int height = 0;
    int max_value = 255;   // PPM/PGM only
    int file_channels = 0; // bytes (or numbers) per pixel in the file
    bool plain = false;    // decimal samples ("P3", "P2")
    bool delta = false;    // predictive delta ("Z6", "Z7")
};

// Reads the magic token and the header fields (comment lines skipped before each number).
// accept_grey selects the grey maps ("P5"/"P2"); otherwise "P6"/"P3"/"Z6"/"Z7". On failure
// error holds the reason ("Can't parse PPM header", "Can't get PPM dimensions", ...).
bool grid_image_read_header(Stream *s, bool accept_grey, GridImageHeader &header,
                            std::string &error);
// Reads the samples after a header into out as width * height * channels bytes, with
// channels 3 for colour images and 1 for grey maps. Samples are scaled to 0..255 by the
// maximum value. False when the data end early (out is then cleared).
bool grid_image_read_pixels(Stream *s, const GridImageHeader &header, int channels,
                            std::vector<std::uint8_t> &out);

// Reads a PNG as 16-bit grey samples for a side x side grid: sample (i, j) takes the
// pixel at column min(i, width - 1), row min(j, height - 1). Colour images become grey
// with the default weights, alpha is dropped, 8-bit samples widen as v * 257. False for
// anything that is not a readable PNG.
bool grid_png_read_grey16(Stream *s, int side, std::vector<std::uint16_t> &samples);

// Writers (return false when a write failed).
bool grid_write_ppm(Stream *s, const std::uint8_t *rgb, int width, int height);
bool grid_write_pgm(Stream *s, const std::uint8_t *grey, int width, int height);
bool grid_png_write_grey16(Stream *s, const std::uint16_t *samples, int width, int height);
