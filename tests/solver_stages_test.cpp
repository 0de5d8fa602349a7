// Density, forces and integration of both variants, and the order in which a
// step runs them.

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>

#include "test_support.h"

namespace {

constexpr bool kWide = SolverVariant::particleByParticle;

// The isolated density as the description writes it: the self term h^6 times
// (poly6 coefficient times the mass).
float IsolatedDensity() {
    const float selfTerm = std::bit_cast<float>(0x304862D0u);
    const float poly6 = 315.0f / (powf(0.03f, 9.0f) * 201.06194f);
    return (0.0f + selfTerm) * (poly6 * 0.010543f);
}

float Along(const Vec3& v, int axis) {
    return axis == 0 ? v.x : axis == 1 ? v.y : v.z;
}

bool IsZero(const Vec3& v) {
    return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f;
}

// Densities first for every particle, then forces: the order in which a
// pondsim step sees them, and pondsim-wide's once all densities are current.
void DensityThenForces(ParticleSystem& system) {
    DensityAll(system);
    ForcesAll(system);
}

}  // namespace

TEST(FastSqrt, EstimatesOfFourTwoAndZero) {
    EXPECT_EQ(FastSqrt(4.0f), 2.0f);
    EXPECT_EQ(FastSqrt(2.0f), 1.4142157f);
    EXPECT_NEAR(FastSqrt(2.0f), std::sqrt(2.0f), 3e-6f);
    EXPECT_EQ(FastSqrt(0.0f), 0.0f);
}

TEST(Density, IsolatedParticleAndNeighbourBeyondH) {
    auto system = NewSystem();
    // The second is within the search radius (listed) but 0.04 m away, beyond h.
    Place(*system, {{10.0f, 10.0f, 10.0f}, {11.0f, 10.0f, 10.0f}, {30.0f, 30.0f, 30.0f}});
    ASSERT_EQ(system->particles[0].neighbourCount, 1);
    DensityAll(*system);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(system->particles[i].density, IsolatedDensity()) << i;
        EXPECT_NEAR(system->particles[i].density, 611.76f, 0.01f);
        EXPECT_EQ(system->particles[i].pressure, system->particles[i].density - 0.001f);
        EXPECT_NEAR(system->particles[i].pressure, 611.759f, 0.001f);
    }
}

TEST(Density, PairHalfAUnitApartAndCoincidentNeighbour) {
    auto system = NewSystem();
    Place(*system, {{10.0f, 10.0f, 10.0f}, {10.5f, 10.0f, 10.0f}, {20.0f, 5.0f, 5.0f}, {20.0f, 5.0f, 5.0f}});
    DensityAll(*system);
    const Particle* p = system->particles;
    EXPECT_NEAR(p[0].density, 716.66f, 0.01f);
    EXPECT_EQ(p[1].density, p[0].density);
    EXPECT_FLOAT_EQ(p[2].density, 2.0f * IsolatedDensity());
    EXPECT_EQ(p[3].density, p[2].density);
}

// Two particles at rest, each the other's only neighbour, push apart along
// the axis that joins them: 722.6 at 0.5 box units, and about 3799 at 0.001,
// close enough for the square-root estimate's guard to matter but not to
// cut the distance to 0.
TEST(Forces, PairsRepelAlongEachAxis) {
    const struct {
        int axis;
        float apart, push;
    } cases[] = {{0, 0.5f, 722.6f}, {1, 0.5f, 722.6f}, {2, 0.5f, 722.6f}, {0, 0.001f, 3799.0f}};
    for (const auto& c : cases) {
        auto system = NewSystem();
        const Vec3 offset{c.axis == 0 ? c.apart : 0.0f, c.axis == 1 ? c.apart : 0.0f, c.axis == 2 ? c.apart : 0.0f};
        Place(*system, {{10.0f, 10.0f, 10.0f}, {10.0f + offset.x, 10.0f + offset.y, 10.0f + offset.z}});
        DensityThenForces(*system);
        const Vec3& a0 = system->particles[0].acceleration;
        const Vec3& a1 = system->particles[1].acceleration;
        EXPECT_NEAR(Along(a1, c.axis), c.push, 1e-4f * c.push) << "axis " << c.axis << ", " << c.apart << " apart";
        EXPECT_EQ(Along(a0, c.axis), -Along(a1, c.axis)) << "axis " << c.axis;
        for (int other = 0; other < 3; ++other) {
            if (other == c.axis) continue;
            EXPECT_TRUE(Along(a0, other) == 0.0f && Along(a1, other) == 0.0f) << "axis " << c.axis;
        }
    }
}

TEST(Forces, NothingFromAnEmptyListOrFromNeighboursAtH) {
    auto system = NewSystem();
    // 0.75 box units is exactly h after scaling; 1.0 is beyond it.
    Place(*system, {{10.0f, 10.0f, 10.0f}, {10.75f, 10.0f, 10.0f}, {10.0f, 11.0f, 10.0f}, {30.0f, 30.0f, 30.0f}});
    ASSERT_EQ(system->particles[0].neighbourCount, 2);
    system->particles[1].velocity = Vec3{3.0f, -1.0f, 2.0f};
    for (int i = 0; i < 4; ++i) system->particles[i].acceleration = Vec3{5.0f, 5.0f, 5.0f};
    DensityThenForces(*system);
    for (int i : {0, 3}) EXPECT_TRUE(IsZero(system->particles[i].acceleration)) << i;
}

TEST(Forces, CoincidentPairFeelsViscosityOnly) {
    auto system = NewSystem();
    Place(*system, {{10.0f, 10.0f, 10.0f}, {10.0f, 10.0f, 10.0f}, {20.0f, 20.0f, 20.0f}, {20.0f, 20.0f, 20.0f}});
    Particle* p = system->particles;
    p[0].velocity = Vec3{1.0f, 2.0f, 0.0f};
    p[1].velocity = Vec3{-1.0f, 0.0f, 0.0f};
    // Equal velocities: nothing at all.
    p[2].velocity = p[3].velocity = Vec3{0.5f, -0.25f, 4.0f};
    DensityThenForces(*system);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(Finite(p[i].acceleration)) << i;

    // With no pressure term the acceleration is along the velocity difference
    // (-2, -2, 0) for particle 0 and opposite for particle 1.
    EXPECT_LT(p[0].acceleration.x, 0.0f);
    EXPECT_FLOAT_EQ(p[0].acceleration.y, p[0].acceleration.x);
    EXPECT_EQ(p[0].acceleration.z, 0.0f);
    EXPECT_EQ(p[1].acceleration.x, -p[0].acceleration.x);
    // Size: (dv (t / rho) 1.96488e10) 0.05 0.010543 / rho, with t = h for
    // r = 0 and rho twice the isolated density.
    const double rho = 2.0 * IsolatedDensity();
    const double expected = -2.0 * (0.03 / rho) * 1.96488e10 * 0.05 * 0.010543 / rho;
    EXPECT_NEAR(p[0].acceleration.x, expected, 1e-4 * std::fabs(expected));

    for (int i : {2, 3}) EXPECT_TRUE(IsZero(p[i].acceleration)) << i;
}

TEST(Forces, NeighbourWithoutDensityAddsNothing) {
    auto system = NewSystem();
    Place(*system, {{10.0f, 10.0f, 10.0f}, {10.5f, 10.0f, 10.0f}});
    Particle* p = system->particles;
    p[1].velocity = Vec3{2.0f, 0.0f, 0.0f};
#if PONDSIM_PARTICLE_BY_PARTICLE
    // The first particle of the first step after a reseed.
    system->ComputeDensity(0);
    system->ComputeForces(0);
#else
    system->ComputeDensity();
    p[1].density = 0.0f;
    p[1].pressure = 0.0f;
    system->ComputeForces();
#endif
    EXPECT_TRUE(IsZero(p[0].acceleration));
}

TEST(Forces, FirstStepAfterAReseedStaysFinite) {
    auto system = NewSystem();
    // Pairs, a coincident trio and a dense clump: every case the first step
    // of pondsim-wide meets with neighbours not yet given a density.
    std::vector<Vec3> at = {{10.0f, 10.0f, 10.0f}, {10.5f, 10.0f, 10.0f}, {5.0f, 5.0f, 5.0f},
                            {5.0f, 5.0f, 5.0f},    {5.0f, 5.0f, 5.0f}};
    for (int i = 0; i < 60; ++i) at.push_back(Vec3{20.0f + 0.01f * i, 20.0f, 20.0f - 0.005f * i});
    Place(*system, at);
    for (int step = 0; step < 3; ++step) {
        Step(*system);
        for (int i = 0; i < system->particleCount; ++i) {
            const Particle& p = system->particles[i];
            ASSERT_TRUE(Finite(p.acceleration) && Finite(p.velocity) && Finite(p.position))
                << "step " << step << " particle " << i;
        }
    }
}

namespace {

// One particle alone, at rest in the middle of the box unless moved.
struct Integration : testing::Test {
    std::unique_ptr<ParticleSystem> system = NewSystem();
    Particle* p = nullptr;

    void SetUp() override { Fresh(Vec3{18.0f, 18.0f, 18.0f}); }
    void Fresh(Vec3 at) {
        Place(*system, {at});
        p = &system->particles[0];
    }
};

}  // namespace

TEST_F(Integration, FreeFallFromRest) {
    IntegrateAll(*system);
    EXPECT_FLOAT_EQ(p->velocity.y, -0.0392f);
    EXPECT_NEAR(p->position.y, 18.0f - 0.00392f, 4e-6f);
    EXPECT_TRUE(p->position.x == 18.0f && p->position.z == 18.0f && p->acceleration.y == -9.8f);
}

TEST_F(Integration, RestingOnTheFloorIsPushedUpInTheSameStep) {
    p->position.y = 0.0f;
    IntegrateAll(*system);
    EXPECT_NEAR(p->acceleration.y, kWide ? 790.2f : 70.2f, 1e-3f);
    EXPECT_NEAR(p->velocity.y, kWide ? 3.1608f : 0.2808f, 1e-5f);
    EXPECT_NEAR(p->position.y, kWide ? 0.31608f : 0.02808f, 1e-5f);
}

// The springs reach 0.2 box units (pondsim) or 2 (pondsim-wide) into the box
// and damp the y velocity.
TEST_F(Integration, FloorAndCeilingSprings) {
    const struct {
        float y, vy, pondsim, wide;
    } cases[] = {
        {0.1f, -0.5f, 40.0f + 128.0f - 9.8f, 760.0f + 128.0f - 9.8f},
        {0.3f, 0.5f, -9.8f, 680.0f - 128.0f - 9.8f},
        {36.0f, 0.0f, -80.0f - 9.8f, -800.0f - 9.8f},
        {35.9f, 0.5f, -40.0f - 128.0f - 9.8f, -760.0f - 128.0f - 9.8f},
    };
    for (const auto& c : cases) {
        Fresh(Vec3{18.0f, c.y, 18.0f});
        p->velocity.y = c.vy;
        IntegrateAll(*system);
        EXPECT_NEAR(p->acceleration.y, kWide ? c.wide : c.pondsim, 2e-3f) << "y " << c.y << ", v.y " << c.vy;
    }
}

TEST_F(Integration, AccelerationIsLimitedToLength200) {
    p->acceleration = Vec3{300.0f, 400.0f, 0.0f};
    IntegrateAll(*system);
    EXPECT_NEAR(p->acceleration.x, 120.0f, 1e-4f);
    EXPECT_NEAR(p->acceleration.y, 160.0f - 9.8f, 1e-4f);
    EXPECT_EQ(p->acceleration.z, 0.0f);
    EXPECT_NEAR(p->velocity.x, 0.48f, 1e-6f);

    // Length exactly 200 is kept as it is.
    Fresh(Vec3{18.0f, 18.0f, 18.0f});
    p->acceleration = Vec3{120.0f, 160.0f, 0.0f};
    IntegrateAll(*system);
    EXPECT_EQ(p->acceleration.x, 120.0f);
    EXPECT_EQ(p->acceleration.y, 160.0f - 9.8f);
}

TEST_F(Integration, SideWallsReflectOnlyParticlesMovingOut) {
    // Ends at x = 36.5 moving out: clamped and turned round.
    p->position.x = 36.4f;
    p->velocity.x = 1.0f;
    p->position.z = 0.1f;
    p->velocity.z = -2.0f;
    IntegrateAll(*system);
    EXPECT_EQ(p->position.x, 36.0f);
    EXPECT_EQ(p->velocity.x, -1.0f);
    EXPECT_EQ(p->position.z, 0.0f);
    EXPECT_EQ(p->velocity.z, 2.0f);

    // Ends at x = 36.5 or x = -0.5 already moving back in: left alone.
    for (const float start : {36.6f, -0.6f}) {
        const float back = start > 0.0f ? -1.0f : 1.0f;
        Fresh(Vec3{start, 18.0f, 18.0f});
        p->velocity.x = back;
        IntegrateAll(*system);
        EXPECT_NEAR(p->position.x, start > 0.0f ? 36.5f : -0.5f, 1e-5f);
        EXPECT_EQ(p->velocity.x, back);
    }
}

// pondsim integrates four particles at a time: every case above, and
// non-finite ones, must come out of a shared pass bit for bit as they do
// alone. Eleven particles fill two groups of four and leave three over.
TEST(IntegrationPass, ParticlesTogetherMatchParticlesAlone) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        Vec3 position, velocity, acceleration;
    };
    const Case cases[] = {
        {{18.0f, 18.0f, 18.0f}, {}, {}},
        {{18.0f, 0.0f, 18.0f}, {}, {}},
        {{18.0f, 0.1f, 18.0f}, {0.0f, -0.5f, 0.0f}, {}},
        {{18.0f, 35.9f, 18.0f}, {0.0f, 0.5f, 0.0f}, {}},
        {{18.0f, 18.0f, 18.0f}, {}, {300.0f, 400.0f, 0.0f}},
        {{36.4f, 18.0f, 0.1f}, {1.0f, 0.0f, -2.0f}, {}},
        {{36.6f, 18.0f, 18.0f}, {-1.0f, 0.0f, 0.0f}, {}},
        {{-3.0f, 40.0f, 18.0f}, {-1.0f, 2.0f, 0.5f}, {1e30f, -1e30f, 5.0f}},
        {{18.0f, 18.0f, 18.0f}, {}, {120.0f, 160.0f, 0.0f}},
        {{nan, 18.0f, 18.0f}, {inf, -inf, 0.0f}, {0.0f, nan, inf}},
        {{inf, -inf, 18.0f}, {1.0f, -1.0f, 0.0f}, {-inf, 0.0f, 0.0f}},
    };
    const int count = static_cast<int>(std::size(cases));
    auto together = NewSystem();
    Place(*together, std::vector<Vec3>(count));
    for (int i = 0; i < count; ++i) {
        together->particles[i].position = cases[i].position;
        together->particles[i].velocity = cases[i].velocity;
        together->particles[i].acceleration = cases[i].acceleration;
    }
    IntegrateAll(*together);

    auto alone = NewSystem();
    for (int i = 0; i < count; ++i) {
        Place(*alone, {cases[i].position});
        alone->particles[0].velocity = cases[i].velocity;
        alone->particles[0].acceleration = cases[i].acceleration;
        IntegrateAll(*alone);
        const Particle& a = alone->particles[0];
        const Particle& t = together->particles[i];
        EXPECT_EQ(std::memcmp(&a.position, &t.position, sizeof(Vec3)), 0) << "position of case " << i;
        EXPECT_EQ(std::memcmp(&a.velocity, &t.velocity, sizeof(Vec3)), 0) << "velocity of case " << i;
        EXPECT_EQ(std::memcmp(&a.acceleration, &t.acceleration, sizeof(Vec3)), 0) << "acceleration of case " << i;
    }
}

// Particle 2 of a small cluster: in pondsim its density comes from the
// positions at the start of the step; in pondsim-wide particles 0 and 1 have
// already moved when it is reached.
TEST(StageOrder, DensityOfTheLastParticleOfACluster) {
    auto system = NewSystem();
    Place(*system, {{10.0f, 10.0f, 10.0f}, {10.6f, 10.0f, 10.0f}, {10.3f, 10.5f, 10.0f}});
    system->particles[0].velocity = Vec3{2.0f, 1.0f, 0.0f};
    system->particles[1].velocity = Vec3{-2.0f, 1.5f, 0.5f};
    const std::vector<Particle> start = Snapshot(*system);

    Step(*system);
    const std::vector<Particle> after = Snapshot(*system);

    auto densityOf2 = [&](bool movedNeighbours) {
        std::copy(start.begin(), start.end(), system->particles);
        if (movedNeighbours) {
            system->particles[0].position = after[0].position;
            system->particles[1].position = after[1].position;
        }
        DensityAll(*system);
        return system->particles[2].density;
    };
    const float fromStart = densityOf2(false);
    const float fromMoved = densityOf2(true);
    ASSERT_GT(std::fabs(fromStart - fromMoved), 1.0f) << "the cluster did not move enough to tell";

    EXPECT_EQ(after[2].density, kWide ? fromMoved : fromStart);
    // Particle 0 sees only start-of-step values in both.
    std::copy(start.begin(), start.end(), system->particles);
    DensityAll(*system);
    EXPECT_EQ(after[0].density, system->particles[0].density);
}
