#include "sim/lab/worker_pool.h"

#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
#define PONDSIM_NO_THREADS 1
#endif

#if defined(PONDSIM_NO_THREADS)

struct WorkerPool::State {};

WorkerPool::WorkerPool(int) : state_(nullptr) {}
WorkerPool::~WorkerPool() = default;
int WorkerPool::threads() const { return 1; }
void WorkerPool::Run(int32_t pieces, const std::function<void(int32_t)>& fn) {
    for (int32_t piece = 0; piece < pieces; ++piece) fn(piece);
}

#else

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// A job is announced by raising the generation under the lock. Each thread
// owns a run of the job's pieces, the same run for every job of that many
// pieces, and takes them from its front: the sweeps of a step go over the
// same pieces again and again, and a piece's data is then mostly still in
// the cache of the core that took it last. A thread done with its own run
// takes pieces from the back of the others' runs, so a thread that wakes
// late or is given the lighter pieces holds nobody up; as long as the work
// is spread alike from one job to the next, those are the same pieces too.
// A worker copies the job under the lock, and only while the job is open:
// a worker that wakes late, after the caller has closed the job and perhaps
// opened the next one, must never run the new job's pieces with the old
// job's function. The caller closes a job only once
// no worker is inside it. A worker that finds no job spins briefly before
// it sleeps: the stages of a step follow each other within microseconds,
// but on a shared machine a spinning thread would steal the core another
// thread needs.
struct WorkerPool::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable done;
    std::vector<std::thread> workers;
    std::atomic<uint64_t> generation{0};
    bool stopping = false;
    const std::function<void(int32_t)>* job = nullptr;
    // A thread's run of pieces still to take, [front, back), packed as
    // front | back << 32; a cache line each.
    struct alignas(64) Span {
        std::atomic<uint64_t> span{0};
    };
    std::unique_ptr<Span[]> runs;
    std::atomic<int32_t> finished{0};
    int32_t busy = 0;

    int threads() const { return static_cast<int>(workers.size()) + 1; }

    void Share(int32_t count) {
        const int64_t n = threads();
        for (int64_t t = 0; t < n; ++t) {
            const uint64_t front = static_cast<uint64_t>(count * t / n);
            const uint64_t back = static_cast<uint64_t>(count * (t + 1) / n);
            runs[t].span.store(front | back << 32, std::memory_order_relaxed);
        }
    }

    // The next piece from the front (or the back) of run t; -1 when none is left.
    int32_t Take(int t, bool fromBack) {
        std::atomic<uint64_t>& span = runs[t].span;
        uint64_t now = span.load(std::memory_order_relaxed);
        for (;;) {
            const uint64_t front = now & 0xffffffffu, back = now >> 32;
            if (front >= back) return -1;
            const uint64_t taken = fromBack ? front | (back - 1) << 32 : (front + 1) | back << 32;
            if (span.compare_exchange_weak(now, taken, std::memory_order_relaxed)) {
                return static_cast<int32_t>(fromBack ? back - 1 : front);
            }
        }
    }

    void Work(const std::function<void(int32_t)>& fn, int self) {
        const int n = threads();
        for (int k = 0; k < n; ++k) {
            const int t = (self + k) % n;
            for (int32_t piece; (piece = Take(t, t != self)) >= 0;) {
                fn(piece);
                finished.fetch_add(1, std::memory_order_acq_rel);
            }
        }
    }

    void Loop(int self) {
        uint64_t seen = 0;
        for (;;) {
            for (int spin = 0; spin < 2000 && generation.load(std::memory_order_acquire) == seen; ++spin) {
                std::this_thread::yield();
            }
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [&] { return stopping || generation.load() != seen; });
            if (stopping) return;
            seen = generation.load();
            if (job == nullptr) continue;
            const std::function<void(int32_t)>& fn = *job;
            ++busy;
            lock.unlock();
            Work(fn, self);
            lock.lock();
            if (--busy == 0) done.notify_all();
        }
    }
};

WorkerPool::WorkerPool(int threads) : state_(new State) {
    int count = threads > 0 ? threads : static_cast<int>(std::thread::hardware_concurrency());
    if (count < 1) count = 1;
    state_->runs.reset(new State::Span[static_cast<size_t>(count)]);
    for (int t = 1; t < count; ++t) state_->workers.emplace_back([this, t] { state_->Loop(t); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    for (std::thread& worker : state_->workers) worker.join();
    delete state_;
}

int WorkerPool::threads() const {
    return static_cast<int>(state_->workers.size()) + 1;
}

void WorkerPool::Run(int32_t pieces, const std::function<void(int32_t)>& fn) {
    State& s = *state_;
    if (s.workers.empty() || pieces <= 1) {
        for (int32_t piece = 0; piece < pieces; ++piece) fn(piece);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.job = &fn;
        s.Share(pieces);
        s.finished.store(0);
        s.generation.fetch_add(1, std::memory_order_release);
    }
    s.wake.notify_all();
    s.Work(fn, 0);
    // The last pieces are the workers' and end within microseconds: wait
    // for them awake, as a worker waits for the next job, before sleeping.
    for (int spin = 0; spin < 2000 && s.finished.load(std::memory_order_acquire) != pieces; ++spin) {
        std::this_thread::yield();
    }
    // Every piece done, and no worker still inside Work() reading the job.
    std::unique_lock<std::mutex> lock(s.mutex);
    s.done.wait(lock, [&] { return s.finished.load() == pieces && s.busy == 0; });
    s.job = nullptr;
}

#endif
