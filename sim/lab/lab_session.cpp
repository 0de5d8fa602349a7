#include "sim/lab/lab_session.h"

#include <cstdlib>

#include "sim/lab/lab_parameter_table.h"

LabRun::LabRun() {
    presetParameters_ = ClassicParameters();
    parameters_ = presetParameters_;
    solver_.SetThreads(0);
    Restart();
}

void LabRun::Restart() {
    LabParameters start = parameters_;
    // Each start draws from the runtime's generator as a fresh process
    // finds it, as the headless driver's does.
    resetRandom_();
    const SceneLayout layout = BuildLabStart(scene_, count_, countGiven_, start, random_);
    // The scene sizes the box; the preset's parameters follow it.
    parameters_.boxMin = start.boxMin;
    parameters_.boxMax = start.boxMax;
    presetParameters_.boxMin = start.boxMin;
    presetParameters_.boxMax = start.boxMax;
    solver_.SetParameters(parameters_);
    solver_.Reset(layout.positions, layout.walls);
}

void LabRun::ApplyOne(const LabCommand& command) {
    using Kind = LabCommand::Kind;
    switch (command.kind) {
    case Kind::Pause: paused_ = true; break;
    case Kind::Resume: paused_ = false; break;
    case Kind::TogglePause: paused_ = !paused_; break;
    case Kind::Step: solver_.Step(); break;
    case Kind::Reset: Restart(); break;
    case Kind::SetParameters:
        parameters_ = command.parameters;
        solver_.SetParameters(parameters_);
        break;
    case Kind::SetPreset: {
        LabParameters p;
        if (!ParametersByName(command.preset, p)) break;
        preset_ = command.preset;
        presetParameters_ = p;
        parameters_ = p;
        Restart();
        break;
    }
    case Kind::SetScene:
        scene_ = command.scene;
        count_ = command.count > 0 ? command.count : LabScene(scene_).defaultCount;
        countGiven_ = command.countGiven || count_ != LabScene(scene_).defaultCount;
        Restart();
        break;
    case Kind::SetThreads: solver_.SetThreads(command.threads); break;
    case Kind::Push:
        for (size_t k = 0; k < command.indices.size() && k < command.kicks.size(); ++k) {
            const int32_t i = command.indices[k];
            if (i < 0 || i >= solver_.movingCount()) continue;
            const Vec3 v = solver_.velocity(i), kick = command.kicks[k];
            solver_.SetVelocity(i, Vec3{v.x + kick.x, v.y + kick.y, v.z + kick.z});
        }
        break;
    }
}

int LabRun::Apply() {
    int applied = 0;
    while (!pending_.empty()) {
        const LabCommand command = pending_.front();
        pending_.pop_front();
        ApplyOne(command);
        lastApplied_ = command.kind;
        ++applied;
    }
    return applied;
}

int LabRun::Tick() {
    Apply();
    if (paused_) return 0;
    for (int i = 0; i < stepsPerTick; ++i) solver_.Step();
    return stepsPerTick;
}

std::vector<LabCommand> LabStartCommands(const LabStartOptions& start) {
    std::vector<LabCommand> commands(3);
    LabCommand& preset = commands[0];
    preset.kind = LabCommand::Kind::SetPreset;
    preset.preset = start.preset;
    LabCommand& parameters = commands[1];
    parameters.kind = LabCommand::Kind::SetParameters;
    ParametersByName(start.preset, parameters.parameters);
    std::string why;
    for (const std::string& setting : start.settings) ApplyLabSetting(setting, parameters.parameters, why);
    LabCommand& scene = commands[2];
    scene.kind = LabCommand::Kind::SetScene;
    SceneByName(start.scene, scene.scene);
    scene.count = static_cast<int32_t>(start.particles);
    scene.countGiven = start.particlesGiven;
    return commands;
}

void LabRun::PostStart(const LabStartOptions& start) {
    for (const LabCommand& command : LabStartCommands(start)) Post(command);
}
