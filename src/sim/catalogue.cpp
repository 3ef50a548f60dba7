#include "sim/catalogue.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/messages.h"

namespace {

// Engine groups: the masses, spring ranges, dampers, inertia, shift points, top speed
// and rider mass that a group of models shares.
enum Group { kG450, kG250Two, kG250Four, kG125, kG50 };

struct GroupValues {
    float frame_mass, fork_mass, fork_spring_min, fork_spring_max, fork_hs_rebound;
    float swingarm_mass, shock_spring_min, shock_spring_max, shock_hs_rebound;
    float engine_inertia, downshift_rpm, upshift_rpm, top_rpm, rider_mass;
};

const GroupValues kGroups[] = {
    {4.735f, 0.703125f, 376.303f, 913.878f, 32, 0.5025f, 2486.29f, 5174.16f, 650, 0.0088501f, 6000,
     10500, 12000, 5.46875f},
    {4.36562f, 0.75375f, 322.545f, 860.12f, 30, 0.589375f, 2083.1f, 4770.98f, 600, 0.00683594f,
     6000, 9000, 10500, 5.46875f},
    {4.24f, 0.703125f, 335.984f, 873.56f, 30, 0.504375f, 2217.5f, 4905.37f, 600, 0.00488281f, 8000,
     12500, 13250, 4.6875f},
    {3.65375f, 0.739688f, 322.545f, 860.12f, 30, 0.541875f, 1814.32f, 4502.19f, 600, 0.00488281f,
     9400, 12000, 12750, 4.6875f},
    {3.34125f, 0.739688f, 309.106f, 846.681f, 30, 0.541875f, 1814.32f, 4502.19f, 600, 0.00119358f,
     9400, 12000, 12750, 4.6875f},
};

// Open-throttle reference curves (50 points each, 500 rpm apart).
const float kOpen450[kTorquePoints] = {
    5,     5,   5,     5,     5,     8,     11,    14.1f, 22.2f, 22.5f, 25.8f, 29.3f, 30.2f,
    30.7f, 31,  30.9f, 30.1f, 29.3f, 27.2f, 25.6f, 24.2f, 21.9f, 18.8f, 14.4f, 0,     -10,
    -11,   -12, -13,   -14,   -15,   -16,   -17,   -18,   -19,   -20,   -21,   -22,   -23,
    -24,   -25, -26,   -27,   -28,   -29,   -30,   -31,   -32,   -33,   -34};
const float kOpen250Two[kTorquePoints] = {
    5,        5,        5,        5,        7.5f,     10,       12.5f,    15,       17.5f,
    20,       22.6996f, 25.4202f, 27.0134f, 28.3372f, 30.0346f, 32.0659f, 32.5828f, 30.2522f,
    25.6011f, 18.8357f, 10.1103f, 0,        -10,      -10.5f,   -11,      -11.5f,   -12,
    -12.5f,   -13,      -13.5f,   -14,      -14.5f,   -15,      -15.5f,   -16,      -16.5f,
    -17,      -17.5f,   -18,      -18.5f,   -19,      -19.5f,   -20,      -20.5f,   -21,
    -21.5f,   -22,      -22.5f,   -23,      -23.5f};
const float kOpen250Four[kTorquePoints] = {
    5,      5,      5,      5,      5,      6.4f,   7.9f,   9.4f,   10.8f,  11.5f,
    11.76f, 11.46f, 12.55f, 13.84f, 16.46f, 18.35f, 18.61f, 18.58f, 18.65f, 18.35f,
    18.15f, 17.22f, 16.39f, 15.14f, 14.51f, 13.88f, 12.95f, 12,     0,      -13.5f,
    -14,    -14.5f, -15,    -15.5f, -16,    -16.5f, -17,    -17.5f, -18,    -18.5f,
    -19,    -19.5f, -20,    -20.5f, -21,    -21.5f, -22,    -22.5f, -23,    -23.5f};
const float kOpen125[kTorquePoints] = {
    5,        5,        5,        5,        5,        5.7f,     6.4f,     7.2f,     7.9f,
    8.6f,     9.4538f,  10.2177f, 10.3292f, 10.6658f, 11.4046f, 12.465f,  13.2616f, 14.1498f,
    14.7643f, 15.8116f, 15.9664f, 15.9064f, 15.7563f, 15.117f,  12.7364f, 2.10085f, 0,
    0,        -1,       -1,       -2,       -2,       -3,       -3,       -4,       -4,
    -5,       -5,       -6,       -6,       -7,       -7,       -8,       -8,       -9,
    -9,       -10,      -10,      -11,      -11};
const float kOpen50[kTorquePoints] = {
    1,        1,        1,        1,        1,        1,        1,        1,        1,
    1,        1.10084f, 1.90986f, 1.7507f,  2.02004f, 2.10085f, 2.31093f, 2.82301f, 3.5838f,
    4.14333f, 4.31226f, 3.729f,   3.60145f, 3.77197f, 3.5623f,  2.66982f, 1.68068f, 0.808017f,
    0,        -0.5f,    -0.5f,    -1,       -1,       -1.5f,    -1.5f,    -2,       -2,
    -2.5f,    -2.5f,    -3,       -3,       -3.5f,    -3.5f,    -4,       -4,       -4.5f,
    -4.5f,    -5,       -5,       -5.5f,    -5.5f};

// Where each reference curve reaches 0 (just above its group's top speed).
int reference_zero(const float *curve) {
    for (int i = 1; i < kTorquePoints; ++i)
        if (curve[i] == 0.0f && curve[i - 1] > 0.0f) return i;
    return kTorquePoints - 1;
}

// Closed-throttle curves: four-strokes, two-strokes and the 50s.
void closed_four_stroke(float *out) {
    const float head[4] = {2, 2, 1, 0};
    for (int i = 0; i < 4; ++i) out[i] = head[i];
    for (int i = 4; i < kTorquePoints; ++i) out[i] = -float((i - 4) / 2 + 1);
}
void closed_two_stroke(float *out) {
    const float head[22] = {2,     2,  1,      0,     -1,     -1.2f, -1.4f,  -1.6f,
                            -1.8f, -2, -2.25f, -2.5f, -2.75f, -3,    -3.33f, -3.67f,
                            -4,    -5, -6,     -7,    -8,     -9};
    for (int i = 0; i < 22; ++i) out[i] = head[i];
    for (int i = 22; i < kTorquePoints; ++i) out[i] = -float((i - 22) / 2 + 10);
}
void closed_fifty(float *out) {
    const float head[22] = {2,     2,     1,       0,      -0.5f,   -0.6f, -0.7f,   -0.8f,
                            -0.9f, -1,    -1.125f, -1.25f, -1.375f, -1.5f, -1.665f, -1.835f,
                            -2,    -2.5f, -3,      -3.5f,  -4,      -4.5f};
    for (int i = 0; i < 22; ++i) out[i] = head[i];
    for (int i = 22; i < kTorquePoints; ++i) out[i] = -(5.0f + 0.5f * float((i - 22) / 2));
}

// An open-throttle curve derived from its group's reference: the part above the flat
// 5 lb*ft start scaled by `scale`, and the curve stretched so that it reaches 0 at
// index `zero` (just above the model's top speed) with the reference's limiter tail.
void derived_open(const float *ref, float scale, int zero, float *out) {
    int ref_zero = reference_zero(ref);
    for (int i = 0; i < kTorquePoints; ++i) {
        float v;
        if (i < zero) {
            double u = double(i) * ref_zero / zero;
            int k = int(u);
            double f = u - k;
            double a = ref[k], b = ref[k + 1];
            v = float(a + (b - a) * f);
            if (v > 5.0f) v = 5.0f + (v - 5.0f) * scale;
        } else {
            int k = i - zero + ref_zero;
            v = ref[k < kTorquePoints ? k : kTorquePoints - 1];
        }
        out[i] = v;
    }
}

struct Row {
    const char *name;
    const char *class_name;
    Group group;
    float primary;
    float front, rear;
    float gears[kGearCount];
    const char *prefix;
    float torque_scale; // 0: the group's reference curve unchanged
};

// Gear sets shared by several models.
#define G_CRF450                                                                                   \
    { 1.8f, 1.47059f, 1.23529f, 1.05f, 0.909091f, 0 }
#define G_KX450F                                                                                   \
    { 1.75f, 1.41176f, 1.1875f, 1.0f, 0.875f, 0 }
#define G_YZ450F                                                                                   \
    { 1.92857f, 1.53333f, 1.27778f, 1.09091f, 0.952381f, 0 }
#define G_350SXF                                                                                   \
    { 2.0f, 1.625f, 1.33333f, 1.14286f, 0.954545f, 0 }
#define G_250SXF                                                                                   \
    { 2.46154f, 2.0f, 1.64706f, 1.36842f, 1.19048f, 1.09091f }
#define G_CRF250                                                                                   \
    { 2.14286f, 1.75f, 1.45f, 1.22727f, 1.04167f, 0 }
#define G_KX250F                                                                                   \
    { 2.14286f, 1.78571f, 1.44444f, 1.2f, 1.05263f, 0 }
#define G_RMZ250                                                                                   \
    { 2.15385f, 1.76471f, 1.47059f, 1.2381f, 1.09091f, 0 }
#define G_RS50                                                                                     \
    { 3.09091f, 2.0f, 1.5f, 1.2f, 1.04545f, 0.956522f }

const Row kRows[kBikeModelCount] = {
    {"crf450(2013)", "450f", kG450, 2.73913f, 13, 48, G_CRF450, "crf450v2013", 0},
    {"kx450f(2013)", "450f", kG450, 2.72727f, 13, 50, G_KX450F, "kx450fv2013", 1.02f},
    {"rmz450(2013)", "450f", kG450, 2.625f, 13, 50, G_CRF450, "rmz450v2013", 0.98f},
    {"yz450f(2013)", "450f", kG450, 2.65217f, 13, 48, G_YZ450F, "yz450fv2013", 1.03f},
    {"450sxf(2013)",
     "450f",
     kG450,
     2.375f,
     14,
     50,
     {2.0f, 1.66667f, 1.4f, 1.18182f, 1.0f, 0},
     "450sxfv2013",
     1.05f},
    {"350sxf(2013)", "250f", kG450, 3.04167f, 14, 50, G_350SXF, "350sxfv2013", 0.85f},
    {"crf450(2011)", "450f", kG450, 2.73913f, 13, 48, G_CRF450, "crf450v2013", 0.97f},
    {"kx450f(2011)", "450f", kG450, 2.72727f, 13, 50, G_KX450F, "kx450fv2013", 0.99f},
    {"rmz450(2011)", "450f", kG450, 2.625f, 13, 50, G_CRF450, "rmz450v2013", 0.96f},
    {"yz450f(2011)", "450f", kG450, 2.65217f, 13, 48, G_YZ450F, "yz450fv2013", 1.0f},
    {"450sxf(2011)",
     "450f",
     kG450,
     2.55172f,
     14,
     52,
     {2.125f, 1.63158f, 1.3f, 1.08696f, 0.923077f, 0},
     "450sxfv2011",
     1.01f},
    {"350sxf(2011)", "450f", kG450, 3.04167f, 14, 50, G_350SXF, "350sxfv2011", 0.83f},
    {"250sx(2012)",
     "250",
     kG250Two,
     2.76923f,
     13,
     48,
     {2.0f, 1.6f, 1.33333f, 1.14286f, 0.954545f, 0},
     "250sx",
     0},
    {"cr250(2007)",
     "250",
     kG250Two,
     3.0f,
     13,
     49,
     {1.8f, 1.47059f, 1.21053f, 1.0f, 0.869565f, 0},
     "cr250",
     0.98f},
    {"kx250(2006)",
     "250",
     kG250Two,
     3.0f,
     13,
     51,
     {1.8f, 1.4375f, 1.17647f, 1.0f, 0.869565f, 0},
     "kx250",
     0.97f},
    {"rm250(2008)",
     "250",
     kG250Two,
     3.0f,
     13,
     50,
     {1.8f, 1.47059f, 1.21053f, 1.0f, 0.869565f, 0},
     "rm250",
     0.96f},
    {"yz250(2012)", "250", kG250Two, 3.0f, 14, 50, G_YZ450F, "yz250", 1.0f},
    {"crf250(2013)",
     "250f",
     kG250Four,
     3.16667f,
     13,
     49,
     {2.35714f, 1.88235f, 1.55f, 1.33333f, 1.13636f, 0},
     "crf250v2013",
     0},
    {"kx250f(2013)",
     "250f",
     kG250Four,
     3.35f,
     13,
     50,
     {2.14286f, 1.75f, 1.44444f, 1.23529f, 1.04545f, 0},
     "kx250fv2013",
     1.02f},
    {"rmz250(2013)", "250f", kG250Four, 3.31579f, 13, 49, G_RMZ250, "rmz250v2013", 0.99f},
    {"yz250f(2013)",
     "250f",
     kG250Four,
     3.35294f,
     13,
     50,
     {2.14286f, 1.75f, 1.44444f, 1.22222f, 1.04167f, 0},
     "yz250fv2013",
     1.03f},
    {"250sxf(2013)", "250f", kG250Four, 3.04167f, 13, 50, G_250SXF, "250sxfv2013", 1.05f},
    {"crf250(2009)", "250f", kG250Four, 3.16667f, 13, 51, G_CRF250, "crf250", 0.96f},
    {"kx250f(2009)", "250f", kG250Four, 3.35f, 13, 48, G_KX250F, "kx250f", 0.97f},
    {"rmz250(2009)", "250f", kG250Four, 3.21053f, 13, 48, G_RMZ250, "rmz250", 0.95f},
    {"yz250f(2009)", "250f", kG250Four, 3.35294f, 13, 48, G_CRF250, "yz250f", 0.98f},
    {"250sxf(2009)", "250f", kG250Four, 3.09091f, 13, 48, G_250SXF, "250sxf", 1.0f},
    {"crf250(2008)", "250f", kG250Four, 3.16667f, 13, 51, G_CRF250, "crf250", 0.95f},
    {"kx250f(2008)", "250f", kG250Four, 3.35f, 13, 48, G_KX250F, "kx250f", 0.96f},
    {"rmz250(2008)", "250f", kG250Four, 3.21053f, 13, 48, G_RMZ250, "rmz250", 0.94f},
    {"yz250f(2008)", "250f", kG250Four, 3.35294f, 13, 48, G_CRF250, "yz250f", 0.97f},
    {"cr125",
     "125",
     kG125,
     3.15f,
     13,
     52,
     {2.35714f, 1.86667f, 1.57895f, 1.29412f, 1.13333f, 0},
     "cr125",
     0},
    {"kx125",
     "125",
     kG125,
     3.2f,
     13,
     51,
     {2.38462f, 1.85714f, 1.52941f, 1.29412f, 1.125f, 1.0f},
     "kx125",
     1.01f},
    {"rm125",
     "125",
     kG125,
     3.36842f,
     12,
     50,
     {2.07143f, 1.6875f, 1.44444f, 1.2f, 1.05263f, 0.95f},
     "rm125",
     1.0f},
    {"yz125",
     "125",
     kG125,
     3.36842f,
     13,
     48,
     {2.38462f, 1.93333f, 1.58824f, 1.35294f, 1.2f, 1.09524f},
     "yz125",
     1.02f},
    {"125sx",
     "125",
     kG125,
     3.04348f,
     13,
     50,
     {2.46154f, 2.0f, 1.64706f, 1.4f, 1.21053f, 1.09091f},
     "125sx",
     1.04f},
    {"crf250(2007)", "250f", kG250Four, 3.16667f, 13, 51, G_CRF250, "crf250", 0.94f},
    {"kx250f(2007)", "250f", kG250Four, 3.35f, 13, 48, G_KX250F, "kx250f", 0.95f},
    {"rmz250(2007)", "250f", kG250Four, 3.21053f, 13, 48, G_RMZ250, "rmz250", 0.93f},
    {"yz250f(2007)", "250f", kG250Four, 3.35294f, 13, 48, G_CRF250, "yz250f", 0.96f},
    {"yz250f_se(2006)", "250f", kG250Four, 3.35294f, 13, 48, G_CRF250, "yz250f_se", 0.99f},
    {"rs50cr", "50", kG50, 3.71429f, 12, 55, G_RS50, "cr125", 0},
    {"rs50kx", "50", kG50, 3.71429f, 12, 55, G_RS50, "kx125", 0},
    {"rs50rm", "50", kG50, 3.71429f, 12, 55, G_RS50, "rm125", 0},
    {"rs50yz", "50", kG50, 3.71429f, 12, 55, G_RS50, "yz125", 0},
};

// Part file patterns; "%s" is the model prefix where the file is model-specific.
const char *const kPartPatterns[kPartFileCount] = {
    "@%s_frame.zm",
    "@generic_frame.shp",
    "@%s.png",
    "@%s_fork_upper.zm",
    "@generic_fork_upper.shp",
    "@%s_fork_lower.zm",
    "@generic_fork_lower.shp",
    "@%s_swingarm.zm",
    "@generic_swingarm.shp",
    "@front_wheel.zm",
    "@front_wheel.shp",
    "@rear_wheel.zm",
    "@rear_wheel.shp",
    "@wheels.png",
    "@rider_head.zm",
    "@rider_head.png",
    "@rider_body.zm",
    "@rider_body_fp.zm",
    "@generic_rider.shp",
    "@rider_body.png",
    "@%s_side_plates.zm",
    "@%s_front_plate.zm",
    "@rider_plate.zm",
};

void set3(float *out, float x, float y, float z) {
    out[0] = x;
    out[1] = y;
    out[2] = z;
}

BikeModel build_model(const Row &row) {
    BikeModel m{};
    const GroupValues &g = kGroups[row.group];
    m.name = row.name;
    m.class_name = row.class_name;
    m.front_wheel = {{0, 1.09f, 1.11f}, 0.8333f, 0.3333f, 0.40625f, 0.5f, 0.15625f};
    m.rear_wheel = {{0, 1.04f, 6.0f}, 0.75f, 0.3333f, 0.46875f, 0.5f, 0.3125f};
    set3(m.frame_pos, 0, 1.98f, 3.6f);
    m.frame_mass = g.frame_mass;
    set3(m.frame_box, 0.8333f, 1.6667f, 1.6667f);
    set3(m.steer_head, 0, 2.9f, 2.16f);
    set3(m.swingarm_pos, 0, 1.34f, 4.99f);
    set3(m.swingarm_pivot, 0, 1.6f, 4.08f);
    set3(m.fork_lower_pos, 0, 1.77f, 1.59f);
    m.fork_leg_spacing = 0.8333f;
    m.fork_length = 3.0f;
    m.fork_mass = g.fork_mass;
    m.fork_spring_min = g.fork_spring_min;
    m.fork_spring_max = g.fork_spring_max;
    m.fork_preload_min = 0;
    m.fork_preload_max = 0.08333f;
    m.fork_oil_min = 0.41667f;
    m.fork_oil_max = 0.25f;
    m.fork_hs_compression = 60;
    m.fork_ls_compression = 60;
    m.fork_hs_rebound = g.fork_hs_rebound;
    m.fork_ls_rebound = 30;
    m.fork_travel = 1.0f;
    m.swingarm_mass = g.swingarm_mass;
    m.shock_spring_min = g.shock_spring_min;
    m.shock_spring_max = g.shock_spring_max;
    m.shock_preload_min = 0;
    m.shock_preload_max = 0.3333f;
    m.shock_hs_compression = 800;
    m.shock_ls_compression = 200;
    m.shock_hs_rebound = g.shock_hs_rebound;
    m.shock_ls_rebound = 150;
    m.linkage_mid = 0.283652f;
    m.linkage_end = 0.413386f;
    m.swingarm_travel = 0.530304f;
    m.linkage_knot = 0.75f;
    m.linkage_slope0 = 0.315039f;
    m.linkage_slope_mid = 0.460479f;
    m.linkage_slope_end = 0.607049f;
    m.primary_ratio = row.primary;
    m.front_sprocket = row.front;
    m.rear_sprocket = row.rear;
    for (int i = 0; i < kGearCount; ++i) m.gear_ratio[i] = row.gears[i];
    bool is_350 = std::strncmp(row.name, "350sxf", 6) == 0;
    m.engine_inertia = is_350 ? 0.00683594f : g.engine_inertia;
    bool fifty = row.group == kG50;
    m.clutch_stiffness = fifty ? 1200.0f : 7500.0f;
    m.clutch_damping = fifty ? 1.0f : 0.75f;
    m.downshift_rpm = g.downshift_rpm;
    m.upshift_rpm = g.upshift_rpm;
    bool high_revver = std::strcmp(row.name, "rm125") == 0 || std::strcmp(row.name, "rs50rm") == 0;
    m.top_rpm = high_revver ? 13750.0f : g.top_rpm;

    switch (row.group) {
    case kG450:
    case kG250Four:
        closed_four_stroke(m.closed_torque);
        break;
    case kG250Two:
    case kG125:
        closed_two_stroke(m.closed_torque);
        break;
    case kG50:
        closed_fifty(m.closed_torque);
        break;
    }
    const float *ref = row.group == kG450       ? kOpen450
                       : row.group == kG250Two  ? kOpen250Two
                       : row.group == kG250Four ? kOpen250Four
                       : row.group == kG125     ? kOpen125
                                                : kOpen50;
    if (row.torque_scale == 0) {
        std::memcpy(m.open_torque, ref, sizeof m.open_torque);
    } else {
        // The curve reaches 0 at the first point at or above the model's top speed (not
        // earlier than its reference does).
        int zero = int(std::ceil(m.top_rpm / 500.0f));
        if (zero < reference_zero(ref)) zero = reference_zero(ref);
        derived_open(ref, row.torque_scale, zero, m.open_torque);
    }

    set3(m.torso_axis, 0, 0.08333f, 0.08333f);
    set3(m.torso_pos, 0, 4.5f, 4.12f);
    m.torso_travel_min = -0.6667f;
    m.torso_travel_max = 0.5f;
    m.rider_mass = g.rider_mass;
    for (int i = 0; i < kPartFileCount; ++i)
        std::snprintf(m.part_files[i], kPartPathMax, kPartPatterns[i], row.prefix);

    RiderGeometry &r = m.rider;
    set3(r.head, 0, 0.808383f, -0.943369f);
    for (int s = 0; s < 2; ++s) {
        float sign = s == 0 ? -1.0f : 1.0f;
        set3(r.shoulders[s], sign * 0.556f, 0.580375f, -0.654514f);
        set3(r.hips[s], sign * 0.269f, -0.570887f, 0.670607f);
        set3(r.grips[s], sign * 1.097f, 1.145f, 0.753f);
        set3(r.footpegs[s], sign * 0.6f, -0.557f, 0.584f);
    }
    r.upper_arm = 0.9f;
    r.forearm = 1.15f;
    r.thigh = 1.328f;
    r.shin = 1.701f;
    const float bones[kBoneCount][2] = {{-1.456f, 0.875f}, {1.456f, 0.875f},   {-0.556f, 0.875f},
                                        {0.556f, 0.875f},  {-0.269f, -2.208f}, {0.269f, -2.208f},
                                        {-0.269f, -0.88f}, {0.269f, -0.88f},   {0, -0.88f}};
    for (int i = 0; i < kBoneCount; ++i) set3(m.bone_centres[i], bones[i][0], bones[i][1], 0.01f);
    m.prefix = row.prefix;
    return m;
}

struct Catalogue {
    BikeModel models[kBikeModelCount];
    const char *names[kBikeModelCount];
    Catalogue() {
        for (int i = 0; i < kBikeModelCount; ++i) {
            models[i] = build_model(kRows[i]);
            names[i] = models[i].name;
        }
    }
};

const Catalogue &catalogue() {
    static const Catalogue c;
    return c;
}

} // namespace

const BikeModel *bike_models() {
    return catalogue().models;
}

const char *const *bike_model_names() {
    return catalogue().names;
}

const BikeModel *bike_model_find(const char *name) {
    if (!name) return nullptr;
    for (const BikeModel &m : catalogue().models)
        if (std::strcmp(m.name, name) == 0) return &m;
    return nullptr;
}

const BikeModel &bike_model_resolve(const char *name) {
    if (!name) name = "";
    if (const BikeModel *m = bike_model_find(name)) return *m;
    const char *pattern = std::strstr(name, "125") ? "125" : "250f";
    const BikeModel *use = &catalogue().models[0];
    for (const BikeModel &m : catalogue().models) {
        if (std::strstr(m.name, pattern)) {
            use = &m;
            break;
        }
    }
    show_messagef("bike info for '%.20s' not found using '%.20s' instead", name, use->name);
    return *use;
}

bool bike_model_has_gear(const BikeModel &m, int g) {
    return g >= 0 && g < kGearCount && m.gear_ratio[g] > 0;
}
