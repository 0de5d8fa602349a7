#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Four single-precision lanes, each computed with exactly the arithmetic of
// the scalar code: the solver vectorises across pairs, never within a sum.
constexpr int kLanes = 4;
using Floats = float __attribute__((vector_size(kLanes * 4)));
using Ints = int32_t __attribute__((vector_size(kLanes * 4)));
using Uints = uint32_t __attribute__((vector_size(kLanes * 4)));
constexpr Ints kLaneNumbers = {0, 1, 2, 3};
static_assert(kLanes == 4, "kLaneNumbers lists one number per lane");

// One bit per lane that is set in `keep`, lane 0 lowest.
inline int LaneBits(Ints keep) {
#if defined(__SSE2__)
    return _mm_movemask_ps(_mm_castsi128_ps(reinterpret_cast<__m128i>(keep)));
#else
    int bits = 0;
    for (int lane = 0; lane < kLanes; ++lane) bits |= (keep[lane] & 1) << lane;
    return bits;
#endif
}

template <class V, class T>
V LoadLanes(const T* from) {
    V v;
    std::memcpy(&v, from, sizeof v);
    return v;
}

// The lanes of `value` where `keep` is set, +0 elsewhere: a bitwise choice,
// so whatever a dropped lane held (NaN, infinity) leaves no trace.
inline Floats KeepLanes(Ints keep, Floats value) {
    return reinterpret_cast<Floats>(keep & reinterpret_cast<Ints>(value));
}
