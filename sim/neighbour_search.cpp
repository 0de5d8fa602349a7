#include "sim/particle_system.h"

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
    for (int32_t i = 0; i < particleCount; ++i) {
        Particle& p = particles[i];
        if constexpr (SolverVariant::binningEmptiesCounts) {
            p.neighbourCount = 0;
        }
        if (std::isnan(p.position.x) || std::isnan(p.position.y) || std::isnan(p.position.z)) {
            continue;
        }
        if (cell.count >= kCellCapacity) {
            continue;
        }
        cell.entries[cell.count] = p;
        ++cell.count;
    }
}

void ParticleSystem::FindNeighbours() {
    if constexpr (!SolverVariant::binningEmptiesCounts) {
        for (int32_t i = 0; i < particleCount; ++i) {
            particles[i].neighbourCount = 0;
            std::memset(particles[i].neighbours, 0, sizeof particles[i].neighbours);
        }
    }
    constexpr int cap = kNeighbourSlots;
    for (int x = 0; x < gridSize.x; ++x) {
        for (int y = 0; y < gridSize.y; ++y) {
            for (int z = 0; z < gridSize.z; ++z) {
                const GridCell& cell = cells[CellIndex(x, y, z)];
                const int n = cell.count;
                for (int a = 0; a < n; ++a) {
                    Particle& pa = particles[a];
                    for (int b = a + 1; b < n; ++b) {
                        if (cell.entries[a].neighbourCount >= cap) break;
                        if (pa.neighbourCount >= cap) break;
                        Particle& pb = particles[b];
                        const float dx = pa.position.x - pb.position.x;
                        const float dy = pa.position.y - pb.position.y;
                        const float dz = pa.position.z - pb.position.z;
                        const float s = ((dy * dy + dx * dx) + dz * dz) * 0.04f * 0.04f;
                        if (s < 0.0036f) {
                            pa.neighbours[pa.neighbourCount] = b;
                            ++pa.neighbourCount;
                            if (pb.neighbourCount < cap) {
                                pb.neighbours[pb.neighbourCount] = a;
                                ++pb.neighbourCount;
                            }
                        }
                    }
                }
            }
        }
    }
}
