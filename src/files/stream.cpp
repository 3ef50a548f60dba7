#include "files/stream.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>
#include <zlib.h>

// Offsets go through fseek/ftell, so long must hold 64-bit offsets.
static_assert(sizeof(long) >= 8, "64-bit file offsets need a 64-bit long");

namespace {

constexpr std::size_t kInputSize = 16384;
constexpr std::size_t kOutputSize = 1024;
constexpr int kDefaultSetWidth = 1000000;

} // namespace

struct StreamInflate {
    z_stream zs{};
    bool started = false;
    unsigned char in[kInputSize];
    unsigned char out[kOutputSize];
    std::size_t out_pos = 0;
    std::size_t out_len = 0;
};

namespace {

// Reads up to n bytes of the underlying data (file or memory) at its current place.
std::size_t raw_read(Stream *s, void *buffer, std::size_t n) {
    if (n == 0) return 0;
    if (s->from_memory) {
        std::size_t left = s->memory.size() - s->memory_pos;
        if (n > left) n = left;
        if (n) std::memcpy(buffer, s->memory.data() + s->memory_pos, n);
        s->memory_pos += n;
        return n;
    }
    if (!s->file) return 0;
    return std::fread(buffer, 1, n, s->file);
}

int raw_getc(Stream *s) {
    if (s->from_memory) {
        if (s->memory_pos >= s->memory.size()) return -1;
        return s->memory[s->memory_pos++];
    }
    if (!s->file) return -1;
    int c = std::fgetc(s->file);
    return c == EOF ? -1 : c;
}

// Reads more compressed input, never past compressed_limit. Returns the bytes read.
std::size_t read_compressed(Stream *s, unsigned char *buffer, std::size_t n) {
    std::int64_t left = s->compressed_limit - s->compressed_used;
    if (left <= 0) return 0;
    if (static_cast<std::int64_t>(n) > left) n = static_cast<std::size_t>(left);
    std::size_t got = raw_read(s, buffer, n);
    s->compressed_used += static_cast<std::int64_t>(got);
    return got;
}

// Parses the gzip member header at the start of the first input block and starts the
// raw inflater on the bytes after it. False on any mismatch.
bool start_inflate(Stream *s) {
    StreamInflate *z = s->inflate;
    std::size_t n = read_compressed(s, z->in, kInputSize);
    std::size_t pos = 10;
    if (n < pos) return false;
    const unsigned char *b = z->in;
    int flags = b[3];
    if (b[0] != 0x1f || b[1] != 0x8b || b[2] != 8 || flags >= 32) return false;
    if (flags & 4) {
        if (pos + 2 > n) return false;
        std::size_t extra = b[pos] | (static_cast<std::size_t>(b[pos + 1]) << 8);
        pos += 2 + extra;
        if (pos > n) return false;
    }
    for (int flag : {8, 16}) {
        if (!(flags & flag)) continue;
        const void *zero = std::memchr(b + pos, 0, n - pos);
        if (!zero) return false;
        pos = static_cast<std::size_t>(static_cast<const unsigned char *>(zero) - b) + 1;
    }
    if (flags & 2) {
        pos += 2;
        if (pos > n) return false;
    }
    z->zs.next_in = z->in + pos;
    z->zs.avail_in = static_cast<uInt>(n - pos);
    if (inflateInit2(&z->zs, -15) != Z_OK) return false;
    z->started = true;
    return true;
}

// Refills the output buffer. Ends the stream at the end of the deflate data, and also
// when the input runs out or the data are corrupt (the good bytes before stay readable).
void fill_output(Stream *s) {
    StreamInflate *z = s->inflate;
    z->out_pos = 0;
    z->out_len = 0;
    if (s->at_end) return;
    z->zs.next_out = z->out;
    z->zs.avail_out = kOutputSize;
    while (z->zs.avail_out > 0 && !s->at_end) {
        if (z->zs.avail_in == 0) {
            std::size_t got = read_compressed(s, z->in, kInputSize);
            if (got == 0) {
                s->at_end = true; // truncated: no more input will come
                break;
            }
            z->zs.next_in = z->in;
            z->zs.avail_in = static_cast<uInt>(got);
        }
        int ret = inflate(&z->zs, Z_NO_FLUSH);
        if (ret == Z_STREAM_END) {
            s->at_end = true;
        } else if (ret == Z_BUF_ERROR) {
            // No progress: with input left this cannot get better.
            if (z->zs.avail_in != 0) s->at_end = true;
        } else if (ret != Z_OK) {
            s->at_end = true; // corrupt data, dictionary request or memory failure
        }
    }
    z->out_len = kOutputSize - z->zs.avail_out;
}

// The next byte from the data (no lookahead handling), or -1.
int next_byte(Stream *s) {
    if (s->compressed) {
        StreamInflate *z = s->inflate;
        if (z->out_pos >= z->out_len) {
            fill_output(s);
            if (z->out_len == 0) return -1;
        }
        ++s->position;
        return z->out[z->out_pos++];
    }
    if (s->position >= s->limit) return -1;
    int c = raw_getc(s);
    if (c >= 0) ++s->position;
    return c;
}

Stream *finish_open(Stream *s, bool compressed) {
    s->compressed = compressed;
    if (compressed) {
        s->compressed_limit = s->limit;
        s->limit = kStreamNoLimit;
        s->inflate = new StreamInflate;
        if (!start_inflate(s)) {
            stream_free(s);
            return nullptr;
        }
    }
    return s;
}

} // namespace

Stream *stream_open_file(std::FILE *file, std::int64_t base, std::int64_t limit, bool compressed) {
    if (!file) return nullptr;
    Stream *s = new Stream;
    s->file = file;
    s->base = base;
    s->limit = limit < 0 ? 0 : limit;
    return finish_open(s, compressed);
}

Stream *stream_open_memory(const void *data, std::size_t size, bool compressed) {
    Stream *s = new Stream;
    s->from_memory = true;
    if (size) {
        const unsigned char *p = static_cast<const unsigned char *>(data);
        s->memory.assign(p, p + size);
    }
    s->limit = static_cast<std::int64_t>(size);
    return finish_open(s, compressed);
}

void stream_free(Stream *s) {
    if (!s) return;
    if (s->inflate) {
        if (s->inflate->started) inflateEnd(&s->inflate->zs);
        delete s->inflate;
    }
    if (s->file) std::fclose(s->file);
    delete s;
}

int stream_getc(Stream *s) {
    if (s->lookahead >= 0) {
        int c = s->lookahead;
        s->lookahead = -1;
        return c;
    }
    return next_byte(s);
}

int stream_peek(Stream *s) {
    if (s->lookahead < 0) s->lookahead = next_byte(s);
    return s->lookahead;
}

char *stream_gets(Stream *s, char *buffer, int size) {
    if (!buffer || size < 2) return nullptr;
    int n = 0;
    while (n < size - 1) {
        int c = stream_getc(s);
        if (c < 0) break;
        buffer[n++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    buffer[n] = 0;
    return n ? buffer : nullptr;
}

std::size_t stream_read(Stream *s, void *buffer, std::size_t count) {
    unsigned char *out = static_cast<unsigned char *>(buffer);
    std::size_t done = 0;
    if (count && s->lookahead >= 0) {
        out[done++] = static_cast<unsigned char>(s->lookahead);
        s->lookahead = -1;
    }
    if (s->compressed) {
        StreamInflate *z = s->inflate;
        while (done < count) {
            if (z->out_pos >= z->out_len) {
                fill_output(s);
                if (z->out_len == 0) break;
            }
            std::size_t n = std::min(count - done, z->out_len - z->out_pos);
            std::memcpy(out + done, z->out + z->out_pos, n);
            z->out_pos += n;
            done += n;
            s->position += static_cast<std::int64_t>(n);
        }
        return done;
    }
    std::int64_t left = s->limit - s->position;
    std::size_t want = count - done;
    if (left <= 0) return done;
    if (static_cast<std::int64_t>(want) > left) want = static_cast<std::size_t>(left);
    std::size_t got = raw_read(s, out + done, want);
    s->position += static_cast<std::int64_t>(got);
    return done + got;
}

bool stream_seek(Stream *s, std::int64_t offset) {
    if (s->compressed || offset < 0 || offset >= s->limit) return false;
    s->lookahead = -1;
    if (s->from_memory) {
        s->memory_pos = static_cast<std::size_t>(offset);
    } else {
        if (!s->file || std::fseek(s->file, static_cast<long>(s->base + offset), SEEK_SET) != 0)
            return false;
    }
    s->position = offset;
    return true;
}

std::int64_t stream_tell(Stream *s) {
    return s->position - (s->lookahead >= 0 ? 1 : 0);
}

std::int64_t stream_remaining(Stream *s) {
    if (s->compressed) return -1;
    std::int64_t pending = s->lookahead >= 0 ? 1 : 0;
    std::int64_t left = s->limit - s->position;
    std::int64_t in_data = 0;
    if (s->from_memory) {
        in_data = static_cast<std::int64_t>(s->memory.size() - s->memory_pos);
    } else if (s->file) {
        long here = std::ftell(s->file);
        if (here < 0 || std::fseek(s->file, 0, SEEK_END) != 0) return pending;
        long end = std::ftell(s->file);
        std::fseek(s->file, here, SEEK_SET);
        in_data = end > here ? end - here : 0;
    }
    return pending + std::max<std::int64_t>(0, std::min(left, in_data));
}

// ---- The scanner ----

namespace {

struct Scan {
    Stream *s;
    int consumed = 0; // characters taken since the scan began (for %n)

    int peek() { return stream_peek(s); }
    int take() {
        int c = stream_getc(s);
        if (c >= 0) ++consumed;
        return c;
    }
    void skip_space() {
        for (int c = peek(); c >= 0 && std::isspace(c); c = peek()) take();
    }
};

int digit_value(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

enum class Read { ok, end, bad };

// Integer conversion. width 0 means unlimited. base 0 picks the base from a prefix.
Read scan_int(Scan &sc, int base, int width, std::uint32_t &value) {
    sc.skip_space();
    if (sc.peek() < 0) return Read::end;
    int used = 0;
    auto room = [&] { return width == 0 || used < width; };
    bool negative = false;
    int c = sc.peek();
    if (c == '+' || c == '-') {
        negative = c == '-';
        sc.take();
        ++used;
    }
    bool have_digit = false;
    if (base == 0) {
        base = 10;
        if (room() && sc.peek() == '0') {
            sc.take();
            ++used;
            have_digit = true; // a lone "0" prefix is the number 0
            base = 8;
            c = sc.peek();
            if (room() && (c == 'x' || c == 'X')) {
                sc.take();
                ++used;
                base = 16;
            }
        }
    }
    std::uint32_t v = 0;
    while (room()) {
        c = sc.peek();
        int d = c < 0 ? 99 : digit_value(c);
        if (d >= base) break;
        sc.take();
        ++used;
        v = v * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(d);
        have_digit = true;
    }
    if (!have_digit) return Read::bad;
    value = negative ? 0u - v : v;
    return Read::ok;
}

// Powers of ten up to 10^27 are exact in extended precision; a table avoids pow.
constexpr int kExactPowers = 28;
long double power_of_ten(int n) {
    static const auto table = [] {
        std::array<long double, kExactPowers> t{};
        t[0] = 1.0L;
        for (int i = 1; i < kExactPowers; ++i) t[i] = t[i - 1] * 10.0L;
        return t;
    }();
    return table[n];
}

// Real conversion: sign, digits with at most one ".", optional exponent.
Read scan_real(Scan &sc, int width, long double &value) {
    sc.skip_space();
    if (sc.peek() < 0) return Read::end;
    int used = 0;
    auto room = [&] { return width == 0 || used < width; };
    bool negative = false;
    int c = sc.peek();
    if (c == '+' || c == '-') {
        negative = c == '-';
        sc.take();
        ++used;
    }
    long double mantissa = 0.0L;
    int significant = 0;
    long exponent = 0; // power of ten applied to the mantissa
    bool have_mantissa = false, seen_point = false;
    while (room()) {
        c = sc.peek();
        if (c >= '0' && c <= '9') {
            sc.take();
            ++used;
            have_mantissa = true;
            // Beyond 40 significant digits the value cannot change in extended precision;
            // keep only their magnitude so huge digit strings cannot overflow.
            if (significant < 40) {
                mantissa = mantissa * 10.0L + static_cast<long double>(c - '0');
                if (mantissa != 0.0L) ++significant;
                if (seen_point) --exponent;
            } else if (!seen_point) {
                ++exponent;
            }
        } else if (c == '.' && !seen_point) {
            sc.take();
            ++used;
            seen_point = true;
            have_mantissa = true;
        } else {
            break;
        }
    }
    if (!have_mantissa) return Read::bad;
    c = sc.peek();
    if (room() && (c == 'e' || c == 'E')) {
        sc.take();
        ++used;
        bool exp_negative = false;
        c = sc.peek();
        if (room() && (c == '+' || c == '-')) {
            exp_negative = c == '-';
            sc.take();
            ++used;
        }
        long e = 0;
        while (room()) {
            c = sc.peek();
            if (c < '0' || c > '9') break;
            sc.take();
            ++used;
            if (e < 100000) e = e * 10 + (c - '0');
        }
        exponent += exp_negative ? -e : e;
    }
    long double v = 0.0L;
    if (mantissa != 0.0L) {
        if (exponent < -100000) exponent = -100000;
        if (exponent > 100000) exponent = 100000;
        long magnitude = exponent < 0 ? -exponent : exponent;
        long double scale = magnitude < kExactPowers
                                ? power_of_ten(static_cast<int>(magnitude))
                                : std::pow(10.0L, static_cast<long double>(magnitude));
        v = exponent < 0 ? mantissa / scale : mantissa * scale;
    }
    value = negative ? -v : v;
    return Read::ok;
}

} // namespace

int stream_vscan(Stream *s, const char *format, std::va_list args) {
    Scan sc{s};
    int count = 0;
    auto ended = [&] { return count ? count : -1; }; // input ended before a conversion read
    const unsigned char *f = reinterpret_cast<const unsigned char *>(format);
    while (*f) {
        int fc = *f;
        if (std::isspace(fc)) {
            sc.skip_space();
            ++f;
            continue;
        }
        if (fc != '%') {
            int c = sc.peek();
            if (c < 0 || c != fc) return -1;
            sc.take();
            ++f;
            continue;
        }
        ++f;
        int width = 0, longs = 0;
        bool suppress = false, half = false;
        for (;; ++f) {
            if (*f >= '0' && *f <= '9') {
                if (width < 100000000) width = width * 10 + (*f - '0');
            } else if (*f == '*') {
                suppress = true;
            } else if (*f == 'h') {
                half = true;
            } else if (*f == 'l') {
                ++longs;
            } else if (*f == 'L' || *f == 'q') {
                longs = 2;
            } else {
                break;
            }
        }
        int conv = *f;
        if (conv == 0) return count;
        ++f;
        switch (conv) {
        case '%': {
            int c = sc.peek();
            if (c != '%') return -1;
            sc.take();
            break;
        }
        case 'd':
        case 'i':
        case 'o':
        case 'x':
        case 'X': {
            int base = conv == 'd' ? 10 : conv == 'i' ? 0 : conv == 'o' ? 8 : 16;
            std::uint32_t v = 0;
            Read r = scan_int(sc, base, width, v);
            if (r == Read::end) return ended();
            if (r == Read::bad) return count;
            if (!suppress) {
                if (half)
                    *va_arg(args, short *) = static_cast<short>(static_cast<std::uint16_t>(v));
                else
                    *va_arg(args, int *) = static_cast<int>(v);
                ++count;
            }
            break;
        }
        case 'f': {
            long double v = 0.0L;
            Read r = scan_real(sc, width, v);
            if (r == Read::end) return ended();
            if (r == Read::bad) return count;
            if (!suppress) {
                if (longs >= 2)
                    *va_arg(args, long double *) = v;
                else if (longs == 1)
                    *va_arg(args, double *) = static_cast<double>(v);
                else
                    *va_arg(args, float *) = static_cast<float>(v);
                ++count;
            }
            break;
        }
        case 's': {
            sc.skip_space();
            if (sc.peek() < 0) return ended();
            char *out = suppress ? nullptr : va_arg(args, char *);
            int n = 0;
            for (int c = sc.peek(); c >= 0 && !std::isspace(c) && (width == 0 || n < width);
                 c = sc.peek()) {
                sc.take();
                if (out) out[n] = static_cast<char>(c);
                ++n;
            }
            if (out) {
                out[n] = 0;
                ++count;
            }
            break;
        }
        case 'c': {
            int want = width ? width : 1;
            if (sc.peek() < 0) return ended();
            char *out = suppress ? nullptr : va_arg(args, char *);
            for (int n = 0; n < want; ++n) {
                int c = sc.take();
                if (c < 0) break;
                if (out) out[n] = static_cast<char>(c);
            }
            if (out) ++count;
            break;
        }
        case '[': {
            bool member[256] = {};
            bool negate = false;
            if (*f == '^') {
                negate = true;
                ++f;
            }
            bool first = true;
            while (*f && (first || *f != ']')) {
                int lo = *f++;
                first = false;
                if (*f == '-' && f[1] && f[1] != ']') {
                    int hi = f[1];
                    f += 2;
                    for (int c = lo; c <= hi; ++c) member[c] = true;
                } else {
                    member[lo] = true;
                }
            }
            if (*f == ']') ++f;
            int max = width ? width : kDefaultSetWidth;
            if (sc.peek() < 0) return ended();
            char *out = suppress ? nullptr : va_arg(args, char *);
            int n = 0;
            for (int c = sc.peek(); c >= 0 && member[c] != negate && n < max; c = sc.peek()) {
                sc.take();
                if (out) out[n] = static_cast<char>(c);
                ++n;
            }
            if (n == 0) return count;
            if (out) {
                out[n] = 0;
                ++count;
            }
            break;
        }
        case 'n':
            if (!suppress) {
                if (half)
                    *va_arg(args, short *) = static_cast<short>(sc.consumed);
                else
                    *va_arg(args, int *) = sc.consumed;
            }
            break;
        default:
            return count;
        }
    }
    return count;
}

int stream_scan(Stream *s, const char *format, ...) {
    std::va_list args;
    va_start(args, format);
    int n = stream_vscan(s, format, args);
    va_end(args);
    return n;
}

int stream_read_int(Stream *s) {
    int v = 0;
    return stream_scan(s, "%d", &v) == 1 ? v : INT_MIN;
}

void skip_comments(Stream *s) {
    for (;;) {
        int n = 0;
        stream_scan(s, " #%*[^\n]%n", &n);
        if (n <= 0) break;
    }
}

// ---- Writing ----

int stream_putc(Stream *s, int c) {
    return s->file ? std::fputc(c, s->file) : EOF;
}

int stream_puts(Stream *s, const char *text) {
    return s->file ? std::fputs(text, s->file) : EOF;
}

std::size_t stream_write(Stream *s, const void *data, std::size_t count) {
    return s->file ? std::fwrite(data, 1, count, s->file) : 0;
}

int stream_printf(Stream *s, const char *format, ...) {
    if (!s->file) return -1;
    std::va_list args;
    va_start(args, format);
    int n = std::vfprintf(s->file, format, args);
    va_end(args);
    return n;
}

int stream_flush(Stream *s) {
    return s->file ? std::fflush(s->file) : EOF;
}
