#include "track/gates.h"

#include "files/stream.h"
#include "files/vfs.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/process.h"
#include "track/hooks.h"

#include <cmath>
#include <cstring>
#include <numbers>

const char *const kStartGateModel = "@startgate.zm";
const char *const kStartGateTexture = "@startgate.ppm";
const char *const kStartGateShape = "@startgate.shp";

namespace {

GateData g_gates;

// Far above any real file (a few kilobytes); bounds what a hostile file can make us hold.
constexpr std::int64_t kMaxFileBytes = std::int64_t(4) << 20;

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// A keyword at text[pos] counts only when white space or the end of the text follows.
bool keyword_at(const char *text, std::size_t length, std::size_t pos, const char *keyword) {
    std::size_t n = std::strlen(keyword);
    if (pos + n > length || std::memcmp(text + pos, keyword, n) != 0) return false;
    return pos + n == length || is_space(text[pos + n]);
}

std::string name_or_empty(const char *word) {
    return std::strcmp(word, "null") == 0 ? std::string() : std::string(word);
}

bool finite_all(const float *v, int n) {
    for (int i = 0; i < n; i++) {
        if (!std::isfinite(v[i])) return false;
    }
    return true;
}

// One start position line; false when it holds fewer than four numbers.
bool parse_start_line(const char *line, std::size_t length, StartPosition &pos) {
    Stream *s = stream_open_memory(line, length, false);
    if (!s) return false;
    float v[4] = {0, 0, 0, 0};
    char model[1024], texture[1024], shape[1024];
    model[0] = texture[0] = shape[0] = 0;
    int n = stream_scan(s, " [ %f %f %f ] %f %1023s %1023s %1023s", &v[0], &v[1], &v[2], &v[3],
                        model, texture, shape);
    stream_free(s);
    if (n < 4 || !finite_all(v, 4)) return false;
    pos = StartPosition();
    pos.x = v[0];
    pos.y = v[1];
    pos.z = v[2];
    pos.angle = float(std::remainder(double(v[3]), 2.0 * std::numbers::pi));
    if (n >= 5) pos.model = name_or_empty(model);
    if (n >= 6) pos.texture = name_or_empty(texture);
    if (n >= 7) pos.shape = name_or_empty(shape);
    return true;
}

void read_lap_list(Stream *s, std::vector<int> &list) {
    list.clear();
    while (int(list.size()) < kMaxLapEntries) {
        int v = 0;
        if (stream_scan(s, " %d", &v) != 1) break;
        list.push_back(v);
    }
}

bool read_keyword(Stream *s, const char *keyword) {
    char word[1024];
    return stream_scan(s, " %1023s", word) == 1 && std::strcmp(word, keyword) == 0;
}

void clean_lap_list(std::vector<int> &list, int checkpoint_count, int &segments) {
    segments = 0;
    for (int &e : list) {
        if (e < 0) e = 0;
        int flag = e >= kGateNoSplitFlag ? kGateNoSplitFlag : 0;
        int index = e % kGateNoSplitFlag;
        if (index > checkpoint_count - 1) index = checkpoint_count - 1;
        if (index < 0) index = 0;
        e = flag + index;
        if (!flag) segments++;
    }
}

void drop_timing(GateData &d) {
    d.checkpoints.clear();
    d.first_lap.clear();
    d.normal_lap.clear();
    d.first_lap_segments = d.normal_lap_segments = 0;
}

// Reads the checkpoints and lap lists from text[pos..].
bool parse_timing(const char *text, std::size_t length, std::size_t pos, GateData &out) {
    Stream *s = stream_open_memory(text + pos, length - pos, false);
    if (!s) return false;
    while (int(out.checkpoints.size()) < kMaxCheckpoints) {
        Checkpoint c;
        if (stream_scan(s, "%f [ %f %f %f ] [ %f %f %f ]", &c.radius, &c.centre[0], &c.centre[1],
                        &c.centre[2], &c.direction[0], &c.direction[1], &c.direction[2]) != 7 ||
            !finite_all(&c.radius, 1) || !finite_all(c.centre, 3) || !finite_all(c.direction, 3)) {
            break;
        }
        out.checkpoints.push_back(c);
    }
    bool ok = read_keyword(s, "firstlap:");
    if (ok) read_lap_list(s, out.first_lap);
    ok = ok && read_keyword(s, "normallap:");
    if (ok) read_lap_list(s, out.normal_lap);
    stream_free(s);
    return ok;
}

} // namespace

GateData &gates() {
    return g_gates;
}

bool gates_parse(const char *text, std::size_t length, GateData &out) {
    out = GateData();
    std::size_t pos = 0;
    while (pos < length && is_space(text[pos])) pos++;
    std::size_t timing_pos = 0;
    bool have_timing = false;
    if (keyword_at(text, length, pos, "startinggate:")) {
        pos += std::strlen("startinggate:");
        // One position per line, starting with the rest of the keyword's line.
        while (pos < length) {
            std::size_t end = pos;
            while (end < length && text[end] != '\n') end++;
            std::size_t next = end < length ? end + 1 : end;
            std::size_t p = pos;
            while (p < end && is_space(text[p])) p++;
            if (p == end) {
                // A blank line carries nothing; skipping it keeps a harmless empty line
                // from ending the section.
                pos = next;
                continue;
            }
            if (keyword_at(text, end, p, "checkpoints:")) {
                timing_pos = p + std::strlen("checkpoints:");
                have_timing = true;
                break;
            }
            StartPosition sp;
            if (!parse_start_line(text + pos, end - pos, sp)) break; // timing dropped
            if (int(out.starts.size()) + 1 >= kMaxStartPositions) {
                show_messagef("timing_gates: %d or more start positions, the file is ignored",
                              kMaxStartPositions);
                out = GateData();
                return false;
            }
            out.starts.push_back(sp);
            pos = next;
        }
    } else if (keyword_at(text, length, pos, "checkpoints:")) {
        timing_pos = pos + std::strlen("checkpoints:");
        have_timing = true;
    }
    if (!have_timing || !parse_timing(text, length, timing_pos, out)) {
        drop_timing(out);
        return false;
    }
    int count = int(out.checkpoints.size());
    clean_lap_list(out.first_lap, count, out.first_lap_segments);
    clean_lap_list(out.normal_lap, count, out.normal_lap_segments);
    if (count == 0 || out.first_lap_segments == 0 || out.normal_lap_segments == 0) {
        drop_timing(out);
        return false;
    }
    return true;
}

void gates_load(const char *path) {
    gates_free();
    Stream *s = vfs_open(path, "rb");
    if (!s) return;
    std::string text;
    char chunk[4096];
    std::size_t got;
    while ((got = stream_read(s, chunk, sizeof chunk)) > 0) {
        text.append(chunk, got);
        if (std::int64_t(text.size()) > kMaxFileBytes) break;
    }
    vfs_close(s);
    if (std::int64_t(text.size()) > kMaxFileBytes) {
        show_messagef("'%.900s' is too large, the track has no timing", path);
        return;
    }
    GateData &d = g_gates;
    bool accepted = gates_parse(text.data(), text.size(), d);
    const TrackHooks &hooks = track_hooks();
    for (StartPosition &p : d.starts) {
        p.gate_statue = -1;
        p.gate_raise = 1.0f;
        if (!hooks.statue_add) continue;
        auto name = [](const std::string &n) { return n.empty() ? nullptr : n.c_str(); };
        p.gate_statue =
            hooks.statue_add(p.x - 3.0f * std::sin(p.angle), p.y, p.z - 3.0f * std::cos(p.angle),
                             p.angle, name(p.model), name(p.texture), name(p.shape));
    }
    if (!accepted) return;
    if (process_flags().debug_level >= 1) {
        log_printf("Found %d timing gates, first lap has %d gates, normal lap has %d\n",
                   int(d.checkpoints.size()), int(d.first_lap.size()), int(d.normal_lap.size()));
    }
    if (hooks.line_slots_create)
        hooks.line_slots_create(d.first_lap_segments + d.normal_lap_segments);
}

void gates_free() {
    g_gates = GateData();
}

bool gates_write(Stream *s, const GateData &data) {
    bool ok = true;
    auto name = [](const std::string &n) { return n.empty() ? "null" : n.c_str(); };
    if (!data.starts.empty()) {
        ok = ok && stream_puts(s, "startinggate:\n") >= 0;
        for (const StartPosition &p : data.starts) {
            ok = ok && stream_printf(s, "[%f %f %f]", double(p.x), double(p.y), double(p.z)) >= 0;
            ok = ok && stream_printf(s, " %f", double(p.angle)) >= 0;
            if (p.model == kStartGateModel && p.texture == kStartGateTexture &&
                p.shape == kStartGateShape) {
                ok = ok && stream_puts(s, "\n") >= 0;
            } else {
                ok = ok && stream_printf(s, " %s %s %s\n", name(p.model), name(p.texture),
                                         name(p.shape)) >= 0;
            }
        }
    }
    if (!data.checkpoints.empty()) {
        ok = ok && stream_puts(s, "checkpoints:\n") >= 0;
        for (const Checkpoint &c : data.checkpoints) {
            ok = ok && stream_printf(s, "%f ", double(c.radius)) >= 0;
            ok = ok && stream_printf(s, "[%f %f %f]", double(c.centre[0]), double(c.centre[1]),
                                     double(c.centre[2])) >= 0;
            ok = ok && stream_puts(s, " ") >= 0;
            ok = ok && stream_printf(s, "[%f %f %f]", double(c.direction[0]),
                                     double(c.direction[1]), double(c.direction[2])) >= 0;
            ok = ok && stream_puts(s, "\n") >= 0;
        }
    }
    const std::pair<const char *, const std::vector<int> *> lists[] = {
        {"firstlap:\n", &data.first_lap}, {"normallap:\n", &data.normal_lap}};
    for (const auto &[keyword, list] : lists) {
        if (list->empty()) continue;
        ok = ok && stream_puts(s, keyword) >= 0;
        for (int e : *list) ok = ok && stream_printf(s, "%d ", e) >= 0;
        ok = ok && stream_puts(s, "\n") >= 0;
    }
    return ok;
}

bool gates_save_file(const char *path, const GateData &data) {
    Stream *s = vfs_open(path, "wb");
    if (!s) {
        show_message("Can't open 'timing_gates'\n");
        return false;
    }
    if (!gates_write(s, data)) {
        vfs_close_discard(s);
        return false;
    }
    return vfs_close(s);
}

bool gates_save(const char *folder) {
    std::string path = std::string(folder) + "/timing_gates";
    return gates_save_file(path.c_str(), g_gates);
}

bool gate_contains(const Checkpoint &gate, double x, double z) {
    double dx = x - gate.centre[0], dz = z - gate.centre[2];
    if (dx * dx + dz * dz > double(gate.radius) * gate.radius) return false;
    return dx * gate.direction[0] + dz * gate.direction[2] >= 0.0;
}

int gate_entry(const GateData &data, int s) {
    int first = int(data.first_lap.size()), normal = int(data.normal_lap.size());
    if (s < 0) s = 0;
    if (s < first) return data.first_lap[std::size_t(s)];
    if (normal == 0) return first > 0 ? data.first_lap.back() : 0;
    return data.normal_lap[std::size_t((s - first) % normal)];
}

int gate_checkpoint(const GateData &data, int s) {
    return gate_entry(data, s) % kGateNoSplitFlag;
}

bool gate_is_lap_end(const GateData &data, int s) {
    int first = int(data.first_lap.size()), normal = int(data.normal_lap.size());
    if (s == first - 1) return true;
    return normal > 0 && s >= first && (s - first + 1) % normal == 0;
}

long long gate_lap_end_index(const GateData &data, long long lap) {
    return (long long)data.first_lap.size() - 1 + (lap - 1) * (long long)data.normal_lap.size();
}

int segment_of(const GateData &data, int s) {
    int first = int(data.first_lap.size()), normal = int(data.normal_lap.size());
    auto unflagged = [](const std::vector<int> &list, int count) {
        int n = 0;
        for (int k = 0; k < count; k++) n += list[std::size_t(k)] < kGateNoSplitFlag;
        return n;
    };
    if (s <= 0) return 0;
    if (s <= first) return unflagged(data.first_lap, s);
    if (normal == 0) return data.first_lap_segments;
    int k = s - first;
    return data.first_lap_segments + (k / normal) * data.normal_lap_segments +
           unflagged(data.normal_lap, k % normal);
}

int segment_of(int s) {
    return segment_of(g_gates, s);
}
