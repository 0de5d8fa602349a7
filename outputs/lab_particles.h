#pragma once

#include "outputs/run_subject.h"
#include "sim/lab/lab_solver.h"

// A lab solver's particles as the outputs read them, for whatever holds the
// solver: the headless driver (a subject it steps) or the window (which
// draws its own frames). The solver keeps its own time, since its steps may
// be bounded.
template <class Base>
struct LabParticles : Base {
    virtual const LabSolver& Solver() const = 0;
    int32_t ParticleCount() const override { return Solver().count(); }
    Vec3 Position(int32_t i) const override { return Solver().position(i); }
    Vec3 Velocity(int32_t i) const override { return Solver().velocity(i); }
    Vec3 Acceleration(int32_t i) const override { return Solver().acceleration(i); }
    float Density(int32_t i) const override { return Solver().density(i); }
    float Pressure(int32_t i) const override { return Solver().pressure(i); }
    int32_t NeighbourCount(int32_t i) const override { return Solver().neighbourCount(i); }
    bool Wall(int32_t i) const override { return i >= Solver().movingCount(); }
    double SimulatedTime(long) const override { return Solver().time(); }
};
