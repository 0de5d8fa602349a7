#include "sim/lab/lab_neighbour_search.h"

#include <algorithm>
#include <cmath>

#include "sim/core/lanes.h"

namespace {

// Cells a little wider than half the search radius, so that rounding in the
// cell coordinates can never put two partners three cells apart: a particle
// looks two cells either way, a cube (2.5 radii wide) that holds 42 % fewer
// candidates than the 3-radius cube of cells one radius wide.
constexpr float kCellMargin = 1.01f;
constexpr int32_t kCellsPerRadius = LabNeighbourSearch::kReach;
// No axis of the grid gets more cells than this; particles beyond are
// clamped into the border cells, which keeps every partner in a
// neighbouring cell (clamping never moves two points further apart).
constexpr int32_t kMaxSide = 1024;
constexpr size_t kMaxCells = size_t{1} << 24;
// Cells per piece of the parallel prefix sum.
constexpr int32_t kCellChunk = 1 << 14;

int32_t CellCoordinate(float p, float origin, float inverse, int32_t side) {
    const float c = (p - origin) * inverse;
    const float top = static_cast<float>(side - 1);
    return static_cast<int32_t>(c < 0.0f ? 0.0f : (c > top ? top : c));
}

}  // namespace

void LabNeighbourSearch::Build(const LabParameters& p, const float* x, const float* y, const float* z,
                               int32_t count, const int32_t* ids, int32_t pairedIds, bool copyPositions,
                               LabParallel& parallel) {
    const float scale = p.simScale;
    cellSize_ = p.searchRadius / scale * kCellMargin / kCellsPerRadius;
    inverseCellSize_ = 1.0f / cellSize_;
    origin_[0] = p.boxMin.x - cellSize_;
    origin_[1] = p.boxMin.y - cellSize_;
    origin_[2] = p.boxMin.z - cellSize_;
    const float extent[3] = {p.boxMax.x - p.boxMin.x, p.boxMax.y - p.boxMin.y, p.boxMax.z - p.boxMin.z};
    size_t cells = 1;
    for (int a = 0; a < 3; ++a) {
        const float wanted = std::ceil(extent[a] * inverseCellSize_) + 2.0f;
        side_[a] = wanted > static_cast<float>(kMaxSide) ? kMaxSide : (wanted < 1.0f ? 1 : static_cast<int32_t>(wanted));
        cells *= static_cast<size_t>(side_[a]);
    }
    while (cells > kMaxCells) {
        for (int32_t& s : side_) s = std::max(1, s / 2);
        cells = static_cast<size_t>(side_[0]) * side_[1] * side_[2];
    }
    cells_ = static_cast<int32_t>(cells);
    count_ = count;
    const auto idOf = [&](int32_t source) { return ids != nullptr ? ids[source] : source; };

    cellOf_.resize(static_cast<size_t>(count));
    cellStart_.assign(cells + 1, 0);
    int32_t* const tally = cellStart_.data() + 1;
    parallel.ForEach(count, kPiece, [&](int32_t i) {
        // A position with a NaN or infinite component is never within the
        // radius of anything: it gets no cell.
        if (idOf(i) >= pairedIds || !std::isfinite(x[i]) || !std::isfinite(y[i]) || !std::isfinite(z[i])) {
            cellOf_[i] = -1;
            return;
        }
        const int32_t cx = CellCoordinate(x[i], origin_[0], inverseCellSize_, side_[0]);
        const int32_t cy = CellCoordinate(y[i], origin_[1], inverseCellSize_, side_[1]);
        const int32_t cz = CellCoordinate(z[i], origin_[2], inverseCellSize_, side_[2]);
        const int32_t cell = (cx * side_[1] + cy) * side_[2] + cz;
        cellOf_[i] = cell;
        // Integer counts come out the same whatever order the threads add in.
        __atomic_fetch_add(&tally[cell], 1, __ATOMIC_RELAXED);
    });

    // Prefix sums in chunks: each chunk's total, the chunks' offsets, then
    // each chunk's running sum from its offset.
    const int32_t chunks = (cells_ + kCellChunk - 1) / kCellChunk;
    std::vector<int32_t> offset(static_cast<size_t>(chunks) + 1, 0);
    parallel.ForEach(chunks, 1, [&](int32_t chunk) {
        const int32_t end = std::min(cells_, (chunk + 1) * kCellChunk);
        int32_t sum = 0;
        for (int32_t c = chunk * kCellChunk; c < end; ++c) sum += tally[c];
        offset[static_cast<size_t>(chunk) + 1] = sum;
    });
    for (int32_t chunk = 0; chunk < chunks; ++chunk) offset[chunk + 1] += offset[chunk];
    cursor_.resize(cells);
    parallel.ForEach(chunks, 1, [&](int32_t chunk) {
        const int32_t end = std::min(cells_, (chunk + 1) * kCellChunk);
        int32_t sum = offset[chunk];
        for (int32_t c = chunk * kCellChunk; c < end; ++c) {
            cursor_[c] = sum;
            sum += tally[c];
            tally[c] = sum;
        }
    });
    const int32_t placed = cellStart_[cells];

    // kLanes slots of padding, read by the last vector of a run and masked.
    sortedIndex_.resize(static_cast<size_t>(count) + kLanes);
    parallel.ForEach(count, kPiece, [&](int32_t i) {
        const int32_t cell = cellOf_[i];
        if (cell >= 0) sortedIndex_[__atomic_fetch_add(&cursor_[cell], 1, __ATOMIC_RELAXED)] = i;
    });
    // The threads filled each cell in any order; by id puts it in one.
    parallel.ForEach(chunks, 1, [&](int32_t chunk) {
        const int32_t end = std::min(cells_, (chunk + 1) * kCellChunk);
        for (int32_t c = chunk * kCellChunk; c < end; ++c) {
            int32_t* const first = &sortedIndex_[cellStart_[c]];
            int32_t* const last = &sortedIndex_[cellStart_[c + 1]];
            for (int32_t* s = first + 1; s < last; ++s) {
                const int32_t source = *s;
                const int32_t id = idOf(source);
                int32_t* t = s;
                for (; t > first && idOf(t[-1]) > id; --t) *t = t[-1];
                *t = source;
            }
        }
    });
    if (placed < count) {
        int32_t next = placed;
        for (int32_t i = 0; i < count; ++i) {
            if (cellOf_[i] < 0) sortedIndex_[next++] = i;
        }
        std::sort(sortedIndex_.begin() + placed, sortedIndex_.begin() + count,
                  [&](int32_t a, int32_t b) { return idOf(a) < idOf(b); });
    }
    if (!copyPositions) return;
    for (auto* v : {&sortedX_, &sortedY_, &sortedZ_}) v->resize(static_cast<size_t>(placed) + kLanes);
    parallel.ForEach(placed, kPiece, [&](int32_t s) {
        const int32_t i = sortedIndex_[s];
        sortedX_[s] = x[i];
        sortedY_[s] = y[i];
        sortedZ_[s] = z[i];
    });
}

void LabNeighbourSearch::FindHigherPairs(const LabParameters& parameters, const float* x, const float* y,
                                         const float* z, LabParallel& parallel) {
    const float scale = parameters.simScale;
    const float radiusSquared = LabConstants(parameters).searchRadiusSquared;
    const int32_t paired = count_;
    const int32_t blocks = (paired + kBlock - 1) / kBlock;
    if (blockLists_.size() < static_cast<size_t>(blocks)) blockLists_.resize(static_cast<size_t>(blocks));
    higherStart_.resize(static_cast<size_t>(paired));
    higherCount_.resize(static_cast<size_t>(paired));
    parallel.ForEach(blocks, 1, [&](int32_t block) {
        // The block's list grows by whole runs of candidates, so that each
        // test writes its candidate unconditionally and keeps it by moving
        // the end on: no branch on the outcome of the test.
        std::vector<int32_t>& list = blockLists_[block];
        int32_t used = 0;
        const int32_t end = std::min(paired, (block + 1) * kBlock);
        for (int32_t a = block * kBlock; a < end; ++a) {
            higherStart_[a] = used;
            const int32_t cell = cellOf_[a];
            if (cell < 0) {
                higherCount_[a] = 0;
                continue;
            }
            const int32_t cz = cell % side_[2];
            const int32_t cy = (cell / side_[2]) % side_[1];
            const int32_t cx = cell / (side_[2] * side_[1]);
            const float ax = x[a];
            const float ay = y[a];
            const float az = z[a];
            constexpr int32_t r = kCellsPerRadius;
            for (int32_t gx = std::max(0, cx - r); gx <= std::min(side_[0] - 1, cx + r); ++gx) {
                for (int32_t gy = std::max(0, cy - r); gy <= std::min(side_[1] - 1, cy + r); ++gy) {
                    // The cells along z are one run of the sorted arrays.
                    const int32_t row = (gx * side_[1] + gy) * side_[2];
                    const int32_t from = cellStart_[row + std::max(0, cz - r)];
                    const int32_t to = cellStart_[row + std::min(side_[2] - 1, cz + r) + 1];
                    if (static_cast<size_t>(used + (to - from)) > list.size()) {
                        list.resize(std::max(list.size() * 2, static_cast<size_t>(used + (to - from)) + 1024));
                    }
                    int32_t* out = list.data();
                    // Four candidates at a time; the sorted arrays carry
                    // padding past their end, and lanes past `to` are
                    // masked off.
                    for (int32_t s = from; s < to; s += kLanes) {
                        const Ints b = LoadLanes<Ints>(&sortedIndex_[s]);
                        const Floats dx = ax - LoadLanes<Floats>(&sortedX_[s]);
                        const Floats dy = ay - LoadLanes<Floats>(&sortedY_[s]);
                        const Floats dz = az - LoadLanes<Floats>(&sortedZ_[s]);
                        // The demo's pair test: y first, scaled twice.
                        const Floats d2 = ((dy * dy + dx * dx) + dz * dz) * scale * scale;
                        const Ints keep = (d2 < radiusSquared) & (b > a) & (kLaneNumbers < to - s);
                        for (int bits = LaneBits(keep); bits != 0; bits &= bits - 1) {
                            out[used++] = b[__builtin_ctz(static_cast<unsigned>(bits))];
                        }
                    }
                }
            }
            higherCount_[a] = used - higherStart_[a];
            std::sort(list.begin() + higherStart_[a], list.begin() + used);
        }
    });
}

template <class Fn>
void LabNeighbourSearch::ForEachPartner(const LabParameters& parameters, int32_t source, float x, float y, float z,
                                        Fn fn) const {
    const int32_t cell = source < count_ ? cellOf_[source] : -1;
    if (cell < 0) return;
    const float scale = parameters.simScale;
    const float radiusSquared = LabConstants(parameters).searchRadiusSquared;
    constexpr int32_t r = kCellsPerRadius;
    const int32_t cz = cell % side_[2];
    const int32_t cy = (cell / side_[2]) % side_[1];
    const int32_t cx = cell / (side_[2] * side_[1]);
    const int32_t zBottom = std::max(0, cz - r);
    const int32_t zTop = std::min(side_[2] - 1, cz + r);
    for (int32_t gx = std::max(0, cx - r); gx <= std::min(side_[0] - 1, cx + r); ++gx) {
        for (int32_t gy = std::max(0, cy - r); gy <= std::min(side_[1] - 1, cy + r); ++gy) {
            // The cells along z are one run of the sorted arrays.
            const int32_t row = (gx * side_[1] + gy) * side_[2];
            const int32_t to = cellStart_[row + zTop + 1];
            for (int32_t s = cellStart_[row + zBottom]; s < to; s += kLanes) {
                const Floats dx = x - LoadLanes<Floats>(&sortedX_[s]);
                const Floats dy = y - LoadLanes<Floats>(&sortedY_[s]);
                const Floats dz = z - LoadLanes<Floats>(&sortedZ_[s]);
                // The demo's pair test: y first, scaled twice; the same
                // from either partner, as squares do not see the sign.
                const Floats d2 = ((dy * dy + dx * dx) + dz * dz) * scale * scale;
                const Ints keep = (d2 < radiusSquared) & (kLaneNumbers < to - s) &
                                  (LoadLanes<Ints>(&sortedIndex_[s]) != source);
                for (int bits = LaneBits(keep); bits != 0; bits &= bits - 1) {
                    fn(sortedIndex_[s + __builtin_ctz(static_cast<unsigned>(bits))]);
                }
            }
        }
    }
}

int32_t LabNeighbourSearch::Partners(const LabParameters& p, int32_t source, float x, float y, float z,
                                     std::vector<int32_t>& out) const {
    out.clear();
    ForEachPartner(p, source, x, y, z, [&](int32_t b) { out.push_back(b); });
    return static_cast<int32_t>(out.size());
}

int32_t LabNeighbourSearch::CountPartners(const LabParameters& p, int32_t source, float x, float y, float z) const {
    int32_t found = 0;
    ForEachPartner(p, source, x, y, z, [&](int32_t) { ++found; });
    return found;
}

size_t LabNeighbourSearch::BytesUsed() const {
    size_t bytes = 0;
    for (const auto* v : {&sortedX_, &sortedY_, &sortedZ_}) bytes += v->capacity() * sizeof(float);
    for (const auto* v : {&cellOf_, &cellStart_, &cursor_, &sortedIndex_, &higherStart_, &higherCount_}) {
        bytes += v->capacity() * sizeof(int32_t);
    }
    for (const auto& list : blockLists_) bytes += list.capacity() * sizeof(int32_t);
    return bytes;
}
