// Test helpers: a temporary folder, environment variable guards, a sandbox for the
// virtual file system, and gzip encoding for test data.
#pragma once
#include <string>
#include <vector>

// A fresh folder under $TMPDIR (or /tmp), removed with its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    // The folder, ending in "/".
    const std::string &path() const { return path_; }
    // path() + rel.
    std::string file(const std::string &rel) const { return path_ + rel; }
    // Writes contents to rel (binary), creating the folders on the way.
    void write(const std::string &rel, const std::string &contents) const;
    // The contents of rel, or "" when it cannot be read.
    std::string read(const std::string &rel) const;
    bool exists(const std::string &rel) const;
    // The names of the entries directly inside folder rel ("" = the folder itself), sorted.
    std::vector<std::string> entries(const std::string &rel = "") const;

private:
    std::string path_;
};

// Sets (or with null, unsets) an environment variable; restores the old value on destruction.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string name_, old_;
    bool had_old_;
};

// A private home folder and installation folder for the virtual file system:
// XDG_DATA_HOME points into the sandbox (so root 0 is home()), VQ_HOME is install(), and
// the roots and index are forgotten on creation and destruction.
class VfsSandbox {
public:
    VfsSandbox();
    ~VfsSandbox();
    // Root 0 and root 1, both ending in "/".
    std::string home() const { return dir_.file("xdg/Vantorq/"); }
    std::string install() const { return dir_.file("install/"); }
    const TempDir &dir() const { return dir_; }
    // Writes a file below home() or install() (rel is relative to that root).
    void write_home(const std::string &rel, const std::string &contents) const;
    void write_install(const std::string &rel, const std::string &contents) const;
    // Forgets roots and index again (after adding files, to rebuild the index).
    void reset() const;

private:
    TempDir dir_;
    ScopedEnv xdg_, vq_home_;
};

// The gzip encoding (header, raw deflate, trailer) of data.
std::string gzip_bytes(const std::string &data);
// A ".saf" archive holding the given (name, contents) members in order.
std::string saf_bytes(const std::vector<std::pair<std::string, std::string>> &members);
