#pragma once

#include "sim/demo/particle_system.h"

enum class Stage { Neighbours, Density, Forces, Integration };

// A probe that is told nothing; the step then costs no more than the stages.
struct NoStageProbe {
    void Begin(Stage) {}
    void End(Stage) {}
};

// One simulation step: the lists are built once from the start-of-step
// positions, then either each stage runs over all particles (pondsim) or
// each particle runs through all stages (pondsim-wide). The probe lets a
// driver time the stages without a second copy of the schedule.
template <class Probe>
void StepSolver(ParticleSystem& system, Probe& probe) {
    probe.Begin(Stage::Neighbours);
    system.BinParticles();
    system.FindNeighbours();
    probe.End(Stage::Neighbours);
#if PONDSIM_PARTICLE_BY_PARTICLE
    // The bound is read again before every particle.
    for (int32_t i = 0; i < system.particleCount; ++i) {
        probe.Begin(Stage::Density);
        system.ComputeDensity(i);
        probe.End(Stage::Density);
        probe.Begin(Stage::Forces);
        system.ComputeForces(i);
        probe.End(Stage::Forces);
        probe.Begin(Stage::Integration);
        system.Integrate(i);
        probe.End(Stage::Integration);
    }
#else
    probe.Begin(Stage::Density);
    system.ComputeDensity();
    probe.End(Stage::Density);
    probe.Begin(Stage::Forces);
    system.ComputeForces();
    probe.End(Stage::Forces);
    probe.Begin(Stage::Integration);
    system.Integrate();
    probe.End(Stage::Integration);
#endif
}
