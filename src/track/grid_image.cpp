#include "track/grid_image.h"

#include "files/stream.h"

#include <png.h>

#include <csetjmp>
#include <cstring>

namespace {

// Bounds on image sizes read from files: far above any terrain (4097 samples a side).
constexpr int kMaxImageSide = 1 << 16;
constexpr int kMaxPngSide = 1 << 14;
// An interlaced PNG is decoded whole; this bounds its buffer.
constexpr std::size_t kMaxInterlacedBytes = std::size_t(64) << 20;

bool read_header_number(Stream *s, int &value) {
    skip_comments(s);
    int v = 0;
    if (stream_scan(s, "%d", &v) != 1) return false;
    value = v;
    return true;
}

int scale_sample(int v, int max_value) {
    if (max_value != 255) v = int((long long)v * 255 / max_value);
    if (v < 0) v = 0;
    if (v > 255) v = 255;
    return v;
}

void png_read_from_stream(png_structp png, png_bytep data, png_size_t length) {
    Stream *s = static_cast<Stream *>(png_get_io_ptr(png));
    if (stream_read(s, data, length) != length) png_error(png, "short read");
}

void png_write_to_stream(png_structp png, png_bytep data, png_size_t length) {
    Stream *s = static_cast<Stream *>(png_get_io_ptr(png));
    if (stream_write(s, data, length) != length) png_error(png, "short write");
}

void png_flush_stream(png_structp png) {
    stream_flush(static_cast<Stream *>(png_get_io_ptr(png)));
}

void png_quiet_warning(png_structp, png_const_charp) {}

void png_error_jump(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

// The decoding part of grid_png_read_grey16; the vectors live in the caller's frame so
// that nothing with a destructor is skipped by libpng's error jump.
bool decode_grey16(png_structp png, png_infop info, int side, std::vector<std::uint16_t> &samples,
                   std::vector<png_byte> &row, std::vector<png_byte> &image,
                   std::vector<png_bytep> &rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_user_limits(png, kMaxPngSide, kMaxPngSide);
    png_read_info(png, info);
    int colour = png_get_color_type(png, info);
    int depth = png_get_bit_depth(png, info);
    if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (colour & PNG_COLOR_MASK_ALPHA) png_set_strip_alpha(png);
    if (colour == PNG_COLOR_TYPE_PALETTE || (colour & PNG_COLOR_MASK_COLOR))
        png_set_rgb_to_gray(png, PNG_ERROR_ACTION_NONE, -1.0, -1.0);
    int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    png_uint_32 width = png_get_image_width(png, info);
    png_uint_32 height = png_get_image_height(png, info);
    int out_depth = png_get_bit_depth(png, info);
    int channels = png_get_channels(png, info);
    if (width == 0 || height == 0 || channels != 1 || (out_depth != 8 && out_depth != 16))
        return false;
    std::size_t row_bytes = png_get_rowbytes(png, info);
    int bytes_per_sample = out_depth / 8;

    samples.assign(std::size_t(side) * std::size_t(side), 0);
    auto store_row = [&](const png_byte *data, png_uint_32 r) {
        // Rows at and beyond the grid's last use the last image row (handled below).
        if (r >= png_uint_32(side)) return;
        for (int i = 0; i < side; i++) {
            png_uint_32 c = png_uint_32(i) < width ? png_uint_32(i) : width - 1;
            std::uint16_t v = bytes_per_sample == 2
                                  ? std::uint16_t(data[2 * c] << 8 | data[2 * c + 1])
                                  : std::uint16_t(data[c] * 257);
            samples[std::size_t(r) * side + i] = v;
        }
    };
    if (passes > 1) {
        if (row_bytes * height > kMaxInterlacedBytes) return false;
        image.resize(row_bytes * height);
        rows.resize(height);
        for (png_uint_32 r = 0; r < height; r++) rows[r] = image.data() + r * row_bytes;
        png_read_image(png, rows.data());
        for (png_uint_32 r = 0; r < height; r++) store_row(rows[r], r);
    } else {
        row.resize(row_bytes);
        for (png_uint_32 r = 0; r < height; r++) {
            png_read_row(png, row.data(), nullptr);
            store_row(row.data(), r);
        }
    }
    for (png_uint_32 r = height; r < png_uint_32(side); r++) {
        std::memcpy(&samples[std::size_t(r) * side], &samples[std::size_t(height - 1) * side],
                    sizeof(std::uint16_t) * std::size_t(side));
    }
    return true;
}

bool encode_grey16(png_structp png, png_infop info, const std::uint16_t *samples, int width,
                   int height, std::vector<png_byte> &row) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 16, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    row.resize(std::size_t(width) * 2);
    for (int r = 0; r < height; r++) {
        const std::uint16_t *src = samples + std::size_t(r) * width;
        for (int c = 0; c < width; c++) {
            row[2 * c] = png_byte(src[c] >> 8);
            row[2 * c + 1] = png_byte(src[c] & 255);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    return true;
}

} // namespace

bool grid_image_read_header(Stream *s, bool accept_grey, GridImageHeader &header,
                            std::string &error) {
    header = GridImageHeader();
    const char *kind = accept_grey ? "PGM" : "PPM";
    if (stream_scan(s, "%15s", header.magic) != 1) {
        error = std::string("Can't parse ") + kind + " header";
        return false;
    }
    const std::string magic = header.magic;
    if (accept_grey && (magic == "P5" || magic == "P2")) {
        header.file_channels = 1;
        header.plain = magic == "P2";
    } else if (!accept_grey && (magic == "P6" || magic == "P3")) {
        header.file_channels = 3;
        header.plain = magic == "P3";
    } else if (!accept_grey && (magic == "Z6" || magic == "Z7")) {
        header.file_channels = magic == "Z6" ? 3 : 4;
        header.delta = true;
    } else {
        error = std::string("Can't parse ") + kind + " header";
        return false;
    }
    bool ok = read_header_number(s, header.width) && read_header_number(s, header.height);
    if (ok && !header.delta) ok = read_header_number(s, header.max_value);
    if (!ok || header.width <= 0 || header.height <= 0 || header.width > kMaxImageSide ||
        header.height > kMaxImageSide || (!header.delta && header.max_value <= 0)) {
        error = std::string("Can't get ") + kind + " dimensions";
        return false;
    }
    // Raw samples and delta data start after exactly one separator byte.
    if (!header.plain && stream_getc(s) < 0) {
        error = std::string("Can't get ") + kind + " dimensions";
        return false;
    }
    return true;
}

bool grid_image_read_pixels(Stream *s, const GridImageHeader &header, int channels,
                            std::vector<std::uint8_t> &out) {
    std::size_t pixels = std::size_t(header.width) * std::size_t(header.height);
    int fc = header.file_channels;
    std::int64_t remaining = stream_remaining(s);
    if (!header.plain && remaining >= 0 && std::uint64_t(remaining) < pixels * std::size_t(fc)) {
        out.clear();
        return false;
    }
    out.assign(pixels * std::size_t(channels), 0);
    if (header.plain) {
        for (std::size_t p = 0; p < pixels; p++) {
            for (int c = 0; c < fc; c++) {
                skip_comments(s);
                int v = -1;
                if (stream_scan(s, "%d", &v) != 1) v = -1;
                if (c < channels)
                    out[p * channels + c] = std::uint8_t(scale_sample(v, header.max_value));
            }
        }
        return true;
    }
    if (!header.delta && fc == channels && header.max_value == 255) {
        // The samples are the pixels.
        if (stream_read(s, out.data(), out.size()) != out.size()) {
            out.clear();
            return false;
        }
        return true;
    }
    std::vector<std::uint8_t> row(std::size_t(header.width) * std::size_t(fc));
    for (int y = 0; y < header.height; y++) {
        if (stream_read(s, row.data(), row.size()) != row.size()) {
            out.clear();
            return false;
        }
        std::uint8_t *dst = &out[std::size_t(y) * header.width * channels];
        for (int x = 0; x < header.width; x++) {
            for (int c = 0; c < channels; c++) {
                int file_byte = c < fc ? row[std::size_t(x) * fc + c] : 0;
                std::uint8_t *px = dst + std::size_t(x) * channels + c;
                if (!header.delta) {
                    *px = std::uint8_t(c < fc ? scale_sample(file_byte, header.max_value) : 0);
                    continue;
                }
                int prediction;
                if (x == 0 && y == 0) {
                    prediction = 0;
                } else if (x == 0) {
                    prediction = *(px - std::size_t(header.width) * channels);
                } else if (y == 0) {
                    prediction = *(px - channels);
                } else {
                    int left = *(px - channels);
                    int above = *(px - std::size_t(header.width) * channels);
                    int above_left = *(px - std::size_t(header.width) * channels - channels);
                    prediction = left + above - above_left;
                    if (prediction < 0) prediction = 0;
                    if (prediction > 255) prediction = 255;
                }
                *px = std::uint8_t((prediction + file_byte) & 255);
            }
        }
    }
    return true;
}

bool grid_png_read_grey16(Stream *s, int side, std::vector<std::uint16_t> &samples) {
    samples.clear();
    if (side <= 0) return false;
    png_byte signature[8];
    if (stream_read(s, signature, 8) != 8 || png_sig_cmp(signature, 0, 8) != 0) return false;
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_jump, png_quiet_warning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    png_set_read_fn(png, s, png_read_from_stream);
    png_set_sig_bytes(png, 8);
    std::vector<png_byte> row, image;
    std::vector<png_bytep> rows;
    bool ok = decode_grey16(png, info, side, samples, row, image, rows);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok) samples.clear();
    return ok;
}

bool grid_write_ppm(Stream *s, const std::uint8_t *rgb, int width, int height) {
    if (stream_printf(s, "P6\n%d %d\n255\n", width, height) < 0) return false;
    std::size_t bytes = std::size_t(width) * std::size_t(height) * 3;
    return stream_write(s, rgb, bytes) == bytes;
}

bool grid_write_pgm(Stream *s, const std::uint8_t *grey, int width, int height) {
    if (stream_printf(s, "P5\n%d %d\n255\n", width, height) < 0) return false;
    std::size_t bytes = std::size_t(width) * std::size_t(height);
    return stream_write(s, grey, bytes) == bytes;
}

bool grid_png_write_grey16(Stream *s, const std::uint16_t *samples, int width, int height) {
    if (width <= 0 || height <= 0) return false;
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_jump, png_quiet_warning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    png_set_write_fn(png, s, png_write_to_stream, png_flush_stream);
    std::vector<png_byte> row;
    bool ok = encode_grey16(png, info, samples, width, height, row);
    png_destroy_write_struct(&png, &info);
    return ok;
}
