#include "platform/paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

std::string normalise_path(const std::string &path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == '\\') c = '/';
        if (c == '/' && !out.empty() && out.back() == '/') continue;
        out.push_back(c);
    }
    return out;
}

std::string home_folder() {
    const char *xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg) return normalise_path(std::string(xdg) + "/Vantorq/");
    const char *home = std::getenv("HOME");
    if (home && *home) return normalise_path(std::string(home) + "/.local/share/Vantorq/");
    return std::string();
}

std::string exe_folder() {
    char buf[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0) return std::string("./");
    buf[n] = 0;
    std::string p(buf);
    std::size_t slash = p.rfind('/');
    if (slash == std::string::npos) return std::string("./");
    return p.substr(0, slash + 1);
}

bool make_folders(const std::string &path) {
    std::string p = normalise_path(path);
    for (std::size_t i = 1; i < p.size(); ++i) {
        if (p[i] == '/') {
            std::string part = p.substr(0, i);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
                // keep going: a later component may still be creatable
            }
        }
    }
    struct stat st {};
    std::string dir = p;
    std::size_t slash = dir.rfind('/');
    if (slash != std::string::npos && slash + 1 < dir.size()) dir = dir.substr(0, slash + 1);
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool file_sync(std::FILE *file) {
    if (!file || std::fflush(file) != 0) return false;
    return fsync(fileno(file)) == 0;
}
