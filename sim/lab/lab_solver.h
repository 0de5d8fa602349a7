#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "sim/lab/lab_fast_stages.h"
#include "sim/lab/lab_neighbour_search.h"
#include "sim/lab/lab_parallel.h"
#include "sim/lab/lab_parameters.h"
#include "sim/core/vec3.h"

// The lab's SPH solver: the demo's fluid with every constant and rule set at
// run time, any number of particles, and the stages run over the particles
// on several threads. Each particle's sums are taken in one fixed order and
// every stage writes only the particle it works on, so a step gives the same
// bits whatever the number of threads.
//
// The stage order is pondsim's: neighbours from the start-of-step
// positions, then density for all, forces for all, integration for all.
//
// Storage is one array per field (struct of arrays). With a neighbour cap:
// the particles in index order and fixed list slots per particle, filled by
// the demo's rules. Without: the particles in cell order of a uniform grid
// (sorted at the start of every step), and no lists: density and forces
// walk the cells around each particle (lab_fast_stages.h).
class LabSolver {
public:
    explicit LabSolver(const LabParameters& parameters = ClassicParameters());
    ~LabSolver();
    LabSolver(const LabSolver&) = delete;
    LabSolver& operator=(const LabSolver&) = delete;

    // New constants take effect from the next step on; the particles stay.
    void SetParameters(const LabParameters& parameters);
    const LabParameters& parameters() const { return parameters_; }

    // Threads the stages run on; 0 or less: every core. One where the build
    // has no threads (the web build).
    void SetThreads(int threads);
    int threads() const { return parallel_.threads(); }

    // Replaces the particles by ones at rest at the given places (position
    // units), with zero density and pressure, then builds their lists, as a
    // reseed does. The `fixed` ones follow the moving ones in index order:
    // wall particles, which take part in every sum (their density and
    // pressure are computed like any other's) but never move.
    void Reset(const std::vector<Vec3>& positions, const std::vector<Vec3>& fixed = {});
    int32_t movingCount() const { return moving_; }

    void Step();

    // Seconds spent in each stage, summed over the steps while a clock is
    // set (nullptr: none). The search is the lists' or the sort's.
    struct StageClock {
        double search = 0.0, density = 0.0, forces = 0.0, motion = 0.0;
    };
    void SetStageClock(StageClock* clock) { clock_ = clock; }

    int32_t count() const { return count_; }
    double time() const { return time_; }
    int64_t steps() const { return steps_; }
    // Seconds of the last step (the fixed step, or less when bounded).
    float lastTimeStep() const { return lastTimeStep_; }

    // By index, whatever order the solver keeps the particles in.
    Vec3 position(int32_t i) const { return Vec3{x_[At(i)], y_[At(i)], z_[At(i)]}; }
    Vec3 velocity(int32_t i) const { return Vec3{vx_[At(i)], vy_[At(i)], vz_[At(i)]}; }
    Vec3 acceleration(int32_t i) const { return Vec3{ax_[At(i)], ay_[At(i)], az_[At(i)]}; }
    float density(int32_t i) const { return density_[At(i)]; }
    float pressure(int32_t i) const { return pressure_[At(i)]; }
    // The listed neighbours. Without a cap the steps keep no lists: they
    // are found when asked for, from the positions as they are then (not
    // thread-safe, like the step itself).
    int32_t neighbourCount(int32_t i) const;
    std::vector<int32_t> neighbours(int32_t i) const;
    // Sets a particle's velocity (scenes that start in motion).
    void SetVelocity(int32_t i, const Vec3& v);

    // Everything the next step reads of the last one, so that a run saved
    // and taken up again goes on bit for bit: the fields of every particle
    // in index order, the neighbour counts and, with a cap, the listed
    // neighbours (the demo's binning reads the old counts), the simulated
    // time and the steps taken. Without a cap the lists are those of the
    // saved positions, kept for other readers: the steps do not read them.
    struct Snapshot {
        // x y z, velocity, acceleration, density, pressure, then what the
        // divergence-free solver starts its two solves from (zero else).
        static constexpr int kFields = 13;
        int32_t moving = 0;
        double time = 0.0;
        int64_t steps = 0;
        std::vector<float> fields[kFields];
        std::vector<int32_t> counts;
        // With a cap, count * neighbourCap slots; without, every particle's
        // listed neighbours one list after another.
        std::vector<int32_t> slots;
    };
    void Save(Snapshot& out) const;
    // Takes up a snapshot made under the same parameters. Its arrays must
    // all have one length, and slots the length Save gives.
    void Load(const Snapshot& in);

    // 64-bit FNV-1a over position, velocity, acceleration, pressure,
    // density, neighbour count and listed neighbours of every particle in
    // index order: the demo drivers' state hash, byte for byte.
    uint64_t StateHash() const;

    // Bytes the solver holds for its particles, lists and grid.
    size_t BytesUsed() const;

    // The divergence-free solver's last step: iterations of each solve and
    // the mean density error (fraction of the rest density) its density
    // solve ended at.
    struct SolveFigures {
        int densityIterations = 0;
        int divergenceIterations = 0;
        double densityError = 0.0;
    };
    const SolveFigures& solveFigures() const { return solve_; }

private:
    // Particles per piece of a parallel loop.
    static constexpr int32_t kPiece = LabNeighbourSearch::kPiece;

    // The particles that take part in the search: the first pairedLimit, or all.
    int32_t Paired() const {
        return parameters_.pairedLimit > 0 && parameters_.pairedLimit < count_ ? parameters_.pairedLimit : count_;
    }
    // Where particle i's fields lie: every accessor by index comes through here.
    int32_t At(int32_t i) const {
        assert(i >= 0 && i < count());
        return sorted_ ? place_[i] : i;
    }
    void UseLayout(bool byCell);
    void EnsureGrid() const;
    void EnsureCounts() const;
    int32_t ListOf(int32_t i, std::vector<int32_t>& out) const;
    void SortByCell();
    LabFastView FastView() const;
    bool DivergenceFree() const { return sorted_ && parameters_.pressureSolver == PressureSolver::Dfsph; }
    void ComputeWallVolumes();
    void StepDivergenceFree(const std::function<void(double StageClock::*)>& lap);
    // One solve: pushes from the warm start (where warm(p) holds), then
    // iterations until the mean error is within tolerance. Returns the
    // iterations and the error.
    template <class Warm, class Residual>
    int Solve(std::vector<float>& carried, std::vector<float>& total, float carriedToPush, float pushToCarried,
              int least, int most, double tolerance, Warm warm, Residual residual, double& error);
    template <class AtPlace>
    double Residuals(AtPlace atPlace);
    // Pushes every place by u_, then calls afterPiece(first, last) for each
    // piece of places as soon as it is pushed.
    template <class AfterPiece>
    void Push(AfterPiece afterPiece);
    void ComputeFastDensity();
    void ComputeFastForces();
    void FindNeighbours();
    void ComputeDensity();
    void ComputeForces();
    float ChooseTimeStep(bool soundAndForce);
    void Integrate(float timeStep);

    LabParameters parameters_;
    LabConstants constants_;
    StageClock* clock_ = nullptr;
    mutable LabParallel parallel_;
    int32_t count_ = 0;
    int32_t moving_ = 0;
    double time_ = 0.0;
    int64_t steps_ = 0;
    float lastTimeStep_ = 0.0f;

    std::vector<float> x_, y_, z_;
    std::vector<float> vx_, vy_, vz_;
    std::vector<float> ax_, ay_, az_;
    std::vector<float> density_, pressure_;
    // What the divergence-free solver's density and divergence solves
    // start the next step from.
    std::vector<float> kappa_, kappaV_;
    mutable std::vector<int32_t> listCount_;
    // With a cap: cap slots per particle. The counts the last search left
    // (the demo's binned copies read them) are in listCount_ until the next
    // search.
    std::vector<int32_t> slots_;
    std::vector<int32_t> copyCount_;
    // Without a cap: whether the search holds a grid of the positions as
    // they are, and listCount_ their counts.
    mutable bool gridFresh_ = false;
    mutable bool countsFresh_ = false;
    mutable LabNeighbourSearch search_;

    // Without a cap the fields are stored by place, in cell order, each
    // padded by kFastLanes slots: order_ gives the index at a place, place_
    // the place of an index, cellAt_ the cell of a place, movingAt_ whether
    // it moves. spare_ and spareInts_ take a field while it is reordered.
    bool sorted_ = false;
    std::vector<int32_t> order_, place_, cellAt_, spareInts_;
    std::vector<uint8_t> movingAt_;
    std::vector<float> spare_;
    // By place: mass over the particle mass (the walls' from their own
    // volume, found again whenever the parameters change), 1 at walls; and
    // the divergence-free solver's per-step fields.
    std::vector<float> share_, fixed_, factor_, partners_, rate_, u_;
    bool wallsFresh_ = false;
    // Each piece's partners, listed by the divergence-free step's density
    // sweep, and what its sweeps over the lists read of the partners, four
    // floats a place (LabFastView).
    std::vector<LabPartners> partnerLists_;
    std::vector<float> packedVelocity_, packedPlace_;
    void PackVelocity(int32_t p) {
        float* const to = &packedVelocity_[4 * static_cast<size_t>(p)];
        to[0] = vx_[p];
        to[1] = vy_[p];
        to[2] = vz_[p];
        to[3] = 0.0f;
    }
    SolveFigures solve_;
};
