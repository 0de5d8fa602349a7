#pragma once

#include <cstdint>
#include <memory>

#include "sim/lab/worker_pool.h"

#if defined(PONDSIM_LAB_OPENMP)
#include <omp.h>
#endif

// The threads the lab's stages run on: OpenMP's where the build chose it,
// otherwise a WorkerPool of its own.
class LabParallel {
public:
    // 0 or less: every core. One where the build has no threads.
    void SetThreads(int threads) {
#if defined(PONDSIM_LAB_OPENMP)
        threads_ = threads > 0 ? threads : omp_get_num_procs();
#else
        pool_ = std::make_unique<WorkerPool>(threads);
        threads_ = pool_->threads();
#endif
    }
    int threads() const { return threads_; }

    // fn(i) for every i in [0, n), in fixed pieces of `grain` shared out
    // over the threads. Which thread takes a piece changes nothing as long
    // as each i writes only its own data.
    template <class Fn>
    void ForEach(int32_t n, int32_t grain, Fn fn) {
#if defined(PONDSIM_LAB_OPENMP)
        (void)grain;
#pragma omp parallel for schedule(static) num_threads(threads_)
        for (int32_t i = 0; i < n; ++i) fn(i);
#else
        pool_->For(0, n, grain, [&](int32_t first, int32_t last) {
            for (int32_t i = first; i < last; ++i) fn(i);
        });
#endif
    }

private:
    int threads_ = 1;
    std::unique_ptr<WorkerPool> pool_;
};
