#include "sim/lab/scenes.h"

#include <algorithm>
#include <cmath>

namespace {

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

// Lengths in whole lattice sites. Without a count, each length's own
// sites at the spacing; with one, every length scaled by the one factor
// that gives the anchor length (the scene's width) about cbrt(count / fluid)
// times its own sites, so that the scene keeps its proportions and holds
// about `count` particles (`fluid` its sites at its own size).
class Sites {
public:
    Sites(const LabParameters& p, float anchor) : spacing_(p.particleSpacing), anchor_(Own(anchor, 1)) {}
    // A scene too big for a run (its walls counted as `walls` sites) is
    // made as big as one takes instead.
    void ScaleTo(int32_t count, int64_t fluid, int64_t walls) {
        if (count <= 0 && fluid + walls <= kMaxLabParticles) return;
        const double wanted = count > 0 ? static_cast<double>(count)
                                        : static_cast<double>(kMaxLabParticles) * fluid / (fluid + walls);
        const double cube = wanted * anchor_ * anchor_ * anchor_ / static_cast<double>(fluid);
        scaled_ = std::max<int64_t>(1, std::lround(std::cbrt(cube)));
    }
    // At least `least` sites.
    int operator()(float metres, int64_t least = 1) const {
        const int64_t own = Own(metres, least);
        if (scaled_ == 0) return static_cast<int>(own);
        // own * scaled / anchor, halves rounded down, in whole numbers.
        return static_cast<int>(std::max(least, (2 * own * scaled_ + anchor_ - 1) / (2 * anchor_)));
    }

private:
    int64_t Own(float metres, int64_t least) const {
        return std::max(least, static_cast<int64_t>(std::lround(static_cast<double>(metres) / spacing_)));
    }
    float spacing_;
    int64_t anchor_;
    int64_t scaled_ = 0;
};

// The wall sites around a tank of these sides, `layers` deep, about.
int64_t WallSites(int64_t x, int64_t y, int64_t z, int layers) {
    return int64_t{std::max(layers, 0)} * ((x + 2 * layers) * (z + 2 * layers) + 2 * y * (x + z + 4 * layers));
}

// A dam's or double-dam's sides in sites; the tank holds its columns
// whatever the lengths say.
struct DamShape {
    int width, columnHeight, depth, length, height;
};

DamShape DamSites(const Sites& sites, const LabParameters::SceneGeometry& g, int columns) {
    DamShape shape;
    shape.width = sites(g.columnWidth);
    shape.columnHeight = sites(g.columnHeight);
    shape.depth = sites(g.depth);
    shape.length = columns == 1 ? std::max(shape.width, sites(g.tankLength)) : 2 * shape.width + sites(g.columnGap, 0);
    shape.height = std::max(shape.columnHeight, sites(g.tankHeight));
    return shape;
}

float Units(int sites, float spacing) {
    return static_cast<float>(sites) * spacing;
}

}  // namespace

const std::vector<SceneInfo>& LabScenes() {
    static const std::vector<SceneInfo> scenes = {
        {SceneKind::Scatter, "scatter", "the demo's random start in the box", 3000},
        {SceneKind::Dam, "dam", "a column a wide and 2a high against one wall of a tank 4a long", 16000},
        {SceneKind::DoubleDam, "double-dam", "two such columns facing each other, 4a apart", 32000},
        {SceneKind::Pool, "pool", "a still layer", 16384},
        {SceneKind::Drop, "drop", "a cube falling into a layer", 14418},
    };
    return scenes;
}

const SceneInfo& LabScene(SceneKind kind) {
    return LabScenes()[static_cast<size_t>(kind)];
}

bool SceneByName(const std::string& name, SceneKind& out) {
    for (const SceneInfo& scene : LabScenes()) {
        if (name == scene.name) {
            out = scene.kind;
            return true;
        }
    }
    return false;
}

const char* SceneName(SceneKind kind) {
    return LabScene(kind).name;
}

SceneLayout BuildScene(SceneKind kind, int32_t count, LabParameters& p, int (*random)()) {
    SceneLayout layout;
    const float d = p.particleSpacing / p.simScale;
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
        Sites sites(p, p.scene.columnWidth);
        DamShape shape = DamSites(sites, p.scene, columns);
        sites.ScaleTo(count, int64_t{columns} * shape.width * shape.columnHeight * shape.depth,
                      WallSites(shape.length, shape.height, shape.depth, p.wallLayers));
        shape = DamSites(sites, p.scene, columns);
        p.boxMin = Vec3{0.0f, 0.0f, 0.0f};
        p.boxMax = Vec3{Units(shape.length, d), Units(shape.height, d), Units(shape.depth, d)};
        AddBlock(layout.positions, Vec3{0.0f, 0.0f, 0.0f}, shape.width, shape.columnHeight, shape.depth, d);
        if (columns == 2) {
            AddBlock(layout.positions, Vec3{Units(shape.length - shape.width, d), 0.0f, 0.0f}, shape.width,
                     shape.columnHeight, shape.depth, d);
        }
        layout.size = Units(shape.width, d);
        layout.surface = Units(shape.columnHeight, d);
        break;
    }
    case SceneKind::Pool: {
        const LabParameters::SceneGeometry& g = p.scene;
        Sites sites(p, g.poolLength);
        const auto height = [&] { return std::max(sites(g.poolDepth), sites(g.poolTankHeight)); };
        sites.ScaleTo(count, int64_t{sites(g.poolLength)} * sites(g.poolWidth) * sites(g.poolDepth),
                      WallSites(sites(g.poolLength), height(), sites(g.poolWidth), p.wallLayers));
        const int length = sites(g.poolLength), width = sites(g.poolWidth), depth = sites(g.poolDepth);
        p.boxMin = Vec3{0.0f, 0.0f, 0.0f};
        p.boxMax = Vec3{Units(length, d), Units(height(), d), Units(width, d)};
        AddBlock(layout.positions, Vec3{0.0f, 0.0f, 0.0f}, length, depth, width, d);
        layout.size = Units(depth, d);
        layout.surface = layout.size;
        break;
    }
    case SceneKind::Drop: {
        const LabParameters::SceneGeometry& g = p.scene;
        Sites sites(p, g.dropTankSide);
        // The cube no wider than the tank, clear of the layer and inside the tank.
        const auto side = [&] { return std::min(sites(g.dropTankSide), sites(g.dropSide)); };
        const auto lowest = [&] { return std::max(sites(g.layerDepth), sites(g.dropHeight, 0)); };
        const auto height = [&] { return std::max(lowest() + side(), sites(g.dropTankHeight)); };
        const int64_t cube = side();
        sites.ScaleTo(count,
                      int64_t{sites(g.dropTankSide)} * sites(g.dropTankSide) * sites(g.layerDepth) + cube * cube * cube,
                      WallSites(sites(g.dropTankSide), height(), sites(g.dropTankSide), p.wallLayers));
        const int w = sites(g.dropTankSide), layer = sites(g.layerDepth), q = side(), bottom = lowest();
        p.boxMin = Vec3{0.0f, 0.0f, 0.0f};
        p.boxMax = Vec3{Units(w, d), Units(height(), d), Units(w, d)};
        AddBlock(layout.positions, Vec3{0.0f, 0.0f, 0.0f}, w, layer, w, d);
        const float offset = Units((w - q) / 2, d);
        AddBlock(layout.positions, Vec3{offset, Units(bottom, d), offset}, q, q, q, d);
        layout.size = Units(layer, d);
        layout.surface = layout.size;
        break;
    }
    }
    if (kind != SceneKind::Scatter) AddWalls(layout.walls, p, d, p.wallLayers);
    return layout;
}

SceneLayout BuildLabStart(SceneKind kind, int32_t count, bool countGiven, LabParameters& parameters,
                          int (*random)()) {
    if (kind != SceneKind::Scatter) return BuildScene(kind, countGiven ? count : 0, parameters, random);
    BuildScene(SceneKind::Scatter, 500, parameters, random);
    SceneLayout layout = BuildScene(SceneKind::Scatter, 3000, parameters, random);
    if (countGiven) layout = BuildScene(SceneKind::Scatter, count, parameters, random);
    return layout;
}

float DamColumnWidth(SceneKind kind, const LabParameters& p) {
    if (kind != SceneKind::Dam && kind != SceneKind::DoubleDam) return 0.0f;
    const float d = p.particleSpacing / p.simScale;
    const DamShape own = DamSites(Sites(p, p.scene.columnWidth), p.scene, kind == SceneKind::Dam ? 1 : 2);
    // The tank's length in sites, scaled back by the geometry's proportion;
    // exact for any tank longer than its columns are wide.
    const int64_t length = std::lround((p.boxMax.x - p.boxMin.x) / d);
    return Units(static_cast<int>((2 * length * own.width + own.length - 1) / (2 * own.length)), d);
}
