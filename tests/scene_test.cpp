// Reseeding, the input table's count rules, refused allocations, scene
// set-up, and a long run of each variant.

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "test_support.h"
#include "sim/demo/state_hash.h"

namespace {

// The line a reseed prints first, and the one a refused reseed adds.
std::string AllocatingLine(long long count) {
    return "Allocating " + std::to_string(count) + " particles\n";
}

std::string RefusedLines(long long count) {
    return AllocatingLine(count) + "Unable to allocate " + std::to_string(count) + " particles\n";
}

std::string ReseedLog(ParticleSystem& system, int32_t count) {
    testing::internal::CaptureStdout();
    system.Reseed(count);
    return testing::internal::GetCapturedStdout();
}

struct SetUpScene : testing::Test {
    std::unique_ptr<Scene> scene = NewScene();
    std::string setupLog;

    void SetUp() override {
        testing::internal::CaptureStdout();
        scene->Setup();
        setupLog = testing::internal::GetCapturedStdout();
    }

    std::string Input(const char* name, bool state) {
        testing::internal::CaptureStdout();
        scene->SetInput(name, state);
        return testing::internal::GetCapturedStdout();
    }
};

}  // namespace

TEST(Reseed, ZeroParticlesGiveAnEmptyButRealArray) {
    auto system = NewSystem();
    EXPECT_EQ(ReseedLog(*system, 0), AllocatingLine(0));
    EXPECT_NE(system->particles, nullptr);
    EXPECT_EQ(system->particleCount, 0);
    EXPECT_EQ(system->cells[0].count, 0);
    Step(*system);
    EXPECT_EQ(system->particleCount, 0);
}

TEST(Reseed, SameCountStillScattersAfresh) {
    auto system = NewSystem();
    ReseedLog(*system, 200);
    const std::vector<Particle> first = Snapshot(*system);
    EXPECT_EQ(ReseedLog(*system, 200), AllocatingLine(200));
    ASSERT_EQ(system->particleCount, 200);
    int moved = 0;
    for (int i = 0; i < 200; ++i) {
        if (std::memcmp(&first[i].position, &system->particles[i].position, sizeof(Vec3)) != 0) ++moved;
    }
    EXPECT_GT(moved, 190);
}

TEST(Reseed, StartsEveryParticleFromRestWithFreshLists) {
    auto system = NewSystem();
    for (int round = 0; round < 3; ++round) {
        // Dirty every byte, so that a recycled block would show through.
        std::memset(static_cast<void*>(system->particles), 0xA5, sizeof(Particle) * system->particleCount);
        ReseedLog(*system, 300);
        for (int i = 0; i < 300; ++i) {
            const Particle& p = system->particles[i];
            for (float f : {p.velocity.x, p.velocity.y, p.velocity.z, p.acceleration.x, p.acceleration.y,
                            p.acceleration.z, p.pressure, p.density, p.reserved1})
                ASSERT_EQ(f, 0.0f) << "particle " << i;
            ASSERT_EQ(p.reserved2, 0u) << i;
            for (int k = p.neighbourCount; k < kNeighbourSlots; ++k) ASSERT_EQ(p.neighbours[k], 0) << i;
        }
        // The lists are those of a search on the new positions.
        const std::vector<Particle> seeded = Snapshot(*system);
        system->BinParticles();
        system->FindNeighbours();
        for (int i = 0; i < 300; ++i) ASSERT_EQ(ListOf(seeded[i]), ListOf(system->particles[i])) << i;
    }
}

TEST(Reseed, LayoutFollowsRandAxisByAxis) {
    auto system = NewSystem();
    srand(1);
    ReseedLog(*system, 3000);
    const std::vector<Particle> layout = Snapshot(*system);
    srand(1);
    ReseedLog(*system, 3000);
    srand(1);
    for (int i = 0; i < 3000; ++i) {
        const Vec3& at = system->particles[i].position;
        ASSERT_EQ(std::memcmp(&at, &layout[i].position, sizeof(Vec3)), 0) << i;
        for (float c : {at.x, at.y, at.z}) {
            const float expected = static_cast<float>(rand() % 0x7fff) / 32766.0f * 36.0f + 0.0f;
            ASSERT_EQ(c, expected) << "particle " << i;
            ASSERT_TRUE(c >= 0.0f && c <= 36.0f) << "particle " << i;
        }
    }
}

TEST(Reseed, RefusedAllocationKeepsTheOldParticles) {
    auto system = NewSystem();
    Step(*system);
    const Particle* before = system->particles;
    const std::vector<Particle> old = Snapshot(*system);
    {
        AddressSpaceCap cap;
        EXPECT_EQ(ReseedLog(*system, INT32_MAX), RefusedLines(INT32_MAX));
    }
    EXPECT_EQ(system->particles, before);
    ASSERT_EQ(system->particleCount, 500);
    EXPECT_EQ(std::memcmp(system->particles, old.data(), sizeof(Particle) * old.size()), 0);
    Step(*system);
    for (int i = 0; i < 500; ++i) ASSERT_TRUE(Finite(system->particles[i].position)) << i;
}

TEST_F(SetUpScene, PlacesTheCameraAndUsesASquareAspectWhileNoSizeIsKnown) {
    EXPECT_EQ(setupLog, AllocatingLine(3000));
    EXPECT_EQ(scene->requestedCount, 3000);
    EXPECT_EQ(scene->system.particleCount, 3000);
    EXPECT_EQ(scene->nearPlane, 1.0f);
    EXPECT_EQ(scene->farPlane, 5001.0f);
    const Camera& c = scene->camera;
    EXPECT_TRUE(c.position.x == 20.0f && c.position.y == 8.0f && c.position.z == 80.0f);
    EXPECT_TRUE(c.up.x == 0.0f && c.up.y == 1.0f && c.up.z == 0.0f);
    EXPECT_TRUE(c.back.x == 0.0f && c.back.y == 0.0f && c.back.z == 1.0f);
    for (int i = 0; i < 16; ++i) EXPECT_TRUE(std::isfinite(scene->projection[i])) << i;
    EXPECT_EQ(scene->projection[0], 2.4142137f);
    EXPECT_EQ(scene->projection[5], 2.4142137f);
    EXPECT_EQ(scene->projection[14], -2.0004f);
}

TEST_F(SetUpScene, NamesMatchExactly) {
    for (const char* name : {"Up", "UP", "up ", " up", "upx", "", "left button", "rightbutton2", "Escape"}) {
        EXPECT_EQ(Input(name, true), "") << '"' << name << '"';
    }
    for (int slot = 0; slot < 11; ++slot) EXPECT_EQ(scene->input.flags[slot], 0) << slot;
    EXPECT_EQ(scene->requestedCount, 3000);
}

// Only the middle and right presses reseed; escape and control are recorded
// and do nothing else.
TEST_F(SetUpScene, EachNameSetsAndClearsItsOwnSlot) {
    const Particle* particles = scene->system.particles;
    for (int slot = 0; slot < 11; ++slot) {
        if (slot == InputState::kMiddleButton || slot == InputState::kRightButton) continue;
        EXPECT_EQ(Input(kInputNames[slot], true), "") << kInputNames[slot];
        for (int other = 0; other < 11; ++other)
            EXPECT_EQ(scene->input.flags[other], other == slot ? 1 : 0) << kInputNames[slot] << " / " << other;
        EXPECT_EQ(Input(kInputNames[slot], false), "");
        EXPECT_EQ(scene->input.flags[slot], 0) << kInputNames[slot];
    }
    EXPECT_EQ(scene->system.particles, particles);
    EXPECT_EQ(scene->requestedCount, 3000);
}

TEST_F(SetUpScene, MiddlePressesTakeAHundredDownToZeroAndStillReseedThere) {
    EXPECT_EQ(Input("middlebutton", true), AllocatingLine(2900));
    EXPECT_EQ(scene->requestedCount, 2900);
    EXPECT_EQ(scene->system.particleCount, 2900);
    EXPECT_EQ(scene->input.flags[InputState::kMiddleButton], 1);
    Input("middlebutton", false);
    for (int press = 2; press <= 30; ++press) {
        EXPECT_EQ(Input("middlebutton", true), AllocatingLine(3000 - 100 * press));
        Input("middlebutton", false);
    }
    EXPECT_EQ(scene->requestedCount, 0);
    EXPECT_EQ(scene->system.particleCount, 0);
    const Particle* empty = scene->system.particles;
    EXPECT_EQ(Input("middlebutton", true), AllocatingLine(0));
    EXPECT_EQ(scene->requestedCount, 0);
    EXPECT_NE(scene->system.particles, nullptr);
    EXPECT_NE(scene->system.particles, empty);

    // With no particles a tick still moves the camera.
    Input("up", true);
    scene->Step();
    EXPECT_EQ(scene->camera.position.z, 78.5f);

    EXPECT_EQ(Input("rightbutton", true), AllocatingLine(100));
    EXPECT_EQ(scene->system.particleCount, 100);
}

TEST_F(SetUpScene, MiddlePressBelowAHundredGivesZero) {
    scene->requestedCount = 50;
    EXPECT_EQ(Input("middlebutton", true), AllocatingLine(0));
    EXPECT_EQ(scene->requestedCount, 0);
}

TEST_F(SetUpScene, RightPressAddsAHundredAndReleasesChangeNothing) {
    EXPECT_EQ(Input("rightbutton", true), AllocatingLine(3100));
    EXPECT_EQ(scene->system.particleCount, 3100);
    EXPECT_EQ(scene->input.flags[InputState::kRightButton], 1);
    const Particle* particles = scene->system.particles;
    EXPECT_EQ(Input("rightbutton", false), "");
    EXPECT_EQ(scene->input.flags[InputState::kRightButton], 0);
    EXPECT_EQ(Input("middlebutton", false), "");
    EXPECT_EQ(scene->requestedCount, 3100);
    EXPECT_EQ(scene->system.particles, particles);
    EXPECT_EQ(scene->system.particleCount, 3100);
}

TEST_F(SetUpScene, RequestSaturatesAndARefusedReseedBringsItBack) {
    AddressSpaceCap cap;
    const Particle* particles = scene->system.particles;
    for (int32_t start : {INT32_MAX - 50, INT32_MAX}) {
        scene->requestedCount = start;
        EXPECT_EQ(Input("rightbutton", true), RefusedLines(INT32_MAX)) << start;
        EXPECT_EQ(scene->requestedCount, 3000);
        EXPECT_EQ(scene->system.particleCount, 3000);
        EXPECT_EQ(scene->system.particles, particles);
    }
    EXPECT_EQ(Input("middlebutton", true), AllocatingLine(2900));
}

// A refusal in the middle of a run leaves nothing behind: the scene steps on
// bit for bit as a twin that never asked, with its counts in agreement.
TEST_F(SetUpScene, ARefusedReseedMidRunStepsOnAsIfItNeverHappened) {
    std::unique_ptr<Scene> twin = NewScene();
    testing::internal::CaptureStdout();
    twin->Setup();
    testing::internal::GetCapturedStdout();
    // The scatter draws on the shared random sequence: start from one state.
    std::memcpy(twin->system.particles, scene->system.particles, sizeof(Particle) * 3000);
    for (int step = 0; step < 50; ++step) {
        scene->Step();
        twin->Step();
    }
    ASSERT_EQ(std::memcmp(scene->system.particles, twin->system.particles, sizeof(Particle) * 3000), 0);
    {
        AddressSpaceCap cap;
        scene->requestedCount = INT32_MAX;
        ASSERT_EQ(Input("rightbutton", true), RefusedLines(INT32_MAX));
    }
    ASSERT_EQ(scene->requestedCount, 3000);
    ASSERT_EQ(scene->system.particleCount, 3000);
    for (int step = 0; step < 200; ++step) {
        scene->Step();
        twin->Step();
        ASSERT_EQ(std::memcmp(scene->system.particles, twin->system.particles, sizeof(Particle) * 3000), 0)
            << "step " << step;
    }
}

// The fluid pinned: the state hash of the program's start after 100 and 1000
// steps, as the headless drivers print it and README.md lists it. Any change
// to what the solver computes changes these, and must change them here and
// there in the same commit.
TEST_F(SetUpScene, DefaultStartIsPinnedAndStaysInTheBoxFor2000Steps) {
    const bool wide = kNeighbourSlots == 64;
#ifdef _WIN32
    // The Microsoft runtime's rand() scatters another start, the one the
    // Linux drivers reach with --rand msvcrt; README.md lists both.
    const uint64_t after100 = wide ? 0xba6b2c827fe58f2dull : 0x01fc5e319a5fc1f3ull;
    const uint64_t after1000 = wide ? 0x6119337dce921b32ull : 0xcc510f8f6df8110eull;
#else
    const uint64_t after100 = wide ? 0x6d7d488af401c1fdull : 0x9dc9c7d09e2e5a4dull;
    const uint64_t after1000 = wide ? 0x0d49b70da3e06016ull : 0x4994576596b7f9efull;
#endif
    // The construction's 500 particles from the generator as a program finds
    // it, then set-up's 3000.
    srand(1);
    ReseedLog(scene->system, 500);
    ReseedLog(scene->system, 3000);
    for (int step = 1; step <= 2000; ++step) {
        scene->Step();
        if (step == 100 || step == 1000) {
            EXPECT_EQ(HashParticleState(scene->system), step == 100 ? after100 : after1000) << "after " << step;
        }
    }
    const ParticleSystem& system = scene->system;
    ASSERT_EQ(system.particleCount, 3000);
    int withNeighbours = 0;
    for (int i = 0; i < 3000; ++i) {
        const Particle& p = system.particles[i];
        ASSERT_TRUE(Finite(p.velocity) && Finite(p.acceleration) && std::isfinite(p.density)) << i;
        for (float c : {p.position.x, p.position.y, p.position.z}) {
            ASSERT_TRUE(c >= 0.0f && c <= 36.0f) << "particle " << i << " at " << c;
        }
        if (p.neighbourCount > 0) ++withNeighbours;
    }
    // The fluid has settled into a body, not stayed a scattered gas.
    EXPECT_GT(withNeighbours, 2000);
}
