// The collision shapes of the bike, the rider and the start gate (".shp" text: a sphere
// count, then per sphere its centre in body coordinates, radius, friction, stiffness and
// damping), designed from the shared bike and rider geometry of the catalogue.
#pragma once
#include <string>
#include <vector>

struct GeneratedFile {
    std::string name; // virtual name ("generic_frame.shp", "rabbithill/desc", ...)
    std::string data;
};

// The seven bike shapes in the order the physics-file digest takes them:
// "generic_frame.shp", "generic_fork_upper.shp", "generic_fork_lower.shp",
// "generic_swingarm.shp", "front_wheel.shp", "rear_wheel.shp", "generic_rider.shp".
std::vector<GeneratedFile> bike_shapes();
// "startgate.shp": the gate of one start position.
GeneratedFile startgate_shape();

// Contact stiffness (lb/ft) and damping (lb*s/ft) of every generated sphere: the range the
// simulation uses for parts touching the ground.
constexpr double kShapeStiffness = 2500.0;
constexpr double kShapeDamping = 250.0;
