#include "core/datacheck.h"

#include "files/stream.h"
#include "files/vfs.h"
#include "track/ripemd160.h"

#include <string>

const char *const kPhysicsFiles[7] = {
    "@generic_frame.shp",    "@generic_fork_upper.shp", "@generic_fork_lower.shp",
    "@generic_swingarm.shp", "@front_wheel.shp",        "@rear_wheel.shp",
    "@generic_rider.shp",
};

int data_check(const char *expected_hex) {
    for (int i = 0; vfs_root(i); ++i) {
        std::string path = std::string(vfs_root(i)) + "zzzz.saf";
        Stream *s = vfs_open(path.c_str(), "rb");
        if (!s) continue;
        Ripemd160 ctx;
        ripemd160_init(ctx);
        unsigned char buf[256];
        std::size_t total = 0;
        while (total < 1048576) {
            std::size_t n = stream_read(s, buf, sizeof buf);
            if (n == 0) break;
            if (total + n > 1048576) n = 1048576 - total;
            ripemd160_update(ctx, buf, n);
            total += n;
        }
        vfs_close(s);
        Digest d = ripemd160_final(ctx);
        if (digest_equals_hex(expected_hex, d)) return i;
    }
    return -1;
}

std::string physics_files_digest() {
    Ripemd160 ctx;
    ripemd160_init(ctx);
    for (const char *name : kPhysicsFiles) {
        Stream *s = vfs_open(name, "rb");
        if (!s) continue;
        unsigned char buf[4096];
        std::size_t n;
        while ((n = stream_read(s, buf, sizeof buf)) > 0) ripemd160_update(ctx, buf, n);
        vfs_close(s);
    }
    return digest_to_hex(ripemd160_final(ctx));
}
