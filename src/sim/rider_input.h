// The local rider's controls: the nine control values of one main-loop pass turned into
// the bike's rider inputs (steering direction, the sticky sit/dab latch, the clutch let
// out at a limited rate) and gear requests. Robots, ghosts and remote riders write the
// same inputs through the rider_set_* setters of sim/bike.h.
#pragma once

struct Bike;

// The nine control values in slot order (sums of the bound devices times their scales).
struct RiderControls {
    float steer = 0;       // Left - Right
    float throttle = 0;    // 0..1
    float front_brake = 0; // 0..1
    float rear_brake = 0;  // 0..1
    float shift = 0;       // Upshift - Downshift
    float clutch = 0;      // lever pulled, 0..1
    float dab = 0;         // sit/dab, 0..1
    float back_up = 0;     // 0..1
    float lean = 0;        // Lean Backward - Lean Forward
};

struct RiderControlOptions {
    bool reverse_steering = true; // "Reversed Steering": Left gives steer -1
    bool sticky_dab = false;      // "Sticky Sit/Dab": a press toggles the seated position
};

// The options as the user's settings hold them.
RiderControlOptions rider_control_options();

// Hands one pass of controls to the bike: steer (negated with reverse_steering), brakes,
// throttle, sit/dab (toggled by each rising edge across 0.5 with sticky_dab), back up,
// lean, the clutch (target 1 - lever * 8/7, let out by at most 1/32 per pass, pulled at
// once) and a gear request at +-0.5 (held shifts once).
void rider_controls_apply(Bike *bike, const RiderControls &controls,
                          const RiderControlOptions &options);
// The same with the user's settings.
void rider_controls_apply(Bike *bike, const RiderControls &controls);
