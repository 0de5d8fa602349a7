// The lab's commands, applied between steps without a window: what the
// panel and the keys do to a run, checked on the state hash.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "sim/core/fnv_hash.h"
#include "sim/lab/lab_session.h"
#include "sim/lab/lab_stepper.h"
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

// Waits, up to a minute, until the stepping thread has applied all that
// was posted; returns that frame.
const LabFrame& AllApplied(LabStepper& stepper) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (stepper.Newest().applied != stepper.posted() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return stepper.Newest();
}

uint64_t PositionsHash(const std::vector<Vec3>& positions) {
    StateHash hash;
    hash.Add(positions.data(), positions.size() * sizeof(Vec3));
    return hash.value();
}

// Commands posted to the stepping thread while it runs are applied in
// order between its steps: the same commands given to a LabRun directly
// end in the same state.
TEST(LabStepper, CommandsOnItsThreadGiveTheRunsHash) {
    std::vector<LabCommand> commands;
    const auto add = [&](LabCommand::Kind kind) {
        commands.emplace_back();
        commands.back().kind = kind;
        return &commands.back();
    };
    add(LabCommand::Kind::SetThreads)->threads = TestThreads(2);
    add(LabCommand::Kind::SetPreset)->preset = "water";
    LabCommand* scene = add(LabCommand::Kind::SetScene);
    scene->scene = SceneKind::Dam;
    scene->count = 400;
    for (int i = 0; i < 4; ++i) add(LabCommand::Kind::Step);
    LabCommand* push = add(LabCommand::Kind::Push);
    push->indices = {3, 50};
    push->kicks = {Vec3{0.5f, 1.0f, 0.0f}, Vec3{0.0f, -1.0f, 0.25f}};
    add(LabCommand::Kind::Step);
    LabCommand* thick = add(LabCommand::Kind::SetParameters);
    thick->parameters = WaterParameters();
    thick->parameters.viscosity *= 3.0f;
    for (int i = 0; i < 3; ++i) add(LabCommand::Kind::Step);

    LabRun direct;
    Post(direct, LabCommand::Kind::Pause);
    LabStepper stepper;
    LabCommand pause;
    pause.kind = LabCommand::Kind::Pause;
    stepper.Post(pause);
    stepper.Start();
    for (const LabCommand& command : commands) {
        direct.Post(command);
        stepper.Post(command);
    }
    direct.Apply();
    EXPECT_EQ(AllApplied(stepper).steps, 8);
    stepper.Stop();
    EXPECT_EQ(stepper.run().solver().parameters().viscosity, direct.solver().parameters().viscosity);
    EXPECT_EQ(stepper.run().solver().StateHash(), direct.solver().StateHash());
}

// Every frame read while the thread steps is one step's state whole: its
// positions are those a run gives after the frame's count of steps.
TEST(LabStepper, NoFrameMixesTwoSteps) {
    constexpr int kSteps = 40;
    LabRun direct;
    std::vector<uint64_t> reference;
    std::vector<Vec3> positions;
    for (int step = 0; step <= kSteps; ++step) {
        if (step > 0) direct.Tick();
        positions.clear();
        for (int32_t i = 0; i < direct.solver().count(); ++i) positions.push_back(direct.solver().position(i));
        reference.push_back(PositionsHash(positions));
    }
    LabStepper stepper;
    Post(stepper.run(), LabCommand::Kind::Pause);
    stepper.Start();
    LabCommand step;
    step.kind = LabCommand::Kind::Step;
    for (int i = 0; i < kSteps; ++i) stepper.Post(step);
    int frames = 0, lastStep = -1;
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (lastStep < kSteps && std::chrono::steady_clock::now() < until) {
        const LabFrame& frame = stepper.Newest();
        if (frame.steps == lastStep) continue;
        ++frames;
        lastStep = static_cast<int>(frame.steps);
        ASSERT_GE(lastStep, 0);
        ASSERT_LE(lastStep, kSteps);
        ASSERT_EQ(static_cast<int32_t>(frame.positions.size()), frame.count);
        ASSERT_EQ(PositionsHash(frame.positions), reference[static_cast<size_t>(lastStep)]) << "step " << lastStep;
    }
    stepper.Stop();
    EXPECT_EQ(lastStep, kSteps);
    EXPECT_GT(frames, 1);
}

// Real time on a clock the test moves: the simulated time since the start
// never passes the clock's, and keeps within a step of it when the steps
// take no time.
TEST(LabStepper, RealTimeIsNeverAheadOfTheClock) {
    double now = 100.0;
    LabStepper stepper([&now] { return now; });
    LabStartOptions start;
    start.preset = "water";
    start.scene = "dam";
    start.particles = 300;
    start.particlesGiven = true;
    for (const LabCommand& command : LabStartCommands(start)) stepper.Post(command);
    stepper.Turn();
    ASSERT_EQ(stepper.Newest().pace, LabPace::RealTime);
    const double begun = now;
    const double longest = stepper.Newest().parameters.timeStep;
    // Ticks of the clock from a fraction of a step to several.
    const double ticks[] = {0.0001, 0.0023, 0.0007, 0.011, 0.0002, 0.0041};
    for (int i = 0; i < 120; ++i) {
        now += ticks[i % 6];
        while (stepper.Turn() == 0.0) {
        }
        const LabFrame& frame = stepper.Newest();
        ASSERT_LE(frame.time, now - begun) << "at " << now - begun << " s";
        ASSERT_GT(frame.time, now - begun - longest) << "at " << now - begun << " s";
    }
}

// The demo's beat on a clock the test moves in steps of 10 ms: a step
// every 64 ms, turned as often as a window draws.
TEST(LabStepper, BeatStepsEvery64Ms) {
    double now = 50.0;
    LabStepper stepper([&now] { return now; });
    LabCommand threads;
    threads.kind = LabCommand::Kind::SetThreads;
    threads.threads = TestThreads(1);
    stepper.Post(threads);
    stepper.Turn();
    const int64_t first = stepper.Newest().steps;
    for (int i = 0; i < 256; ++i) {
        now += 0.01;
        stepper.Turn();
    }
    EXPECT_NEAR(static_cast<double>(stepper.Newest().steps - first), 2.56 / kLabBeatSeconds, 1.0);
}

}  // namespace
