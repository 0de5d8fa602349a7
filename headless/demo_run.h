#pragma once

#include "demo/scene.h"
#include "demo/state_file.h"
#include "headless/run.h"

// The demo drivers' side of a headless run: the demo's scene behind the run
// loop, built as the window builds it, and its report.

// Options for this program's driver, before the command line is read.
Options DemoOptions();

// The demo's scene as the run loop sees it.
struct SceneSubject : SteppedSubject {
    Scene& scene;

    explicit SceneSubject(Scene& scene) : scene(scene) {}
    int32_t ParticleCount() const override { return scene.system.particleCount; }
    Vec3 Position(int32_t i) const override { return scene.system.particles[i].position; }
    Vec3 Velocity(int32_t i) const override { return scene.system.particles[i].velocity; }
    Vec3 Acceleration(int32_t i) const override { return scene.system.particles[i].acceleration; }
    float Density(int32_t i) const override { return scene.system.particles[i].density; }
    float Pressure(int32_t i) const override { return scene.system.particles[i].pressure; }
    int32_t NeighbourCount(int32_t i) const override { return scene.system.particles[i].neighbourCount; }
    // Every step advances the fluid by 0.004 s.
    double SimulatedTime(long step) const override { return static_cast<double>(step) * 0.004; }
    void Render() override { scene.Render(); }
    void TimedStep(RunRecord& record, bool timesStages) override;
    void Resize(long width, long height) override {
        scene.Resize(static_cast<int32_t>(width), static_cast<int32_t>(height));
    }
    Vec3 BoxMin() const override { return scene.system.boxMin; }
    Vec3 BoxMax() const override { return scene.system.boxMax; }
    bool SaveState(long step, const char* path) override { return ::SaveState(scene, step, path); }
};


// Builds the scene as the window does (with the offscreen context current
// when anything is drawn), reseeded with --particles or given the loaded
// state. Null, with a message, when there is nothing to draw with.
Scene* SetUpScene(const Options& options, SavedState& saved, RunRecord& record);

// What the run did and how fast: the stage timings, neighbour figures, the
// state hash, memory, each output's write times and, with --check, the soak.
void PrintReport(const Options& options, const Scene& scene, const RunRecord& record);
