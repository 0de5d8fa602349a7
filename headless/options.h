#pragma once

#include <cstdlib>


// The headless drivers' command line, read whole before the scene exists:
// help, version and every complaint about it come out before anything else.
// Reading it touches no file; the pre-flight checks (preflight.h) look at
// what it names.
struct Options {
    // The program the options are for: its name in the help and version
    // lines, and how many particles its fluid pairs with neighbours (0: all).
    const char* program = "pondsim";
    long pairedLimit = 0;

    long steps = 1000;
    long particles = -1;
    const char* snapshot = nullptr;
    long width = 800;
    long height = 600;
    bool sizeGiven = false;
    long frames = 0;
    // --search reference: the all-pairs scan in place of the grid.
    bool referenceSearch = false;
    long checkEvery = 0;
    const char* record = nullptr;
    const char* video = nullptr;
    long fps = 30;
    bool fpsGiven = false;
    const char* exportFolder = nullptr;
    long every = 1;
    bool everyGiven = false;
    const char* saveState = nullptr;
    const char* loadState = nullptr;
    // What the scatter draws from: this runtime's rand(), or the Microsoft
    // runtime's generator, with which a run here scatters what the Windows
    // programs scatter.
    int (*random)() = rand;

    // Pictures during the run, after it, or both.
    bool Draws() const { return snapshot != nullptr || frames > 0 || record != nullptr || video != nullptr; }
    bool KeepsSteps() const { return record != nullptr || video != nullptr || exportFolder != nullptr; }
};

enum class ParseResult { Run, Exit, Fail };

// Reads argv into options. Exit: help or version was printed, exit 0.
// Fail: a message is on stderr, exit 2.
ParseResult ParseOptions(int argc, char** argv, Options& options);
