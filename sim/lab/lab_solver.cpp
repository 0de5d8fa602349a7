#include "sim/lab/lab_solver.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cmath>
#include <cstring>

#include "sim/core/fnv_hash.h"
#include "sim/lab/lab_fast_stages.h"
#include "sim/core/sph_kernels.h"

LabSolver::~LabSolver() = default;

LabSolver::LabSolver(const LabParameters& parameters) : parameters_(parameters), constants_(parameters) {
    SetThreads(0);
}

void LabSolver::SetParameters(const LabParameters& parameters) {
    parameters_ = parameters;
    constants_ = LabConstants(parameters);
    gridFresh_ = countsFresh_ = false;
    // The walls' volumes follow the kernel, the masses and the solver.
    wallsFresh_ = false;
    UseLayout(parameters.neighbourCap <= 0);
}

// The fields are stored by place: index order with a cap, cell order
// without. The change either way keeps every particle's fields; a particle
// takes its last lists' counts along into the capped search, which reads
// them.
void LabSolver::UseLayout(bool byCell) {
    if (byCell == sorted_) return;
    const int32_t n = count_;
    std::vector<float>* fields[] = {&x_, &y_, &z_, &vx_, &vy_, &vz_, &ax_, &ay_, &az_, &density_, &pressure_,
                                    &kappa_, &kappaV_};
    if (byCell) {
        for (auto* f : fields) f->resize(static_cast<size_t>(n) + kFastLanes, 0.0f);
        for (auto* f : {&share_, &fixed_, &factor_, &partners_, &rate_, &u_}) {
            f->assign(static_cast<size_t>(n) + kFastLanes, 0.0f);
        }
        order_.resize(static_cast<size_t>(n));
        place_.resize(static_cast<size_t>(n));
        movingAt_.resize(static_cast<size_t>(n));
        for (int32_t i = 0; i < n; ++i) {
            order_[i] = place_[i] = i;
            movingAt_[i] = i < moving_;
            share_[i] = 1.0f;
            fixed_[i] = i < moving_ ? 0.0f : 1.0f;
        }
        wallsFresh_ = false;
        sorted_ = true;
        gridFresh_ = countsFresh_ = false;
        return;
    }
    // The capped search reads the last lists' counts.
    EnsureCounts();
    for (auto* f : fields) {
        std::vector<float> byIndex(static_cast<size_t>(n));
        for (int32_t i = 0; i < n; ++i) byIndex[i] = (*f)[place_[i]];
        f->swap(byIndex);
    }
    sorted_ = false;
}

void LabSolver::SetThreads(int threads) {
    parallel_.SetThreads(threads);
}

void LabSolver::Reset(const std::vector<Vec3>& moving, const std::vector<Vec3>& fixed) {
    std::vector<Vec3> positions = moving;
    positions.insert(positions.end(), fixed.begin(), fixed.end());
    moving_ = static_cast<int32_t>(moving.size());
    const size_t n = positions.size();
    count_ = static_cast<int32_t>(n);
    sorted_ = false;
    for (auto* v : {&x_, &y_, &z_, &vx_, &vy_, &vz_, &ax_, &ay_, &az_, &density_, &pressure_, &kappa_, &kappaV_}) {
        v->assign(n, 0.0f);
    }
    solve_ = SolveFigures{};
    for (size_t i = 0; i < n; ++i) {
        x_[i] = positions[i].x;
        y_[i] = positions[i].y;
        z_[i] = positions[i].z;
    }
    listCount_.assign(n, 0);
    time_ = 0.0;
    steps_ = 0;
    UseLayout(parameters_.neighbourCap <= 0);
    if (!sorted_) FindNeighbours();
}

void LabSolver::SetVelocity(int32_t i, const Vec3& v) {
    vx_[At(i)] = v.x;
    vy_[At(i)] = v.y;
    vz_[At(i)] = v.z;
}

void LabSolver::Save(Snapshot& out) const {
    const std::vector<float>* fields[Snapshot::kFields] = {&x_, &y_, &z_, &vx_, &vy_, &vz_, &ax_, &ay_, &az_,
                                                           &density_, &pressure_, &kappa_, &kappaV_};
    for (int f = 0; f < Snapshot::kFields; ++f) {
        out.fields[f].resize(static_cast<size_t>(count_));
        for (int32_t i = 0; i < count_; ++i) out.fields[f][i] = (*fields[f])[At(i)];
    }
    out.moving = moving_;
    out.time = time_;
    out.steps = steps_;
    out.slots.clear();
    if (parameters_.neighbourCap > 0) {
        out.counts = listCount_;
        out.slots = slots_;
        return;
    }
    out.counts.resize(static_cast<size_t>(count_));
    std::vector<int32_t> list;
    for (int32_t i = 0; i < count_; ++i) {
        out.counts[i] = ListOf(i, list);
        out.slots.insert(out.slots.end(), list.begin(), list.end());
    }
}

void LabSolver::Load(const Snapshot& in) {
    const size_t n = in.fields[0].size();
    assert(std::all_of(std::begin(in.fields), std::end(in.fields),
                       [n](const std::vector<float>& field) { return field.size() == n; }));
    assert(in.moving >= 0 && static_cast<size_t>(in.moving) <= n);
    assert(parameters_.neighbourCap == 0 ||
           (in.counts.size() == n && in.slots.size() == n * static_cast<size_t>(parameters_.neighbourCap)));
    std::vector<Vec3> moving(static_cast<size_t>(in.moving));
    std::vector<Vec3> fixed(n - moving.size());
    for (size_t i = 0; i < n; ++i) {
        const Vec3 p{in.fields[0][i], in.fields[1][i], in.fields[2][i]};
        (i < moving.size() ? moving[i] : fixed[i - moving.size()]) = p;
    }
    // With a cap the lists of the saved positions are built as a reset
    // builds them; what the search cannot know (the old counts, the capped
    // lists) is put back over them. Without, the lists are the saved
    // positions' and are found again when asked for; the saved ones (older
    // files kept those of the step's start) are not needed.
    Reset(moving, fixed);
    std::vector<float>* fields[Snapshot::kFields] = {&x_, &y_, &z_, &vx_, &vy_, &vz_, &ax_, &ay_, &az_,
                                                     &density_, &pressure_, &kappa_, &kappaV_};
    // Reset left every particle at its own index.
    for (int f = 0; f < Snapshot::kFields; ++f) std::copy(in.fields[f].begin(), in.fields[f].end(), fields[f]->begin());
    if (parameters_.neighbourCap > 0) {
        listCount_ = in.counts;
        slots_ = in.slots;
    }
    time_ = in.time;
    steps_ = in.steps;
}

void LabSolver::Step() {
    using Clock = std::chrono::steady_clock;
    Clock::time_point last = Clock::now();
    const auto lap = [&](double StageClock::*stage) {
        if (clock_ == nullptr) return;
        const Clock::time_point now = Clock::now();
        clock_->*stage += std::chrono::duration<double>(now - last).count();
        last = now;
    };
    if (DivergenceFree()) {
        StepDivergenceFree(lap);
        return;
    }
    sorted_ ? SortByCell() : FindNeighbours();
    lap(&StageClock::search);
    sorted_ ? ComputeFastDensity() : ComputeDensity();
    lap(&StageClock::density);
    sorted_ ? ComputeFastForces() : ComputeForces();
    lap(&StageClock::forces);
    const float dt = ChooseTimeStep(true);
    Integrate(dt);
    lap(&StageClock::motion);
    lastTimeStep_ = dt;
    time_ += dt;
    ++steps_;
}

// Without a cap the steps keep no lists: a grid of the positions as they
// are now, and each particle's count or list from it, when asked for.
void LabSolver::EnsureGrid() const {
    if (!sorted_ || gridFresh_) return;
    const int32_t limit = Paired();
    search_.Build(parameters_, x_.data(), y_.data(), z_.data(), count_, order_.data(), limit, true, parallel_);
    gridFresh_ = true;
}

void LabSolver::EnsureCounts() const {
    if (!sorted_ || countsFresh_) return;
    EnsureGrid();
    listCount_.resize(static_cast<size_t>(count_));
    parallel_.ForEach(count_, kPiece, [&](int32_t p) {
        listCount_[order_[p]] = search_.CountPartners(parameters_, p, x_[p], y_[p], z_[p]);
    });
    countsFresh_ = true;
}

int32_t LabSolver::ListOf(int32_t i, std::vector<int32_t>& out) const {
    if (!sorted_) {
        const int32_t* slots = &slots_[static_cast<size_t>(i) * parameters_.neighbourCap];
        out.assign(slots, slots + listCount_[i]);
    } else {
        EnsureGrid();
        const int32_t p = place_[i];
        search_.Partners(parameters_, p, x_[p], y_[p], z_[p], out);
        for (int32_t& b : out) b = order_[b];
    }
    return static_cast<int32_t>(out.size());
}

int32_t LabSolver::neighbourCount(int32_t i) const {
    EnsureCounts();
    return listCount_[i];
}

std::vector<int32_t> LabSolver::neighbours(int32_t i) const {
    std::vector<int32_t> list;
    ListOf(i, list);
    return list;
}

// Sorts the particles by cell (within a cell by index), carrying what the
// step reads of them: positions, velocities, what the solves start from and
// the walls' masses. Density, pressure, acceleration and the solves' fields
// are all computed afresh.
void LabSolver::SortByCell() {
    const int32_t n = count_;
    const int32_t limit = Paired();
    search_.Build(parameters_, x_.data(), y_.data(), z_.data(), n, order_.data(), limit, false, parallel_);
    const int32_t* from = search_.sortedIndex();
    // One pass moves them all, into the arrays the step fills afresh (and
    // one spare), which then trade places with them.
    constexpr int kCarried = 10;
    std::vector<float>* const carried[kCarried] = {&x_, &y_, &z_, &vx_, &vy_, &vz_, &kappa_, &kappaV_, &share_, &fixed_};
    std::vector<float>* const into[kCarried] = {&density_, &pressure_, &ax_, &ay_, &az_, &factor_, &partners_,
                                                &rate_, &u_, &spare_};
    spare_.resize(x_.size());
    spareInts_.resize(static_cast<size_t>(n));
    cellAt_.resize(static_cast<size_t>(n));
    parallel_.ForEach(n, kPiece, [&](int32_t s) {
        const int32_t old = from[s];
        for (int f = 0; f < kCarried; ++f) (*into[f])[s] = (*carried[f])[old];
        spareInts_[s] = order_[old];
        cellAt_[s] = search_.cellOf(old);
    });
    for (int f = 0; f < kCarried; ++f) carried[f]->swap(*into[f]);
    order_.swap(spareInts_);
    parallel_.ForEach(n, kPiece, [&](int32_t s) {
        place_[order_[s]] = s;
        movingAt_[s] = order_[s] < moving_;
    });
    // The grid is the step's now, and the step moves the particles on.
    gridFresh_ = countsFresh_ = false;
}

LabFastView LabSolver::FastView() const {
    return LabFastView{&constants_, parameters_.simScale, constants_.searchRadiusSquared, x_.data(), y_.data(), z_.data(),
                       vx_.data(), vy_.data(), vz_.data(), density_.data(), pressure_.data(), search_.cellStart(),
                       cellAt_.data(), search_.placed(), {search_.side(0), search_.side(1), search_.side(2)},
                       share_.data(), fixed_.data(), packedVelocity_.data(), packedPlace_.data()};
}

void LabSolver::ComputeFastDensity() {
    const int32_t n = count_;
    const LabFastView view = FastView();
    const int32_t pieces = (n + kPiece - 1) / kPiece;
    parallel_.ForEach(pieces, 1, [&](int32_t piece) {
        LabFastDensity(view, piece * kPiece, std::min(n, (piece + 1) * kPiece), density_.data(), pressure_.data());
    });
}

void LabSolver::ComputeFastForces() {
    const int32_t n = count_;
    const LabFastView view = FastView();
    const int32_t pieces = (n + kPiece - 1) / kPiece;
    parallel_.ForEach(pieces, 1, [&](int32_t piece) {
        LabFastForces(view, piece * kPiece, std::min(n, (piece + 1) * kPiece), movingAt_.data(), ax_.data(),
                      ay_.data(), az_.data());
    });
}

void LabSolver::FindNeighbours() {
    const int32_t n = count();
    const int32_t limit = Paired();
    const int cap = parameters_.neighbourCap;

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
    search_.Build(parameters_, x_.data(), y_.data(), z_.data(), m, nullptr, m, true, parallel_);
    search_.FindHigherPairs(parameters_, x_.data(), y_.data(), z_.data(), parallel_);
    // Rejected pairs have no effect, so visiting only the accepted ones, in
    // the scan's order, records what the all-pairs scan records.
    for (int32_t a = 0; a < m; ++a) {
        if (copyCount_[a] >= cap) continue;
        const int32_t* partners = search_.higherPairs(a);
        int32_t* own = &slots_[static_cast<size_t>(a) * cap];
        for (int32_t k = 0; k < search_.higherCount(a); ++k) {
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
    parallel_.ForEach(n, kPiece, [&](int32_t i) {
        const int32_t* list = &slots_[static_cast<size_t>(i) * parameters_.neighbourCap];
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
    parallel_.ForEach(n, kPiece, [&](int32_t i) {
        const int32_t* list = &slots_[static_cast<size_t>(i) * parameters_.neighbourCap];
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
// The divergence-free solver has no sound speed, and its step is bounded
// by the flow alone: `soundAndForce` false leaves both out.
float LabSolver::ChooseTimeStep(bool soundAndForce) {
    const LabParameters& p = parameters_;
    float dt = p.timeStep;
    if (p.cflNumber <= 0.0f && (p.forceNumber <= 0.0f || !soundAndForce)) return dt;
    // Places of moving particles lie below `n`.
    const int32_t n = sorted_ ? count_ : moving_;
    const int32_t pieces = (n + kPiece - 1) / kPiece;
    std::vector<float> speeds(static_cast<size_t>(pieces), 0.0f);
    std::vector<float> accels(static_cast<size_t>(pieces), 0.0f);
    parallel_.ForEach(pieces, 1, [&](int32_t piece) {
        const int32_t end = std::min(n, (piece + 1) * kPiece);
        for (int32_t i = piece * kPiece; i < end; ++i) {
            if (sorted_ && movingAt_[i] == 0) continue;
            speeds[piece] = std::max(speeds[piece], (vx_[i] * vx_[i] + vy_[i] * vy_[i]) + vz_[i] * vz_[i]);
            // The divergence-free step has no accelerations yet: what the
            // sort left in their arrays is not read.
            if (soundAndForce) {
                accels[piece] = std::max(accels[piece], (ax_[i] * ax_[i] + ay_[i] * ay_[i]) + az_[i] * az_[i]);
            }
        }
    });
    const float speed2 = pieces > 0 ? *std::max_element(speeds.begin(), speeds.end()) : 0.0f;
    const float accel2 = pieces > 0 ? *std::max_element(accels.begin(), accels.end()) : 0.0f;
    const float h = p.smoothingLength;
    if (!soundAndForce) {
        return p.cflNumber > 0.0f && speed2 > 0.0f ? std::min(dt, p.cflNumber * h / std::sqrt(speed2)) : dt;
    }
    if (p.cflNumber > 0.0f) dt = std::min(dt, p.cflNumber * h / (p.speedOfSound + std::sqrt(speed2)));
    const float g = std::sqrt((p.gravity.x * p.gravity.x + p.gravity.y * p.gravity.y) + p.gravity.z * p.gravity.z);
    const float accel = std::sqrt(accel2) + g;
    if (p.forceNumber > 0.0f && accel > 0.0f) dt = std::min(dt, p.forceNumber * std::sqrt(h / accel));
    return dt;
}

void LabSolver::Integrate(float timeStep) {
    const int32_t n = sorted_ ? count_ : moving_;
    LabConstants k = constants_;
    k.timeStep = timeStep;
    const Vec3 lo = parameters_.boxMin;
    const Vec3 hi = parameters_.boxMax;
    const bool walls = parameters_.walls;
    parallel_.ForEach(n, kPiece, [&](int32_t i) {
        if (sorted_ && movingAt_[i] == 0) return;
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

// A wall particle's volume is one over the sum of the kernel over the
// walls around it, itself included: where walls crowd, each counts for
// less. Its mass is then the fluid's rest density times that volume (and
// WallVolumeFactor). The sum runs in the order of the walls' indices, so
// that where the fluid happens to lie, and so the places the walls take
// in their cells, does not change it: a run taken up again from a saved
// state finds the same masses.
void LabSolver::ComputeWallVolumes() {
    const LabParameters& p = parameters_;
    const double h = p.smoothingLength;
    const bool cubic = p.pressureSolver == PressureSolver::Dfsph;
    const auto kernel = [&](double r) {
        if (!(r < h)) return 0.0;
        const double q = r / h;
        if (cubic) return (q <= 0.5 ? 6.0 * q * q * (q - 1.0) + 1.0 : 2.0 * (1.0 - q) * (1.0 - q) * (1.0 - q)) *
                          static_cast<double>(constants_.cubicKernel);
        return (h * h - r * r) * (h * h - r * r) * (h * h - r * r) * static_cast<double>(constants_.poly6);
    };
    const double scale = static_cast<double>(WallVolumeFactor(p)) * p.restDensity / p.particleMass;
    EnsureGrid();
    std::vector<int32_t> partners;
    for (int32_t place = 0; place < count_; ++place) {
        if (fixed_[place] == 0.0f) continue;
        search_.Partners(p, place, x_[place], y_[place], z_[place], partners);
        partners.erase(std::remove_if(partners.begin(), partners.end(), [&](int32_t b) { return fixed_[b] == 0.0f; }),
                       partners.end());
        std::sort(partners.begin(), partners.end(), [&](int32_t a, int32_t b) { return order_[a] < order_[b]; });
        double sum = kernel(0.0);
        for (const int32_t b : partners) {
            const double dx = x_[place] - x_[b], dy = y_[place] - y_[b], dz = z_[place] - z_[b];
            sum += kernel(std::sqrt(dx * dx + dy * dy + dz * dz) * p.simScale);
        }
        share_[place] = static_cast<float>(scale / sum);
    }
    wallsFresh_ = true;
}

// The sum over the fluid of atPlace(p), taken piece by piece and the
// pieces in order, so that it does not depend on the thread count.
template <class AtPlace>
double LabSolver::Residuals(AtPlace atPlace) {
    const int32_t n = count_;
    const int32_t pieces = (n + kPiece - 1) / kPiece;
    std::vector<double> sums(static_cast<size_t>(pieces), 0.0);
    const LabFastView view = FastView();
    parallel_.ForEach(pieces, 1, [&](int32_t piece) {
        const int32_t first = piece * kPiece, last = std::min(n, (piece + 1) * kPiece);
        LabFastDensityRate(view, partnerLists_[piece], first, last, rate_.data());
        double sum = 0.0;
        for (int32_t p = first; p < last; ++p) sum += atPlace(p);
        sums[piece] = sum;
    });
    double total = 0.0;
    for (const double sum : sums) total += sum;
    return total;
}

template <class AfterPiece>
void LabSolver::Push(AfterPiece afterPiece) {
    const int32_t n = count_;
    const int32_t pieces = (n + kPiece - 1) / kPiece;
    const LabFastView view = FastView();
    parallel_.ForEach(pieces, 1, [&](int32_t piece) {
        const int32_t first = piece * kPiece, last = std::min(n, (piece + 1) * kPiece);
        LabFastPressurePush(view, partnerLists_[piece], first, last, u_.data(), vx_.data(), vy_.data(), vz_.data(),
                            packedVelocity_.data());
        afterPiece(first, last);
    });
}

// `residual(p)` sets u_[p] from the rate of density change (rate_[p],
// found just before) and returns the place's error. The solve starts by
// pushing with what the last step's solve found (`carried`, times
// carriedToPush) where warm(p) holds, then pushes with what is still
// wanting until the mean error is within tolerance: only compression is
// undone, never pulled back, so every u is at least zero (and a warm
// start that pushed too far stays pushed). `carried` ends as what this
// solve found (each u times pushToCarried), and `total` as that plus the
// start.
template <class Warm, class Residual>
int LabSolver::Solve(std::vector<float>& carried, std::vector<float>& total, float carriedToPush, float pushToCarried,
                     int least, int most, double tolerance, Warm warm, Residual residual, double& error) {
    const int32_t n = count_;
    const int32_t pieces = (n + kPiece - 1) / kPiece;
    const double fluid = std::max(moving_, 1);
    parallel_.ForEach(pieces, 1, [&](int32_t piece) {
        for (int32_t p = piece * kPiece; p < std::min(n, (piece + 1) * kPiece); ++p) {
            total[p] = warm(p) ? carried[p] : 0.0f;
            u_[p] = total[p] * carriedToPush;
            carried[p] = 0.0f;
        }
    });
    Push([](int32_t, int32_t) {});
    int iterations = 0;
    for (;;) {
        error = Residuals([&](int32_t p) {
                    const double e = residual(p);
                    u_[p] = std::max(u_[p], 0.0f);
                    return e;
                }) / fluid;
        if ((error <= tolerance && iterations >= least) || iterations >= most) break;
        // What a place carries is its own: added up with its piece's push.
        Push([&](int32_t first, int32_t last) {
            for (int32_t p = first; p < last; ++p) carried[p] += u_[p] * pushToCarried;
        });
        ++iterations;
    }
    parallel_.ForEach(pieces, 1, [&](int32_t piece) {
        for (int32_t p = piece * kPiece; p < std::min(n, (piece + 1) * kPiece); ++p) {
            total[p] += carried[p];
        }
    });
    return iterations;
}

// The divergence-free step: densities and factors of the positions as they
// are; a divergence solve, so that the velocities compress nothing; the
// step from the fastest particle; the accelerations apart from pressure;
// a density solve, so that the positions the velocities lead to are at the
// rest density; the move. Each solve is Jacobi's: every place's push is
// found from the same velocities, then all are applied.
void LabSolver::StepDivergenceFree(const std::function<void(double StageClock::*)>& lap) {
    SortByCell();
    if (!wallsFresh_) ComputeWallVolumes();
    lap(&StageClock::search);
    const LabParameters& prm = parameters_;
    const int32_t n = count_;
    const int32_t pieces = (n + kPiece - 1) / kPiece;
    packedVelocity_.resize(4 * static_cast<size_t>(n));
    packedPlace_.resize(4 * static_cast<size_t>(n));
    const LabFastView view = FastView();
    const LabDivergenceFree fields{density_.data(), factor_.data(), partners_.data()};
    partnerLists_.resize(static_cast<size_t>(pieces));
    parallel_.ForEach(pieces, 1, [&](int32_t piece) {
        const int32_t first = piece * kPiece, last = std::min(n, (piece + 1) * kPiece);
        LabFastDivergenceFreeDensity(view, first, last, fields, partnerLists_[piece]);
        for (int32_t p = first; p < last; ++p) {
            const float place[4] = {x_[p], y_[p], z_[p], density_[p]};
            std::copy(place, place + 4, &packedPlace_[4 * static_cast<size_t>(p)]);
            PackVelocity(p);
        }
    });
    lap(&StageClock::density);

    const float rest = prm.restDensity;
    // The divergence is weighed over the longest step, which a saved run
    // takes up again with its parameters.
    const float longest = prm.timeStep;
    // Only compression is undone, and not at the surface, where a particle
    // has too few partners for its rate to mean anything. Nor in full where
    // the fluid is looser than at rest, so that it closes up under its own
    // weight: a still pool kept every gap its settling opened, some of its
    // deep water a quarter under the rest density. The rate counts in full
    // at the rest density, and not at all kLoose below it.
    constexpr float kSurfacePartners = 20.0f;
    constexpr float kLoose = 0.05f;
    double error = 0.0;
    // The pushes of each solve over this step, for the pressure.
    std::vector<float>& divergencePush = spare_;
    std::vector<float>& densityPush = pressure_;
    // The divergence solve starts from its last pushes only where the fluid
    // is at least as dense as at rest. Where it is looser, last step's push
    // would open a gap that nothing closes again (the solve only pushes), and
    // step after step a still pool drew apart: particles 2 to 11 % under the
    // rest density, the whole pool breathing by 1 %.
    solve_.divergenceIterations = Solve(
        kappaV_, divergencePush, 1.0f, 1.0f, 1, prm.divergenceIterations, prm.divergenceTolerance * 0.01,
        [&](int32_t p) { return density_[p] >= rest; },
        [&](int32_t p) {
            const float closing = partners_[p] < kSurfacePartners ? 0.0f : std::max(rate_[p], 0.0f);
            const float rate =
                closing * std::min(std::max((density_[p] / rest - (1.0f - kLoose)) / kLoose, 0.0f), 1.0f);
            u_[p] = rate * factor_[p];
            return static_cast<double>(rate) * longest / rest;
        },
        error);

    const float dt = ChooseTimeStep(false);
    parallel_.ForEach(pieces, 1, [&](int32_t piece) {
        const int32_t first = piece * kPiece, last = std::min(n, (piece + 1) * kPiece);
        LabFastViscosity(view, partnerLists_[piece], first, last, prm.viscosity, prm.wallViscosity, prm.xsph, dt,
                         ax_.data(), ay_.data(), az_.data());
    });
    // Only once every place has read the velocities around it.
    parallel_.ForEach(pieces, 1, [&](int32_t piece) {
        const int32_t first = piece * kPiece, last = std::min(n, (piece + 1) * kPiece);
        for (int32_t p = first; p < last; ++p) {
            if (fixed_[p] != 0.0f) continue;
            ax_[p] = ax_[p] + prm.gravity.x;
            ay_[p] = ay_[p] + prm.gravity.y;
            az_[p] = az_[p] + prm.gravity.z;
            vx_[p] = ax_[p] * dt + vx_[p];
            vy_[p] = ay_[p] * dt + vy_[p];
            vz_[p] = az_[p] * dt + vz_[p];
            PackVelocity(p);
        }
    });

    // One iteration past the warm start at least, as the divergence solve:
    // a second one halved what is left of the dam's mean compression (0.013
    // to 0.008 %, both far within tolerance) for a tenth of the step's time.
    solve_.densityIterations = Solve(
        kappa_, densityPush, dt, 1.0f / dt, 1, prm.densityIterations, prm.densityTolerance * 0.01,
        [](int32_t) { return true; },
        [&](int32_t p) {
            if (fixed_[p] != 0.0f) {
                u_[p] = 0.0f;
                return 0.0;
            }
            const float excess = std::max((rate_[p] * dt + density_[p]) - rest, 0.0f);
            u_[p] = (excess / dt) * factor_[p];
            return static_cast<double>(excess) / rest;
        },
        error);
    solve_.densityError = error;
    lap(&StageClock::forces);

    const Vec3 lo = prm.boxMin, hi = prm.boxMax;
    const float scale = prm.simScale;
    const bool walls = prm.walls;
    parallel_.ForEach(n, kPiece, [&](int32_t p) {
        if (fixed_[p] != 0.0f) return;
        x_[p] = (vx_[p] * dt) / scale + x_[p];
        y_[p] = (vy_[p] * dt) / scale + y_[p];
        z_[p] = (vz_[p] * dt) / scale + z_[p];
        if (walls) {
            sph::Reflect(x_[p], vx_[p], lo.x, hi.x);
            sph::Reflect(z_[p], vz_[p], lo.z, hi.z);
            sph::Reflect(y_[p], vy_[p], lo.y, hi.y);
        }
        // Both solves' pushes over the step, as a pressure.
        pressure_[p] = ((densityPush[p] + divergencePush[p] / dt) * density_[p]) * density_[p];
    });
    lap(&StageClock::motion);
    lastTimeStep_ = dt;
    time_ += dt;
    ++steps_;
}

uint64_t LabSolver::StateHash() const {
    ::StateHash hash;  // the class, not this member function
    std::vector<int32_t> list;
    for (int32_t i = 0; i < count(); ++i) {
        const int32_t p = At(i);
        const float fields[11] = {x_[p],  y_[p],  z_[p],  vx_[p],       vy_[p],      vz_[p],
                                  ax_[p], ay_[p], az_[p], pressure_[p], density_[p]};
        hash.Add(fields, sizeof fields);
        const int32_t listed = ListOf(i, list);
        hash.Add(&listed, sizeof listed);
        hash.Add(list.data(), sizeof(int32_t) * static_cast<size_t>(listed));
    }
    return hash.value();
}

size_t LabSolver::BytesUsed() const {
    size_t bytes = 0;
    for (const auto* v : {&x_, &y_, &z_, &vx_, &vy_, &vz_, &ax_, &ay_, &az_, &density_, &pressure_, &spare_, &kappa_,
                          &kappaV_, &share_, &fixed_, &factor_, &partners_, &rate_, &u_, &packedVelocity_, &packedPlace_}) {
        bytes += v->capacity() * sizeof(float);
    }
    bytes += movingAt_.capacity();
    for (const std::vector<int32_t>* v : std::initializer_list<const std::vector<int32_t>*>{
             &listCount_, &slots_, &copyCount_, &order_, &place_, &cellAt_, &spareInts_}) {
        bytes += v->capacity() * sizeof(int32_t);
    }
    for (const LabPartners& list : partnerLists_) bytes += list.BytesUsed();
    return bytes + search_.BytesUsed();
}
