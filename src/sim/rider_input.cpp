#include "sim/rider_input.h"

#include <cmath>

#include "files/settings.h"
#include "sim/bike.h"
#include "sim/engine.h"

namespace {

float clamp01(float v) {
    return std::isnan(v) ? 0 : v < 0 ? 0 : v > 1 ? 1 : v;
}

} // namespace

RiderControlOptions rider_control_options() {
    const SetupSettings &s = settings().setup;
    RiderControlOptions o;
    o.reverse_steering = choice_text(s.reverse_steering) == "Yes";
    o.sticky_dab = choice_text(s.sticky_dab) == "Yes";
    return o;
}

void rider_controls_apply(Bike *b, const RiderControls &c, const RiderControlOptions &o) {
    if (!b) return;
    rider_set_steer(b, o.reverse_steering ? -c.steer : c.steer);
    rider_set_front_brake(b, c.front_brake);
    rider_set_rear_brake(b, c.rear_brake);
    rider_set_throttle(b, c.throttle);

    float dab = std::isnan(c.dab) ? 0 : c.dab;
    if (o.sticky_dab) {
        if (b->dab_control_last < 0.5f && dab >= 0.5f) b->sticky_dab_latch = !b->sticky_dab_latch;
        rider_set_sit_dab(b, b->sticky_dab_latch ? 1 : 0);
    } else {
        rider_set_sit_dab(b, dab);
    }
    b->dab_control_last = dab;

    rider_set_back_up(b, c.back_up);
    rider_set_lean(b, c.lean);

    // The last eighth of lever travel is free play; the lever is let out at a limited rate.
    float target = clamp01(1 - c.clutch * 8.0f / 7.0f);
    float current = b->input.clutch;
    rider_set_clutch(b, target > current ? std::fmin(target, current + 0.03125f) : target);

    int direction = c.shift > 0.5f ? 1 : c.shift < -0.5f ? -1 : 0;
    bike_shift(b, direction);
}

void rider_controls_apply(Bike *b, const RiderControls &c) {
    rider_controls_apply(b, c, rider_control_options());
}
