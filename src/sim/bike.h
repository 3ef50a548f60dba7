// One bike and its rider: the copy of its catalogue entry, its parts, the setup, the
// seven rigid bodies and six joints, the simulation state, and the per-step work.
//
// Bodies (model space positions; all start with the identity rotation, facing -z):
// frame, front wheel, rear wheel, upper fork, lower fork, swingarm, rider torso.
// Joints: front axle hinge (lower fork, front wheel), rear axle hinge (swingarm, rear
// wheel), steering hinge (upper fork, frame), fork slider (upper fork, lower fork),
// swingarm pivot hinge (swingarm, frame), rider hinge-2 (torso, frame).
#pragma once
#include <cstdint>
#include <vector>

#include <ode/ode.h>

#include "sim/catalogue.h"
#include "sim/setup.h"
#include "sim/shapes.h"
#include "sim/vec3.h"
#include "track/gates.h"
#include "track/ruts.h"

enum BikeBody {
    kBodyFrame,
    kBodyFrontWheel,
    kBodyRearWheel,
    kBodyForkUpper,
    kBodyForkLower,
    kBodySwingarm,
    kBodyTorso,
    kBodyCount
};

enum BikeJoint {
    kJointFrontAxle,
    kJointRearAxle,
    kJointSteering,
    kJointFork,
    kJointSwingarm,
    kJointRider,
    kJointCount
};

// The seven collision shapes, in their file order of the model.
enum BikeShape {
    kShapeFrame,
    kShapeForkUpper,
    kShapeForkLower,
    kShapeSwingarm,
    kShapeFrontWheel,
    kShapeRearWheel,
    kShapeRider,
    kShapeCount
};

// Drawn part models, in the order they are kept.
enum BikeVisualModel {
    kModelFrame,
    kModelSidePlates,
    kModelForkUpper,
    kModelFrontPlate,
    kModelForkLower,
    kModelSwingarm,
    kModelFrontWheel,
    kModelRearWheel,
    kModelBody,
    kModelBodyFirstPerson,
    kModelHead,
    kModelRiderPlate,
    kVisualModelCount
};

enum BikeTexture { kTextureBike, kTextureWheel, kTextureBody, kTextureHead, kTextureCount };

constexpr int kNumberTextMax = 7;
constexpr int kTorsoHistory = 4;

// The rider's controls for the next step; written through the rider_set_* setters,
// read by the physics.
struct RiderInput {
    float throttle = 0;    // 0..1
    float clutch = 0;      // 0..1, 1 = lever released
    float front_brake = 0; // 0..1
    float rear_brake = 0;  // 0..1
    float steer = 0;       // -1..1
    float sit_dab = 0;     // 0..1
    float back_up = 0;     // 0..1
    float lean = 0;        // -1..1, positive = backward
};

// A collision shape and this bike's working copy of its spheres in world coordinates.
struct ShapeInstance {
    const CollisionShape *shape = nullptr;
    std::vector<Vec3> world; // one centre per sphere
};

// The ground contact of one wheel in the last step.
struct WheelContact {
    dBodyID body = nullptr;
    float axle[3] = {1, 0, 0}; // body coordinates
    float rim_radius = 0, tube_radius = 0;
    float point[3] = {0, 0, 0};
    float point_velocity[3] = {0, 0, 0};
    float normal[3] = {0, 1, 0};
    float depth = 0; // 0: not touching
    dJointFeedback force{};
};

// One free foot (during a fall) or its last placed position.
struct RiderFoot {
    float position[3] = {0, 0, 0};
    float velocity[3] = {0, 0, 0};
};

// A 20-byte entry of the growable working lists of contacts and the rider.
struct WorkEntry {
    float v[4];
    int tag;
};

// Drawn parts: handles owned by the drawing layer (null / 0 = not loaded).
struct BikeVisuals {
    void *models[kVisualModelCount] = {};
    int textures[kTextureCount] = {};
    int number_texture = 0;                               // the generated 128 x 128 plate
    unsigned char number_background[3] = {255, 255, 255}; // plate colours, RGB
    unsigned char number_foreground[3] = {0, 0, 0};
};

struct Bike {
    BikeModel model; // the physics reads model values from this copy

    // ---- Parts ----
    BikeVisuals visuals;
    ShapeInstance shapes[kShapeCount];
    char number_text[kNumberTextMax + 1] = {};
    int rider_id = 0;
    BikeSetup setup{};

    // ---- Bodies and joints ----
    dBodyID body[kBodyCount] = {};
    dJointID joint[kJointCount] = {};
    dJointFeedback feedback[kJointCount] = {};
    std::uint32_t world_generation = 0; // the world the bodies live in
    bool rider_attached = true;         // the rider joint holds the torso to the frame
    float total_mass = 0;               // of the seven bodies

    // ---- Dynamic state ----
    float activity = 1;   // 1 simulated .. <= 0.25 frozen
    int touched_down = 0; // a non-wheel part touched, or slow early in the race
    int crash_timer = 0;  // steps; > 0 while the rider is off the bike
    int crash_count = 0;
    float bump_timer = 0;
    float torso_velocity_history[kTorsoHistory][3] = {};

    // ---- Rider inputs and rider ----
    RiderInput input;
    float dab_pose = 0; // 0..1
    RiderFoot feet[2];  // x-negative footpeg first

    // ---- Local controls (sim/rider_input): the sticky sit/dab latch and the last sit/dab
    // control value, for its rising edge ----
    bool sticky_dab_latch = false;
    float dab_control_last = 0;

    // ---- Engine and transmission ----
    int gear = 0;           // 0..5, index into gear_ratio
    int last_shift = 0;     // -1, 0, +1
    float engine_speed = 0; // rad/s
    float clutch_phase = 0; // rad

    // ---- Suspension, recomputed every step ----
    float fork_position = 0, fork_speed = 0;
    float swingarm_angle = 0, swingarm_rate = 0;
    float shock_compression = 0, shock_ratio = 0;

    // ---- Assists ----
    float landing_factor = 1;
    float dab_weight = 0;

    // ---- Contacts ----
    WheelContact wheels[2]; // front, rear
    std::int64_t last_bike_contact_step = -1;
    // The bike's bounding sphere for the pair tests, kept for one world step (and only
    // while the frame stays where it was when the sphere was measured).
    std::int64_t bound_step = -1;
    double bound_centre[3] = {0, 0, 0};
    double bound_radius = 0;
    std::int64_t first_contact_step = -1;

    // ---- Race ----
    RiderGates gates;
    RutRing ruts; // pending rut points of the wheels

    // ---- Growable working lists of the contact and rider code ----
    std::vector<int> work_indices;
    std::vector<WorkEntry> work_lists[3];
};

// Builds a bike: the model (falling back by bike_model_resolve), its parts, number plate,
// bodies, joints and masses, the setup reset values and the reset state. Texture names
// may be null or empty; unsafe names (absolute, or holding "..") count as empty. Never
// fails (an allocation failure ends the process).
Bike *bike_create(const char *model_name, int rider_id, const char *number_text,
                  const char *rider_texture, const char *head_texture, const char *bike_texture,
                  const char *wheel_texture);
// Destroys the bodies and joints (when their world still exists) and frees the bike.
void bike_destroy(Bike *bike);

// The seven bodies with their masses and the six joints with stops and feedback.
void bike_bodies_create(Bike *bike);
void bike_bodies_destroy(Bike *bike);
// Sets the frame and torso masses from the rider mass distribution (the total stays).
void bike_rider_masses_apply(Bike *bike);
// Sum of the masses of the seven bodies.
double bike_mass_total(const Bike *bike);

// Every body to its model position, identity rotation, no motion; the torso seated and
// the rider joint attached; inputs 0, first gear, engine and clutch 0, timers and
// counters 0, landing_factor 1, not finished, activity 1 (bodies enabled), feedback, ruts,
// torso velocity history and working lists cleared.
void bike_state_reset(Bike *bike);
// Sets every body's rotation to the rotation about axis by angle and turns each body's
// position about the world origin by it (for a bike that has just been reset).
void bike_rotate(Bike *bike, Vec3 axis, double angle);
// Moves every body.
void bike_translate(Bike *bike, double dx, double dy, double dz);
// Start placement: reset, heading about +y (the bike then faces (-sin a, 0, -cos a)),
// moved to (x, y, z), then raised by 0.25 while bike_collide_ground reports contact
// (the test contacts are dropped). Returns the number of raises.
int bike_place(Bike *bike, double x, double y, double z, double heading);

// Detaches the rider joint (a fall) / seats the torso at its rest point with the frame's
// rotation and attaches the joint again.
void bike_rider_detach(Bike *bike);
void bike_rider_seat(Bike *bike);

// The per-bike work after a world step (forces for the next step).
void bike_step(Bike *bike);
// Removes the net force and torque the six joints produced on the bike as a whole
// (step 14 of bike_step). Does nothing in the first two steps or while the rider is off.
void bike_internal_force_cancel(Bike *bike);

// Frame speed, ft/s (0 for null).
double bike_frame_speed(const Bike *bike);
// Unit steering and fork axis, steer_head - fork_lower_pos, in model space.
Vec3 bike_steering_axis(const BikeModel &m);

// Rider input setters, each clamping to its range; throttle, sit_dab and back_up are 0
// while the rider is off the bike, lean while crash_timer >= 1.
void rider_set_throttle(Bike *bike, float v);
void rider_set_clutch(Bike *bike, float v);
void rider_set_front_brake(Bike *bike, float v);
void rider_set_rear_brake(Bike *bike, float v);
void rider_set_steer(Bike *bike, float v);
void rider_set_sit_dab(Bike *bike, float v);
void rider_set_back_up(Bike *bike, float v);
void rider_set_lean(Bike *bike, float v);
