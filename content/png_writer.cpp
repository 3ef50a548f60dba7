#include "png_writer.h"

#include <png.h>

namespace {

void append_bytes(png_structp png, png_bytep data, png_size_t length) {
    auto *out = static_cast<std::vector<std::uint8_t> *>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void no_flush(png_structp) {}

} // namespace

std::vector<std::uint8_t> png_encode(const std::uint8_t *pixels, int width, int height,
                                     int channels) {
    std::vector<std::uint8_t> out;
    if (width <= 0 || height <= 0 || (channels != 3 && channels != 4)) return out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return out;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return out;
    }
    std::vector<png_const_bytep> rows(height);
    for (int y = 0; y < height; ++y) rows[y] = pixels + std::size_t(y) * width * channels;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        out.clear();
        return out;
    }
    png_set_write_fn(png, &out, append_bytes, no_flush);
    png_set_compression_level(png, 9);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_PAETH);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8,
                 channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    png_write_rows(png, const_cast<png_bytepp>(rows.data()), png_uint_32(height));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}
