#pragma once

#include <cmath>
#include <cstring>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "sim/core/lanes.h"
#include "sim/core/vec3.h"

// The per-pair and per-particle arithmetic of the solver, written once for
// both solvers. K is a block of constants read as k.name: the demo programs
// pass a block whose members are static constexpr, so every constant folds
// into the code as a literal would; the lab passes a block filled at run
// time. The order of operations is the demo's in either case, so a run-time
// block holding the demo's values gives the demo's bits.
//
// The members a block provides (units: positions in box units, which simScale
// turns into metres; seconds; kilograms):
//   simScale               metres per position unit
//   smoothingRadius        kernel support h, metres
//   smoothingRadiusSquared h^2
//   particleMass           mass of every particle
//   selfDensityTerm        h^6, a particle's own poly6 sum term
//   viscosity              viscosity coefficient of the force
//   pressureFactor         multiplies the pressure sum with the sign of
//                          the push: the demo's -0.5, the half of its
//                          symmetric term, gives half of a uniform gradient
//   accelLimit, accelLimitSquared   longest acceleration kept
//   wallThickness, wallEpsilon, wallStiffness, wallDamping   floor and ceiling springs
//   gravityDown            (0 - g) per axis, so that subtracting it leaves
//                          an axis without gravity bit for bit as it was
//   timeStep               seconds per step
//   fastDistance           whether distances take FastSqrt (the demo's estimate)
//   Pressure(density)      the equation of state

namespace sph {

// Square-root estimate of the force stage: bit-pattern guess, two Newton
// steps; the guard compares in double precision.
// (memcpy rather than std::bit_cast, which the web build's C++ library lacks.)
inline float FastSqrtEstimate(float q) {
    uint32_t bits;
    std::memcpy(&bits, &q, sizeof bits);
    bits = (bits + 0x3F800000u) >> 1;
    float s0;
    std::memcpy(&s0, &bits, sizeof s0);
    if (std::fabs(static_cast<double>(s0)) < 1e-5) {
        return 0.0f;
    }
    const float s1 = s0 - (s0 * s0 - q) / (s0 * 2.0f);
    return s1 - (s1 * s1 - q) / (s1 * 2.0f);
}

inline float Choose(bool keep, float a, float b) { return keep ? a : b; }
inline Floats Choose(Ints keep, Floats a, Floats b) {
    return reinterpret_cast<Floats>((keep & reinterpret_cast<Ints>(a)) | (~keep & reinterpret_cast<Ints>(b)));
}
inline bool Any(bool keep) { return keep; }
inline bool Any(Ints keep) { return LaneBits(keep) != 0; }
inline float Sqrt(float x) { return sqrtf(x); }
inline Floats Sqrt(Floats x) { return Floats{sqrtf(x[0]), sqrtf(x[1]), sqrtf(x[2]), sqrtf(x[3])}; }

template <class F>
F Splat(float x) {
    if constexpr (std::is_same_v<F, float>) {
        return x;
    } else {
        return F{x, x, x, x};
    }
}

// Poly6 sum term of a neighbour at squared distance q (position units), for a
// float or four lanes; `used` marks the lanes that count, and a lane beyond h
// or not used gives +0.
template <class K>
Floats DensityTerms(const K& k, Floats q, Ints used) {
    const Floats r2 = q * k.simScale * k.simScale;
    const Floats t = k.smoothingRadiusSquared - r2;
    return KeepLanes(used & (r2 < k.smoothingRadiusSquared), t * t * t);
}

template <class K>
float DensityTerm(const K& k, float q) {
    const float r2 = q * k.simScale * k.simScale;
    const float t = k.smoothingRadiusSquared - r2;
    return r2 < k.smoothingRadiusSquared ? t * t * t : 0.0f;
}

// Density from the summed terms; poly6 is the kernel coefficient.
template <class K>
float DensityFromSum(const K& k, float sum, float poly6) {
    return (sum + k.selfDensityTerm) * (poly6 * k.particleMass);
}

struct ForceSums {
    Vec3 pressure;
    Vec3 viscosity;
};

// One neighbour's share of the pressure and viscosity sums of particle i:
// d is i's position minus the neighbour's, q its squared length. Returns
// without adding when the pair is at or beyond h.
template <class K>
[[gnu::always_inline]] inline void AddForcePair(const K& k, ForceSums& s, float dx, float dy, float dz, float q,
                                                 float pi, const Vec3& vi, float pj, float densityj, const Vec3& vj) {
    float r;
    if (k.fastDistance) {
        r = FastSqrtEstimate(q) * k.simScale;
    } else {
        r = sqrtf(q) * k.simScale;
    }
    if (!(r < k.smoothingRadius)) return;
    // A neighbour not yet given a density (pondsim-wide's first step after
    // a reseed) would divide by zero; it is left out of both sums.
    if (!(densityj > 0.0f)) return;
    const float t = k.smoothingRadius - r;
    // Coincident particles have no direction to push along: only the
    // viscosity term, which needs no distance, counts for them.
    if (r > 0.0f) {
        const float push = ((pj + pi) * (t * t)) / (densityj * r);
        s.pressure.x += dx * push;
        s.pressure.y += dy * push;
        s.pressure.z += dz * push;
    }
    const float w = t / densityj;
    s.viscosity.x += (vj.x - vi.x) * w;
    s.viscosity.y += (vj.y - vi.y) * w;
    s.viscosity.z += (vj.z - vi.z) * w;
}

template <class K>
Vec3 AccelerationFromSums(const K& k, const ForceSums& s, float spikyGradient, float viscosityLaplacian,
                          float density) {
    const auto axis = [&](float p, float v) {
        return ((p * k.pressureFactor) * spikyGradient + (v * viscosityLaplacian) * k.viscosity) * k.particleMass /
               density;
    };
    return Vec3{axis(s.pressure.x, s.viscosity.x), axis(s.pressure.y, s.viscosity.y),
                axis(s.pressure.z, s.viscosity.z)};
}

template <class F>
struct Motion {
    F ax, ay, az;
    F vx, vy, vz;
    F px, py, pz;
};

// Moves p back onto [lo, hi] and turns v round, but only while the particle
// is outside and still moving away: one moving back in is left alone.
// max(lo, p) and min(hi, m) as std::max and std::min take them.
template <class F>
void Reflect(F& p, F& v, float lo, float hi) {
    const auto out = ((p > hi) & (v > 0.0f)) | ((p < lo) & (v < 0.0f));
    const F raised = Choose(lo < p, p, Splat<F>(lo));
    p = Choose(out, Choose(raised < hi, raised, Splat<F>(hi)), p);
    v = Choose(out, v * -1.0f, v);
}

// Acceleration limit, floor and ceiling springs, gravity, semi-implicit
// Euler and the side walls' reflection. `walls` false leaves the box open:
// no springs and no reflection.
template <class K, class F>
void Advance(const K& k, Motion<F>& m, const Vec3& boxMin, const Vec3& boxMax, bool walls = true) {
    const F lengthSquared = (m.ax * m.ax + m.ay * m.ay) + m.az * m.az;
    const auto over = lengthSquared > k.accelLimitSquared;
    // The square root only where some acceleration is over the limit.
    if (Any(over)) {
        const F s = k.accelLimit / Sqrt(lengthSquared);
        m.ax = Choose(over, s * m.ax, m.ax);
        m.ay = Choose(over, s * m.ay, m.ay);
        m.az = Choose(over, s * m.az, m.az);
    }

    if (walls) {
        const F floor = k.wallThickness - (m.py - boxMin.y) * k.simScale;
        m.ay = Choose(floor > k.wallEpsilon, (floor * k.wallStiffness - m.vy * k.wallDamping) + m.ay, m.ay);
        const F ceiling = k.wallThickness - (boxMax.y - m.py) * k.simScale;
        m.ay = Choose(ceiling > k.wallEpsilon, m.ay - (m.vy * k.wallDamping + ceiling * k.wallStiffness), m.ay);
    }
    if constexpr (K::kGravityAlongYOnly) {
        m.ay = m.ay - k.gravityDown.y;
    } else {
        m.ax = m.ax - k.gravityDown.x;
        m.ay = m.ay - k.gravityDown.y;
        m.az = m.az - k.gravityDown.z;
    }

    m.vx = m.ax * k.timeStep + m.vx;
    m.vy = m.ay * k.timeStep + m.vy;
    m.vz = m.az * k.timeStep + m.vz;
    m.px = (m.vx * k.timeStep) / k.simScale + m.px;
    m.py = (m.vy * k.timeStep) / k.simScale + m.py;
    m.pz = (m.vz * k.timeStep) / k.simScale + m.pz;

    if (walls) {
        Reflect(m.px, m.vx, boxMin.x, boxMax.x);
        Reflect(m.pz, m.vz, boxMin.z, boxMax.z);
        Reflect(m.py, m.vy, boxMin.y, boxMax.y);
    }
}

}  // namespace sph
