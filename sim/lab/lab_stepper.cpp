#include "sim/lab/lab_stepper.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

// How far real time may run ahead of a fluid that cannot keep up before
// the stretch starts again: after a slow patch the fluid does not rush to
// make up the seconds it lost.
constexpr double kMostBehind = 0.1;
// The real-time factor is measured over about this many seconds.
constexpr double kFactorSeconds = 1.0;

double SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

const char* LabPaceName(LabPace pace) {
    switch (pace) {
    case LabPace::Beat: return "beat";
    case LabPace::AsFast: return "as fast as it goes";
    case LabPace::RealTime: return "real time";
    }
    return "";
}

LabPace DefaultLabPace(const std::string& preset) { return preset == "water" ? LabPace::RealTime : LabPace::Beat; }

void CaptureLabPositions(const LabSolver& solver, int, LabFrame& frame) {
    const int32_t n = solver.count();
    frame.positions.resize(static_cast<size_t>(n));
    frame.values.resize(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        frame.positions[static_cast<size_t>(i)] = solver.position(i);
        frame.values[static_cast<size_t>(i)] = solver.density(i);
    }
}

LabStepper::LabStepper(Clock clock)
    : clock_(clock ? std::move(clock) : Clock(SteadySeconds)),
      writing_(std::make_unique<LabFrame>()),
      ready_(std::make_unique<LabFrame>()),
      drawn_(std::make_unique<LabFrame>()) {}

LabStepper::~LabStepper() {
#ifdef PONDSIM_LAB_STEPPER_THREAD
    Stop();
#endif
}

void LabStepper::Give(Item item) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        mailbox_.push_back(std::move(item));
        ++posted_;
    }
#ifdef PONDSIM_LAB_STEPPER_THREAD
    posting_.notify_one();
#endif
}

void LabStepper::Post(const LabCommand& command) {
    Item item;
    item.command = command;
    Give(std::move(item));
}

void LabStepper::PostTask(std::function<void(LabRun&)> task) {
    Item item;
    item.task = std::move(task);
    Give(std::move(item));
}

void LabStepper::SetPace(LabPace pace) {
    Item item;
    item.pace = true;
    item.newPace = pace;
    Give(std::move(item));
}

void LabStepper::Anchor(double now) {
    anchorWall_ = now;
    anchorSim_ = run_.solver().time();
}

void LabStepper::Take(Item& item, double now) {
    if (item.task) {
        item.task(run_);
        // A task may have replaced the particles (a state loaded).
        Anchor(now);
    } else if (item.pace) {
        pace_ = item.newPace;
        Anchor(now);
        nextBeat_ = now;
    } else {
        const LabParameters before = run_.parameters();
        const bool wasPaused = run_.paused();
        run_.Post(item.command);
        run_.Apply();
        if (item.command.kind == LabCommand::Kind::SetPreset) pace_ = DefaultLabPace(run_.preset());
        // Any change starts a new stretch of real time: an extra step, a
        // reset or other constants are not made up for.
        Anchor(now);
        if (wasPaused && !run_.paused()) nextBeat_ = now;
        if (applied) applied(run_, item.command, before);
    }
    ++applied_;
}

double LabStepper::Turn() {
    const double now = clock_();
    std::deque<Item> items;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        items.swap(mailbox_);
    }
    bool changed = !items.empty();
    for (Item& item : items) Take(item, now);

    double wait = -1.0;
    if (!run_.paused()) {
        bool due = true;
        if (pace_ == LabPace::Beat && now < nextBeat_) {
            due = false;
            wait = nextBeat_ - now;
        } else if (pace_ == LabPace::RealTime) {
            // A step is never longer than timeStep: one taken only while the
            // simulated time is at least that far behind leaves it behind.
            const double longest = static_cast<double>(run_.parameters().timeStep) * run_.stepsPerTick;
            const double most = std::max(kMostBehind, longest);
            double behind = (now - anchorWall_) - (run_.solver().time() - anchorSim_);
            if (behind > most) {
                anchorWall_ += behind - most;
                behind = most;
            }
            if (behind < longest) {
                due = false;
                wait = longest - behind;
            }
        }
        if (due) {
            run_.Tick();
            const double after = clock_();
            stepMs_ = (after - now) * 1000.0 / run_.stepsPerTick;
            if (pace_ == LabPace::Beat) {
                // As the demo's timer: a beat missed while a step ran comes
                // at once, one long missed starts the beats anew.
                nextBeat_ += kLabBeatSeconds;
                if (nextBeat_ < now) nextBeat_ = now + kLabBeatSeconds;
            }
            const double time = run_.solver().time();
            if (!samples_.empty() && time < samples_.back().second) samples_.clear();
            samples_.emplace_back(after, time);
            while (samples_.size() > 2 && samples_[1].first <= after - kFactorSeconds) samples_.pop_front();
            if (afterSteps) afterSteps(run_);
            changed = true;
            wait = 0.0;
        }
    }
    if (changed || !published_) Publish(clock_());
    return wait;
}

void LabStepper::Publish(double now) {
    LabFrame& f = *writing_;
    const LabSolver& s = run_.solver();
    f.steps = s.steps();
    f.time = s.time();
    f.timeStep = s.lastTimeStep();
    f.parameters = run_.parameters();
    f.presetParameters = run_.presetParameters();
    f.paused = run_.paused();
    f.scene = run_.scene();
    f.preset = run_.preset();
    f.count = s.count();
    f.moving = s.movingCount();
    f.threads = s.threads();
    f.stepsPerTick = run_.stepsPerTick;
    f.pace = pace_;
    f.figures = MeasureFluid(s);
    f.realTimeFactor = 0.0;
    if (samples_.size() >= 2 && !f.paused) {
        const double wall = now - samples_.front().first;
        if (wall > 0.0) f.realTimeFactor = (samples_.back().second - samples_.front().second) / wall;
    }
    f.stepMs = stepMs_;
    f.applied = applied_;
    f.field = field_.load();
    capture(s, f.field, f);
    published_ = true;
    std::lock_guard<std::mutex> lock(mutex_);
    std::swap(writing_, ready_);
    fresh_ = true;
}

const LabFrame& LabStepper::Newest() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fresh_) {
        std::swap(ready_, drawn_);
        fresh_ = false;
    }
    return *drawn_;
}

#ifdef PONDSIM_LAB_STEPPER_THREAD
void LabStepper::Start() {
    if (thread_.joinable()) return;
    const double now = clock_();
    Anchor(now);
    nextBeat_ = now + kLabBeatSeconds;
    Publish(now);
    stop_ = false;
    thread_ = std::thread([this] {
        for (;;) {
            const double wait = Turn();
            std::unique_lock<std::mutex> lock(mutex_);
            const auto woken = [this] { return stop_ || !mailbox_.empty(); };
            if (!woken()) {
                if (wait < 0.0) {
                    posting_.wait(lock, woken);
                } else if (wait > 0.0) {
                    posting_.wait_for(lock, std::chrono::duration<double>(wait), woken);
                }
            }
            if (stop_) return;
        }
    });
}

void LabStepper::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    posting_.notify_all();
    if (thread_.joinable()) thread_.join();
}
#endif
