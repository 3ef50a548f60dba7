#include "race/standings.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "files/vfs.h"
#include "platform/log.h"
#include "race/session.h"
#include "race/timing.h"
#include "sim/bike.h"
#include "track/gates.h"
#include "track/track.h"

namespace {

struct Module {
    Standings standings;
    OffCourseSettings off_course;
};
Module g;

RiderGates *gates_of(int slot) {
    Bike *b = session_slot(slot).bike;
    return b ? &b->gates : nullptr;
}

// Time of sequence index s of a rider; index -1 is the gate drop.
int time_at(const RiderGates &rg, long long s) {
    return s < 0 ? session().gate_drop : gate_time(rg, s);
}

int last_gate_time(const RiderGates &rg) {
    return rg.next_gate > 0 ? std::max(0, gate_time(rg, rg.next_gate - 1)) : 0;
}

// The standings order: more gates first, then the earlier last-gate time, then the slot.
bool ahead(const StandingRecord &a, const StandingRecord &b) {
    if (a.next_gate != b.next_gate) return a.next_gate > b.next_gate;
    if (a.time != b.time) return a.time < b.time;
    return a.slot < b.slot;
}

// The rider's time over a..b when it has a time at every index from a to b, else -1.
int section_time(const RiderGates &rg, long long a, long long b) {
    for (long long k = a; k <= b; ++k)
        if (time_at(rg, k) < 0) return -1;
    int t = time_at(rg, b) - time_at(rg, a);
    return t >= 0 ? t : -1;
}

int completed_laps(const GateData &d, int next_gate) {
    int first = int(d.first_lap.size()), normal = int(d.normal_lap.size());
    if (next_gate < first || normal == 0) return 0;
    return (next_gate - first) / normal + 1;
}

RaceLaps race_laps() {
    return RaceLaps{session().total_laps, standings_leader_gates()};
}

// The timed race: the halfway lap at half time, and the laps once the time ran out.
void timed_race_extension() {
    RaceSession &s = session();
    const GateData &d = gates();
    if (s.time_limit <= 0 || g.standings.live.empty() || d.checkpoints.empty()) return;
    const RiderGates *leader = standings_leader_gates();
    int leader_laps = leader ? lap_of(d, *leader).lap : 0;
    if (s.halfway_lap == kOpenLaps && s.clock >= s.gate_drop + s.time_limit / 2)
        s.halfway_lap = leader_laps + 1;
    int time_up = s.gate_drop + s.time_limit;
    if (s.clock < time_up) return;
    for (int o = std::max(1, std::min(s.total_laps, leader_laps - 1));; ++o) {
        long long finish = gate_lap_end_index(d, o);
        int earliest = -1;
        for (const StandingRecord &r : g.standings.live) {
            int t = gate_time(*gates_of(r.slot), finish);
            if (t >= 0 && (earliest < 0 || t < earliest)) earliest = t;
        }
        if (earliest < 0) break;
        // The time limit counts from the gate drop.
        if (earliest >= time_up) {
            s.total_laps = std::min(s.total_laps, o + s.laps);
            break;
        }
        s.total_laps = std::max(s.total_laps, o + s.laps + 1);
        if (o >= kOpenLaps) break;
    }
}

// When the leader crossed the race's final finish line, or -1.
int leader_finish_time() {
    const RiderGates *leader = standings_leader_gates();
    const GateData &d = gates();
    if (!leader || d.checkpoints.empty()) return -1;
    long long end = final_lap_end(d, session().total_laps);
    if (leader->next_gate <= end) return -1;
    return gate_time(*leader, end);
}

// Whether a rider that has not finished still holds the race open.
bool holds_race_open(int slot, int leader_finish) {
    const RaceSession &s = session();
    const RiderSlot &rs = session_slot(slot);
    const SessionHooks &h = session_hooks();
    bool open;
    if (s.online) {
        if (slot == s.local_slot)
            open = true;
        else
            open = rs.kind == kRiderRecorded && h.remote_state_step &&
                   s.clock - h.remote_state_step(slot) <= 128;
    } else if (rs.kind == kRiderRecorded) {
        // A demo rider until its recording ended more than 10 s ago.
        int last = h.history_latest ? std::max(0, h.history_latest(slot)) : -1000000;
        open = s.clock - last <= 1280;
    } else {
        open = true;
    }
    if (!open) return false;
    // The local player offline may take as long as it likes; nobody else holds the race
    // open once the leader has finished and it has passed no gate for a while.
    bool may_stall_out = s.online || rs.kind != kRiderLocal;
    const RiderGates *rg = gates_of(slot);
    int last_gate = rg ? last_gate_time(*rg) : 0;
    if (may_stall_out && leader_finish >= 0 &&
        s.clock >= std::max(leader_finish, last_gate) + kStallSteps)
        return false;
    return true;
}

bool race_over() {
    RaceLaps race = race_laps();
    int finish = leader_finish_time();
    for (const StandingRecord &r : g.standings.live) {
        RiderGates *rg = gates_of(r.slot);
        if (rg && has_finished(gates(), *rg, race)) continue;
        if (holds_race_open(r.slot, finish)) return false;
    }
    return true;
}

int penalty_of(const RiderGates &rg) {
    int o = session().gate_drop; // a run of skipped gates at index 0 starts at the drop
    int penalty = 0, run = 0;
    for (std::size_t s = 0; s < rg.gate_times.size(); ++s) {
        int t = rg.gate_times[s];
        if (t < 0) {
            ++run;
            continue;
        }
        if (run > 0) {
            int r = int(s);
            int T = reference_time(r - run - 1, r) + 128;
            if (t - o < T) penalty += T - (t - o);
            run = 0;
        }
        o = t;
    }
    return penalty;
}

void build_final_order() {
    const GateData &d = gates();
    const RaceSession &s = session();
    int first = int(d.first_lap.size()), normal = int(d.normal_lap.size());
    std::vector<StandingRecord> order = g.standings.live;
    for (StandingRecord &r : order) {
        const RiderGates *rg = gates_of(r.slot);
        if (!rg) continue;
        int penalty = penalty_of(*rg);
        int best = best_lap(d, *rg, s.gate_drop);
        int v = best > 0 ? lap_steps(d, *rg, best, s.gate_drop) : 0;
        if (v > 0 && v < penalty) {
            while (v < penalty && r.next_gate > first && normal > 0) {
                r.next_gate -= normal;
                penalty -= v;
                r.laps_off++;
            }
        }
        r.penalty = penalty;
        r.time += penalty;
    }
    std::sort(order.begin(), order.end(), ahead);
    g.standings.final_order = order;
}

void append(std::string &out, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void append(std::string &out, const char *fmt, ...) {
    char buffer[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    out += buffer;
}

void append_clock(std::string &out, long long steps) {
    long long ms = std::max(0LL, steps) * 1000 / 128;
    append(out, "%3d:%02d.%03d", int(ms / 60000), int(ms / 1000 % 60), int(ms % 1000));
}

} // namespace

const Standings &standings() {
    return g.standings;
}

OffCourseSettings &off_course_settings() {
    return g.off_course;
}

void standings_reset() {
    g.standings.live.clear();
    g.standings.final_order.clear();
    g.standings.riders = 0;
}

int standings_leader() {
    return g.standings.live.empty() ? -1 : g.standings.live.front().slot;
}

RiderGates *standings_leader_gates() {
    int slot = standings_leader();
    return slot >= 0 ? gates_of(slot) : nullptr;
}

void standings_update() {
    RaceSession &s = session();
    if (s.results_final) return;

    // 1. The live order.
    std::vector<StandingRecord> &live = g.standings.live;
    live.clear();
    for (int m = 0; m < kSlotCount; ++m) {
        RiderGates *rg = gates_of(m);
        if (!rg) continue;
        StandingRecord r;
        r.slot = m;
        r.next_gate = rg->next_gate;
        r.time = last_gate_time(*rg);
        live.push_back(r);
    }
    std::sort(live.begin(), live.end(), ahead);
    g.standings.riders = int(live.size());

    // 2. A timed race fixes its laps once the time ran out.
    timed_race_extension();

    // 3. Is the race over?
    if (!race_over()) return;

    // 4. The final order with penalties; 5. the results.
    build_final_order();
    const std::vector<StandingRecord> &order = g.standings.final_order;
    if (!order.empty()) {
        RiderGates *winner = gates_of(order.front().slot);
        if (winner && has_finished(gates(), *winner, race_laps())) results_write();
    }
    s.results_final = true;
    if (session_hooks().series_record_result) session_hooks().series_record_result();
}

int cutting_penalty(int slot) {
    const RiderGates *rg = gates_of(slot);
    return rg ? penalty_of(*rg) : 0;
}

int reference_time(int a, int b) {
    const GateData &d = gates();
    const RaceSession &s = session();
    int first = int(d.first_lap.size()), normal = int(d.normal_lap.size());
    long long sum = 0;
    int contributions = 0;
    for (const StandingRecord &r : g.standings.live) {
        if (s.online && r.slot == s.local_slot && gates_of(r.slot)->next_gate == 0) continue;
        const RiderGates &rg = *gates_of(r.slot);
        if (a < first || normal == 0) {
            int t = section_time(rg, a, b);
            if (t >= 0) {
                sum += t;
                ++contributions;
            }
            continue;
        }
        long long a1 = first + (a - first) % normal, b1 = b - a + a1;
        long long lap_sum = 0;
        int laps = 0;
        for (long long j = 0; b1 + j * normal < rg.next_gate; ++j) {
            int t = section_time(rg, a1 + j * normal, b1 + j * normal);
            if (t >= 0) {
                lap_sum += t;
                ++laps;
            }
        }
        if (laps > 0) {
            sum += lap_sum / laps;
            ++contributions;
        }
    }
    return contributions > 0 ? int(sum / contributions) : kDefaultReferenceSteps;
}

bool off_course(int slot, int m) {
    const RiderGates *rg = gates_of(slot);
    if (!rg) return false;
    const RaceSession &s = session();
    int b = s.gate_drop;
    for (int k = m - 1; k >= std::max(0, m - 3); --k) {
        if (gate_time(*rg, k) >= 0) {
            b = gate_time(*rg, k);
            break;
        }
    }
    int c = s.clock;
    for (int k = m; k < rg->next_gate; ++k) {
        if (gate_time(*rg, k) >= 0) {
            c = gate_time(*rg, k);
            break;
        }
    }
    for (const StandingRecord &r : g.standings.live) {
        const RiderGates &other = *gates_of(r.slot);
        if (other.next_gate <= m) return false;
        int t0 = time_at(other, m - 1), t1 = gate_time(other, m);
        if (t0 < 0 || t1 < 0) continue;
        const OffCourseSettings &oc = g.off_course;
        return (c - b) / 128.0 >= oc.scale * ((t1 - t0) / 128.0) + oc.bias;
    }
    return false;
}

bool is_ghost(int slot) {
    const RiderSlot &rs = session_slot(slot);
    if (!rs.bike) return true;
    const RaceSession &s = session();
    const SessionHooks &h = session_hooks();
    bool local_has_gate = s.local_slot >= 0 && session_slot(s.local_slot).bike &&
                          session_slot(s.local_slot).bike->gates.next_gate > 0;
    if (s.online && !local_has_gate && rs.kind == kRiderLocal && slot != s.camera_slot) return true;
    if (rs.kind != kRiderRecorded) return false;
    if (!s.online) {
        int last = h.history_latest ? h.history_latest(slot) : -1;
        return last < 0 || std::abs(s.clock - last) > 128;
    }
    if (!h.remote_state_step || s.clock - h.remote_state_step(slot) > 128) return true;
    const OffCourseSettings &oc = g.off_course;
    if (g.standings.riders <= 1 || s.clock < s.gate_drop + oc.bias * 128) return false;
    auto out_of_it = [](int who) {
        RiderGates *rg = gates_of(who);
        if (!rg || rg->finished || rg->next_gate == 0) return true;
        for (int m = std::max(rg->next_gate - 3, 1); m <= rg->next_gate; ++m)
            if (off_course(who, m)) return true;
        return false;
    };
    if (s.local_slot < 0 || out_of_it(s.local_slot)) return false;
    return out_of_it(slot);
}

std::string results_text(std::time_t date) {
    const RaceSession &s = session();
    const GateData &d = gates();
    std::string out;
    append(out, "Time=%.2f|Laps=%d|Track=%s|Date=%ld\r\n", s.time_limit / 128.0, s.laps,
           track_state().dir.c_str(), long(date));
    append(out, "%4s | %12s | %4s | %10s | %4s | %10s\r\n", "No.", "Bike", "Laps", "Total Time",
           "BLap", "Best Time");
    std::vector<const StandingRecord *> finished;
    for (const StandingRecord &r : g.standings.final_order) {
        Bike *b = session_slot(r.slot).bike;
        if (b && b->gates.finished) finished.push_back(&r);
    }
    for (const StandingRecord *r : finished) {
        const Bike *b = session_slot(r->slot).bike;
        append(out, "%4s | %12s | %4d | ", b->number_text, b->model.name ? b->model.name : "",
               completed_laps(d, r->next_gate));
        append_clock(out, (long long)r->time - s.gate_drop);
        int best = best_lap(d, b->gates, s.gate_drop);
        append(out, " | %4d | ", best);
        append_clock(out, best > 0 ? lap_steps(d, b->gates, best, s.gate_drop) : 0);
        out += "\r\n";
    }
    for (const StandingRecord *r : finished) {
        const RiderGates &rg = session_slot(r->slot).bike->gates;
        out += "\r\n";
        append(out, "%d\r\n", int(rg.gate_times.size()));
        for (std::size_t k = 0; k < rg.gate_times.size(); ++k) {
            int t = rg.gate_times[k];
            if (t < 0)
                append(out, "%8d", -1);
            else
                append(out, "%8.3f", (t - s.gate_drop) / 128.0);
            out += gate_is_lap_end(d, int(k)) ? "\r\n" : " ";
        }
    }
    return out;
}

bool results_write() {
    std::string text = results_text(std::time(nullptr));
    g.standings.results = text;
    Stream *f = vfs_open("@results.txt", "wb");
    if (!f) {
        log_printf("Can't write results.txt\n");
        return false;
    }
    stream_write(f, text.data(), text.size());
    return vfs_close(f);
}

void race_length_text(char *buffer, std::size_t size) {
    if (!buffer || size == 0) return;
    const RaceSession &s = session();
    int minutes = int(std::lround(s.time_limit / 128.0 / 60.0));
    if (s.time_limit > 0 && s.laps > 0)
        std::snprintf(buffer, size, "%d minutes + %d laps", minutes, s.laps);
    else if (s.time_limit > 0)
        std::snprintf(buffer, size, "%d minutes", minutes);
    else
        std::snprintf(buffer, size, "%d laps", s.laps);
}

std::string penalty_text(const StandingRecord &r) {
    if (r.penalty <= 0 && r.laps_off <= 0) return std::string();
    const Bike *b = session_slot(r.slot).bike;
    std::string out;
    append(out, "%3s penalized ", b ? b->number_text : "");
    if (r.laps_off > 0) append(out, "%d %s ", r.laps_off, r.laps_off == 1 ? "lap" : "laps");
    append(out, "%.2f seconds for cutting track", r.penalty / 128.0);
    return out;
}
