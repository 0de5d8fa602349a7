#pragma once

#include <cstddef>
#include <cstdint>

// 64-bit FNV-1a over the state that the solver computes, in index order:
// two runs with equal hashes agree bit for bit. Only the valid neighbour
// entries count, since pondsim-wide leaves stale ones behind them.
class StateHash {
public:
    void Add(const void* data, size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) {
            value_ ^= bytes[i];
            value_ *= 0x100000001b3ull;
        }
    }
    uint64_t value() const { return value_; }

private:
    uint64_t value_ = 0xcbf29ce484222325ull;
};
