// The bike catalogue: the 45 bike models every rider chooses from, compiled into the
// program, and the look-up by name with its fallback rule.
//
// Units: feet, slugs, seconds, radians; forces in pounds-force, torques in lb*ft, spring
// rates in lb/ft. Model space: y up, the bike faces -z, x points to the rider's right.
#pragma once

constexpr int kBikeModelCount = 45;
constexpr int kTorquePoints = 50; // one point per 500 rpm, 0 .. 24500 rpm
constexpr int kGearCount = 6;
constexpr int kBoneCount = 9;
constexpr int kPartPathMax = 48;

// The part files of a model, in field order (and load order of their fields).
enum BikePartFile {
    kPartFrameModel,
    kPartFrameShape,
    kPartBikeTexture, // default bike texture
    kPartForkUpperModel,
    kPartForkUpperShape,
    kPartForkLowerModel,
    kPartForkLowerShape,
    kPartSwingarmModel,
    kPartSwingarmShape,
    kPartFrontWheelModel,
    kPartFrontWheelShape,
    kPartRearWheelModel,
    kPartRearWheelShape,
    kPartWheelTexture,
    kPartHeadModel,
    kPartHeadTexture,
    kPartBodyModel,
    kPartBodyFirstPersonModel,
    kPartRiderShape,
    kPartBodyTexture,
    kPartSidePlatesModel,
    kPartFrontPlateModel,
    kPartRiderPlateModel,
    kPartFileCount
};

struct WheelSpec {
    float axle[3];     // axle position, model space
    float rim_radius;  // radius of the tyre's centre line (where the rim mass lies)
    float tube_radius; // the tyre's cross-section radius
    float rim_mass;
    float hub_radius;
    float hub_mass;
};

// Rider points in body coordinates (pairs x-negative first) and limb lengths.
struct RiderGeometry {
    float head[3];         // on the torso
    float shoulders[2][3]; // on the torso
    float hips[2][3];      // on the torso
    float grips[2][3];     // on the upper fork
    float footpegs[2][3];  // on the frame
    float upper_arm, forearm, thigh, shin;
};

struct BikeModel {
    const char *name;       // model name, also the menu and rider-profile key
    const char *class_name; // "450f", "250f", "250", "125" or "50"
    WheelSpec front_wheel;
    WheelSpec rear_wheel;
    float frame_pos[3];
    float frame_mass; // without the rider
    float frame_box[3];
    float steer_head[3]; // steering body position and steering axis pivot
    float swingarm_pos[3];
    float swingarm_pivot[3];
    float fork_lower_pos[3]; // steer_head - fork_lower_pos is the steering and fork axis
    float fork_leg_spacing;
    float fork_length;
    float fork_mass;                          // of the upper and of the lower fork body, each
    float fork_spring_min, fork_spring_max;   // both legs together
    float fork_preload_min, fork_preload_max; // ft
    float fork_oil_min, fork_oil_max;         // air gap, ft
    float fork_hs_compression, fork_ls_compression;
    float fork_hs_rebound, fork_ls_rebound;
    float fork_travel;
    float swingarm_mass; // of each of its two boxes
    float shock_spring_min, shock_spring_max;
    float shock_preload_min, shock_preload_max;
    float shock_hs_compression, shock_ls_compression;
    float shock_hs_rebound, shock_ls_rebound;
    float linkage_mid, linkage_end;
    float swingarm_travel; // rad
    float linkage_knot;
    float linkage_slope0, linkage_slope_mid, linkage_slope_end;
    float primary_ratio;
    float front_sprocket, rear_sprocket; // stock tooth counts
    float gear_ratio[kGearCount];        // <= 0: the model lacks that gear
    float engine_inertia;                // slug*ft^2
    float clutch_stiffness, clutch_damping;
    float closed_torque[kTorquePoints]; // lb*ft at i * 500 rpm, throttle closed
    float open_torque[kTorquePoints];   // throttle fully open
    float downshift_rpm, upshift_rpm;
    float top_rpm;
    float torso_axis[3]; // direction of the torso's travel (normalised before use)
    float torso_pos[3];
    float torso_travel_min, torso_travel_max;
    float rider_mass;
    char part_files[kPartFileCount][kPartPathMax]; // virtual paths
    RiderGeometry rider;
    float bone_centres[kBoneCount][3];
    const char *prefix; // the model-specific part of its part file names
};

// The catalogue in table order (never empty; entry 0 is the fallback of last resort).
const BikeModel *bike_models();
// The 45 model names in catalogue order (for the "Bike" choice of the settings).
const char *const *bike_model_names();
// Exact name match, or null.
const BikeModel *bike_model_find(const char *name);
// The model to use for name: the exact match, else the first entry whose name contains
// "125" (when name does) or "250f" (otherwise), else entry 0. A fallback logs
// "bike info for '%.20s' not found using '%.20s' instead". Null name = empty.
const BikeModel &bike_model_resolve(const char *name);
// True when the model has gear index g (0..5).
bool bike_model_has_gear(const BikeModel &m, int g);
