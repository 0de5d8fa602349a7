#pragma once

#include <string>
#include <vector>

#include "headless/options.h"
#include "sim/lab/lab_start_options.h"

// The lab driver's command line: the demo drivers' run and output options
// (kept in `run`, which the pre-flight checks and the run loop read as they
// do the demo's) and the lab's own. Read whole, with any --config file,
// before anything is built.
struct LabOptions : LabStartOptions {
    Options run;
    int threads = 1;
    // --probe front [K]: a line every K steps; 0 for none.
    long probeEvery = 0;
    std::string colour;
};

// Reads argv (and a --config file) into options. Exit: help or version was
// printed, exit 0. Fail: a message is on stderr, exit 2.
ParseResult ParseLabOptions(int argc, char** argv, LabOptions& options);
