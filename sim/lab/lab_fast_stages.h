#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/lab/lab_parameters.h"

// The density and force stages of the lab solver without a neighbour cap,
// over particles stored in cell order: a particle's candidates are the runs
// of places its cells' rows cover, taken eight at a time straight from the
// field arrays, with no list in between, and loaded once for a few places
// next to each other in a column. Each particle's sums are taken in one
// fixed order (row by row, eight lanes, the lanes added pairwise at the
// end; the density and force sweeps' rows in pairs, each of a pair into its
// own eight lanes, added lane by lane before that), so the result depends
// on neither the thread count nor the build: the AVX-512, AVX2 and portable
// builds of these functions give the same bits.
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
    // The divergence-free solver's, for its sweeps over the lists, four
    // floats a place: the velocity (and 0), kept with the fields above;
    // the position and density, from its density sweep on.
    const float* packedVelocity;
    const float* packedPlace;
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
//
// The density sweep also lists each fluid place's partners within h, with
// the kernel's gradient, for the sweeps after it: the solves sweep every
// place a dozen times or more over positions that stay put, and a list
// spares them the search of the cells around (three candidates in four
// lie beyond h) and the kernel.
// A cache line of its own: each piece's list grows on whichever thread
// takes it.
struct alignas(64) LabPartners {
    // Place first + k of the piece: its fluid partners from start[2k] to
    // start[2k + 1], its walls from there to start[2k + 2]. Each run holds
    // a whole number of lanes, padded with the place itself at weight 0.
    std::vector<int32_t> start;
    // The runs' places and m_j grad W_ij (in metres, over the constants'
    // gradientUnit), one array an axis, in half precision (half_floats.h):
    // the solves' sweeps are bound by reading the lists, and at 16 bits a
    // pair's gradient is good to 0.05 %, within the solves' tolerance.
    // `size` of `capacity` slots in use. Held in plain arrays, as a vector
    // would fill every slot it grows by.
    std::unique_ptr<int32_t[]> place;
    std::unique_ptr<uint16_t[]> gradient[3];
    size_t size = 0, capacity = 0;

    // Room for `more` slots past size, keeping what is there.
    void Reserve(size_t more) {
        if (size + more <= capacity) return;
        const size_t grown = std::max(2 * capacity, size + more);
        std::unique_ptr<int32_t[]> places(new int32_t[grown]);
        std::copy(place.get(), place.get() + size, places.get());
        place.swap(places);
        for (std::unique_ptr<uint16_t[]>& axis : gradient) {
            std::unique_ptr<uint16_t[]> grownAxis(new uint16_t[grown]);
            std::copy(axis.get(), axis.get() + size, grownAxis.get());
            axis.swap(grownAxis);
        }
        capacity = grown;
    }
    size_t BytesUsed() const {
        return start.capacity() * sizeof(int32_t) + capacity * (sizeof(int32_t) + 3 * sizeof(uint16_t));
    }
};

struct LabDivergenceFree {
    // Density, and 1 / (|sum m grad W|^2 + sum over the fluid of |m grad W|^2):
    // how far a pressure moves the density, for the solves.
    float* density;
    float* factor;
    // Partners within h, walls included.
    float* partners;
};
// Each sweep takes one piece of places, [first, last), and that piece's list.
void LabFastDivergenceFreeDensity(const LabFastView& v, int32_t first, int32_t last, const LabDivergenceFree& out,
                                  LabPartners& list);
// The rate of density change, sum_j m_j (v_i - v_j) . grad W_ij.
void LabFastDensityRate(const LabFastView& v, const LabPartners& list, int32_t first, int32_t last, float* rate);
// v_i -= sum_j m_j (u_i + u_j) grad W_ij, where a wall's u is the fluid
// particle's own; into both the velocity fields and the packed ones.
void LabFastPressurePush(const LabFastView& v, const LabPartners& list, int32_t first, int32_t last, const float* u,
                         float* vx, float* vy, float* vz, float* packedVelocity);
// The accelerations apart from pressure and gravity: the physical
// viscosity (coefficient mu, pascal seconds; mu + wallMu between the fluid
// and the walls) and the XSPH smoothing (fraction xsph of the way to the
// mean velocity around, over one step dt).
void LabFastViscosity(const LabFastView& v, const LabPartners& list, int32_t first, int32_t last, float mu,
                      float wallMu, float xsph, float dt, float* ax, float* ay, float* az);
// The build of the stages the processor runs: "AVX-512", "AVX2" or
// "portable vectors".
const char* LabFastBuildName();
