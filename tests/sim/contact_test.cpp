// Sphere pairs, bike against bike with the bump timers, and bike against scenery objects.
#include <map>

#include "files/vfs.h"
#include "sim/contact.h"
#include "sim/ground.h"
#include "sim_fixture.h"
#include "support/fixture_track.h"
#include "track/hooks.h"
#include "track/track.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

class ContactTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        // One sphere per body: big ones for the frame, the rider and the struck wheels.
        install_shape("generic_frame.shp", shape_text({{0, 0, 0, 0.8f}}));
        install_shape("generic_fork_upper.shp", shape_text({{0, 0, 0, 0.3f}}));
        install_shape("generic_fork_lower.shp", shape_text({{0, 0, 0, 0.3f}}));
        install_shape("generic_swingarm.shp", shape_text({{0, 0, 0, 0.3f}}));
        install_shape("front_wheel.shp", shape_text({{0, 0, 0, 1.16f}}));
        install_shape("rear_wheel.shp", shape_text({{0, 0, 0, 1.16f}}));
        install_shape("generic_rider.shp", shape_text({{0, 0, 0, 0.8f}}));
        contact_hooks_install(ContactHooks{});
    }
    void TearDown() override {
        contact_hooks_install(ContactHooks{});
        physics_contacts_clear();
        SimTest::TearDown();
    }
    // A bike in the air with its frame at (x, 20, z), heading a (0 faces -z), moving with
    // velocity v.
    Bike *bike_at(double x, double z, double heading, Vec3 v) {
        Bike *b = make();
        bike_rotate(b, {0, 1, 0}, heading);
        Vec3 f = body_position(b->body[kBodyFrame]);
        bike_translate(b, x - f.x, 20 - f.y, z - f.z);
        for (dBodyID body : b->body) body_set_linear_vel(body, v);
        return b;
    }
    static int joints(dBodyID body) { return dBodyGetNumJoints(body); }
};

dBodyID free_body(Vec3 p, Vec3 v) {
    dBodyID b = dBodyCreate(physics_world());
    dMass m;
    dMassSetSphereTotal(&m, 1, 0.5);
    dBodySetMass(b, &m);
    body_set_position(b, p);
    body_set_linear_vel(b, v);
    return b;
}

TEST_F(ContactTest, SpherePairPenaltyPushesApartAndNeverPulls) {
    struct Case {
        const char *name;
        double gap;     // centre distance (radii 0.5 each)
        double closing; // speed of a toward b
        double force;   // expected push on b along a -> b
    } cases[] = {
        {"resting overlap", 0.9, 0, 0.1 * 2500},
        {"closing", 0.9, 1, 0.1 * 2500 + 250},
        {"separating fast: no pull", 0.9, -10, 0},
        {"deep: clamped", 0.2, 0, 1000},
        {"apart", 1.01, 5, 0},
    };
    for (const Case &c : cases) {
        dBodyID a = free_body({10, 50, 10}, {c.closing, 0, 0});
        dBodyID b = free_body({10 + c.gap, 50, 10}, {0, 0, 0});
        ContactSphere sa{a, {10, 50, 10}, 0.5, 1, 2500, 250};
        ContactSphere sb{b, {10 + c.gap, 50, 10}, 0.5, 0.8, 5000, 500}; // the smaller apply
        EXPECT_EQ(sphere_pair_contact(sa, sb, kContactPenalty), c.gap < 1) << c.name;
        EXPECT_NEAR(dBodyGetForce(b)[0], c.force, 1e-9) << c.name;
        EXPECT_NEAR(dBodyGetForce(a)[0], -c.force, 1e-9) << c.name;
        dBodyDestroy(a);
        dBodyDestroy(b);
    }
    // A disabled body gets no force; the other still does.
    dBodyID a = free_body({10, 50, 10}, {});
    dBodyID b = free_body({10.9, 50, 10}, {});
    dBodyDisable(b);
    sphere_pair_contact({a, {10, 50, 10}, 0.5, 1, 2500, 250},
                        {b, {10.9, 50, 10}, 0.5, 1, 2500, 250}, kContactPenalty);
    EXPECT_EQ(dBodyGetForce(b)[0], 0);
    EXPECT_LT(dBodyGetForce(a)[0], 0);
    dBodyDestroy(a);
    dBodyDestroy(b);
}

TEST_F(ContactTest, SpherePairJointPushesApart) {
    // Two bodies overlapping along +x; a third pressed into a fixed sphere along -y.
    dBodyID a = free_body({10, 50, 10}, {});
    dBodyID b = free_body({10.8, 50, 10}, {});
    dBodyID c = free_body({30, 50, 30}, {});
    ASSERT_TRUE(sphere_pair_contact({a, {10, 50, 10}, 0.5, 1, 2500, 250},
                                    {b, {10.8, 50, 10}, 0.5, 1, 2500, 250}, kContactJoint));
    ASSERT_TRUE(sphere_pair_contact({c, {30, 50, 30}, 0.5, 1, 2500, 250},
                                    {nullptr, {30, 49.2, 30}, 0.5, 1, 2500, 250}, kContactJoint));
    EXPECT_FALSE(sphere_pair_contact({c, {30, 50, 30}, 0.5, 1, 2500, 250},
                                     {nullptr, {30, 40, 30}, 0.5, 1, 2500, 250}, kContactJoint));
    EXPECT_EQ(joints(a), 1);
    EXPECT_EQ(joints(c), 1);
    // Test only creates nothing.
    EXPECT_TRUE(sphere_pair_contact({a, {10, 50, 10}, 0.5, 1, 2500, 250},
                                    {b, {10.8, 50, 10}, 0.5, 1, 2500, 250}, kContactTestOnly));
    EXPECT_EQ(joints(a), 1);
    physics_step();
    EXPECT_LT(body_linear_vel(a).x, -0.1);
    EXPECT_GT(body_linear_vel(b).x, 0.1);
    EXPECT_GT(body_linear_vel(c).y, 0.1); // up, out of the fixed sphere, against gravity
    for (dBodyID body : {a, b, c}) dBodyDestroy(body);
}

TEST_F(ContactTest, NoseIntoTheSideRaisesOnlyTheStruckTimer) {
    // a rides at 10 ft/s (-z) into the side of b, which crosses at 12 ft/s (-x).
    Bike *a = bike_at(100, 103.6, 0, {0, 0, -10});
    Bike *b = bike_at(100, 99.5, kPi / 2, {-12, 0, 0});
    std::vector<Bike *> bumped;
    ContactHooks hooks;
    static std::vector<Bike *> *seen;
    seen = &bumped;
    hooks.bikes_bumped = [](Bike *bike) { seen->push_back(bike); };
    contact_hooks_install(hooks);
    sim_clock().step = 77;
    int before = joints(a->body[kBodyFrontWheel]);
    EXPECT_EQ(bike_collide_bikes(a, b, false), kPartBitFrontWheel);
    EXPECT_GT(joints(a->body[kBodyFrontWheel]), before);
    EXPECT_EQ(b->bump_timer, 256);
    EXPECT_EQ(a->bump_timer, 0);
    EXPECT_EQ(a->last_bike_contact_step, 77);
    EXPECT_EQ(b->first_contact_step, 77);
    EXPECT_EQ(bumped.size(), 2u);
    physics_contacts_clear();

    // The striker's own timer is kept at -640 or below when it was negative; a struck
    // bike slower than 10 ft/s keeps its timer.
    sim_clock().step = 78;
    a->bump_timer = -3;
    b->bump_timer = 0;
    for (dBodyID body : b->body) body_set_linear_vel(body, {-9, 0, 0});
    EXPECT_EQ(bike_collide_bikes(a, b, false), kPartBitFrontWheel);
    EXPECT_EQ(a->bump_timer, -640);
    EXPECT_EQ(b->bump_timer, 0);
    EXPECT_EQ(b->first_contact_step, 77);
    physics_contacts_clear();

    // Seen from b (the struck bike as the first argument): a is still the striker.
    sim_clock().step = 79;
    a->bump_timer = 0;
    for (dBodyID body : b->body) body_set_linear_vel(body, {-12, 0, 0});
    EXPECT_EQ(bike_collide_bikes(b, a, false), kPartBitFrame);
    EXPECT_EQ(b->bump_timer, 256);
    EXPECT_EQ(a->bump_timer, 0);
}

TEST_F(ContactTest, SideBySideBothGetTheirTimersAndAThirdGetsPenalties) {
    Bike *a = bike_at(100, 100, 0, {0, 0, -15});
    Bike *b = bike_at(101.5, 100, 0, {0, 0, -11}); // frames overlap by 0.1
    Bike *c = bike_at(98.5, 100, 0, {0, 0, -3});
    Bike *far = bike_at(150, 100, 0, {0, 0, -15});
    sim_clock().step = 200;
    EXPECT_EQ(bike_collide_bikes(a, far, false), 0);
    int frame_joints = joints(c->body[kBodyFrame]);
    int bits = bike_collide_bikes(a, b, false);
    EXPECT_TRUE(bits & kPartBitFrame);
    EXPECT_EQ(a->bump_timer, 192);
    EXPECT_EQ(b->bump_timer, 192);
    // a already had a bike contact in this step: c gets limited forces, no joints.
    dBodySetForce(c->body[kBodyFrame], 0, 0, 0);
    EXPECT_TRUE(bike_collide_bikes(c, a, false) & kPartBitFrame);
    EXPECT_EQ(joints(c->body[kBodyFrame]), frame_joints);
    double push = dBodyGetForce(c->body[kBodyFrame])[0];
    EXPECT_LT(push, 0); // away from a
    EXPECT_GE(push, -1000);
    EXPECT_EQ(c->bump_timer, 0); // slower than 10 ft/s
    physics_contacts_clear();

    // With test_only two back parts only test: the frames touch, nothing is created.
    sim_clock().step = 201;
    frame_joints = joints(a->body[kBodyFrame]);
    EXPECT_TRUE(bike_collide_bikes(a, b, true) & kPartBitFrame);
    EXPECT_EQ(joints(a->body[kBodyFrame]), frame_joints);
}

// Scenery objects: fixed posts registered with the track's statue grid.
struct Post {
    Vec3 position;
    double radius;
};
std::vector<Post> g_posts;
CollisionShape g_post_shape;
std::map<int, int> g_asked;
std::vector<std::pair<int, int>> g_touched;

class SceneryContactTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        install_shape("generic_rider.shp", shape_text({{0, 0, 0, 0.8f}}));
        const std::string post = "1\n0 0 0 1.0 0.5 20000 1000\n";
        ASSERT_TRUE(shape_parse("post.shp", post.data(), post.size(), g_post_shape));
        g_asked.clear();
        g_touched.clear();
        TrackHooks th;
        th.statue_count = [] { return int(g_posts.size()); };
        th.statue_collision = [](int i, StatueCollision &out) {
            out = {"post.shp", float(g_posts[std::size_t(i)].position.x),
                   float(g_posts[std::size_t(i)].position.z),
                   float(g_posts[std::size_t(i)].radius)};
            return true;
        };
        track_hooks_install(th);
        ContactHooks ch;
        ch.scenery_object = [](int i, SceneryObject &o) {
            ++g_asked[i];
            o.shape = &g_post_shape;
            o.position = g_posts[std::size_t(i)].position;
            return true;
        };
        ch.scenery_touched = [](int i, Bike *, int parts) { g_touched.push_back({i, parts}); };
        contact_hooks_install(ch);
    }
    void TearDown() override {
        track_free();
        track_hooks_install(TrackHooks{});
        contact_hooks_install(ContactHooks{});
        g_posts.clear();
        SimTest::TearDown();
    }
    // Loads a flat 512 ft fixture track with the posts in its statue grid (whose cells
    // 3 and 4 meet at x = 256).
    void load_track() {
        FixtureTrack ft;
        ft.height = [](int, int) { return 10.0f; };
        ASSERT_TRUE(write_fixture_track(ft));
        ASSERT_TRUE(track_load(ft.dir.c_str(), 0));
    }
};

TEST_F(SceneryContactTest, PartsAgainstNearbyPostsOnceEach) {
    // Post 0 straddles a grid line (listed in two cells); post 1 is far away; post 2 is in
    // a neighbouring cell but out of reach.
    g_posts = {{{256, 11.34, 99.0}, 1.0}, {{20, 11, 20}, 1.0}, {{262, 11, 100}, 1.0}};
    load_track();
    Bike *b = make();
    bike_place(b, 256, 10, 100, 0); // frame at z 103.6, front tyre reaching z 99.94
    bike_collide_world(b);
    EXPECT_EQ(g_asked[0], 1);
    EXPECT_EQ(g_asked.count(1), 0u);
    ASSERT_EQ(g_touched.size(), 1u);
    EXPECT_EQ(g_touched[0].first, 0);
    EXPECT_EQ(g_touched[0].second, kPartBitFrontWheel);
    // Pushed back by the post during the step.
    physics_step();
    EXPECT_GT(body_linear_vel(b->body[kBodyFrontWheel]).z, 0.01);
}

TEST_F(SceneryContactTest, RiderHittingAPostFastFalls) {
    g_posts = {{{256, 14.75, 102.6}, 1.0}};
    load_track();
    Bike *b = make();
    bike_place(b, 256, 10, 100, 0);
    // The torso (at z 104.12, radius 0.8) meets the post at 25 ft/s.
    for (dBodyID body : b->body) body_set_linear_vel(body, {0, 0, -25});
    bike_collide_world(b);
    ASSERT_FALSE(g_touched.empty());
    EXPECT_TRUE(g_touched[0].second & kPartBitRider);
    EXPECT_GT(b->crash_timer, 0);
}

} // namespace
