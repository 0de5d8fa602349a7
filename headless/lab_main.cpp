// Runs the lab's solver without a window and reports how fast and how well
// it went, with the demo drivers' outputs, checks and exit codes.

#include "headless/lab_options.h"
#include "headless/lab_run.h"
#include "outputs/lab_state_file.h"
#include "headless/preflight.h"

// Exit codes as the demo drivers' (headless/main.cpp): 0 a whole run, 2 a
// mistake found before anything is built, 1 a failure during the run, 130
// or 143 after SIGINT or SIGTERM.
int main(int argc, char** argv) {
    LabOptions options;
    switch (ParseLabOptions(argc, argv, options)) {
        case ParseResult::Run: break;
        case ParseResult::Exit: return 0;
        case ParseResult::Fail: return 2;
    }
    if (!Preflight(options.run)) return 2;
    LabSavedState saved;
    if (options.run.loadState != nullptr && !saved.Read(options.run.loadState)) return 2;

    CatchStopSignals();
    RunRecord record;
    std::unique_ptr<LabSubject> subject = SetUpLab(options, saved, record);
    if (subject == nullptr || !RunSteps(*subject, options.run, record)) return 1;
    PrintLabReport(options, *subject, record);
    if (options.run.Draws() && !DrawAfterRun(*subject, options.run, record)) return 1;
    return record.stoppedBy != 0 ? 128 + record.stoppedBy : 0;
}
