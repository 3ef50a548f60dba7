// The shape of a motocross course: its centre line laid out from straights and arcs, the
// riding width, the features along it (tabletops, doubles, whoops, rollers) and the berms
// of its turns, sampled every foot for the terrain builder, the timing gates and the
// robot lines.
//
// Axes are the world's: x and z horizontal, y up. A heading h points along (cos h, sin h)
// in (x, z); a right turn (seen by a rider facing along the heading, x to the rider's
// right when facing -z) increases h.
#pragma once
#include <string>
#include <vector>

// One piece of a centre line: a straight (turn_deg 0) or an arc of the given radius turning
// by turn_deg degrees (positive = right, negative = left).
struct Piece {
    double length = 0; // straights only
    double radius = 0; // arcs only
    double turn_deg = 0;
    bool solve = false; // the layout adjusts this straight's length to close the loop
};

enum class FeatureKind { Tabletop, Double, Whoops, Rollers };

// A feature on a straight piece of the loop, starting offset feet after the piece begins.
struct FeatureSpec {
    FeatureKind kind = FeatureKind::Tabletop;
    int piece = 0;
    double offset = 0;
    double height = 0;  // top (tabletop), take-off crest (double), bump height (whoops, rollers)
    double length = 0;  // table top length, gap floor (double), wavelength (whoops, rollers)
    int count = 0;      // bumps (whoops, rollers)
    double height2 = 0; // landing mound (double)
    bool sand = false;  // the feature's ground is sand
};

// Surface classes the generator paints (indices into the track's "tileinfo").
enum Surface : int { kSurfaceDirt = 0, kSurfaceHardpack = 1, kSurfaceSand = 2, kSurfaceGrass = 3 };

struct CourseDesign {
    std::string name;
    // Where the start chute joins the loop, and the loop's heading there (degrees).
    double join_x = 0, join_z = 0, join_heading_deg = 0;
    std::vector<Piece> loop;  // from the join point around to it again
    std::vector<Piece> chute; // from the start gate to the join point
    std::vector<FeatureSpec> features;
    double half_width = 14;      // riding half width of the loop
    double berm_extra = 6;       // extra riding width on the outside of a bermed turn
    double berm_max = 5.5;       // berm height at the outside edge of the tightest turns
    double blend = 24;           // width over which the corridor meets the natural ground
    double gate_half_width = 68; // riding half width of the start pad at the gate
    double funnel_start = 40;    // the pad keeps its width this far past the gate
    double funnel_length = 230;  // then narrows to the loop's width over this distance
    double pad_behind = 56;      // the pad reaches this far behind the gate (four rows)
    int finish_piece = 0;        // the finish line lies on this straight of the loop
    double finish_offset = 0;    // this far after the straight begins
    int loop_surface = kSurfaceDirt;
    int chute_surface = kSurfaceHardpack;
};

// A sampled point of a centre line.
struct CoursePoint {
    double x = 0, z = 0;
    double s = 0;                         // arc length along the leg
    double tx = 1, tz = 0;                // unit tangent
    double curvature = 0;                 // signed, positive in right turns (1 / radius)
    double half_width = 0;                // riding half width on the inside (and on straights)
    double edge_left = 0, edge_right = 0; // riding half widths to each side
    double base = 0;                      // graded ground height of the course here
    double feature = 0;                   // height added by features
    double berm = 0; // berm height at the outside edge; positive when the outside is the
                     // left (right turns), negative when it is the right
    int surface = kSurfaceDirt;
    int piece = -1; // loop piece index (-1 on the chute)
};

struct CourseLeg {
    std::vector<CoursePoint> points; // spaced `step` feet apart
    bool closed = false;
    double length = 0;
    double step = 1;
};

// A take-off of a jump on the loop, for the robots' speed profile.
struct JumpSpot {
    double lip_s = 0;      // loop arc length of the lip (where the bike leaves the ground)
    double land_s = 0;     // arc length of the middle of the landing
    bool tabletop = false; // safe to land short (on the table)
};

// A feature as placed on the loop: a height profile over loop arc lengths s0..s1. Jumps are
// made of stretches over which the slope changes linearly (knots u, slope, height);
// whoops and rollers are cosine bumps.
struct PlacedFeature {
    FeatureKind kind = FeatureKind::Tabletop;
    double s0 = 0, s1 = 0;
    std::vector<double> u, slope, height; // jump profile knots, u from 0 at s0
    double amplitude = 0, wavelength = 0; // bumps
    bool sand = false;
};

struct SectionRange {
    double s0 = 0, s1 = 0; // loop arc lengths of a feature (whoops, rollers)
    FeatureKind kind = FeatureKind::Whoops;
};

struct Course {
    CourseDesign design;
    CourseLeg loop;      // closed; s = 0 at the join point
    CourseLeg chute;     // open; s = 0 at the start gate line, ends at the join point
    double pad_back = 0; // the chute's centre line starts this far behind the gate (s < 0 side)
    double finish_s = 0; // loop arc length of the finish line
    std::vector<JumpSpot> jumps;
    std::vector<SectionRange> rough; // whoops and roller sections
    std::vector<PlacedFeature> features;
    // Start gate: centre and heading (unit vector) of the gate line.
    double gate_x = 0, gate_z = 0, gate_tx = 0, gate_tz = -1;
};

// Lays out the design: closes the loop (adjusting the pieces marked `solve`), samples both
// legs every foot, computes widths, berms and features. The base heights are left at 0 for
// the terrain builder. False with a message in error when the design cannot be closed.
bool course_build(const CourseDesign &design, Course &out, std::string &error);

// Height added by the features of the course at loop arc length s (0 off features).
double course_feature_height(const Course &course, double s);

// A point of a leg at arc length s (clamped for open legs, wrapped for closed ones), with
// every attribute interpolated linearly.
CoursePoint leg_point_at(const CourseLeg &leg, double s);

// Smoothstep 3t^2 - 2t^3 of t clamped to 0..1.
double smooth01(double t);
