#include "lab/lab_record.h"

#include <cstdio>

#include "outputs/lab_particles.h"
#include "outputs/lab_state_file.h"
#include "outputs/output.h"
#include "lab/lab_run.h"

namespace {

// The run's particles as the outputs read them.
struct RunView : LabParticles<RunSubject> {
    const LabSolver& solver;
    explicit RunView(const LabSolver& solver) : solver(solver) {}
    const LabSolver& Solver() const override { return solver; }
    // The window draws its own frames.
    void Render() override {}
};

}  // namespace

LabRecorder::LabRecorder() = default;
LabRecorder::~LabRecorder() = default;

bool LabRecorder::StartExport(LabRun& run, int every) {
    StopExport(run);
    vtk = std::make_unique<VtkExport>(folder.c_str());
    RunView view(run.solver());
    if (!vtk->Start(view) || !vtk->Write(view, static_cast<long>(run.solver().steps()))) {
        vtk.reset();
        return false;
    }
    exportEvery = every < 1 ? 1 : every;
    lastExported = static_cast<long>(run.solver().steps());
    return true;
}

void LabRecorder::StopExport(LabRun& run) {
    if (vtk == nullptr) return;
    RunView view(run.solver());
    vtk->Finish(view, static_cast<long>(run.solver().steps()));
    vtk.reset();
    exportEvery = 0;
}

void LabRecorder::AfterSteps(LabRun& run) {
    if (vtk == nullptr) return;
    const long step = static_cast<long>(run.solver().steps());
    if (step < lastExported + exportEvery && step >= lastExported) return;
    RunView view(run.solver());
    if (!vtk->Write(view, step)) {
        std::fprintf(stderr, "lab: the export stopped\n");
        vtk.reset();
        exportEvery = 0;
        return;
    }
    lastExported = step;
}

std::string LabRecorder::SaveState(const LabRun& run) {
    if (!MakeOutputFolder(FolderName(folder.c_str()), "save")) return {};
    const std::string path =
        FolderName(folder.c_str()) + "/lab-" + std::to_string(run.solver().steps()) + ".state";
    if (!SaveLabState(run.solver(), SceneName(run.scene()), static_cast<long>(run.solver().steps()), path.c_str())) {
        return {};
    }
    return path;
}

bool LabRecorder::LoadState(LabRun& run, const std::string& path) {
    LabSavedState saved;
    if (!saved.Read(path.c_str())) return false;
    LabSolver& solver = run.solver();
    solver.SetParameters(saved.parameters);
    solver.Load(saved.snapshot);
    return true;
}
