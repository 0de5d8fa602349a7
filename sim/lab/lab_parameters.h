#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "sim/core/vec3.h"

enum class EquationOfState {
    // pressure = stiffness * (density - restDensity); the demo's, with stiffness 1.
    Linear,
    // pressure = B * ((density / restDensity)^7 - 1), B = c^2 * restDensity / 7.
    Tait,
};

// How the pressure is found.
enum class PressureSolver {
    // From the density through the equation of state, every step once
    // (weakly compressible): the step is bounded by the speed of sound.
    Wcsph,
    // Solved for each step so that the density stays at the rest density
    // and the velocity field is free of divergence (divergence-free SPH):
    // the step is bounded by the flow's speed alone. Without a neighbour cap
    // only; the capped lists keep the demo's law.
    Dfsph,
};

// The kernels of the weakly compressible solver's density and pressure
// sums without a neighbour cap (the capped lists keep the demo's; the
// divergence-free solver takes the cubic spline).
enum class SmoothingKernel {
    // The demo's: poly6 for density, the spiky kernel's gradient for
    // pressure.
    Poly6Spiky,
    // The cubic spline of support h for both, so that the pressure force is
    // the gradient of the density it comes from: with the two kernels apart
    // a still pool's pressure forces fed its motion.
    CubicSpline,
};

// Everything the lab solver is told at run time. Positions are kept in
// "position units"; simScale turns them into metres (the demo's box units
// are 0.04 m; the water scenes use metres directly, simScale 1).
struct LabParameters {
    // Kernel support radius h, metres: poly6 for density, spiky gradient for
    // pressure (or the cubic spline for both, `kernel`), the viscosity
    // kernel's Laplacian for viscosity.
    float smoothingLength = 0.03f;
    // Pairs closer than this, metres, are listed as neighbours. The demo
    // lists out to 2h; pairs beyond h add nothing to any sum.
    float searchRadius = 0.06f;
    // Lattice spacing of the physical scenes, metres. The demo's fluid
    // settles with its particles about h apart (its scatter's nearest
    // neighbours at 0.0297 m, their density sums the particle's own term):
    // a lattice at h starts at that density.
    float particleSpacing = 0.03f;
    // Mass of every particle, kilograms.
    float particleMass = 0.010543f;
    // Density at which the pressure is zero, kilograms per cubic metre.
    float restDensity = 0.001f;
    EquationOfState equationOfState = EquationOfState::Linear;
    // Linear law: pascals per (kilogram per cubic metre).
    float stiffness = 1.0f;
    // Speed of sound, metres per second: sets the Tait stiffness and the
    // time step's sound-speed bound.
    float speedOfSound = 0.0f;
    // Negative pressures taken as zero (no pull between particles at a free
    // surface, where the density sum falls short).
    bool clampNegativePressure = false;
    // Multiplies the symmetric pressure sum sum_j m (p_i + p_j) / (rho_i rho_j)
    // grad W: the demo's 0.5 gives half the pressure gradient inside a
    // uniform fluid, which then holds itself up with twice the hydrostatic
    // pressure; 1 gives the gradient itself.
    float pressureFactor = 0.5f;
    // Coefficient of the viscosity term, pascal seconds.
    float viscosity = 0.05f;
    // Metres per second squared; +y is up.
    Vec3 gravity{0.0f, -9.8f, 0.0f};
    // Seconds per step. With cflNumber > 0 a step is at most
    // cflNumber * h / (c + fastest speed); with forceNumber > 0 at most
    // forceNumber * sqrt(h / largest acceleration).
    float timeStep = 0.004f;
    float cflNumber = 0.0f;
    float forceNumber = 0.0f;
    // Longest acceleration kept, metres per second squared; infinity: none.
    float accelLimit = 200.0f;
    // Floor and ceiling springs (along y) and side-wall reflection. Off: the
    // box is open on every side and only bounds the grid.
    bool walls = true;
    float wallThickness = 0.008f;   // metres from floor or ceiling where the spring acts
    float wallStiffness = 10000.0f; // per second squared, times the penetration in metres
    float wallDamping = 256.0f;     // per second, times the y velocity
    float wallEpsilon = 1e-6f;      // smallest penetration that counts, metres
    // Layers of fixed wall particles the lattice scenes put outside the
    // floor and the four side walls (0: none, the demo's walls alone).
    int wallLayers = 0;
    // Metres per position unit.
    float simScale = 0.04f;
    // The box, position units.
    Vec3 boxMin{0.0f, 0.0f, 0.0f};
    Vec3 boxMax{36.0f, 36.0f, 36.0f};
    // 32 or 64: the demo's lists (ascending, capped, filled in the demo's
    // scan order); 0: every pair within the search radius.
    int neighbourCap = 32;
    // Only the particles below this index are paired (the demo's 4000); 0: all.
    int pairedLimit = 4000;
    // With a cap: the list counts are emptied at binning (pondsim-wide) rather
    // than by the search (pondsim), so no particle skips its own scan.
    bool countsEmptiedAtBinning = false;
    // Distances through the demo's square-root estimate instead of sqrtf.
    bool fastDistance = true;

    // Fields added after the first saved states kept the structure as raw
    // memory: they stay at the end, so that the bytes of such a file are a
    // prefix of it.
    PressureSolver pressureSolver = PressureSolver::Wcsph;
    // Divergence-free solver: the mean density error over the fluid a
    // density solve stops at (per cent of the rest density), and the mean
    // rate of density change a divergence solve stops at (per cent of the
    // rest density over the longest step, timeStep); at most this many
    // iterations each.
    float densityTolerance = 0.05f;
    float divergenceTolerance = 0.1f;
    int densityIterations = 100;
    int divergenceIterations = 100;
    // Numerical stabilisation apart from the physical viscosity, for the
    // divergence-free solver: each step every velocity moves this fraction
    // of the way towards the kernel-weighted mean velocity around it (XSPH).
    // The weakly compressible solver's stabilisation is its viscosity.
    float xsph = 0.0f;

    // The lattice scenes' shapes, metres; whole lattice sites at the
    // particle spacing. A particle count asked for scales them all by one
    // factor; without one the lengths set the count.
    struct SceneGeometry {
        // The dam: a column against the x = 0 wall of the tank.
        float columnWidth;
        float columnHeight;
        float tankLength;
        float tankHeight;
        // The tank's third side, the columns as deep (dam and double-dam).
        float depth;
        // The double-dam: two such columns with this much floor between them.
        float columnGap;
        // The pool: a layer poolDepth deep in a tank poolLength by poolWidth.
        float poolLength;
        float poolWidth;
        float poolDepth;
        float poolTankHeight;
        // The drop: a layer in a square tank, a cube dropSide on a side whose
        // lowest face stands dropHeight above the floor, over the middle.
        float dropTankSide;
        float dropTankHeight;
        float layerDepth;
        float dropSide;
        float dropHeight;
    };
    SceneGeometry scene = ClassicSceneGeometry(particleSpacing);
    // Friction with the walls, for the divergence-free solver: viscosity
    // (pascal seconds) added to the physical one between the fluid and a
    // wall. A wall of particles h apart cannot resolve the thin layer where
    // a real floor holds the water back; this stands for it.
    float wallViscosity = 0.0f;
    SmoothingKernel kernel = SmoothingKernel::Poly6Spiky;

    // The water's scenes at a particle spacing: a dam 20 sites wide (16000
    // particles), a pool 32 sites wide and 16 deep, a drop of 9 into 9.
    static SceneGeometry WaterSceneGeometry(float spacing) {
        return OfSites(spacing, {20, 40, 80, 60, 20, 80, 32, 32, 16, 32, 39, 36, 9, 9, 18});
    }
    // The demo's fluid pairs only its first 4000 particles, and holds no
    // more than four or five layers of them at rest (deeper, the bottom
    // layers' lists overflow and the fluid boils off as a gas): dams of the
    // water's shape under 4000 particles, a pool four layers deep, a cube
    // of 5 dropped into a layer of 4, in tanks as high as the demo's box.
    static SceneGeometry ClassicSceneGeometry(float spacing) {
        return OfSites(spacing, {12, 24, 48, 36, 12, 40, 30, 30, 4, 48, 30, 48, 4, 5, 9});
    }

private:
    static SceneGeometry OfSites(float spacing, const int (&sites)[15]) {
        float m[15];
        for (int i = 0; i < 15; ++i) m[i] = static_cast<float>(sites[i]) * spacing;
        return SceneGeometry{m[0], m[1], m[2],  m[3],  m[4],  m[5],  m[6], m[7],
                             m[8], m[9], m[10], m[11], m[12], m[13], m[14]};
    }
};

// The demo's fluid exactly: pondsim's constants and rules.
LabParameters ClassicParameters();
// Weakly compressible water at the demo's kernel size (h = 3 cm).
LabParameters WaterParameters();
// A named set of parameters, as the options, the panel and the help list it.
struct LabPreset {
    const char* name;
    const char* description;
    LabParameters (*parameters)();
};
// Every preset; the first is the default.
const std::vector<LabPreset>& LabPresets();
// By name; false for an unknown name.
bool ParametersByName(const std::string& name, LabParameters& out);

// -1/3 of the sum over a cubic lattice of V_j (x_j - x_i) . grad W_ij, with
// the pressure kernel (spiky, or the cubic spline) of support h and
// V = mass / restDensity: 1 where the discrete gradient of a linear field is
// exact.
float LatticeGradientFactor(float smoothingLength, float spacing, float mass, float restDensity,
                            SmoothingKernel kernel);

// What a wall particle's volume, one over the sum of the kernel over the
// walls around it, is multiplied by so that a fluid particle of a cubic
// lattice beside a flat wall of `wallLayers` lattice layers has the
// density of the lattice's inside: on its own the volume counts a single
// layer for too much. With the solver's density kernel (poly6, or the
// cubic spline for the divergence-free solver).
float WallVolumeFactor(const LabParameters& p);

// The constants the shared kernels read, derived from the parameters in the
// order of operations the demo uses for its own literals.
struct LabConstants {
    static constexpr bool kGravityAlongYOnly = false;
    float simScale;
    float smoothingRadius;
    float smoothingRadiusSquared;
    float searchRadiusSquared;
    float particleMass;
    float selfDensityTerm;
    float viscosity;
    float pressureFactor;
    float accelLimit;
    float accelLimitSquared;
    float wallThickness;
    float wallEpsilon;
    float wallStiffness;
    float wallDamping;
    Vec3 gravityDown;
    float timeStep;
    bool fastDistance;
    // Kernel coefficients.
    float poly6;
    float spikyGradient;
    float viscosityLaplacian;
    // The cubic spline of support h: 8 / (pi h^3) and 48 / (pi h^3).
    float cubicKernel;
    float cubicGradient;
    // A power of two no smaller than a fluid pair's largest |m grad W|: in
    // this unit, gradients kept in half precision cannot overflow, and the
    // scaling in and out is exact.
    float gradientUnit;
    // The weakly compressible sums without a cap by the cubic spline.
    bool cubicSpline;
    // Equation of state.
    EquationOfState equationOfState;
    float restDensity;
    float stiffness;
    float taitB;
    bool clampNegativePressure;

    explicit LabConstants(const LabParameters& p);

    float Pressure(float density) const {
        float pressure;
        if (equationOfState == EquationOfState::Linear) {
            pressure = (density - restDensity) * stiffness;
        } else {
            const float x = density / restDensity;
            const float x2 = x * x;
            const float x4 = x2 * x2;
            pressure = taitB * ((x4 * x2) * x - 1.0f);
        }
        return clampNegativePressure && pressure < 0.0f ? 0.0f : pressure;
    }
};
