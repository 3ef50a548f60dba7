// Demo files: recording a race session, playing it back, rewinding and skipping, the
// time-trial ghosts, and the demo list.
//
// File format (version 6; all binary integers little-endian):
//   "VQ06 <riders> <time limit> <laps> <gate drop>\n", "<track>\n", then per rider
//   "<bike>|<body>|<bike texture>|<wheels>|<head>\n<number>\n<name>\n\n", then blocks:
//   link (u32: previous payload length XOR this one, 0 before the first block), time
//   (i32, race clock), type (u8), payload. Type 1: entries of 44 bytes {rider index u8,
//   time i32, 39-byte state record}; type 2: message text; type 3: gate passes, entries
//   of 9 bytes {rider index u8, sequence index i32, time i32} (an empty one in the first
//   write marks a file that carries them); other types are skipped. The link lets a
//   reader walk the blocks backwards. Versions 4 and 5 have no name and empty lines and
//   no blocks: after the riders, one record (26 or 39 bytes) per rider for every step.
//
// Recording writes "@demos/default.vqdemo" (rotating "default%02d.vqdemo" backups first)
// or, in practice, the track folder's "lastlap.vqdemo"; the fastest practice lap is kept
// as "fastlap.vqdemo" and replayed as the ghost. Playback does not simulate: recorded
// riders are shown from the per-slot state histories (race/history.h). Main thread only.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct Stream;
struct RiderGates;
struct RaceLaps;
struct SessionHooks;

constexpr int kDemoVersion = 6;
constexpr int kDemoMaxRiders = 160;
constexpr int kDemoEntryBytes = 44;
constexpr int kDemoGatePassBytes = 9;
constexpr int kDemoBlockHeaderBytes = 9;
// No block payload is larger (160 riders x 128 entries x 44 bytes is 901120).
constexpr std::uint32_t kDemoMaxPayload = 1u << 20;
constexpr int kDemoMaxLine = 1024;         // a head line with its line feed
constexpr int kDemoDefaultGateDrop = 1792; // 14 s, for heads without one
constexpr int kDemoMaxBackups = 100;
constexpr int kDemoReadAhead = 64; // histories run this many steps ahead of the clock
constexpr int kDemoMessageMax = 1023;

enum DemoBlockType : int {
    kDemoBlockStates = 1,
    kDemoBlockText = 2,
    kDemoBlockGatePasses = 3,
};

// One rider of a demo head. slot: the slot it was recorded from, or in playback the slot
// it was given (-1 none).
struct DemoRider {
    std::string bike, body_texture, bike_texture, wheels_texture, head_texture;
    std::string number, name;
    int slot = -1;
};

struct DemoHeader {
    int version = kDemoVersion;
    int time_limit = 0; // steps, 0 = laps only
    int laps = 0;
    int gate_drop = kDemoDefaultGateDrop;
    std::string track;
    std::vector<DemoRider> riders;
};

// ---- The file format ----

// Writes the version 6 head. Line feeds and carriage returns in every text become
// blanks and "|" in the first line of a rider becomes "_", so that the head reads back
// the same; at most 160 riders are written (the count says how many). Success.
bool demo_write_head(Stream *s, const DemoHeader &header);
// Reads a head of version 4, 5 or 6 (at least three header numbers; the laps default to
// 0 and the gate drop to 1792). Every line must end with a line feed. Fails, with a
// message in error and the rider list empty, on a bad version, a rider count outside
// 0 .. 160, negative race values, a missing or unsafe track name, or a short head.
bool demo_read_head(Stream *s, DemoHeader &header, std::string &error);

struct DemoBlockWriter {
    std::uint32_t previous_length = 0; // payload length of the last block written
    std::int64_t offset = 0;           // file offset of the next block
};
// Appends one block. Fails (nothing counted) when the payload exceeds kDemoMaxPayload or
// the write fails.
bool demo_write_block(Stream *s, DemoBlockWriter &w, int time, int type, const void *payload,
                      std::uint32_t length);

struct DemoBlock {
    std::int64_t offset = 0; // of the block's link
    std::uint32_t length = 0;
    std::uint32_t link = 0;
    int time = 0;
    int type = 0;
};

// Walks the blocks of an open version 6 file, forwards and backwards. Offsets are 64-bit.
struct DemoReader {
    Stream *stream = nullptr;
    std::int64_t size = 0;             // bytes in the file
    std::int64_t first_block = 0;      // offset of the first block
    std::int64_t next_offset = 0;      // offset of the next block to read
    std::uint32_t previous_length = 0; // payload length of the block before next_offset
};
enum class DemoRead { ok, end, bad };
// Starts at the stream's current offset (just after the head).
void demo_reader_init(DemoReader &r, Stream *s);
// Reads the block at next_offset and moves past it. end: no further complete block (a
// block cut short is left unread, so a later call can read it once it is complete); bad:
// a payload length above kDemoMaxPayload. Lengths are checked before any allocation.
DemoRead demo_next_block(DemoReader &r, DemoBlock &block, std::vector<std::uint8_t> &payload);
// Moves next_offset one block back (the block before it, whose header is returned in
// block). False, nothing changed, at the first block or when the links do not lead to a
// block inside the file.
bool demo_block_back(DemoReader &r, DemoBlock &block);

// ---- Recording ----

// Starts recording the running session (any open recording is stopped first): practice
// writes "@<track>/lastlap.vqdemo"; otherwise the "demo_backups" setting (0 .. 100)
// rotates the backups and "@demos/default.vqdemo" is written, unless a
// "demos/default*.vqdemo" is being played ("Can't record and play from same file -
// recording disabled"). Records every rider simulated here (online: every rider). False
// when nothing is recorded.
bool demo_record_start();
// Every 4th step (or forced) the recorded riders' states go into their histories; every
// 16th step (or forced) the pending entries and gate passes are written as blocks.
void demo_record_step(bool force);
// Writes a last block, closes the file and, if "namedemo" gave a name, renames it.
void demo_record_stop();
bool demo_recording();
// The virtual name of the file being recorded ("" when none).
const std::string &demo_record_name();
// A message received from a race server, written as a type 2 block.
void demo_record_text(const char *text);
// The console command "namedemo <name>".
void demo_name_command(const char *args);
// Rotates the numbered backups of "@demos/default.vqdemo" for n (clamped to 0 .. 100).
void demo_backups_rotate(int n);

// ---- Playback ----

// The demo the next playback opens: a virtual name or a path ("" = the default demo).
void demo_set_play_file(const std::string &name);
const std::string &demo_play_file();
// Opens the demo to play (any open one is closed): the file set above, else
// "@demos/default.vqdemo". False, with a message, when it cannot be read.
bool demo_open();
// Opens name for playback; a ghost's times are moved to start at the clock of the first
// read. False, with a message, when the file cannot be opened or its head is malformed.
bool demo_open_file(const std::string &name, bool ghost);
// The same over an open stream, which the demo layer then owns (closed on failure).
bool demo_open_stream(Stream *s, const std::string &name, bool ghost);
void demo_close();
bool demo_playing();
const DemoHeader &demo_header();
// Gives demo rider index the slot (its history is emptied and takes the demo's layout).
void demo_assign_slot(int rider, int slot);
// The next demo rider without a slot gets slot: its identity fields. False when none.
bool demo_take_next_rider(int slot, DemoRider &out);
// Feeds recorded states into the histories, up to 64 steps ahead of the clock (called
// every step and at the session start).
void demo_read_step();
// Moves playback by seconds (the rewind and skip keys). Only during pure playback (no
// recording, every rider replayed). Forward in a version 6 demo, or with accurate skip,
// runs race steps; otherwise jumps. False when not allowed.
bool demo_seek(double seconds);
// The jump of demo_seek without its race step: the clock becomes target; going back,
// gate times after target are removed and the standings recomputed; histories emptied
// and refilled from the file.
void demo_reposition(int target);
// True once the whole file was read and the clock is more than margin steps past every
// recorded state (also when no demo is open).
bool demo_playback_done(int margin = 0);
// The margin after which a replay's standings have surely become final: a recorded rider
// holds the race open for 10 s after its last state, and the standings are refreshed
// every second.
constexpr int kDemoEndMargin = 1280 + 256;

// ---- Exact gate times in playback ----

struct DemoGatePass {
    int sequence_index;
    int time;
};
// Whether the played demo carries the recorded riders' gate passes.
bool demo_has_gate_passes();
// demo_gate_test's answer when the geometric gate test must decide instead.
constexpr int kDemoNoGatePasses = -2;
// The gate test of a replayed rider, in place of gates_check, so that a replay ends with
// the recorded gate times exactly: applies the recorded passes (and placements) of slot's
// rider due at step (time <= step) to gates, with the finish rule of gates_check. Returns
// the last sequence index passed or -1 like gates_check; kDemoNoGatePasses when the
// played demo carries no gate passes or slot is not one of its riders.
int demo_gate_test(int slot, RiderGates &gates, int step, const RaceLaps &race);

// ---- Time-trial ghosts ----

std::string demo_lastlap_name(const std::string &track);
std::string demo_fastlap_name(const std::string &track);
// Copies a file byte for byte (1024-byte chunks, a safe save of the target). Success.
bool demo_copy_file(const std::string &from, const std::string &to);
// After a completed practice lap (the session already freed the ghosts): keeps the lap as
// "fastlap.vqdemo" when there is none yet or the lap is the new best; opens it as the
// ghost in slots 1, 2, ...; starts recording the next "lastlap.vqdemo".
void demo_practice_lap(bool counts, bool best);

// ---- Demo list and information ----

struct DemoList {
    std::vector<std::string> names;   // virtual names ("demos/....vqdemo")
    std::vector<std::string> display; // the part after the last "/" and before the last "."
};
// Every listed name beginning with "demos/" and ending in ".vqdemo" (logged with debug).
void demo_list_build();
const DemoList &demo_list();
// The head of a demo file as text (version, track, race values, riders, duration, number
// of blocks). False, with the reason in error, when it is not a readable demo.
bool demo_info_text(const std::string &name, std::string &out, std::string &error);

// Fills the demo and history entries of the session's hooks.
void demo_fill_session_hooks(SessionHooks &hooks);
