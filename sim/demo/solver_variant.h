#pragma once

// Everything in which pondsim and pondsim-wide differ. The demo's solver is
// compiled once per program; the build says which with PONDSIM_WIDE.
//
// pondsim: 32 neighbour slots, each solver stage runs over all particles
// before the next one starts.
// pondsim-wide: 64 neighbour slots, and each particle is taken through
// density, forces and integration before the next particle is looked at.

#ifndef PONDSIM_WIDE
#error "the demo's solver is built for one program: define PONDSIM_WIDE as 0 or 1"
#endif

// The stage entry points differ in signature, which only the preprocessor can
// switch; every other fact is read through SolverVariant.
#define PONDSIM_PARTICLE_BY_PARTICLE PONDSIM_WIDE

struct SolverVariant {
    static constexpr bool wide = PONDSIM_WIDE != 0;
    static constexpr const char* name = wide ? "pondsim-wide" : "pondsim";
    static constexpr int neighbourSlots = wide ? 64 : 32;
    static constexpr bool particleByParticle = PONDSIM_PARTICLE_BY_PARTICLE;
    // pondsim recomputes the kernel coefficients at the start of every stage
    // pass; pondsim-wide computes them once, at construction.
    static constexpr bool storedCoefficients = wide;
    // pondsim's search empties the lists and binning copies the old counts;
    // pondsim-wide's binning empties every list before the search refills them.
    static constexpr bool binningEmptiesCounts = wide;
    static constexpr float wallThickness = wide ? 0.08f : 0.008f;
    static constexpr bool pointSmoothing = wide;
};
