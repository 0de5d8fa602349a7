// The window's record section without a window: a saved state taken up
// again goes on bit for bit, and the VTK series lands in the folder.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "outputs/lab_state_file.h"
#include "lab/lab_record.h"
#include "sim/lab/lab_session.h"
#include "sim/core/fnv_hash.h"

namespace {

TEST(LabRecord, SavedStateGoesOnAndTheExportWritesItsFiles) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "pondsim-lab-record-test";
    std::filesystem::remove_all(folder);
    LabRecorder recorder;
    recorder.folder = folder.string();
    LabRun run;
    for (int i = 0; i < 5; ++i) run.Tick();
    const std::string path = recorder.SaveState(run);
    ASSERT_FALSE(path.empty());
    for (int i = 0; i < 5; ++i) run.Tick();
    const uint64_t after10 = run.solver().StateHash();

    ASSERT_TRUE(recorder.StartExport(run, 2));
    ASSERT_TRUE(recorder.LoadState(run, path));
    EXPECT_EQ(run.solver().steps(), 5);
    for (int i = 0; i < 5; ++i) {
        run.Tick();
        recorder.AfterSteps(run);
    }
    EXPECT_EQ(run.solver().StateHash(), after10);
    recorder.StopExport(run);
    // Step 10 at the start, then 6 and 8 after the load went back to 5.
    for (const char* name : {"particles-000010.vtp", "particles-000006.vtp", "particles-000008.vtp", "particles.pvd"}) {
        EXPECT_TRUE(std::filesystem::exists(folder / name)) << name;
    }
    std::filesystem::remove_all(folder);
}

// A state whose scene or parameters no run could have written (the checksum
// made right again) is refused with the reason: the run would take them up
// without asking again.
TEST(LabRecord, StateTheRunCouldNotHaveWrittenIsRefused) {
    const std::string path = (std::filesystem::temp_directory_path() / "pondsim-lab-record-test.state").string();
    LabSolver solver;
    solver.SetThreads(1);
    solver.Reset({Vec3{1.0f, 1.0f, 1.0f}, Vec3{1.2f, 1.0f, 1.0f}});
    testing::internal::CaptureStdout();
    ASSERT_TRUE(SaveLabState(solver, "scatter", 0, path.c_str()));
    testing::internal::GetCapturedStdout();
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> written{std::istreambuf_iterator<char>(in), {}};
    in.close();
    // The same state as the earlier format kept it, the parameters as they
    // lie in memory: the loader still reads such files, and must hold their
    // values to the ranges as the text lines' reading does.
    LabStateHeader header;
    std::memcpy(&header, written.data(), sizeof header);
    const size_t arrays = sizeof header + header.parametersSize;
    header.version = 1;
    header.parametersSize = kRawParametersBytes;
    std::vector<char> saved(sizeof header + kRawParametersBytes);
    std::memcpy(saved.data(), &header, sizeof header);
    std::memcpy(saved.data() + sizeof header, &solver.parameters(), kRawParametersBytes);
    saved.insert(saved.end(), written.begin() + static_cast<ptrdiff_t>(arrays), written.end());
    const size_t at = sizeof(LabStateHeader);
    const float negative = -1.0f;
    struct Damage {
        size_t offset;
        std::vector<char> bytes;
        const char* said;
    } damages[] = {
        {offsetof(LabStateHeader, scene), {'p', 'u', 'd', 'd', 'l', 'e', 0}, "scene"},
        {at + offsetof(LabParameters, viscosity), std::vector<char>(4), "viscosity"},
        {at + offsetof(LabParameters, walls), {2}, "switch"},
    };
    std::memcpy(damages[1].bytes.data(), &negative, sizeof negative);
    for (const Damage& damage : damages) {
        std::vector<char> file = saved;
        std::copy(damage.bytes.begin(), damage.bytes.end(), file.begin() + static_cast<ptrdiff_t>(damage.offset));
        StateHash checksum;
        checksum.Add(file.data(), file.size() - sizeof(uint64_t));
        const uint64_t sum = checksum.value();
        std::memcpy(file.data() + file.size() - sizeof sum, &sum, sizeof sum);
        std::ofstream(path, std::ios::binary).write(file.data(), static_cast<std::streamsize>(file.size()));
        testing::internal::CaptureStderr();
        LabSavedState state;
        EXPECT_FALSE(state.Read(path.c_str())) << damage.said;
        EXPECT_NE(testing::internal::GetCapturedStderr().find(damage.said), std::string::npos) << damage.said;
    }
    std::filesystem::remove(path);
}

}  // namespace
