#pragma once

#include <cstdint>

#include "sim/core/vec3.h"

// What a headless run's outputs read from the fluid they follow, whichever
// solver holds it: the particles' fields in index order, the simulated time
// and a picture of it drawn into the current context. The demo's scene and
// the lab's solver each stand behind one.
struct RunSubject {
    virtual ~RunSubject() = default;
    virtual int32_t ParticleCount() const = 0;
    virtual Vec3 Position(int32_t i) const = 0;
    virtual Vec3 Velocity(int32_t i) const = 0;
    virtual Vec3 Acceleration(int32_t i) const = 0;
    virtual float Density(int32_t i) const = 0;
    virtual float Pressure(int32_t i) const = 0;
    virtual int32_t NeighbourCount(int32_t i) const = 0;
    // A wall particle: it stays where it was placed. The demo has none.
    virtual bool Wall(int32_t) const { return false; }
    // Seconds of simulated time at the given step of the run.
    virtual double SimulatedTime(long step) const = 0;
    // The frame a window would show, drawn and finished in the current context.
    virtual void Render() = 0;
};
