#include "sim/lab_solver.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sim/fnv_hash.h"
#include "sim/lanes.h"
#include "sim/sph_kernels.h"

#if defined(PONDSIM_LAB_OPENMP)
#include <omp.h>
#endif

namespace {

// Cells a little wider than half the search radius, so that rounding in the
// cell coordinates can never put two partners three cells apart: a particle
// looks two cells either way, a cube (2.5 radii wide) that holds 42 % fewer
// candidates than the 3-radius cube of cells one radius wide.
constexpr float kCellMargin = 1.01f;
constexpr int32_t kCellsPerRadius = 2;
// No axis of the grid gets more cells than this; particles beyond are
// clamped into the border cells, which keeps every partner in a
// neighbouring cell (clamping never moves two points further apart).
constexpr int32_t kMaxSide = 1024;
constexpr size_t kMaxCells = size_t{1} << 24;

int32_t CellCoordinate(float p, float origin, float inverse, int32_t side) {
    const float c = (p - origin) * inverse;
    const float top = static_cast<float>(side - 1);
    return static_cast<int32_t>(c < 0.0f ? 0.0f : (c > top ? top : c));
}

}  // namespace

// Runs fn(i) for every i in [0, n), in fixed pieces shared out over the
// threads. Which thread takes a piece changes nothing: each i writes only
// its own particle's data.
template <class Fn>
void LabSolver::ForEach(int32_t n, int32_t grain, Fn fn) {
#if defined(PONDSIM_LAB_OPENMP)
    (void)grain;
#pragma omp parallel for schedule(static) num_threads(threads_)
    for (int32_t i = 0; i < n; ++i) fn(i);
#else
    pool_->For(0, n, grain, [&](int32_t first, int32_t last) {
        for (int32_t i = first; i < last; ++i) fn(i);
    });
#endif
}

LabSolver::~LabSolver() = default;

LabSolver::LabSolver(const LabParameters& parameters) : parameters_(parameters), constants_(parameters) {
    SetThreads(0);
}

void LabSolver::SetParameters(const LabParameters& parameters) {
    parameters_ = parameters;
    constants_ = LabConstants(parameters);
}

void LabSolver::SetThreads(int threads) {
#if defined(PONDSIM_LAB_OPENMP)
    threads_ = threads > 0 ? threads : omp_get_num_procs();
#else
    pool_ = std::make_unique<WorkerPool>(threads);
    threads_ = pool_->threads();
#endif
}

void LabSolver::Reset(const std::vector<Vec3>& moving, const std::vector<Vec3>& fixed) {
    std::vector<Vec3> positions = moving;
    positions.insert(positions.end(), fixed.begin(), fixed.end());
    moving_ = static_cast<int32_t>(moving.size());
    const size_t n = positions.size();
    for (auto* v : {&x_, &y_, &z_, &vx_, &vy_, &vz_, &ax_, &ay_, &az_, &density_, &pressure_}) v->assign(n, 0.0f);
    for (size_t i = 0; i < n; ++i) {
        x_[i] = positions[i].x;
        y_[i] = positions[i].y;
        z_[i] = positions[i].z;
    }
    listCount_.assign(n, 0);
    listStart_.assign(n, 0);
    pairCount_.assign(n, 0);
    time_ = 0.0;
    steps_ = 0;
    FindNeighbours();
}

void LabSolver::SetVelocity(int32_t i, const Vec3& v) {
    vx_[i] = v.x;
    vy_[i] = v.y;
    vz_[i] = v.z;
}

void LabSolver::Save(Snapshot& out) const {
    const std::vector<float>* fields[Snapshot::kFields] = {&x_, &y_, &z_, &vx_, &vy_, &vz_, &ax_, &ay_, &az_,
                                                           &density_, &pressure_};
    for (int f = 0; f < Snapshot::kFields; ++f) out.fields[f] = *fields[f];
    out.moving = moving_;
    out.time = time_;
    out.steps = steps_;
    out.counts = listCount_;
    out.slots.clear();
    if (parameters_.neighbourCap > 0) {
        out.slots = slots_;
        return;
    }
    for (int32_t i = 0; i < count(); ++i) out.slots.insert(out.slots.end(), neighbours(i), neighbours(i) + listCount_[i]);
}

void LabSolver::Load(const Snapshot& in) {
    const size_t n = in.fields[0].size();
    std::vector<Vec3> moving(static_cast<size_t>(in.moving));
    std::vector<Vec3> fixed(n - moving.size());
    for (size_t i = 0; i < n; ++i) {
        const Vec3 p{in.fields[0][i], in.fields[1][i], in.fields[2][i]};
        (i < moving.size() ? moving[i] : fixed[i - moving.size()]) = p;
    }
    // The lists of the saved positions are built as a reset builds them;
    // what the search cannot know (the old counts, the capped lists) is put
    // back over them.
    Reset(moving, fixed);
    std::vector<float>* fields[Snapshot::kFields] = {&x_, &y_, &z_, &vx_, &vy_, &vz_, &ax_, &ay_, &az_,
                                                     &density_, &pressure_};
    for (int f = 0; f < Snapshot::kFields; ++f) *fields[f] = in.fields[f];
    listCount_ = in.counts;
    if (parameters_.neighbourCap > 0) {
        slots_ = in.slots;
    } else {
        // The lists of the step that made the snapshot, which were found
        // from the positions at its start, not from these.
        lists_ = in.slots;
        int32_t next = 0;
        for (size_t i = 0; i < n; ++i) {
            listStart_[i] = next;
            next += in.counts[i];
        }
    }
    time_ = in.time;
    steps_ = in.steps;
}

void LabSolver::Step() {
    FindNeighbours();
    ComputeDensity();
    ComputeForces();
    const float dt = ChooseTimeStep();
    Integrate(dt);
    lastTimeStep_ = dt;
    time_ += dt;
    ++steps_;
}

// Counting sort of the particles below `paired` by cell; ascending index
// within a cell.
void LabSolver::BuildGrid(int32_t paired) {
    const float scale = parameters_.simScale;
    cellSize_ = parameters_.searchRadius / scale * kCellMargin / kCellsPerRadius;
    inverseCellSize_ = 1.0f / cellSize_;
    gridOrigin_ = Vec3{parameters_.boxMin.x - cellSize_, parameters_.boxMin.y - cellSize_,
                       parameters_.boxMin.z - cellSize_};
    const float extent[3] = {parameters_.boxMax.x - parameters_.boxMin.x, parameters_.boxMax.y - parameters_.boxMin.y,
                             parameters_.boxMax.z - parameters_.boxMin.z};
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

    cellOf_.resize(static_cast<size_t>(paired));
    ForEach(paired, kPiece, [&](int32_t i) {
        // A position with a NaN or infinite component is never within the
        // radius of anything: it gets no cell.
        if (!std::isfinite(x_[i]) || !std::isfinite(y_[i]) || !std::isfinite(z_[i])) {
            cellOf_[i] = -1;
            return;
        }
        const int32_t cx = CellCoordinate(x_[i], gridOrigin_.x, inverseCellSize_, side_[0]);
        const int32_t cy = CellCoordinate(y_[i], gridOrigin_.y, inverseCellSize_, side_[1]);
        const int32_t cz = CellCoordinate(z_[i], gridOrigin_.z, inverseCellSize_, side_[2]);
        cellOf_[i] = (cx * side_[1] + cy) * side_[2] + cz;
    });
    cellStart_.assign(cells + 1, 0);
    for (int32_t i = 0; i < paired; ++i) {
        if (cellOf_[i] >= 0) ++cellStart_[static_cast<size_t>(cellOf_[i]) + 1];
    }
    for (size_t c = 0; c < cells; ++c) cellStart_[c + 1] += cellStart_[c];
    const int32_t placed = cellStart_[cells];
    // kLanes slots of padding, read by the last vector of a run and masked.
    sortedIndex_.resize(static_cast<size_t>(placed + kLanes));
    sortedX_.resize(static_cast<size_t>(placed + kLanes));
    sortedY_.resize(static_cast<size_t>(placed + kLanes));
    sortedZ_.resize(static_cast<size_t>(placed + kLanes));
    // cellStart_[c] runs ahead while cell c fills and ends at c + 1's start;
    // shifted back afterwards.
    for (int32_t i = 0; i < paired; ++i) {
        if (cellOf_[i] < 0) continue;
        const int32_t s = cellStart_[static_cast<size_t>(cellOf_[i])]++;
        sortedIndex_[s] = i;
        sortedX_[s] = x_[i];
        sortedY_[s] = y_[i];
        sortedZ_[s] = z_[i];
    }
    for (size_t c = cells; c > 0; --c) cellStart_[c] = cellStart_[c - 1];
    cellStart_[0] = 0;
}

// For every particle a below `paired`: the partners within the search
// radius of higher index, in ascending order. They go to a's block list,
// from listStart_[a], pairCount_[a] long.
void LabSolver::GatherHigherPairs(int32_t paired) {
    const float scale = parameters_.simScale;
    const float radiusSquared = constants_.searchRadiusSquared;
    const int32_t blocks = (paired + kBlock - 1) / kBlock;
    // Every particle's block exists, so that neighbours(i) points into one
    // even for a particle left unpaired.
    const size_t allBlocks = static_cast<size_t>((count() + kBlock - 1) / kBlock);
    if (blockLists_.size() < allBlocks) blockLists_.resize(allBlocks);
    ForEach(blocks, 1, [&](int32_t block) {
        // The block's list grows by whole runs of candidates, so that each
        // test writes its candidate unconditionally and keeps it by moving
        // the end on: no branch on the outcome of the test.
        std::vector<int32_t>& list = blockLists_[block];
        int32_t used = 0;
        const int32_t end = std::min(paired, (block + 1) * kBlock);
        for (int32_t a = block * kBlock; a < end; ++a) {
            listStart_[a] = used;
            const int32_t cell = cellOf_[a];
            if (cell < 0) {
                pairCount_[a] = 0;
                continue;
            }
            const int32_t cz = cell % side_[2];
            const int32_t cy = (cell / side_[2]) % side_[1];
            const int32_t cx = cell / (side_[2] * side_[1]);
            const float ax = x_[a];
            const float ay = y_[a];
            const float az = z_[a];
            constexpr int32_t r = kCellsPerRadius;
            for (int32_t x = std::max(0, cx - r); x <= std::min(side_[0] - 1, cx + r); ++x) {
                for (int32_t y = std::max(0, cy - r); y <= std::min(side_[1] - 1, cy + r); ++y) {
                    // The cells along z are one run of the sorted arrays.
                    const int32_t row = (x * side_[1] + y) * side_[2];
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
            pairCount_[a] = used - listStart_[a];
            std::sort(list.begin() + listStart_[a], list.begin() + used);
        }
    });
}

// Without a cap: every particle's partners within the search radius in
// their sorted order (by cell, then index), the order a scan of its whole
// stencil of cells meets them in. Each pair is tested once, from the
// partner that comes first in that order, over the half of the stencil
// that comes after it; both partners' lists then take the pair, in order.
void LabSolver::GatherAllPairs() {
    const float scale = parameters_.simScale;
    const float radiusSquared = constants_.searchRadiusSquared;
    const int32_t placed = cellStart_.back();
    const int32_t blocks = (placed + kBlock - 1) / kBlock;
    if (forward_.size() < static_cast<size_t>(blocks)) forward_.resize(static_cast<size_t>(blocks));
    forwardStart_.resize(static_cast<size_t>(placed));
    forwardCount_.resize(static_cast<size_t>(placed));
    cursor_.resize(static_cast<size_t>(placed));
    constexpr int32_t r = kCellsPerRadius;
    ForEach(blocks, 1, [&](int32_t block) {
        std::vector<int32_t>& list = forward_[static_cast<size_t>(block)];
        int32_t used = 0;
        const int32_t end = std::min(placed, (block + 1) * kBlock);
        for (int32_t p = block * kBlock; p < end; ++p) {
            forwardStart_[p] = used;
            const int32_t cell = cellOf_[sortedIndex_[p]];
            const int32_t cz = cell % side_[2];
            const int32_t cy = (cell / side_[2]) % side_[1];
            const int32_t cx = cell / (side_[2] * side_[1]);
            const float ax = sortedX_[p];
            const float ay = sortedY_[p];
            const float az = sortedZ_[p];
            // Candidates four at a time, as sorted places; the sorted arrays
            // carry padding past their end, and lanes past `to` are masked
            // off. Partners land in ascending order, unconditionally
            // written, kept by moving the end on.
            const auto scan = [&](int32_t from, int32_t to) {
                if (static_cast<size_t>(used + (to - from) + kLanes) > list.size()) {
                    list.resize(std::max(list.size() * 2, static_cast<size_t>(used + (to - from)) + 1024));
                }
                int32_t* out = list.data();
                for (int32_t s = from; s < to; s += kLanes) {
                    const Floats dx = ax - LoadLanes<Floats>(&sortedX_[s]);
                    const Floats dy = ay - LoadLanes<Floats>(&sortedY_[s]);
                    const Floats dz = az - LoadLanes<Floats>(&sortedZ_[s]);
                    // The demo's pair test: y first, scaled twice; the same
                    // from either partner, as squares do not see the sign.
                    const Floats d2 = ((dy * dy + dx * dx) + dz * dz) * scale * scale;
                    const Ints keep = (d2 < radiusSquared) & (kLaneNumbers < to - s);
                    for (int bits = LaneBits(keep); bits != 0; bits &= bits - 1) {
                        out[used++] = s + __builtin_ctz(static_cast<unsigned>(bits));
                    }
                }
            };
            const int32_t zBottom = std::max(0, cz - r);
            const int32_t zTop = std::min(side_[2] - 1, cz + r);
            // The rest of its own row: later ones in its cell, the cells above.
            scan(p + 1, cellStart_[(cx * side_[1] + cy) * side_[2] + zTop + 1]);
            for (int32_t x = cx; x <= std::min(side_[0] - 1, cx + r); ++x) {
                for (int32_t y = x == cx ? cy + 1 : std::max(0, cy - r); y <= std::min(side_[1] - 1, cy + r); ++y) {
                    const int32_t row = (x * side_[1] + y) * side_[2];
                    scan(cellStart_[row + zBottom], cellStart_[row + zTop + 1]);
                }
            }
            forwardCount_[p] = used - forwardStart_[p];
        }
    });

    // Each list takes its earlier partners first (in their order), then
    // its later ones. A range of sorted places is filled by one thread,
    // which reads the pairs of every place whose stencil reaches the range.
    const int32_t rangeSize = std::max(4 * kBlock, placed / (4 * threads_) + 1);
    const int32_t ranges = (placed + rangeSize - 1) / rangeSize;
    const int32_t reachCells = (r * side_[1] + r) * side_[2] + r;
    // fn(q, p) for every pair of places q < p with p in the range, in
    // ascending q; own(q) once every q in the range has had all its earlier
    // partners.
    const auto forEachEarlierPair = [&](int32_t range, auto fn, auto own) {
        const int32_t first = range * rangeSize;
        const int32_t last = std::min(placed, first + rangeSize);
        const int32_t lowCell = std::max(0, cellOf_[sortedIndex_[first]] - reachCells);
        for (int32_t q = cellStart_[static_cast<size_t>(lowCell)]; q < first; ++q) {
            const int32_t* later = forward_[static_cast<size_t>(q / kBlock)].data() + forwardStart_[q];
            for (int32_t e = 0; e < forwardCount_[q]; ++e) {
                if (later[e] >= last) break;
                if (later[e] >= first) fn(q, later[e]);
            }
        }
        for (int32_t q = first; q < last; ++q) {
            own(q);
            const int32_t* later = forward_[static_cast<size_t>(q / kBlock)].data() + forwardStart_[q];
            const int32_t* const end = later + forwardCount_[q];
            for (; later < end && *later < last; ++later) fn(q, *later);
        }
    };
    ForEach(ranges, 1, [&](int32_t range) {
        const int32_t first = range * rangeSize;
        const int32_t last = std::min(placed, first + rangeSize);
        for (int32_t p = first; p < last; ++p) cursor_[p] = 0;
        forEachEarlierPair(range, [&](int32_t, int32_t p) { ++cursor_[p]; }, [](int32_t) {});
    });
    // The lists lie in sorted order, so that a range's writes stay close.
    std::fill(listCount_.begin(), listCount_.end(), 0);
    std::fill(listStart_.begin(), listStart_.end(), 0);
    int32_t total = 0;
    for (int32_t p = 0; p < placed; ++p) {
        const int32_t listed = cursor_[p] + forwardCount_[p];
        cursor_[p] = total;
        total += listed;
    }
    // Growth by a sixteenth, not the doubling resize would do: the lists
    // are most of the solver's memory.
    if (static_cast<size_t>(total) > lists_.capacity()) lists_.reserve(static_cast<size_t>(total) + total / 16);
    lists_.resize(static_cast<size_t>(total));
    ForEach(placed, kPiece, [&](int32_t p) {
        const int32_t a = sortedIndex_[p];
        listStart_[a] = cursor_[p];
        listCount_[a] = (p + 1 < placed ? cursor_[p + 1] : total) - cursor_[p];
    });
    ForEach(ranges, 1, [&](int32_t range) {
        // A place's own later partners go in when its earlier ones are in:
        // when the scan reaches it.
        forEachEarlierPair(
            range, [&](int32_t q, int32_t p) { lists_[cursor_[p]++] = sortedIndex_[q]; },
            [&](int32_t p) {
                const int32_t* later = forward_[static_cast<size_t>(p / kBlock)].data() + forwardStart_[p];
                int32_t* out = lists_.data() + cursor_[p];
                for (int32_t e = 0; e < forwardCount_[p]; ++e) out[e] = sortedIndex_[later[e]];
            });
    });
}

void LabSolver::FindNeighbours() {
    const int32_t n = count();
    const int32_t limit = parameters_.pairedLimit > 0 ? std::min(n, parameters_.pairedLimit) : n;
    const int cap = parameters_.neighbourCap;
    if (cap <= 0) {
        BuildGrid(limit);
        GatherAllPairs();
        return;
    }

    // The demo's search. Its binning copies the first `limit` particles
    // without a NaN coordinate into one cell; entry places are taken for
    // particle indices, so indices 0 to m - 1 are paired, and a scan stops
    // when the copy in its entry carries a full list from the last search.
    copyCount_.assign(static_cast<size_t>(limit), 0);
    int32_t m = 0;
    for (int32_t i = 0; i < n && m < limit; ++i) {
        if (std::isnan(x_[i]) || std::isnan(y_[i]) || std::isnan(z_[i])) continue;
        copyCount_[m++] = parameters_.countsEmptiedAtBinning ? 0 : listCount_[i];
    }
    slots_.resize(static_cast<size_t>(n) * cap);
    std::fill(listCount_.begin(), listCount_.end(), 0);
    BuildGrid(m);
    GatherHigherPairs(m);
    // Rejected pairs have no effect, so visiting only the accepted ones, in
    // the scan's order, records what the all-pairs scan records.
    for (int32_t a = 0; a < m; ++a) {
        if (copyCount_[a] >= cap) continue;
        const int32_t* partners = blockLists_[a / kBlock].data() + listStart_[a];
        int32_t* own = &slots_[static_cast<size_t>(a) * cap];
        for (int32_t k = 0; k < pairCount_[a]; ++k) {
            if (listCount_[a] >= cap) break;
            const int32_t b = partners[k];
            own[listCount_[a]++] = b;
            if (listCount_[b] < cap) slots_[static_cast<size_t>(b) * cap + listCount_[b]++] = a;
        }
    }
}

void LabSolver::ComputeDensity() {
    const int32_t n = count();
    const LabConstants& k = constants_;
    ForEach(n, kPiece, [&](int32_t i) {
        const int32_t* list = neighbours(i);
        float sum = 0.0f;
        for (int32_t e = 0; e < listCount_[i]; ++e) {
            const int32_t j = list[e];
            if (j == i) continue;
            const float dx = x_[i] - x_[j];
            const float dy = y_[i] - y_[j];
            const float dz = z_[i] - z_[j];
            sum += sph::DensityTerm(k, (dx * dx + dy * dy) + dz * dz);
        }
        density_[i] = sph::DensityFromSum(k, sum, k.poly6);
        pressure_[i] = k.Pressure(density_[i]);
    });
}

void LabSolver::ComputeForces() {
    // Fixed particles keep a zero acceleration.
    const int32_t n = moving_;
    const LabConstants& k = constants_;
    ForEach(n, kPiece, [&](int32_t i) {
        const int32_t* list = neighbours(i);
        const Vec3 vi{vx_[i], vy_[i], vz_[i]};
        sph::ForceSums sums;
        for (int32_t e = 0; e < listCount_[i]; ++e) {
            const int32_t j = list[e];
            if (j == i) continue;
            const float dx = x_[i] - x_[j];
            const float dy = y_[i] - y_[j];
            const float dz = z_[i] - z_[j];
            const float q = (dx * dx + dy * dy) + dz * dz;
            sph::AddForcePair(k, sums, dx, dy, dz, q, pressure_[i], vi, pressure_[j], density_[j],
                              Vec3{vx_[j], vy_[j], vz_[j]});
        }
        const Vec3 a = sph::AccelerationFromSums(k, sums, k.spikyGradient, k.viscosityLaplacian, density_[i]);
        ax_[i] = a.x;
        ay_[i] = a.y;
        az_[i] = a.z;
    });
}

// The fixed step, or less where the sound-speed (CFL) or force bound asks
// for it. Maxima do not depend on the order they are taken in.
float LabSolver::ChooseTimeStep() {
    const LabParameters& p = parameters_;
    float dt = p.timeStep;
    if (p.cflNumber <= 0.0f && p.forceNumber <= 0.0f) return dt;
    const int32_t n = moving_;
    const int32_t pieces = (n + kPiece - 1) / kPiece;
    std::vector<float> speeds(static_cast<size_t>(pieces), 0.0f);
    std::vector<float> accels(static_cast<size_t>(pieces), 0.0f);
    ForEach(pieces, 1, [&](int32_t piece) {
        const int32_t end = std::min(n, (piece + 1) * kPiece);
        for (int32_t i = piece * kPiece; i < end; ++i) {
            speeds[piece] = std::max(speeds[piece], (vx_[i] * vx_[i] + vy_[i] * vy_[i]) + vz_[i] * vz_[i]);
            accels[piece] = std::max(accels[piece], (ax_[i] * ax_[i] + ay_[i] * ay_[i]) + az_[i] * az_[i]);
        }
    });
    const float speed2 = pieces > 0 ? *std::max_element(speeds.begin(), speeds.end()) : 0.0f;
    const float accel2 = pieces > 0 ? *std::max_element(accels.begin(), accels.end()) : 0.0f;
    const float h = p.smoothingLength;
    if (p.cflNumber > 0.0f) dt = std::min(dt, p.cflNumber * h / (p.speedOfSound + std::sqrt(speed2)));
    const float g = std::sqrt((p.gravity.x * p.gravity.x + p.gravity.y * p.gravity.y) + p.gravity.z * p.gravity.z);
    const float accel = std::sqrt(accel2) + g;
    if (p.forceNumber > 0.0f && accel > 0.0f) dt = std::min(dt, p.forceNumber * std::sqrt(h / accel));
    return dt;
}

void LabSolver::Integrate(float timeStep) {
    const int32_t n = moving_;
    LabConstants k = constants_;
    k.timeStep = timeStep;
    const Vec3 lo = parameters_.boxMin;
    const Vec3 hi = parameters_.boxMax;
    const bool walls = parameters_.walls;
    ForEach(n, kPiece, [&](int32_t i) {
        sph::Motion<float> m{ax_[i], ay_[i], az_[i], vx_[i], vy_[i], vz_[i], x_[i], y_[i], z_[i]};
        sph::Advance(k, m, lo, hi, walls);
        ax_[i] = m.ax;
        ay_[i] = m.ay;
        az_[i] = m.az;
        vx_[i] = m.vx;
        vy_[i] = m.vy;
        vz_[i] = m.vz;
        x_[i] = m.px;
        y_[i] = m.py;
        z_[i] = m.pz;
    });
}

uint64_t LabSolver::StateHash() const {
    ::StateHash hash;  // the class, not this member function
    for (int32_t i = 0; i < count(); ++i) {
        const float fields[11] = {x_[i],  y_[i],  z_[i],  vx_[i],        vy_[i],      vz_[i],
                                  ax_[i], ay_[i], az_[i], pressure_[i], density_[i]};
        hash.Add(fields, sizeof fields);
        hash.Add(&listCount_[i], sizeof listCount_[i]);
        hash.Add(neighbours(i), sizeof(int32_t) * static_cast<size_t>(listCount_[i]));
    }
    return hash.value();
}

size_t LabSolver::BytesUsed() const {
    size_t bytes = 0;
    for (const auto* v : {&x_, &y_, &z_, &vx_, &vy_, &vz_, &ax_, &ay_, &az_, &density_, &pressure_, &sortedX_, &sortedY_,
                          &sortedZ_}) {
        bytes += v->capacity() * sizeof(float);
    }
    for (const auto* v : {&listCount_, &slots_, &copyCount_, &listStart_, &pairCount_, &cellOf_, &cellStart_,
                          &sortedIndex_, &lists_, &forwardStart_, &forwardCount_, &cursor_}) {
        bytes += v->capacity() * sizeof(int32_t);
    }
    for (const auto& list : blockLists_) bytes += list.capacity() * sizeof(int32_t);
    for (const auto& list : forward_) bytes += list.capacity() * sizeof(int32_t);
    return bytes;
}
