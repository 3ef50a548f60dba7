// Fuzzes the demo reader: the head, the blocks (states, text, gate passes) and the
// records of the older versions, read step by step as playback does, with jumps back and
// forth and the gate passes applied. The first input byte steers the run (bit 0: a
// ghost; the other bits: where the jumps go); the rest is the file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "files/stream.h"
#include "race/demo.h"
#include "race/history.h"
#include "race/session.h"
#include "race/timing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t control = data[0];
    demo_close();
    history_clear_all();
    session() = RaceSession{};
    session().clock = (control & 2) ? 38400 : 0;
    Stream *s = stream_open_memory(data + 1, size - 1, false);
    if (!demo_open_stream(s, "fuzz.vqdemo", control & 1)) return 0;
    const int riders = int(demo_header().riders.size());
    if (riders < 0 || riders > kDemoMaxRiders) __builtin_trap();
    for (int i = 0; i < riders; ++i) demo_assign_slot(i, (i * 7) % kSlotCount);
    std::vector<RiderGates> gates(kSlotCount);
    RaceLaps race{3, nullptr};
    for (int step = 0; step < 400; ++step) {
        demo_read_step();
        for (int i = 0; i < riders; ++i) {
            int slot = (i * 7) % kSlotCount;
            demo_gate_test(slot, gates[std::size_t(slot)], session().clock, race);
            BikeStateRecord r;
            history_sample(slot, session().clock, r);
        }
        session().clock++;
        if (step % 61 == 60) {
            int jump = int((control >> 2) % 8) * 40 - 160;
            demo_reposition(session().clock + jump);
        }
    }
    demo_playback_done(kDemoEndMargin);
    demo_close();
    return 0;
}
