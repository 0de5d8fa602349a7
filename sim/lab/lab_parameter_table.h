#pragma once

#include <string>
#include <vector>

#include "sim/lab/lab_parameters.h"

// One run-time constant of the lab, as the command line (--set NAME=VALUE),
// a configuration file and the lab window's sliders name it. Every value is
// read and written as a double; whole numbers, switches and choices convert.
struct LabParameterInfo {
    enum class Kind { Real, Whole, Switch, Choice };

    const char* name;
    const char* unit;  // "" for pure numbers
    const char* meaning;
    Kind kind;
    // The range a value must lie in (inclusive); a slider's ends.
    double min;
    double max;
    double (*get)(const LabParameters&);
    void (*set)(LabParameters&, double);
    // Choice: the names of the values 0, 1, ... separated by '|'.
    const char* choices = nullptr;
};

// Every field of LabParameters, in the order of the structure.
const std::vector<LabParameterInfo>& LabParameterTable();
// Null for a name not in the table.
const LabParameterInfo* FindLabParameter(const std::string& name);

// Reads a value as the table's entry takes it: a number for Real and Whole
// (Whole without a fraction), true/false/on/off/1/0 for Switch, a choice's
// name for Choice, each within the entry's range. False with the reason in
// why.
bool ParseLabParameterValue(const LabParameterInfo& info, const std::string& text, double& out, std::string& why);
// The value as ParseLabParameterValue reads it back.
std::string FormatLabParameterValue(const LabParameterInfo& info, double value);

// Applies "NAME=VALUE"; false with the reason in why, parameters unchanged.
bool ApplyLabSetting(const std::string& setting, LabParameters& parameters, std::string& why);
