#pragma once

#include <string>
#include <vector>

#include "headless/options.h"

// The lab driver's command line: the demo drivers' run and output options
// (kept in `run`, which the pre-flight checks and the run loop read as they
// do the demo's) and the lab's own. Read whole, with any --config file,
// before anything is built.
struct LabOptions {
    Options run;
    // The registries' first unless given.
    std::string preset;
    std::string scene;
    // Particles asked for (the scene's default unless particlesGiven).
    long particles = -1;
    bool particlesGiven = false;
    int threads = 1;
    // --set NAME=VALUE, in the order given (a config file's first).
    std::vector<std::string> settings;
    // --probe front [K]: a line every K steps; 0 for none.
    long probeEvery = 0;
    std::string colour;
};

// The particles a scene starts with when --particles is not given.
long DefaultParticles(const std::string& scene);

// Reads argv (and a --config file) into options. Exit: help or version was
// printed, exit 0. Fail: a message is on stderr, exit 2.
ParseResult ParseLabOptions(int argc, char** argv, LabOptions& options);
