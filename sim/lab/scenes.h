#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/lab/lab_parameters.h"
#include "sim/core/vec3.h"

// The lab's named starts. `scatter` is the demo's random scatter in the
// parameters' box; the others place particles on a cubic lattice at the
// parameters' particle spacing, shaped by their scene geometry (metres) and
// size the box around them:
// - dam: a column columnWidth (a) wide and columnHeight high, as deep as
//   the tank, against the x = 0 wall of a tank tankLength long and
//   tankHeight high (by default a column a wide and 2a high, a tank 4a
//   long and 3a high);
// - double-dam: two such columns, at x = 0 and at the far wall, columnGap
//   apart;
// - pool: a still layer poolDepth deep (by default half as deep as it is
//   wide, the tank twice as high);
// - drop: a layer layerDepth deep and a cube dropSide on a side, its lowest
//   face dropHeight above the floor (by default a layer a quarter as deep as
//   wide, a cube of a quarter of the width a quarter of it above the layer).
// Without a particle count the lengths set the count; with one they are all
// scaled by one factor, so that the scene keeps its shape and holds about
// that many particles.
enum class SceneKind { Scatter, Dam, DoubleDam, Pool, Drop };

// As many particles as a lab scene is built with at most; a state file that
// claims more is refused before anything is allocated for it.
constexpr int32_t kMaxLabParticles = 20000000;

// A scene as the options, the panel and the help name and describe it.
struct SceneInfo {
    SceneKind kind;
    const char* name;
    const char* description;
    // The particles it starts with when no count is given: the lattice
    // scenes' at their default geometry, at either preset.
    int32_t defaultCount;
};

// Every scene, in SceneKind's order; the first is the default.
const std::vector<SceneInfo>& LabScenes();
const SceneInfo& LabScene(SceneKind kind);
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
// the lattice scenes round to whole layers, and take a count of 0 as none
// asked for: the geometry's own size). Sets the box in `parameters` for the
// lattice scenes. The scatter draws its coordinates from `random`, three per
// particle, as the demo's reseed does.
SceneLayout BuildScene(SceneKind kind, int32_t count, LabParameters& parameters, int (*random)());

// The column width of the dam or double-dam in the box of `parameters` as
// BuildScene sized it for their geometry, at any count, position units; 0
// for the other scenes.
float DamColumnWidth(SceneKind kind, const LabParameters& parameters);

// The start of a scene as both lab programs build it. The scatter is the
// demo's: 500 particles at construction, 3000 at set-up, each drawn from
// `random`, then `count` more draws when a count was asked for, as the demo
// drivers' --particles reseeds. The lattice scenes as BuildScene, at the
// count only when one was asked for.
SceneLayout BuildLabStart(SceneKind kind, int32_t count, bool countGiven, LabParameters& parameters,
                          int (*random)());
