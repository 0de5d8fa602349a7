#include "sim/lab/lab_parameters.h"

#include <algorithm>
#include <cmath>

namespace {

// The demo's literals for pi and 64 pi; the product of the first by 64 is
// the second, exactly.
constexpr float kPi = 3.1415927f;

}  // namespace

LabParameters ClassicParameters() {
    return LabParameters{};
}

// Water at the demo's kernel size. The choices, with the reasons:
// - h = 3 cm as the demo's; spacing h / 2, which puts some 25 to 30
//   particles inside a kernel; a cube of water a particle, whose lattice
//   the cubic spline sums to the rest density within 3e-5.
// - The divergence-free solver, tolerances 0.05 % (density) and 0.1 %
//   (divergence): the dam break's mean compression stays near 0.05 %.
// - Water's viscosity, 0.001 Pa s, and XSPH at 0.1: at 0.05 a dam of 2000
//   particles still had 1.7 % of its peak kinetic energy after 5 s, at 0.1
//   0.6 %.
// - Friction with the walls, 3 Pa s: with water's viscosity alone the dam's
//   surge ran up to 20 % ahead of Koshizuka and Oka's, at 1 Pa s 11 %, at 2
//   Pa s 10 %, at 3 Pa s 8 % (16 000 particles), and the dam of 2000 settles
//   to 0.14 % of its peak kinetic energy.
// - One layer of wall particles outside the floor and the side walls, each
//   with its own volume (h = 2 spacings: a second layer is out of reach of
//   the fluid); the demo's floor springs are off (zero reach), its side-wall
//   reflection stays as a last resort.
// - The step at most 0.4 h / fastest speed and 2 ms: at 5 ms a still pool
//   jittered at 0.15 m/s, at 2 ms under 0.05. At 0.4 rather than 0.25 h the
//   dam break's first 0.74 s take a fifth fewer steps, its mean compression
//   stays under 0.02 %, the front and the settled energy are as they were
//   (tests/lab_test.cpp); at 0.5 the most compressed particle reached 18 %.
// - No acceleration limit, neighbours only out to h, no cap, every particle
//   paired, sqrtf distances.
// For the weakly compressible solver (pressureSolver=wcsph) the preset
// keeps its law: Tait's with c = 60 m/s (the long dam's flow reaches
// 4.4 m/s, under a tenth of c); density and pressure by the cubic spline,
// whose gradient the pressure force then is (with poly6's density and the
// spiky kernel's pressure a still pool's forces fed its motion: its rms
// speed grew to 0.2 m/s within a second); the pressure sum taken in full and
// divided by what the gradient sums to on the rest lattice (1.02), so that a
// uniform gradient comes out as itself; negative pressures clamped (else the
// surface pulls into clumps). That solver wants about 2 Pa s of viscosity,
// a 0.4 ms step and two wall layers to stay a liquid and to keep its dam's
// surge within 10 % of the experiment (tests/lab_test.cpp).
LabParameters WaterParameters() {
    LabParameters p;
    p.smoothingLength = 0.03f;
    p.searchRadius = 0.03f;
    p.particleSpacing = 0.015f;
    p.scene = LabParameters::WaterSceneGeometry(p.particleSpacing);
    p.restDensity = 1000.0f;
    // A cube of water a particle.
    p.particleMass = (p.restDensity * p.particleSpacing) * (p.particleSpacing * p.particleSpacing);
    p.equationOfState = EquationOfState::Tait;
    p.speedOfSound = 60.0f;
    p.clampNegativePressure = true;
    p.kernel = SmoothingKernel::CubicSpline;
    p.pressureFactor = 1.0f / LatticeGradientFactor(p.smoothingLength, p.particleSpacing, p.particleMass,
                                                     p.restDensity, p.kernel);
    p.viscosity = 0.001f;
    p.xsph = 0.1f;
    p.wallViscosity = 3.0f;
    p.gravity = Vec3{0.0f, -9.81f, 0.0f};
    p.timeStep = 0.002f;
    p.cflNumber = 0.4f;
    p.forceNumber = 0.25f;
    p.accelLimit = std::numeric_limits<float>::infinity();
    p.walls = true;
    p.wallThickness = 0.0f;
    p.wallLayers = 1;
    p.wallDamping = 256.0f;
    p.simScale = 1.0f;
    p.boxMin = Vec3{0.0f, 0.0f, 0.0f};
    p.boxMax = Vec3{1.44f, 1.44f, 1.44f};
    p.neighbourCap = 0;
    p.pairedLimit = 0;
    p.fastDistance = false;
    p.pressureSolver = PressureSolver::Dfsph;
    return p;
}

const std::vector<LabPreset>& LabPresets() {
    static const std::vector<LabPreset> presets = {
        {"classic", "the demo's fluid", ClassicParameters},
        {"water", "incompressible water", WaterParameters},
    };
    return presets;
}

bool ParametersByName(const std::string& name, LabParameters& out) {
    for (const LabPreset& preset : LabPresets()) {
        if (name == preset.name) {
            out = preset.parameters();
            return true;
        }
    }
    return false;
}

float LatticeGradientFactor(float smoothingLength, float spacing, float mass, float restDensity,
                            SmoothingKernel kernel) {
    const double h = smoothingLength;
    const double pi = 3.14159265358979;
    // |grad W| at r.
    const auto slope = [&](double r) {
        if (kernel == SmoothingKernel::Poly6Spiky) return 45.0 / (pi * std::pow(h, 6.0)) * (h - r) * (h - r);
        const double q = r / h;
        return 48.0 / (pi * h * h * h * h) * (q < 0.5 ? q * (2.0 - 3.0 * q) : (1.0 - q) * (1.0 - q));
    };
    const int reach = static_cast<int>(std::ceil(h / spacing));
    double sum = 0.0;
    for (int x = -reach; x <= reach; ++x) {
        for (int y = -reach; y <= reach; ++y) {
            for (int z = -reach; z <= reach; ++z) {
                const double r = std::sqrt(static_cast<double>(x * x + y * y + z * z)) * spacing;
                if (r > 0.0 && r < h) sum += slope(r) * r;
            }
        }
    }
    return static_cast<float>(sum * (mass / restDensity) / 3.0);
}

float WallVolumeFactor(const LabParameters& p) {
    const double h = p.smoothingLength, s = p.particleSpacing;
    const bool cubic = p.pressureSolver == PressureSolver::Dfsph;
    const auto kernel = [&](double r) {
        if (!(r < h)) return 0.0;
        if (!cubic) return (h * h - r * r) * (h * h - r * r) * (h * h - r * r);
        const double q = r / h;
        return q <= 0.5 ? 6.0 * q * q * (q - 1.0) + 1.0 : 2.0 * (1.0 - q) * (1.0 - q) * (1.0 - q);
    };
    const int layers = std::max(p.wallLayers, 1);
    const int reach = static_cast<int>(std::ceil(h / s)) + 1;
    // Sites at (i + 0.5) s: fluid for i >= 0, wall for -layers <= i < 0.
    // The kernel's constant factor cancels throughout.
    const auto sum = [&](int from, int lo, int hi) {
        double total = 0.0;
        for (int x = -reach; x <= reach; ++x) {
            for (int z = -reach; z <= reach; ++z) {
                for (int y = lo; y < hi; ++y) total += kernel(std::sqrt(double(x * x + (y - from) * (y - from) + z * z)) * s);
            }
        }
        return total;
    };
    const double inside = sum(reach, 0, 2 * reach + 1);
    const double beside = sum(0, 0, reach + 1);
    double walls = 0.0;
    for (int layer = -layers; layer < 0; ++layer) {
        // One lattice row of that layer as the first fluid layer sees it,
        // each wall particle weighed by its own volume.
        double row = 0.0;
        for (int x = -reach; x <= reach; ++x) {
            for (int z = -reach; z <= reach; ++z) row += kernel(std::sqrt(double(x * x + layer * layer + z * z)) * s);
        }
        walls += row / sum(layer, -layers, 0);
    }
    // The lattice's density is mass * normal * inside; the walls give
    // restDensity * walls.
    const double pi = 3.14159265358979;
    const double normal = cubic ? 8.0 / (pi * h * h * h) : 315.0 / (64.0 * pi * std::pow(h, 9.0));
    const double missing = (inside - beside) * p.particleMass * normal;
    return walls > 0.0 ? static_cast<float>(missing / (p.restDensity * walls)) : 1.0f;
}

LabConstants::LabConstants(const LabParameters& p) {
    simScale = p.simScale;
    smoothingRadius = p.smoothingLength;
    smoothingRadiusSquared = p.smoothingLength * p.smoothingLength;
    searchRadiusSquared = p.searchRadius * p.searchRadius;
    particleMass = p.particleMass;
    // h^2 * h^2 * h^2 in single precision, as the demo's self term is.
    selfDensityTerm = (smoothingRadiusSquared * smoothingRadiusSquared) * smoothingRadiusSquared;
    viscosity = p.viscosity;
    pressureFactor = 0.0f - p.pressureFactor;
    accelLimit = p.accelLimit;
    accelLimitSquared = p.accelLimit * p.accelLimit;
    wallThickness = p.wallThickness;
    wallEpsilon = p.wallEpsilon;
    wallStiffness = p.wallStiffness;
    wallDamping = p.wallDamping;
    gravityDown = Vec3{0.0f - p.gravity.x, 0.0f - p.gravity.y, 0.0f - p.gravity.z};
    timeStep = p.timeStep;
    fastDistance = p.fastDistance;
    poly6 = 315.0f / (powf(p.smoothingLength, 9.0f) * (kPi * 64.0f));
    spikyGradient = -45.0f / (powf(p.smoothingLength, 6.0f) * kPi);
    viscosityLaplacian = 45.0f / (powf(p.smoothingLength, 6.0f) * kPi);
    const float h3 = (p.smoothingLength * p.smoothingLength) * p.smoothingLength;
    cubicKernel = 8.0f / (kPi * h3);
    cubicGradient = 48.0f / (kPi * h3);
    // |grad W| is at most cubicGradient / h.
    const float steepest = (particleMass * cubicGradient) / smoothingRadius;
    int exponent = 0;
    if (std::isfinite(steepest) && steepest > 0.0f) std::frexp(steepest, &exponent);
    gradientUnit = std::ldexp(1.0f, exponent);
    cubicSpline = p.kernel == SmoothingKernel::CubicSpline;
    equationOfState = p.equationOfState;
    restDensity = p.restDensity;
    stiffness = p.stiffness;
    taitB = p.speedOfSound * p.speedOfSound * p.restDensity / 7.0f;
    clampNegativePressure = p.clampNegativePressure;
}
