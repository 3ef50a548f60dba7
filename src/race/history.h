// Per-slot state histories: for each of the 160 rider slots a ring of 128 time-stamped
// compact state records, kept sorted by time. Demo playback and the multiplayer client
// fill them; the race step shows replayed and remote riders from them by interpolating
// between the two records around the current time (extrapolating at most 64 steps past
// the newest one); demo recording writes the entries added since its last block.
// Main thread only.
#pragma once
#include "sim/state_record.h"

struct Bike;

constexpr int kHistorySlots = 160;
constexpr int kHistoryEntries = 128;
// Steps a rider is shown extrapolated beyond its newest record, at most.
constexpr int kHistoryExtrapolation = 64;

struct StateHistory {
    int head = kHistoryEntries - 1;     // index of the newest entry
    int pending = 0;                    // entries added since the last demo write (at most 128)
    int version = kStateVersionCurrent; // record layout of the stored records
    int times[kHistoryEntries];         // steps; -1 marks an empty entry
    BikeStateRecord records[kHistoryEntries];
    StateHistory();
};

// The history of slot 0..159 (null for another slot).
StateHistory *history(int slot);

// Stores record at time (steps, >= 0) in time order: the head advances by one, the
// oldest entry is lost when the ring is full, and pending grows (up to 128). A time
// already present keeps the first record; a time older than a full ring is dropped.
// Another slot shows "add_state_to_history: slot out of range" and stores nothing.
// Returns whether the record was stored.
bool history_add(int slot, const BikeStateRecord &record, int time);
// Empties one history (every time -1, pending 0, current record layout); all of them.
void history_clear(int slot);
void history_clear_all();
// Record layout of the records stored for slot from now on (the played demo's version).
void history_set_version(int slot, int version);

// The record to show at time T (clamped to >= 0): between the newest entry before T and
// the next one; T on a stored time gives that record unchanged; before the oldest entry
// the oldest; after the newest, extrapolated from the last two entries by at most 64
// steps. False when the history is empty.
bool history_sample(const StateHistory &h, int time, BikeStateRecord &out);
bool history_sample(int slot, int time, BikeStateRecord &out);
// Poses a replayed or remote bike (bodies disabled) from history_sample at time, with
// the frame's velocity over the last step given to every body. False (the bike left as
// it is) for an empty history, a bad slot or a null bike.
bool history_apply(int slot, int time, Bike *bike);

// Time of the newest entry of slot, or -1 when it has none.
int history_latest_time(int slot);
// Whether slot holds an entry within window steps of time (|entry - time| <= window).
bool history_has_entry_near(int slot, int time, int window);
// The pending entries of slot, oldest first: index of the k-th (0 = oldest pending) in
// times/records. Valid for k < pending.
int history_pending_index(const StateHistory &h, int k);
