#include "support/tempdir.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <zlib.h>

#include "files/vfs.h"

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path p = base / ("vq-test-" + std::to_string(rd()));
        if (fs::create_directory(p, ec)) {
            path_ = p.string() + "/";
            return;
        }
    }
    std::abort(); // no temporary folder: nothing a test could do
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void TempDir::write(const std::string &rel, const std::string &contents) const {
    fs::path p = file(rel);
    std::error_code ec;
    fs::create_directories(p.parent_path(), ec);
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

std::string TempDir::read(const std::string &rel) const {
    std::ifstream in(file(rel), std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool TempDir::exists(const std::string &rel) const {
    std::error_code ec;
    return fs::exists(file(rel), ec);
}

std::vector<std::string> TempDir::entries(const std::string &rel) const {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(file(rel), ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

ScopedEnv::ScopedEnv(const char *name, const char *value) : name_(name) {
    const char *old = std::getenv(name);
    had_old_ = old != nullptr;
    if (old) old_ = old;
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (had_old_)
        setenv(name_.c_str(), old_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

VfsSandbox::VfsSandbox()
    : xdg_("XDG_DATA_HOME", (dir_.path() + "xdg").c_str()),
      vq_home_("VQ_HOME", (dir_.path() + "install").c_str()) {
    std::error_code ec;
    fs::create_directories(install(), ec);
    vfs_reset_for_tests();
}

VfsSandbox::~VfsSandbox() {
    vfs_reset_for_tests();
}

void VfsSandbox::write_home(const std::string &rel, const std::string &contents) const {
    dir_.write("xdg/Vantorq/" + rel, contents);
}

void VfsSandbox::write_install(const std::string &rel, const std::string &contents) const {
    dir_.write("install/" + rel, contents);
}

void VfsSandbox::reset() const {
    vfs_reset_for_tests();
}

std::string gzip_bytes(const std::string &data) {
    z_stream zs{};
    deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, data.size()) + 64, '\0');
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef *>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

std::string saf_bytes(const std::vector<std::pair<std::string, std::string>> &members) {
    std::string header, data;
    for (const auto &[name, contents] : members) {
        header += std::to_string(contents.size()) + " " + name + "\n";
        data += contents;
    }
    return header + "-\n" + data;
}
