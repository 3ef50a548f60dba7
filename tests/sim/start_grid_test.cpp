// Bikes on a track's starting grid: created on the start positions, placed on the ground,
// simulated, recorded as state records and restored from them into fresh bikes.
#include <cmath>
#include <cstring>
#include <vector>

#include <cstdlib>
#include <sys/stat.h>

#include "files/vfs.h"
#include "sim/ground.h"
#include "sim/state_record.h"
#include "sim_fixture.h"
#include "track/gates.h"
#include "track/track.h"

namespace {

const char *const kModels[] = {"crf450(2013)", "250sx(2012)", "yz250f(2009)", "rs50kx", "cr125"};

// The grid rule of the race start: slot m at start position m mod count, in row m / count
// behind it, from the terrain sample nearest that point.
void place_on_grid(Bike *b, const std::vector<StartPosition> &starts, int m) {
    const StartPosition &s = starts[std::size_t(m) % starts.size()];
    int row = m / int(starts.size());
    double x = s.x + std::sin(s.angle) * (row + 1.0 / 16) * 10;
    double z = s.z + std::cos(s.angle) * (row + 1.0 / 16) * 10;
    const Terrain &t = terrain();
    double y = terrain_height(std::round(x / t.spacing) * t.spacing,
                              std::round(z / t.spacing) * t.spacing);
    bike_place(b, x, y, z, s.angle);
}

// Steps the bikes (with stand-in springs) for n steps.
void ride(const std::vector<Bike *> &bikes, int n) {
    for (int step = 0; step < n; ++step) {
        for (Bike *b : bikes) {
            bike_collide_world(b);
            stand_in_springs(b);
        }
        physics_step();
        for (Bike *b : bikes) bike_step(b);
    }
}

// Encodes every bike, decodes each record into a fresh bike of the same model and checks
// that it encodes to the same bytes and stands where the original stands.
void restore_and_compare(const std::vector<Bike *> &bikes) {
    for (std::size_t m = 0; m < bikes.size(); ++m) {
        Bike *b = bikes[m];
        EXPECT_GT(body_position(b->body[kBodyFrame]).y,
                  terrain_height(body_position(b->body[kBodyFrame]).x,
                                 body_position(b->body[kBodyFrame]).z))
            << m;
        BikeStateRecord record = bike_state_encode(b);
        Bike *copy = bike_create(b->model.name, 100 + int(m), "", "", "", "", "");
        bike_state_decode(copy, record);
        BikeStateRecord again = bike_state_encode(copy);
        EXPECT_EQ(std::memcmp(again.bytes, record.bytes, kStateRecordSize), 0) << m;
        Vec3 a = body_position(copy->body[kBodyRearWheel]);
        Vec3 c = body_position(b->body[kBodyRearWheel]);
        EXPECT_LT(length(a - c), 0.02) << m;
        bike_destroy(copy);
    }
}

class StartGridTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        // Rolling ground and a starting gate of eight positions facing -z.
        Terrain &t = terrain();
        for (int j = 0; j < t.side; ++j)
            for (int i = 0; i < t.side; ++i)
                t.heights[std::size_t(i + t.side * j)] =
                    float(10 + 1.5 * std::sin(i * 0.11) * std::cos(j * 0.07));
        t.max_height = 11.5f;
        t.min_height = 8.5f;
        for (int k = 0; k < 8; ++k) {
            StartPosition s;
            s.x = 60 + 5.0f * k;
            s.z = 90;
            s.angle = 0.05f * (k - 4);
            starts_.push_back(s);
        }
    }
    std::vector<StartPosition> starts_;
};

TEST_F(StartGridTest, CreatedSteppedEncodedRestored) {
    const int riders = 20;
    int before = physics_message_count();
    for (int m = 0; m < riders; ++m) place_on_grid(make(kModels[m % 5]), starts_, m);
    for (int m = 0; m < riders; ++m) {
        const StartPosition &s = starts_[std::size_t(m) % starts_.size()];
        Vec3 p = body_position(bikes_[std::size_t(m)]->body[kBodyFrame]);
        EXPECT_NEAR(std::hypot(p.x - s.x, p.z - s.z), (m / 8 + 1.0 / 16) * 10 + 3.6, 0.01) << m;
    }
    ride(bikes_, 256);
    EXPECT_EQ(physics_message_count(), before);
    restore_and_compare(bikes_);
}

// The same on the generated "rabbithill" track, when the build has made the game data.
TEST(RabbithillGrid, FortyBikesOnTheStartingGate) {
    const char *data = std::getenv("VQ_TEST_DATA");
    struct stat st;
    if (!data || stat((std::string(data) + "/rabbithill/terrain.hf").c_str(), &st) != 0)
        GTEST_SKIP() << "no generated game data";
    TempDir home;
    ScopedEnv xdg("XDG_DATA_HOME", home.path().c_str());
    ScopedEnv install("VQ_HOME", data);
    vfs_reset_for_tests();
    shapes_free_all();
    physics_world_create();
    ASSERT_TRUE(track_load("rabbithill", 0));
    const std::vector<StartPosition> starts = gates().starts;
    ASSERT_FALSE(starts.empty());
    std::vector<Bike *> bikes;
    for (int m = 0; m < 40; ++m) {
        bikes.push_back(bike_create(kModels[m % 5], m, "7", "", "", "", ""));
        place_on_grid(bikes.back(), starts, m);
    }
    for (const ShapeInstance &shape : bikes[0]->shapes) EXPECT_NE(shape.shape, nullptr);
    int before = physics_message_count();
    ride(bikes, 256);
    EXPECT_EQ(physics_message_count(), before);
    restore_and_compare(bikes);
    for (Bike *b : bikes) bike_destroy(b);
    track_free();
    physics_world_destroy();
    shapes_free_all();
    vfs_reset_for_tests();
}

} // namespace
