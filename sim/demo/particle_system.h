#pragma once

#include <cstdint>
#include <type_traits>

#include "sim/demo/neighbour_grid.h"
#include "sim/demo/particle.h"
#include "sim/core/vec3.h"

constexpr int kGridCells = 216;

struct GridSize {
    int32_t x;
    int32_t y;
    int32_t z;
};

// Only pondsim-wide keeps the kernel coefficients; pondsim computes them per
// stage pass, so its system carries no such fields.
template <bool Stored>
struct KernelCoefficientFields {
    void ComputeKernelCoefficients() {}
};

template <>
struct KernelCoefficientFields<true> {
    float poly6Coef;
    float poly6GradCoef;
    float poly6LapCoef;
    float spikyGradCoef;
    float viscLapCoef;
    void ComputeKernelCoefficients();
};

// How FindNeighbours pairs the entries of a cell. Both give the same lists,
// bit for bit; the all-pairs scan is kept as the yardstick for the other.
enum class NeighbourSearch { Reference, Grid };

struct ParticleSystem : KernelCoefficientFields<SolverVariant::storedCoefficients> {
    Particle* particles;
    bool ready;
    int32_t particleCount;
    Vec3 boxMax;
    Vec3 boxMin;
    GridSize gridSize;
    GridCell cells[kGridCells];

    NeighbourSearch search = NeighbourSearch::Grid;
    // Scratch of the grid search, rebuilt by every search; the cells above
    // keep their own contents whichever search runs.
    NeighbourGrid neighbourGrid;

    ParticleSystem();
    // Runs only at process exit, with the scene: the last array lives as
    // long as the program.
    ~ParticleSystem() { delete[] particles; }
    ParticleSystem(const ParticleSystem&) = delete;
    ParticleSystem& operator=(const ParticleSystem&) = delete;

    void Reseed(int32_t count);
    void BinParticles();
    void FindNeighbours();

#if PONDSIM_PARTICLE_BY_PARTICLE
    void ComputeDensity(int32_t index);
    void ComputeForces(int32_t index);
    void Integrate(int32_t index);
#else
    void ComputeDensity();
    void ComputeForces();
    void Integrate();
#endif

    // Defined with the drawing code; needs a current OpenGL context.
    void Draw();

private:
    void ScanAllPairs(const GridCell& cell);
    void DensityOf(int32_t i, float poly6Coefficient);
    void ForcesOn(int32_t i, float spikyGradient, float viscosityLaplacian);
    void IntegrateOne(int32_t i);

    // One bit per list slot: set where the density pass found a neighbour
    // that the force pass cannot rule out by its distance alone. Written by
    // DensityOf(i) for the ForcesOn(i) that follows before anything moves,
    // which both schedules guarantee. Only a binned particle has a list.
    using SlotBits = std::conditional_t<(kNeighbourSlots > 32), uint64_t, uint32_t>;
    static_assert(kNeighbourSlots <= 8 * static_cast<int>(sizeof(SlotBits)));
    SlotBits forceCandidates[kCellCapacity];
};

// Where the scatter of a reseed draws its random integers: the runtime's
// rand(), as the programs use it. A driver or test may point it at another
// generator to reproduce the layouts of another runtime, or its own.
extern int (*scatterRandom)();

// Kernel coefficients, in the single-precision order the solver relies on.
float Poly6Coefficient();
float SpikyGradientCoefficient();
float ViscosityLaplacianCoefficient();

// Square-root estimate of the force stage: bit-pattern guess, two Newton steps.
float FastSqrt(float q);
