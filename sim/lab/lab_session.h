#pragma once

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "sim/lab/lab_parameters.h"
#include "sim/lab/lab_solver.h"
#include "sim/lab/lab_start_options.h"
#include "sim/lab/scenes.h"

// What the panel, the keys or a driver ask of a running lab. They are
// queued and applied between steps, never in the middle of one, so a window
// and a headless run of the same commands step the same fluid.
struct LabCommand {
    enum class Kind {
        Pause,
        Resume,
        TogglePause,
        // One step now, paused or not.
        Step,
        // The scene anew from its start, with the parameters in force.
        Reset,
        // New constants from the next step on; the particles stay.
        SetParameters,
        // The preset's parameters, then a reset.
        SetPreset,
        // Another scene or particle count, then a reset.
        SetScene,
        SetThreads,
        // Adds kicks[k] to the velocity of particle indices[k] (a hand in
        // the water); indices past the moving particles are left alone.
        Push,
    };
    Kind kind = Kind::Step;
    LabParameters parameters{};
    std::string preset;
    SceneKind scene = SceneKind::Scatter;
    // 0: the scene's default. The scatter draws its start anew with a
    // count that was asked for, as the headless driver's --particles does.
    int32_t count = 0;
    bool countGiven = false;
    int threads = 0;
    std::vector<int32_t> indices;
    std::vector<Vec3> kicks;
};

// The commands that make the start the options describe: the preset, its
// parameters with the settings, then the scene.
std::vector<LabCommand> LabStartCommands(const LabStartOptions& start);

// The lab's state beside its solver: scene, preset, run or pause. Apply()
// takes the queued commands in order; Tick() is one beat of the clock:
// the commands, then stepsPerTick steps unless paused.
class LabRun {
public:
    LabRun();

    void Post(const LabCommand& command) { pending_.push_back(command); }
    // LabStartCommands(start), posted.
    void PostStart(const LabStartOptions& start);
    // Returns how many commands were applied.
    int Apply();
    LabCommand::Kind lastApplied() const { return lastApplied_; }
    // Returns the steps taken.
    int Tick();

    const LabSolver& solver() const { return solver_; }
    LabSolver& solver() { return solver_; }
    bool paused() const { return paused_; }
    SceneKind scene() const { return scene_; }
    int32_t requestedCount() const { return count_; }
    const std::string& preset() const { return preset_; }
    // The parameters in force, which the next reset starts from too.
    const LabParameters& parameters() const { return parameters_; }
    // The preset's parameters with the scene's box, what "back to preset" restores.
    const LabParameters& presetParameters() const { return presetParameters_; }

    int stepsPerTick = 1;
    // What the scatter draws from, and what puts it back where a fresh
    // process finds it before each start (the runtime's rand() unless set).
    void SetRandom(int (*random)(), void (*reset)()) {
        random_ = random;
        resetRandom_ = reset;
    }

private:
    void ApplyOne(const LabCommand& command);
    void Restart();

    LabSolver solver_;
    std::deque<LabCommand> pending_;
    bool paused_ = false;
    LabCommand::Kind lastApplied_ = LabCommand::Kind::Step;
    SceneKind scene_ = SceneKind::Scatter;
    int32_t count_ = 3000;
    bool countGiven_ = false;
    int (*random_)() = std::rand;
    void (*resetRandom_)() = [] { std::srand(1); };
    std::string preset_ = "classic";
    LabParameters presetParameters_;
    // The parameters the next reset starts from (the panel's edits kept).
    LabParameters parameters_;
};

