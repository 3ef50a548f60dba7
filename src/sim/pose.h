// The rider's limbs and head, derived from the simulated bodies whenever they are needed:
// where the feet are (on the footpegs, on the ground while dabbing, free during a fall),
// where elbows and knees go (a two-bone solver aimed by fixed hint points), the nine bone
// transforms of the skinned rider body and the rigid head transform. Nothing is stored.
//
// Bones: 0, 1 forearms; 2, 3 upper arms; 4, 5 shins; 6, 7 thighs; 8 torso (x-negative
// side first). A bind-pose point p is drawn at rotation * (p - centre) + translation.
#pragma once
#include "sim/catalogue.h"
#include "sim/vec3.h"

struct Bike;

// One bone: where its centre goes (world) and its rotation, stored column by column
// (columns are the images of the model's x, y and z axes).
struct RiderBone {
    float translation[3];
    float rotation[9];
};

struct RiderBones {
    RiderBone bone[kBoneCount];
};

// The two feet (x-negative footpeg first) and how far each is committed to the ground or
// to its free position (0..1).
struct FeetPose {
    Vec3 foot[2];
    double weight[2];
};

struct HeadPose {
    Vec3 position;
    double rotation[9]; // column by column; the head's z axis points back from the face
};

// Joint of a two-bone chain from root a to end b with bone lengths l1 and l2, bent toward
// the hint point. The chain never straightens beyond 0.95 (l1 + l2). An end closer than
// |l1 - l2| (no real solution) folds the joint onto the line at l1 from the root; a zero
// distance or a hint on the line a-b still gives a finite joint.
Vec3 two_bone_ik(Vec3 a, Vec3 b, double l1, double l2, Vec3 hint);

// The feet: the footpegs (lifted, spread and moved back during a fall), lowered to the
// ground while dabbing, and blended toward the free feet while the rider is off the bike.
FeetPose rider_feet_pose(const Bike *bike);

// Bones 0-3 (arms, elbows by the two-bone solver from shoulders to grips).
void rider_arm_bones(const Bike *bike, RiderBones &bones);
// Bones 4-7 (legs, knees by the two-bone solver from hips to the feet of rider_feet_pose).
void rider_leg_bones(const Bike *bike, RiderBones &bones);
// Bone 8 (torso, from hip to shoulder line).
void rider_torso_bone(const Bike *bike, RiderBones &bones);
// The head: at the head point of the torso, looking ahead along the torso's motion and
// somewhat down, within limits around the torso's posture.
HeadPose rider_head_pose(const Bike *bike);
