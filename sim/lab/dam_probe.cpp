#include "sim/lab/dam_probe.h"

#include <algorithm>
#include <cmath>

DamMeasure MeasureDam(const LabSolver& solver) {
    const LabParameters& p = solver.parameters();
    const float band = 2.0f * p.particleSpacing / p.simScale;
    float front = p.boxMin.x;
    float top = p.boxMin.y;
    for (int32_t i = 0; i < solver.movingCount(); ++i) {
        const Vec3 x = solver.position(i);
        if (x.y - p.boxMin.y < band) front = std::max(front, x.x);
        if (x.x - p.boxMin.x < band) top = std::max(top, x.y);
    }
    DamMeasure m;
    m.front = static_cast<double>(front - p.boxMin.x) * p.simScale + p.particleSpacing / 2.0;
    m.height = static_cast<double>(top - p.boxMin.y) * p.simScale + p.particleSpacing / 2.0;
    return m;
}

double DamTime(double seconds, double columnWidth, double gravity) {
    return seconds * std::sqrt(2.0 * gravity / columnWidth);
}
