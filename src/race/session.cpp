#include "race/session.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "files/settings.h"
#include "files/setup.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/process.h"
#include "platform/random.h"
#include "race/standings.h"
#include "race/timing.h"
#include "sim/bike.h"
#include "sim/contact.h"
#include "sim/ground.h"
#include "sim/roost.h"
#include "sim/setup.h"
#include "sim/world.h"
#include "track/gates.h"
#include "track/hooks.h"
#include "track/ruts.h"
#include "track/terrain.h"
#include "track/track.h"

namespace {

// The fixed robot roster: numbers 20 .. 99 in order.
const RosterEntry kRoster[kRosterSize] = {
    {"20", "brell", "kx125", "@rider_body-alt1.png", "@rider_head-alt1.png", nullptr, nullptr},
    {"21", "brell", "kx125", "@rider_body-alt2.png", "@rider_head-alt1.png", nullptr, nullptr},
    {"22", "brell", "kx125", "@rider_body-alt3.png", "@rider_head-alt2.png", nullptr, nullptr},
    {"23", "brell", "kx125", "@rider_body-alt1.png", nullptr, "@kx125-alt1.png",
     "@wheels-alt1.png"},
    {"24", "brell", "kx125", "@rider_body-alt2.png", "@rider_head-alt3.png", nullptr, nullptr},
    {"25", "brell", "yz125", "@rider_body-alt3.png", "@rider_head-alt2.png", nullptr, nullptr},
    {"26", "brell", "yz125", "@rider_body-alt1.png", "@rider_head-alt3.png", "@yz125-alt2.png",
     "@wheels-alt2.png"},
    {"27", "brell", "yz125", nullptr, "@rider_head-alt1.png", nullptr, nullptr},
    {"28", "brell", "yz125", "@rider_body-alt2.png", nullptr, nullptr, nullptr},
    {"29", "brell", "yz125", "@rider_body-alt3.png", "@rider_head-alt2.png", nullptr, nullptr},
    {"30", "brell", "cr125", "@rider_body-alt1.png", "@rider_head-alt1.png", nullptr, nullptr},
    {"31", "brell", "cr125", "@rider_body-alt2.png", "@rider_head-alt1.png", nullptr, nullptr},
    {"32", "brell", "cr125", "@rider_body-alt3.png", "@rider_head-alt2.png", nullptr, nullptr},
    {"33", "brell", "cr125", "@rider_body-alt1.png", nullptr, "@cr125-alt1.png",
     "@wheels-alt1.png"},
    {"34", "brell", "cr125", "@rider_body-alt2.png", "@rider_head-alt3.png", nullptr, nullptr},
    {"35", "brell", "rm125", "@rider_body-alt3.png", "@rider_head-alt2.png", nullptr, nullptr},
    {"36", "brell", "rm125", "@rider_body-alt1.png", "@rider_head-alt3.png", "@rm125-alt2.png",
     "@wheels-alt2.png"},
    {"37", "brell", "rm125", nullptr, "@rider_head-alt1.png", nullptr, nullptr},
    {"38", "brell", "rm125", "@rider_body-alt2.png", nullptr, nullptr, nullptr},
    {"39", "brell", "rm125", "@rider_body-alt3.png", "@rider_head-alt2.png", nullptr, nullptr},
    {"40", "zorv", "crf250", "@rider_body-alt1.png", "@rider_head-alt1.png", nullptr, nullptr},
    {"41", "zorv", "crf250", "@rider_body-alt2.png", "@rider_head-alt1.png", nullptr, nullptr},
    {"42", "zorv", "crf250", "@rider_body-alt3.png", "@rider_head-alt2.png", nullptr, nullptr},
    {"43", "zorv", "crf250", nullptr, nullptr, nullptr, nullptr},
    {"44", "zorv", "crf250", "@rider_body-alt2.png", "@rider_head-alt3.png", nullptr, nullptr},
    {"45", "zorv", "kx250f", "@rider_body-alt3.png", "@rider_head-alt2.png", nullptr, nullptr},
    {"46", "zorv", "kx250f", "@rider_body-alt1.png", "@rider_head-alt3.png", "@kx250f-alt2.png",
     "@wheels-alt2.png"},
    {"47", "zorv", "kx250f", nullptr, "@rider_head-alt1.png", nullptr, nullptr},
    {"48", "zorv", "kx250f", "@rider_body-alt2.png", nullptr, nullptr, nullptr},
    {"49", "zorv", "kx250f", "@rider_body-alt3.png", "@rider_head-alt2.png", nullptr, nullptr},
    {"50", "zorv", "rmz250", "@rider_body-alt1.png", "@rider_head-alt1.png", nullptr, nullptr},
    {"51", "zorv", "rmz250", "@rider_body-alt2.png", "@rider_head-alt1.png", nullptr, nullptr},
    {"52", "zorv", "rmz250", "@rider_body-alt3.png", "@rider_head-alt2.png", nullptr, nullptr},
    {"53", "zorv", "rmz250", "@rider_body-alt1.png", nullptr, "@rmz250-alt1.png",
     "@wheels-alt1.png"},
    {"54", "zorv", "yz250f", "@rider_body-alt2.png", "@rider_head-alt3.png", nullptr, nullptr},
    {"55", "zorv", "yz250f", "@rider_body-alt3.png", "@rider_head-alt2.png", nullptr, nullptr},
    {"56", "zorv", "yz250f", "@rider_body-alt1.png", "@rider_head-alt3.png", "@yz250f-alt2.png",
     "@wheels-alt2.png"},
    {"57", "zorv", "yz250f", nullptr, "@rider_head-alt1.png", nullptr, nullptr},
    {"58", "zorv", "yz250f", "@rider_body-alt2.png", nullptr, nullptr, nullptr},
    {"59", "zorv", "yz250f_se(2006)", "@rider_body-alt3.png", "@rider_head-alt2.png", nullptr,
     nullptr},
    {"60", "brell", "crf250", "@rider_body-alt1.png", "@rider_head-alt1.png", nullptr, nullptr},
    {"61", "brell", "crf250", "@rider_body-alt2.png", "@rider_head-alt1.png", nullptr, nullptr},
    {"62", "brell", "crf250", "@rider_body-alt3.png", "@rider_head-alt2.png", nullptr, nullptr},
    {"63", "brell", "crf250", "@rider_body-alt1.png", nullptr, "@crf250-alt1.png",
     "@wheels-alt1.png"},
    {"64", "brell", "crf250", "@rider_body-alt2.png", "@rider_head-alt3.png", nullptr, nullptr},
    {"65", "brell", "kx250f", "@rider_body-alt3.png", "@rider_head-alt2.png", nullptr, nullptr},
    {"66", "brell", "kx250f", "@rider_body-alt1.png", "@rider_head-alt3.png", "@kx250f-alt2.png",
     "@wheels-alt2.png"},
    {"67", "brell", "kx250f", nullptr, "@rider_head-alt1.png", nullptr, nullptr},
    {"68", "brell", "kx250f", "@rider_body-alt2.png", nullptr, nullptr, nullptr},
    {"69", "brell", "kx250f", "@rider_body-alt3.png", "@rider_head-alt2.png", nullptr, nullptr},
    {"70", "brell", "rmz250", "@rider_body-alt1.png", "@rider_head-alt1.png", nullptr, nullptr},
    {"71", "brell", "rmz250", "@rider_body-alt2.png", "@rider_head-alt1.png", nullptr, nullptr},
    {"72", "brell", "rmz250", "@rider_body-alt3.png", "@rider_head-alt2.png", nullptr, nullptr},
    {"73", "brell", "rmz250", "@rider_body-alt1.png", nullptr, "@rmz250-alt1.png",
     "@wheels-alt1.png"},
    {"74", "brell", "rmz250", "@rider_body-alt2.png", "@rider_head-alt3.png", nullptr, nullptr},
    {"75", "brell", "yz250f", "@rider_body-alt3.png", "@rider_head-alt2.png", nullptr, nullptr},
    {"76", "brell", "yz250f", "@rider_body-alt1.png", "@rider_head-alt3.png", "@yz250f-alt2.png",
     "@wheels-alt2.png"},
    {"77", "brell", "yz250f", nullptr, "@rider_head-alt1.png", nullptr, nullptr},
    {"78", "brell", "yz250f", "@rider_body-alt2.png", nullptr, nullptr, nullptr},
    {"79", "brell", "yz250f_se(2006)", "@rider_body-alt3.png", "@rider_head-alt2.png", nullptr,
     nullptr},
    {"80", "tamsk", "crf250", "@rider_body-alt1.png", "@rider_head-alt1.png", "@crf250-alt1.png",
     "@wheels-alt1.png"},
    {"81", "tamsk", "crf250", "@rider_body-alt2.png", "@rider_head-alt1.png", "@crf250-alt2.png",
     "@wheels-alt1.png"},
    {"82", "tamsk", "crf250", "@rider_body-alt3.png", "@rider_head-alt2.png", "@crf250-alt1.png",
     "@wheels-alt2.png"},
    {"83", "tamsk", "crf250", "@rider_body-alt1.png", nullptr, "@crf250-alt2.png",
     "@wheels-alt2.png"},
    {"84", "tamsk", "crf250", "@rider_body-alt2.png", "@rider_head-alt3.png", "@crf250-alt1.png",
     "@wheels-alt1.png"},
    {"85", "tamsk", "kx250f", "@rider_body-alt3.png", "@rider_head-alt2.png", "@kx250f-alt2.png",
     "@wheels-alt1.png"},
    {"86", "tamsk", "kx250f", "@rider_body-alt1.png", "@rider_head-alt3.png", "@kx250f-alt1.png",
     "@wheels-alt2.png"},
    {"87", "tamsk", "kx250f", nullptr, "@rider_head-alt1.png", "@kx250f-alt2.png",
     "@wheels-alt2.png"},
    {"88", "tamsk", "kx250f", "@rider_body-alt2.png", nullptr, "@kx250f-alt1.png",
     "@wheels-alt1.png"},
    {"89", "tamsk", "kx250f", "@rider_body-alt3.png", "@rider_head-alt2.png", "@kx250f-alt2.png",
     "@wheels-alt1.png"},
    {"90", "tamsk", "yz250f", "@rider_body-alt1.png", "@rider_head-alt1.png", "@yz250f-alt1.png",
     "@wheels-alt2.png"},
    {"91", "tamsk", "yz250f", "@rider_body-alt2.png", "@rider_head-alt1.png", "@yz250f-alt2.png",
     "@wheels-alt2.png"},
    {"92", "tamsk", "yz250f", "@rider_body-alt3.png", "@rider_head-alt2.png", "@yz250f-alt1.png",
     "@wheels-alt1.png"},
    {"93", "tamsk", "yz250f", "@rider_body-alt1.png", nullptr, "@yz250f-alt2.png",
     "@wheels-alt1.png"},
    {"94", "tamsk", "yz250f", "@rider_body-alt2.png", "@rider_head-alt3.png", "@yz250f-alt1.png",
     "@wheels-alt2.png"},
    {"95", "tamsk", "rmz250", "@rider_body-alt3.png", "@rider_head-alt2.png", "@rmz250-alt2.png",
     "@wheels-alt2.png"},
    {"96", "tamsk", "rmz250", "@rider_body-alt1.png", "@rider_head-alt3.png", "@rmz250-alt1.png",
     "@wheels-alt1.png"},
    {"97", "tamsk", "rmz250", nullptr, "@rider_head-alt1.png", "@rmz250-alt2.png",
     "@wheels-alt1.png"},
    {"98", "tamsk", "rmz250", "@rider_body-alt2.png", nullptr, "@rmz250-alt1.png",
     "@wheels-alt2.png"},
    {"99", "tamsk", "rmz250", "@rider_body-alt3.png", "@rider_head-alt2.png", "@rmz250-alt2.png",
     "@wheels-alt2.png"},
};

constexpr int kFirstRosterNumber = 20;
constexpr const char *kRobotName = "Verivavuz";
constexpr const char *kDefaultPersonality = "zorv";
// Placement never raises a bike further than this above the terrain's highest point.
constexpr double kPlacementMargin = 16.0;

struct SessionModule {
    RaceSession session;
    SessionOptions options;
    RiderSlot slots[kSlotCount];
    SessionHooks hooks;
    int lineup[kSlotCount] = {};
};
SessionModule g;

const char *text_or_null(const char *s) {
    return s && *s ? s : nullptr;
}

void loading_text(const char *text) {
    if (track_hooks().loading_screen) track_hooks().loading_screen(text);
}

double gate_raise_step() {
    return 8.0 / 128.0;
}

// The human's identity from the rider setup.
RiderIdentity human_identity() {
    const SetupSettings &u = settings().setup;
    RiderIdentity who;
    who.bike = choice_text(u.bike);
    who.number = u.number.text;
    who.name = u.name.text;
    who.body = choice_text(u.rider_texture);
    who.head = choice_text(u.head_texture);
    who.bike_texture = choice_text(u.bike_texture);
    who.wheels = choice_text(u.wheel_texture);
    return who;
}

RiderIdentity robot_identity(int roster) {
    const RosterEntry &r = kRoster[roster];
    RiderIdentity who;
    who.bike = r.bike;
    who.number = r.number;
    who.name = kRobotName;
    if (r.body) who.body = r.body;
    if (r.head) who.head = r.head;
    if (r.bike_texture) who.bike_texture = r.bike_texture;
    if (r.wheels) who.wheels = r.wheels;
    return who;
}

// The next robot of the shuffled roster for a slot code 2, 3 or 4: for 3 and 4 the first
// entry from the back (79 down to robots_placed + 1) whose bike matches is swapped into
// position robots_placed. Beyond 80 robots the roster is reused from the start.
int pick_robot(int code) {
    RaceSession &s = g.session;
    int place = s.robots_placed % kRosterSize;
    const char *want = code == kSlotRobot2Stroke   ? "125"
                       : code == kSlotRobot4Stroke ? "250"
                                                   : nullptr;
    if (want && s.robots_placed < kRosterSize) {
        for (int i = kRosterSize - 1; i >= place + 1; --i) {
            if (std::strstr(kRoster[s.roster_order[i]].bike, want)) {
                std::swap(s.roster_order[i], s.roster_order[place]);
                break;
            }
        }
    }
    return s.roster_order[place];
}

void roster_shuffle() {
    RaceSession &s = g.session;
    for (int i = 0; i < kRosterSize; ++i) s.roster_order[i] = i;
    random_seed(std::uint32_t(s.clock));
    for (int i = kRosterSize - 1; i >= 1; --i) {
        int j = int((random_next() / 65536u) % std::uint32_t(i));
        std::swap(s.roster_order[i], s.roster_order[j]);
    }
}

// A 31-bit random fraction in 0 .. 1.
double random_fraction31() {
    return double(random_next() & 0x7fffffffu) * (1.0 / 2147483648.0);
}

// The start position index of slot m in a multiplayer race: the local rider on its
// server gate (0 if none), the others on the positions from start_count on in slot
// (arrival) order, skipping the local rider's.
int online_position(int slot, int local_slot, int local_gate) {
    if (slot == local_slot) return std::max(local_gate, 0);
    int first = int(gates().starts.size()), p = first;
    for (int m = 0; m < slot; ++m)
        if (m != local_slot && g.slots[m].bike) ++p;
    if (local_gate >= first && p >= local_gate) ++p;
    return std::min(p, kSlotCount - 1);
}

Placement placement_at(int position) {
    const GateData &d = gates();
    if (!d.starts.empty()) {
        int count = int(d.starts.size());
        const StartPosition &sp = d.starts[std::size_t(position % count)];
        double row = position / count;
        double back = (row + 1.0 / 16.0) * 10.0;
        return {sp.x + std::sin(sp.angle) * back, sp.z + std::cos(sp.angle) * back, sp.angle};
    }
    double e = terrain().extent;
    return {e / 2 + 5.0 * position, e / 2, 0.0};
}

void apply_recorded_assists(Bike *b) {
    bike_set_roll_damping(b, 100);
    bike_set_full_lock_speed(b, 5);
    bike_set_restricted_lock_speed(b, 50);
    bike_set_restricted_lock_angle(b, 0.04363323f);
}

Vec3 frame_position(const Bike *b) {
    return body_position(b->body[kBodyFrame]);
}

// The start position a slot lines up at (for the start-gate hold), or -1 for none.
int start_of_slot(int slot) {
    int count = int(gates().starts.size());
    return count > 0 ? slot % count : -1;
}

// Offline start-gate hold for positions without a gate statue: the rider waits with both
// brakes on and the clutch pulled until the gate drops.
void start_gate_hold(int slot, Bike *b) {
    const RaceSession &s = g.session;
    if (s.practice || s.online || s.clock > s.gate_drop) return;
    int p = start_of_slot(slot);
    if (p >= 0 && gates().starts[std::size_t(p)].gate_statue >= 0) return; // the gate holds
    rider_set_front_brake(b, 1);
    rider_set_rear_brake(b, 1);
    rider_set_clutch(b, 0);
}

// The false-start rule for the local rider online.
void start_rule(Bike *b, const RiderSlot &slot) {
    RaceSession &s = g.session;
    if (s.clock <= s.gate_drop) {
        rider_set_sit_dab(b, 1);
        Vec3 p = frame_position(b);
        double dx = p.x - slot.start_point[0], dy = p.y - slot.start_point[1],
               dz = p.z - slot.start_point[2];
        if (s.start_penalty <= 0 && dx * dx + dy * dy + dz * dz >= 9.0) {
            s.start_penalty = s.gate_drop + kFalseStartSteps - s.clock;
            show_message("15 second false start penalty");
        }
    }
    if (s.start_penalty > 0) {
        s.start_penalty--;
        rider_set_front_brake(b, 1);
        rider_set_rear_brake(b, 1);
        rider_set_back_up(b, 0);
        rider_set_clutch(b, 0);
        rider_set_throttle(b, 0);
        rider_set_sit_dab(b, 1);
    }
}

bool gate_check(int slot, Bike *b) {
    Vec3 p = body_position(b->body[kBodyFrontWheel]);
    RaceLaps race{g.session.total_laps, standings_leader_gates()};
    int passed = -2;
    if (g.slots[slot].kind == kRiderRecorded && g.hooks.recorded_gate_test)
        passed = g.hooks.recorded_gate_test(slot, b->gates, g.session.clock, race);
    if (passed == -2) passed = gates_check(gates(), b->gates, p.x, p.z, g.session.clock, race);
    if (passed < 0) return false;
    if (g.hooks.robot_gate) g.hooks.robot_gate(slot, b, passed);
    standings_update();
    return true;
}

// Riders with bikes in slot order.
std::vector<int> rider_slots() {
    std::vector<int> list;
    for (int m = 0; m < kSlotCount; ++m)
        if (g.slots[m].bike) list.push_back(m);
    return list;
}

void step_contacts(const std::vector<int> &riders) {
    RaceSession &s = g.session;
    if (s.online) {
        // Online only the local rider collides here; the network layer switches remote
        // riders it touches to local simulation.
        if (s.local_slot >= 0 && g.slots[s.local_slot].bike)
            bike_collide_world(g.slots[s.local_slot].bike);
        return;
    }
    for (int m : riders)
        if (g.slots[m].kind != kRiderRecorded) bike_collide_world(g.slots[m].bike);
    std::vector<int> order;
    for (int m : riders)
        if (!is_ghost(m)) order.push_back(m);
    std::vector<double> speed(kSlotCount, 0.0);
    for (int m : order) speed[std::size_t(m)] = bike_frame_speed(g.slots[m].bike);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return speed[std::size_t(a)] > speed[std::size_t(b)]; });
    // Two replayed riders are both posed from their states: a contact between them could
    // move neither, so the pair is not tested.
    for (std::size_t i = 0; i < order.size(); ++i)
        for (std::size_t j = i + 1; j < order.size(); ++j) {
            const RiderSlot &a = g.slots[order[i]], &b = g.slots[order[j]];
            if (a.kind == kRiderRecorded && b.kind == kRiderRecorded) continue;
            bike_collide_bikes(a.bike, b.bike, false);
        }
}

void step_start_gates() {
    RaceSession &s = g.session;
    int until = s.gate_drop + kGateRaiseWindow;
    if (s.clock > until) return;
    for (StartPosition &sp : gates().starts) {
        if (sp.gate_statue < 0 || sp.gate_raise <= 0) continue;
        if (s.clock > s.gate_drop) {
            bool touched = g.hooks.statue_touched && g.hooks.statue_touched(sp.gate_statue);
            if (!touched) sp.gate_raise = float(std::max(0.0, sp.gate_raise - gate_raise_step()));
        }
        if (g.hooks.statue_turn) g.hooks.statue_turn(sp.gate_statue, sp.gate_raise * kGateTurn);
    }
}

// A lap of the player in practice counts when every gate from the previous finish line
// to this one has a time.
bool practice_lap_complete(const RiderGates &rg, int lap) {
    const GateData &d = gates();
    long long end = gate_lap_end_index(d, lap);
    long long start = lap >= 2 ? gate_lap_end_index(d, lap - 1) : 0;
    for (long long k = start; k <= end; ++k)
        if (gate_time(rg, k) < 0) return false;
    return true;
}

void step_practice() {
    RaceSession &s = g.session;
    const GateData &d = gates();
    if (d.checkpoints.empty()) return;
    // 1. The ghost's lap sets the best lap when faster.
    if (Bike *ghost = g.slots[1].bike) {
        int laps = lap_of(d, ghost->gates).lap;
        if (laps > s.practice_laps[1]) {
            int t = lap_steps(d, ghost->gates, laps, s.gate_drop);
            if (t > 0 && (s.best_lap == 0 || t < s.best_lap)) s.best_lap = t;
        }
    }
    // 2. The player's lap.
    Bike *player = g.slots[0].bike;
    if (!player) return;
    int laps = lap_of(d, player->gates).lap;
    if (laps <= s.practice_laps[0]) return;
    if (g.hooks.demo_close) g.hooks.demo_close();
    for (int m = 1; m < kSlotCount; ++m) session_free_rider(m);
    bool counts = practice_lap_complete(player->gates, laps);
    int t = lap_steps(d, player->gates, laps, s.gate_drop);
    bool best = false;
    if (counts && t > 0) {
        s.last_lap = t;
        if (s.best_lap == 0 || t < s.best_lap) {
            s.best_lap = t;
            best = true;
        }
    }
    if (g.hooks.practice_lap_demo) g.hooks.practice_lap_demo(counts, best);
    int finish = std::max(int(d.first_lap.size()) - 1, 0);
    for (int m = 1; m < kSlotCount; ++m)
        if (g.slots[m].bike) set_next_gate(g.slots[m].bike->gates, finish);
    set_next_gate(player->gates, finish);
    gate_check(0, player);
    standings_update();
}

} // namespace

const RosterEntry *robot_roster() {
    return kRoster;
}

int roster_index(int number) {
    int i = number - kFirstRosterNumber;
    return i >= 0 && i < kRosterSize ? i : -1;
}

const char *bike_name_mapped(const char *name) {
    static const char *const kMap[][2] = {{"crf250", "crf250(2008)"},
                                          {"kx250f", "kx250f(2008)"},
                                          {"rmz250", "rmz250(2008)"},
                                          {"yz250f", "yz250f(2008)"}};
    if (!name) return "";
    for (const auto &m : kMap)
        if (std::strcmp(name, m[0]) == 0) return m[1];
    return name;
}

RaceSession &session() {
    return g.session;
}
SessionOptions &session_options() {
    return g.options;
}
RiderSlot &session_slot(int slot) {
    return g.slots[std::clamp(slot, 0, kSlotCount - 1)];
}
void session_hooks_install(const SessionHooks &hooks) {
    g.hooks = hooks;
}
const SessionHooks &session_hooks() {
    return g.hooks;
}

int *race_lineup() {
    return g.lineup;
}

void lineup_from_settings(int out[kSlotCount]) {
    for (int m = 0; m < kSlotCount; ++m) out[m] = kSlotEmpty;
    const Settings &st = settings();
    for (int m = 0; m < kGateCount; ++m) out[m] = std::clamp(st.gates[m].index, 0, 4);
}

void lineup_robots(int out[kSlotCount], int n) {
    for (int m = 0; m < kSlotCount; ++m) out[m] = kSlotEmpty;
    n = std::clamp(n, 0, kGateCount);
    // Nearest slot to 19 first, the lower one first on equal distance.
    int placed = 0;
    for (int d = 0; placed < n && d < kGateCount; ++d) {
        for (int slot : {19 - d, 19 + d}) {
            if (placed >= n || slot < 0 || slot >= kGateCount || out[slot] != kSlotEmpty) continue;
            out[slot] = kSlotRobot;
            ++placed;
        }
    }
}

void lineup_rotate(int lineup[kSlotCount], int n) {
    int shift = ((n % kSlotCount) + kSlotCount) % kSlotCount;
    if (shift == 0) return;
    int copy[kSlotCount];
    std::copy(lineup, lineup + kSlotCount, copy);
    for (int i = 0; i < kSlotCount; ++i) lineup[(i + shift) % kSlotCount] = copy[i];
}

Placement start_placement(int slot) {
    return placement_at(std::clamp(slot, 0, kSlotCount - 1));
}

int place_bike(Bike *b, double x, double z, double heading) {
    if (!b) return 0;
    const Terrain &t = terrain();
    double y = 0;
    if (t.side > 0) {
        double sx = std::round(x / t.spacing) * t.spacing;
        double sz = std::round(z / t.spacing) * t.spacing;
        y = terrain_height(t, sx, sz);
    }
    bike_state_reset(b);
    bike_rotate(b, {0, 1, 0}, heading);
    bike_translate(b, x, y, z);
    // Raise out of the ground, but never past the highest point of the terrain: a bike
    // that still touches there sits on something that is not ground.
    double limit = double(std::max(t.max_height, float(y))) + kPlacementMargin;
    int raises = 0;
    while (bike_collide_ground(b)) {
        physics_contacts_clear();
        if (y + 0.25 > limit) {
            log_printf("place_bike: still touching the ground at height %.2f\n", y);
            break;
        }
        bike_translate(b, 0, 0.25, 0);
        y += 0.25;
        ++raises;
    }
    physics_contacts_clear();
    for (dBodyID body : b->body) {
        if (!body) continue;
        dBodySetForce(body, 0, 0, 0);
        dBodySetTorque(body, 0, 0, 0);
    }
    b->touched_down = 0;
    return raises;
}

bool session_create_rider(int slot, const RiderIdentity &who, int kind) {
    if (slot < 0 || slot >= kSlotCount) return false;
    session_free_rider(slot);
    RiderSlot &rs = g.slots[slot];
    Bike *b = bike_create(bike_name_mapped(who.bike.c_str()), slot, who.number.c_str(),
                          text_or_null(who.body.c_str()), text_or_null(who.head.c_str()),
                          text_or_null(who.bike_texture.c_str()), text_or_null(who.wheels.c_str()));
    if (!b) return false;
    rs.bike = b;
    rs.kind = kind;
    rs.name = who.name;
    if (kind == kRiderRecorded) {
        apply_recorded_assists(b);
        bike_disable(b);
    } else {
        bike_enable(b);
    }
    return true;
}

void session_free_rider(int slot) {
    if (slot < 0 || slot >= kSlotCount) return;
    RiderSlot &rs = g.slots[slot];
    if (rs.bike) bike_destroy(rs.bike);
    rs = RiderSlot{};
}

void session_free_riders() {
    log_printf("Deallocating bikes\n");
    for (int m = 0; m < kSlotCount; ++m) session_free_rider(m);
    log_printf("Finished deallocating bikes\n");
}

bool session_start(const int *slots, bool playback, bool record, int time_limit, int laps,
                   int skill) {
    RaceSession &s = g.session;
    const SessionHooks &h = g.hooks;
    ProcessFlags &pf = process_flags();

    // 1. Flush the log line by line until the start is done; the series records the
    //    event in progress.
    log_printf("\023FLUSH");
    if (h.series_record_result) h.series_record_result();
    loading_text("Resetting...");

    // 2. The roster shuffle, seeded with the clock of the session that ends here.
    roster_shuffle();

    // 3. Keep what the robots learned; close any demo.
    loading_text("Remembering lines...");
    if (track_state().loaded) {
        if (s.skill != -1 && pf.learn && h.lines_save) h.lines_save();
        if (h.lines_clear) h.lines_clear();
        if (h.demo_close) h.demo_close();
    }

    // 4. Free every rider.
    loading_text("Cleaning up...");
    session_free_riders();

    // 5. The clock, the race length and the gate drop.
    ServerStart server;
    bool online = h.server_start && h.server_start(server);
    s.clock = 0;
    s.countdown = kCountdownSteps;
    s.time_limit = std::max(0, time_limit);
    s.laps = std::max(0, laps);
    s.gate_drop = online ? server.gate_drop : int((random_fraction31() * 2 + 13) * 128);
    s.practice = slots == nullptr;
    s.online = online;
    s.playback = playback;
    s.results_final = false;
    s.start_penalty = 0;
    s.robots_placed = 0;
    s.local_slot = -1;
    s.last_lap = s.best_lap = 0;
    s.practice_laps[0] = s.practice_laps[1] = 0;
    if (!online && h.history_clear_all) h.history_clear_all();

    // 6. The track: the demo's, the server's or the menu's; loaded when it changed.
    std::string dir = settings_track_id();
    if (online) {
        dir = server.track;
    } else if (playback && h.demo_open) {
        DemoStart demo;
        if (h.demo_open(demo)) {
            if (!demo.track.empty()) dir = demo.track;
            s.time_limit = std::max(0, demo.time_limit);
            s.laps = std::max(0, demo.laps);
            s.gate_drop = demo.gate_drop;
        }
    }
    bool reload = track_load_needed(dir.c_str()) || (online && terrain().modified);
    if (reload) {
        if (track_state().loaded) track_free();
        if (h.caches_new_generation) h.caches_new_generation();
        if (dir.empty() || !track_load(dir.c_str(), 0)) {
            log_printf("session_start: track '%s' could not be loaded\n", dir.c_str());
            log_printf("\023NOFLUSH");
            return false;
        }
    }
    terrain().ruts_locked = online;

    // 7. The slot table; practice rides alone from 300 s on.
    int table[kSlotCount];
    if (slots) {
        std::copy(slots, slots + kSlotCount, table);
    } else {
        std::fill(table, table + kSlotCount, int(kSlotEmpty));
        table[0] = kSlotHuman;
        s.clock = kPracticeClock;
    }

    // 8. The robot line library of the chosen skill.
    s.skill = std::clamp(skill, 0, 2);
    if (h.lines_load) h.lines_load(s.skill);
    loading_text("Analyzing lines...");
    if (h.lines_prune) h.lines_prune();
    if (h.best_chains) h.best_chains();

    // 9. Create and place every rider.
    loading_text("Loading bikes...");
    int local_gate = online ? server.local_gate : -1;
    int first_human = -1;
    for (int m = 0; m < kSlotCount; ++m)
        if (table[m] == kSlotHuman) {
            first_human = m;
            break;
        }
    for (int m = 0; m < kSlotCount; ++m) {
        int code = table[m];
        RiderIdentity who;
        int kind = kRiderRobot;
        int roster = -1;
        if (code == kSlotEmpty) {
            if (!playback || !h.demo_next_rider || !h.demo_next_rider(m, who)) continue;
            kind = kRiderRecorded;
        } else if (code == kSlotHuman) {
            who = human_identity();
            kind = g.options.autopilot_humans ? kRiderRobot : kRiderLocal;
        } else if (code == kSlotRobot || code == kSlotRobot2Stroke || code == kSlotRobot4Stroke) {
            roster = pick_robot(code);
            s.robots_placed++;
        } else if (code == kSlotServer) {
            if (!h.server_rider || !h.server_rider(m, who)) continue;
            kind = kRiderRecorded;
        } else if (code >= kSlotRosterBase) {
            roster = roster_index(code - kSlotRosterBase);
            if (roster < 0) {
                show_messagef("Slot %d: no robot with number %d\n", m + 1, code - kSlotRosterBase);
                continue;
            }
            s.robots_placed++;
        } else {
            who.bike = "rm125";
            who.name = kRobotName;
        }
        if (roster >= 0) who = robot_identity(roster);
        if (!session_create_rider(m, who, kind)) continue;
        RiderSlot &rs = g.slots[m];
        rs.code = code;
        rs.roster = roster;
        if (kind == kRiderLocal && s.local_slot < 0) s.local_slot = m;
        Placement p =
            online ? placement_at(online_position(m, first_human, local_gate)) : placement_at(m);
        place_bike(rs.bike, p.x, p.z, p.heading);
        Vec3 f = frame_position(rs.bike);
        rs.start_point[0] = f.x;
        rs.start_point[1] = f.y;
        rs.start_point[2] = f.z;
        if (kind == kRiderRobot) {
            rs.personality = pf.practice   ? "tester"
                             : roster >= 0 ? kRoster[roster].personality
                                           : kDefaultPersonality;
            if (h.robot_create) h.robot_create(m, rs.bike, rs.personality.c_str());
        }
    }

    // 10. Fresh state histories; the demo recording.
    if (h.history_clear_all) h.history_clear_all();
    if (record && h.demo_record_start) h.demo_record_start();

    // 11. Roost particles and the robots' line choices.
    roost_pool_reset();
    if (h.robots_reset) h.robots_reset();

    // 12. Drop what the new track and bikes no longer use.
    unsigned long bytes = h.texture_memory ? h.texture_memory() : 0;
    show_messagef("%lu MB texture memory used\n", bytes / (1024ul * 1024ul));
    if (h.caches_purge) h.caches_purge();

    // 13. Race length; every start gate up.
    if (s.time_limit > 0) {
        s.total_laps = s.halfway_lap = kOpenLaps;
    } else {
        s.total_laps = s.laps;
        s.halfway_lap = (s.laps + 1) / 2;
    }
    for (StartPosition &sp : gates().starts) sp.gate_raise = 1;
    sim_clock().race_clock = s.clock;
    sim_clock().race_start = s.gate_drop;

    // 14. Practice starts before the finish line; first demo block; the standings.
    standings_reset();
    if (s.practice) practice_restart();
    if (h.demo_record_step) h.demo_record_step(true);
    if (h.demo_read_step) h.demo_read_step();
    s.results_final = false;
    standings_update();

    // 15. The camera follows the local player, or the leader.
    int leader = standings_leader();
    s.camera_slot = s.local_slot >= 0 ? s.local_slot : std::max(leader, 0);
    physics_contacts_clear();
    if (s.camera_slot == s.local_slot && s.local_slot >= 0) setup_apply(g.slots[s.local_slot].bike);
    if (h.camera_follow) h.camera_follow(s.camera_slot);
    log_printf("\023NOFLUSH");
    return true;
}

void session_step() {
    RaceSession &s = g.session;
    const SessionHooks &h = g.hooks;
    std::vector<int> riders = rider_slots();

    // 1. Recorded and received riders take their state for this clock.
    if (h.demo_read_step) h.demo_read_step();
    if (h.history_apply)
        for (int m : riders)
            if (g.slots[m].kind == kRiderRecorded) h.history_apply(m, s.clock);

    // 2. Practice: the laps of the player and the ghost before this step.
    if (s.practice) {
        for (int k = 0; k < 2; ++k)
            s.practice_laps[k] = g.slots[k].bike ? lap_of(gates(), g.slots[k].bike->gates).lap : 0;
    }

    // 3. Contacts with the ground, the statues and between riders.
    step_contacts(riders);

    // 4. Roost spray, starting with a rider that changes every step.
    if (!riders.empty()) {
        std::size_t n = riders.size(), first = std::size_t(s.clock) % n;
        for (std::size_t k = 0; k < n; ++k) {
            const RiderSlot &rs = g.slots[riders[(first + k) % n]];
            roost_emit(rs.bike, rs.kind != kRiderRecorded);
        }
    }

    // 5. The world step; the contact joints are cleared.
    physics_step();

    // 6. Ruts.
    double erode = process_flags().erosion_rate;
    if (erode > 0) {
        for (int m : riders) {
            RiderSlot &rs = g.slots[m];
            if (rs.kind == kRiderRecorded) continue;
            Vec3 f = frame_position(rs.bike);
            rut_work(rs.bike->ruts, terrain(), f.x, f.z, erode);
        }
    }

    // 7. Every rider in slot order: the autopilot, the start rules, the bike's own step
    //    and the gate test.
    for (int m : riders) {
        RiderSlot &rs = g.slots[m];
        Bike *b = rs.bike;
        if (!b) continue;
        if (rs.kind == kRiderRobot && h.robot_step) h.robot_step(m, b);
        if (s.online) {
            if (m == s.local_slot) start_rule(b, rs);
        } else if (rs.kind != kRiderRecorded) {
            start_gate_hold(m, b);
        }
        bike_step(b);
        if (!s.online || m == s.local_slot) gate_check(m, b);
    }

    // 8. Roost particles move.
    roost_particles_move(terrain());

    // 9. The start gates fall.
    step_start_gates();

    // 10. The clock; the standings are refreshed now and then as well (the timed race,
    //     the end of the race once the leader finished, riders whose recording ended).
    s.clock++;
    sim_clock().race_clock = s.clock;
    if (s.online ? s.clock % 512 == 510 : s.clock % 128 == 0) standings_update();

    // 11. Demo recording of this step.
    if (h.demo_record_step) h.demo_record_step(false);

    // 12. Practice laps.
    if (s.practice) step_practice();
}

void practice_restart() {
    Bike *b = g.slots[0].bike;
    if (!b) return;
    const GateData &d = gates();
    int index = 0;
    Placement p;
    if (!d.checkpoints.empty() && !d.first_lap.empty()) {
        index = std::max(int(d.first_lap.size()) - 2, 0);
        const Checkpoint &c = d.checkpoints[std::size_t(gate_checkpoint(d, index))];
        p = {c.centre[0], c.centre[2],
             std::atan2(-double(c.direction[0]), -double(c.direction[2]))};
    } else {
        // Without checkpoints the rider goes back to start position 0.
        p = placement_at(0);
    }
    place_bike(b, p.x, p.z, p.heading);
    physics_contacts_clear();
    set_next_gate(b->gates, index);
    standings_update();
}

void session_shutdown() {
    const SessionHooks &h = g.hooks;
    if (h.series_record_result) h.series_record_result();
    if (process_flags().learn && g.session.skill != -1 && h.lines_save) h.lines_save();
    if (h.lines_clear) h.lines_clear();
    // The demo is closed first: a recording's last block still reads the riders.
    if (h.demo_close) h.demo_close();
    physics_contacts_clear();
    session_free_riders();
}

int session_rider_count() {
    int n = 0;
    for (const RiderSlot &rs : g.slots)
        if (rs.bike) ++n;
    return n;
}

bool session_slot_riding(int slot) {
    if (slot < 0 || slot >= kSlotCount) return false;
    const RiderSlot &rs = g.slots[slot];
    return rs.bike && rs.kind == kRiderLocal;
}

bool session_leader_finished_race() {
    RiderGates *leader = standings_leader_gates();
    if (!leader || gates().checkpoints.empty()) return false;
    return lap_of(gates(), *leader).lap >= g.session.total_laps;
}
