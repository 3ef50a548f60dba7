// Shared helpers of the demo tests: demo files built byte by byte, and a race fixture with
// the demo layer wired into the session.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>

#include "files/stream.h"
#include "race/demo.h"
#include "race/history.h"
#include "race_fixture.h"

// Little-endian 32-bit value as 4 bytes.
inline std::string le32(std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[std::size_t(i)] = char((v >> (8 * i)) & 0xff);
    return s;
}

// Builds the blocks of a version 6 file, keeping the link chain.
struct BlockChain {
    std::uint32_t previous = 0;
    std::string add(int time, int type, const std::string &payload) {
        std::uint32_t length = std::uint32_t(payload.size());
        std::string b = le32(previous ^ length) + le32(std::uint32_t(time)) +
                        std::string(1, char(type)) + payload;
        previous = length;
        return b;
    }
};

// A 39-byte record whose frame x (24 bits) is x and whose swingarm byte has bit 0 set.
inline std::string record_bytes(std::uint32_t x, int size = 39) {
    std::string r(std::size_t(size), '\0');
    r[0] = char(x & 0xff);
    r[1] = char((x >> 8) & 0xff);
    r[2] = char((x >> 16) & 0xff);
    r[18] = 1;
    return r;
}
inline std::uint32_t record_x(const BikeStateRecord &r) {
    return r.bytes[0] | r.bytes[1] << 8 | std::uint32_t(r.bytes[2]) << 16;
}
// One 44-byte state entry.
inline std::string state_entry(int rider, int time, std::uint32_t x) {
    return std::string(1, char(rider)) + le32(std::uint32_t(time)) + record_bytes(x);
}

// A version 6 head with riders named "r1", "r2", ... on "crf450(2013)".
inline std::string head6(int riders, const std::string &track = "tracks/fixture",
                         int time_limit = 0, int laps = 3, int gate_drop = 1792) {
    std::string s = "VQ06 " + std::to_string(riders) + " " + std::to_string(time_limit) + " " +
                    std::to_string(laps) + " " + std::to_string(gate_drop) + "\n" + track + "\n";
    for (int i = 1; i <= riders; ++i)
        s += "crf450(2013)||||\n" + std::to_string(10 + i) + "\nr" + std::to_string(i) + "\n\n";
    return s;
}

// Opens bytes as the played demo.
inline bool open_bytes(const std::string &bytes, bool ghost = false) {
    return demo_open_stream(stream_open_memory(bytes.data(), bytes.size(), false), "test.vqdemo",
                            ghost);
}

// Forgets the demo layer's state and the histories.
inline void demo_state_reset() {
    demo_close();
    demo_set_play_file("");
    history_clear_all();
}

// The fixture track with the demo layer's session hooks installed.
class DemoRaceTest : public RaceTrackTest {
protected:
    void SetUp() override {
        RaceTrackTest::SetUp();
        demo_state_reset();
        SessionHooks h;
        demo_fill_session_hooks(h);
        session_hooks_install(h);
    }
    void TearDown() override {
        demo_state_reset(); // while the riders still exist
        settings_reset();
        RaceTrackTest::TearDown();
    }
};
