#include "outputs/lab_state_file.h"

#include <cinttypes>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <type_traits>

#include "outputs/output.h"
#include "sim/core/fnv_hash.h"
#include "sim/lab/lab_parameter_table.h"
#include "sim/lab/scenes.h"

namespace {

static_assert(std::is_trivially_copyable<LabParameters>::value, "version 1 saved the parameters as they lay in memory");

// Version 1 held the parameters as raw memory; its files still read.
constexpr uint32_t kRawParametersVersion = 1;
// What it held is the start of the present structure: the fields added
// since come after, and keep their defaults in such a file.
static_assert(offsetof(LabParameters, scene) == kRawParametersBytes,
              "version 1's parameters lie at the start of the structure");
// More than the lines of every parameter take many times over.
constexpr uint32_t kMaxParameterBytes = 65536;

constexpr char kMagic[8] = {'p', 'o', 'n', 'd', 'l', 'a', 'b', '\n'};
constexpr char kDemoMagic[8] = {'p', 'o', 'n', 'd', 's', 'i', 'm', '\n'};

// The arrays in file order, with their byte counts.
template <class Snapshot, class Fn>
void ForEachArray(Snapshot& s, Fn fn) {
    for (auto& field : s.fields) fn(field.data(), field.size() * sizeof(float));
    fn(s.counts.data(), s.counts.size() * sizeof(int32_t));
    fn(s.slots.data(), s.slots.size() * sizeof(int32_t));
}

// The parameters as they lie in the file, held to what --set takes: the
// switches and the choice byte by byte first (any other bit pattern is no
// value of their type), then every value within its range. Null, or the
// first name that is not.
const char* ParameterOutOfRange(const unsigned char* bytes) {
    for (const size_t at : {offsetof(LabParameters, clampNegativePressure), offsetof(LabParameters, walls),
                            offsetof(LabParameters, countsEmptiedAtBinning), offsetof(LabParameters, fastDistance)}) {
        if (bytes[at] > 1) return "a switch";
    }
    std::underlying_type_t<EquationOfState> law;
    std::memcpy(&law, bytes + offsetof(LabParameters, equationOfState), sizeof law);
    if (law != static_cast<decltype(law)>(EquationOfState::Linear) &&
        law != static_cast<decltype(law)>(EquationOfState::Tait)) {
        return "equationOfState";
    }
    LabParameters parameters;
    std::memcpy(static_cast<void*>(&parameters), bytes, kRawParametersBytes);
    for (const LabParameterInfo& info : LabParameterTable()) {
        const double value = info.get(parameters);
        if (!(value >= info.min && value <= info.max)) return info.name;
    }
    return nullptr;
}

uintmax_t PayloadBytes(const LabStateHeader& h) {
    const uintmax_t n = static_cast<uintmax_t>(h.particleCount);
    return n * LabSolver::Snapshot::kFields * sizeof(float) + n * sizeof(int32_t) +
           static_cast<uintmax_t>(h.listEntries) * sizeof(int32_t);
}

}  // namespace

bool SaveLabState(const LabSolver& solver, const char* scene, long step, const char* path) {
    LabStateHeader header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.version = kLabStateVersion;
    const std::string parameters = FormatLabParameters(solver.parameters());
    header.parametersSize = static_cast<uint32_t>(parameters.size());
    std::strncpy(header.scene, scene, sizeof header.scene - 1);
    header.particleCount = solver.count();
    header.movingCount = solver.movingCount();
    header.step = step;
    header.time = solver.time();
    LabSolver::Snapshot snapshot;
    solver.Save(snapshot);
    header.listEntries = static_cast<int64_t>(snapshot.slots.size());

    StateHash checksum;
    checksum.Add(&header, sizeof header);
    checksum.Add(parameters.data(), parameters.size());
    ForEachArray(snapshot, [&](const void* data, size_t bytes) { checksum.Add(data, bytes); });
    const uint64_t sum = checksum.value();

    FILE* file = fopen(PartialName(path).c_str(), "wb");
    bool ok = file != nullptr;
    if (ok) {
        ok = fwrite(&header, sizeof header, 1, file) == 1 && fwrite(parameters.data(), parameters.size(), 1, file) == 1;
        ForEachArray(snapshot, [&](const void* data, size_t bytes) {
            ok = ok && (bytes == 0 || fwrite(data, bytes, 1, file) == 1);
        });
        ok = ok && fwrite(&sum, sizeof sum, 1, file) == 1;
        ok = fclose(file) == 0 && ok;
    }
    if (!PlaceFile(path, ok)) {
        fprintf(stderr, "--save-state %s: cannot write the file\n", path);
        return false;
    }
    printf("state saved: %s (%d particles, step %ld)\n", path, solver.count(), step);
    return true;
}

bool LabSavedState::Read(const char* path) { return ReadStateFile(*this, path); }

bool LabSavedState::Read(FILE* file, uintmax_t fileSize, const char* path) {
    const bool whole = fread(&header, sizeof header, 1, file) == 1;
    const char* why = nullptr;
    char text[160];
    if (whole && std::memcmp(header.magic, kDemoMagic, sizeof kDemoMagic) == 0) {
        why = "holds a state of a demo driver (pondsim-headless or pondsim-wide-headless), not of the lab";
    } else if (!whole || std::memcmp(header.magic, kMagic, sizeof kMagic) != 0) {
        why = "not a pondsim lab state file";
    } else if ((header.version != kLabStateVersion && header.version != kRawParametersVersion) ||
               (header.version == kRawParametersVersion && header.parametersSize != kRawParametersBytes) ||
               header.parametersSize > kMaxParameterBytes) {
        snprintf(text, sizeof text, "written in format version %" PRIu32 "; this driver reads version %" PRIu32,
                 header.version, kLabStateVersion);
        why = text;
    } else if (SceneKind kind; header.scene[sizeof header.scene - 1] != '\0' ||
               !SceneByName(header.scene, kind) || header.step < 0 || header.step > 1000000000 ||
               !(header.time >= 0.0)) {
        why = "damaged: its scene, step or time is out of range";
    } else if (header.particleCount < 0 || header.particleCount > kMaxLabParticles || header.movingCount < 0 ||
               header.movingCount > header.particleCount || header.listEntries < 0 ||
               header.listEntries > static_cast<int64_t>(header.particleCount) * 256) {
        snprintf(text, sizeof text, "damaged: it claims %" PRId32 " particles, %" PRId32 " moving, %" PRId64
                 " list entries", header.particleCount, header.movingCount, header.listEntries);
        why = text;
    } else if (fileSize != sizeof header + header.parametersSize + PayloadBytes(header) + sizeof(uint64_t)) {
        why = "truncated or padded: its size does not match its particle count";
    }
    if (why != nullptr) return RefuseState(path, why);

    std::string bytes(header.parametersSize, '\0');
    bool read = bytes.empty() || fread(bytes.data(), bytes.size(), 1, file) == 1;
    const size_t n = static_cast<size_t>(header.particleCount);
    try {
        for (auto& field : snapshot.fields) field.resize(n);
        snapshot.counts.resize(n);
        snapshot.slots.resize(static_cast<size_t>(header.listEntries));
    } catch (const std::bad_alloc&) {
        return RefuseState(path, "no memory for its particles");
    }
    ForEachArray(snapshot, [&](void* data, size_t size) { read = read && (size == 0 || fread(data, size, 1, file) == 1); });
    uint64_t stored = 0;
    read = read && fread(&stored, sizeof stored, 1, file) == 1;
    StateHash checksum;
    checksum.Add(&header, sizeof header);
    checksum.Add(bytes.data(), bytes.size());
    ForEachArray(snapshot, [&](const void* data, size_t size) { checksum.Add(data, size); });
    if (!read || checksum.value() != stored) return RefuseState(path, "damaged: its checksum does not match");
    if (header.version == kRawParametersVersion) {
        if (const char* name = ParameterOutOfRange(reinterpret_cast<const unsigned char*>(bytes.data()))) {
            snprintf(text, sizeof text, "damaged: its parameter %s is out of the range --set takes", name);
            return RefuseState(path, text);
        }
        std::memcpy(static_cast<void*>(&parameters), bytes.data(), kRawParametersBytes);
    } else {
        std::string why;
        if (!ParseLabParameters(bytes, parameters, why)) {
            return RefuseState(path, ("damaged: its parameters: " + why).c_str());
        }
    }
    // The lists must fit the counts and the parameters, or taking them up
    // would read past them.
    int64_t listed = 0;
    for (const int32_t c : snapshot.counts) {
        if (c < 0 || (parameters.neighbourCap > 0 && c > parameters.neighbourCap)) {
            return RefuseState(path, "damaged: its lists do not fit its parameters");
        }
        listed += c;
    }
    const int64_t expected =
        parameters.neighbourCap > 0 ? static_cast<int64_t>(n) * parameters.neighbourCap : listed;
    if (expected != header.listEntries) return RefuseState(path, "damaged: its lists do not fit its parameters");
    snapshot.moving = header.movingCount;
    snapshot.time = header.time;
    snapshot.steps = header.step;
    return true;
}
