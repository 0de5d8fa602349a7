#include "sim/demo/neighbour_grid.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sim/core/lanes.h"

#if PONDSIM_WIDE_PAIR_TESTS
#include <immintrin.h>

#include <array>
#endif

namespace {

bool IsFinite(const Vec3& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

bool WithinReach(const Vec3& p, const Vec3& lo, const Vec3& hi) {
    return p.x >= lo.x && p.x <= hi.x && p.y >= lo.y && p.y <= hi.y && p.z >= lo.z && p.z <= hi.z;
}

}  // namespace

void NeighbourGrid::Build(const Particle* particles, int32_t n, const Vec3& boxMin, const Vec3& boxMax) {
    const Vec3 lo{boxMin.x - kReach, boxMin.y - kReach, boxMin.z - kReach};
    const Vec3 hi{boxMax.x + kReach, boxMax.y + kReach, boxMax.z + kReach};
    constexpr int32_t kPlaced = 0;
    Vec3 low{hi};
    Vec3 high{lo};
    placedCount = 0;
    overflowCount = 0;
    for (int32_t i = 0; i < n; ++i) {
        const Vec3& p = particles[i].position;
        if (!IsFinite(p)) {
            cellOf[i] = kNeverPaired;
        } else if (!WithinReach(p, lo, hi)) {
            cellOf[i] = kOverflow;
            overflow[overflowCount++] = i;
        } else {
            cellOf[i] = kPlaced;
            ++placedCount;
            low = Vec3{std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
            high = Vec3{std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
        }
    }
    sideX = sideY = sideZ = 0;
    if (placedCount == 0) return;

    // The grid starts at the lowest occupied coordinate; rounding is
    // monotonic, so the highest coordinate lands in the last inner cell.
    origin = low;
    sideX = CellCoordinate(high.x, origin.x) + 3;
    sideY = CellCoordinate(high.y, origin.y) + 3;
    sideZ = CellCoordinate(high.z, origin.z) + 3;
    if (sideX > kMaxSide || sideY > kMaxSide || sideZ > kMaxSide) {
        // Only a box far larger than this system's could get here; every
        // particle is then compared with every other, as the scan does.
        sideX = sideY = sideZ = 0;
        placedCount = 0;
        overflowCount = 0;
        for (int32_t i = 0; i < n; ++i) {
            if (cellOf[i] == kNeverPaired) continue;
            cellOf[i] = kOverflow;
            overflow[overflowCount++] = i;
        }
        return;
    }

    // Counting sort by cell. Counts go two slots up, so that after the
    // prefix sum cellStart[c + 1] is where cell c begins, and after placing
    // it has moved on to where cell c ends.
    const int32_t cells = sideX * sideY * sideZ;
    std::memset(cellStart, 0, sizeof(int32_t) * static_cast<size_t>(cells + 2));
    for (int32_t i = 0; i < n; ++i) {
        if (cellOf[i] != kPlaced) continue;
        const Vec3& p = particles[i].position;
        const int32_t x = CellCoordinate(p.x, origin.x) + 1;
        const int32_t y = CellCoordinate(p.y, origin.y) + 1;
        const int32_t z = CellCoordinate(p.z, origin.z) + 1;
        const int32_t cell = (z * sideY + y) * sideX + x;
        cellOf[i] = cell;
        ++cellStart[cell + 2];
    }
    for (int32_t c = 2; c < cells + 2; ++c) cellStart[c] += cellStart[c - 1];
    for (int32_t i = 0; i < n; ++i) {
        const int32_t cell = cellOf[i];
        if (cell < 0) continue;
        const int32_t slot = cellStart[cell + 1]++;
        const Vec3& p = particles[i].position;
        sortedIndex[slot] = i;
        sortedX[slot] = p.x;
        sortedY[slot] = p.y;
        sortedZ[slot] = p.z;
    }
    // Lanes read past the last slot are masked off, but must not be read
    // from memory nothing wrote.
    for (int32_t k = placedCount; k < placedCount + kWidestLanes; ++k) {
        sortedIndex[k] = 0;
        sortedX[k] = sortedY[k] = sortedZ[k] = 0.0f;
    }
}

namespace {

// Appends the pair of i and the index in each slot of [begin, end) that
// passes the test against i's position to the pair buffer, kLanes slots at a
// time. Every lane is written and kept only when it passed: whether a
// lane, or a whole group, keeps anything is a coin toss that a branch would
// keep losing. The test is symmetric: a - b is exactly -(b - a).
struct PairSink {
    int32_t* pairs;
    int32_t count;

    void TestRun(int32_t i, float x, float y, float z, const NeighbourGrid& grid, int32_t begin, int32_t end) {
        const Floats ax = Floats{} + x;
        const Floats ay = Floats{} + y;
        const Floats az = Floats{} + z;
        const Ints iv = Ints{} + i;
        for (int32_t k = begin; k < end; k += kLanes) {
            const Ints near = WithinSearchRadius(ax, ay, az, LoadLanes<Floats>(grid.sortedX + k),
                                                 LoadLanes<Floats>(grid.sortedY + k), LoadLanes<Floats>(grid.sortedZ + k));
            const int keep = LaneBits(near & (kLaneNumbers < end - k));
            const Ints b = LoadLanes<Ints>(grid.sortedIndex + k);
            const Ints below = b < iv;
            const Ints lo = (below & b) | (~below & iv);
            const Ints hi = (below & iv) | (~below & b);
            const Ints word = lo << NeighbourGrid::kIndexBits | hi;
            for (int lane = 0; lane < kLanes; ++lane) {
                pairs[count] = word[lane];
                count += (keep >> lane) & 1;
            }
        }
    }
};

// Each placed particle is tested against the cells of a forward half of its
// neighbourhood, so every pair of nearby cells is visited once: the rest of
// its own cell and the next cell in x, the three cells of the row above, and
// the nine cells of the layer in front. Rows of three cells adjacent in x are
// contiguous in the sorted arrays.
template <class Sink>
[[gnu::always_inline]] inline bool FindPairsInCells(NeighbourGrid& grid, Sink sink) {
    const int32_t row = grid.sideX;
    const int32_t layer = grid.sideX * grid.sideY;
    for (int32_t slot = 0; slot < grid.placedCount; ++slot) {
        // No particle can add more pairs than there are placed particles.
        if (sink.count > NeighbourGrid::kPairCapacity - grid.placedCount - NeighbourGrid::kWidestLanes) return false;
        const int32_t i = grid.sortedIndex[slot];
        const int32_t cell = grid.cellOf[i];
        const float x = grid.sortedX[slot];
        const float y = grid.sortedY[slot];
        const float z = grid.sortedZ[slot];
        const int32_t* const starts = grid.cellStart;
        sink.TestRun(i, x, y, z, grid, slot + 1, starts[cell + 2]);
        sink.TestRun(i, x, y, z, grid, starts[cell + row - 1], starts[cell + row + 2]);
        for (int32_t dy = -1; dy <= 1; ++dy) {
            const int32_t middle = cell + layer + dy * row;
            sink.TestRun(i, x, y, z, grid, starts[middle - 1], starts[middle + 2]);
        }
    }
    grid.pairCount = sink.count;
    return true;
}

#if PONDSIM_WIDE_PAIR_TESTS

// The same tests eight at a time, with the kept lanes packed together by a
// permutation instead of written one by one: the lane arithmetic is the
// scalar test's, so the pairs and their order are the narrow sink's.
struct WidePairSink {
    using Floats8 = float __attribute__((vector_size(32)));
    using Ints8 = int32_t __attribute__((vector_size(32)));

    int32_t* pairs;
    int32_t count;

    // By mask of kept lanes: the kept lane numbers packed three bits each.
    static constexpr auto kPacking = [] {
        std::array<uint32_t, 256> packing{};
        for (uint32_t mask = 0; mask < 256; ++mask) {
            uint32_t packed = 0;
            int place = 0;
            for (uint32_t lane = 0; lane < 8; ++lane) {
                if (mask & (1u << lane)) packed |= lane << (3 * place++);
            }
            packing[mask] = packed;
        }
        return packing;
    }();

    [[gnu::target("avx2")]] void TestRun(int32_t i, float x, float y, float z, const NeighbourGrid& grid,
                                         int32_t begin, int32_t end) {
        const Floats8 ax = Floats8{} + x;
        const Floats8 ay = Floats8{} + y;
        const Floats8 az = Floats8{} + z;
        const __m256i iv = _mm256_set1_epi32(i);
        const __m256i shifts = _mm256_setr_epi32(0, 3, 6, 9, 12, 15, 18, 21);
        for (int32_t k = begin; k < end; k += 8) {
            Floats8 bx, by, bz;
            std::memcpy(&bx, grid.sortedX + k, sizeof bx);
            std::memcpy(&by, grid.sortedY + k, sizeof by);
            std::memcpy(&bz, grid.sortedZ + k, sizeof bz);
            Ints8 within;
            TestSearchRadius(ax, ay, az, bx, by, bz, within);
            const int inside = (1 << std::min(end - k, 8)) - 1;
            const int keep = _mm256_movemask_ps(reinterpret_cast<__m256>(within)) & inside;
            const __m256i order = _mm256_and_si256(
                _mm256_srlv_epi32(_mm256_set1_epi32(static_cast<int>(kPacking[static_cast<size_t>(keep)])), shifts),
                _mm256_set1_epi32(7));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(grid.sortedIndex + k));
            const __m256i word =
                _mm256_or_si256(_mm256_slli_epi32(_mm256_min_epi32(b, iv), NeighbourGrid::kIndexBits), _mm256_max_epi32(b, iv));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(pairs + count), _mm256_permutevar8x32_epi32(word, order));
            count += __builtin_popcount(static_cast<unsigned>(keep));
        }
    }
};

[[gnu::target("avx2")]] bool FindPairsWide(NeighbourGrid& grid) {
    return FindPairsInCells(grid, WidePairSink{grid.pairs, grid.pairCount});
}

bool ProcessorHasWidePairTests() {
    return __builtin_cpu_supports("avx2");
}

#else

bool ProcessorHasWidePairTests() {
    return false;
}

#endif

}  // namespace

bool NeighbourGrid::FindGridPairs() {
#if PONDSIM_WIDE_PAIR_TESTS
    if (widePairTests) return FindPairsWide(*this);
#endif
    return FindPairsInCells(*this, PairSink{pairs, pairCount});
}

bool NeighbourGrid::WidePairTestsAvailable() {
    static const bool available = ProcessorHasWidePairTests();
    return available;
}

// An overflow particle is tested against every particle that can be paired,
// other overflow particles only above it, since they test the rest themselves.
bool NeighbourGrid::FindOverflowPairs(const Particle* particles, int32_t n) {
    for (int32_t k = 0; k < overflowCount; ++k) {
        if (pairCount > kPairCapacity - n) return false;
        const int32_t o = overflow[k];
        const Vec3& po = particles[o].position;
        for (int32_t b = 0; b < n; ++b) {
            const int32_t where = cellOf[b];
            if (where == kNeverPaired || (where == kOverflow && b <= o)) continue;
            if (!WithinSearchRadius(po, particles[b].position)) continue;
            pairs[pairCount++] = PairWord(std::min(o, b), std::max(o, b));
        }
    }
    return true;
}

// Two stable counting sorts of the pair words, by the higher index and then
// by the lower, each with the two-slot shift of the cells: afterwards a's
// higher partners are [higherStart[a], higherStart[a + 1]), ascending.
void NeighbourGrid::GroupPairs(int32_t n) {
    const size_t starts = sizeof(int32_t) * static_cast<size_t>(n + 2);
    std::memset(higherStart, 0, starts);
    for (int32_t k = 0; k < pairCount; ++k) ++higherStart[(pairs[k] & kHigherMask) + 2];
    for (int32_t b = 2; b < n + 2; ++b) higherStart[b] += higherStart[b - 1];
    for (int32_t k = 0; k < pairCount; ++k) pairsByHigher[higherStart[(pairs[k] & kHigherMask) + 1]++] = pairs[k];
    std::memset(higherStart, 0, starts);
    for (int32_t k = 0; k < pairCount; ++k) ++higherStart[(pairsByHigher[k] >> kIndexBits) + 2];
    for (int32_t a = 2; a < n + 2; ++a) higherStart[a] += higherStart[a - 1];
    for (int32_t k = 0; k < pairCount; ++k) {
        const int32_t word = pairsByHigher[k];
        higher[higherStart[(word >> kIndexBits) + 1]++] = word & kHigherMask;
    }
}

// The scan's own loop for one particle: every higher index in turn.
void NeighbourGrid::ScanLinear(Particle* particles, int32_t a, int32_t n) {
    const Vec3& pa = particles[a].position;
    for (int32_t b = a + 1; b < n; ++b) {
        if (!WithinSearchRadius(pa, particles[b].position)) continue;
        RecordPair(particles, a, b);
        if (particles[a].neighbourCount >= kNeighbourSlots) return;
    }
}

void NeighbourGrid::Scan(Particle* particles, const GridCell& cell, int32_t n, const Vec3& boxMin,
                         const Vec3& boxMax) {
    if (n < 2) return;
    Build(particles, n, boxMin, boxMax);
    pairCount = 0;
    pairsComplete = FindGridPairs() && FindOverflowPairs(particles, n);
    if (pairsComplete) GroupPairs(n);
    for (int32_t a = 0; a + 1 < n; ++a) {
        if (cell.entries[a].neighbourCount >= kNeighbourSlots) continue;
        const int32_t room = kNeighbourSlots - particles[a].neighbourCount;
        if (room <= 0) continue;
        if (!pairsComplete) {
            ScanLinear(particles, a, n);
            continue;
        }
        // Only the lowest `room` partners can make it into the list.
        const int32_t* const begin = higher + higherStart[a];
        const int32_t* const end = begin + std::min(room, higherStart[a + 1] - higherStart[a]);
        for (const int32_t* b = begin; b != end; ++b) RecordPair(particles, a, *b);
    }
}
