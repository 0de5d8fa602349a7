// The window's record section without a window: a saved state taken up
// again goes on bit for bit, and the VTK series lands in the folder.

#include <gtest/gtest.h>

#include <filesystem>

#include "lab/lab_record.h"
#include "sim/lab/lab_session.h"

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

}  // namespace
