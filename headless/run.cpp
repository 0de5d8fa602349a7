#include "headless/run.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>


namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point started) {
    return std::chrono::duration<double, std::milli>(Clock::now() - started).count();
}

volatile std::sig_atomic_t stopSignal = 0;

extern "C" void OnStopSignal(int signal) {
    stopSignal = signal;
    std::signal(signal, SIG_DFL);
}

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

void DrawProgress(long done, long total) {
    const int width = 40;
    const int filled = total == 0 ? width : static_cast<int>(done * width / total);
    fprintf(stderr, "\r[%.*s%*s] %ld/%ld", filled, "========================================", width - filled, "",
            done, total);
    if (done == total) fputc('\n', stderr);
    fflush(stderr);
}

OffscreenContext offscreen;

}  // namespace

namespace {

bool WriteAll(std::vector<KeptOutput>& outputs, RunSubject& subject, long step) {
    for (KeptOutput& kept : outputs) {
        if (!kept.Write(subject, step)) return false;
    }
    return true;
}

}  // namespace

bool KeptOutput::Write(RunSubject& subject, long step) {
    const auto started = Clock::now();
    const bool ok = output->Write(subject, step);
    writeMs.Add(MillisecondsSince(started));
    return ok;
}

void SoakWatch::CheckPositions(const SteppedSubject& subject) {
    const Vec3 lo = subject.BoxMin();
    const Vec3 hi = subject.BoxMax();
    const int32_t count = subject.ParticleCount();
    const int32_t moving = subject.MovingCount();
    for (int32_t i = 0; i < count; ++i) {
        const Vec3 p = subject.Position(i);
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
            ++nonFinite;
        } else if (i < moving && (p.x < lo.x || p.x > hi.x || p.y < lo.y || p.y > hi.y || p.z < lo.z || p.z > hi.z)) {
            ++outside;
        }
    }
}

void SoakWatch::Sample(long step) {
    last = ReadResidency();
    if (!sampled) first = last;
    sampled = true;
    printf("check at step %ld: non-finite %ld, outside the box %ld, rss %ld kB, peak %ld kB\n", step, nonFinite,
           outside, last.current, last.peak);
    fflush(stdout);
}

void CatchStopSignals() {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

OffscreenContext& RunOffscreen() { return offscreen; }

bool StartDrawing(const Options& options) {
    if (!offscreen.Init(static_cast<int>(options.width), static_cast<int>(options.height))) {
        fprintf(stderr, "cannot draw offscreen: %s\n", offscreen.error);
        return false;
    }
    return true;
}

bool RunSteps(SteppedSubject& subject, const Options& options, RunRecord& record) {
    const long firstStep = record.firstStep;
    const long lastStep = firstStep + options.steps;

    // What the run keeps, each timed on its own.
    const long writes = options.steps / options.every + 2;
    const auto keep = [&record, writes](const char* name, std::unique_ptr<RunOutput> output) {
        record.outputs.push_back(KeptOutput{name, std::move(output), DurationSample(writes)});
    };
    if (options.record != nullptr) keep("record", std::make_unique<PngFrames>(options.record, offscreen));
    if (options.video != nullptr) keep("video", std::make_unique<VideoStream>(options.video, options.fps, offscreen));
    if (options.exportFolder != nullptr) keep("export", std::make_unique<VtkExport>(options.exportFolder));
    if (!record.outputs.empty()) {
        subject.Resize(options.width, options.height);
    }
    for (KeptOutput& kept : record.outputs) {
        if (!kept.output->Start(subject) || !kept.Write(subject, firstStep)) return false;
    }

    constexpr long kEvery = RunRecord::kStageSampleEvery;
    record.stagesEveryStep = options.steps < kEvery;
    const long stageSamples = record.stagesEveryStep ? options.steps : options.steps / kEvery;
    for (DurationSample& sample : record.stageMs) sample = DurationSample(stageSamples);
    record.stepMs = DurationSample(record.stagesEveryStep ? options.steps : options.steps - stageSamples);

    const bool progress = StderrIsTerminal() && options.steps > 0;
    const long progressEvery = std::max(1L, options.steps / 200);
    const auto runStarted = Clock::now();
    if (options.checkEvery > 0) record.watch.Sample(firstStep);
    for (long done = 0; done < options.steps; ++done) {
        const long step = firstStep + done + 1;
        subject.TimedStep(record, record.stagesEveryStep || done % kEvery == kEvery - 1);
        record.stepsDone = done + 1;
        record.lastStep = step;
        record.stoppedBy = stopSignal;
        subject.AfterStep(step);
        // The last step is kept whether or not --every divides the run.
        const bool ends = step == lastStep || record.stoppedBy != 0;
        if (options.checkEvery > 0) {
            record.watch.CheckPositions(subject);
            if ((done + 1) % options.checkEvery == 0 || ends) record.watch.Sample(step);
        }
        if (((done + 1) % options.every == 0 || ends) && !WriteAll(record.outputs, subject, step)) return false;
        if (progress && ((done + 1) % progressEvery == 0 || ends)) DrawProgress(done + 1, options.steps);
        if (record.stoppedBy != 0) break;
    }
    record.seconds = std::chrono::duration<double>(Clock::now() - runStarted).count();
    if (record.stoppedBy != 0) {
        if (progress) fputc('\n', stderr);
        fprintf(stderr, "stopped by %s after step %ld; every file it wrote is complete\n",
                record.stoppedBy == SIGINT ? "SIGINT" : "SIGTERM", record.lastStep);
    }
    for (KeptOutput& kept : record.outputs) {
        if (!kept.output->Finish(subject, record.lastStep)) return false;
    }
    return options.saveState == nullptr || subject.SaveState(record.lastStep, options.saveState);
}

bool DrawAfterRun(SteppedSubject& subject, const Options& options, const RunRecord& record) {
    subject.Resize(options.width, options.height);
    if (options.frames > 0 && record.stoppedBy == 0) {
        DurationSample frameMs(options.frames);
        for (long frame = 0; frame < options.frames; ++frame) {
            const auto started = Clock::now();
            subject.Render();
            frameMs.Add(MillisecondsSince(started));
        }
        const Percentiles p = frameMs.Summarise();
        printf("frames: %ld at %ldx%ld\n", options.frames, options.width, options.height);
        printf("ms per frame (median, p95): %.4f %.4f\n", p.median, p.p95);
    }
    if (options.snapshot != nullptr) {
        subject.Render();
        std::vector<Rgba8> pixels;
        offscreen.ReadPixels(pixels);
        char error[512];
        const std::string path = options.snapshot;
        const bool written =
            WritePng(PartialName(path).c_str(), offscreen.width, offscreen.height, pixels, error, sizeof error);
        if (!PlaceFile(path, written)) {
            if (written) snprintf(error, sizeof error, "cannot rename the finished picture to %s", path.c_str());
            fprintf(stderr, "--snapshot: %s\n", error);
            return false;
        }
        printf("snapshot: %s (%ldx%ld)\n", options.snapshot, options.width, options.height);
    }
    return true;
}
