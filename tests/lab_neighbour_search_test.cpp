// The lab's neighbour search on its own, against the test of every pair.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>
#include <vector>

#include "sim/lab/lab_neighbour_search.h"

namespace {

struct Cloud {
    std::vector<float> x, y, z;
    std::vector<int32_t> ids;
};

// Clumps and a thin haze in a 0.3 m box, a few particles outside it (the
// grid clamps them into its border cells), one with a NaN coordinate, and
// ids that run backwards, so that the sorted order within a cell is the
// ids' and not the sources'.
Cloud MakeCloud(int32_t n) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> in(0.0f, 0.3f), near(-0.02f, 0.02f);
    Cloud c;
    for (int32_t i = 0; i < n; ++i) {
        float px = in(random), py = in(random), pz = in(random);
        if (i % 3 == 0 && i > 0) {
            px = c.x[i / 2] + near(random);
            py = c.y[i / 2] + near(random);
            pz = c.z[i / 2] + near(random);
        }
        if (i % 997 == 0) px = -0.05f - px;
        c.x.push_back(px);
        c.y.push_back(py);
        c.z.push_back(pz);
        c.ids.push_back(n - 1 - i);
    }
    c.y[n / 2] = std::nanf("");
    return c;
}

bool Partners(const Cloud& c, const LabParameters& p, int32_t a, int32_t b) {
    const float dx = c.x[a] - c.x[b], dy = c.y[a] - c.y[b], dz = c.z[a] - c.z[b];
    return a != b && ((dy * dy + dx * dx) + dz * dz) * p.simScale * p.simScale < p.searchRadius * p.searchRadius;
}

}  // namespace

// Every pair within the search radius, each once per side, nothing else;
// a list in the order (cell, id); the same lists on one thread and three.
// Sources with an id at or past the paired limit, or a NaN, take no part.
TEST(LabNeighbourSearch, FindsEveryPairAsTheTestOfEveryPairDoes) {
    LabParameters p = WaterParameters();
    p.boxMax = Vec3{0.3f, 0.3f, 0.3f};
    const int32_t n = 6000;
    const int32_t pairedIds = n - 50;
    const Cloud c = MakeCloud(n);
    std::vector<std::vector<int32_t>> lists[2];
    int32_t listed = 0;
    for (int threads : {1, 3}) {
        LabParallel parallel;
        parallel.SetThreads(threads);
        LabNeighbourSearch search;
        search.Build(p, c.x.data(), c.y.data(), c.z.data(), n, c.ids.data(), pairedIds, true, parallel);
        auto& out = lists[threads == 1 ? 0 : 1];
        for (int32_t a = 0; a < n; ++a) {
            out.emplace_back();
            search.Partners(p, a, c.x[a], c.y[a], c.z[a], out.back());
            ASSERT_EQ(search.CountPartners(p, a, c.x[a], c.y[a], c.z[a]), static_cast<int32_t>(out.back().size()));
        }
        const auto key = [&](int32_t b) { return std::make_tuple(search.cellOf(b), c.ids[b]); };
        for (int32_t a = 0; a < n; ++a) {
            std::vector<int32_t> expected;
            const bool takesPart = c.ids[a] < pairedIds && !std::isnan(c.y[a]);
            for (int32_t b = 0; b < n && takesPart; ++b) {
                if (c.ids[b] < pairedIds && Partners(c, p, a, b)) expected.push_back(b);
            }
            std::sort(expected.begin(), expected.end(), [&](int32_t u, int32_t v) { return key(u) < key(v); });
            ASSERT_EQ(out[static_cast<size_t>(a)], expected) << "source " << a << ", " << threads << " threads";
            listed += static_cast<int32_t>(expected.size());
        }
    }
    EXPECT_EQ(lists[0], lists[1]);
    // The cloud is dense enough to mean something: some 20 partners each.
    EXPECT_GT(listed, 2 * 15 * n);
}

// With a cap the solver wants, per particle, the partners of higher index
// in ascending order.
TEST(LabNeighbourSearch, FindsThePartnersOfHigherIndex) {
    LabParameters p = ClassicParameters();
    p.boxMax = Vec3{7.5f, 7.5f, 7.5f};
    p.simScale = 0.04f;
    const int32_t n = 3000;
    Cloud c = MakeCloud(n);
    for (auto* v : {&c.x, &c.y, &c.z}) {
        for (float& f : *v) f *= 25.0f;
    }
    LabParallel parallel;
    parallel.SetThreads(2);
    LabNeighbourSearch search;
    search.Build(p, c.x.data(), c.y.data(), c.z.data(), n, nullptr, n, true, parallel);
    search.FindHigherPairs(p, c.x.data(), c.y.data(), c.z.data(), parallel);
    for (int32_t a = 0; a < n; ++a) {
        std::vector<int32_t> expected;
        for (int32_t b = a + 1; b < n && !std::isnan(c.y[a]); ++b) {
            if (Partners(c, p, a, b)) expected.push_back(b);
        }
        ASSERT_EQ(std::vector<int32_t>(search.higherPairs(a), search.higherPairs(a) + search.higherCount(a)), expected)
            << "particle " << a;
    }
}
