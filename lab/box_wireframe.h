#pragma once

#include "sim/lab/lab_parameters.h"

// The box the particles move in, as a thin wireframe (position units).
void DrawBoxWireframe(const LabParameters& parameters);
