// Arbitrary bytes as a state file for --load-state. Whatever they hold, the
// loader must not crash, must allocate nothing a file of that size could not
// fill (a header claiming millions of particles is no reason to ask for the
// memory), and must say why whenever it refuses. Each input is read as it
// is and again with its last eight bytes made the checksum of the rest, so
// that the checks behind the checksum are reached too.
//
// Built with PONDSIM_FUZZ_LAB for the lab's state file, whose accepted
// states must also hold what the run takes up without asking again: a scene
// it knows, parameters --set would take, and lists the solver can step from.

#include <sanitizer/allocator_interface.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "demo/state_file.h"
#include "sim/demo/state_hash.h"
#include "tests/fuzz/fuzz_checks.h"

#if defined(PONDSIM_FUZZ_LAB)
#include "outputs/lab_state_file.h"
#include "sim/lab/lab_parameter_table.h"
#include "sim/lab/lab_solver.h"
#include "sim/lab/scenes.h"
#endif

namespace {

// The largest block asked for while the loader reads.
bool watching = false;
size_t largest = 0;

void OnMalloc(const volatile void*, size_t size) {
    if (watching && size > largest) largest = size;
}
void OnFree(const volatile void*) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
#if defined(PONDSIM_FUZZ_LAB)
    // Made once, on first use: not the loader's allocation. Left to the
    // first input that looks a scene up, the scenes' table counted against
    // a file shorter than it.
    LabParameterTable();
    LabParameterGroups();
    LabScenes();
#endif
    return 0;
}

namespace {

#if defined(PONDSIM_FUZZ_LAB)
using State = LabSavedState;

void CheckAccepted(const LabSavedState& state, size_t size) {
    const LabStateHeader& h = state.header;
    const size_t n = static_cast<size_t>(h.particleCount);
    const LabSolver::Snapshot& s = state.snapshot;
    // Files before version 3 held two fields fewer (the pressure solver's).
    const size_t fields = h.version >= 3 ? LabSolver::Snapshot::kFields : LabSolver::Snapshot::kFields - 2;
    if (h.particleCount < 0 || h.particleCount > kMaxLabParticles || h.movingCount < 0 ||
        h.movingCount > h.particleCount || h.listEntries < 0 || h.step < 0 || h.step > 1000000000 || !(h.time >= 0.0) ||
        sizeof h + h.parametersSize + n * (fields * sizeof(float) + sizeof(int32_t)) +
                static_cast<size_t>(h.listEntries) * sizeof(int32_t) + sizeof(uint64_t) !=
            size) {
        FuzzFail("accepted a header out of range", static_cast<long long>(h.step));
    }
    for (const std::vector<float>& field : s.fields) {
        if (field.size() != n) FuzzFail("accepted a field of another length", static_cast<long long>(field.size()));
    }
    if (s.counts.size() != n || s.slots.size() != static_cast<size_t>(h.listEntries) || s.moving != h.movingCount ||
        s.steps != h.step) {
        FuzzFail("accepted lists of another length", static_cast<long long>(s.slots.size()));
    }
    SceneKind kind;
    if (!SceneByName(h.scene, kind)) FuzzFail("accepted a scene the run does not know", 0);
    int index = 0;
    for (const LabParameterInfo& info : LabParameterTable()) {
        const double value = info.get(state.parameters);
        if (!(value >= info.min && value <= info.max)) FuzzFail("accepted a parameter --set refuses", index);
        ++index;
    }
    // The run goes on from it. One solver for every input, on one thread:
    // starting a pool's threads would cost more than the step.
    static LabSolver& solver = *[] {
        auto* made = new LabSolver;
        made->SetThreads(1);
        return made;
    }();
    solver.SetParameters(state.parameters);
    solver.Load(s);
    solver.Step();
}
#else
using State = SavedState;

void CheckAccepted(const SavedState& state, size_t size) {
    const StateFileHeader& h = state.header;
    if (h.particleCount < 0 || h.particleCount > kMaxStateParticles || h.step < 0 || h.step > kMaxStep ||
        sizeof h + sizeof(Particle) * static_cast<size_t>(h.particleCount) + sizeof(uint64_t) != size ||
        (h.particleCount > 0 && state.particles == nullptr)) {
        FuzzFail("accepted a header out of range", static_cast<long long>(h.step));
    }
}
#endif

void ReadAndCheck(const uint8_t* data, size_t size) {
    // fmemopen takes no empty buffer; an empty file stands for itself below.
    static const uint8_t nothing = 0;
    FILE* file = fmemopen(const_cast<uint8_t*>(size > 0 ? data : &nothing), size > 0 ? size : 1, "r");
    char said[512] = {};
    FILE* messages = fmemopen(said, sizeof said - 1, "w");
    if (file == nullptr || messages == nullptr) abort();
    if (size == 0) fgetc(file);
    // Unbuffered, so that the streams' own buffers are not counted as the
    // loader's allocations.
    setvbuf(file, nullptr, _IONBF, 0);
    setvbuf(messages, nullptr, _IONBF, 0);
    FILE* const console = stderr;
    stderr = messages;

    State state;
    largest = 0;
    watching = true;
    const bool read = state.Read(file, size, "fuzzed.state");
    watching = false;
    stderr = console;
    fclose(messages);
    fclose(file);

    if (largest > size) FuzzFail("allocated more than the file's size", static_cast<long long>(largest));
    if (!read) {
        if (std::strncmp(said, "--load-state fuzzed.state: ", 27) != 0 || said[27] == '\0') {
            FuzzFail("refused without saying why", static_cast<long long>(size));
        }
        return;
    }
    if (said[0] != '\0') FuzzFail("accepted with a complaint", 0);
    CheckAccepted(state, size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReadAndCheck(data, size);
    if (size >= sizeof(uint64_t)) {
        std::vector<uint8_t> stamped(data, data + size);
        StateHash checksum;
        checksum.Add(stamped.data(), size - sizeof(uint64_t));
        const uint64_t sum = checksum.value();
        std::memcpy(stamped.data() + size - sizeof sum, &sum, sizeof sum);
        ReadAndCheck(stamped.data(), size);
    }
    return 0;
}
