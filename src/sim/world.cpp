#include "sim/world.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "platform/log.h"
#include "sim/bike.h"

namespace {

struct PhysicsState {
    dWorldID world = nullptr;
    dJointGroupID contacts = nullptr;
    bool ode_open = false;
    std::uint32_t generation = 0;
    int messages = 0;
    int dropped = 0; // non-finite values kept away from the engine
    SimClock clock;
};

PhysicsState &state() {
    static PhysicsState s;
    return s;
}

void route(const char *kind, int errnum, const char *msg, va_list ap) {
    char text[1024];
    std::vsnprintf(text, sizeof text, msg ? msg : "", ap);
    ++state().messages;
    log_printf("ODE %s %d: %s\n", kind, errnum, text);
}

// Errors and debug reports end the process inside the engine after the handler returns.
void on_error(int errnum, const char *msg, va_list ap) {
    route("Error", errnum, msg, ap);
}
void on_debug(int errnum, const char *msg, va_list ap) {
    route("INTERNAL ERROR", errnum, msg, ap);
}
void on_message(int errnum, const char *msg, va_list ap) {
    route("Message", errnum, msg, ap);
}

void note_dropped(const char *what) {
    if (state().dropped++ < 16) log_printf("physics: non-finite %s ignored\n", what);
}

bool usable(dBodyID b, Vec3 v, const char *what) {
    if (!b) return false;
    if (!finite(v)) {
        note_dropped(what);
        return false;
    }
    return true;
}

void clear_accumulators(Bike *bike) {
    for (dBodyID b : bike->body) {
        if (!b) continue;
        dBodySetForce(b, 0, 0, 0);
        dBodySetTorque(b, 0, 0, 0);
    }
}

void set_enabled(Bike *bike, bool on) {
    for (dBodyID b : bike->body) {
        if (!b) continue;
        if (on)
            dBodyEnable(b);
        else
            dBodyDisable(b);
    }
}

} // namespace

void physics_world_create() {
    PhysicsState &s = state();
    if (s.world) return;
    if (!s.ode_open) {
        dInitODE2(0);
        s.ode_open = true;
    }
    dSetErrorHandler(on_error);
    dSetDebugHandler(on_debug);
    dSetMessageHandler(on_message);
    s.world = dWorldCreate();
    dWorldSetGravity(s.world, 0, -kGravity, 0);
    s.contacts = dJointGroupCreate(0);
    ++s.generation;
}

void physics_world_destroy() {
    PhysicsState &s = state();
    if (s.contacts) {
        dJointGroupEmpty(s.contacts);
        dJointGroupDestroy(s.contacts);
        s.contacts = nullptr;
    }
    if (s.world) {
        dWorldDestroy(s.world);
        s.world = nullptr;
    }
    if (s.ode_open) {
        dCloseODE();
        s.ode_open = false;
    }
}

dWorldID physics_world() {
    if (!state().world) physics_world_create();
    return state().world;
}

dJointGroupID physics_contact_group() {
    if (!state().world) physics_world_create();
    return state().contacts;
}

std::uint32_t physics_world_generation() {
    return state().generation;
}

bool physics_world_exists() {
    return state().world != nullptr;
}

void physics_step() {
    dWorldStep(physics_world(), kStepSeconds);
    dJointGroupEmpty(state().contacts);
    ++state().clock.step;
}

void physics_contacts_clear() {
    if (state().contacts) dJointGroupEmpty(state().contacts);
}

int physics_message_count() {
    return state().messages;
}

SimClock &sim_clock() {
    return state().clock;
}

void bike_enable(Bike *bike) {
    if (!bike) return;
    if (bike->activity <= 0.25f) clear_accumulators(bike);
    bike->activity = 1.0f;
    set_enabled(bike, true);
}

void bike_disable(Bike *bike) {
    if (!bike) return;
    clear_accumulators(bike);
    bike->activity = 0.0f;
    set_enabled(bike, false);
}

void bike_wake(Bike *bike) {
    if (!bike) return;
    if (bike->activity <= 0.0f) {
        bike_enable(bike);
    } else if (bike->activity <= 0.25f) {
        bike->activity = 0.25f;
        set_enabled(bike, false);
    }
}

void bike_activity_decay(Bike *bike) {
    if (!bike || bike->activity <= 0.0f) return;
    float a = bike->activity - float(kStepSeconds);
    bike->activity = a < 0 ? 0 : a > 1 ? 1 : a;
    set_enabled(bike, bike->activity > 0.25f);
}

void body_add_force(dBodyID b, Vec3 f) {
    if (usable(b, f, "force")) dBodyAddForce(b, f.x, f.y, f.z);
}
void body_add_torque(dBodyID b, Vec3 t) {
    if (usable(b, t, "torque")) dBodyAddTorque(b, t.x, t.y, t.z);
}
void body_add_rel_torque(dBodyID b, Vec3 t) {
    if (usable(b, t, "torque")) dBodyAddRelTorque(b, t.x, t.y, t.z);
}
void body_add_force_at_pos(dBodyID b, Vec3 f, Vec3 p) {
    if (usable(b, f, "force") && usable(b, p, "point"))
        dBodyAddForceAtPos(b, f.x, f.y, f.z, p.x, p.y, p.z);
}
void body_add_force_at_rel_pos(dBodyID b, Vec3 f, Vec3 p) {
    if (usable(b, f, "force") && usable(b, p, "point"))
        dBodyAddForceAtRelPos(b, f.x, f.y, f.z, p.x, p.y, p.z);
}
void body_add_rel_force_at_rel_pos(dBodyID b, Vec3 f, Vec3 p) {
    if (usable(b, f, "force") && usable(b, p, "point"))
        dBodyAddRelForceAtRelPos(b, f.x, f.y, f.z, p.x, p.y, p.z);
}
void body_set_position(dBodyID b, Vec3 p) {
    if (usable(b, p, "position")) dBodySetPosition(b, p.x, p.y, p.z);
}
void body_set_quaternion(dBodyID b, Quat q) {
    if (!b) return;
    Quat n = qnormalised(q);
    dQuaternion dq = {n.w, n.x, n.y, n.z};
    dBodySetQuaternion(b, dq);
}
void body_set_linear_vel(dBodyID b, Vec3 v) {
    if (usable(b, v, "velocity")) dBodySetLinearVel(b, v.x, v.y, v.z);
}
void body_set_angular_vel(dBodyID b, Vec3 w) {
    if (usable(b, w, "angular velocity")) dBodySetAngularVel(b, w.x, w.y, w.z);
}
void joint_set_param(dJointID j, int parameter, double value) {
    if (!j) return;
    if (!std::isfinite(value)) {
        note_dropped("joint parameter");
        return;
    }
    switch (dJointGetType(j)) {
    case dJointTypeHinge:
        dJointSetHingeParam(j, parameter, value);
        break;
    case dJointTypeSlider:
        dJointSetSliderParam(j, parameter, value);
        break;
    case dJointTypeHinge2:
        dJointSetHinge2Param(j, parameter, value);
        break;
    case dJointTypeAMotor:
        dJointSetAMotorParam(j, parameter, value);
        break;
    default:
        break;
    }
}

Vec3 body_position(dBodyID b) {
    return b ? vec3(dBodyGetPosition(b)) : Vec3{};
}
Quat body_quaternion(dBodyID b) {
    return b ? quat(dBodyGetQuaternion(b)) : Quat{};
}
Vec3 body_linear_vel(dBodyID b) {
    return b ? vec3(dBodyGetLinearVel(b)) : Vec3{};
}
Vec3 body_angular_vel(dBodyID b) {
    return b ? vec3(dBodyGetAngularVel(b)) : Vec3{};
}

Vec3 body_point_to_world(dBodyID b, Vec3 p) {
    if (!b) return p;
    dVector3 r;
    dBodyGetRelPointPos(b, p.x, p.y, p.z, r);
    return vec3(r);
}
Vec3 body_vector_to_world(dBodyID b, Vec3 v) {
    if (!b) return v;
    dVector3 r;
    dBodyVectorToWorld(b, v.x, v.y, v.z, r);
    return vec3(r);
}
Vec3 body_vector_from_world(dBodyID b, Vec3 v) {
    if (!b) return v;
    dVector3 r;
    dBodyVectorFromWorld(b, v.x, v.y, v.z, r);
    return vec3(r);
}
Vec3 body_point_velocity(dBodyID b, Vec3 p) {
    if (!b) return {};
    dVector3 r;
    dBodyGetPointVel(b, p.x, p.y, p.z, r);
    return vec3(r);
}
