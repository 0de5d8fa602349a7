#pragma once

#include <cstdint>
#include <cstdio>

#include "sim/lab/lab_parameters.h"
#include "sim/lab/lab_solver.h"
#include "sim/lab/scenes.h"

// A saved lab run: the parameters, the scene's name, the step and simulated
// time, and the solver's arrays, enough to go on bit for bit. Layout,
// little-endian: this header, the parameters as "NAME = VALUE" lines of the
// parameter table (version 1: the LabParameters as they lay in memory), the
// eleven float fields (x, y, z, velocity, acceleration, density, pressure)
// one array after another, the neighbour counts, the neighbour lists (with a
// cap, neighbourCap slots per particle; without, each particle's list in
// index order), then a 64-bit FNV-1a checksum of everything before it.
struct LabStateHeader {
    char magic[8];            // "pondlab\n"
    uint32_t version;         // kLabStateVersion
    uint32_t parametersSize;  // bytes of the parameter lines (version 1: kRawParametersBytes)
    char scene[16];           // the scene's name, zero-padded
    int32_t particleCount;    // moving and fixed
    int32_t movingCount;
    int64_t listEntries;      // neighbour list entries saved
    int64_t step;
    double time;              // seconds
};
static_assert(sizeof(LabStateHeader) == 64, "the header has no padding");

constexpr uint32_t kLabStateVersion = 2;
// The parameters' bytes in a file of version 1: LabParameters as it was.
constexpr uint32_t kRawParametersBytes = 136;

// Writes the solver's state under PartialName(path) and renames it into
// place. False with a message on stderr.
bool SaveLabState(const LabSolver& solver, const char* scene, long step, const char* path);

// A lab state read whole and checked, waiting for a solver.
struct LabSavedState {
    LabStateHeader header{};
    LabParameters parameters;
    LabSolver::Snapshot snapshot;

    // False, with the reason on stderr, for a file that is not a complete,
    // intact lab state (a demo driver's state file included).
    bool Read(const char* path);
    bool Read(FILE* file, uintmax_t size, const char* name);
};
