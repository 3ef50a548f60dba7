// Streams: the program's one file handle (a plain file, a window of bytes inside an
// archive, or gzip data decompressed on the fly) with a one-character look-ahead, and
// the scanner every text format is read with.
//
// Streams are created by vfs_open (files/vfs.h) or stream_open_memory and are released
// with vfs_close / vfs_close_discard. One thread at a time per stream.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The "no limit" value for limit and compressed_limit.
constexpr std::int64_t kStreamNoLimit = INT64_MAX;

// Decompressor state (zlib raw inflater and its buffers); private to stream.cpp.
struct StreamInflate;

struct Stream {
    std::FILE *file = nullptr;           // underlying open file (null for a memory stream)
    std::int64_t base = 0;               // offset of the stream's first byte in the file
    std::int64_t limit = kStreamNoLimit; // bytes the stream may deliver (no limit when compressed)
    std::int64_t position = 0;           // bytes delivered so far (taken from file or inflater)
    int lookahead = -1;                  // one character read but not consumed, or -1
    bool compressed = false;             // gzip data being decompressed
    std::int64_t compressed_limit = kStreamNoLimit; // compressed bytes available (member size)
    std::int64_t compressed_used = 0;               // compressed bytes read so far
    bool at_end = false;              // the decompressor reached the end (or a corrupt spot)
    StreamInflate *inflate = nullptr; // decompressor, when compressed

    // Memory streams read from this copy instead of a file.
    bool from_memory = false;
    std::vector<unsigned char> memory;
    std::size_t memory_pos = 0;

    // Safe saves: when target_path is set, file is the temporary file temp_path that
    // vfs_close renames over target_path (vfs_close_discard removes it instead).
    std::string target_path;
    std::string temp_path;
};

// ---- Creating streams (normally done by vfs_open) ----

// Wraps an open file whose data start at byte base (the file is positioned there).
// Uncompressed, the stream delivers at most limit bytes. With compressed, limit is the
// size of the gzip data (kStreamNoLimit for a whole file), the stream itself has no limit
// and the decompressor is started; on failure the file is closed and null is returned.
// On success the stream owns the file.
Stream *stream_open_file(std::FILE *file, std::int64_t base, std::int64_t limit, bool compressed);
// A read-only stream over a copy of size bytes (gzip data when compressed). Null when
// the gzip header is not valid. Close with vfs_close.
Stream *stream_open_memory(const void *data, std::size_t size, bool compressed);
// Releases the decompressor, closes the file and frees the record (no safe-save handling;
// vfs_close and vfs_close_discard call this). Null is ignored.
void stream_free(Stream *s);

// ---- Reading ----

// Next character 0..255, or -1 at the end: the lookahead if any (cleared), else the next
// byte from the decompressor, or from the file while position < limit.
int stream_getc(Stream *s);
// Like stream_getc, but the character stays as lookahead.
int stream_peek(Stream *s);
// Copies characters until a line feed (stored) or size - 1 characters, then a zero.
// Returns buffer, or null when not a single character could be read (or size < 1).
char *stream_gets(Stream *s, char *buffer, int size);
// Reads up to count bytes (the lookahead first, never past the limit). Returns the count.
std::size_t stream_read(Stream *s, void *buffer, std::size_t count);
// Moves to offset (relative to base): only for uncompressed streams and 0 <= offset <
// limit. Clears the lookahead. Returns success.
bool stream_seek(Stream *s, std::int64_t offset);
// Offset of the next character to be read (position less a pending lookahead).
std::int64_t stream_tell(Stream *s);
// Bytes still to be read from an uncompressed stream (bounded by the limit and by the
// file's size), or -1 for a compressed stream, where it is unknown. Use this to check a
// length or count read from a file before allocating for it.
std::int64_t stream_remaining(Stream *s);

// ---- The scanner ----

// A fscanf-like scan; returns the number of values stored, or -1. Differences from the C
// library that the file formats rely on:
//  - a literal format character that does not match (or meets the end) returns -1 even
//    when values were already stored; so does a "%%" that does not match;
//  - the end of input before a conversion read anything returns the count so far, or -1
//    when nothing was stored yet;
//  - a non-matching character for a conversion ends the scan with the count so far and
//    stays as lookahead;
//  - conversions: d i o x X (32-bit int, or short with "h"; overflow wraps; letters are
//    digits above 9 in either case), f (float; double with "l"; long double with "ll",
//    "L" or "q"; no inf/nan/hex; a lone "." reads 0; an "e" without digits is consumed),
//    s, c, [set] (default width 1,000,000; an empty run ends the scan with the count so
//    far), n (characters consumed so far; not counted), %. Modifiers: width, "*", h, l,
//    L, q. Any other conversion (u e g E G a p ...) ends the scan with the count so far.
//  - "l" changes only "f": "%ld" stores a 32-bit int, so always pass int* for d/i/o/x.
int stream_scan(Stream *s, const char *format, ...);
int stream_vscan(Stream *s, const char *format, std::va_list args);
// The result of scanning "%d", or INT32_MIN when that fails.
int stream_read_int(Stream *s);
// Skips white space and "#" comment lines (scans " #%*[^\n]%n" while it consumes
// something). A "#" directly followed by a line feed ends the skipping.
void skip_comments(Stream *s);

// ---- Writing (straight to the file, never compressed; no effect on memory streams) ----

int stream_putc(Stream *s, int c);            // fputc: c or EOF
int stream_puts(Stream *s, const char *text); // fputs: non-negative or EOF
std::size_t stream_write(Stream *s, const void *data, std::size_t count); // bytes written
int stream_printf(Stream *s, const char *format, ...) __attribute__((format(printf, 2, 3)));
int stream_flush(Stream *s); // fflush: 0 or EOF
