#include "sim/lab/scenes.h"

#include <algorithm>
#include <cmath>

namespace {

struct Named {
    const char* name;
    SceneKind kind;
};

constexpr Named kScenes[] = {{"scatter", SceneKind::Scatter},
                             {"dam", SceneKind::Dam},
                             {"double-dam", SceneKind::DoubleDam},
                             {"pool", SceneKind::Pool},
                             {"drop", SceneKind::Drop}};

// A block of nx * ny * nz lattice sites, the first at `corner` plus half a
// spacing, x outermost and z innermost.
void AddBlock(std::vector<Vec3>& out, Vec3 corner, int nx, int ny, int nz, float spacing) {
    for (int x = 0; x < nx; ++x) {
        for (int y = 0; y < ny; ++y) {
            for (int z = 0; z < nz; ++z) {
                out.push_back(Vec3{corner.x + (static_cast<float>(x) + 0.5f) * spacing,
                                   corner.y + (static_cast<float>(y) + 0.5f) * spacing,
                                   corner.z + (static_cast<float>(z) + 0.5f) * spacing});
            }
        }
    }
}

// `layers` lattice layers outside the floor and the side walls of the box,
// continuing the lattice of the fluid (sites half a spacing off the faces),
// up to the top of the box.
void AddWalls(std::vector<Vec3>& out, const LabParameters& p, float spacing, int layers) {
    if (layers <= 0) return;
    const Vec3 lo = p.boxMin;
    const Vec3 hi = p.boxMax;
    const int nx = static_cast<int>(std::lround((hi.x - lo.x) / spacing));
    const int ny = static_cast<int>(std::lround((hi.y - lo.y) / spacing));
    const int nz = static_cast<int>(std::lround((hi.z - lo.z) / spacing));
    for (int x = -layers; x < nx + layers; ++x) {
        for (int y = -layers; y < ny; ++y) {
            for (int z = -layers; z < nz + layers; ++z) {
                if (x >= 0 && x < nx && y >= 0 && z >= 0 && z < nz) continue;
                out.push_back(Vec3{lo.x + (static_cast<float>(x) + 0.5f) * spacing,
                                   lo.y + (static_cast<float>(y) + 0.5f) * spacing,
                                   lo.z + (static_cast<float>(z) + 0.5f) * spacing});
            }
        }
    }
}

int Side(double cube) {
    return std::max(1, static_cast<int>(std::lround(std::cbrt(cube))));
}

}  // namespace

bool SceneByName(const std::string& name, SceneKind& out) {
    for (const Named& scene : kScenes) {
        if (name == scene.name) {
            out = scene.kind;
            return true;
        }
    }
    return false;
}

const char* SceneName(SceneKind kind) {
    for (const Named& scene : kScenes) {
        if (scene.kind == kind) return scene.name;
    }
    return "";
}

SceneLayout BuildScene(SceneKind kind, int32_t count, LabParameters& p, int (*random)()) {
    SceneLayout layout;
    const float d = p.particleSpacing / p.simScale;
    const double n = std::max<int32_t>(count, 1);
    switch (kind) {
    case SceneKind::Scatter: {
        layout.positions.resize(static_cast<size_t>(std::max<int32_t>(count, 0)));
        const float maxima[3] = {p.boxMax.x, p.boxMax.y, p.boxMax.z};
        const float minima[3] = {p.boxMin.x, p.boxMin.y, p.boxMin.z};
        for (Vec3& position : layout.positions) {
            float* axes[3] = {&position.x, &position.y, &position.z};
            for (int a = 0; a < 3; ++a) {
                const float t = static_cast<float>(random() % 0x7fff) / 32766.0f;
                *axes[a] = t * maxima[a] + minima[a];
            }
        }
        break;
    }
    case SceneKind::Dam:
    case SceneKind::DoubleDam: {
        const int columns = kind == SceneKind::Dam ? 1 : 2;
        // Each column is w x 2w x w sites.
        const int w = Side(n / columns / 2.0);
        const float a = static_cast<float>(w) * d;
        const float length = (kind == SceneKind::Dam ? 4.0f : 6.0f) * a;
        p.boxMin = Vec3{0.0f, 0.0f, 0.0f};
        p.boxMax = Vec3{length, 3.0f * a, a};
        AddBlock(layout.positions, Vec3{0.0f, 0.0f, 0.0f}, w, 2 * w, w, d);
        if (columns == 2) AddBlock(layout.positions, Vec3{length - a, 0.0f, 0.0f}, w, 2 * w, w, d);
        layout.size = a;
        layout.surface = 2.0f * a;
        break;
    }
    case SceneKind::Pool: {
        // w x w/2 x w sites.
        const int w = std::max(2, Side(2.0 * n));
        const float width = static_cast<float>(w) * d;
        const int depth = w / 2;
        p.boxMin = Vec3{0.0f, 0.0f, 0.0f};
        p.boxMax = Vec3{width, 2.0f * static_cast<float>(depth) * d, width};
        AddBlock(layout.positions, Vec3{0.0f, 0.0f, 0.0f}, w, depth, w, d);
        layout.size = static_cast<float>(depth) * d;
        layout.surface = layout.size;
        break;
    }
    case SceneKind::Drop: {
        // A w x w/4 x w layer and a cube of w/4: n = w^3 (1/4 + 1/64).
        const int w = std::max(4, Side(n * 64.0 / 17.0));
        const int q = w / 4;
        const float width = static_cast<float>(w) * d;
        p.boxMin = Vec3{0.0f, 0.0f, 0.0f};
        p.boxMax = Vec3{width, 4.0f * static_cast<float>(q) * d, width};
        AddBlock(layout.positions, Vec3{0.0f, 0.0f, 0.0f}, w, q, w, d);
        const float offset = static_cast<float>((w - q) / 2) * d;
        AddBlock(layout.positions, Vec3{offset, 2.0f * static_cast<float>(q) * d, offset}, q, q, q, d);
        layout.size = static_cast<float>(q) * d;
        layout.surface = layout.size;
        break;
    }
    }
    if (kind != SceneKind::Scatter) AddWalls(layout.walls, p, d, p.wallLayers);
    return layout;
}
