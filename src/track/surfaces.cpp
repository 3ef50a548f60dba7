#include "track/surfaces.h"

#include "files/stream.h"
#include "platform/messages.h"
#include "track/hooks.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>

namespace {

// Scans a piece of text with the program's scanner.
int scan_text(const std::string &text, const char *format, ...) {
    Stream *s = stream_open_memory(text.data(), text.size(), false);
    if (!s) return -1;
    va_list ap;
    va_start(ap, format);
    int n = stream_vscan(s, format, ap);
    va_end(ap);
    stream_free(s);
    return n;
}

int load_texture(const char *name) {
    const TrackHooks &hooks = track_hooks();
    return hooks.texture_load ? hooks.texture_load(name) : 0;
}

// The name of a texture path: a leading "@" ignored, the part after the last "/".
std::string texture_name_of(const std::string &path) {
    std::string p = (!path.empty() && path[0] == '@') ? path.substr(1) : path;
    std::size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

template <typename T> T clamp_to(float v, float lo, float hi) {
    if (!(v >= lo)) v = lo; // also NaN
    if (v > hi) v = hi;
    return T(v);
}

struct RoostField {
    const char *name;
    std::size_t offset; // byte offset of the float field, or of the byte field
    int kind;           // 0 float, 1 colour byte, 2 fade byte
};

const RoostField kRoostFields[] = {
    {"count", offsetof(RoostSpec, count), 0},
    {"dig", offsetof(RoostSpec, dig), 0},
    {"slip_threshold", offsetof(RoostSpec, slip_threshold), 0},
    {"slow_angle", offsetof(RoostSpec, slow_angle), 0},
    {"fast_angle", offsetof(RoostSpec, fast_angle), 0},
    {"slow_speed", offsetof(RoostSpec, slow_speed), 0},
    {"fast_speed", offsetof(RoostSpec, fast_speed), 0},
    {"size", offsetof(RoostSpec, size), 0},
    {"grow", offsetof(RoostSpec, grow), 0},
    {"drag", offsetof(RoostSpec, drag), 0},
    {"vscale", offsetof(RoostSpec, vscale), 0},
    {"randomize", offsetof(RoostSpec, randomize), 0},
    {"r", offsetof(RoostSpec, r), 1},
    {"g", offsetof(RoostSpec, g), 1},
    {"b", offsetof(RoostSpec, b), 1},
    {"a", offsetof(RoostSpec, a), 1},
    {"fade_r", offsetof(RoostSpec, fade_r), 2},
    {"fade_g", offsetof(RoostSpec, fade_g), 2},
    {"fade_b", offsetof(RoostSpec, fade_b), 2},
    {"fade_a", offsetof(RoostSpec, fade_a), 2},
};

// Splits a roost value into words: separators are blank, form feed, line feed, carriage
// return, tab and backspace; a double quote starts a stretch that runs to the next one.
std::vector<std::string> roost_words(const std::string &value) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false, quoted = false;
    for (char c : value) {
        if (quoted) {
            if (c == '"')
                quoted = false;
            else
                word += c;
            continue;
        }
        if (c == '"') {
            quoted = true;
            in_word = true;
            continue;
        }
        if (std::strchr(" \f\n\r\t\b", c) && c != 0) {
            if (in_word) words.push_back(word);
            word.clear();
            in_word = false;
            continue;
        }
        word += c;
        in_word = true;
    }
    if (in_word) words.push_back(word);
    return words;
}

bool starts_with(const std::string &text, const std::string &prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Reads one number after "=" in a roost word.
bool roost_number(const std::string &rest, float &value) {
    float v = 0;
    if (scan_text(rest, "%f", &v) != 1 || !std::isfinite(v)) return false;
    value = v;
    return true;
}

void read_roost(RoostSpec &slot, const std::string &value) {
    slot = roost_spec_default();
    slot.kind = 1;
    for (const std::string &word : roost_words(value)) {
        if (starts_with(word, "texture=")) {
            slot.texture = load_texture(word.c_str() + 8);
            continue;
        }
        if (starts_with(word, "splash=")) {
            float v;
            if (roost_number(word.substr(7), v) && v != 0.0f) slot.kind = 2;
            continue;
        }
        const RoostField *field = nullptr;
        for (const RoostField &f : kRoostFields) {
            if (starts_with(word, std::string(f.name) + "=")) {
                field = &f;
                break;
            }
        }
        if (!field) {
            show_messagef("tileinfo warning: unknown roost parameter '%.40s'\n", word.c_str());
            continue;
        }
        float v;
        if (!roost_number(word.substr(std::strlen(field->name) + 1), v)) {
            show_messagef("tileinfo warning: bad %s\n", field->name);
            continue;
        }
        char *base = reinterpret_cast<char *>(&slot) + field->offset;
        if (field->kind == 0) {
            *reinterpret_cast<float *>(base) = v;
        } else if (field->kind == 1) {
            *reinterpret_cast<std::uint8_t *>(base) = clamp_to<std::uint8_t>(v, 0.0f, 255.0f);
        } else {
            *reinterpret_cast<std::int8_t *>(base) =
                clamp_to<std::int8_t>(v * (1.0f / 128.0f), -128.0f, 127.0f);
        }
    }
}

struct ErodeKey {
    const char *name;
    float ErodeSpec::*field;
};

const ErodeKey kErodeKeys[] = {
    {"erode_depth", &ErodeSpec::depth},         {"erode_lower", &ErodeSpec::lower},
    {"erode_upper", &ErodeSpec::upper},         {"erode_displacement", &ErodeSpec::displacement},
    {"erode_radius", &ErodeSpec::radius},       {"erode_max_slope", &ErodeSpec::max_slope},
    {"erode_off_speed", &ErodeSpec::off_speed}, {"erode_on_speed", &ErodeSpec::on_speed},
};

// The type being built from "tileinfo" statements.
struct TileBuilder {
    TileType tile = tile_type_default();
    int friction_count = 0;
    int roll_count = 0;
    int roost_count = 0;
};

void finish_tile(TileBuilder &b, std::vector<TileType> &tiles) {
    TileType &t = b.tile;
    if (b.friction_count > 1) {
        std::stable_sort(
            t.friction, t.friction + b.friction_count,
            [](const FrictionPoint &x, const FrictionPoint &y) { return x.key < y.key; });
    }
    if (b.roll_count > 1) {
        std::stable_sort(
            t.roll_resist, t.roll_resist + b.roll_count,
            [](const RollResistPoint &x, const RollResistPoint &y) { return x.key < y.key; });
    }
    t.name = texture_name_of(t.texture_path);
    tiles.push_back(t);
    b = TileBuilder();
}

float clamp_key(float key) {
    return key > kMinKeySpeed ? key : kMinKeySpeed;
}

void tileinfo_statement(TileBuilder &b, const std::string &keyword, const std::string &value) {
    TileType &t = b.tile;
    if (keyword == "texture") {
        t.texture_path = value;
        t.texture = load_texture(value.c_str());
    } else if (keyword == "friction") {
        float c = 0, k = 0;
        if (b.friction_count >= kCurvePoints) {
            show_message("tileinfo warning: too many friction points\n");
        } else if (scan_text(value, "%f %f", &c, &k) != 2 || !std::isfinite(c) ||
                   !std::isfinite(k)) {
            show_message("tileinfo warning: bad friction parameters\n");
        } else {
            t.friction[b.friction_count++] = {c < 0 ? 0.0f : c, clamp_key(k)};
        }
    } else if (keyword == "roll_resist") {
        float a = 0, bb = 0, k = 0;
        if (b.roll_count >= kCurvePoints) {
            show_message("tileinfo warning: too many roll_resist points\n");
        } else if (scan_text(value, "%f %f %f", &a, &bb, &k) != 3 || !std::isfinite(a) ||
                   !std::isfinite(bb) || !std::isfinite(k)) {
            show_message("tileinfo warning: bad roll_resist parameters\n");
        } else {
            t.roll_resist[b.roll_count++] = {a < 0 ? 0.0f : a, bb < 0 ? 0.0f : bb, clamp_key(k)};
        }
    } else if (keyword == "roost") {
        if (b.roost_count >= kRoostSlots) {
            show_message("tileinfo warning: too many roost types\n");
        } else {
            read_roost(t.roost[b.roost_count++], value);
        }
    } else {
        for (const ErodeKey &e : kErodeKeys) {
            if (keyword == e.name) {
                float v = 0;
                if (scan_text(value, "%f", &v) != 1 || !std::isfinite(v)) {
                    show_messagef("tileinfo warning: bad %s\n", e.name);
                } else {
                    t.erode.*e.field = v;
                }
                return;
            }
        }
        show_messagef("tileinfo warning: Unknown identifier '%.950s'\n", keyword.c_str());
    }
}

// Compares name up to its first '-' (exclusive), given as [p, p + len), with the type
// name up to its first '.'.
bool part_matches(const char *p, std::size_t len, const std::string &type_name) {
    std::size_t dot = type_name.find('.');
    std::size_t tlen = dot == std::string::npos ? type_name.size() : dot;
    return tlen == len && type_name.compare(0, len, p, len) == 0;
}

int find_type(const std::vector<TileType> &tiles, const char *p, std::size_t len) {
    for (std::size_t i = 0; i < tiles.size(); i++) {
        if (part_matches(p, len, tiles[i].name)) return int(i);
    }
    return -1;
}

} // namespace

RoostSpec roost_spec_default() {
    RoostSpec r;
    r.kind = 0;
    r.texture = load_texture("@roost.png");
    r.count = 10.0f;
    r.dig = 1.0f;
    r.slip_threshold = 4.0f;
    r.slow_angle = 1.5707964f;
    r.fast_angle = 0.19634955f;
    r.slow_speed = 0.0f;
    r.fast_speed = 64.0f;
    r.size = 0.25f;
    r.grow = 4.0f;
    r.drag = 0.5f;
    r.vscale = 1.0f;
    r.randomize = 15.0f;
    r.r = r.g = r.b = r.a = 255;
    r.fade_r = r.fade_g = r.fade_b = 0;
    r.fade_a = -2;
    return r;
}

TileType tile_type_default() {
    TileType t;
    for (int i = 0; i < kCurvePoints; i++) {
        t.friction[i] = {1.0f, i == 0 ? 1.0f : 0.0f};
        t.roll_resist[i] = {5.0f, 15.0f, i == 0 ? 1.0f : 0.0f};
    }
    RoostSpec roost = roost_spec_default();
    for (RoostSpec &r : t.roost) r = roost;
    return t;
}

void tileinfo_read(Stream *s, std::vector<TileType> &tiles) {
    tiles.clear();
    TileBuilder builder;
    char line[1024];
    while (int(tiles.size()) < kMaxTileTypes && stream_gets(s, line, sizeof line)) {
        const char *p = line;
        while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') p++;
        if (!*p) continue;
        const char *kw_end = p;
        while (*kw_end && !std::strchr(" \t\r\n", *kw_end)) kw_end++;
        std::string keyword(p, kw_end);
        const char *v = kw_end;
        while (*v == ' ' || *v == '\t') v++;
        const char *v_end = v;
        while (*v_end && *v_end != '\r' && *v_end != '\n') v_end++;
        std::string value(v, v_end);
        if (keyword == "addtile")
            finish_tile(builder, tiles);
        else
            tileinfo_statement(builder, keyword, value);
    }
}

void texturelist_read(Stream *s, std::vector<TileType> &tiles) {
    tiles.clear();
    char line[1024];
    while (int(tiles.size()) < kMaxTileTypes && stream_gets(s, line, sizeof line)) {
        std::string text(line);
        // Only the line end is removed from the texture name.
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        std::size_t start = 0;
        while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start])))
            start++;
        text.erase(0, start);
        if (text.empty()) continue;
        float friction = 1.0f, a = 5.0f, b = 15.0f;
        int used = 0;
        std::string name = text;
        float f0 = 0, f1 = 0, f2 = 0;
        if (scan_text(text, "%f %f %f%n", &f0, &f1, &f2, &used) == 3 && std::isfinite(f0) &&
            std::isfinite(f1) && std::isfinite(f2)) {
            friction = f0 < 0 ? 0.0f : f0;
            a = f1 < 0 ? 0.0f : f1;
            b = f2 < 0 ? 0.0f : f2;
            std::size_t n = std::size_t(used);
            while (n < text.size() && std::isspace(static_cast<unsigned char>(text[n]))) n++;
            name = text.substr(n);
        }
        TileType t = tile_type_default();
        for (int i = 0; i < kCurvePoints; i++) {
            t.friction[i].coefficient = friction;
            t.roll_resist[i].a = a;
            t.roll_resist[i].b = b;
        }
        t.roost[0].kind = 1;
        t.texture_path = "@" + name;
        t.texture = load_texture(t.texture_path.c_str());
        t.name = texture_name_of(t.texture_path);
        tiles.push_back(t);
    }
}

std::vector<int> surface_transition_codes(const std::vector<TileType> &tiles) {
    std::vector<int> codes(tiles.size());
    for (std::size_t t = 0; t < tiles.size(); t++) {
        const std::string &name = tiles[t].name;
        int own = int(t) * 65536 + int(t) * 256;
        codes[t] = own;
        std::size_t dash = name.find('-');
        if (dash == std::string::npos) continue;
        int i = find_type(tiles, name.c_str(), dash);
        if (i < 0) continue;
        const char *rest = name.c_str() + dash + 1;
        if (std::strncmp(rest, "alt", 3) == 0 &&
            std::isdigit(static_cast<unsigned char>(rest[3]))) {
            codes[t] = i * 65536 + i * 256;
            continue;
        }
        const char *dash2 = std::strchr(rest, '-');
        std::size_t other_len = dash2 ? std::size_t(dash2 - rest) : std::strlen(rest);
        int j = find_type(tiles, rest, other_len);
        if (j < 0) continue; // no type named as the second part: a plain type
        int code = i * 65536 + j * 256;
        if (dash2) {
            const char *bits = dash2 + 1;
            int value = 0;
            bool valid = true;
            for (int k = 0; k < 4; k++) {
                if (bits[k] != '0' && bits[k] != '1') {
                    valid = false;
                    break;
                }
                value = value * 2 + (bits[k] - '0');
            }
            if (valid) code += value;
        }
        codes[t] = code;
    }
    return codes;
}

float surface_friction(const TileType &tile, float sliding_speed) {
    const FrictionPoint *f = tile.friction;
    double s2 = double(sliding_speed) * sliding_speed;
    int k = 0;
    while (k < kCurvePoints && !(f[k].key == 0.0f || double(f[k].key) * f[k].key > s2)) k++;
    if (k == 0) return f[0].coefficient;
    if (k < kCurvePoints && f[k].key != 0.0f) {
        double lo = double(f[k - 1].key) * f[k - 1].key;
        double hi = double(f[k].key) * f[k].key;
        double t = hi > lo ? (s2 - lo) / (hi - lo) : 1.0;
        if (!(t >= 0.0)) t = 0.0;
        if (t > 1.0) t = 1.0;
        return float(f[k - 1].coefficient + t * (double(f[k].coefficient) - f[k - 1].coefficient));
    }
    return f[k - 1].coefficient;
}

RollResist surface_roll_resist(const TileType &tile, float rolling_speed) {
    const RollResistPoint *p = tile.roll_resist;
    int k = 0;
    while (k < kCurvePoints && !(p[k].key == 0.0f || p[k].key > rolling_speed)) k++;
    if (k == 0) return {p[0].a, p[0].b};
    if (k < kCurvePoints && p[k].key != 0.0f) {
        double lo = p[k - 1].key, hi = p[k].key;
        double t = hi > lo ? (double(rolling_speed) - lo) / (hi - lo) : 1.0;
        if (!(t >= 0.0)) t = 0.0;
        if (t > 1.0) t = 1.0;
        return {float(p[k - 1].a + t * (double(p[k].a) - p[k - 1].a)),
                float(p[k - 1].b + t * (double(p[k].b) - p[k - 1].b))};
    }
    return {p[k - 1].a, p[k - 1].b};
}
