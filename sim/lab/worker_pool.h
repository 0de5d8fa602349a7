#pragma once

#include <cassert>
#include <cstdint>
#include <functional>

// Runs the pieces of a loop on a few threads. The pieces are fixed by the
// caller and each writes only its own data, so which thread runs which
// piece changes no result. Builds without threads (the web build) run every
// piece on the calling thread.
class WorkerPool {
public:
    // Threads, the calling one included; 0 or less: one per core.
    explicit WorkerPool(int threads = 0);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int threads() const;
    // fn(piece) for every piece in [0, pieces), returning when all are done.
    void Run(int32_t pieces, const std::function<void(int32_t)>& fn);

    // [begin, end) in pieces of about `grain` indices: fn(first, last).
    template <class Fn>
    void For(int32_t begin, int32_t end, int32_t grain, Fn fn) {
        assert(grain > 0);
        if (end <= begin) return;
        const int32_t pieces = (end - begin + grain - 1) / grain;
        Run(pieces, [&](int32_t piece) {
            const int32_t first = begin + piece * grain;
            fn(first, first + grain < end ? first + grain : end);
        });
    }

private:
    struct State;
    [[maybe_unused]] State* state_;
};
