#pragma once

#include <cstdlib>

// The threads a test of the lab's parallel stages runs on: the thread
// sanitizer's run sets PONDSIM_TEST_THREADS to each count it checks; without
// it, the test's own count.
inline int TestThreads(int fallback) {
    const char* text = std::getenv("PONDSIM_TEST_THREADS");
    const int threads = text != nullptr ? std::atoi(text) : 0;
    return threads > 0 ? threads : fallback;
}
