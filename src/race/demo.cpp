#include "race/demo.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "files/settings.h"
#include "files/stream.h"
#include "files/vfs.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "race/history.h"
#include "race/session.h"
#include "race/standings.h"
#include "race/timing.h"
#include "sim/bike.h"
#include "sim/roost.h"
#include "sim/state_record.h"
#include "sim/world.h"
#include "track/gates.h"
#include "track/track.h"

namespace {

// Compressed demos are unpacked into memory (to be seekable) up to this size.
constexpr std::int64_t kMaxUnpacked = std::int64_t(1) << 30;
constexpr int kBlocksPerRead = 128;
constexpr int kOldStepsAhead = 8;      // versions 4 and 5 read this far past the clock
constexpr int kOldStepsPerRead = 4096; // and at most this many steps per call
constexpr std::size_t kFieldMax = 200; // longest text field written in a head
constexpr int kClockMax = INT_MAX / 2; // times beyond this are treated as damage
constexpr int kCopyChunk = 1024;
constexpr int kNameMax = 1024;
// No race passes this many gates (100 laps of 256 entries are 25600); a recorded pass
// beyond it is damage and would only cost memory.
constexpr int kMaxGateIndex = 1 << 16;
const char *const kDefaultDemo = "@demos/default.vqdemo";

void put32(std::uint8_t *p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}
std::uint32_t get32(const std::uint8_t *p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
int get_i32(const std::uint8_t *p) {
    return int(std::int32_t(get32(p)));
}

bool ends_with(const std::string &s, const char *suffix) {
    std::size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

std::string lower(std::string s) {
    for (char &c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

void appendf(std::string &out, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string &out, const char *fmt, ...) {
    char line[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    out += line;
}

bool file_readable(const std::string &name) {
    Stream *s = vfs_open(name.c_str(), "rb");
    if (!s) return false;
    vfs_close(s);
    return true;
}

// ---- Module state ----

// A recorded rider's gate state as the file describes it so far.
struct SeenGates {
    std::vector<int> times;
    int next = 0;
};

struct Recording {
    Stream *stream = nullptr;
    std::string name; // virtual name of the file
    bool practice = false;
    bool failed = false; // a write failed: no further blocks
    DemoBlockWriter writer;
    std::vector<int> slots;           // recorded slots; position = rider index
    std::vector<SeenGates> seen;      // per rider: the gate state already written
    std::vector<std::uint8_t> passes; // gate pass entries not yet written
    bool marker_pending = true;       // the first write adds the gate-pass marker
    std::string rename_to;            // "namedemo"
};

struct Playback {
    bool open = false;
    std::string name;
    DemoHeader header;
    DemoReader reader;
    bool ghost = false;
    bool started = false;       // the first states block (versions 4, 5: record) was read
    std::int64_t offset = 0;    // added to recorded times
    std::int64_t next_time = 0; // time (with offset) of the last block read
    bool at_end = false;        // the last read found no further block
    bool broken = false;        // a damaged block: nothing further is read
    bool gate_passes = false;   // the file carries gate passes
    std::vector<std::vector<DemoGatePass>> passes; // per rider, in time order
    std::vector<std::size_t> pass_next;            // per rider: the next pass not yet due
    std::int64_t pass_floor = -1; // passes up to this time are already in the gate times
    int slot_rider[kSlotCount];   // rider index of each slot, -1 none
    // Versions 4 and 5: one record per rider and step.
    int record_size = kStateRecordSize;
    std::int64_t old_start = 0; // demo time of the first record
    std::int64_t step_time = 0; // demo time of the next record step
    Playback() { std::fill(slot_rider, slot_rider + kSlotCount, -1); }
};

struct Module {
    Recording rec;
    Playback play;
    std::string play_file;
    DemoList list;
    std::vector<std::uint8_t> payload; // scratch for reading and writing blocks
};
Module g;

void set_clock(std::int64_t clock) {
    int c = int(std::clamp<std::int64_t>(clock, 0, kClockMax));
    session().clock = c;
    sim_clock().race_clock = c;
}

// ---- Head ----

std::string clean(const std::string &s, bool pipe_field) {
    std::string out = s.substr(0, kFieldMax);
    for (char &c : out) {
        if (c == '\n' || c == '\r') c = ' ';
        if (pipe_field && c == '|') c = '_';
    }
    return out;
}

std::string head_text(const DemoHeader &h) {
    int count = int(std::min<std::size_t>(h.riders.size(), kDemoMaxRiders));
    char line[128];
    std::snprintf(line, sizeof line, "VQ06 %d %d %d %d\n", count, h.time_limit, h.laps,
                  h.gate_drop);
    std::string text = line;
    text += clean(h.track.substr(0, kDemoMaxLine - 24), false) + "\n";
    for (int i = 0; i < count; ++i) {
        const DemoRider &r = h.riders[std::size_t(i)];
        text += clean(r.bike, true) + "|" + clean(r.body_texture, true) + "|" +
                clean(r.bike_texture, true) + "|" + clean(r.wheels_texture, true) + "|" +
                clean(r.head_texture, true) + "\n";
        text += clean(r.number, false) + "\n" + clean(r.name, false) + "\n\n";
    }
    return text;
}

// One line without its line feed (a carriage return before it is dropped). False when
// the line has no line feed or is too long.
bool read_line(Stream *s, std::string &line) {
    line.clear();
    for (;;) {
        int c = stream_getc(s);
        if (c < 0) return false;
        if (c == '\n') break;
        if (int(line.size()) >= kDemoMaxLine - 1) return false;
        line.push_back(char(c));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

bool track_name_safe(const std::string &t) {
    return !t.empty() && t.find("..") == std::string::npos && t[0] != '/' && t[0] != '\\';
}

bool head_fail(DemoHeader &h, std::string &error, const std::string &why) {
    error = why;
    h.riders.clear();
    return false;
}

// ---- Recording ----

// A played file that the recording or its backup rotation would touch.
bool is_default_demo(const std::string &name) {
    std::string n = lower(normalise_path(name));
    if (!n.empty() && n[0] == '@') n.erase(0, 1);
    std::size_t slash = n.rfind('/');
    std::string base = slash == std::string::npos ? n : n.substr(slash + 1);
    std::string dir = slash == std::string::npos ? std::string() : n.substr(0, slash);
    std::size_t up = dir.rfind('/');
    if (up != std::string::npos) dir.erase(0, up + 1);
    return dir == "demos" && base.rfind("default", 0) == 0 && ends_with(base, ".vqdemo");
}

// Who rides slot, as the head records it.
DemoRider slot_identity(int slot) {
    const RiderSlot &rs = session_slot(slot);
    DemoRider r;
    r.slot = slot;
    r.name = rs.name;
    if (rs.bike) {
        r.bike = rs.bike->model.name ? rs.bike->model.name : "";
        r.number = rs.bike->number_text;
    }
    if (rs.roster >= 0 && rs.roster < kRosterSize) {
        const RosterEntry &e = robot_roster()[rs.roster];
        r.bike = e.bike;
        r.body_texture = e.body ? e.body : "";
        r.head_texture = e.head ? e.head : "";
        r.bike_texture = e.bike_texture ? e.bike_texture : "";
        r.wheels_texture = e.wheels ? e.wheels : "";
    } else if (rs.code == kSlotHuman) {
        const SetupSettings &u = settings().setup;
        r.bike = choice_text(u.bike);
        r.body_texture = choice_text(u.rider_texture);
        r.head_texture = choice_text(u.head_texture);
        r.bike_texture = choice_text(u.bike_texture);
        r.wheels_texture = choice_text(u.wheel_texture);
    } else if (g.play.open && g.play.slot_rider[slot] >= 0) {
        DemoRider from = g.play.header.riders[std::size_t(g.play.slot_rider[slot])];
        from.slot = slot;
        return from;
    }
    return r;
}

bool write_or_fail(const void *data, std::size_t n) {
    Recording &rec = g.rec;
    if (rec.failed) return false;
    if (stream_write(rec.stream, data, n) != n) {
        rec.failed = true;
        log_printf("Demo %s: write failed; recording stopped\n", rec.name.c_str());
        return false;
    }
    return true;
}

bool record_block(int time, int type, const std::vector<std::uint8_t> &payload) {
    Recording &rec = g.rec;
    if (rec.failed) return false;
    if (!demo_write_block(rec.stream, rec.writer, time, type, payload.data(),
                          std::uint32_t(payload.size()))) {
        rec.failed = true;
        log_printf("Demo %s: write failed; recording stopped\n", rec.name.c_str());
        return false;
    }
    return true;
}

void add_pass_entry(int rider, int sequence_field, int time) {
    std::uint8_t e[kDemoGatePassBytes];
    e[0] = std::uint8_t(rider);
    put32(e + 1, std::uint32_t(sequence_field));
    put32(e + 5, std::uint32_t(time));
    g.rec.passes.insert(g.rec.passes.end(), e, e + kDemoGatePassBytes);
}

// Gate times that changed since the last look become pass entries {index, time}; a rider
// put back on the course (its times cut or its next gate moved without a pass) becomes a
// placement entry {-1 - index, time}, which playback applies as set_next_gate.
void collect_passes(int rider, const RiderGates &gates, int clock) {
    SeenGates &seen = g.rec.seen[std::size_t(rider)];
    const std::vector<int> &now = gates.gate_times;
    // gates_check changes only the last few entries, set_next_gate the length or the
    // next gate.
    if (now.size() == seen.times.size() && gates.next_gate == seen.next) {
        std::size_t from = now.size() > 8 ? now.size() - 8 : 0;
        if (std::equal(now.begin() + long(from), now.end(), seen.times.begin() + long(from)))
            return;
    }
    std::size_t common = 0, both = std::min(now.size(), seen.times.size());
    while (common < both && now[common] == seen.times[common]) ++common;
    if (now.size() < seen.times.size()) {
        // Cut back to common entries, then passed again from there.
        int first = clock;
        for (std::size_t k = common; k < now.size(); ++k)
            if (now[k] >= 0) first = std::min(first, now[k]);
        add_pass_entry(rider, -1 - int(common), first);
        for (std::size_t k = common; k < now.size(); ++k)
            if (now[k] >= 0) add_pass_entry(rider, int(k), now[k]);
    } else {
        int predicted = seen.next;
        for (std::size_t k = common; k < now.size(); ++k) {
            if (now[k] < 0 || (k < seen.times.size() && seen.times[k] == now[k])) continue;
            add_pass_entry(rider, int(k), now[k]);
            predicted = int(k) + 1;
        }
        if (predicted != gates.next_gate) add_pass_entry(rider, -1 - gates.next_gate, clock);
    }
    seen.times = now;
    seen.next = gates.next_gate;
}

void write_blocks(int clock) {
    Recording &rec = g.rec;
    std::vector<std::uint8_t> &payload = g.payload;
    payload.clear();
    for (std::size_t i = 0; i < rec.slots.size(); ++i) {
        StateHistory *h = history(rec.slots[i]);
        if (!h) continue;
        for (int k = 0; k < h->pending; ++k) {
            int at = history_pending_index(*h, k);
            std::uint8_t e[kDemoEntryBytes];
            e[0] = std::uint8_t(i);
            put32(e + 1, std::uint32_t(h->times[at]));
            std::memcpy(e + 5, h->records[at].bytes, kStateRecordSize);
            payload.insert(payload.end(), e, e + kDemoEntryBytes);
        }
        h->pending = 0;
    }
    bool wrote = false;
    if (!payload.empty()) wrote = record_block(clock, kDemoBlockStates, payload);
    if (!rec.passes.empty() || rec.marker_pending) {
        wrote = record_block(clock, kDemoBlockGatePasses, rec.passes) || wrote;
        rec.passes.clear();
        rec.marker_pending = false;
    }
    if (wrote && stream_flush(rec.stream) != 0 && !rec.failed) {
        rec.failed = true;
        log_printf("Demo %s: write failed; recording stopped\n", rec.name.c_str());
    }
}

// "@demos/<name>", or with "-2" ... "-99" before ".vqdemo" when that is taken.
std::string free_demo_name(const std::string &name) {
    std::string path = "@demos/" + name;
    if (!file_readable(path)) return path;
    std::string stem = name.substr(0, name.size() - std::strlen(".vqdemo"));
    for (int n = 2; n < 100; ++n) {
        std::string candidate = "@demos/" + stem + "-" + std::to_string(n) + ".vqdemo";
        if (!file_readable(candidate)) return candidate;
    }
    return std::string();
}

// ---- Playback ----

void close_playback() {
    Playback &p = g.play;
    if (p.reader.stream) vfs_close(p.reader.stream);
    p = Playback();
}

// Empties every history; the demo's riders keep the demo's record layout.
void clear_histories() {
    history_clear_all();
    const Playback &p = g.play;
    for (const DemoRider &r : p.header.riders)
        if (r.slot >= 0) history_set_version(r.slot, p.header.version);
}

void clear_passes() {
    Playback &p = g.play;
    for (auto &q : p.passes) q.clear();
    std::fill(p.pass_next.begin(), p.pass_next.end(), 0);
}

void queue_pass(int rider, DemoGatePass pass) {
    Playback &p = g.play;
    std::vector<DemoGatePass> &q = p.passes[std::size_t(rider)];
    std::size_t &next = p.pass_next[std::size_t(rider)];
    if (next > 256 && next * 2 > q.size()) {
        q.erase(q.begin(), q.begin() + long(next));
        next = 0;
    }
    auto at = std::upper_bound(q.begin() + long(next), q.end(), pass.time,
                               [](int t, const DemoGatePass &e) { return t < e.time; });
    q.insert(at, pass);
}

bool time_ok(std::int64_t t) {
    return t >= 0 && t <= kClockMax;
}

void handle_block(const DemoBlock &b, const std::vector<std::uint8_t> &payload) {
    Playback &p = g.play;
    const std::size_t riders = p.header.riders.size();
    switch (b.type) {
    case kDemoBlockStates: {
        if (b.length % kDemoEntryBytes != 0) break;
        if (!p.started) {
            p.started = true;
            if (p.ghost) {
                p.offset = std::int64_t(session().clock) - b.time;
            } else {
                p.offset = 0;
                set_clock(b.time);
            }
        }
        for (std::size_t at = 0; at < payload.size(); at += kDemoEntryBytes) {
            const std::uint8_t *e = payload.data() + at;
            if (e[0] >= riders) continue; // an index beyond the head's riders
            int slot = p.header.riders[e[0]].slot;
            std::int64_t t = std::int64_t(get_i32(e + 1)) + p.offset;
            if (slot < 0 || !time_ok(t)) continue;
            BikeStateRecord r;
            std::memcpy(r.bytes, e + 5, kStateRecordSize);
            history_add(slot, r, int(t));
        }
        break;
    }
    case kDemoBlockText: {
        std::size_t n = std::min<std::size_t>(payload.size(), kDemoMessageMax);
        if (n == 0) break;
        std::string text(reinterpret_cast<const char *>(payload.data()), n);
        show_message(text.c_str());
        break;
    }
    case kDemoBlockGatePasses: {
        if (b.length % kDemoGatePassBytes != 0) break;
        p.gate_passes = true;
        for (std::size_t at = 0; at < payload.size(); at += kDemoGatePassBytes) {
            const std::uint8_t *e = payload.data() + at;
            if (e[0] >= riders) continue;
            int s = get_i32(e + 1);
            std::int64_t t = std::int64_t(get_i32(e + 5)) + p.offset;
            if (!time_ok(t) || t <= p.pass_floor) continue;
            queue_pass(e[0], DemoGatePass{s, int(t)});
        }
        break;
    }
    default:
        break; // other types are skipped
    }
    p.next_time = std::int64_t(b.time) + p.offset;
}

void read_blocks() {
    Playback &p = g.play;
    if (p.broken) return;
    for (int n = 0; n < kBlocksPerRead; ++n) {
        if (p.started && std::int64_t(session().clock) < p.next_time - kDemoReadAhead) return;
        DemoBlock b;
        DemoRead r = demo_next_block(p.reader, b, g.payload);
        if (r == DemoRead::bad) {
            show_messagef("Demo %.200s is damaged at offset %lld; playback stops there",
                          p.name.c_str(), (long long)p.reader.next_offset);
            p.broken = true;
        }
        if (r != DemoRead::ok) {
            p.at_end = true;
            return;
        }
        p.at_end = false;
        handle_block(b, g.payload);
    }
}

bool read_at(DemoReader &r, std::int64_t offset, void *buffer, std::size_t n) {
    if (stream_tell(r.stream) != offset && !stream_seek(r.stream, offset)) return false;
    return stream_read(r.stream, buffer, n) == n;
}

// Versions 4 and 5: for every step up to the clock + 8, one record per rider.
void read_records() {
    Playback &p = g.play;
    const std::size_t riders = p.header.riders.size();
    const std::int64_t clock = session().clock;
    if (!p.started) {
        p.started = true;
        p.old_start = p.step_time = clock;
    }
    if (riders == 0) {
        p.at_end = true;
        return;
    }
    const std::size_t size = std::size_t(p.record_size);
    const std::size_t step_bytes = riders * size;
    std::vector<std::uint8_t> &buf = g.payload;
    buf.resize(step_bytes);
    for (int n = 0; n < kOldStepsPerRead && p.step_time <= clock + kOldStepsAhead; ++n) {
        DemoReader &r = p.reader;
        if (r.next_offset + std::int64_t(step_bytes) > r.size ||
            !read_at(r, r.next_offset, buf.data(), step_bytes)) {
            p.at_end = true;
            return;
        }
        p.at_end = false;
        for (std::size_t i = 0; i < riders; ++i) {
            int slot = p.header.riders[i].slot;
            if (slot < 0 || !time_ok(p.step_time)) continue;
            BikeStateRecord rec;
            std::memcpy(rec.bytes, buf.data() + i * size, size);
            history_add(slot, rec, int(p.step_time));
        }
        r.next_offset += std::int64_t(step_bytes);
        p.step_time++;
    }
}

Stream *unpack(Stream *s, const std::string &name) {
    std::vector<unsigned char> data;
    unsigned char chunk[65536];
    for (;;) {
        std::size_t n = stream_read(s, chunk, sizeof chunk);
        if (n == 0) break;
        if (std::int64_t(data.size() + n) > kMaxUnpacked) {
            show_messagef("Demo %.200s is too large to unpack", name.c_str());
            vfs_close(s);
            return nullptr;
        }
        data.insert(data.end(), chunk, chunk + n);
    }
    vfs_close(s);
    return stream_open_memory(data.data(), data.size(), false);
}

bool pure_playback() {
    if (!g.play.open || g.rec.stream) return false;
    for (int m = 0; m < kSlotCount; ++m) {
        const RiderSlot &rs = session_slot(m);
        if (rs.bike && rs.kind != kRiderRecorded) return false;
    }
    return true;
}

// Going back in time: the gate times after target go, the standings are recomputed.
void rewind_gates(int target) {
    for (int m = 0; m < kSlotCount; ++m) {
        Bike *b = session_slot(m).bike;
        if (!b) continue;
        const std::vector<int> &t = b->gates.gate_times;
        std::size_t cut = 0;
        while (cut < t.size() && t[cut] <= target) ++cut;
        if (cut == t.size()) continue;
        // Gates skipped just before the first later one were skipped by that pass.
        while (cut > 0 && t[cut - 1] < 0) --cut;
        set_next_gate(b->gates, int(cut));
    }
    session().results_final = false;
    standings_update();
}

// ---- Session hooks ----

bool hook_demo_open(DemoStart &out) {
    if (!demo_open()) return false;
    const DemoHeader &h = g.play.header;
    out.track = h.track;
    out.time_limit = h.time_limit;
    out.laps = h.laps;
    out.gate_drop = h.gate_drop;
    return true;
}

RiderIdentity identity_of(const DemoRider &r) {
    RiderIdentity who;
    who.bike = r.bike;
    who.number = r.number;
    who.name = r.name;
    who.body = r.body_texture;
    who.head = r.head_texture;
    who.bike_texture = r.bike_texture;
    who.wheels = r.wheels_texture;
    return who;
}

bool hook_next_rider(int slot, RiderIdentity &out) {
    DemoRider r;
    if (!demo_take_next_rider(slot, r)) return false;
    out = identity_of(r);
    return true;
}

void hook_record_start() {
    demo_record_start();
}

void hook_history_apply(int slot, int time) {
    history_apply(slot, time, session_slot(slot).bike);
}

} // namespace

// ---- File format ----

bool demo_write_head(Stream *s, const DemoHeader &header) {
    std::string text = head_text(header);
    return s && stream_write(s, text.data(), text.size()) == text.size();
}

bool demo_read_head(Stream *s, DemoHeader &h, std::string &error) {
    h = DemoHeader();
    std::string line;
    if (!s || !read_line(s, line)) return head_fail(h, error, "no header line");
    int v[5] = {0, 0, 0, 0, kDemoDefaultGateDrop};
    int n = -1;
    if (Stream *m = stream_open_memory(line.data(), line.size(), false)) {
        n = stream_scan(m, "VQ%d %d %d %d %d", &v[0], &v[1], &v[2], &v[3], &v[4]);
        vfs_close(m);
    }
    if (n < 3) return head_fail(h, error, "not a demo file (bad header line)");
    if (v[0] < 4 || v[0] > 6)
        return head_fail(h, error, "unknown demo version " + std::to_string(v[0]));
    if (v[1] < 0 || v[1] > kDemoMaxRiders)
        return head_fail(h, error, "bad rider count " + std::to_string(v[1]));
    if (n < 4) v[3] = 0;
    if (n < 5) v[4] = kDemoDefaultGateDrop;
    if (v[2] < 0 || v[3] < 0 || v[4] < 0)
        return head_fail(h, error, "negative time limit, laps or gate drop");
    h.version = v[0];
    h.time_limit = v[2];
    h.laps = v[3];
    h.gate_drop = v[4];
    if (!read_line(s, h.track)) return head_fail(h, error, "no track line");
    if (!track_name_safe(h.track)) return head_fail(h, error, "bad track name");
    for (int i = 0; i < v[1]; ++i) {
        std::string where = "rider " + std::to_string(i + 1) + ": ";
        DemoRider r;
        if (!read_line(s, line)) return head_fail(h, error, where + "no bike line");
        std::string *fields[5] = {&r.bike, &r.body_texture, &r.bike_texture, &r.wheels_texture,
                                  &r.head_texture};
        int k = 0;
        for (char c : line) {
            if (c == '|' && k < 4)
                ++k;
            else
                fields[k]->push_back(c);
        }
        if (!read_line(s, r.number)) return head_fail(h, error, where + "no number line");
        if (h.version >= 6) {
            if (!read_line(s, r.name)) return head_fail(h, error, where + "no name line");
            if (!read_line(s, line) || !line.empty())
                return head_fail(h, error, where + "no empty line after the name");
        }
        h.riders.push_back(std::move(r));
    }
    return true;
}

bool demo_write_block(Stream *s, DemoBlockWriter &w, int time, int type, const void *payload,
                      std::uint32_t length) {
    if (!s || length > kDemoMaxPayload) return false;
    std::uint8_t head[kDemoBlockHeaderBytes];
    put32(head, w.previous_length ^ length);
    put32(head + 4, std::uint32_t(time));
    head[8] = std::uint8_t(type);
    if (stream_write(s, head, sizeof head) != sizeof head) return false;
    if (length && stream_write(s, payload, length) != length) return false;
    w.previous_length = length;
    w.offset += kDemoBlockHeaderBytes + std::int64_t(length);
    return true;
}

void demo_reader_init(DemoReader &r, Stream *s) {
    r = DemoReader();
    r.stream = s;
    if (!s) return;
    r.first_block = r.next_offset = stream_tell(s);
    std::int64_t left = stream_remaining(s);
    r.size = r.first_block + (left > 0 ? left : 0);
}

namespace {

// The file may have grown since it was opened (a short read continues later).
void refresh_size(DemoReader &r) {
    std::int64_t here = stream_tell(r.stream);
    std::int64_t left = stream_remaining(r.stream);
    if (left >= 0 && here + left > r.size) r.size = here + left;
}

} // namespace

DemoRead demo_next_block(DemoReader &r, DemoBlock &block, std::vector<std::uint8_t> &payload) {
    if (!r.stream) return DemoRead::end;
    const std::int64_t at = r.next_offset;
    if (at + kDemoBlockHeaderBytes > r.size) refresh_size(r);
    std::uint8_t head[kDemoBlockHeaderBytes];
    if (at + kDemoBlockHeaderBytes > r.size || !read_at(r, at, head, sizeof head))
        return DemoRead::end;
    std::uint32_t link = get32(head);
    std::uint32_t length = link ^ r.previous_length;
    if (length > kDemoMaxPayload) return DemoRead::bad;
    std::int64_t end = at + kDemoBlockHeaderBytes + std::int64_t(length);
    if (end > r.size) refresh_size(r);
    if (end > r.size) return DemoRead::end;
    payload.resize(length);
    if (length && stream_read(r.stream, payload.data(), length) != length) return DemoRead::end;
    block.offset = at;
    block.length = length;
    block.link = link;
    block.time = get_i32(head + 4);
    block.type = head[8];
    r.previous_length = length;
    r.next_offset = end;
    return DemoRead::ok;
}

bool demo_block_back(DemoReader &r, DemoBlock &block) {
    if (!r.stream || r.next_offset <= r.first_block) return false;
    std::int64_t at = r.next_offset - kDemoBlockHeaderBytes - std::int64_t(r.previous_length);
    if (at < r.first_block) return false;
    std::uint8_t head[kDemoBlockHeaderBytes];
    if (!read_at(r, at, head, sizeof head)) return false;
    std::uint32_t link = get32(head);
    block.offset = at;
    block.length = r.previous_length;
    block.link = link;
    block.time = get_i32(head + 4);
    block.type = head[8];
    // The block before the first has length 0 whatever the link says: forward reading
    // from the first block assumes the same. A length that leads outside the file stops
    // the next step back; reading forwards from here is right either way.
    std::uint32_t before = at == r.first_block ? 0 : link ^ r.previous_length;
    r.next_offset = at;
    r.previous_length = before;
    return true;
}

// ---- Recording ----

void demo_backups_rotate(int n) {
    n = std::clamp(n, 0, kDemoMaxBackups);
    char from[64], to[64];
    for (int k = n - 2; k >= 0; --k) {
        std::snprintf(from, sizeof from, "@demos/default%02d.vqdemo", k);
        std::snprintf(to, sizeof to, "@demos/default%02d.vqdemo", k + 1);
        vfs_rename(from, to);
    }
    if (n > 0) vfs_rename(kDefaultDemo, "@demos/default00.vqdemo");
}

bool demo_record_start() {
    demo_record_stop();
    const RaceSession &s = session();
    const std::string track = track_state().dir;
    Recording rec;
    rec.practice = s.practice;
    if (s.practice) {
        if (track.empty()) return false;
        rec.name = demo_lastlap_name(track);
    } else {
        if (g.play.open && is_default_demo(g.play.name)) {
            show_message("Can't record and play from same file - recording disabled");
            return false;
        }
        demo_backups_rotate(settings().demo_backups);
        rec.name = kDefaultDemo;
    }
    DemoHeader h;
    h.time_limit = s.time_limit;
    h.laps = s.laps;
    h.gate_drop = s.gate_drop;
    h.track = track;
    for (int m = 0; m < kSlotCount && int(h.riders.size()) < kDemoMaxRiders; ++m) {
        const RiderSlot &rs = session_slot(m);
        if (!rs.bike || (!s.online && rs.kind == kRiderRecorded)) continue;
        h.riders.push_back(slot_identity(m));
        rec.slots.push_back(m);
        // Only what happens from now on is written.
        rec.seen.push_back(SeenGates{rs.bike->gates.gate_times, rs.bike->gates.next_gate});
        if (StateHistory *hist = history(m)) hist->pending = 0;
    }
    rec.stream = vfs_open(rec.name.c_str(), "wb");
    if (!rec.stream) {
        show_messagef("Can't write demo %.200s", rec.name.c_str());
        return false;
    }
    std::string text = head_text(h);
    g.rec = std::move(rec);
    if (!write_or_fail(text.data(), text.size())) {
        show_messagef("Can't write demo %.200s", g.rec.name.c_str());
        vfs_close_discard(g.rec.stream);
        g.rec = Recording();
        return false;
    }
    g.rec.writer.offset = std::int64_t(text.size());
    g.rec.writer.previous_length = 0;
    return true;
}

void demo_record_step(bool force) {
    Recording &rec = g.rec;
    if (!rec.stream) return;
    const int clock = session().clock;
    const bool encode = force || clock % 4 == 0;
    for (std::size_t i = 0; i < rec.slots.size(); ++i) {
        int slot = rec.slots[i];
        const RiderSlot &rs = session_slot(slot);
        if (!rs.bike) continue;
        if (encode && rs.kind != kRiderRecorded)
            history_add(slot, bike_state_encode(rs.bike), clock);
        collect_passes(int(i), rs.bike->gates, clock);
    }
    if (force || clock % 16 == 0) write_blocks(clock);
}

void demo_record_stop() {
    Recording &rec = g.rec;
    if (!rec.stream) return;
    demo_record_step(true);
    bool written;
    if (rec.failed) {
        vfs_close_discard(rec.stream);
        written = false;
    } else {
        written = vfs_close(rec.stream);
    }
    rec.stream = nullptr;
    if (!written) show_messagef("Demo %.200s could not be written", rec.name.c_str());
    if (written && !rec.practice && !rec.rename_to.empty()) {
        std::string target = free_demo_name(rec.rename_to);
        if (target.empty() || !vfs_rename(kDefaultDemo, target.c_str()))
            show_messagef("Demo stays as default.vqdemo: demos/%.200s is taken",
                          rec.rename_to.c_str());
        else if (target != "@demos/" + rec.rename_to)
            show_messagef("Demo saved as %.200s", target.c_str() + 1);
    }
    g.rec = Recording();
}

bool demo_recording() {
    return g.rec.stream != nullptr;
}

const std::string &demo_record_name() {
    static const std::string none;
    return g.rec.stream ? g.rec.name : none;
}

void demo_record_text(const char *text) {
    Recording &rec = g.rec;
    if (!rec.stream || !text) return;
    std::size_t n = std::min<std::size_t>(std::strlen(text), kDemoMaxPayload);
    std::vector<std::uint8_t> payload(text, text + n);
    if (record_block(session().clock, kDemoBlockText, payload)) stream_flush(rec.stream);
}

void demo_name_command(const char *args) {
    if (!g.rec.stream || g.rec.practice) {
        show_message("Not currently recording a demo");
        return;
    }
    std::string word;
    const char *p = args ? args : "";
    while (*p == ' ' || *p == '\t') ++p;
    while (*p && *p != ' ' && *p != '\t' && *p != '\n' && *p != '\r') word.push_back(*p++);
    if (word.size() + 8 > std::size_t(kNameMax)) {
        show_message("Name too long");
        return;
    }
    bool bad = word.empty() || word.find('/') != std::string::npos ||
               word.find('\\') != std::string::npos || word.find("..") != std::string::npos;
    for (char c : word)
        if (static_cast<unsigned char>(c) < 32) bad = true;
    if (bad) {
        show_message("Bad demo name: it must not be empty or hold \"/\", \"\\\" or \"..\"");
        return;
    }
    if (!ends_with(word, ".vqdemo")) word += ".vqdemo";
    if (lower(word).rfind("default", 0) == 0) {
        show_message("Names beginning with \"default\" belong to the rolling demos");
        return;
    }
    if (file_readable("@demos/" + word)) {
        show_messagef("A demo named %.200s already exists", word.c_str());
        return;
    }
    g.rec.rename_to = word;
    show_message("Demo name updated");
}

// ---- Playback ----

void demo_set_play_file(const std::string &name) {
    g.play_file = name;
}

const std::string &demo_play_file() {
    return g.play_file;
}

bool demo_open() {
    return demo_open_file(g.play_file.empty() ? std::string(kDefaultDemo) : g.play_file, false);
}

bool demo_open_file(const std::string &name, bool ghost) {
    close_playback();
    Stream *s = vfs_open(name.c_str(), "rb");
    if (!s) {
        show_messagef("Can't open demo %.200s", name.c_str());
        return false;
    }
    return demo_open_stream(s, name, ghost);
}

bool demo_open_stream(Stream *s, const std::string &name, bool ghost) {
    close_playback();
    if (!s) return false;
    if (s->compressed) s = unpack(s, name);
    if (!s) return false;
    Playback &p = g.play;
    std::string error;
    if (!demo_read_head(s, p.header, error)) {
        show_messagef("Can't play demo %.200s: %s", name.c_str(), error.c_str());
        vfs_close(s);
        p = Playback();
        return false;
    }
    p.open = true;
    p.name = name;
    p.ghost = ghost;
    p.record_size = state_record_size(p.header.version);
    demo_reader_init(p.reader, s);
    p.passes.assign(p.header.riders.size(), {});
    p.pass_next.assign(p.header.riders.size(), 0);
    return true;
}

void demo_close() {
    demo_record_stop();
    close_playback();
}

bool demo_playing() {
    return g.play.open;
}

const DemoHeader &demo_header() {
    return g.play.header;
}

void demo_assign_slot(int rider, int slot) {
    Playback &p = g.play;
    if (!p.open || rider < 0 || rider >= int(p.header.riders.size()) || slot < 0 ||
        slot >= kSlotCount)
        return;
    DemoRider &r = p.header.riders[std::size_t(rider)];
    if (r.slot >= 0) p.slot_rider[r.slot] = -1;
    int previous = p.slot_rider[slot];
    if (previous >= 0) p.header.riders[std::size_t(previous)].slot = -1;
    r.slot = slot;
    p.slot_rider[slot] = rider;
    history_clear(slot);
    history_set_version(slot, p.header.version);
}

bool demo_take_next_rider(int slot, DemoRider &out) {
    Playback &p = g.play;
    if (!p.open) return false;
    for (std::size_t i = 0; i < p.header.riders.size(); ++i) {
        if (p.header.riders[i].slot >= 0) continue;
        demo_assign_slot(int(i), slot);
        out = p.header.riders[i];
        return true;
    }
    return false;
}

void demo_read_step() {
    if (!g.play.open) return;
    if (g.play.header.version >= 6)
        read_blocks();
    else
        read_records();
}

void demo_reposition(int target) {
    Playback &p = g.play;
    if (!p.open) return;
    target = std::clamp(target, 0, kClockMax);
    const int clock = session().clock;
    if (p.header.version >= 6) {
        DemoBlock b;
        bool moved = false;
        while (demo_block_back(p.reader, b)) {
            moved = true;
            if (std::int64_t(b.time) + p.offset <= std::int64_t(target) - kDemoReadAhead) break;
        }
        // The block landed on is read at once.
        p.next_time = moved ? std::int64_t(b.time) + p.offset : std::int64_t(INT_MIN);
        p.broken = false;
    } else {
        std::int64_t step_bytes = std::int64_t(p.header.riders.size()) * p.record_size;
        if (!p.started) {
            p.started = true;
            p.old_start = clock;
        }
        std::int64_t steps = std::max<std::int64_t>(0, std::int64_t(target) - p.old_start);
        p.reader.next_offset = p.reader.first_block + steps * step_bytes;
        p.step_time = p.old_start + steps;
    }
    p.at_end = false;
    set_clock(target);
    if (target < clock) rewind_gates(target);
    clear_histories();
    clear_passes();
    p.pass_floor = target;
    demo_read_step();
}

bool demo_seek(double seconds) {
    if (!pure_playback() || !std::isfinite(seconds)) return false;
    long long steps = std::llround(std::clamp(seconds, -1e6, 1e6) * 128.0);
    if (steps == 0) return true;
    const Playback &p = g.play;
    if (steps > 0 && (p.header.version >= 6 || process_flags().accurate_skip)) {
        // Forward by riding the race on, without roost spray.
        int roost = roost_count();
        roost_count_set(0);
        long long until = (long long)session().clock + steps;
        while (session().clock < until) {
            int before = session().clock;
            session_step();
            if (session().clock <= before) break;
        }
        roost_count_set(roost);
        return true;
    }
    long long target = (long long)session().clock + steps - 1;
    demo_reposition(int(std::clamp<long long>(target, 0, kClockMax)));
    session_step();
    return true;
}

bool demo_playback_done(int margin) {
    const Playback &p = g.play;
    if (!p.open) return true;
    if (!p.at_end) return false;
    std::int64_t clock = session().clock;
    for (const DemoRider &r : p.header.riders)
        if (r.slot >= 0 && std::int64_t(history_latest_time(r.slot)) + margin >= clock)
            return false;
    return true;
}

// ---- Exact gate times ----

bool demo_has_gate_passes() {
    return g.play.open && g.play.gate_passes;
}

int demo_gate_test(int slot, RiderGates &rider, int step, const RaceLaps &race) {
    Playback &p = g.play;
    if (!p.open || !p.gate_passes || slot < 0 || slot >= kSlotCount) return kDemoNoGatePasses;
    int index = p.slot_rider[slot];
    if (index < 0) return kDemoNoGatePasses;
    std::vector<DemoGatePass> &q = p.passes[std::size_t(index)];
    std::size_t &next = p.pass_next[std::size_t(index)];
    const GateData &data = gates();
    int passed = -1;
    while (next < q.size() && q[next].time <= step) {
        DemoGatePass pass = q[next++];
        if (pass.sequence_index < 0) {
            // Put back on the course.
            int s = -1 - pass.sequence_index;
            if (s < kMaxGateIndex) set_next_gate(rider, s);
            continue;
        }
        int s = pass.sequence_index;
        // As in the geometric test: nothing once finished; and nothing beyond any race.
        if (rider.finished || s >= kMaxGateIndex) continue;
        if (int(rider.gate_times.size()) < s + 1) rider.gate_times.resize(std::size_t(s) + 1, -1);
        rider.gate_times[std::size_t(s)] = pass.time;
        rider.next_gate = s + 1;
        passed = s;
        long long first = (long long)data.first_lap.size();
        long long normal = (long long)data.normal_lap.size();
        long long after = s + 1;
        if (normal > 0 && after >= first && (after - first) % normal == 0) {
            long long laps_done = (after - first) / normal + 1;
            bool leader_done =
                race.leader && race.leader->next_gate > final_lap_end(data, race.total_laps);
            if (leader_done || laps_done >= race.total_laps) rider.finished = true;
        }
    }
    return passed;
}

// ---- Ghosts ----

std::string demo_lastlap_name(const std::string &track) {
    return "@" + track + "/lastlap.vqdemo";
}

std::string demo_fastlap_name(const std::string &track) {
    return "@" + track + "/fastlap.vqdemo";
}

bool demo_copy_file(const std::string &from, const std::string &to) {
    Stream *in = vfs_open(from.c_str(), "rb");
    if (!in) return false;
    Stream *out = vfs_open(to.c_str(), "wb");
    if (!out) {
        vfs_close(in);
        return false;
    }
    unsigned char chunk[kCopyChunk];
    bool ok = true;
    for (;;) {
        std::size_t n = stream_read(in, chunk, sizeof chunk);
        if (n == 0) break;
        if (stream_write(out, chunk, n) != n) {
            ok = false;
            break;
        }
    }
    vfs_close(in);
    if (!ok) {
        vfs_close_discard(out);
        return false;
    }
    return vfs_close(out);
}

void demo_practice_lap(bool counts, bool best) {
    (void)counts; // a lap that does not count is never the best one
    demo_record_stop();
    close_playback();
    const std::string track = track_state().dir;
    if (track.empty()) return;
    const std::string last = demo_lastlap_name(track), fast = demo_fastlap_name(track);
    if ((!file_readable(fast) || best) && file_readable(last) && !demo_copy_file(last, fast))
        show_messagef("Can't keep the lap as %.200s", fast.c_str() + 1);
    if (file_readable(fast) && demo_open_file(fast, true)) {
        const DemoHeader &h = g.play.header;
        for (std::size_t i = 0, slot = 1; i < h.riders.size() && slot < kSlotCount; ++i, ++slot)
            if (session_create_rider(int(slot), identity_of(h.riders[i]), kRiderRecorded))
                demo_assign_slot(int(i), int(slot));
    }
    // The next lap's recording gets its first block now, so that its ghost starts with
    // the lap.
    if (demo_record_start()) demo_record_step(true);
}

// ---- Demo list and information ----

void demo_list_build() {
    g.list = DemoList();
    bool debug = process_flags().debug_level >= 1;
    for (const std::string &n : vfs_list()) {
        if (n.rfind("demos/", 0) != 0 || !ends_with(n, ".vqdemo")) continue;
        std::size_t slash = n.rfind('/');
        std::string leaf = n.substr(slash + 1);
        std::size_t dot = leaf.rfind('.');
        std::string display = leaf.substr(0, dot);
        if (debug) log_printf("%s -> %s\n", n.c_str(), display.c_str());
        g.list.names.push_back(n);
        g.list.display.push_back(display);
    }
}

const DemoList &demo_list() {
    return g.list;
}

bool demo_info_text(const std::string &name, std::string &out, std::string &error) {
    out.clear();
    Stream *s = vfs_open(name.c_str(), "rb");
    if (!s) {
        error = "can't open " + name;
        return false;
    }
    if (s->compressed) s = unpack(s, name);
    if (!s) {
        error = "can't unpack " + name;
        return false;
    }
    DemoHeader h;
    if (!demo_read_head(s, h, error)) {
        vfs_close(s);
        error = name + " is not a readable demo: " + error;
        return false;
    }
    appendf(out, "demo: %s\n", name.c_str());
    appendf(out, "version: %d\n", h.version);
    appendf(out, "track: %s\n", h.track.c_str());
    appendf(out, "time limit: %d steps (%.2f s)\n", h.time_limit, h.time_limit / 128.0);
    appendf(out, "laps: %d\n", h.laps);
    appendf(out, "gate drop: %d steps (%.2f s)\n", h.gate_drop, h.gate_drop / 128.0);
    appendf(out, "riders: %d\n", int(h.riders.size()));
    for (std::size_t i = 0; i < h.riders.size(); ++i) {
        const DemoRider &r = h.riders[i];
        appendf(out, "  %2d: %-20s number %-4s bike %s\n", int(i) + 1,
                r.name.empty() ? "(no name)" : r.name.c_str(), r.number.c_str(), r.bike.c_str());
    }
    DemoReader reader;
    demo_reader_init(reader, s);
    if (h.version >= 6) {
        long long blocks = 0;
        bool have_time = false;
        int first = 0, last = 0;
        DemoBlock b;
        std::vector<std::uint8_t> payload;
        DemoRead r;
        while ((r = demo_next_block(reader, b, payload)) == DemoRead::ok) {
            ++blocks;
            if (b.type != kDemoBlockStates) continue;
            if (!have_time) first = b.time;
            have_time = true;
            last = b.time;
        }
        long long steps = have_time ? (long long)last - first : 0;
        appendf(out, "duration: %.2f s (%lld steps)\n", steps / 128.0, steps);
        appendf(out, "blocks: %lld\n", blocks);
        if (r == DemoRead::bad || reader.next_offset < reader.size)
            appendf(out, "damaged: %lld bytes from offset %lld could not be read\n",
                    (long long)(reader.size - reader.next_offset), (long long)reader.next_offset);
    } else {
        long long step_bytes = (long long)h.riders.size() * state_record_size(h.version);
        long long bytes = reader.size - reader.first_block;
        long long steps = step_bytes > 0 ? bytes / step_bytes : 0;
        appendf(out, "duration: %.2f s (%lld steps)\n", steps / 128.0, steps);
        appendf(out, "blocks: 0 (one record per rider and step)\n");
    }
    vfs_close(s);
    return true;
}

void demo_fill_session_hooks(SessionHooks &h) {
    h.recorded_gate_test = demo_gate_test;
    h.demo_open = hook_demo_open;
    h.demo_next_rider = hook_next_rider;
    h.demo_close = demo_close;
    h.demo_record_start = hook_record_start;
    h.demo_record_step = demo_record_step;
    h.demo_read_step = demo_read_step;
    h.history_clear_all = history_clear_all;
    h.history_apply = hook_history_apply;
    h.history_latest = history_latest_time;
    h.practice_lap_demo = demo_practice_lap;
}
