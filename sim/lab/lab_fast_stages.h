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
    // Mass over the particle mass (1 for the fluid; a wall particle's own
    // volume's share), and 1 at the places of fixed (wall) particles.
    const float* share;
    const float* fixed;
};

constexpr int kFastLanes = 8;

// Density and pressure of the places [first, last).
void LabFastDensity(const LabFastView& v, int32_t first, int32_t last, float* density, float* pressure);
// Acceleration of the places [first, last), moving or not by `moving`.
void LabFastForces(const LabFastView& v, int32_t first, int32_t last, const uint8_t* moving, float* ax, float* ay,
                   float* az);

// The divergence-free solver's sweeps over the fluid places of [first,
// last) (the wall places get zeros), with the cubic spline kernel of
// support h (lab_kernels.h). Walls enter with their own mass, at rest, and
// give a fluid particle its own pressure back.
struct LabDivergenceFree {
    // Density, and 1 / (|sum m grad W|^2 + sum over the fluid of |m grad W|^2):
    // how far a pressure moves the density, for the solves.
    float* density;
    float* factor;
    // Partners within h, walls included.
    float* partners;
};
void LabFastDivergenceFreeDensity(const LabFastView& v, int32_t first, int32_t last, const LabDivergenceFree& out);
// The rate of density change, sum_j m_j (v_i - v_j) . grad W_ij.
void LabFastDensityRate(const LabFastView& v, int32_t first, int32_t last, float* rate);
// v_i -= sum_j m_j (u_i + u_j) grad W_ij, where a wall's u is the fluid
// particle's own.
void LabFastPressurePush(const LabFastView& v, int32_t first, int32_t last, const float* u, float* vx, float* vy,
                         float* vz);
// The accelerations apart from pressure and gravity: the physical
// viscosity (coefficient mu, pascal seconds) and the XSPH smoothing
// (fraction xsph of the way to the mean velocity around, over one step dt).
void LabFastViscosity(const LabFastView& v, int32_t first, int32_t last, float mu, float xsph, float dt, float* ax,
                      float* ay, float* az);
// Whether the processor runs the AVX2 build.
bool LabFastUsesAvx2();
