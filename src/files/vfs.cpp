#include "files/vfs.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

#include "platform/log.h"
#include "platform/paths.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxPath = 511;        // longest path built from a virtual name
constexpr std::size_t kMaxBackupPath = 1000; // longest path that gets numbered backups
constexpr std::size_t kMaxFolderPath = 1023; // longest path make_parent_folders touches
constexpr int kMaxBackups = 9999;
constexpr std::size_t kCopyChunk = 65536;
constexpr int kSafHeaderLine = 1023; // longest archive header line, with its line feed

struct FileIndexEntry {
    std::string path;        // real file holding the data
    std::string name;        // virtual name
    std::int64_t offset = 0; // data offset inside path
    std::int64_t size = 0;   // data bytes
    int source = 0;          // priority: root index, or roots + archive ordinal
};

struct VfsState {
    bool roots_ready = false;
    std::vector<std::string> roots;
    bool index_ready = false;
    std::vector<FileIndexEntry> index;
    std::vector<std::string> listing;
};

VfsState g_vfs;

// Case-insensitive comparison, character by character; a prefix sorts first.
int compare_nocase(const std::string &a, const std::string &b) {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        int ca = std::tolower(static_cast<unsigned char>(a[i]));
        int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

// Index order: name without regard to case, then source. The exact name and the offset
// only make the order of otherwise equal entries deterministic.
bool entry_less(const FileIndexEntry &a, const FileIndexEntry &b) {
    int c = compare_nocase(a.name, b.name);
    if (c != 0) return c < 0;
    if (a.source != b.source) return a.source < b.source;
    if (a.name != b.name) return a.name < b.name;
    return a.offset < b.offset;
}

bool ends_with_nocase(const std::string &s, const char *suffix) {
    std::size_t n = std::strlen(suffix);
    if (s.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) !=
            std::tolower(static_cast<unsigned char>(suffix[i])))
            return false;
    return true;
}

std::string collapse_slashes(const std::string &s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c == '/' && !out.empty() && out.back() == '/') continue;
        out.push_back(c);
    }
    return out;
}

void ensure_roots() {
    if (g_vfs.roots_ready) return;
    g_vfs.roots_ready = true;
    g_vfs.roots.clear();
    std::string home = home_folder();
    if (!home.empty()) g_vfs.roots.push_back(normalise_path(home + "/"));
    // An empty VQ_HOME would make the file system's root a search root; treat it as unset.
    const char *vq_home = std::getenv("VQ_HOME");
    if (vq_home && *vq_home)
        g_vfs.roots.push_back(normalise_path(std::string(vq_home) + "/"));
    else
        g_vfs.roots.push_back(normalise_path(exe_folder() + "/"));
}

bool is_read_mode(const char *mode) {
    return std::strchr(mode, 'r') && !std::strchr(mode, '+');
}

bool file_exists(const std::string &path) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

bool is_folder(const std::string &path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

// Copies an existing file to "<path>.~N~" with the smallest free N. False when no number
// is free or the copy fails (the partial copy is removed).
bool make_backup(const std::string &path) {
    std::FILE *in = std::fopen(path.c_str(), "rb");
    if (!in) return true; // nothing to keep
    std::FILE *out = nullptr;
    std::string backup;
    for (int n = 1; n <= kMaxBackups && !out; ++n) {
        backup = path + ".~" + std::to_string(n) + "~";
        if (file_exists(backup)) continue;
        out = std::fopen(backup.c_str(), "wbx");
        if (!out && errno != EEXIST) break;
    }
    if (!out) {
        std::fclose(in);
        log_printf("No backup name is free for %s\n", path.c_str());
        return false;
    }
    std::vector<char> chunk(kCopyChunk);
    bool ok = true;
    for (;;) {
        std::size_t got = std::fread(chunk.data(), 1, chunk.size(), in);
        if (got && std::fwrite(chunk.data(), 1, got, out) != got) ok = false;
        if (!ok || got < chunk.size()) {
            if (std::ferror(in)) ok = false;
            break;
        }
    }
    std::fclose(in);
    if (std::fclose(out) != 0) ok = false;
    if (!ok) {
        std::remove(backup.c_str());
        log_printf("Could not back up %s\n", path.c_str());
    }
    return ok;
}

// Opens a temporary file next to path for a safe save ("<path>.~tmpN", created
// exclusively so no other file is overwritten).
std::FILE *open_temp(const std::string &path, const char *mode, std::string &temp) {
    std::string m = std::string(mode) + "x";
    for (int n = 1; n <= 1000; ++n) {
        temp = path + ".~tmp" + std::to_string(n);
        std::FILE *f = std::fopen(temp.c_str(), m.c_str());
        if (f) return f;
        if (errno != EEXIST) return nullptr;
    }
    return nullptr;
}

// Opens a real path: backups for "~", safe saves for "w", the ".gz" fallback for reads.
Stream *open_direct(const std::string &path, const char *mode) {
    bool read = is_read_mode(mode);
    if (path.empty() || path.size() > kMaxPath) return nullptr;
    if (!read) make_parent_folders(path.c_str());
    if (*mode == '~') {
        if (path.size() > kMaxBackupPath) return nullptr;
        ++mode;
        if (!make_backup(path)) return nullptr;
    }
    if (*mode == 'w') {
        if (is_folder(path)) return nullptr;
        std::string temp;
        std::FILE *f = open_temp(path, mode, temp);
        if (!f) return nullptr;
        Stream *s = stream_open_file(f, 0, kStreamNoLimit, false);
        s->target_path = path;
        s->temp_path = temp;
        return s;
    }
    std::FILE *f = nullptr;
    if (!(read && is_folder(path))) f = std::fopen(path.c_str(), mode);
    if (f) return stream_open_file(f, 0, kStreamNoLimit, false);
    if (!read) return nullptr;
    std::string gz = path + ".gz";
    if (is_folder(gz)) return nullptr;
    f = std::fopen(gz.c_str(), mode);
    if (!f) return nullptr;
    return stream_open_file(f, 0, kStreamNoLimit, true);
}

// Adds every file under folder (walked depth first) with names relative to the root.
void walk_folder(const fs::path &folder, const std::string &root, const std::string &prefix,
                 int source, std::set<fs::path> &seen) {
    std::error_code ec;
    fs::path real = fs::canonical(folder, ec);
    if (ec || !seen.insert(real).second) return; // unreadable, or a folder met through a link loop
    fs::directory_iterator it(folder, ec), end;
    if (ec) return;
    for (; it != end; it.increment(ec)) {
        if (ec) break;
        const fs::directory_entry &e = *it;
        std::string leaf = e.path().filename().string();
        if (leaf == "." || leaf == "..") continue;
        std::error_code sec;
        fs::file_status st = e.status(sec);
        if (sec) continue;
        std::string name = prefix + leaf;
        if (fs::is_directory(st)) {
            walk_folder(e.path(), root, name + "/", source, seen);
        } else {
            std::uintmax_t size = e.file_size(sec);
            if (sec) continue;
            FileIndexEntry entry;
            entry.path = normalise_path(root + name);
            entry.name = name;
            entry.size = static_cast<std::int64_t>(size);
            entry.source = source;
            g_vfs.index.push_back(std::move(entry));
        }
    }
}

void ensure_index() {
    ensure_roots();
    if (g_vfs.index_ready) return;
    g_vfs.index_ready = true;
    g_vfs.index.clear();
    g_vfs.listing.clear();
    int nroots = static_cast<int>(g_vfs.roots.size());
    for (int r = 0; r < nroots; ++r) {
        std::set<fs::path> seen;
        walk_folder(fs::path(g_vfs.roots[r]), g_vfs.roots[r], "", r, seen);
    }
    std::sort(g_vfs.index.begin(), g_vfs.index.end(), entry_less);

    std::vector<FileIndexEntry> members;
    int ordinal = 0;
    for (const FileIndexEntry &e : g_vfs.index) {
        if (e.name.size() < 5 || !ends_with_nocase(e.name, ".saf")) continue;
        int source = nroots + ordinal++;
        std::FILE *f = std::fopen(e.path.c_str(), "rb");
        if (!f) continue;
        Stream *s = stream_open_file(f, 0, kStreamNoLimit, false);
        std::vector<SafMember> header;
        if (saf_read_header(s, e.size, header)) {
            for (SafMember &m : header) {
                FileIndexEntry entry;
                entry.path = e.path;
                entry.name = std::move(m.name);
                entry.offset = m.offset;
                entry.size = m.size;
                entry.source = source;
                members.push_back(std::move(entry));
            }
        } else {
            log_printf("Ignoring archive %s: its header is malformed\n", e.path.c_str());
        }
        stream_free(s);
    }
    g_vfs.index.insert(g_vfs.index.end(), std::make_move_iterator(members.begin()),
                       std::make_move_iterator(members.end()));
    std::sort(g_vfs.index.begin(), g_vfs.index.end(), entry_less);

    for (const FileIndexEntry &e : g_vfs.index)
        if (g_vfs.listing.empty() || compare_nocase(g_vfs.listing.back(), e.name) != 0)
            g_vfs.listing.push_back(e.name);
}

// The first index entry (lowest source) whose name equals name without regard to case.
const FileIndexEntry *index_find(const std::string &name) {
    auto it = std::lower_bound(g_vfs.index.begin(), g_vfs.index.end(), name,
                               [](const FileIndexEntry &e, const std::string &key) {
                                   return compare_nocase(e.name, key) < 0;
                               });
    if (it == g_vfs.index.end() || compare_nocase(it->name, name) != 0) return nullptr;
    return &*it;
}

Stream *open_indexed(const std::string &rest) {
    const FileIndexEntry *e = index_find(rest);
    bool compressed = false;
    const FileIndexEntry *gz = index_find(rest + ".gz");
    if (gz && (!e || gz->source < e->source)) {
        e = gz;
        compressed = true;
    }
    if (!e) return nullptr;
    std::FILE *f = std::fopen(e->path.c_str(), "rb");
    if (!f) return nullptr;
    if (std::fseek(f, static_cast<long>(e->offset), SEEK_SET) != 0) {
        std::fclose(f);
        return nullptr;
    }
    return stream_open_file(f, e->offset, e->size, compressed);
}

// A home-folder path for vfs_rename: "@name" becomes root 0 + name.
bool home_path(const char *name, std::string &out) {
    if (name[0] == '@') {
        ensure_roots();
        out = normalise_path(g_vfs.roots[0] + (name + 1));
    } else {
        out = name;
    }
    return !out.empty() && out.size() <= kMaxPath;
}

} // namespace

Stream *vfs_open(const char *name, const char *mode) {
    if (!name || !mode || !*name) return nullptr;
    ensure_index();
    if (name[0] != '@') return open_direct(name, mode);
    const char *rest = name + 1;
    for (const std::string &root : g_vfs.roots) {
        Stream *s = open_direct(normalise_path(root + rest), mode);
        if (s) return s;
    }
    if (!is_read_mode(mode)) return nullptr;
    return open_indexed(rest);
}

bool vfs_close(Stream *s) {
    if (!s) return true;
    bool ok = true;
    if (!s->target_path.empty() && s->file) {
        bool written = std::fflush(s->file) == 0 && !std::ferror(s->file);
        // Commit the data before the rename so a power cut never leaves an empty file
        // in place of the old one.
        if (written && !file_sync(s->file)) written = false;
        if (std::fclose(s->file) != 0) written = false;
        s->file = nullptr;
        if (written && std::rename(s->temp_path.c_str(), s->target_path.c_str()) != 0) {
            log_printf("Could not replace %s: %s\n", s->target_path.c_str(), std::strerror(errno));
            written = false;
        } else if (!written) {
            log_printf("Could not write %s; the old file is kept\n", s->target_path.c_str());
        }
        if (!written) std::remove(s->temp_path.c_str());
        ok = written;
    }
    stream_free(s);
    return ok;
}

void vfs_close_discard(Stream *s) {
    if (!s) return;
    if (!s->target_path.empty() && s->file) {
        std::fclose(s->file);
        s->file = nullptr;
        std::remove(s->temp_path.c_str());
    }
    stream_free(s);
}

const std::vector<std::string> &vfs_list() {
    ensure_index();
    return g_vfs.listing;
}

const char *vfs_root(int i) {
    ensure_roots();
    if (i < 0 || i >= static_cast<int>(g_vfs.roots.size())) return nullptr;
    return g_vfs.roots[i].c_str();
}

bool vfs_entry_text(int i, char *buffer, int length) {
    ensure_index();
    if (i < 0 || i >= static_cast<int>(g_vfs.index.size())) return false;
    if (buffer && length > 0) {
        const FileIndexEntry &e = g_vfs.index[i];
        std::snprintf(buffer, static_cast<std::size_t>(length), "%s -> %s", e.name.c_str(),
                      e.path.c_str());
    }
    return true;
}

bool vfs_rename(const char *from, const char *to) {
    std::string a, b;
    if (!from || !to || !home_path(from, a) || !home_path(to, b)) return false;
    // rename replaces the target in one step, so a failed move never loses it.
    return std::rename(a.c_str(), b.c_str()) == 0;
}

void make_parent_folders(const char *path) {
    if (!path || std::strlen(path) > kMaxFolderPath) return;
    make_folders(path);
}

bool saf_read_header(Stream *s, std::int64_t archive_size, std::vector<SafMember> &members) {
    members.clear();
    std::int64_t header_bytes = 0;
    std::int64_t data_bytes = 0;
    std::string line;
    for (;;) {
        // One line, at most kSafHeaderLine characters including its line feed.
        line.clear();
        bool terminated = false;
        while (static_cast<int>(line.size()) < kSafHeaderLine) {
            int c = stream_getc(s);
            if (c < 0) break;
            line.push_back(static_cast<char>(c));
            if (c == '\n') {
                terminated = true;
                break;
            }
        }
        header_bytes += static_cast<std::int64_t>(line.size());
        if (!terminated) break;
        if (line == "-\n") {
            if (archive_size >= 0 && data_bytes > archive_size - header_bytes) break;
            std::int64_t offset = header_bytes;
            for (SafMember &m : members) {
                m.offset = offset;
                offset += m.size;
            }
            return true;
        }
        std::size_t i = 0;
        std::int64_t size = 0;
        bool number = true;
        while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) {
            if (size > (std::int64_t{1} << 50)) number = false; // far beyond any real file
            if (number) size = size * 10 + (line[i] - '0');
            ++i;
        }
        if (i == 0 || !number) break;
        // One separator character, then the name up to the line feed.
        if (line[i] == '\n') break;
        std::string name = line.substr(i + 1, line.size() - i - 2);
        if (name.empty() || name.find('\0') != std::string::npos) break;
        if (archive_size >= 0 && size > archive_size - data_bytes) break;
        data_bytes += size;
        members.push_back(SafMember{collapse_slashes(name), 0, size});
    }
    members.clear();
    return false;
}

void vfs_reset_for_tests() {
    g_vfs = VfsState();
}
