// Riding a bike on flat generated ground: the fixture of the contact, suspension, engine
// and brake checks. The bike is crf450(2013) with the reset setup unless a test says
// otherwise; the rider is held by the rider module's coupling springs.
#pragma once
#include <cmath>

#include "sim/contact.h"
#include "sim/engine.h"
#include "sim/ground.h"
#include "sim/roost.h"
#include "sim_fixture.h"

class RideTest : public SimTest {
protected:
    // A bike placed on the flat ground (height 10) at (x, z), facing -z, settled for
    // settle_steps.
    Bike *bike_at_rest(double x = 128, double z = 200, int settle_steps = 384,
                       const char *model = "crf450(2013)") {
        Bike *b = make(model);
        bike_place(b, x, 10, z, 0);
        ride(b, settle_steps);
        return b;
    }
    // One simulation step of one bike, in the race step's order.
    static void ride_step(Bike *b) {
        bike_collide_world(b);
        physics_step();
        bike_step(b);
    }
    static void ride(Bike *b, int steps) {
        for (int i = 0; i < steps; ++i) ride_step(b);
    }
    // Gives every body the velocity of the bike rolling forward (-z) at speed, with the
    // wheels turning to match.
    static void roll_at(Bike *b, double speed) {
        for (dBodyID body : b->body) body_set_linear_vel(body, {0, 0, -speed});
        for (int w = 0; w < 2; ++w) {
            const WheelContact &wc = b->wheels[w];
            double radius = wc.rim_radius + wc.tube_radius - wc.depth;
            body_set_angular_vel(b->body[w == 0 ? kBodyFrontWheel : kBodyRearWheel],
                                 {-speed / radius, 0, 0});
        }
    }
    static double forward_speed(const Bike *b) { return -body_linear_vel(b->body[kBodyFrame]).z; }
    // The frame's nose-up pitch (rad).
    static double pitch(const Bike *b) {
        Vec3 f = body_vector_to_world(b->body[kBodyFrame], {0, 0, -1});
        return std::atan2(f.y, std::sqrt(f.x * f.x + f.z * f.z));
    }
};
