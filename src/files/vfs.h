// Virtual file names over the search roots, ".saf" archives and ".gz" copies.
//
// A name beginning with "@" is looked up in the search roots in order (root 0 is the home
// folder, then $VQ_HOME/ or the executable's folder), then, for reading, in the merged
// index of every file under the roots and of the members of ".saf" archives found there.
// Any read may transparently use a ".gz" copy of the name. A name without "@" is a path
// relative to the current folder. Writes go to the first root that accepts the file,
// creating missing folders. Main thread only.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "files/stream.h"

// Opens a virtual name with a C library mode ("rb", "wb", "ab", "r+b", ...). A mode that
// holds "r" and no "+" is a read mode. A leading "~" keeps a numbered backup
// "<path>.~N~" (smallest free N in 1..9999) of an existing file before opening it with
// the rest of the mode. A mode starting with "w" writes a temporary file "<path>.~tmpN"
// in the target's folder, renamed over the target by vfs_close, so the old file survives
// a failed or abandoned write. Returns null on failure, without a message.
Stream *vfs_open(const char *name, const char *mode);
// Releases the decompressor, closes the file and frees the stream (null is ignored).
// For a safe save, the temporary file replaces the target only when every write, the
// flush and the close succeeded; otherwise the temporary file is removed, the target is
// kept, the failure is logged and false is returned. True otherwise.
bool vfs_close(Stream *s);
// Closes a stream, abandoning a safe save: the temporary file is removed and the target
// stays as it was. For any other stream the same as vfs_close.
void vfs_close_discard(Stream *s);

// The distinct virtual names of the index (files under the roots, relative to their
// root, and archive members), sorted case-insensitively; of equal names the first by
// source priority, in its own letter case. Built on first use, never refreshed.
const std::vector<std::string> &vfs_list();
// The i-th search root (ends in "/"), or null past the last.
const char *vfs_root(int i);
// Index entry i as "<name> -> <path>" truncated to fit length bytes (with the zero).
// False past the last entry.
bool vfs_entry_text(int i, char *buffer, int length);
// Renames inside the home folder: a leading "@" becomes root 0, other names are used as
// they are (each result at most 511 characters). The target is removed first. Success.
bool vfs_rename(const char *from, const char *to);
// Creates every folder on path up to its last "/" (failures ignored; paths longer than
// 1023 characters are left alone).
void make_parent_folders(const char *path);

// One member of a ".saf" archive header.
struct SafMember {
    std::string name;    // virtual name, runs of "/" collapsed
    std::int64_t offset; // offset of the data in the archive file
    std::int64_t size;   // bytes of data
};
// Reads a ".saf" header from the start of s (an archive file of archive_size bytes):
// lines "<size> <name>\n" (at most 1023 characters each), ended by "-\n". Returns false
// with members cleared when the header is malformed: no end line, a line without its
// line feed, a size that is not a plain decimal number, an empty name, or member data
// that would run past the end of the file.
bool saf_read_header(Stream *s, std::int64_t archive_size, std::vector<SafMember> &members);

// Test support: forgets the roots and the index, so the next use recomputes them from
// the environment (HOME, XDG_DATA_HOME, VQ_HOME) and rebuilds the index.
void vfs_reset_for_tests();
