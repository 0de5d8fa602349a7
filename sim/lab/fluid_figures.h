#pragma once

#include "sim/lab/lab_solver.h"

// How the moving particles stand now: how far the fluid is compressed
// (density / rest density - 1 where above zero, mean and largest: at a free
// surface the density sum falls short of the rest density by the missing
// neighbours, which is no error of the fluid's) and their kinetic energy in
// joules. The window plots them; the headless driver
// reports them over the run.
struct FluidFigures {
    double meanDensityError = 0.0;
    double maxDensityError = 0.0;
    double kineticEnergy = 0.0;
};

FluidFigures MeasureFluid(const LabSolver& solver);
