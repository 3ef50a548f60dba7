// The rider's limbs: the two-bone solver, the feet, the bone transforms and the head.
#include <cmath>
#include <numbers>
#include <random>

#include "sim/pose.h"
#include "sim_fixture.h"

namespace {

constexpr double kPi = std::numbers::pi;

Vec3 column(const float *rotation, int c) {
    return {rotation[c * 3], rotation[c * 3 + 1], rotation[c * 3 + 2]};
}

// Unit columns, mutually perpendicular, right-handed.
void expect_orthonormal(const float *r, const char *what) {
    Vec3 c0 = column(r, 0), c1 = column(r, 1), c2 = column(r, 2);
    EXPECT_NEAR(length(c0), 1, 1e-5) << what;
    EXPECT_NEAR(length(c1), 1, 1e-5) << what;
    EXPECT_NEAR(length(c2), 1, 1e-5) << what;
    EXPECT_NEAR(dot(c0, c1), 0, 1e-5) << what;
    EXPECT_NEAR(dot(c0, c2), 0, 1e-5) << what;
    EXPECT_NEAR(dot(c1, c2), 0, 1e-5) << what;
    EXPECT_NEAR(dot(cross(c0, c1), c2), 1, 1e-5) << what;
}

TEST(TwoBoneIk, ReachableEndKeepsBothLengths) {
    Vec3 a{0, 0, 0}, b{0, -2, 0.5}, hint{0, -1, 3};
    Vec3 j = two_bone_ik(a, b, 1.328, 1.701, hint);
    EXPECT_NEAR(length(j - a), 1.328, 1e-9);
    EXPECT_NEAR(length(b - j), 1.701, 1e-9);
    EXPECT_GT(j.z, 0.5); // bent toward the hint's side
}

TEST(TwoBoneIk, OverstretchedChainStaysBent) {
    // The grip is farther than 0.95 (l1 + l2): the elbow stays bent, the upper arm keeps its
    // length and the joint lies off the line toward the hint.
    Vec3 a{0, 0, 0}, b{3, 0, 0}, hint{1, -1, 0};
    Vec3 j = two_bone_ik(a, b, 0.9, 1.15, hint);
    EXPECT_NEAR(length(j - a), 0.9, 1e-9);
    EXPECT_LT(j.y, -0.1);
    EXPECT_NEAR(j.z, 0, 1e-12);
}

TEST(TwoBoneIk, DegenerateChainsGiveFinitePoses) {
    const struct {
        Vec3 a, b;
        double l1, l2;
        Vec3 hint;
    } cases[] = {
        {{0, 0, 0}, {0.1, 0, 0}, 1.0, 2.0, {0, 1, 0}}, // closer than |l1 - l2|: no solution
        {{0, 0, 0}, {0.1, 0, 0}, 2.0, 1.0, {0, 1, 0}},
        {{1, 1, 1}, {1, 1, 1}, 1.0, 1.0, {0, 0, 0}}, // end on the root
        {{1, 1, 1}, {1, 1, 1}, 1.0, 1.0, {1, 1, 1}}, // and the hint too
        {{0, 0, 0}, {2, 0, 0}, 1.0, 1.5, {1, 0, 0}}, // hint on the line
        {{0, 0, 0}, {2, 0, 0}, 0.0, 0.0, {0, 1, 0}}, // zero lengths
        {{0, 0, 0}, {2, 0, 0}, -1.0, NAN, {0, 1, 0}},
        {{0, 0, 0}, {NAN, 0, 0}, 1.0, 1.0, {0, 1, 0}},
    };
    for (const auto &c : cases) {
        Vec3 j = two_bone_ik(c.a, c.b, c.l1, c.l2, c.hint);
        EXPECT_TRUE(finite(j)) << c.l1 << " " << c.l2;
        if (std::isfinite(c.l1) && c.l1 > 0) {
            EXPECT_NEAR(length(j - c.a), c.l1, 1e-9);
        }
    }
}

class PoseTest : public SimTest {
protected:
    Bike *seated() {
        Bike *b = make();
        bike_place(b, 100, 10, 100, 0.3);
        return b;
    }
};

TEST_F(PoseTest, SeatedUprightFeetSitOnTheFootpegs) {
    Bike *b = seated();
    FeetPose f = rider_feet_pose(b);
    for (int i = 0; i < 2; ++i) {
        Vec3 peg = body_point_to_world(b->body[kBodyFrame], vec3(b->model.rider.footpegs[i]));
        EXPECT_NEAR(length(f.foot[i] - peg), 0, 1e-12);
        EXPECT_EQ(f.weight[i], 0);
    }
}

TEST_F(PoseTest, FullDabAtRestPutsBothFeetBesideTheHips) {
    Bike *b = seated();
    b->dab_pose = 1;
    FeetPose f = rider_feet_pose(b);
    dBodyID torso = b->body[kBodyTorso];
    Vec3 q0 = body_point_to_world(torso, vec3(b->model.rider.hips[0]));
    Vec3 q1 = body_point_to_world(torso, vec3(b->model.rider.hips[1]));
    Vec3 q = q1 - q0;
    // At rest the offset is a quarter of 2.5 ft behind the hips, scaled by the lean (0).
    Vec3 want0 = q0 - q * 0.5, want1 = q1 + q * 0.5;
    EXPECT_NEAR(f.foot[0].x, want0.x, 1e-9);
    EXPECT_NEAR(f.foot[0].z, want0.z, 1e-9);
    EXPECT_NEAR(f.foot[1].x, want1.x, 1e-9);
    EXPECT_NEAR(f.foot[0].y, 10.125, 1e-9); // 0.125 ft above the ground
    EXPECT_NEAR(f.foot[1].y, 10.125, 1e-9);
    EXPECT_EQ(f.weight[0], 1);
    EXPECT_EQ(f.weight[1], 1);

    // Leaning 30 degrees to the left, only the left (x-negative) foot goes down.
    bike_rotate(b, {0, 0, 1}, 0.5);
    f = rider_feet_pose(b);
    EXPECT_EQ(f.weight[0], 1);
    EXPECT_EQ(f.weight[1], 0);
}

TEST_F(PoseTest, FeetFollowTheFreeFeetDuringAFallAndReturn) {
    Bike *b = seated();
    auto set_free = [&](double x) {
        for (RiderFoot &foot : b->feet) {
            foot.position[0] = float(x);
            foot.position[1] = 10.25f;
            foot.position[2] = 95;
        }
    };
    // Moving the free feet by 1 ft moves the posed feet by the blend t.
    const struct {
        int timer;
        double t;
    } cases[] = {{512, 1}, {128, 1}, {96, 0.5}, {65, 2.0 / 128}, {64, 1.0 / 128}, {1, 1.0 / 128}};
    for (const auto &c : cases) {
        b->crash_timer = c.timer;
        set_free(90);
        FeetPose a = rider_feet_pose(b);
        set_free(91);
        FeetPose f = rider_feet_pose(b);
        for (int i = 0; i < 2; ++i) {
            EXPECT_NEAR(f.foot[i].x - a.foot[i].x, c.t, 1e-4) << c.timer;
            EXPECT_EQ(f.weight[i], 1);
        }
        if (c.t == 1) {
            EXPECT_NEAR(f.foot[0].x, 91, 1e-4);
        }
    }
}

TEST_F(PoseTest, ThrottleLowersTheRightElbow) {
    Bike *b = seated();
    RiderBones closed{}, open{};
    rider_arm_bones(b, closed);
    b->input.throttle = 1;
    rider_arm_bones(b, open);
    EXPECT_LT(open.bone[1].translation[1], closed.bone[1].translation[1]);
    EXPECT_EQ(open.bone[0].translation[1], closed.bone[0].translation[1]);
    // The forearm reaches the grip: elbow + forearm along c0 of bone 1.
    Vec3 grip = body_point_to_world(b->body[kBodyForkUpper], vec3(b->model.rider.grips[1]));
    Vec3 elbow = vec3(open.bone[1].translation);
    Vec3 c0 = column(open.bone[1].rotation, 0);
    EXPECT_NEAR(length(elbow + c0 * length(grip - elbow) - grip), 0, 1e-4);
}

TEST_F(PoseTest, BoneMatricesStayOrthonormalOverRandomPoses) {
    Bike *b = seated();
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int trial = 0; trial < 200; ++trial) {
        bike_place(b, 100 + 20 * u(rng), 10 + 5 * std::fabs(u(rng)), 100 + 20 * u(rng),
                   kPi * u(rng));
        // Torso and fork posed freely against the frame, as in a fall.
        for (BikeBody body : {kBodyTorso, kBodyForkUpper, kBodyFrame}) {
            Vec3 axis = normalised({u(rng), u(rng), u(rng)});
            body_set_quaternion(b->body[body], quat_axis_angle(axis, kPi * u(rng)));
        }
        body_set_position(b->body[kBodyTorso],
                          body_position(b->body[kBodyTorso]) + Vec3{u(rng), u(rng), u(rng)} * 3);
        body_set_linear_vel(b->body[kBodyTorso], Vec3{u(rng), u(rng), u(rng)} * 60);
        b->crash_timer = trial % 3 == 0 ? 0 : int(600 * std::fabs(u(rng)));
        b->dab_pose = float(std::fabs(u(rng)));
        b->input.throttle = float(std::fabs(u(rng)));
        for (RiderFoot &foot : b->feet)
            for (float &p : foot.position) p = float(100 + 10 * u(rng));
        RiderBones bones{};
        rider_arm_bones(b, bones);
        rider_leg_bones(b, bones);
        rider_torso_bone(b, bones);
        for (int i = 0; i < kBoneCount; ++i) {
            expect_orthonormal(bones.bone[i].rotation, "bone");
            EXPECT_TRUE(std::isfinite(bones.bone[i].translation[0])) << i;
        }
        HeadPose head = rider_head_pose(b);
        float r[9];
        for (int k = 0; k < 9; ++k) r[k] = float(head.rotation[k]);
        expect_orthonormal(r, "head");
        if (HasFailure()) break;
    }
}

TEST_F(PoseTest, HeadLooksAheadAndDownWhenRiding) {
    Bike *b = seated();
    for (dBodyID body : b->body)
        body_set_linear_vel(body, Vec3{-std::sin(0.3), 0, -std::cos(0.3)} * 40);
    HeadPose head = rider_head_pose(b);
    Vec3 look = -Vec3{head.rotation[6], head.rotation[7], head.rotation[8]};
    Vec3 forward = body_vector_to_world(b->body[kBodyFrame], {0, 0, -1});
    EXPECT_GT(dot(look, forward), 0.5);
    EXPECT_LT(look.y, 0);
    Vec3 at = body_point_to_world(b->body[kBodyTorso], vec3(b->model.rider.head));
    EXPECT_NEAR(length(head.position - at), 0, 1e-12);
}

} // namespace
