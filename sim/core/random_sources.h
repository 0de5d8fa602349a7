#pragma once

#include <cstdint>

// Generators that a driver or test can put behind the scatter
// (scatterRandom) in place of this runtime's rand(). Each keeps one state,
// reset by its Reset function to where a fresh process starts.

// The Microsoft C runtime's rand(), which the Windows programs scatter with:
// x <- x * 214013 + 2531011 (mod 2^32), returning bits 16 to 30, from x = 1.
// With it a Linux run reproduces the layouts of a Windows run.
inline uint32_t msvcrtRandState = 1;
inline void ResetMsvcrtRand() { msvcrtRandState = 1; }
inline int MsvcrtRand() {
    msvcrtRandState = msvcrtRandState * 214013u + 2531011u;
    return static_cast<int>((msvcrtRandState >> 16) & 0x7fffu);
}

// A generator of our own (xorshift32, top 31 bits), the same on every
// compiler and runtime, for layouts that every build must step alike.
inline uint32_t portableRandState = 2463534242u;
inline void ResetPortableRand() { portableRandState = 2463534242u; }
inline int PortableRand() {
    uint32_t x = portableRandState;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    portableRandState = x;
    return static_cast<int>(x >> 1);
}
