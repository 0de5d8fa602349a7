#include "sim/neighbour_grid.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

using Floats = float __attribute__((vector_size(NeighbourGrid::kLanes * 4)));
using Ints = int32_t __attribute__((vector_size(NeighbourGrid::kLanes * 4)));
constexpr Ints kLaneNumbers = {0, 1, 2, 3};
static_assert(NeighbourGrid::kLanes == 4, "kLaneNumbers lists one number per lane");

template <class V, class T>
V LoadLanes(const T* from) {
    V v;
    std::memcpy(&v, from, sizeof v);
    return v;
}

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
    int32_t placed = 0;
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
            ++placed;
            low = Vec3{std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
            high = Vec3{std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
        }
    }
    sideX = sideY = sideZ = 0;
    if (placed == 0) return;

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
    for (int32_t k = placed; k < placed + kLanes; ++k) {
        sortedIndex[k] = 0;
        sortedX[k] = sortedY[k] = sortedZ[k] = 0.0f;
    }
}

// Collects the accepted partners of a above a from the 27 cells around a's
// cell (nine runs of three cells adjacent in x) and from the overflow list.
// Each run is tested kLanes candidates at a time; every lane's index is
// written and kept only when the lane passes, since whether a candidate is
// above a and near is a coin toss a branch would keep losing.
int32_t NeighbourGrid::Gather(const Particle* particles, int32_t a, int32_t cell) {
    const Vec3& pa = particles[a].position;
    const Floats ax = Floats{} + pa.x;
    const Floats ay = Floats{} + pa.y;
    const Floats az = Floats{} + pa.z;
    int32_t found = 0;
    for (int32_t dz = -1; dz <= 1; ++dz) {
        for (int32_t dy = -1; dy <= 1; ++dy) {
            const int32_t middle = cell + (dz * sideY + dy) * sideX;
            const int32_t end = cellStart[middle + 2];
            for (int32_t k = cellStart[middle - 1]; k < end; k += kLanes) {
                const Ints index = LoadLanes<Ints>(sortedIndex + k);
                const Ints near = WithinSearchRadius(ax, ay, az, LoadLanes<Floats>(sortedX + k),
                                                     LoadLanes<Floats>(sortedY + k), LoadLanes<Floats>(sortedZ + k));
                const Ints keep = near & (index > a) & (kLaneNumbers < end - k);
                for (int lane = 0; lane < kLanes; ++lane) {
                    accepted[found] = index[lane];
                    found -= keep[lane];
                }
            }
        }
    }
    for (int32_t k = 0; k < overflowCount; ++k) {
        const int32_t b = overflow[k];
        if (b > a && WithinSearchRadius(pa, particles[b].position)) accepted[found++] = b;
    }
    return found;
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
    for (int32_t a = 0; a + 1 < n; ++a) {
        if (cell.entries[a].neighbourCount >= kNeighbourSlots) continue;
        const int32_t room = kNeighbourSlots - particles[a].neighbourCount;
        if (room <= 0) continue;
        const int32_t home = cellOf[a];
        if (home == kNeverPaired) continue;
        if (home == kOverflow) {
            ScanLinear(particles, a, n);
            continue;
        }
        int32_t candidates = overflowCount;
        for (int32_t dz = -1; dz <= 1; ++dz) {
            for (int32_t dy = -1; dy <= 1; ++dy) {
                const int32_t middle = home + (dz * sideY + dy) * sideX;
                candidates += cellStart[middle + 2] - cellStart[middle - 1];
            }
        }
        // Where nearly everything is near (a dense clump, or the last few
        // indices), the plain scan is as cheap and stops once the list fills.
        if (candidates >= n - a - 1) {
            ScanLinear(particles, a, n);
            continue;
        }
        int32_t found = Gather(particles, a, home);
        if (found > room) {
            std::nth_element(accepted, accepted + room, accepted + found);
            found = room;
        }
        std::sort(accepted, accepted + found);
        for (int32_t k = 0; k < found; ++k) RecordPair(particles, a, accepted[k]);
    }
}
