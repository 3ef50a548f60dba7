#include "track/ripemd160.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Vector {
    std::string message;
    const char *digest;
};

// The published test vectors of the algorithm's authors.
const Vector kVectors[] = {
    {"", "9c1185a5c5e9fc54612808977ee8f548b2258d31"},
    {"a", "0bdc9d2d256b3ee9daae347be6f4dc835a467ffe"},
    {"abc", "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"},
    {"message digest", "5d0689ef49d2fae572b881b123a85ffa21595f36"},
    {"abcdefghijklmnopqrstuvwxyz", "f71c27109c692c1b56bbdceb5b9d2865b3708dbc"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "12a053384a9c0c88e405a06c27dcf49ada62eb2b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "b0e20b6e3116640286ed3a87a5713079b21f5189"},
    {"1234567890123456789012345678901234567890"
     "1234567890123456789012345678901234567890",
     "9b752e45573d4b39f4dbd3323cab82bf63326bfb"},
    {std::string(1000000, 'a'), "52783243c1697bdbe16d37f97f68f08325dc1528"},
};

TEST(Ripemd160, PublishedVectors) {
    for (const Vector &v : kVectors) {
        Digest d = ripemd160(v.message.data(), v.message.size());
        EXPECT_EQ(digest_to_hex(d), v.digest) << "message of " << v.message.size() << " bytes";
    }
}

TEST(Ripemd160, StreamingInAnyPiecesGivesTheOneShotDigest) {
    const std::string &message = kVectors[6].message; // 62 bytes: crosses a block with padding
    std::string long_message_text;
    for (int i = 0; i < 50; i++) long_message_text += message;
    const std::string &long_message = long_message_text;
    for (const std::string *m : {&message, &long_message}) {
        for (std::size_t piece : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 1000u}) {
            Ripemd160 ctx;
            ripemd160_init(ctx);
            for (std::size_t at = 0; at < m->size(); at += piece)
                ripemd160_update(ctx, m->data() + at, std::min(piece, m->size() - at));
            EXPECT_TRUE(digest_equal(ripemd160_final(ctx), ripemd160(m->data(), m->size())))
                << "pieces of " << piece;
        }
    }
}

TEST(Ripemd160, DigestEqualsHexNeedsExactlyFortyHexDigits) {
    Digest d = ripemd160("abc", 3);
    const std::string hex = "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc";
    struct Case {
        std::string text;
        bool equal;
    };
    const Case cases[] = {
        {hex, true},
        {"8EB208F7E05D987A9B044A8E98C6B087F15A0BFC", true},
        {hex.substr(0, 39), false},        // one digit short
        {hex + "0", false},                // one digit more
        {hex + "\n", false},               // trailing line feed
        {hex.substr(0, 38) + "fd", false}, // last byte differs
        {"+" + hex.substr(1), false},      // a sign is not a digit
        {" " + hex.substr(1), false},      // nor is a blank
        {hex.substr(0, 10) + "g" + hex.substr(11), false},
        {"", false},
    };
    for (const Case &c : cases) EXPECT_EQ(digest_equals_hex(c.text.c_str(), d), c.equal) << c.text;
    EXPECT_FALSE(digest_equals_hex(nullptr, d));
}

} // namespace
