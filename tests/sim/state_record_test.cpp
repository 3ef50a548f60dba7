#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <string>

#include "sim/state_record.h"
#include "sim_fixture.h"

namespace {

constexpr double kPi = std::numbers::pi;

std::string hex(const BikeStateRecord &r, int size) {
    std::string s;
    char buf[4];
    for (int i = 0; i < size; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", r.bytes[i]);
        s += buf;
    }
    return s;
}

class StateRecordTest : public SimTest {
protected:
    // A random but physically joined pose: a turned and moved bike whose bodies spin and
    // fly for a few steps, with a random status; sometimes the rider is off the bike and
    // the torso far away.
    // A given angle turns the bike by exactly that much about a random axis (no spin,
    // no steps), for orientations near upright and near upside down.
    void random_pose(Bike *b, std::mt19937 &rng, double angle = NAN) {
        std::uniform_real_distribution<double> u(-1, 1), pos(0, 256);
        bike_state_reset(b);
        Vec3 axis{u(rng), u(rng), u(rng)};
        bike_rotate(b, axis, std::isnan(angle) ? kPi * u(rng) : angle);
        if (!std::isnan(angle)) {
            bike_translate(b, pos(rng), 60 + 40 * u(rng), pos(rng));
            return;
        }
        bike_translate(b, pos(rng), 60 + 40 * u(rng), pos(rng));
        for (dBodyID body : b->body) {
            dBodySetAngularVel(body, 15 * u(rng), 15 * u(rng), 15 * u(rng));
            dBodySetLinearVel(body, 10 * u(rng), 10 * u(rng), 10 * u(rng));
        }
        int steps = 1 + int(rng() % 24);
        for (int i = 0; i < steps; ++i) physics_step();
        b->gear = int(rng() % 5);
        b->input.throttle = float(0.5 + 0.5 * u(rng));
        b->engine_speed = float(700 + 650 * u(rng));
        b->dab_pose = rng() % 2 ? 0.0f : 0.5f;
        b->crash_timer = 0;
        if (rng() % 4 == 0) {
            bike_rider_detach(b);
            b->crash_timer = 1 + int(rng() % 700);
            Vec3 far{20 * u(rng), 20 * u(rng), 20 * u(rng)};
            body_set_position(b->body[kBodyTorso], body_position(b->body[kBodyFrame]) + far);
        } else if (!b->rider_attached) {
            bike_rider_seat(b);
        }
    }
};

TEST_F(StateRecordTest, EncodeDecodeEncodeKeepsTheBytes) {
    Bike *b = make();
    Bike *copy = make();
    std::mt19937 rng(1234);
    for (int version : {kStateVersionCurrent, 4}) {
        for (int i = 0; i < 300; ++i) {
            random_pose(b, rng);
            BikeStateRecord r1 = bike_state_encode(b, version);
            EXPECT_EQ(r1.bytes[18] & 1, 1);
            EXPECT_EQ(r1.bytes[19] & 1, 0);
            bike_state_decode(copy, r1, version);
            BikeStateRecord r2 = bike_state_encode(copy, version);
            int n = state_record_size(version);
            ASSERT_EQ(hex(r1, n), hex(r2, n)) << "version " << version << " pose " << i;
            if (version != 4) {
                EXPECT_EQ(copy->crash_timer > 0, !copy->rider_attached);
            }
        }
    }
    // One quaternion component near +-1: the quantisation box holds only a thin slice
    // of the unit sphere there.
    for (int i = 0; i < 400; ++i) {
        double small = std::ldexp(1.0, -int(rng() % 12)) * (rng() % 2 ? 1 : -1);
        double angle = i % 2 ? small : (kPi - std::fabs(small)) * (small < 0 ? -1 : 1);
        random_pose(b, rng, angle);
        BikeStateRecord r1 = bike_state_encode(b, kStateVersionCurrent);
        bike_state_decode(copy, r1, kStateVersionCurrent);
        BikeStateRecord r2 = bike_state_encode(copy, kStateVersionCurrent);
        int n = state_record_size(kStateVersionCurrent);
        ASSERT_EQ(hex(r1, n), hex(r2, n)) << "angle " << angle;
    }
}

TEST_F(StateRecordTest, DecodingPutsTheJointsWhereTheRecordSays) {
    Bike *b = make();
    BikeStateRecord r = bike_state_encode(b);
    r.bytes[17] = 200; // steering
    r.bytes[18] = 101; // swingarm
    r.bytes[19] = 64;  // fork
    r.bytes[34] = 40;  // front wheel
    r.bytes[35] = 220; // rear wheel
    bike_state_decode(b, r);
    const BikeModel &m = b->model;
    EXPECT_NEAR(dJointGetHingeAngle(b->joint[kJointSteering]), 200 / 255.0 * kPi / 2 - kPi / 4,
                1e-9);
    EXPECT_NEAR(dJointGetHingeAngle(b->joint[kJointSwingarm]),
                101 / 255.0 * m.swingarm_travel - m.swingarm_travel, 1e-6);
    EXPECT_NEAR(dJointGetSliderPosition(b->joint[kJointFork]),
                64 / 255.0 * m.fork_travel - m.fork_travel, 1e-6);
    EXPECT_NEAR(dJointGetHingeAngle(b->joint[kJointFrontAxle]), 40 / 255.0 * 2 * kPi - kPi, 1e-9);
    EXPECT_NEAR(dJointGetHingeAngle(b->joint[kJointRearAxle]), 220 / 255.0 * 2 * kPi - kPi, 1e-9);
}

TEST_F(StateRecordTest, TorsoClampsAt16FeetAndNaNIsSafe) {
    Bike *b = make();
    bike_translate(b, 100, 20, 100);
    bike_rider_detach(b);
    b->crash_timer = 40;
    body_set_position(b->body[kBodyTorso],
                      body_position(b->body[kBodyFrame]) + Vec3{30, -0.5, -17});
    BikeStateRecord r = bike_state_encode(b);
    EXPECT_EQ(r.bytes[20] | r.bytes[21] << 8, 65535);
    EXPECT_EQ(r.bytes[24] | r.bytes[25] << 8, 0);
    bike_state_decode(b, r);
    Vec3 d = body_position(b->body[kBodyTorso]) - body_position(b->body[kBodyFrame]);
    EXPECT_NEAR(d.x, 16, 1e-9);
    EXPECT_NEAR(d.z, -16, 1e-9);
    EXPECT_NEAR(d.y, -0.5, 32.0 / 65535);

    // A NaN position (out of the engine's own arithmetic) encodes to the middle.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    dBodySetPosition(b->body[kBodyFrame], nan, 12, nan);
    r = bike_state_encode(b);
    EXPECT_EQ(r.bytes[0] | r.bytes[1] << 8 | r.bytes[2] << 16, 0x7FFFFF);
    bike_state_decode(b, r);
    Vec3 p = body_position(b->body[kBodyFrame]);
    EXPECT_TRUE(finite(p));
    EXPECT_NEAR(p.x, 128, 1e-3);
}

TEST_F(StateRecordTest, StatusByte) {
    Bike *b = make("cr125");
    b->gear = 4;
    b->input.throttle = 0.5f;
    b->engine_speed = float(9000 * kPi / 30);
    BikeStateRecord r = bike_state_encode(b);
    EXPECT_EQ(r.bytes[36], 4 | 7 << 4);
    EXPECT_NEAR((r.bytes[37] | r.bytes[38] << 8) / 65535.0 * 32768, 9000, 0.5);

    // Rider off: 7 in the low bits, the timer in the high ones; decoding detaches the rider.
    b->crash_timer = 512;
    r = bike_state_encode(b);
    EXPECT_EQ(r.bytes[36], 7 | 15 << 4);
    Bike *other = make("crf450(2013)");
    bike_state_decode(other, r);
    EXPECT_FALSE(other->rider_attached);
    EXPECT_GT(other->crash_timer, 0);
    EXPECT_EQ(other->input.throttle, 0);

    // Riding again: re-seated and attached; a gear the model lacks steps down.
    r.bytes[36] = 6 | 15 << 4;
    bike_state_decode(other, r);
    EXPECT_TRUE(other->rider_attached);
    EXPECT_EQ(other->crash_timer, 0);
    EXPECT_EQ(other->gear, 4); // min(6, 5) = 5, and the 450 has no sixth gear
    EXPECT_FLOAT_EQ(other->input.throttle, 1);
}

TEST_F(StateRecordTest, AnyBytesDecodeToASafePose) {
    // Records from the network or a damaged demo: whatever the bytes, the pose is finite
    // and the bike can be simulated from it.
    Bike *b = make();
    std::mt19937 rng(99);
    for (int i = 0; i < 200; ++i) {
        BikeStateRecord r;
        for (std::uint8_t &byte : r.bytes) byte = std::uint8_t(rng());
        if (i % 10 == 0) std::memset(r.bytes + 9, 0x7F, 8); // a quaternion of nearly 0
        bike_state_decode(b, r, i % 3 == 0 ? 4 : kStateVersionCurrent);
        physics_step();
        bike_step(b);
        for (dBodyID body : b->body) {
            ASSERT_TRUE(finite(body_position(body))) << i;
            Quat q = body_quaternion(body);
            ASSERT_NEAR(qdot(q, q), 1, 1e-9) << i;
        }
        EXPECT_GE(b->gear, 0);
        EXPECT_LE(b->gear, 4);
        EXPECT_TRUE(std::isfinite(b->engine_speed));
        for (dBodyID body : b->body) {
            dBodySetLinearVel(body, 0, 0, 0);
            dBodySetAngularVel(body, 0, 0, 0);
        }
    }
}

BikeStateRecord record_with(std::uint32_t x, int steer, int swingarm, int front, int rear) {
    BikeStateRecord r;
    r.bytes[0] = std::uint8_t(x);
    r.bytes[1] = std::uint8_t(x >> 8);
    r.bytes[2] = std::uint8_t(x >> 16);
    r.bytes[9] = r.bytes[10] = 0xFF;                                           // w = 1
    for (int i = 11; i < 17; i += 2) r.bytes[i] = 0xFF, r.bytes[i + 1] = 0x7F; // 0
    r.bytes[17] = std::uint8_t(steer);
    r.bytes[18] = std::uint8_t(swingarm);
    r.bytes[34] = std::uint8_t(front);
    r.bytes[35] = std::uint8_t(rear);
    return r;
}

TEST(StateInterpolate, Rules) {
    BikeStateRecord a = record_with(1000, 100, 51, 10, 240);
    BikeStateRecord b = record_with(2000, 200, 151, 250, 10);
    a.bytes[36] = 0x35;
    b.bytes[36] = 0x12;

    EXPECT_EQ(std::memcmp(bike_state_interpolate(a, b, 0).bytes, a.bytes, 39), 0);
    EXPECT_EQ(std::memcmp(bike_state_interpolate(a, b, 0.5, 4).bytes, a.bytes, 39), 0);

    BikeStateRecord r = bike_state_interpolate(a, b, 1.5);
    EXPECT_EQ(r.bytes[0] | r.bytes[1] << 8 | r.bytes[2] << 16, 2500); // position extrapolates
    EXPECT_EQ(r.bytes[17], 200);                                      // the rest stops at b
    EXPECT_EQ(r.bytes[18], 150);                                      // bit 0 cleared
    EXPECT_EQ(r.bytes[36], 0x35);                                     // a's status

    r = bike_state_interpolate(a, b, 0.5);
    EXPECT_EQ(r.bytes[17], 150);
    EXPECT_EQ(r.bytes[18] & 1, 0);
    // Wheels: 10 -> 250 is a small backward turn through 0; 240 -> 10 a forward one.
    EXPECT_EQ(r.bytes[34], 2);
    EXPECT_EQ(r.bytes[35], 252);

    // The shorter way round: b's quaternion is a's negated (the same orientation).
    BikeStateRecord c = a;
    c.bytes[9] = c.bytes[10] = 0; // w = -1
    r = bike_state_interpolate(a, c, 0.5);
    EXPECT_EQ(r.bytes[9] | r.bytes[10] << 8, 65535);
}

} // namespace
