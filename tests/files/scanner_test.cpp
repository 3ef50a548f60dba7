// The scanner over a table of format/input cases, comment skipping and stream_read_int.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "files/stream.h"
#include "files/vfs.h"
#include "support/tempdir.h"

namespace {

// Storage for one destination; the case's kinds string says how each is passed and shown:
// i int, h short, f float, d double, L long double, s text (zero-terminated).
struct Slot {
    int i;
    short h;
    float f;
    double d;
    long double ld;
    char s[64];
};

struct ScanCase {
    const char *input;
    const char *format;
    const char *kinds;
    int result;
    const char *values; // stored values joined by "|"
    const char *rest;   // what the stream still delivers after the scan
};

std::string show(const Slot &slot, char kind) {
    char buf[80];
    switch (kind) {
    case 'i':
        std::snprintf(buf, sizeof buf, "%d", slot.i);
        break;
    case 'h':
        std::snprintf(buf, sizeof buf, "%d", slot.h);
        break;
    case 'f':
        std::snprintf(buf, sizeof buf, "%g", static_cast<double>(slot.f));
        break;
    case 'd':
        std::snprintf(buf, sizeof buf, "%.17g", slot.d);
        break;
    case 'L':
        std::snprintf(buf, sizeof buf, "%.3Lf", slot.ld);
        break;
    default:
        std::snprintf(buf, sizeof buf, "%s", slot.s);
        break;
    }
    return buf;
}

void *target(Slot &slot, char kind) {
    switch (kind) {
    case 'i':
        return &slot.i;
    case 'h':
        return &slot.h;
    case 'f':
        return &slot.f;
    case 'd':
        return &slot.d;
    case 'L':
        return &slot.ld;
    default:
        return slot.s;
    }
}

std::string rest_of(Stream *s) {
    std::string out;
    for (int c = stream_getc(s); c >= 0; c = stream_getc(s)) out.push_back(static_cast<char>(c));
    return out;
}

const ScanCase kCases[] = {
    // Counting, end of input and mismatches.
    {"12 a", "%d %d", "ii", 1, "12", "a"},
    {"a", "%d %d", "ii", 0, "", "a"},
    {"", "%d %d", "ii", -1, "", ""},
    {"   ", "%d", "i", -1, "", ""},
    {"5 ", "%d %d", "ii", 1, "5", ""},
    {"1 2 x", "%d %d %d", "iii", 2, "1|2", "x"},
    {"1 2", "%d,%d", "ii", -1, "1", " 2"},
    {"5", "%d,", "i", -1, "5", ""},
    {"( 1 2 3 ) 4 5", " [ %f %f %f ] %f %f ", "fffff", -1, "", "( 1 2 3 ) 4 5"},
    {"[ 1 2 3 ] 4 5 x", " [ %f %f %f ] %f %f ", "fffff", 5, "1|2|3|4|5", "x"},
    {"5%", "%d%%", "i", 1, "5", ""},
    {"5 %", "%d%%", "i", -1, "5", " %"},
    {"1 2", "%d %u", "ii", 1, "1", "2"},
    {"1.5", "%e", "f", 0, "", "1.5"},
    {"1 2", "%*d %d", "i", 1, "2", ""},
    // Integers.
    {"-5", "%d", "i", 1, "-5", ""},
    {"+7;", "%d", "i", 1, "7", ";"},
    {"-x", "%d", "i", 0, "", "x"},
    {"-", "%d", "i", 0, "", ""},
    {"12345", "%3d", "i", 1, "123", "45"},
    {"-1234", "%3d", "i", 1, "-12", "34"},
    {"4294967297", "%d", "i", 1, "1", ""},
    {"65537", "%hd", "h", 1, "1", ""},
    {"0x1A", "%i", "i", 1, "26", ""},
    {"017", "%i", "i", 1, "15", ""},
    {"-0X10", "%i", "i", 1, "-16", ""},
    {"0", "%i", "i", 1, "0", ""},
    {"08", "%i", "i", 1, "0", "8"},
    {"0xg", "%i", "i", 1, "0", "g"},
    {"ff", "%x", "i", 1, "255", ""},
    {"FfZ", "%X", "i", 1, "255", "Z"},
    {"0x1A", "%x", "i", 1, "0", "x1A"},
    {"777", "%o", "i", 1, "511", ""},
    {"8", "%o", "i", 0, "", "8"},
    // Reals.
    {"1.5e x", "%f", "f", 1, "1.5", " x"},
    {"1.5e+x", "%f", "f", 1, "1.5", "x"},
    {"-.25", "%f", "f", 1, "-0.25", ""},
    {".", "%f", "f", 1, "0", ""},
    {"1e3", "%f", "f", 1, "1000", ""},
    {"2.5E-2", "%lf", "d", 1, "0.025000000000000001", ""},
    {"0.1", "%lf", "d", 1, "0.10000000000000001", ""},
    {"123456789012345678", "%lf", "d", 1, "1.2345678901234568e+17", ""},
    {"1.25", "%Lf", "L", 1, "1.250", ""},
    {"1.25", "%llf", "L", 1, "1.250", ""},
    {"1.25", "%2f", "f", 1, "1", "25"},
    {"1.2.3", "%f", "f", 1, "1.2", ".3"},
    {"inf", "%f", "f", 0, "", "inf"},
    {"nan", "%f", "f", 0, "", "nan"},
    {"-e5", "%f", "f", 0, "", "e5"},
    {"1e99999999999", "%lf", "d", 1, "inf", ""},
    {"0e99999999999", "%lf", "d", 1, "0", ""},
    {"1e-99999999999", "%lf", "d", 1, "0", ""},
    // Text, characters and sets.
    {"  hello world", "%s", "s", 1, "hello", " world"},
    {"abcdef", "%3s", "s", 1, "abc", "def"},
    {" x", "%c", "s", 1, " ", "x"},
    {"abcd", "%3c", "s", 1, "abc", "d"},
    {"abcabd", "%[a-c]", "s", 1, "abcab", "d"},
    {"]x]y", "%[]x]", "s", 1, "]x]", "y"},
    {"ab]c", "%[^]]", "s", 1, "ab", "]c"},
    {"a-b", "%[a-]", "s", 1, "a-", "b"},
    {"line one\nline two", "%[^\n]", "s", 1, "line one", "\nline two"},
    {"\nnext", "%[^\n]", "s", 0, "", "\nnext"},
    {"", "%[^\n]", "s", -1, "", ""},
    {"7 \nnext", "%d %[^\n]", "is", 2, "7|next", ""},
    {"abcdef", "%4[a-z]", "s", 1, "abcd", "ef"},
    {"  x", "%[x]", "s", 0, "", "  x"},
    // Character counts.
    {"  12  z", "%d %n", "ii", 1, "12|6", "z"},
    {"ab", "%*c%hn", "h", 0, "1", "b"},
    {"12", "%d%*n", "i", 1, "12", ""},
};

TEST(Scanner, CasesTable) {
    for (const ScanCase &c : kCases) {
        SCOPED_TRACE(std::string("format \"") + c.format + "\" over \"" + c.input + "\"");
        Stream *s = stream_open_memory(c.input, std::strlen(c.input), false);
        ASSERT_NE(s, nullptr);
        Slot slots[5];
        std::memset(slots, 0, sizeof slots);
        std::size_t n = std::strlen(c.kinds);
        void *p[5] = {};
        for (std::size_t k = 0; k < n; ++k) p[k] = target(slots[k], c.kinds[k]);
        int r = stream_scan(s, c.format, p[0], p[1], p[2], p[3], p[4]);
        EXPECT_EQ(r, c.result);
        std::string values;
        std::size_t shown = r > 0 ? static_cast<std::size_t>(r) : 0;
        // %n values are not counted: show as many slots as the expectation names.
        std::size_t expected_slots =
            *c.values ? static_cast<std::size_t>(
                            std::count(c.values, c.values + std::strlen(c.values), '|')) +
                            1
                      : 0;
        shown = std::max(shown, expected_slots);
        for (std::size_t k = 0; k < shown && k < n; ++k) {
            if (k) values += "|";
            values += show(slots[k], c.kinds[k]);
        }
        EXPECT_EQ(values, c.values);
        EXPECT_EQ(rest_of(s), c.rest);
        vfs_close(s);
    }
}

struct CommentCase {
    const char *input;
    const char *rest;
};

TEST(Scanner, SkipComments) {
    const CommentCase cases[] = {
        {"  # comment\n# another\nvalue", "value"},
        {"value # not a comment", "value # not a comment"},
        {"\n\t  value", "value"},
        // An empty comment stops the skipping right after its "#".
        {"#\n# c\nvalue", "\n# c\nvalue"},
        {"# c\n#\n# d\nv", "\n# d\nv"},
        {"# only a comment", ""},
        {"", ""},
    };
    for (const CommentCase &c : cases) {
        SCOPED_TRACE(c.input);
        Stream *s = stream_open_memory(c.input, std::strlen(c.input), false);
        skip_comments(s);
        EXPECT_EQ(rest_of(s), c.rest);
        vfs_close(s);
    }
}

TEST(Scanner, ReadIntFailureKeepsLetter) {
    const char text[] = "42 word";
    Stream *s = stream_open_memory(text, sizeof text - 1, false);
    EXPECT_EQ(stream_read_int(s), 42);
    EXPECT_EQ(stream_read_int(s), INT_MIN);
    EXPECT_EQ(stream_peek(s), 'w');
    EXPECT_EQ(rest_of(s), "word");
    vfs_close(s);
}

TEST(Scanner, WorksOverGzipData) {
    std::string text;
    for (int i = 0; i < 5000; ++i) text += "v " + std::to_string(i) + " [ 1.5 -2 3e2 ]\n";
    std::string gz = gzip_bytes(text);
    Stream *s = stream_open_memory(gz.data(), gz.size(), true);
    ASSERT_NE(s, nullptr);
    for (int i = 0; i < 5000; ++i) {
        int v = -1;
        float a, b, c;
        ASSERT_EQ(stream_scan(s, " v %d [ %f %f %f ]", &v, &a, &b, &c), 4);
        ASSERT_EQ(v, i);
        ASSERT_EQ(c, 300.0f);
    }
    int v;
    EXPECT_EQ(stream_scan(s, " v %d", &v), -1);
    vfs_close(s);
}

} // namespace
