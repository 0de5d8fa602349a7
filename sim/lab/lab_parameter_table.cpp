#include "sim/lab/lab_parameter_table.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

using Kind = LabParameterInfo::Kind;
constexpr double kInf = std::numeric_limits<double>::infinity();

// A getter and a setter for a member (float, int or bool), or a component of
// a Vec3 member, as plain function pointers.
#define LAB_REAL(field) \
    [](const LabParameters& p) { return static_cast<double>(p.field); }, \
    [](LabParameters& p, double v) { p.field = static_cast<float>(v); }
#define LAB_WHOLE(field) \
    [](const LabParameters& p) { return static_cast<double>(p.field); }, \
    [](LabParameters& p, double v) { p.field = static_cast<int>(v); }
#define LAB_SWITCH(field) \
    [](const LabParameters& p) { return p.field ? 1.0 : 0.0; }, [](LabParameters& p, double v) { p.field = v != 0.0; }

// Panel sections (LabParameterGroups gives their order: what is changed
// most first, so that it shows without scrolling).
constexpr const char* kKernel = "Kernel";
constexpr const char* kPressure = "Pressure";
constexpr const char* kForces = "Forces";
constexpr const char* kTime = "Time step";
constexpr const char* kWalls = "Walls";
constexpr const char* kAtReset = "At the next reset";
constexpr const char* kScene = "Scene (at the next reset)";
constexpr const char* kNotInPanel = nullptr;
constexpr bool kLog = true;
constexpr bool kLinear = false;

// What leaves a parameter unread. The divergence-free solver (never under
// a neighbour cap) has no equation of state, sound speed, force bound,
// acceleration limit or wall springs; the weakly compressible one no
// solves and no XSPH.
bool Solved(const LabParameters& p) { return p.pressureSolver == PressureSolver::Dfsph && p.neighbourCap == 0; }
bool NotSolved(const LabParameters& p) { return !Solved(p); }
bool Capped(const LabParameters& p) { return p.neighbourCap > 0; }
bool UnderTait(const LabParameters& p) { return p.equationOfState == EquationOfState::Tait || Solved(p); }
// The linear law reads the speed of sound only for the step's bound.
bool SoundUnread(const LabParameters& p) {
    return (p.equationOfState == EquationOfState::Linear && p.cflNumber <= 0.0f) || Solved(p);
}
bool WallsOff(const LabParameters& p) { return !p.walls || Solved(p); }
bool KernelUnread(const LabParameters& p) { return Solved(p) || Capped(p); }

// One entry a line: name, label, group, unit, meaning, kind, range, slider
// ends, slider scale, getter and setter.
std::vector<LabParameterInfo> MakeTable() {
    const double kBox = 1e6;
    return {
        {"smoothingLength", "smoothing length", kKernel, "m", "kernel support radius h", Kind::Real, 1e-4, 10.0,
         0.005, 0.1, kLinear, LAB_REAL(smoothingLength)},
        {"searchRadius", "search radius", kKernel, "m", "pairs closer than this are listed as neighbours",
         Kind::Real, 1e-4, 20.0, 0.005, 0.2, kLinear, LAB_REAL(searchRadius)},
        {"particleSpacing", "particle spacing", kAtReset, "m", "lattice spacing of the dam, double-dam, pool and drop",
         Kind::Real, 1e-4, 10.0, 0.001, 0.1, kLog, LAB_REAL(particleSpacing)},
        {"particleMass", "particle mass", kKernel, "kg", "mass of every particle", Kind::Real, 1e-12, 1e6, 1e-5,
         1.0, kLog, LAB_REAL(particleMass)},
        {"restDensity", "rest density", kKernel, "kg/m^3", "density at which the pressure is zero", Kind::Real,
         1e-6, 1e6, 1e-4, 2000.0, kLog, LAB_REAL(restDensity)},
        {"equationOfState", "equation of state", kPressure, "", "pressure from density: linear (the demo's) or tait",
         Kind::Choice, 0.0, 1.0, 0.0, 1.0, kLinear,
         [](const LabParameters& p) { return p.equationOfState == EquationOfState::Tait ? 1.0 : 0.0; },
         [](LabParameters& p, double v) { p.equationOfState = v != 0.0 ? EquationOfState::Tait : EquationOfState::Linear; },
         "linear|tait", Solved},
        {"stiffness", "stiffness", kPressure, "Pa/(kg/m^3)", "linear law: pressure per density above the rest density",
         Kind::Real, 0.0, 1e9, 0.01, 1000.0, kLog, LAB_REAL(stiffness), nullptr, UnderTait},
        {"speedOfSound", "speed of sound", kPressure, "m/s", "sets the Tait stiffness and the time step's sound bound",
         Kind::Real, 0.0, 1e5, 0.0, 200.0, kLinear, LAB_REAL(speedOfSound), nullptr, SoundUnread},
        {"clampNegativePressure", "negative pressure as zero", kPressure, "", "negative pressures taken as zero",
         Kind::Switch, 0.0, 1.0, 0.0, 1.0, kLinear, LAB_SWITCH(clampNegativePressure), nullptr, Solved},
        {"pressureFactor", "pressure factor", kPressure, "", "multiplies the symmetric pressure sum (the demo's 0.5)",
         Kind::Real, 0.0, 10.0, 0.0, 2.0, kLinear, LAB_REAL(pressureFactor), nullptr, Solved},
        {"viscosity", "viscosity", kForces, "Pa s", "coefficient of the viscosity term", Kind::Real, 0.0, 1e6, 0.0,
         2.0, kLinear, LAB_REAL(viscosity)},
        {"gravity.x", "gravity x", kForces, "m/s^2", "gravity along x", Kind::Real, -1000.0, 1000.0, -30.0, 30.0,
         kLinear, LAB_REAL(gravity.x)},
        {"gravity.y", "gravity y", kForces, "m/s^2", "gravity along y (+y is up)", Kind::Real, -1000.0, 1000.0, -30.0,
         30.0, kLinear, LAB_REAL(gravity.y)},
        {"gravity.z", "gravity z", kForces, "m/s^2", "gravity along z", Kind::Real, -1000.0, 1000.0, -30.0, 30.0,
         kLinear, LAB_REAL(gravity.z)},
        {"timeStep", "time step", kTime, "s", "seconds per step, or the longest step with a bound", Kind::Real, 1e-8,
         1.0, 1e-5, 0.01, kLog, LAB_REAL(timeStep)},
        {"cflNumber", "CFL number", kTime, "", "step at most cflNumber h / (c + fastest speed); 0: no bound",
         Kind::Real, 0.0, 10.0, 0.0, 1.0, kLinear, LAB_REAL(cflNumber)},
        {"forceNumber", "force number", kTime, "",
         "step at most forceNumber sqrt(h / largest acceleration); 0: no bound", Kind::Real, 0.0, 10.0, 0.0, 1.0,
         kLinear, LAB_REAL(forceNumber), nullptr, Solved},
        {"accelLimit", "acceleration limit", kForces, "m/s^2", "longest acceleration kept (inf: none)", Kind::Real,
         0.0, kInf, 1.0, 1e6, kLog, LAB_REAL(accelLimit), nullptr, Solved},
        {"walls", "walls", kWalls, "", "floor and ceiling springs and side-wall reflection", Kind::Switch, 0.0, 1.0,
         0.0, 1.0, kLinear, LAB_SWITCH(walls)},
        {"wallThickness", "wall thickness", kWalls, "m", "distance from floor or ceiling where the spring acts",
         Kind::Real, 0.0, 10.0, 0.0, 0.05, kLinear, LAB_REAL(wallThickness), nullptr, WallsOff},
        {"wallStiffness", "wall stiffness", kWalls, "1/s^2", "spring per metre of penetration", Kind::Real, 0.0, 1e9,
         10.0, 1e6, kLog, LAB_REAL(wallStiffness), nullptr, WallsOff},
        {"wallDamping", "wall damping", kWalls, "1/s", "damping of the y velocity at a wall", Kind::Real, 0.0, 1e6,
         0.0, 2000.0, kLinear, LAB_REAL(wallDamping), nullptr, WallsOff},
        {"wallEpsilon", "wall epsilon", kWalls, "m", "smallest penetration that counts", Kind::Real, 0.0, 1.0, 1e-9,
         1e-3, kLog, LAB_REAL(wallEpsilon), nullptr, WallsOff},
        {"wallLayers", "wall layers", kAtReset, "", "layers of fixed wall particles of the lattice scenes",
         Kind::Whole, 0.0, 8.0, 0.0, 8.0, kLinear, LAB_WHOLE(wallLayers)},
        {"simScale", "scale", kKernel, "m", "metres per position unit", Kind::Real, 1e-6, 1e3, 0.001, 1.0, kLog,
         LAB_REAL(simScale)},
        {"boxMin.x", "box min x", kNotInPanel, "units", "box corner (the scatter's; lattice scenes size their own)",
         Kind::Real, -kBox, kBox, -kBox, kBox, kLinear, LAB_REAL(boxMin.x)},
        {"boxMin.y", "box min y", kNotInPanel, "units", "box corner", Kind::Real, -kBox, kBox, -kBox, kBox, kLinear,
         LAB_REAL(boxMin.y)},
        {"boxMin.z", "box min z", kNotInPanel, "units", "box corner", Kind::Real, -kBox, kBox, -kBox, kBox, kLinear,
         LAB_REAL(boxMin.z)},
        {"boxMax.x", "box max x", kNotInPanel, "units", "box corner", Kind::Real, -kBox, kBox, -kBox, kBox, kLinear,
         LAB_REAL(boxMax.x)},
        {"boxMax.y", "box max y", kNotInPanel, "units", "box corner", Kind::Real, -kBox, kBox, -kBox, kBox, kLinear,
         LAB_REAL(boxMax.y)},
        {"boxMax.z", "box max z", kNotInPanel, "units", "box corner", Kind::Real, -kBox, kBox, -kBox, kBox, kLinear,
         LAB_REAL(boxMax.z)},
        {"neighbourCap", "neighbour cap", kNotInPanel, "",
         "list slots per particle, filled as the demo fills them; 0: every pair", Kind::Whole, 0.0, 256.0, 0.0,
         256.0, kLinear, LAB_WHOLE(neighbourCap)},
        {"pairedLimit", "paired limit", kNotInPanel, "",
         "only particles below this index are paired (the demo's 4000); 0: all", Kind::Whole, 0.0, 1e9, 0.0, 1e9,
         kLinear, LAB_WHOLE(pairedLimit)},
        {"countsEmptiedAtBinning", "counts emptied at binning", kNotInPanel, "",
         "capped lists emptied at binning (pondsim-wide) rather than by the search", Kind::Switch, 0.0, 1.0, 0.0, 1.0,
         kLinear, LAB_SWITCH(countsEmptiedAtBinning)},
        {"fastDistance", "fast distance", kKernel, "", "distances through the demo's square-root estimate",
         Kind::Switch, 0.0, 1.0, 0.0, 1.0, kLinear, LAB_SWITCH(fastDistance)},
        {"pressureSolver", "pressure solver", kPressure, "",
         "wcsph: pressure from the equation of state; dfsph: solved to keep the rest density (no neighbour cap)",
         Kind::Choice, 0.0, 1.0, 0.0, 1.0, kLinear,
         [](const LabParameters& p) { return p.pressureSolver == PressureSolver::Dfsph ? 1.0 : 0.0; },
         [](LabParameters& p, double v) { p.pressureSolver = v != 0.0 ? PressureSolver::Dfsph : PressureSolver::Wcsph; },
         "wcsph|dfsph", Capped},
        {"kernel", "kernel", kKernel, "",
         "wcsph without a cap: poly6 density and spiky pressure (the demo's) or the cubic spline for both",
         Kind::Choice, 0.0, 1.0, 0.0, 1.0, kLinear,
         [](const LabParameters& p) { return p.kernel == SmoothingKernel::CubicSpline ? 1.0 : 0.0; },
         [](LabParameters& p, double v) { p.kernel = v != 0.0 ? SmoothingKernel::CubicSpline : SmoothingKernel::Poly6Spiky; },
         "poly6-spiky|cubic", KernelUnread},
        {"densityTolerance", "density tolerance", kPressure, "%",
         "dfsph: mean density error a density solve stops at", Kind::Real, 1e-4, 100.0, 0.001, 1.0, kLog,
         LAB_REAL(densityTolerance), nullptr, NotSolved},
        {"divergenceTolerance", "divergence tolerance", kPressure, "%",
         "dfsph: mean rate of density change, over the longest step, a divergence solve stops at", Kind::Real, 1e-4, 100.0,
         0.001, 10.0, kLog, LAB_REAL(divergenceTolerance), nullptr, NotSolved},
        {"densityIterations", "density iterations", kPressure, "", "dfsph: most iterations of a density solve",
         Kind::Whole, 2.0, 10000.0, 2.0, 500.0, kLinear, LAB_WHOLE(densityIterations), nullptr, NotSolved},
        {"divergenceIterations", "divergence iterations", kPressure, "",
         "dfsph: most iterations of a divergence solve", Kind::Whole, 1.0, 10000.0, 1.0, 500.0, kLinear,
         LAB_WHOLE(divergenceIterations), nullptr, NotSolved},
        {"xsph", "XSPH", kForces, "", "dfsph: numerical smoothing, the fraction of the way each velocity moves to the mean around it",
         Kind::Real, 0.0, 1.0, 0.0, 0.5, kLinear, LAB_REAL(xsph), nullptr, NotSolved},
        {"wallViscosity", "wall viscosity", kForces, "Pa s",
         "dfsph: friction with the walls, viscosity added to the fluid's own between fluid and wall", Kind::Real, 0.0,
         1e3, 0.0, 10.0, kLinear, LAB_REAL(wallViscosity), nullptr, NotSolved},
        // The lattice scenes' lengths, each at least a site; those that may
        // be 0 on sliders from 0.
#define LAB_LENGTH(field, label, least, meaning)                                                           \
    {"scene." #field, label, kScene, "m", meaning, Kind::Real, least, 100.0, (least) > 0.0 ? 0.01 : 0.0, 10.0, \
     (least) > 0.0 ? kLog : kLinear, LAB_REAL(scene.field)}
        LAB_LENGTH(columnWidth, "column width", 1e-4, "dam and double-dam: the column's width a along the tank"),
        LAB_LENGTH(columnHeight, "column height", 1e-4, "dam and double-dam: the column's height"),
        LAB_LENGTH(tankLength, "tank length", 1e-4, "dam: the tank's length, the column at one end"),
        LAB_LENGTH(tankHeight, "tank height", 1e-4, "dam and double-dam: the tank's height"),
        LAB_LENGTH(depth, "depth", 1e-4, "dam and double-dam: the tank's third side, the columns as deep"),
        LAB_LENGTH(columnGap, "column gap", 0.0, "double-dam: the floor between its two columns"),
        LAB_LENGTH(poolLength, "pool length", 1e-4, "pool: the tank's length"),
        LAB_LENGTH(poolWidth, "pool width", 1e-4, "pool: the tank's third side"),
        LAB_LENGTH(poolDepth, "pool depth", 1e-4, "pool: the water's depth"),
        LAB_LENGTH(poolTankHeight, "pool tank height", 1e-4, "pool: the tank's height"),
        LAB_LENGTH(dropTankSide, "drop tank side", 1e-4, "drop: the square tank's side"),
        LAB_LENGTH(dropTankHeight, "drop tank height", 1e-4, "drop: the tank's height"),
        LAB_LENGTH(layerDepth, "layer depth", 1e-4, "drop: the layer's depth"),
        LAB_LENGTH(dropSide, "drop side", 1e-4, "drop: the falling cube's side"),
        LAB_LENGTH(dropHeight, "drop height", 0.0, "drop: the cube's lowest face above the floor"),
#undef LAB_LENGTH
    };
}

#undef LAB_REAL
#undef LAB_WHOLE
#undef LAB_SWITCH

// The index of name among the '|'-separated choices, or -1.
int ChoiceIndex(const char* choices, const std::string& name) {
    int index = 0;
    std::string item;
    for (const char* c = choices;; ++c) {
        if (*c == '|' || *c == '\0') {
            if (item == name) return index;
            if (*c == '\0') return -1;
            item.clear();
            ++index;
        } else {
            item += *c;
        }
    }
}

}  // namespace

const std::vector<LabParameterInfo>& LabParameterTable() {
    static const std::vector<LabParameterInfo> table = MakeTable();
    return table;
}

const std::vector<const char*>& LabParameterGroups() {
    static const std::vector<const char*> groups = {kForces, kPressure, kKernel, kTime, kWalls, kAtReset, kScene};
    return groups;
}

const LabParameterInfo* FindLabParameter(const std::string& name) {
    for (const LabParameterInfo& info : LabParameterTable()) {
        if (name == info.name) return &info;
    }
    return nullptr;
}

bool ParseLabParameterValue(const LabParameterInfo& info, const std::string& text, double& out, std::string& why) {
    double value = 0.0;
    if (info.kind == Kind::Switch) {
        if (text == "true" || text == "on" || text == "1") {
            value = 1.0;
        } else if (text == "false" || text == "off" || text == "0") {
            value = 0.0;
        } else {
            why = "takes true or false";
            return false;
        }
    } else if (info.kind == Kind::Choice) {
        const int index = ChoiceIndex(info.choices, text);
        if (index < 0) {
            why = std::string("takes one of ") + info.choices;
            return false;
        }
        value = index;
    } else {
        char* end = nullptr;
        errno = 0;
        value = std::strtod(text.c_str(), &end);
        if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE || std::isnan(value)) {
            why = "is not a number";
            return false;
        }
        if (info.kind == Kind::Whole && value != std::floor(value)) {
            why = "takes a whole number";
            return false;
        }
        if (value < info.min || value > info.max) {
            char range[96];
            snprintf(range, sizeof range, "must lie from %g to %g", info.min, info.max);
            why = range;
            return false;
        }
    }
    out = value;
    return true;
}

std::string FormatLabParameterValue(const LabParameterInfo& info, double value) {
    if (info.kind == Kind::Switch) return value != 0.0 ? "true" : "false";
    if (info.kind == Kind::Choice) {
        std::string item;
        int index = 0;
        for (const char* c = info.choices;; ++c) {
            if (*c == '|' || *c == '\0') {
                if (index == static_cast<int>(value) || *c == '\0') return item;
                item.clear();
                ++index;
            } else {
                item += *c;
            }
        }
    }
    char text[40];
    if (info.kind == Kind::Whole) {
        snprintf(text, sizeof text, "%.0f", value);
        return text;
    }
    // The fewest digits that read back as the same float: 0.03, not 0.0299999993.
    for (int digits = 6; digits <= 9; ++digits) {
        snprintf(text, sizeof text, "%.*g", digits, value);
        if (static_cast<float>(std::strtod(text, nullptr)) == static_cast<float>(value)) break;
    }
    return text;
}

double ClampLabParameterValue(const LabParameterInfo& info, double value) {
    return value < info.min ? info.min : value > info.max ? info.max : value;
}

std::string FormatLabParameters(const LabParameters& parameters) {
    std::string text;
    for (const LabParameterInfo& info : LabParameterTable()) {
        text += std::string(info.name) + " = " + FormatLabParameterValue(info, info.get(parameters)) + "\n";
    }
    return text;
}

bool ParseLabParameters(const std::string& text, LabParameters& parameters, std::string& why) {
    const auto trim = [](const std::string& s) {
        const size_t first = s.find_first_not_of(" \t\r");
        return first == std::string::npos ? std::string() : s.substr(first, s.find_last_not_of(" \t\r") + 1 - first);
    };
    LabParameters read = parameters;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = trim(text.substr(at, end - at));
        at = end + 1;
        if (line.empty()) continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            why = "a line without NAME = VALUE";
            return false;
        }
        if (!ApplyLabSetting(trim(line.substr(0, equals)) + "=" + trim(line.substr(equals + 1)), read, why)) {
            return false;
        }
    }
    parameters = read;
    return true;
}

std::string LabParameterChanges(const LabParameters& a, const LabParameters& b) {
    std::string changes;
    for (const LabParameterInfo& info : LabParameterTable()) {
        const double before = info.get(a), after = info.get(b);
        if (before == after) continue;
        if (!changes.empty()) changes += ' ';
        changes.append(info.name).append("=").append(FormatLabParameterValue(info, after));
    }
    return changes;
}

bool ApplyLabSetting(const std::string& setting, LabParameters& parameters, std::string& why) {
    const size_t equals = setting.find('=');
    if (equals == std::string::npos) {
        why = "takes NAME=VALUE";
        return false;
    }
    const std::string name = setting.substr(0, equals);
    const LabParameterInfo* info = FindLabParameter(name);
    if (info == nullptr) {
        why = "no parameter is called " + name;
        return false;
    }
    double value = 0.0;
    std::string reason;
    if (!ParseLabParameterValue(*info, setting.substr(equals + 1), value, reason)) {
        why = name + " " + reason;
        return false;
    }
    info->set(parameters, value);
    return true;
}
