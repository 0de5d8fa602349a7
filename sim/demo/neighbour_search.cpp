#include "sim/demo/particle_system.h"

#include <cmath>
#include <cstring>

namespace {

constexpr int CellIndex(int x, int y, int z) {
    return (x * 6 + y) * 6 + z;
}

}  // namespace

void ParticleSystem::BinParticles() {
    for (int x = 0; x < gridSize.x; ++x) {
        for (int y = 0; y < gridSize.y; ++y) {
            for (int z = 0; z < gridSize.z; ++z) {
                cells[CellIndex(x, y, z)].count = 0;
            }
        }
    }
    // Every particle lands in the first cell: the search reads an entry's
    // place in its cell as the particle's index, which holds only while the
    // one filled cell keeps the particles in index order.
    GridCell& cell = cells[CellIndex(0, 0, 0)];
    // Records are copied a run of consecutive binned particles at a time:
    // one block copy is much cheaper than thousands of record-sized ones.
    int32_t runStart = 0;
    const auto copyRun = [&](int32_t end) {
        const int32_t length = end - runStart;
        if (length > 0) {
            std::memcpy(&cell.entries[cell.count], &particles[runStart], sizeof(Particle) * static_cast<size_t>(length));
            cell.count += length;
        }
    };
    for (int32_t i = 0; i < particleCount; ++i) {
        Particle& p = particles[i];
        if constexpr (SolverVariant::binningEmptiesCounts) {
            p.neighbourCount = 0;
        }
        const bool full = cell.count + (i - runStart) >= kCellCapacity;
        if (full || std::isnan(p.position.x) || std::isnan(p.position.y) || std::isnan(p.position.z)) {
            copyRun(i);
            runStart = i + 1;
        }
    }
    copyRun(particleCount);
}

void ParticleSystem::FindNeighbours() {
    if constexpr (!SolverVariant::binningEmptiesCounts) {
        for (int32_t i = 0; i < particleCount; ++i) {
            particles[i].neighbourCount = 0;
            std::memset(particles[i].neighbours, 0, sizeof particles[i].neighbours);
        }
    }
    for (int x = 0; x < gridSize.x; ++x) {
        for (int y = 0; y < gridSize.y; ++y) {
            for (int z = 0; z < gridSize.z; ++z) {
                const GridCell& cell = cells[CellIndex(x, y, z)];
                if (search == NeighbourSearch::Grid) {
                    neighbourGrid.Scan(particles, cell, cell.count, boxMin, boxMax);
                } else {
                    ScanAllPairs(cell);
                }
            }
        }
    }
}

// Entry positions stand for particle indices: with all particles binned into
// the first cell in index order, this compares every pair among them.
void ParticleSystem::ScanAllPairs(const GridCell& cell) {
    constexpr int cap = kNeighbourSlots;
    const int n = cell.count;
    for (int a = 0; a < n; ++a) {
        Particle& pa = particles[a];
        for (int b = a + 1; b < n; ++b) {
            if (cell.entries[a].neighbourCount >= cap) break;
            if (pa.neighbourCount >= cap) break;
            if (WithinSearchRadius(pa.position, particles[b].position)) RecordPair(particles, a, b);
        }
    }
}
