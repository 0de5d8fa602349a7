#include "sim/lab/dam_probe.h"

#include <algorithm>
#include <cmath>
#include <vector>

DamMeasure MeasureDam(const LabSolver& solver) {
    const LabParameters& p = solver.parameters();
    const float band = 2.0f * p.particleSpacing / p.simScale;
    float top = p.boxMin.y;
    std::vector<float> floor;
    for (int32_t i = 0; i < solver.movingCount(); ++i) {
        const Vec3 x = solver.position(i);
        if (x.y - p.boxMin.y < band) floor.push_back(x.x);
        if (x.x - p.boxMin.x < band) top = std::max(top, x.y);
    }
    std::sort(floor.begin(), floor.end());
    float front = p.boxMin.x;
    for (const float x : floor) {
        if (x - front > band) break;
        front = x;
    }
    DamMeasure m;
    m.front = static_cast<double>(front - p.boxMin.x) * p.simScale + p.particleSpacing / 2.0;
    m.height = static_cast<double>(top - p.boxMin.y) * p.simScale + p.particleSpacing / 2.0;
    return m;
}

double DamTime(double seconds, double columnWidth, double gravity) {
    return seconds * std::sqrt(2.0 * gravity / columnWidth);
}
