// The compact pose of one bike at one step, carried by demos and the network: encoding,
// decoding, posing a remote or replayed bike from its last records, and interpolating
// between two records. Little-endian; quantised against the loaded terrain's square.
//
// Current layout (39 bytes, every version but 4): frame position 3 x 24 bits, frame
// quaternion 4 x 16 bits, steering, swingarm (bit 0 set; clear = interpolated) and fork
// (bit 0 reserved, 0) bytes, torso offset from the frame 3 x 16 bits over +-16 ft, torso
// quaternion, front and rear wheel angles, status, engine rpm 16 bits.
// Version 4 (26 bytes): bytes 0-19, one torso travel byte, then bytes 34-38.
#pragma once
#include <cstdint>

struct Bike;

constexpr int kStateRecordSize = 39;
constexpr int kStateRecordSizeV4 = 26;
constexpr int kStateVersionCurrent = 6;

struct BikeStateRecord {
    std::uint8_t bytes[kStateRecordSize] = {};
};

// Bytes used by a record of that version (26 for version 4, else 39).
int state_record_size(int version);

// The bike's pose as a record of the given version. Positions are clamped to the terrain
// square; NaN positions encode as the middle of their range, NaN angles as their middle,
// a NaN or zero quaternion as the identity.
BikeStateRecord bike_state_encode(const Bike *bike, int version = kStateVersionCurrent);
// Poses every body from a record (velocities are kept) and takes over its status: the
// rider off (joint detached, crash timer) or on (seated again if it was off, gear,
// throttle), the foot-down flag and the engine speed.
void bike_state_decode(Bike *bike, const BikeStateRecord &record,
                       int version = kStateVersionCurrent);
// Poses a remote or replayed bike. Active (activity above 0.25): pulled toward the
// current record by a spring-damper force and torque on the frame (each at most 2500)
// whose strength rises as the activity decays, and steered toward the recorded steering
// angle. Frozen: decoded from older, then previous (bodies given the velocities of that
// change over steps x h, steps at least 1), then current.
void bike_state_follow(Bike *bike, const BikeStateRecord &current, const BikeStateRecord &previous,
                       const BikeStateRecord &older, int steps, int version = kStateVersionCurrent);
// A record between a (t = 0) and b (t = 1); only the position extrapolates beyond t = 1.
// Orientations take the shorter way, wheel angles unwrap, the status is a's and bit 0 of
// the swingarm byte is cleared. t = 0 or version 4 gives a unchanged.
BikeStateRecord bike_state_interpolate(const BikeStateRecord &a, const BikeStateRecord &b, double t,
                                       int version = kStateVersionCurrent);

// The frame position a record gives (world, against the loaded terrain).
void state_record_frame_position(const BikeStateRecord &record, double out[3]);
