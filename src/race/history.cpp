#include "race/history.h"

#include <cstdint>

#include "platform/messages.h"
#include "sim/bike.h"
#include "sim/world.h"

namespace {

StateHistory g_histories[kHistorySlots];

// Ring index of the k-th newest entry (k = 0 is the newest).
int newest(const StateHistory &h, int k) {
    int i = (h.head - k) % kHistoryEntries;
    return i < 0 ? i + kHistoryEntries : i;
}

bool slot_valid(int slot) {
    return slot >= 0 && slot < kHistorySlots;
}

} // namespace

StateHistory::StateHistory() {
    for (int &t : times) t = -1;
}

StateHistory *history(int slot) {
    return slot_valid(slot) ? &g_histories[slot] : nullptr;
}

bool history_add(int slot, const BikeStateRecord &record, int time) {
    if (!slot_valid(slot)) {
        show_message("add_state_to_history: slot out of range");
        return false;
    }
    // -1 marks an empty entry: a negative time cannot be stored.
    if (time < 0) return false;
    StateHistory &h = g_histories[slot];
    // k = the entries newer than time; entry k is the newest one not after it.
    int k = 0;
    while (k < kHistoryEntries && h.times[newest(h, k)] > time) ++k;
    if (k == kHistoryEntries) return false; // older than everything in a full ring
    if (h.times[newest(h, k)] == time) return false;
    // The k newer entries move one place towards the new head (the oldest entry, which
    // the new head overwrites, is lost); the record goes into the gap.
    int old_head = h.head;
    for (int j = 0; j < k; ++j) {
        int from = (old_head - j + kHistoryEntries) % kHistoryEntries;
        int to = (from + 1) % kHistoryEntries;
        h.times[to] = h.times[from];
        h.records[to] = h.records[from];
    }
    h.head = (old_head + 1) % kHistoryEntries;
    int at = newest(h, k);
    h.times[at] = time;
    h.records[at] = record;
    if (h.pending < kHistoryEntries) ++h.pending;
    return true;
}

void history_clear(int slot) {
    if (!slot_valid(slot)) return;
    g_histories[slot] = StateHistory();
}

void history_clear_all() {
    for (StateHistory &h : g_histories) h = StateHistory();
}

void history_set_version(int slot, int version) {
    if (slot_valid(slot)) g_histories[slot].version = version;
}

namespace {

// The choice of records for time T: entries ia and ib (ring indices) and the fraction
// from ia towards ib (0 = ia as it is, 1 = ib as it is). False for an empty history.
bool pick(const StateHistory &h, int time, int &ia, int &ib, double &fraction) {
    const int T = time < 0 ? 0 : time;
    // Step over the entries at or after T, newest first; entry k is then the newest
    // before T (an empty entry counts as before, its time being -1).
    int k = 0;
    while (k < kHistoryEntries && h.times[newest(h, k)] >= T) ++k;
    int a, b; // positions counted from the newest
    if (k == 0) {
        // Every entry is older than T: extrapolate from the last two.
        if (h.times[newest(h, 0)] < 0) return false;
        b = 0;
        a = h.times[newest(h, 1)] < 0 ? 0 : 1;
    } else if (k == kHistoryEntries || h.times[newest(h, k)] < 0) {
        // Every stored entry is at or after T: the oldest of them.
        a = k - 1;
        b = k == 1 ? a : k - 2;
    } else {
        a = k;
        b = k - 1;
    }
    ia = newest(h, a);
    ib = newest(h, b);
    const std::int64_t ta = h.times[ia], tb = h.times[ib];
    fraction = 0;
    if (ta < T && ta != tb) {
        if (tb == T) {
            fraction = 1;
        } else {
            std::int64_t until = tb + kHistoryExtrapolation < T ? tb + kHistoryExtrapolation : T;
            fraction = double(until - ta) / double(tb - ta);
        }
    }
    return true;
}

} // namespace

bool history_sample(const StateHistory &h, int time, BikeStateRecord &out) {
    int ia, ib;
    double fraction;
    if (!pick(h, time, ia, ib, fraction)) return false;
    if (fraction == 0)
        out = h.records[ia];
    else if (fraction == 1)
        out = h.records[ib];
    else
        out = bike_state_interpolate(h.records[ia], h.records[ib], fraction, h.version);
    return true;
}

bool history_sample(int slot, int time, BikeStateRecord &out) {
    if (!slot_valid(slot)) return false;
    return history_sample(g_histories[slot], time, out);
}

bool history_apply(int slot, int time, Bike *bike) {
    if (!slot_valid(slot) || !bike) return false;
    const StateHistory &h = g_histories[slot];
    int ia, ib;
    double fraction;
    if (!pick(h, time, ia, ib, fraction)) return false;
    BikeStateRecord now =
        fraction == 0   ? h.records[ia]
        : fraction == 1 ? h.records[ib]
                        : bike_state_interpolate(h.records[ia], h.records[ib], fraction, h.version);
    bike_state_decode(bike, now, h.version);
    // The bodies are disabled, so nothing moves them: give them the frame's velocity
    // between the two records for the camera and the sound (none while held at the
    // first record or past the extrapolation).
    Vec3 v{0, 0, 0};
    const int ta = h.times[ia], tb = h.times[ib];
    const int T = time < 0 ? 0 : time;
    if (tb > ta && T > ta && T <= tb + kHistoryExtrapolation) {
        double p1[3], p0[3];
        state_record_frame_position(h.records[ib], p1);
        state_record_frame_position(h.records[ia], p0);
        double dt = (tb - ta) * kStepSeconds;
        v = Vec3{(p1[0] - p0[0]) / dt, (p1[1] - p0[1]) / dt, (p1[2] - p0[2]) / dt};
    }
    for (dBodyID body : bike->body) body_set_linear_vel(body, v);
    return true;
}

int history_latest_time(int slot) {
    if (!slot_valid(slot)) return -1;
    const StateHistory &h = g_histories[slot];
    return h.times[h.head];
}

bool history_has_entry_near(int slot, int time, int window) {
    if (!slot_valid(slot)) return false;
    const StateHistory &h = g_histories[slot];
    for (int t : h.times) {
        if (t < 0) continue;
        std::int64_t d = std::int64_t(t) - time;
        if (d <= window && -d <= window) return true;
    }
    return false;
}

int history_pending_index(const StateHistory &h, int k) {
    int pending = h.pending < kHistoryEntries ? h.pending : kHistoryEntries;
    return newest(h, pending - 1 - k);
}
