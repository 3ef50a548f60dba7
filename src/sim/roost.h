// Roost and splash: the dirt and water thrown up by the tyres, as particles of a pool
// of 2000, one for each of the scene's first 2000 billboards. Free particles wait on a
// free list; live ones are on an active list, newest first. The particles are data here:
// the scene draws the billboard values kept with them.
#pragma once
#include <cstdint>

#include "sim/vec3.h"
#include "track/surfaces.h"

struct Bike;
struct Terrain;

constexpr int kRoostParticles = 2000;
constexpr int kRoostCountDefault = 250;

// What the scene draws for one particle (its billboard record).
struct RoostBillboard {
    float position[3];
    float height; // 0 = not shown
    int texture;
    std::uint8_t colour[4]; // red, green, blue, alpha
};

struct RoostParticle {
    float position[3];
    float velocity[3];
    RoostSpec spec; // the spray kind it was thrown with
    int billboard;  // index of its billboard, 0..1999
    int next;       // next particle of its list, -1 at the end
};

// Amount of spray, 0..1000 (the "Roost Density" setting; default 250): per bike, step
// and spray kind at most count / 100 particles, one more with probability
// (count mod 100) / 100.
void roost_count_set(int count);
int roost_count();

// Every particle free, every billboard hidden (session start).
void roost_pool_reset();
// Takes the first free particle for the position, velocity and spec, shows its billboard
// (position, height = the RoostSpec size, texture, colour) and puts it at the front of the
// active list. False, and nothing happens, when no particle is free.
bool roost_particle_spawn(Vec3 position, Vec3 velocity, const RoostSpec &spec);
// The spray of both wheels of a bike for one step: the front wheel with a spread of at
// most pi/8, then the rear with at most 2 pi. With use_contacts the wheels' contact
// records of this step are used; without (recorded and remote riders) each wheel's
// deepest tyre contact is found here, leaving out the edge-and-corner stage. Draws from
// the program's random generator.
void roost_emit(Bike *bike, bool use_contacts);
// One step of motion of every live particle (drag, gravity, growth and fade of its
// billboard); a falling particle at or below the ground returns to the pool.
void roost_particles_move(const Terrain &t);

// Live particles: the first (newest) index, or -1; follow RoostParticle::next.
int roost_first_active();
int roost_active_count();
const RoostParticle &roost_particle(int index);
const RoostBillboard &roost_billboard(int index);
