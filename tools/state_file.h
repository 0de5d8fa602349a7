#pragma once

#include <cstdint>

#include "view/scene.h"

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
// Steps are counted in a long, which is 32 bits wide on Windows.
constexpr int64_t kMaxStep = 2000000000;

// Writes the scene's state under a temporary name beside path and renames it
// into place, so that an older file is replaced only by a complete one.
// False with a message on stderr.
bool SaveState(const Scene& scene, long step, const char* path);

// Puts a saved state into a set-up scene: the particles, as a reseed would
// (the old array is let go only once the new one is whole), and the camera.
// False, with the scene untouched and the reason on stderr, for a file that
// is not a complete, intact state of this variant.
bool LoadState(Scene& scene, long& step, const char* path);
