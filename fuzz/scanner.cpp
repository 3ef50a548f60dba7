// Fuzzes the scanner: the first byte picks a format (a table of formats the file readers
// use, or a fuzzed one taken from the input up to a zero byte); the rest is the text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "files/stream.h"
#include "files/vfs.h"

namespace {

const char *const kFormats[] = {
    " [ %f %f %f ] %f %f ",     "%d %d",       " %255s",      " %255[^\n]",
    "%lf %Lf %llf %qf",         " #%*[^\n]%n", "%i %x %X %o", "%hd %hi %hn",
    "%63[a-z0-9_]=%255[^\r\n]", "%3c%2d%*s",   "%d%%%n",      " %[]^-]%[^]a-]",
    "gate: %d [ %f %f %f ]",    "%s %s %f",
};
constexpr std::size_t kFormatCount = sizeof kFormats / sizeof kFormats[0];
constexpr int kMaxDestinations = 16;
constexpr int kMaxTextWidth = 255;

// Rewrites a fuzzed format so every directive fits the destinations: text conversions
// get a width of at most kMaxTextWidth and at most kMaxDestinations are stored.
std::string make_safe(const std::string &f) {
    std::string out;
    int stored = 0;
    for (std::size_t i = 0; i < f.size();) {
        if (f[i] != '%') {
            out += f[i++];
            continue;
        }
        std::size_t j = i + 1;
        bool suppress = false;
        int width = 0;
        std::string mods;
        while (j < f.size() && std::strchr("0123456789*hlLq", f[j])) {
            if (f[j] == '*') suppress = true;
            if (f[j] >= '0' && f[j] <= '9')
                width = std::min(width * 10 + (f[j] - '0'), 1000000);
            else
                mods += f[j];
            ++j;
        }
        char conv = j < f.size() ? f[j] : 0;
        bool text = conv == 's' || conv == 'c' || conv == '[';
        bool stores = !suppress && conv && std::strchr("diouxXfscn[", conv);
        if (stores && ++stored > kMaxDestinations) break;
        if (text && (width == 0 || width > kMaxTextWidth)) width = kMaxTextWidth;
        out += '%';
        if (suppress) out += '*';
        if (width) out += std::to_string(width);
        out += mods;
        i = j;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    std::string format;
    std::size_t pick = data[0] % (kFormatCount + 1);
    ++data;
    --size;
    if (pick < kFormatCount) {
        format = kFormats[pick];
    } else {
        const void *zero = std::memchr(data, 0, size);
        std::size_t n =
            zero ? static_cast<std::size_t>(static_cast<const uint8_t *>(zero) - data) : size;
        format = make_safe(std::string(reinterpret_cast<const char *>(data), n));
        data += zero ? n + 1 : n;
        size -= zero ? n + 1 : n;
    }

    // Every destination is a buffer large enough for any conversion.
    alignas(16) static unsigned char slots[kMaxDestinations][kMaxTextWidth + 17];
    void *p[kMaxDestinations];
    for (int i = 0; i < kMaxDestinations; ++i) p[i] = slots[i];

    Stream *s = stream_open_memory(data, size, false);
    for (int round = 0; round < 1000; ++round) {
        std::int64_t before = stream_tell(s);
        int r = stream_scan(s, format.c_str(), p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8],
                            p[9], p[10], p[11], p[12], p[13], p[14], p[15]);
        if (r < -1 || r > kMaxDestinations) __builtin_trap();
        if (stream_tell(s) == before) {
            // No progress: move on with the other readers.
            skip_comments(s);
            stream_read_int(s);
            char line[64];
            if (!stream_gets(s, line, sizeof line)) break;
        }
    }
    vfs_close(s);
    return 0;
}
