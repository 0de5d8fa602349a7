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

std::vector<LabParameterInfo> MakeTable() {
    const double kBox = 1e6;
    return {
        {"smoothingLength", "m", "kernel support radius h", Kind::Real, 1e-4, 10.0, LAB_REAL(smoothingLength)},
        {"searchRadius", "m", "pairs closer than this are listed as neighbours", Kind::Real, 1e-4, 20.0,
         LAB_REAL(searchRadius)},
        {"particleSpacing", "m", "lattice spacing of the dam, double-dam, pool and drop", Kind::Real, 1e-4, 10.0,
         LAB_REAL(particleSpacing)},
        {"particleMass", "kg", "mass of every particle", Kind::Real, 1e-12, 1e6, LAB_REAL(particleMass)},
        {"restDensity", "kg/m^3", "density at which the pressure is zero", Kind::Real, 1e-6, 1e6,
         LAB_REAL(restDensity)},
        {"equationOfState", "", "pressure from density: linear (the demo's) or tait", Kind::Choice, 0.0, 1.0,
         [](const LabParameters& p) { return p.equationOfState == EquationOfState::Tait ? 1.0 : 0.0; },
         [](LabParameters& p, double v) { p.equationOfState = v != 0.0 ? EquationOfState::Tait : EquationOfState::Linear; },
         "linear|tait"},
        {"stiffness", "Pa/(kg/m^3)", "linear law: pressure per density above the rest density", Kind::Real, 0.0,
         1e9, LAB_REAL(stiffness)},
        {"speedOfSound", "m/s", "sets the Tait stiffness and the time step's sound bound", Kind::Real, 0.0, 1e5,
         LAB_REAL(speedOfSound)},
        {"clampNegativePressure", "", "negative pressures taken as zero", Kind::Switch, 0.0, 1.0,
         LAB_SWITCH(clampNegativePressure)},
        {"pressureFactor", "", "multiplies the symmetric pressure sum (the demo's 0.5)", Kind::Real, 0.0, 10.0,
         LAB_REAL(pressureFactor)},
        {"viscosity", "Pa s", "coefficient of the viscosity term", Kind::Real, 0.0, 1e6, LAB_REAL(viscosity)},
        {"gravity.x", "m/s^2", "gravity along x", Kind::Real, -1000.0, 1000.0, LAB_REAL(gravity.x)},
        {"gravity.y", "m/s^2", "gravity along y (+y is up)", Kind::Real, -1000.0, 1000.0, LAB_REAL(gravity.y)},
        {"gravity.z", "m/s^2", "gravity along z", Kind::Real, -1000.0, 1000.0, LAB_REAL(gravity.z)},
        {"timeStep", "s", "seconds per step, or the longest step with a bound", Kind::Real, 1e-8, 1.0,
         LAB_REAL(timeStep)},
        {"cflNumber", "", "step at most cflNumber h / (c + fastest speed); 0: no bound", Kind::Real, 0.0, 10.0,
         LAB_REAL(cflNumber)},
        {"forceNumber", "", "step at most forceNumber sqrt(h / largest acceleration); 0: no bound", Kind::Real,
         0.0, 10.0, LAB_REAL(forceNumber)},
        {"accelLimit", "m/s^2", "longest acceleration kept (inf: none)", Kind::Real, 0.0, kInf,
         LAB_REAL(accelLimit)},
        {"walls", "", "floor and ceiling springs and side-wall reflection", Kind::Switch, 0.0, 1.0, LAB_SWITCH(walls)},
        {"wallThickness", "m", "distance from floor or ceiling where the spring acts", Kind::Real, 0.0, 10.0,
         LAB_REAL(wallThickness)},
        {"wallStiffness", "1/s^2", "spring per metre of penetration", Kind::Real, 0.0, 1e9, LAB_REAL(wallStiffness)},
        {"wallDamping", "1/s", "damping of the y velocity at a wall", Kind::Real, 0.0, 1e6, LAB_REAL(wallDamping)},
        {"wallEpsilon", "m", "smallest penetration that counts", Kind::Real, 0.0, 1.0, LAB_REAL(wallEpsilon)},
        {"wallLayers", "", "layers of fixed wall particles of the lattice scenes", Kind::Whole, 0.0, 8.0,
         LAB_WHOLE(wallLayers)},
        {"simScale", "m", "metres per position unit", Kind::Real, 1e-6, 1e3, LAB_REAL(simScale)},
        {"boxMin.x", "units", "box corner (the scatter's; lattice scenes size their own)", Kind::Real, -kBox, kBox,
         LAB_REAL(boxMin.x)},
        {"boxMin.y", "units", "box corner", Kind::Real, -kBox, kBox, LAB_REAL(boxMin.y)},
        {"boxMin.z", "units", "box corner", Kind::Real, -kBox, kBox, LAB_REAL(boxMin.z)},
        {"boxMax.x", "units", "box corner", Kind::Real, -kBox, kBox, LAB_REAL(boxMax.x)},
        {"boxMax.y", "units", "box corner", Kind::Real, -kBox, kBox, LAB_REAL(boxMax.y)},
        {"boxMax.z", "units", "box corner", Kind::Real, -kBox, kBox, LAB_REAL(boxMax.z)},
        {"neighbourCap", "", "list slots per particle, filled as the demo fills them; 0: every pair", Kind::Whole,
         0.0, 256.0, LAB_WHOLE(neighbourCap)},
        {"pairedLimit", "", "only particles below this index are paired (the demo's 4000); 0: all", Kind::Whole,
         0.0, 1e9, LAB_WHOLE(pairedLimit)},
        {"countsEmptiedAtBinning", "", "capped lists emptied at binning (pondsim-wide) rather than by the search",
         Kind::Switch, 0.0, 1.0, LAB_SWITCH(countsEmptiedAtBinning)},
        {"fastDistance", "", "distances through the demo's square-root estimate", Kind::Switch, 0.0, 1.0,
         LAB_SWITCH(fastDistance)},
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
    snprintf(text, sizeof text, "%.9g", value);
    return text;
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
