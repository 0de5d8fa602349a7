#pragma once

// pondsim-wide: 64 neighbour slots, and each particle is taken through
// density, forces and integration before the next particle is looked at.

// The stage entry points differ in signature, which only the preprocessor can
// switch; every other fact is read through SolverVariant.
#define PONDSIM_PARTICLE_BY_PARTICLE 1

struct SolverVariant {
    static constexpr const char* name = "pondsim-wide";
    static constexpr int neighbourSlots = 64;
    static constexpr bool particleByParticle = PONDSIM_PARTICLE_BY_PARTICLE;
    // Kernel coefficients are computed once, at construction.
    static constexpr bool storedCoefficients = true;
    // Binning empties every list before the search refills them.
    static constexpr bool binningEmptiesCounts = true;
    static constexpr float wallThickness = 0.08f;
    static constexpr bool pointSmoothing = true;
};
