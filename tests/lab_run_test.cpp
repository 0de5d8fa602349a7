// The lab's commands, applied between steps without a window: what the
// panel and the keys do to a run, checked on the state hash.

#include <gtest/gtest.h>

#include "sim/lab/lab_session.h"
#include "test_threads.h"

namespace {

void Post(LabRun& run, LabCommand::Kind kind) {
    LabCommand command;
    command.kind = kind;
    run.Post(command);
}

uint64_t Ticks(LabRun& run, int n) {
    for (int i = 0; i < n; ++i) run.Tick();
    return run.solver().StateHash();
}

// The lab opens on the demo's start: a hundred beats are pondsim's hundred
// steps. Paused, beats leave the state alone and a step is exactly one
// step; reset goes back to the first state, and the run then repeats itself.
// On every core, or on the test run's thread count.
TEST(LabRun, PauseStepAndResetOnTheDemosStart) {
#ifdef _WIN32
    const uint64_t after100 = 0x01fc5e319a5fc1f3ull;
#else
    const uint64_t after100 = 0x9dc9c7d09e2e5a4dull;
#endif
    LabRun run;
    LabCommand threads;
    threads.kind = LabCommand::Kind::SetThreads;
    threads.threads = TestThreads(0);
    run.Post(threads);
    const uint64_t start = run.solver().StateHash();
    const uint64_t after99 = Ticks(run, 99);
    Post(run, LabCommand::Kind::Pause);
    EXPECT_EQ(Ticks(run, 5), after99);
    Post(run, LabCommand::Kind::Step);
    EXPECT_EQ(Ticks(run, 3), after100);
    EXPECT_EQ(run.solver().steps(), 100);

    Post(run, LabCommand::Kind::Reset);
    EXPECT_EQ(Ticks(run, 1), start);
    EXPECT_TRUE(run.paused());
    Post(run, LabCommand::Kind::TogglePause);
    EXPECT_EQ(Ticks(run, 99), after99);
}

// A parameter change keeps the particles and changes what follows; the
// preset brings back the preset's parameters with a fresh start, and a
// scene command restarts on that scene and count.
TEST(LabRun, ParametersPresetAndSceneCommands) {
    LabRun plain, thick;
    LabCommand command;
    command.kind = LabCommand::Kind::SetParameters;
    command.parameters = thick.solver().parameters();
    command.parameters.viscosity = 0.5f;
    thick.Post(command);
    Ticks(thick, 20);
    Ticks(plain, 20);
    EXPECT_EQ(thick.solver().steps(), 20);
    EXPECT_EQ(thick.solver().parameters().viscosity, 0.5f);
    EXPECT_NE(thick.solver().StateHash(), plain.solver().StateHash());

    command = LabCommand{};
    command.kind = LabCommand::Kind::SetPreset;
    command.preset = "classic";
    thick.Post(command);
    LabRun fresh;
    EXPECT_EQ(Ticks(thick, 20), Ticks(fresh, 20));

    command = LabCommand{};
    command.kind = LabCommand::Kind::SetScene;
    command.scene = SceneKind::Dam;
    command.count = 2000;
    thick.Post(command);
    thick.Apply();
    EXPECT_EQ(thick.solver().steps(), 0);
    EXPECT_GT(thick.solver().movingCount(), 1500);
    EXPECT_LT(thick.solver().movingCount(), 2500);
    EXPECT_EQ(thick.scene(), SceneKind::Dam);
}

// A push adds its kicks to the named moving particles' velocities and to
// nothing else; an index past them (a wall particle's of the water dam, or
// none) is ignored.
TEST(LabRun, PushKicksTheNamedParticlesOnly) {
    LabRun run;
    LabCommand command;
    command.kind = LabCommand::Kind::SetPreset;
    command.preset = "water";
    run.Post(command);
    command.kind = LabCommand::Kind::SetScene;
    command.scene = SceneKind::Dam;
    command.count = 500;
    run.Post(command);
    Ticks(run, 10);
    const LabSolver& s = run.solver();
    ASSERT_LT(s.movingCount(), s.count());
    command = LabCommand{};
    command.kind = LabCommand::Kind::Push;
    command.indices = {7, s.movingCount(), s.count()};
    command.kicks = {Vec3{1.0f, 2.0f, -3.0f}, Vec3{5.0f, 5.0f, 5.0f}, Vec3{5.0f, 5.0f, 5.0f}};
    const Vec3 before7 = s.velocity(7), before8 = s.velocity(8);
    run.Post(command);
    run.Apply();
    EXPECT_EQ(s.velocity(7).x, before7.x + 1.0f);
    EXPECT_EQ(s.velocity(7).y, before7.y + 2.0f);
    EXPECT_EQ(s.velocity(7).z, before7.z - 3.0f);
    EXPECT_EQ(s.velocity(8).y, before8.y);
    EXPECT_EQ(s.velocity(s.movingCount()).y, 0.0f) << "a wall particle";
}

}  // namespace
