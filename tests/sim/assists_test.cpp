// Stability and steering assists: the pieces of the standard law, the torque one step
// produces on a posed bike, the arcade lean rate and steering damping.
#include <cmath>
#include <numbers>

#include "sim/assists.h"
#include "sim_fixture.h"

namespace {

constexpr double kPi = std::numbers::pi;

BikeSetup reset_setup() {
    BikeSetup s{};
    bike_setup_reset(s, *bike_model_find("crf450(2013)"));
    return s;
}

TEST(SteeringLock, FullLockSlowRestrictedFastWiderOnSlipperyGround) {
    BikeSetup s = reset_setup(); // full lock to 10 ft/s, restricted 5 degrees from 50 ft/s
    const double r = s.restricted_lock_angle;
    const struct {
        double vf, grip, want;
    } cases[] = {
        {-20, 1, kPi / 4},  {0, 1, kPi / 4},  {10, 1, kPi / 4},  {50, 1, r},
        {90, 1, r},         {90, 0.5, 2 * r}, {90, 0.01, 8 * r}, // grip raised to 0.125
        {90, 0.001, 8 * r},
    };
    for (const auto &c : cases) EXPECT_NEAR(steering_lock(s, c.vf, c.grip), c.want, 1e-6) << c.vf;
    double mid = steering_lock(s, 20, 1);
    EXPECT_GT(mid, r);
    EXPECT_LT(mid, kPi / 4);
    // Never above pi/4 on ice; a lock of 0 from M on, and no NaN anywhere.
    s.restricted_lock_angle = 0;
    EXPECT_EQ(steering_lock(s, 60, 1), 0);
    s.restricted_lock_angle = float(kPi / 4);
    EXPECT_NEAR(steering_lock(s, 60, 0.2), kPi / 4, 1e-12);
    s.full_lock_speed = 1;
    s.restricted_lock_speed = 1;
    for (double vf : {0.0, 1.0, 1.5, 2.0, 1e9}) EXPECT_TRUE(std::isfinite(steering_lock(s, vf, 1)));
}

TEST(AllowedLean, ZeroAtRestAnyLeanFromMaxDabSpeed) {
    const double l = kPi / 4, m = 30;
    EXPECT_EQ(allowed_lean(0, l, m, 4), 0);
    EXPECT_NEAR(allowed_lean(15, l, m, 4), l * (1 - std::pow(0.75, 4)), 1e-12);
    EXPECT_NEAR(allowed_lean(m, l, m, 4), 2 * kPi, 1e-12);
    EXPECT_NEAR(allowed_lean(60, l, m, 32), 2 * kPi, 1e-12);
    double between = allowed_lean(25, l, m, 4);
    EXPECT_GT(between, l);
    EXPECT_LT(between, 2 * kPi);
    // With max_dab_speed at or below 15 the middle range is empty: no division by zero.
    for (double md : {7.0, 15.0})
        for (double v : {1.0, 7.0, 10.0, 14.99, 15.0, 15.01, 40.0})
            EXPECT_TRUE(std::isfinite(allowed_lean(v, l, md, 4))) << md << " " << v;
    EXPECT_EQ(allowed_lean(15, l, 15, 4), 2 * kPi);
}

TEST(SlideLimit, ForcesTorqueAgainstTheSlideBeyondW) {
    const double lock = 0.1, max = 400;
    const double L = lock, W = 1.125 * L + 0.015;
    const struct {
        double beta, clearance, lo, hi;
    } cases[] = {
        {0.05, 0, -max, max},                // inside the lock: untouched
        {L, 0, -max, max},                   // at the lock: the full bound
        {W, 0, 0.25 * max, max},             // at W the bound has turned round
        {0.5, 0, 0.25 * max, max},           // beyond: at least a quarter against the slide
        {-0.5, 0, -max, -0.25 * max},        // the other side
        {(L + W) / 2, 0, -0.375 * max, max}, // halfway: 1.25 * 0.5 - 0.25
        {0.5, 0.5, -max, max},               // half a foot up: the lock widens to pi/4
    };
    for (const auto &c : cases) {
        double lo = -max, hi = max;
        slide_limit(lock, c.clearance, c.beta, lo, hi);
        EXPECT_NEAR(lo, c.lo, 1e-9) << c.beta;
        EXPECT_NEAR(hi, c.hi, 1e-9) << c.beta;
    }
}

TEST(DabWeight, RestrictedLockOfZeroIsAStepAndNeverNaN) {
    // Lock 0 at speed: k1 = k2 = 0, so the slide part is 1 outside the lean, else 0.
    const struct {
        double roll, beta, want;
    } cases[] = {{0.3, -0.01, 1},  {0.3, 0.01, 0}, {0.3, 0, 0},   {-0.3, 0.01, 1},
                 {-0.3, -0.01, 0}, {-0.3, 0, 0},   {0, -1e-9, 1}, {0, 0, 0}};
    for (const auto &c : cases) {
        double w = dab_weight_of(60, 0, c.roll, c.beta, 0);
        EXPECT_EQ(w, c.want) << c.roll << " " << c.beta;
    }
    // Slow, with the lock: rises as the slide grows past 0.125 of the lock.
    double lock = kPi / 4;
    EXPECT_EQ(dab_weight_of(0, lock, 0.2, 0, 0), 0);
    EXPECT_EQ(dab_weight_of(0, lock, 0.2, -0.125 * lock, 0), 1);
    // Front wheel turned into the lean: 0 at 15 degrees, 1 at 30.
    EXPECT_NEAR(dab_weight_of(0, lock, 0.2, 0, kPi / 12), 0, 1e-12);
    EXPECT_NEAR(dab_weight_of(0, lock, 0.2, 0, kPi / 6), 1, 1e-12);
    EXPECT_NEAR(dab_weight_of(0, lock, -0.2, 0, -kPi / 6), 1, 1e-12);
}

TEST(LeanSteering, TorqueTurnsTheBarsAwayFromTheWantedLean) {
    const double s = 75;
    // Upright, asked to lean left (steer -1): a negative torque (bars to the right).
    EXPECT_EQ(lean_steering_torque(s, -1, 2 * kPi, 0, 0), -s);
    EXPECT_EQ(lean_steering_torque(s, 1, 2 * kPi, 0, 0), s);
    // At rest the allowed lean is 0: any input holds the bike upright.
    EXPECT_EQ(lean_steering_torque(s, -1, 0, 0, 0), 0);
    // Already rolling at the wanted rate: nothing.
    double rho = 2.5 * (0.3 - 0.1);
    EXPECT_NEAR(lean_steering_torque(s, -1, 0.3, 0.1, rho), 0, 1e-12);
    // Within 0.125 rad/s of the wanted rate nothing; beyond it, proportional to the excess.
    EXPECT_EQ(lean_steering_torque(s, -1, 0.3, 0.1, rho - 0.0625), 0);
    EXPECT_NEAR(lean_steering_torque(s, -1, 0.3, 0.1, rho - 0.25), -s * 0.5, 1e-9);
    EXPECT_NEAR(lean_steering_torque(s, -1, 0.3, 0.1, rho + 0.25), s * 0.5, 1e-9);
}

TEST(ArcadeLean, MotorSpeedFollowsRollDamping) {
    const struct {
        double damping, steer, roll, want;
    } cases[] = {
        {40, -1, 0, 1.5},  {0, -1, 0, 1.5},  {80, -1, 0, 1.0},     {100, -1, 0, 1.0},
        {60, -1, 0, 1.25}, {40, 1, 0, -1.5}, {40, 0, 0.03, -0.72}, {40, -1, kPi / 4, 0},
    };
    for (const auto &c : cases)
        EXPECT_NEAR(arcade_lean_speed(c.damping, c.steer, c.roll), c.want, 1e-9) << c.damping;
}

// One posed bike, high above the ground, whose contacts the test sets by hand.
class AssistTest : public SimTest {
protected:
    Bike *posed(double roll) {
        Bike *b = make();
        bike_state_reset(b);
        bike_rotate(b, {0, 0, 1}, roll);
        bike_translate(b, 100, 40, 100);
        return b;
    }
    static void spin_front(Bike *b, double rate) {
        Vec3 axle = body_vector_to_world(b->body[kBodyFrontWheel], {1, 0, 0});
        body_set_angular_vel(b->body[kBodyFrontWheel], axle * -rate);
    }
    // The steering torque the step put on the front wheel (about the steering axis).
    static double steer_torque(Bike *b) {
        Vec3 a = body_vector_to_world(b->body[kBodyFrame], bike_steering_axis(b->model));
        return dot(vec3(dBodyGetTorque(b->body[kBodyFrontWheel])), a);
    }
    static void clear(Bike *b) {
        for (dBodyID body : b->body) {
            dBodySetForce(body, 0, 0, 0);
            dBodySetTorque(body, 0, 0, 0);
        }
    }
};

TEST_F(AssistTest, FrontWheelInTheAirGetsTheDirectTermAndACentringSpring) {
    Bike *b = posed(0);
    rider_set_steer(b, 0.5f);
    b->wheels[0].depth = 0;
    steering_assist_update(b);
    EXPECT_NEAR(steer_torque(b), 1.5 * 75 * 0.5, 1e-6);
    EXPECT_EQ(b->landing_factor, 2);

    // Full input is bounded by max_steering_force.
    clear(b);
    bike_set_steering_strength(b, 100);
    bike_set_max_steering_force(b, 120);
    rider_set_steer(b, -1);
    steering_assist_update(b);
    EXPECT_NEAR(steer_torque(b), -120, 1e-6);
}

TEST_F(AssistTest, GrippingFrontDampsRollAndLevelsAfterALandingBoost) {
    const double roll = 0.2, wz = 0.5;
    Bike *b = posed(roll);
    Vec3 z = body_vector_to_world(b->body[kBodyFrame], {0, 0, 1});
    body_set_angular_vel(b->body[kBodyFrame], z * wz);
    b->wheels[0].depth = 0.1;
    spin_front(b, 10);
    b->landing_factor = 2;
    steering_assist_update(b);
    // T = wz * roll_damping * 2 + roll * leveling, times 1.5; the boost starts to fall.
    EXPECT_NEAR(steer_torque(b), 1.5 * (wz * 60 * 2 + roll * 20), 1e-3);
    EXPECT_NEAR(b->landing_factor, 2 - (1.0 / 128) / 0.25, 1e-6);
    for (int i = 0; i < 40; ++i) steering_assist_update(b);
    EXPECT_EQ(b->landing_factor, 1); // back to normal within 0.25 s

    // Right after a bike-to-bike bump only the direct term acts.
    clear(b);
    b->bump_timer = 256;
    rider_set_steer(b, 0.2f);
    steering_assist_update(b);
    EXPECT_NEAR(steer_torque(b), 1.5 * 75 * 0.2, 1e-6);
    clear(b);
    b->bump_timer = 180; // running out: the assist is limited to 200 * 12 / 192 lb*ft
    steering_assist_update(b);
    EXPECT_NEAR(steer_torque(b), 1.5 * (12.5 + 75 * 0.2), 1e-6);

    // Off the bike the assists only clear dab_weight.
    clear(b);
    b->dab_weight = 0.7f;
    b->crash_timer = 100;
    steering_assist_update(b);
    EXPECT_EQ(b->dab_weight, 0);
    EXPECT_EQ(steer_torque(b), 0);
}

TEST_F(AssistTest, DirectSteeringBlendsWithLeanSteering) {
    // At rest the allowed lean is 0: with lean steering only, full input holds the bike
    // upright (no torque); with direct steering the input acts at once. A blend weights the
    // direct term (itself scaled by direct_steering) once more.
    const struct {
        float direct;
        double want;
    } cases[] = {{0, 0}, {1, 1.5 * 75 * -1}, {0.5, 1.5 * 75 * -0.25}};
    for (const auto &c : cases) {
        Bike *b = posed(0);
        b->wheels[0].depth = 0.1f;
        spin_front(b, 10);
        bike_set_direct_steering(b, c.direct);
        rider_set_steer(b, -1);
        steering_assist_update(b);
        EXPECT_NEAR(steer_torque(b), c.want, 1e-6) << c.direct;
    }
    // Moving at 40 ft/s (any lean allowed), lean steering turns the bars right (negative)
    // to start a lean to the left.
    Bike *b = posed(0);
    for (dBodyID body : b->body) body_set_linear_vel(body, {0, 0, -40});
    b->wheels[0].depth = 0.1f;
    spin_front(b, 34);
    bike_set_direct_steering(b, 0);
    rider_set_steer(b, -1);
    steering_assist_update(b);
    EXPECT_NEAR(steer_torque(b), -1.5 * 75, 1e-6);
}

TEST_F(AssistTest, SlipAngleAndServo) {
    Bike *b = posed(0);
    body_set_linear_vel(b->body[kBodyFrontWheel], {-3, 0, -10});
    Vec3 a = bike_steering_axis(b->model);
    double d = -10 * a.y; // u . (0, -a.z, a.y)
    EXPECT_NEAR(steer_slip_angle(b), -std::atan2(-3.0, -d), 1e-9);
    EXPECT_GT(steer_slip_angle(b), 0); // moving toward its own -x side
    body_set_linear_vel(b->body[kBodyFrontWheel], {0.3, 0, -0.5});
    EXPECT_EQ(steer_slip_angle(b), 0);

    EXPECT_NEAR(steer_servo(b, 0.1), 0.5 * (8 * (0.1 - 1.0 / 32) - 1.0 / 2400), 1e-9);
    EXPECT_NEAR(steer_servo(b, 1.0), 2.0 / 3, 1e-12);
    EXPECT_NEAR(steer_servo(b, -1.0), -2.0 / 3, 1e-12);
    EXPECT_EQ(steer_servo(b, 0.01), 0); // inside the dead band
}

TEST_F(AssistTest, SteeringDampingLeavesTheSpinAlone) {
    Bike *b = posed(0.3);
    Vec3 axle = body_vector_to_world(b->body[kBodyFrontWheel], {1, 0, 0});
    body_set_angular_vel(b->body[kBodyFrontWheel], axle * 40);
    steering_damping_apply(b);
    EXPECT_NEAR(length(vec3(dBodyGetTorque(b->body[kBodyFrontWheel]))), 0, 1e-9);

    clear(b);
    body_set_angular_vel(b->body[kBodyFrontWheel], axle * 40 + Vec3{0, 2, 0});
    steering_damping_apply(b);
    Vec3 t = vec3(dBodyGetTorque(b->body[kBodyFrontWheel]));
    Vec3 yaw = Vec3{0, 2, 0} - axle * dot(axle, Vec3{0, 2, 0});
    EXPECT_NEAR(length(t + yaw * 45.0), 0, 1e-9);
    EXPECT_NEAR(length(vec3(dBodyGetTorque(b->body[kBodyFrame])) + t), 0, 1e-9);
}

} // namespace
