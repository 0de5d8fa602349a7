#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#if defined(__linux__)
#include <sys/resource.h>
#endif

#include "sim/demo/particle_system.h"
#include "sim/demo/step_driver.h"
#include "demo/scene.h"

// Both objects are far too large for the stack and would be memset in full by
// value-initialisation (new T()); plain new leaves the grid untouched. Their
// constructors print the first reseed's line, which is swallowed here.
inline std::unique_ptr<ParticleSystem> NewSystem() {
    testing::internal::CaptureStdout();
    std::unique_ptr<ParticleSystem> system(new ParticleSystem);
    testing::internal::GetCapturedStdout();
    return system;
}

inline std::unique_ptr<Scene> NewScene() {
    testing::internal::CaptureStdout();
    std::unique_ptr<Scene> scene(new Scene);
    testing::internal::GetCapturedStdout();
    return scene;
}

// A fresh set of particles at the given places, as a reseed leaves them
// (at rest, empty lists before the search), then binned and searched.
inline void Place(ParticleSystem& system, const std::vector<Vec3>& positions) {
    testing::internal::CaptureStdout();
    system.Reseed(static_cast<int32_t>(positions.size()));
    testing::internal::GetCapturedStdout();
    for (size_t i = 0; i < positions.size(); ++i) {
        system.particles[i].position = positions[i];
        system.particles[i].neighbourCount = 0;
    }
    system.BinParticles();
    system.FindNeighbours();
}

// One stage for every particle, in index order; in pondsim-wide this runs the
// stages one after another over all particles, not as a step would.
#if PONDSIM_PARTICLE_BY_PARTICLE
inline void RunStage(ParticleSystem& system, void (ParticleSystem::*stage)(int32_t)) {
    for (int32_t i = 0; i < system.particleCount; ++i) (system.*stage)(i);
}
#else
inline void RunStage(ParticleSystem& system, void (ParticleSystem::*stage)()) {
    (system.*stage)();
}
#endif

inline void DensityAll(ParticleSystem& system) { RunStage(system, &ParticleSystem::ComputeDensity); }
inline void ForcesAll(ParticleSystem& system) { RunStage(system, &ParticleSystem::ComputeForces); }
inline void IntegrateAll(ParticleSystem& system) { RunStage(system, &ParticleSystem::Integrate); }

inline void Step(ParticleSystem& system) {
    NoStageProbe probe;
    StepSolver(system, probe);
}

inline std::vector<Particle> Snapshot(const ParticleSystem& system) {
    return std::vector<Particle>(system.particles, system.particles + system.particleCount);
}

inline std::vector<int32_t> ListOf(const Particle& p) {
    return std::vector<int32_t>(p.neighbours, p.neighbours + p.neighbourCount);
}

inline bool Finite(const Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// Keeps an over-large request refused whatever the machine's overcommit
// policy: 64 GiB of address space is far more than the tests use and far
// less than the 395 GB that INT32_MAX particles take.
// Under AddressSanitizer, whose shadow memory alone exceeds any such cap, the
// sanitizer preset caps single allocations instead (max_allocation_size_mb).
// GCC names that build with a macro, clang with a feature.
#if defined(__SANITIZE_ADDRESS__)
#define PONDSIM_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PONDSIM_ADDRESS_SANITIZER 1
#endif
#endif
struct AddressSpaceCap {
#if defined(__linux__) && !defined(PONDSIM_ADDRESS_SANITIZER)
    rlimit saved{};
    bool set = false;
    AddressSpaceCap() {
        const rlim_t cap = rlim_t{64} << 30;
        if (getrlimit(RLIMIT_AS, &saved) != 0 || (saved.rlim_cur != RLIM_INFINITY && saved.rlim_cur <= cap)) return;
        const rlimit capped{cap, saved.rlim_max};
        set = setrlimit(RLIMIT_AS, &capped) == 0;
    }
    ~AddressSpaceCap() {
        if (set) setrlimit(RLIMIT_AS, &saved);
    }
#else
    // Windows commits what it hands out, so the request is refused there
    // without a cap.
    AddressSpaceCap() {}
#endif
};
