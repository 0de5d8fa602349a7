#pragma once

#include "sim/lab/lab_solver.h"

// What a dam break is measured by, in metres, as Koshizuka and Oka (1996)
// measured it. The column stands against the box's x = boxMin wall.
struct DamMeasure {
    // From the wall to the surge's leading edge on the floor: of the moving
    // particles within two spacings of the floor, the furthest that water
    // reaches without a gap of more than two spacings along x, plus half a
    // spacing (the particle stands for the water around it). Drops thrown or
    // sliding ahead of the surge are not its edge.
    double front = 0.0;
    // The water column at the wall: the highest moving particle within two
    // spacings of it, plus half a spacing.
    double height = 0.0;
};

DamMeasure MeasureDam(const LabSolver& solver);

// The experiment's time T = t sqrt(2 g / a) for a column a metres wide
// under gravity g (metres per second squared).
double DamTime(double seconds, double columnWidth, double gravity);
