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
#include <mutex>
#include <thread>
#include <vector>

// A job is announced by raising the generation under the lock; workers and
// the caller then take pieces from one counter until none are left. A
// worker copies the job and its piece count under the lock, and only while
// the job is open: a worker that wakes late, after the caller has closed
// the job and perhaps opened the next one, must never take the new
// counter's pieces for the old job's count. The caller closes a job only
// once no worker is inside it. A worker that finds no job spins briefly
// before it sleeps: the stages of a step follow each other within
// microseconds, but on a shared machine a spinning thread would steal the
// core another thread needs.
struct WorkerPool::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable done;
    std::vector<std::thread> workers;
    std::atomic<uint64_t> generation{0};
    bool stopping = false;
    const std::function<void(int32_t)>* job = nullptr;
    int32_t pieces = 0;
    std::atomic<int32_t> next{0};
    std::atomic<int32_t> finished{0};
    int32_t busy = 0;

    void Work(const std::function<void(int32_t)>& fn, int32_t count) {
        for (;;) {
            const int32_t piece = next.fetch_add(1, std::memory_order_relaxed);
            if (piece >= count) return;
            fn(piece);
            finished.fetch_add(1, std::memory_order_acq_rel);
        }
    }

    void Loop() {
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
            const int32_t count = pieces;
            ++busy;
            lock.unlock();
            Work(fn, count);
            lock.lock();
            if (--busy == 0) done.notify_all();
        }
    }
};

WorkerPool::WorkerPool(int threads) : state_(new State) {
    int count = threads > 0 ? threads : static_cast<int>(std::thread::hardware_concurrency());
    if (count < 1) count = 1;
    for (int t = 1; t < count; ++t) state_->workers.emplace_back([this] { state_->Loop(); });
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
        s.pieces = pieces;
        s.next.store(0);
        s.finished.store(0);
        s.generation.fetch_add(1, std::memory_order_release);
    }
    s.wake.notify_all();
    s.Work(fn, pieces);
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
