// Runs the scene without a window and reports how fast and how well it went.

#include "headless/demo_run.h"
#include "headless/options.h"
#include "headless/preflight.h"

// Exit codes: 0 a whole run; 2 a mistake on the command line or a file or
// tool the run needs that is missing or unusable, found before anything is
// built; 1 a failure during the run (the outputs then leave no partial
// file); 130 or 143 a run that SIGINT or SIGTERM ended after a step, with
// every file complete and the report printed, as a shell reports a program
// those signals end.
int main(int argc, char** argv) {
    Options options = DemoOptions();
    switch (ParseOptions(argc, argv, options)) {
        case ParseResult::Run: break;
        case ParseResult::Exit: return 0;
        case ParseResult::Fail: return 2;
    }
    if (!Preflight(options)) return 2;
    SavedState saved;
    if (options.loadState != nullptr && !saved.Read(options.loadState)) return 2;

    CatchStopSignals();
    RunRecord record;
    Scene* scene = SetUpScene(options, saved, record);
    if (scene == nullptr) return 1;
    SceneSubject subject(*scene);
    if (!RunSteps(subject, options, record)) return 1;
    PrintReport(options, *scene, record);
    if (options.Draws() && !DrawAfterRun(subject, options, record)) return 1;
    return record.stoppedBy != 0 ? 128 + record.stoppedBy : 0;
}
