#include "sim/lab_solver.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sim/fnv_hash.h"
#include "sim/lanes.h"
#include "sim/sph_kernels.h"


LabSolver::~LabSolver() = default;

LabSolver::LabSolver(const LabParameters& parameters) : parameters_(parameters), constants_(parameters) {
    SetThreads(0);
}

void LabSolver::SetParameters(const LabParameters& parameters) {
    parameters_ = parameters;
    constants_ = LabConstants(parameters);
}

void LabSolver::SetThreads(int threads) {
    parallel_.SetThreads(threads);
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

void LabSolver::FindNeighbours() {
    const int32_t n = count();
    const int32_t limit = parameters_.pairedLimit > 0 ? std::min(n, parameters_.pairedLimit) : n;
    const int cap = parameters_.neighbourCap;
    if (cap <= 0) {
        search_.Build(parameters_, x_.data(), y_.data(), z_.data(), n, nullptr, limit, true, parallel_);
        search_.FindAllPairs(parameters_, parallel_);
        search_.SwapLists(lists_, listStart_, listCount_);
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
    parallel_.ForEach(n, kPiece, [&](int32_t i) {
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
    parallel_.ForEach(pieces, 1, [&](int32_t piece) {
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
    parallel_.ForEach(n, kPiece, [&](int32_t i) {
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
    for (const auto* v : {&x_, &y_, &z_, &vx_, &vy_, &vz_, &ax_, &ay_, &az_, &density_, &pressure_}) {
        bytes += v->capacity() * sizeof(float);
    }
    for (const auto* v : {&listCount_, &slots_, &copyCount_, &listStart_, &lists_}) {
        bytes += v->capacity() * sizeof(int32_t);
    }
    return bytes + search_.BytesUsed();
}
