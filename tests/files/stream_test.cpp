// Streams: gzip decoding (good, truncated, corrupt, header forms), line and block reads,
// seeking and the remaining-bytes query.
#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "files/stream.h"
#include "files/vfs.h"
#include "support/tempdir.h"

namespace {

std::string read_all(Stream *s) {
    std::string out;
    for (int c = stream_getc(s); c >= 0; c = stream_getc(s)) out.push_back(static_cast<char>(c));
    return out;
}

std::string sample_text(std::size_t size) {
    std::mt19937 rng(7);
    std::string out;
    const char *words[] = {"gate ", "[ 1.5 2 3 ]\n", "lap ", "rut ", "x\n", "0.25 "};
    while (out.size() < size) out += words[rng() % 6];
    out.resize(size);
    return out;
}

// The raw deflate data of text (no gzip header or trailer).
std::string raw_deflate(const std::string &text) {
    std::string gz = gzip_bytes(text);
    return gz.substr(10, gz.size() - 18);
}

TEST(Stream, GzipRoundTripByCharAndBlock) {
    std::string text = sample_text(200000);
    std::string gz = gzip_bytes(text);
    Stream *s = stream_open_memory(gz.data(), gz.size(), true);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(read_all(s), text);
    EXPECT_EQ(stream_getc(s), -1);
    EXPECT_EQ(s->position, static_cast<std::int64_t>(text.size()));
    vfs_close(s);

    s = stream_open_memory(gz.data(), gz.size(), true);
    std::string block(text.size() + 100, '\0');
    EXPECT_EQ(stream_peek(s), text[0]);
    EXPECT_EQ(stream_read(s, block.data(), block.size()), text.size());
    block.resize(text.size());
    EXPECT_EQ(block, text);
    EXPECT_FALSE(stream_seek(s, 0)); // compressed streams cannot seek
    EXPECT_EQ(stream_remaining(s), -1);
    vfs_close(s);
}

TEST(Stream, TruncatedOrCorruptGzipEndsCleanly) {
    std::string text = sample_text(100000);
    std::string gz = gzip_bytes(text);
    for (std::size_t cut : {gz.size() - 8, gz.size() / 2, std::size_t{40}, std::size_t{11}}) {
        SCOPED_TRACE(cut);
        Stream *s = stream_open_memory(gz.data(), cut, true);
        ASSERT_NE(s, nullptr);
        std::string got = read_all(s);
        EXPECT_EQ(got, text.substr(0, got.size())); // the good bytes, then the end
        EXPECT_EQ(stream_getc(s), -1);
        vfs_close(s);
    }
    std::mt19937 rng(3);
    for (int round = 0; round < 50; ++round) {
        std::string bad = gz;
        for (int k = 0; k < 4; ++k)
            bad[10 + rng() % (bad.size() - 10)] ^= static_cast<char>(1 + rng() % 255);
        Stream *s = stream_open_memory(bad.data(), bad.size(), true);
        ASSERT_NE(s, nullptr);
        EXPECT_LE(read_all(s).size(), 4 * text.size()); // ends; never loops
        vfs_close(s);
    }
}

TEST(Stream, GzipHeaderForms) {
    std::string body = raw_deflate("payload\n");
    struct HeaderCase {
        const char *what;
        std::string header;
        bool opens;
    };
    const std::string base("\x1f\x8b\x08", 3);
    const std::string mtime(6, '\0');
    const HeaderCase cases[] = {
        {"plain", base + std::string(1, '\0') + mtime, true},
        {"extra field", base + "\x04" + mtime + std::string("\x03\x00", 2) + "abc", true},
        {"name and comment", base + "\x18" + mtime + std::string("name\0note\0", 10), true},
        {"header check", base + "\x02" + mtime + "cc", true},
        {"wrong magic", std::string("\x1f\x8c\x08", 3) + std::string(1, '\0') + mtime, false},
        {"not deflate", std::string("\x1f\x8b\x07", 3) + std::string(1, '\0') + mtime, false},
        {"reserved flag", base + "\x20" + mtime, false},
        {"extra past the data", base + "\x04" + mtime + std::string("\xff\x7f", 2), false},
    };
    for (const HeaderCase &c : cases) {
        SCOPED_TRACE(c.what);
        std::string data = c.header + body;
        Stream *s = stream_open_memory(data.data(), data.size(), true);
        EXPECT_EQ(s != nullptr, c.opens);
        if (s) {
            EXPECT_EQ(read_all(s), "payload\n");
        }
        vfs_close(s);
    }
    // A name field without its zero byte inside the first block, and a short header.
    std::string unterminated = base + "\x08" + mtime + std::string(20000, 'n');
    EXPECT_EQ(stream_open_memory(unterminated.data(), unterminated.size(), true), nullptr);
    EXPECT_EQ(stream_open_memory("\x1f\x8b\x08", 3, true), nullptr);
}

TEST(Stream, OnlyTheFirstGzipMemberIsRead) {
    std::string data = gzip_bytes("first\n") + gzip_bytes("second\n");
    Stream *s = stream_open_memory(data.data(), data.size(), true);
    EXPECT_EQ(read_all(s), "first\n");
    vfs_close(s);
}

TEST(Stream, GetsSplitsLinesAndStopsAtSize) {
    const char text[] = "one\nlonger line\nend";
    Stream *s = stream_open_memory(text, sizeof text - 1, false);
    char buf[8];
    ASSERT_NE(stream_gets(s, buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "one\n");
    ASSERT_NE(stream_gets(s, buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "longer ");
    ASSERT_NE(stream_gets(s, buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "line\n");
    ASSERT_NE(stream_gets(s, buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "end");
    EXPECT_EQ(stream_gets(s, buf, sizeof buf), nullptr);
    EXPECT_EQ(stream_gets(s, buf, 1), nullptr);
    vfs_close(s);
}

TEST(Stream, SeekTellAndRemaining) {
    const char text[] = "0123456789";
    Stream *s = stream_open_memory(text, 10, false);
    EXPECT_EQ(stream_remaining(s), 10);
    EXPECT_EQ(stream_peek(s), '0');
    EXPECT_EQ(stream_tell(s), 0);
    EXPECT_EQ(stream_remaining(s), 10);
    EXPECT_TRUE(stream_seek(s, 7));
    EXPECT_EQ(stream_tell(s), 7);
    EXPECT_EQ(stream_remaining(s), 3);
    char buf[16];
    EXPECT_EQ(stream_read(s, buf, sizeof buf), 3u);
    EXPECT_FALSE(stream_seek(s, 10));
    EXPECT_FALSE(stream_seek(s, -1));
    EXPECT_TRUE(stream_seek(s, 0));
    EXPECT_EQ(stream_getc(s), '0');
    vfs_close(s);
}

} // namespace
