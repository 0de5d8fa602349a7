#pragma once

#include <cstdint>

#include "sim/core/lanes.h"
#include "sim/demo/particle.h"
#include "sim/core/vec3.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define PONDSIM_WIDE_PAIR_TESTS 1
#else
#define PONDSIM_WIDE_PAIR_TESTS 0
#endif

// The pair test of the neighbour search, in the one order of operations every
// search must share: y first, then x, then z, scaled by 0.04 twice. F is a
// float or a vector of floats (one pair per lane, each lane the same
// single-precision arithmetic); `within` gets a bool or a mask of lanes. No
// vector is passed by value, so that the test inlines into code built for
// wider vectors than the rest of the program.
template <class F, class M>
[[gnu::always_inline]] inline void TestSearchRadius(const F& ax, const F& ay, const F& az, const F& bx, const F& by,
                                                    const F& bz, M& within) {
    const F dx = ax - bx;
    const F dy = ay - by;
    const F dz = az - bz;
    const F s = ((dy * dy + dx * dx) + dz * dz) * 0.04f * 0.04f;
    within = s < 0.0036f;
}

template <class F>
auto WithinSearchRadius(F ax, F ay, F az, F bx, F by, F bz) {
    decltype(ax < 0.0f) within;
    TestSearchRadius(ax, ay, az, bx, by, bz, within);
    return within;
}

inline bool WithinSearchRadius(const Vec3& a, const Vec3& b) {
    return WithinSearchRadius(a.x, a.y, a.z, b.x, b.y, b.z);
}

// An accepted pair always goes into a's list, into b's only while b has room.
inline void RecordPair(Particle* particles, int32_t a, int32_t b) {
    Particle& pa = particles[a];
    Particle& pb = particles[b];
    pa.neighbours[pa.neighbourCount] = b;
    ++pa.neighbourCount;
    if (pb.neighbourCount < kNeighbourSlots) {
        pb.neighbours[pb.neighbourCount] = a;
        ++pb.neighbourCount;
    }
}

// Pairs the particles of one grid cell the way the all-pairs scan does (each
// particle in ascending index order tests the higher indices in ascending
// order, stops when its list is full, and is skipped when its binned copy or
// its own list is already full), but tests only the pairs that a uniform grid
// of its own puts close together. A rejected test has no effect, so the lists
// come out identical as long as no accepted pair is missed:
// - grid cells are wider than the radius with a margin for rounding, so two
//   accepted partners never lie two cells apart;
// - a position with a NaN or infinite component makes every difference with
//   it NaN or infinite, so such a particle can never be accepted and is left
//   out;
// - a finite position too far outside the box for the grid goes to an
//   overflow list and is tested against every other particle.
// The accepted pairs are first collected in any order, then put in order of
// their higher index and grouped by their lower one, then recorded in
// ascending order of the lower index with the caps applied. All storage is fixed; a scene with more accepted pairs
// than the buffer holds is paired by the plain scan instead.
struct NeighbourGrid {
    // 1.5 would do in exact arithmetic; the extra 1.3% is far beyond any
    // rounding of the pair test or of the cell coordinates.
    static constexpr float kCellSize = 1.52f;
    static constexpr float kInverseCellSize = 1.0f / kCellSize;
    // How far outside the box a particle is still given a grid cell.
    static constexpr float kReach = 4.0f;
    // Cells per axis including the empty border cell on either side, which
    // lets every occupied cell look at its neighbours without a range check.
    static constexpr int kMaxSide = 32;
    static constexpr int kMaxCells = kMaxSide * kMaxSide * kMaxSide;
    // Values of cellOf for particles outside the grid.
    static constexpr int32_t kNeverPaired = -1;
    static constexpr int32_t kOverflow = -2;
    // The widest vector the pair tests read or write at a time. The sorted
    // arrays carry that many slots past the end, so that a run may be read
    // in whole vectors.
    static constexpr int kWidestLanes = 8;
    // Some ten times what a settled fluid of 4000 particles needs.
    static constexpr int kPairCapacity = 131072;

    // Pairs the particles 0 to n - 1 as the all-pairs scan of `cell` does,
    // reading test 1 from the copies in the cell.
    void Scan(Particle* particles, const GridCell& cell, int32_t n, const Vec3& boxMin, const Vec3& boxMax);

    int32_t sideX;
    int32_t sideY;
    int32_t sideZ;
    Vec3 origin;
    // By cell: [cellStart[c], cellStart[c + 1]) of the sorted arrays.
    int32_t cellStart[kMaxCells + 2];
    // By particle index: its cell, kNeverPaired or kOverflow.
    int32_t cellOf[kCellCapacity];
    // The placed particles sorted by cell, ascending index within a cell,
    // with copies of their positions.
    int32_t sortedIndex[kCellCapacity + kWidestLanes];
    float sortedX[kCellCapacity + kWidestLanes];
    float sortedY[kCellCapacity + kWidestLanes];
    float sortedZ[kCellCapacity + kWidestLanes];
    int32_t placedCount;
    // Finite positions beyond the grid's reach, in ascending index order.
    int32_t overflow[kCellCapacity];
    int32_t overflowCount;
    // An accepted pair is one word, the lower index in the bits above the
    // higher: sorting the words groups the pairs by their lower index, each
    // group in ascending order of the higher.
    static constexpr int kIndexBits = 12;
    static constexpr int32_t kHigherMask = (1 << kIndexBits) - 1;
    static_assert(kCellCapacity <= 1 << kIndexBits, "a particle index must fit its half of a pair word");
    static int32_t PairWord(int32_t lower, int32_t higher) { return lower << kIndexBits | higher; }
    // Accepted pairs in the order found.
    int32_t pairs[kPairCapacity];
    int32_t pairCount;
    // The same pairs in ascending order of the higher index.
    int32_t pairsByHigher[kPairCapacity];
    // By lower index a: its accepted higher partners, ascending, in
    // [higherStart[a], higherStart[a + 1]) of `higher`.
    int32_t higherStart[kCellCapacity + 2];
    int32_t higher[kPairCapacity];
    // False when the last scan found more pairs than the buffer holds and
    // paired by the plain scan.
    bool pairsComplete;
    // Whether the pair tests take eight pairs at a time (x86-64 processors
    // with AVX2) or four (every processor). Both find the same pairs in the
    // same order; a test may turn the wide ones off to check the narrow.
    bool widePairTests = WidePairTestsAvailable();
    static bool WidePairTestsAvailable();

private:
    void Build(const Particle* particles, int32_t n, const Vec3& boxMin, const Vec3& boxMax);
    int32_t CellCoordinate(float p, float o) const { return static_cast<int32_t>((p - o) * kInverseCellSize); }
    bool FindGridPairs();
    bool FindOverflowPairs(const Particle* particles, int32_t n);
    void GroupPairs(int32_t n);
    void ScanLinear(Particle* particles, int32_t a, int32_t n);
};
