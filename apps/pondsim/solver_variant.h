#pragma once

// pondsim: 32 neighbour slots, each solver stage runs over all particles
// before the next one starts.

// The stage entry points differ in signature, which only the preprocessor can
// switch; every other fact is read through SolverVariant.
#define PONDSIM_PARTICLE_BY_PARTICLE 0

struct SolverVariant {
    static constexpr const char* name = "pondsim";
    static constexpr int neighbourSlots = 32;
    static constexpr bool particleByParticle = PONDSIM_PARTICLE_BY_PARTICLE;
    // Kernel coefficients are recomputed at the start of every stage pass.
    static constexpr bool storedCoefficients = false;
    // The neighbour search empties the lists; binning copies the old counts.
    static constexpr bool binningEmptiesCounts = false;
    static constexpr float wallThickness = 0.008f;
    static constexpr bool pointSmoothing = false;
};
