#pragma once

#include <cstdint>
#include <type_traits>

#include "sim/vec3.h"
#include "solver_variant.h"

constexpr int kNeighbourSlots = SolverVariant::neighbourSlots;
constexpr int kCellCapacity = 4000;
constexpr int kGridCells = 216;

struct Particle {
    Vec3 position;
    Vec3 velocity;
    Vec3 acceleration;
    float pressure;
    float density;
    float reserved1;
    int32_t neighbourCount;
    int32_t neighbours[kNeighbourSlots];
    uint32_t reserved2;
};

static_assert(sizeof(Particle) == (SolverVariant::neighbourSlots == 32 ? 46 : 78) * 4,
              "a particle record is 46 words with 32 slots, 78 with 64");
static_assert(std::is_trivially_copyable_v<Particle>);

struct GridCell {
    // The entries are left unconstructed: the scene lives in zero-filled
    // static storage, and an entry is only ever read after binning wrote it.
    // Constructing 864000 records would make the whole grid resident.
    GridCell() {}
    union {
        Particle entries[kCellCapacity];
    };
    int32_t count;
};

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

struct ParticleSystem : KernelCoefficientFields<SolverVariant::storedCoefficients> {
    Particle* particles;
    bool ready;
    int32_t particleCount;
    Vec3 boxMax;
    Vec3 boxMin;
    GridSize gridSize;
    GridCell cells[kGridCells];

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
    void DensityOf(int32_t i, float poly6Coefficient);
    void ForcesOn(int32_t i, float spikyGradient, float viscosityLaplacian);
    void IntegrateOne(int32_t i);
};

// Kernel coefficients, in the single-precision order the solver relies on.
float Poly6Coefficient();
float SpikyGradientCoefficient();
float ViscosityLaplacianCoefficient();

// Square-root estimate of the force stage: bit-pattern guess, two Newton steps.
float FastSqrt(float q);
