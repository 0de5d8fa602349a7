#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "sim/core/lanes.h"
#include "sim/demo/particle_system.h"
#include "sim/core/sph_kernels.h"

namespace {

constexpr float kSimScale = 0.04f;
constexpr float kSmoothingRadius = 0.03f;
constexpr float kSmoothingRadiusSquared = 9e-4f;
constexpr float kParticleMass = 0.010543f;
constexpr float kViscosity = 0.05f;
constexpr float kRestDensity = 0.001f;
// h^6 as the single-precision product 9e-4 * 9e-4 * 9e-4 gives it.
constexpr float kSelfDensityTerm = std::bit_cast<float>(0x304862D0u);
// Every finite q above 0.5625 (0.75 squared) but FLT_MAX gives FastSqrt(q) *
// 0.04 >= 0.03, as a run over all float patterns shows; FLT_MAX itself makes
// the estimate overflow to -inf and so passes. A pair in that open range is
// known to add nothing before the estimate's two divisions are paid.
constexpr float kBeyondSmoothingRadius = 0.5625f;

// The demo's constants as a block of the shared kernels: every member is a
// compile-time constant, so the kernels compile as if the literals were
// written in them.
struct DemoConstants {
    static constexpr float simScale = kSimScale;
    static constexpr float smoothingRadius = kSmoothingRadius;
    static constexpr float smoothingRadiusSquared = kSmoothingRadiusSquared;
    static constexpr float particleMass = kParticleMass;
    static constexpr float selfDensityTerm = kSelfDensityTerm;
    static constexpr float viscosity = kViscosity;
    static constexpr float pressureFactor = -0.5f;
    static constexpr float accelLimit = 200.0f;
    static constexpr float accelLimitSquared = 40000.0f;
    static constexpr float wallThickness = SolverVariant::wallThickness;
    static constexpr float wallEpsilon = 1e-6f;
    static constexpr float wallStiffness = 10000.0f;
    static constexpr float wallDamping = 256.0f;
    static constexpr bool kGravityAlongYOnly = true;
    static constexpr Vec3 gravityDown{0.0f, 9.8f, 0.0f};
    static constexpr float timeStep = 0.004f;
    static constexpr bool fastDistance = true;
    static constexpr float Pressure(float density) { return density - kRestDensity; }
};
constexpr DemoConstants kDemo;

using sph::Motion;

}  // namespace

float FastSqrt(float q) {
    return sph::FastSqrtEstimate(q);
}

namespace {

template <class Bits>
Bits FirstSlots(int32_t count) {
    return count >= 8 * static_cast<int32_t>(sizeof(Bits)) ? ~Bits{0} : (Bits{1} << count) - 1;
}

// Up to kLanes neighbours of particle i, from list place k on: their indices
// and which lanes count. Lanes past the list, and an entry that holds i
// itself, are marked off and point at i, so that every load stays in bounds.
struct NeighbourLanes {
    int32_t j[kLanes];
    Ints used;

    NeighbourLanes(const Particle& p, int32_t i, int32_t k) {
        for (int lane = 0; lane < kLanes; ++lane) {
            const bool listed = k + lane < p.neighbourCount;
            j[lane] = listed ? p.neighbours[k + lane] : i;
            used[lane] = listed && j[lane] != i ? -1 : 0;
        }
    }

    template <class Field>
    Floats Gather(const Particle* particles, Field field) const {
        return Floats{field(particles[j[0]]), field(particles[j[1]]), field(particles[j[2]]), field(particles[j[3]])};
    }
};

}  // namespace

// The kernel terms of four neighbours are computed side by side; they are
// added to the sum one by one in list order, so the sum is the scalar loop's
// to the last bit. A lane that does not count adds +0, which changes no sum
// here: every sum starts at +0 and, rounding to nearest, never becomes -0.
void ParticleSystem::DensityOf(int32_t i, float poly6Coefficient) {
    Particle& p = particles[i];
    float sum = 0.0f;
    SlotBits candidates = 0;
    for (int32_t k = 0; k < p.neighbourCount; k += kLanes) {
        const NeighbourLanes n(p, i, k);
        const Floats dx = p.position.x - n.Gather(particles, [](const Particle& q) { return q.position.x; });
        const Floats dy = p.position.y - n.Gather(particles, [](const Particle& q) { return q.position.y; });
        const Floats dz = p.position.z - n.Gather(particles, [](const Particle& q) { return q.position.z; });
        const Floats q = (dx * dx + dy * dy) + dz * dz;
        const Floats term = sph::DensityTerms(kDemo, q, n.used);
        for (int lane = 0; lane < kLanes; ++lane) sum += term[lane];
        const Ints beyond = (q > kBeyondSmoothingRadius) & (q < std::numeric_limits<float>::max());
        candidates |= static_cast<SlotBits>(LaneBits(n.used & ~beyond)) << k;
    }
    if (i < kCellCapacity) forceCandidates[i] = candidates;
    p.density = sph::DensityFromSum(kDemo, sum, poly6Coefficient);
    p.pressure = kDemo.Pressure(p.density);
}

void ParticleSystem::ForcesOn(int32_t i, float spikyGradient, float viscosityLaplacian) {
    Particle& p = particles[i];
    sph::ForceSums sums;
    // The density pass marked the slots worth visiting; the tests below
    // still decide, so the marks only need to leave nothing out.
    SlotBits candidates = i < kCellCapacity ? forceCandidates[i] : FirstSlots<SlotBits>(p.neighbourCount);
    for (; candidates != 0; candidates &= candidates - 1) {
        const int32_t j = p.neighbours[std::countr_zero(candidates)];
        if (j == i) continue;
        const Particle& n = particles[j];
        const float dx = p.position.x - n.position.x;
        const float dy = p.position.y - n.position.y;
        const float dz = p.position.z - n.position.z;
        const float q = (dx * dx + dy * dy) + dz * dz;
        if (q > kBeyondSmoothingRadius && q < std::numeric_limits<float>::max()) continue;
        sph::AddForcePair(kDemo, sums, dx, dy, dz, q, p.pressure, p.velocity, n.pressure, n.density, n.velocity);
    }
    p.acceleration = sph::AccelerationFromSums(kDemo, sums, spikyGradient, viscosityLaplacian, p.density);
}

void ParticleSystem::IntegrateOne(int32_t i) {
    Particle& p = particles[i];
    Motion<float> m{p.acceleration.x, p.acceleration.y, p.acceleration.z, p.velocity.x, p.velocity.y,
                    p.velocity.z,     p.position.x,     p.position.y,     p.position.z};
    sph::Advance(kDemo, m, boxMin, boxMax);
    p.acceleration = Vec3{m.ax, m.ay, m.az};
    p.velocity = Vec3{m.vx, m.vy, m.vz};
    p.position = Vec3{m.px, m.py, m.pz};
}

#if PONDSIM_PARTICLE_BY_PARTICLE

void ParticleSystem::ComputeDensity(int32_t index) {
    DensityOf(index, poly6Coef);
}

void ParticleSystem::ComputeForces(int32_t index) {
    ForcesOn(index, spikyGradCoef, viscLapCoef);
}

void ParticleSystem::Integrate(int32_t index) {
    IntegrateOne(index);
}

#else

void ParticleSystem::ComputeDensity() {
    if (particleCount <= 0) return;
    const float poly6 = Poly6Coefficient();
    for (int32_t i = 0; i < particleCount; ++i) DensityOf(i, poly6);
}

void ParticleSystem::ComputeForces() {
    if (particleCount < 1) return;
    const float spiky = SpikyGradientCoefficient();
    const float viscosity = ViscosityLaplacianCoefficient();
    for (int32_t i = 0; i < particleCount; ++i) ForcesOn(i, spiky, viscosity);
}

// Four particles at a time, the rest one by one: no particle reads another.
void ParticleSystem::Integrate() {
    int32_t i = 0;
    for (; i + kLanes <= particleCount; i += kLanes) {
        Particle* p = particles + i;
        const auto lanes = [p](auto field) { return Floats{field(p[0]), field(p[1]), field(p[2]), field(p[3])}; };
        Motion<Floats> m{lanes([](const Particle& q) { return q.acceleration.x; }),
                         lanes([](const Particle& q) { return q.acceleration.y; }),
                         lanes([](const Particle& q) { return q.acceleration.z; }),
                         lanes([](const Particle& q) { return q.velocity.x; }),
                         lanes([](const Particle& q) { return q.velocity.y; }),
                         lanes([](const Particle& q) { return q.velocity.z; }),
                         lanes([](const Particle& q) { return q.position.x; }),
                         lanes([](const Particle& q) { return q.position.y; }),
                         lanes([](const Particle& q) { return q.position.z; })};
        sph::Advance(kDemo, m, boxMin, boxMax);
        for (int lane = 0; lane < kLanes; ++lane) {
            p[lane].acceleration = Vec3{m.ax[lane], m.ay[lane], m.az[lane]};
            p[lane].velocity = Vec3{m.vx[lane], m.vy[lane], m.vz[lane]};
            p[lane].position = Vec3{m.px[lane], m.py[lane], m.pz[lane]};
        }
    }
    for (; i < particleCount; ++i) IntegrateOne(i);
}

#endif
