#include "sim/lab/fluid_figures.h"

#include <algorithm>
#include <cmath>

FluidFigures MeasureFluid(const LabSolver& solver) {
    const LabParameters& p = solver.parameters();
    FluidFigures f;
    const int32_t n = solver.movingCount();
    for (int32_t i = 0; i < n; ++i) {
        const double error = std::max(solver.density(i) / static_cast<double>(p.restDensity) - 1.0, 0.0);
        f.meanDensityError += error;
        f.maxDensityError = std::max(f.maxDensityError, error);
        const Vec3 v = solver.velocity(i);
        f.kineticEnergy += 0.5 * static_cast<double>(p.particleMass) *
                           (static_cast<double>(v.x) * v.x + static_cast<double>(v.y) * v.y +
                            static_cast<double>(v.z) * v.z);
    }
    if (n > 0) f.meanDensityError /= n;
    return f;
}
