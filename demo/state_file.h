#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "demo/scene.h"

// A saved run: the particle array and count, the camera and the step number,
// enough to go on exactly where the run stopped. Layout, little-endian:
// this header, particleCount records of sizeof(Particle) bytes as they lie in
// memory, then a 64-bit FNV-1a checksum of everything before it.
struct StateFileHeader {
    char magic[8];            // "pondsim\n"
    uint32_t version;         // kStateFileVersion
    uint32_t particleSize;    // sizeof(Particle)
    char variant[16];         // SolverVariant::name, zero-padded
    uint32_t neighbourSlots;  // SolverVariant::neighbourSlots
    int32_t particleCount;
    int64_t step;
    Vec3 cameraPosition;
    Vec3 cameraUp;
    Vec3 cameraBack;
    uint32_t reserved;
};
static_assert(sizeof(StateFileHeader) == 88, "the header has no padding");

constexpr uint32_t kStateFileVersion = 1;
// Steps are counted in a long, 32 bits wide on Windows: a saved step and a
// run of up to 1000000000 more steps (--steps) must still fit in it.
constexpr int64_t kMaxStep = 1000000000;
// As many particles as --particles asks for at most; a file that claims more
// is refused before anything is allocated for it, whatever its size.
constexpr int32_t kMaxStateParticles = 2000000;

// Writes the scene's state under a temporary name beside path and renames it
// into place, so that an older file is replaced only by a complete one.
// False with a message on stderr, also for a step past kMaxStep.
bool SaveState(const Scene& scene, long step, const char* path);

// A state read whole and checked, waiting for the scene.
struct SavedState {
    StateFileHeader header{};
    std::unique_ptr<Particle[]> particles;

    // False, with the reason on stderr, for a file that is not a complete,
    // intact state of this variant. Needs no scene, so that a bad file is
    // refused before anything is built.
    bool Read(const char* path);
    // The same from an open file of size bytes (a file in memory, for the
    // fuzzer); name stands for it in messages. Leaves the file open.
    bool Read(FILE* file, uintmax_t size, const char* name);
    // Puts the particles into a set-up scene as a reseed would (the old
    // array is let go only now that the new one is whole), with the camera;
    // gives the saved step number.
    long Install(Scene& scene);
};
