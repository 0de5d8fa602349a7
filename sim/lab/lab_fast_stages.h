#pragma once

#include <cstdint>

#include "sim/lab/lab_parameters.h"

// The density and force stages of the lab solver without a neighbour cap,
// over particles stored in cell order: a particle's candidates are the runs
// of places its cells' rows cover, taken eight at a time straight from the
// field arrays, with no list in between. Each particle's sums are taken in
// one fixed order (row by row, eight lanes, the lanes added pairwise at the
// end), so the result depends on neither the thread count nor the build:
// the AVX2 build of these functions and the portable one give the same bits.
struct LabFastView {
    const LabConstants* constants;
    float simScale;
    float searchRadiusSquared;
    // Fields by place, each padded by kFastLanes slots past the last place.
    const float *x, *y, *z, *vx, *vy, *vz;
    const float *density, *pressure;
    // The grid: the places of cell c run from cellStart[c] to
    // cellStart[c + 1]; the first `placed` places lie in a cell, cellOf[p].
    const int32_t* cellStart;
    const int32_t* cellOf;
    int32_t placed;
    int32_t side[3];
};

constexpr int kFastLanes = 8;

// Density and pressure of the places [first, last).
void LabFastDensity(const LabFastView& v, int32_t first, int32_t last, float* density, float* pressure);
// Acceleration of the places [first, last), moving or not by `moving`.
void LabFastForces(const LabFastView& v, int32_t first, int32_t last, const uint8_t* moving, float* ax, float* ay,
                   float* az);

// Whether the processor runs the AVX2 build.
bool LabFastUsesAvx2();
