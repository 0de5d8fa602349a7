#pragma once

#include <memory>
#include <string>

class LabRun;
struct VtkExport;

// The panel's record section: VTK files of the particles and the lab's
// state files, written by the headless driver's own outputs into a folder
// the user names. Not in the browser, which has no folder to write to.
struct LabRecorder {
    std::string folder = "pondsim-lab-out";
    // Every this many steps while exporting; 0: not exporting.
    int exportEvery = 0;
    long lastExported = -1;
    std::unique_ptr<VtkExport> vtk;

    LabRecorder();
    ~LabRecorder();
    // Starts or stops the VTK series in the folder; false with a message.
    bool StartExport(LabRun& run, int every);
    void StopExport(LabRun& run);
    // After steps: one file for every exportEvery steps passed.
    void AfterSteps(LabRun& run);
    // DIR/lab-<step>.state; returns its path, empty on failure.
    std::string SaveState(const LabRun& run);
    // Takes up a saved state in place of the run's particles.
    bool LoadState(LabRun& run, const std::string& path);
};
