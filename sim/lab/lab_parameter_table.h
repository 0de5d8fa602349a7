#pragma once

#include <string>
#include <vector>

#include "sim/lab/lab_parameters.h"

// One run-time constant of the lab, as the command line (--set NAME=VALUE),
// a configuration file, a saved state and the lab window's panel name it.
// Every value is read and written as a double; whole numbers, switches and
// choices convert.
struct LabParameterInfo {
    enum class Kind { Real, Whole, Switch, Choice };

    const char* name;
    // The panel's words for it, and the panel's section; a null group keeps
    // it out of the panel (what the neighbour lists or the box are built
    // with cannot change under a running fluid).
    const char* label;
    const char* group;
    const char* unit;  // "" for pure numbers
    const char* meaning;
    Kind kind;
    // The range a value must lie in (inclusive), typed or given.
    double min;
    double max;
    // A slider's ends, within the range, and whether it moves in ratios.
    double low;
    double high;
    bool logarithmic;
    double (*get)(const LabParameters&);
    void (*set)(LabParameters&, double);
    // Choice: the names of the values 0, 1, ... separated by '|'.
    const char* choices = nullptr;
    // True where the other parameters leave this one unread (the panel
    // greys it out); null: always read.
    bool (*ignored)(const LabParameters&) = nullptr;
};

// Every field of LabParameters, in the order of the structure.
const std::vector<LabParameterInfo>& LabParameterTable();
// The panel's sections, in its order.
const std::vector<const char*>& LabParameterGroups();
// Null for a name not in the table.
const LabParameterInfo* FindLabParameter(const std::string& name);

// Reads a value as the table's entry takes it: a number for Real and Whole
// (Whole without a fraction), true/false/on/off/1/0 for Switch, a choice's
// name for Choice, each within the entry's range. False with the reason in
// why.
bool ParseLabParameterValue(const LabParameterInfo& info, const std::string& text, double& out, std::string& why);
// The value as ParseLabParameterValue reads it back.
std::string FormatLabParameterValue(const LabParameterInfo& info, double value);
// The value brought into the entry's range.
double ClampLabParameterValue(const LabParameterInfo& info, double value);

// Every parameter as "NAME = VALUE" lines, in the table's order.
std::string FormatLabParameters(const LabParameters& parameters);
// Reads such lines (blank ones skipped) over what parameters holds; false
// with the reason in why at the first line that is not a known parameter
// with a value in its range.
bool ParseLabParameters(const std::string& text, LabParameters& parameters, std::string& why);
// "NAME=VALUE" for every parameter in which b differs from a, space-separated.
std::string LabParameterChanges(const LabParameters& a, const LabParameters& b);

// Applies "NAME=VALUE"; false with the reason in why, parameters unchanged.
bool ApplyLabSetting(const std::string& setting, LabParameters& parameters, std::string& why);
