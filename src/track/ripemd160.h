// RIPEMD-160: the 160-bit message digest that identifies track content, checks the game
// data at start-up and proves the server password.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

constexpr int kDigestBytes = 20;

struct Digest {
    std::uint8_t bytes[kDigestBytes] = {};
};

// Streaming context: init, any number of updates, then final.
struct Ripemd160 {
    std::uint32_t h[5];
    std::uint64_t length;   // bytes fed so far
    std::uint8_t block[64]; // pending bytes of the current block
    std::size_t block_used; // bytes in block
};

// Starts a new digest (chaining words 67452301 EFCDAB89 98BADCFE 10325476 C3D2E1F0).
void ripemd160_init(Ripemd160 &ctx);
// Feeds length bytes (any length, including 0; data may be null when length is 0).
void ripemd160_update(Ripemd160 &ctx, const void *data, std::size_t length);
// Pads, finishes and returns the digest. The context must be re-initialised before reuse.
Digest ripemd160_final(Ripemd160 &ctx);
// One-shot digest of a buffer.
Digest ripemd160(const void *data, std::size_t length);

// The digest as 40 lower-case hexadecimal digits ("%02x" per byte).
std::string digest_to_hex(const Digest &digest);
// True when text is exactly 40 hexadecimal digits (either case) naming the same 20 bytes.
// Any other text (shorter, longer, signs, blanks, non-hex characters) gives false.
bool digest_equals_hex(const char *text, const Digest &digest);
// Byte-wise equality of two digests.
bool digest_equal(const Digest &a, const Digest &b);
