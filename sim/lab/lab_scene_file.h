#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/lab/scenes.h"

// A start of the lab written down: which scene, under which preset, with
// how many particles and which parameters changed. The window and the
// headless driver build it as they build the scene of that name.
struct LabSceneDescription {
    SceneKind kind = SceneKind::Scatter;
    std::string preset;
    // 0: the scene's default.
    int32_t count = 0;
    // NAME=VALUE, applied over the preset in the file's order.
    std::vector<std::string> settings;
};

// True for a --scene value naming a file rather than a scene.
bool IsLabSceneFile(const std::string& text);

// Reads a scene file, TOML:
//     scene = "dam"          # a scene's name
//     preset = "water"       # optional, the default preset otherwise
//     particles = 16000      # optional, the scene's default otherwise
//     description = "..."    # optional, for the reader
//     [parameters]           # optional, parameters as --set takes them
//     viscosity = 1
// False with the reason in why for a file that cannot be read, a key it
// does not know or a value out of range.
bool ReadLabSceneFile(const std::string& path, LabSceneDescription& out, std::string& why);
