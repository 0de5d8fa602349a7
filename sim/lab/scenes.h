#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/lab/lab_parameters.h"
#include "sim/core/vec3.h"

// The lab's named starts. `scatter` is the demo's random scatter in the
// parameters' box; the others place particles on a cubic lattice at the
// parameters' particle spacing and size the box around them, so that the
// particle count sets the resolution:
// - dam: a column a wide, 2a high and as deep as the box, against the x = 0
//   wall of a box 4a long and 3a high;
// - double-dam: two such columns, at x = 0 and at the far wall 6a away;
// - pool: a still layer half as deep as it is wide, box twice as high;
// - drop: a layer a quarter as deep as wide and a cube a quarter of the
//   width on a side, its lowest layer a quarter of the width above the layer.
enum class SceneKind { Scatter, Dam, DoubleDam, Pool, Drop };

bool SceneByName(const std::string& name, SceneKind& out);
const char* SceneName(SceneKind kind);

struct SceneLayout {
    std::vector<Vec3> positions;
    // Fixed wall particles (parameters' wallLayers), on the same lattice.
    std::vector<Vec3> walls;
    // Column width a (dam, double-dam) or layer depth (pool, drop), in
    // position units; 0 for the scatter.
    float size = 0.0f;
    // Height of the settled surface or of the column top, position units.
    float surface = 0.0f;
};

// The layout of about `count` particles (exactly `count` for the scatter;
// the lattice scenes round to whole layers). Sets the box in `parameters`
// for the lattice scenes. The scatter draws its coordinates from `random`,
// three per particle, as the demo's reseed does.
SceneLayout BuildScene(SceneKind kind, int32_t count, LabParameters& parameters, int (*random)());
