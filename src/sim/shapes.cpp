#include "sim/shapes.h"

#include <cmath>
#include <memory>

#include "files/stream.h"
#include "files/vfs.h"
#include "platform/log.h"
#include "platform/messages.h"

namespace {

struct ShapeCache {
    std::vector<std::unique_ptr<CollisionShape>> shapes;
    std::vector<std::string> failed; // names whose load failed (not tried again)
    ShapeCache() { shapes.reserve(16); }
};

ShapeCache &cache() {
    static ShapeCache c;
    return c;
}

bool finite_all(const float *v, int n) {
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(v[i])) return false;
    return true;
}

// The smallest text one sphere can take: seven one-digit numbers with separators.
constexpr std::int64_t kMinSphereChars = 13;

bool shape_read(const char *name, Stream *s, CollisionShape &out) {
    int n = 0;
    if (stream_scan(s, "%d", &n) != 1) {
        show_messagef("Bad collision shape '%.200s': no sphere count", name);
        return false;
    }
    std::int64_t remaining = stream_remaining(s);
    if (n < 1 || n > kShapeMaxSpheres || (remaining >= 0 && n * kMinSphereChars > remaining + 1)) {
        show_messagef("Bad collision shape '%.200s': sphere count %d", name, n);
        return false;
    }
    CollisionShape shape;
    shape.name = name;
    shape.spheres.reserve(std::size_t(n < 256 ? n : 256));
    for (int i = 0; i < n; ++i) {
        ShapeSphere sp{};
        if (stream_scan(s, "%f %f %f", &sp.centre[0], &sp.centre[1], &sp.centre[2]) != 3 ||
            stream_scan(s, "%f %f %f %f", &sp.radius, &sp.friction, &sp.stiffness, &sp.damping) !=
                4) {
            show_messagef("Bad collision shape '%.200s': sphere %d does not read", name, i);
            return false;
        }
        if (!finite_all(sp.centre, 3) || !finite_all(&sp.radius, 4)) {
            show_messagef("Bad collision shape '%.200s': sphere %d has a non-finite value", name,
                          i);
            return false;
        }
        if (sp.radius <= 0) {
            show_messagef("Bad collision shape '%.200s': sphere %d has radius %g", name, i,
                          double(sp.radius));
            return false;
        }
        if (sp.friction < 0 || sp.stiffness < 0 || sp.damping < 0) {
            show_messagef("Bad collision shape '%.200s': sphere %d has a negative coefficient",
                          name, i);
            return false;
        }
        if (sp.stiffness == 0 && sp.damping == 0) {
            show_messagef("Bad collision shape '%.200s': sphere %d has no stiffness and no damping",
                          name, i);
            return false;
        }
        double reach =
            std::sqrt(double(sp.centre[0]) * sp.centre[0] + double(sp.centre[1]) * sp.centre[1] +
                      double(sp.centre[2]) * sp.centre[2]) +
            sp.radius;
        if (reach > shape.bounding_radius) shape.bounding_radius = float(reach);
        shape.spheres.push_back(sp);
    }
    out = std::move(shape);
    return true;
}

} // namespace

bool shape_parse(const char *name, const char *text, std::size_t length, CollisionShape &out) {
    if (!name) name = "";
    Stream *s = stream_open_memory(text, length, false);
    if (!s) return false;
    bool ok = shape_read(name, s, out);
    vfs_close(s);
    return ok;
}

const CollisionShape *shape_load(const char *path) {
    if (!path || !*path) return nullptr;
    ShapeCache &c = cache();
    for (const auto &shape : c.shapes)
        if (shape->name == path) return shape.get();
    for (const std::string &name : c.failed)
        if (name == path) return nullptr;
    Stream *s = vfs_open(path, "rb");
    if (!s) {
        log_printf("Can't load collision shape '%.200s'\n", path);
        c.failed.push_back(path);
        return nullptr;
    }
    auto shape = std::make_unique<CollisionShape>();
    bool ok = shape_read(path, s, *shape);
    vfs_close(s);
    if (!ok) {
        c.failed.push_back(path);
        return nullptr;
    }
    if (c.shapes.size() == c.shapes.capacity()) c.shapes.reserve(c.shapes.size() * 2);
    c.shapes.push_back(std::move(shape));
    return c.shapes.back().get();
}

void shapes_free_all() {
    cache().shapes.clear();
    cache().failed.clear();
}
