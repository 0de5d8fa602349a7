// Binning and the neighbour search: which pairs are found, the list caps, and
// what happens to particles the single cell cannot or will not take.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <set>

#include "test_support.h"

namespace {

constexpr int kCap = SolverVariant::neighbourSlots;

void Search(ParticleSystem& system) {
    system.BinParticles();
    system.FindNeighbours();
}

// Distinct positions inside a cube of side 0.5 at corner c: all within 1.5 of
// each other.
std::vector<Vec3> Clump(int count, Vec3 c) {
    std::vector<Vec3> at;
    for (int i = 0; i < count; ++i) {
        at.push_back(Vec3{c.x + 0.5f * static_cast<float>(i % 7) / 7.0f, c.y + 0.5f * static_cast<float>(i % 5) / 5.0f,
                          c.z + 0.5f * static_cast<float>(i) / static_cast<float>(count)});
    }
    return at;
}

void ExpectWellFormedLists(const ParticleSystem& system, int binned) {
    for (int i = 0; i < system.particleCount; ++i) {
        const Particle& p = system.particles[i];
        ASSERT_GE(p.neighbourCount, 0) << i;
        ASSERT_LE(p.neighbourCount, kCap) << i;
        for (int k = 0; k < p.neighbourCount; ++k) {
            const int j = p.neighbours[k];
            ASSERT_NE(j, i) << "particle " << i << " lists itself";
            ASSERT_GE(j, 0) << i;
            ASSERT_LT(j, binned) << i;
            if (k > 0) {
                ASSERT_LT(p.neighbours[k - 1], j) << "particle " << i << " not ascending or repeated";
            }
        }
    }
}

}  // namespace

TEST(NeighbourSearch, RadiusOfExactlyOneAndAHalfIsInclusiveInSinglePrecision) {
    auto system = NewSystem();
    // dy^2 is 2^-22, one unit in the last place of 2.25.
    const float dy = 0.00048828125f;
    ASSERT_EQ(dy * dy + 1.5f * 1.5f, std::nextafter(2.25f, 3.0f));
    Place(*system, {{10.0f, 10.0f, 10.0f}, {11.5f, 10.0f, 10.0f}, {20.0f, 10.0f, 10.0f}, {21.5f, 10.0f + dy, 10.0f}});
    EXPECT_EQ(ListOf(system->particles[0]), std::vector<int32_t>{1});
    EXPECT_EQ(ListOf(system->particles[1]), std::vector<int32_t>{0});
    EXPECT_EQ(system->particles[2].neighbourCount, 0);
    EXPECT_EQ(system->particles[3].neighbourCount, 0);

    // Verdicts at the edge of the radius that depend on the grid's rounding
    // margin (the last two lie 1.5 apart across two cells of a grid that
    // starts at the first) and on the grouping of the squared distance.
    Place(*system, {{-2.20875168f, 10.0f, 10.0f}, {0.791248024f, 10.0f, 10.0f}, {2.29124808f, 10.0f, 10.0f}});
    EXPECT_EQ(ListOf(system->particles[1]), std::vector<int32_t>{2});
    EXPECT_EQ(ListOf(system->particles[2]), std::vector<int32_t>{1});
    Place(*system, {{12.8894186f, 14.6995564f, 13.2907772f}, {12.9742327f, 14.876359f, 11.8036499f}});
    EXPECT_EQ(system->particles[0].neighbourCount, 0);
}

TEST(NeighbourSearch, NoneOrOneParticleAndCoincidentParticles) {
    auto system = NewSystem();
    Place(*system, {});
    Place(*system, {{1.0f, 2.0f, 3.0f}});
    EXPECT_EQ(system->particles[0].neighbourCount, 0);
    Place(*system, {{1.0f, 2.0f, 3.0f}, {1.0f, 2.0f, 3.0f}});
    EXPECT_EQ(ListOf(system->particles[0]), std::vector<int32_t>{1});
    EXPECT_EQ(ListOf(system->particles[1]), std::vector<int32_t>{0});
}

// With no list full, the search finds exactly the pairs closer than 1.5 box
// units, wherever they are in the box.
TEST(NeighbourSearch, FindsExactlyThePairsWithinTheRadius) {
    auto system = NewSystem();
    srand(11);
    testing::internal::CaptureStdout();
    system->Reseed(3000);
    testing::internal::GetCapturedStdout();
    Search(*system);
    ExpectWellFormedLists(*system, 3000);

    const Particle* p = system->particles;
    int pairs = 0;
    for (int a = 0; a < 3000; ++a) {
        ASSERT_LT(p[a].neighbourCount, kCap) << "a full list would make the check meaningless";
        const std::vector<int32_t> list = ListOf(p[a]);
        const std::set<int32_t> listed(list.begin(), list.end());
        for (int b = 0; b < 3000; ++b) {
            if (b == a) continue;
            const double dx = p[a].position.x - p[b].position.x;
            const double dy = p[a].position.y - p[b].position.y;
            const double dz = p[a].position.z - p[b].position.z;
            const double d = std::sqrt(dx * dx + dy * dy + dz * dz);
            if (std::fabs(d - 1.5) < 1e-4) continue;  // too close to call in double
            EXPECT_EQ(listed.count(b) == 1, d < 1.5) << a << " and " << b << " at " << d;
            if (d < 1.5) ++pairs;
        }
    }
    EXPECT_GT(pairs, 1000);  // the layout really has pairs to find
}

TEST(NeighbourSearch, FullListsStayWithinTheCap) {
    auto system = NewSystem();
    Place(*system, Clump(150, Vec3{3.0f, 3.0f, 3.0f}));
    for (int search = 0; search < 3; ++search) {
        ExpectWellFormedLists(*system, 150);
        if (search == 0) {
            // Everyone scans in the first search after a reseed, and the
            // lists fill up in blocks of cap + 1 particles that hold each
            // other and nobody outside: the first of each block is in no
            // earlier list, since every scan before it stopped short.
            for (int i = 0; i < 150; ++i) {
                const int first = i / (kCap + 1) * (kCap + 1);
                std::vector<int32_t> block;
                for (int j = first; j < std::min(first + kCap + 1, 150); ++j)
                    if (j != i) block.push_back(j);
                ASSERT_EQ(ListOf(system->particles[i]), block) << "particle " << i;
            }
        }
        Search(*system);
    }
}

// Forty particles all within reach of each other and of nothing else, more
// than a list of 32 holds: by the grid search and by the all-pairs scan it
// stands in for. Nothing is written past a full list: the word after the
// slots keeps what it held.
TEST(NeighbourSearch, FortyParticleClusterAlternatesOnlyInPondsim) {
    constexpr uint32_t kUntouched = 0xfeedf00du;
    for (NeighbourSearch kind : {NeighbourSearch::Grid, NeighbourSearch::Reference}) {
        SCOPED_TRACE(kind == NeighbourSearch::Grid ? "grid" : "all-pairs scan");
        auto system = NewSystem();
        system->search = kind;
        std::vector<Vec3> at = Clump(40, Vec3{10.0f, 10.0f, 10.0f});
        at.push_back(Vec3{30.0f, 30.0f, 30.0f});
        Place(*system, at);
        // Searched again as just after the reseed, with the word marked.
        for (int i = 0; i < 41; ++i) {
            system->particles[i].neighbourCount = 0;
            system->particles[i].reserved2 = kUntouched;
        }
        Search(*system);
        for (int search = 0; search < 4; ++search) {
            for (int i = 0; i < 41; ++i) {
                ASSERT_EQ(system->particles[i].reserved2, kUntouched) << "search " << search << " particle " << i;
            }
            if constexpr (SolverVariant::binningEmptiesCounts) {
                for (int i = 0; i < 40; ++i) {
                    std::vector<int32_t> others;
                    for (int j = 0; j < 40; ++j)
                        if (j != i) others.push_back(j);
                    ASSERT_EQ(ListOf(system->particles[i]), others) << "search " << search << " particle " << i;
                }
            } else {
                // When 0 to 32 scan, they fill up on each other and never
                // reach 33 to 39, which then pair among themselves; a search
                // later the full ones do not scan and, with nobody below to
                // add them, end up empty.
                const bool scanned = search % 2 == 0;
                for (int i = 0; i < 40; ++i) {
                    std::vector<int32_t> expected;
                    const int first = i <= 32 ? 0 : 33, last = i <= 32 ? 32 : 39;
                    if (i > 32 || scanned) {
                        for (int j = first; j <= last; ++j)
                            if (j != i) expected.push_back(j);
                    }
                    ASSERT_EQ(ListOf(system->particles[i]), expected) << "search " << search << " particle " << i;
                }
            }
            EXPECT_EQ(system->particles[40].neighbourCount, 0);
            Search(*system);
        }
    }
}

TEST(NeighbourSearch, OnlyTheFirst4000AreBinnedButAllAreMoved) {
    auto system = NewSystem();
    std::vector<Vec3> at;
    for (int i = 0; i < 4100; ++i) {
        // Particles 4000 and on share the places of 0 to 99 and so would be
        // their neighbours if they were searched.
        const int k = i < 4000 ? i : i - 4000;
        at.push_back(Vec3{static_cast<float>(k % 20) * 1.8f, 2.0f + static_cast<float>(k / 400) * 3.0f,
                          static_cast<float>((k / 20) % 20) * 1.8f});
    }
    // The last two searched particles are a pair.
    at[3999].x = at[3998].x + 0.5f;
    Place(*system, at);
    EXPECT_EQ(system->cells[0].count, 4000);
    ExpectWellFormedLists(*system, 4000);
    EXPECT_EQ(system->particles[0].neighbourCount, 0);  // lattice spacing 1.8
    EXPECT_EQ(ListOf(system->particles[3998]), std::vector<int32_t>{3999});
    EXPECT_EQ(ListOf(system->particles[3999]), std::vector<int32_t>{3998});
    for (int i = 4000; i < 4100; ++i) EXPECT_EQ(system->particles[i].neighbourCount, 0) << i;

    Step(*system);
    ExpectWellFormedLists(*system, 4000);
    for (int i = 4000; i < 4100; ++i) {
        EXPECT_EQ(system->particles[i].neighbourCount, 0) << i;
        EXPECT_LT(system->particles[i].position.y, at[i].y) << "particle " << i << " was not integrated";
    }
}

// Binning skips the NaN particle, but the search still reads entry places as
// indices: it pairs 0 to 2 (the NaN one among them, never matching) and
// leaves out particle 3, the last one copied. A particle whose position
// turns NaN in any component also loses the list it had.
TEST(NeighbourSearch, NaNPositionShiftsTheSearchedIndices) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (int axis = 0; axis < 3; ++axis) {
        auto system = NewSystem();
        Place(*system, {{10.0f, 10.0f, 10.0f}, {10.2f, 10.0f, 10.0f}, {10.5f, 10.0f, 10.0f}, {11.0f, 10.0f, 10.0f}});
        ASSERT_EQ(system->particles[1].neighbourCount, 3);
        Vec3& turned = system->particles[1].position;
        (axis == 0 ? turned.x : axis == 1 ? turned.y : turned.z) = nan;
        Search(*system);
        EXPECT_EQ(system->cells[0].count, 3) << "NaN in axis " << axis;
        for (int k = 0; k < 3; ++k) {
            const float copied = system->cells[0].entries[k].position.x;
            EXPECT_EQ(copied, system->particles[k == 0 ? 0 : k + 1].position.x) << "entry " << k << ", axis " << axis;
        }
        EXPECT_EQ(ListOf(system->particles[0]), std::vector<int32_t>{2}) << axis;
        EXPECT_EQ(system->particles[1].neighbourCount, 0) << axis;
        EXPECT_EQ(ListOf(system->particles[2]), std::vector<int32_t>{0}) << axis;
        EXPECT_EQ(system->particles[3].neighbourCount, 0) << axis;
    }
}

TEST(NeighbourSearch, ParticlesOutsideTheBoxAreBinnedAndPaired) {
    auto system = NewSystem();
    Place(*system, {{-5.0f, 40.0f, 10.0f}, {-5.5f, 40.0f, 10.0f}, {50.0f, -3.0f, 100.0f}});
    EXPECT_EQ(system->cells[0].count, 3);
    EXPECT_EQ(ListOf(system->particles[0]), std::vector<int32_t>{1});
    EXPECT_EQ(ListOf(system->particles[1]), std::vector<int32_t>{0});
    EXPECT_EQ(system->particles[2].neighbourCount, 0);
}

// The grid search's four-lane pair tests, which processors without AVX2 and
// the browser run, against the all-pairs scan. Groups of 1 to 8 particles,
// one column of them a little over the radius apart, staggered so that some
// are in reach of the next: the runs of slots taken four at a time end at
// every remainder, and the slot after a run is often a particle in reach.
TEST(NeighbourSearch, FourLanePairTestsFindTheListsOfTheScan) {
    std::vector<Vec3> at;
    for (int cell = 0; cell < 16; ++cell) {
        for (int k = 0; k <= cell % 8; ++k) {
            at.push_back(Vec3{10.0f + 0.1f * static_cast<float>(k), 10.3f + 1.6f * static_cast<float>(cell % 4),
                              10.3f + 1.6f * static_cast<float>(cell / 4) + 0.05f * static_cast<float>(k)});
        }
    }
    auto grid = NewSystem();
    grid->neighbourGrid.widePairTests = false;
    auto scan = NewSystem();
    scan->search = NeighbourSearch::Reference;
    Place(*grid, at);
    Place(*scan, at);
    int pairs = 0;
    for (size_t i = 0; i < at.size(); ++i) {
        ASSERT_EQ(ListOf(grid->particles[i]), ListOf(scan->particles[i])) << "particle " << i;
        pairs += scan->particles[i].neighbourCount;
    }
    EXPECT_GT(pairs, static_cast<int>(at.size()) * 4);
}
