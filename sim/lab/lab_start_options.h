#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "sim/lab/lab_scene_file.h"

// Where a lab run starts, as both lab programs read it from their command
// line (and a --config file): --preset, --scene (a name or a scene file),
// --particles and --set.
struct LabStartOptions {
    // The registries' first unless given.
    std::string preset;
    std::string scene;
    // Particles asked for (the scene's default unless particlesGiven).
    long particles = 0;
    bool particlesGiven = false;
    // --set NAME=VALUE, in the order given (a scene file's, then a config file's first).
    std::vector<std::string> settings;
    // What --scene FILE.toml held.
    LabSceneDescription sceneFile;
};

// A whole number from low to high, in digits only, worded as the demo
// drivers word it; CLI11 puts the option's name in front.
CLI::Validator CountIn(long low, long high);
// One of a list of names.
CLI::Validator OneOf(const std::vector<std::string>& names);

// The names of a registry, as a validator takes them.
template <class Info>
std::vector<std::string> NamesOf(const std::vector<Info>& registry) {
    std::vector<std::string> names;
    for (const Info& info : registry) names.push_back(info.name);
    return names;
}

// "a (default), b, c or d", or with each entry's own words.
template <class Info, class Words>
std::string ListOf(const std::vector<Info>& registry, Words words) {
    std::string s;
    for (size_t i = 0; i < registry.size(); ++i) {
        s += i == 0 ? "" : i + 1 == registry.size() ? " or " : ", ";
        s += words(registry[i], i == 0);
    }
    return s;
}

// Adds --config, --preset, --scene, --particles and --set to app, kept in start.
void AddLabStartOptions(CLI::App& app, LabStartOptions& start);
// What a scene file says, as the same scene given by name, preset, count
// and --set, under the preset and count the command line gave.
void TakeLabSceneFile(const LabSceneDescription& file, bool presetGiven, LabStartOptions& start);
// After the parse: a scene file's scene, preset, count and settings taken
// under the command line's, and the scene's count when none is given.
void FinishLabStartOptions(const CLI::App& app, LabStartOptions& start);
// Says what a failed parse means, as the demo drivers word it: help and
// version on stdout (returns 0), a mistake on stderr (returns 2).
int LabParseFailure(const CLI::App& app, const CLI::Error& error);
// The message LabParseFailure prints for a mistake, without the newline.
std::string LabParseMistake(const CLI::Error& error);

// The particles a scene starts with when --particles is not given.
long DefaultParticles(const std::string& scene);
