#include "demo/state_file.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>

#include "outputs/output.h"
#include "sim/demo/state_hash.h"

namespace {

constexpr char kMagic[8] = {'p', 'o', 'n', 'd', 's', 'i', 'm', '\n'};

StateFileHeader HeaderOf(const Scene& scene, long step) {
    StateFileHeader header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.version = kStateFileVersion;
    header.particleSize = sizeof(Particle);
    std::strncpy(header.variant, SolverVariant::name, sizeof header.variant - 1);
    header.neighbourSlots = SolverVariant::neighbourSlots;
    header.particleCount = scene.system.particleCount;
    header.step = step;
    header.cameraPosition = scene.camera.position;
    header.cameraUp = scene.camera.up;
    header.cameraBack = scene.camera.back;
    return header;
}

}  // namespace

bool SaveState(const Scene& scene, long step, const char* path) {
    if (step > kMaxStep) {
        fprintf(stderr, "--save-state %s: step %ld is past the last one a state file keeps, %" PRId64 "\n", path,
                step, kMaxStep);
        return false;
    }
    const StateFileHeader header = HeaderOf(scene, step);
    const size_t recordBytes = sizeof(Particle) * static_cast<size_t>(scene.system.particleCount);
    StateHash checksum;
    checksum.Add(&header, sizeof header);
    checksum.Add(scene.system.particles, recordBytes);
    const uint64_t sum = checksum.value();

    const std::string temporary = std::string(path) + ".partial";
    FILE* file = fopen(temporary.c_str(), "wb");
    bool ok = file != nullptr;
    if (ok) {
        ok = fwrite(&header, sizeof header, 1, file) == 1 &&
             (recordBytes == 0 || fwrite(scene.system.particles, recordBytes, 1, file) == 1) &&
             fwrite(&sum, sizeof sum, 1, file) == 1;
        ok = fclose(file) == 0 && ok;
    }
    std::error_code error;
    if (ok) std::filesystem::rename(temporary, path, error);
    if (!ok || error) {
        std::filesystem::remove(temporary, error);
        fprintf(stderr, "--save-state %s: cannot write the file\n", path);
        return false;
    }
    printf("state saved: %s (%d particles, step %ld)\n", path, scene.system.particleCount, step);
    return true;
}

bool SavedState::Read(const char* path) { return ReadStateFile(*this, path); }

bool SavedState::Read(FILE* file, uintmax_t fileSize, const char* path) {
    const bool whole = fread(&header, sizeof header, 1, file) == 1;
    const char* why = nullptr;
    char text[160];
    if (!whole || std::memcmp(header.magic, kMagic, sizeof kMagic) != 0) {
        why = "not a pondsim state file";
    } else if (header.version != kStateFileVersion) {
        snprintf(text, sizeof text, "written in format version %" PRIu32 "; this driver reads version %" PRIu32,
                 header.version, kStateFileVersion);
        why = text;
    } else if (header.variant[sizeof header.variant - 1] != '\0' ||
               std::strcmp(header.variant, SolverVariant::name) != 0 ||
               header.particleSize != sizeof(Particle) || header.neighbourSlots != SolverVariant::neighbourSlots) {
        snprintf(text, sizeof text, "holds a state of %.15s; this driver runs %s", header.variant,
                 SolverVariant::name);
        why = text;
    } else if (header.step < 0 || header.step > kMaxStep) {
        why = "damaged: its step number is out of range";
    } else if (header.particleCount < 0 || header.particleCount > kMaxStateParticles) {
        snprintf(text, sizeof text, "damaged: it claims %" PRId32 " particles; a run holds 0 to %" PRId32,
                 header.particleCount, kMaxStateParticles);
        why = text;
    } else if (fileSize != sizeof header + sizeof(Particle) * static_cast<uintmax_t>(header.particleCount) +
                               sizeof(uint64_t)) {
        why = "truncated or padded: its size does not match its particle count";
    }
    if (why != nullptr) return RefuseState(path, why);

    const size_t count = static_cast<size_t>(header.particleCount);
    particles.reset(new (std::nothrow) Particle[count]);
    if (particles == nullptr) {
        snprintf(text, sizeof text, "no memory for %" PRId32 " particles", header.particleCount);
        return RefuseState(path, text);
    }
    uint64_t stored = 0;
    const bool read = (count == 0 || fread(particles.get(), sizeof(Particle) * count, 1, file) == 1) &&
                      fread(&stored, sizeof stored, 1, file) == 1;
    StateHash checksum;
    checksum.Add(&header, sizeof header);
    checksum.Add(particles.get(), sizeof(Particle) * count);
    if (!read || checksum.value() != stored) {
        particles.reset();
        return RefuseState(path, "damaged: its checksum does not match");
    }
    return true;
}

long SavedState::Install(Scene& scene) {

    ParticleSystem& system = scene.system;
    delete[] system.particles;
    system.particles = particles.release();
    system.particleCount = header.particleCount;
    scene.requestedCount = header.particleCount;
    scene.camera.position = header.cameraPosition;
    scene.camera.up = header.cameraUp;
    scene.camera.back = header.cameraBack;
    printf("state loaded: %d particles at step %" PRId64 "\n", system.particleCount, header.step);
    return static_cast<long>(header.step);
}
