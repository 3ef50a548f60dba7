#include "track/ripemd160.h"

#include <cstring>

namespace {

inline std::uint32_t rol(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

template <int Round> inline std::uint32_t f(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    if constexpr (Round == 0)
        return x ^ y ^ z;
    else if constexpr (Round == 1)
        return (x & y) | (~x & z);
    else if constexpr (Round == 2)
        return (x | ~y) ^ z;
    else if constexpr (Round == 3)
        return (x & z) | (y & ~z);
    else
        return x ^ (y | ~z);
}

// Message word order and rotation amounts of the left and right lines.
constexpr std::uint8_t kRl[80] = {0, 1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15,
                                  7, 4,  13, 1,  10, 6,  15, 3,  12, 0, 9,  5,  2,  14, 11, 8,
                                  3, 10, 14, 4,  9,  15, 8,  1,  2,  7, 0,  6,  13, 11, 5,  12,
                                  1, 9,  11, 10, 0,  8,  12, 4,  13, 3, 7,  15, 14, 5,  6,  2,
                                  4, 0,  5,  9,  7,  12, 2,  10, 14, 1, 3,  8,  11, 6,  15, 13};
constexpr std::uint8_t kRr[80] = {5,  14, 7,  0, 9, 2,  11, 4,  13, 6,  15, 8,  1,  10, 3,  12,
                                  6,  11, 3,  7, 0, 13, 5,  10, 14, 15, 8,  12, 4,  9,  1,  2,
                                  15, 5,  1,  3, 7, 14, 6,  9,  11, 8,  12, 2,  10, 0,  4,  13,
                                  8,  6,  4,  1, 3, 11, 15, 0,  5,  12, 2,  13, 9,  7,  10, 14,
                                  12, 15, 10, 4, 1, 5,  8,  7,  6,  2,  13, 14, 0,  3,  9,  11};
constexpr std::uint8_t kSl[80] = {11, 14, 15, 12, 5,  8,  7,  9,  11, 13, 14, 15, 6,  7,  9,  8,
                                  7,  6,  8,  13, 11, 9,  7,  15, 7,  12, 15, 9,  11, 7,  13, 12,
                                  11, 13, 6,  7,  14, 9,  13, 15, 14, 8,  13, 6,  5,  12, 7,  5,
                                  11, 12, 14, 15, 14, 15, 9,  8,  9,  14, 5,  6,  8,  6,  5,  12,
                                  9,  15, 5,  11, 6,  8,  13, 12, 5,  12, 13, 14, 11, 8,  5,  6};
constexpr std::uint8_t kSr[80] = {8,  9,  9,  11, 13, 15, 15, 5,  7,  7,  8,  11, 14, 14, 12, 6,
                                  9,  13, 15, 7,  12, 8,  9,  11, 7,  7,  12, 7,  6,  15, 13, 11,
                                  9,  7,  15, 11, 8,  6,  6,  14, 12, 13, 5,  14, 13, 13, 7,  5,
                                  15, 5,  8,  11, 14, 14, 6,  14, 6,  9,  12, 9,  12, 5,  15, 8,
                                  8,  5,  12, 9,  12, 5,  14, 6,  8,  13, 6,  5,  15, 13, 11, 11};
constexpr std::uint32_t kKl[5] = {0x00000000u, 0x5a827999u, 0x6ed9eba1u, 0x8f1bbcdcu, 0xa953fd4eu};
constexpr std::uint32_t kKr[5] = {0x50a28be6u, 0x5c4dd124u, 0x6d703ef3u, 0x7a6d76e9u, 0x00000000u};

struct Line {
    std::uint32_t a, b, c, d, e;
};

// Sixteen steps of one round of both lines (the round's function chosen at compile time).
template <int Round> inline void round16(Line &l, Line &r, const std::uint32_t x[16]) {
#pragma GCC unroll 16
    for (int k = 0; k < 16; k++) {
        const int j = Round * 16 + k;
        std::uint32_t t = rol(l.a + f<Round>(l.b, l.c, l.d) + x[kRl[j]] + kKl[Round], kSl[j]) + l.e;
        l.a = l.e;
        l.e = l.d;
        l.d = rol(l.c, 10);
        l.c = l.b;
        l.b = t;
        t = rol(r.a + f<4 - Round>(r.b, r.c, r.d) + x[kRr[j]] + kKr[Round], kSr[j]) + r.e;
        r.a = r.e;
        r.e = r.d;
        r.d = rol(r.c, 10);
        r.c = r.b;
        r.b = t;
    }
}

void compress(std::uint32_t h[5], const std::uint8_t block[64]) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; i++) {
        x[i] = std::uint32_t(block[4 * i]) | std::uint32_t(block[4 * i + 1]) << 8 |
               std::uint32_t(block[4 * i + 2]) << 16 | std::uint32_t(block[4 * i + 3]) << 24;
    }
    Line l = {h[0], h[1], h[2], h[3], h[4]};
    Line r = l;
    round16<0>(l, r, x);
    round16<1>(l, r, x);
    round16<2>(l, r, x);
    round16<3>(l, r, x);
    round16<4>(l, r, x);
    std::uint32_t t = h[1] + l.c + r.d;
    h[1] = h[2] + l.d + r.e;
    h[2] = h[3] + l.e + r.a;
    h[3] = h[4] + l.a + r.b;
    h[4] = h[0] + l.b + r.c;
    h[0] = t;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

void ripemd160_init(Ripemd160 &ctx) {
    ctx.h[0] = 0x67452301u;
    ctx.h[1] = 0xefcdab89u;
    ctx.h[2] = 0x98badcfeu;
    ctx.h[3] = 0x10325476u;
    ctx.h[4] = 0xc3d2e1f0u;
    ctx.length = 0;
    ctx.block_used = 0;
}

void ripemd160_update(Ripemd160 &ctx, const void *data, std::size_t length) {
    const std::uint8_t *p = static_cast<const std::uint8_t *>(data);
    ctx.length += length;
    if (ctx.block_used > 0) {
        std::size_t take = 64 - ctx.block_used;
        if (take > length) take = length;
        std::memcpy(ctx.block + ctx.block_used, p, take);
        ctx.block_used += take;
        p += take;
        length -= take;
        if (ctx.block_used < 64) return;
        compress(ctx.h, ctx.block);
        ctx.block_used = 0;
    }
    while (length >= 64) {
        compress(ctx.h, p);
        p += 64;
        length -= 64;
    }
    if (length > 0) {
        std::memcpy(ctx.block, p, length);
        ctx.block_used = length;
    }
}

Digest ripemd160_final(Ripemd160 &ctx) {
    std::uint64_t bits = ctx.length * 8;
    std::uint8_t pad[72] = {0x80};
    std::size_t pad_len = (ctx.block_used < 56 ? 56 : 120) - ctx.block_used;
    std::uint8_t len_bytes[8];
    for (int i = 0; i < 8; i++) len_bytes[i] = std::uint8_t(bits >> (8 * i));
    ripemd160_update(ctx, pad, pad_len);
    ripemd160_update(ctx, len_bytes, 8);
    Digest d;
    for (int i = 0; i < 5; i++) {
        for (int b = 0; b < 4; b++) d.bytes[4 * i + b] = std::uint8_t(ctx.h[i] >> (8 * b));
    }
    return d;
}

Digest ripemd160(const void *data, std::size_t length) {
    Ripemd160 ctx;
    ripemd160_init(ctx);
    ripemd160_update(ctx, data, length);
    return ripemd160_final(ctx);
}

std::string digest_to_hex(const Digest &digest) {
    static const char kHex[] = "0123456789abcdef";
    std::string text(2 * kDigestBytes, '0');
    for (int i = 0; i < kDigestBytes; i++) {
        text[2 * i] = kHex[digest.bytes[i] >> 4];
        text[2 * i + 1] = kHex[digest.bytes[i] & 15];
    }
    return text;
}

bool digest_equals_hex(const char *text, const Digest &digest) {
    if (!text) return false;
    for (int i = 0; i < kDigestBytes; i++) {
        int hi = hex_value(text[2 * i]);
        if (hi < 0) return false;
        int lo = hex_value(text[2 * i + 1]);
        if (lo < 0) return false;
        if (((hi << 4) | lo) != digest.bytes[i]) return false;
    }
    return text[2 * kDigestBytes] == 0;
}

bool digest_equal(const Digest &a, const Digest &b) {
    return std::memcmp(a.bytes, b.bytes, kDigestBytes) == 0;
}
