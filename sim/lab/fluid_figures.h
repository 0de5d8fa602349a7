#pragma once

#include "sim/lab/lab_solver.h"

// How the moving particles stand now: how far their densities are from the
// rest density (|density / rest density - 1|, mean and largest) and their
// kinetic energy in joules. The window plots them; the headless driver
// reports them over the run.
struct FluidFigures {
    double meanDensityError = 0.0;
    double maxDensityError = 0.0;
    double kineticEnergy = 0.0;
};

FluidFigures MeasureFluid(const LabSolver& solver);
