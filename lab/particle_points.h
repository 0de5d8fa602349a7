#pragma once

#include "sim/lab_parameters.h"
#include "sim/lab_solver.h"

// The box the particles move in, as a thin wireframe (position units).
void DrawBoxWireframe(const LabParameters& parameters);
// The particles as the demo draws its own: points coloured by neighbours.
void DrawParticlePoints(const LabSolver& solver);
