#pragma once

#include <cstdint>
#include <cstring>

// IEEE half precision (binary16), rounded to nearest with ties to even: what
// the F16C instructions do, for the builds that have no F16C, so that every
// build stores the same bits.
inline uint16_t HalfOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const uint16_t sign = static_cast<uint16_t>((bits >> 16) & 0x8000u);
    const uint32_t magnitude = bits & 0x7fffffffu;
    // A NaN stays one, quiet, with the top of its payload.
    if (magnitude > 0x7f800000u) return sign | 0x7e00u | static_cast<uint16_t>((magnitude >> 13) & 0x3ffu);
    // From 65520 up (and infinity): past the largest half, 65504, by half a step or more.
    if (magnitude >= 0x477ff000u) return sign | 0x7c00u;
    if (magnitude >= 0x38800000u) {
        // A normal half: the exponent's bias from 127 to 15, and the 13 bits
        // that go rounded into the rest.
        const uint32_t rounded = magnitude + 0xfffu + ((magnitude >> 13) & 1u) - 0x38000000u;
        return sign | static_cast<uint16_t>(rounded >> 13);
    }
    // Below 2^-14 a half counts in steps of 2^-24, the step of a float in
    // [0.5, 1): adding 0.5 rounds to it, and the bits past 0.5's are the half's.
    float small;
    std::memcpy(&small, &magnitude, sizeof small);
    const float sum = small + 0.5f;
    uint32_t sumBits;
    std::memcpy(&sumBits, &sum, sizeof sumBits);
    return sign | static_cast<uint16_t>(sumBits - 0x3f000000u);
}

// Exact: every half is a float (a NaN comes out quiet).
inline float FloatOfHalf(uint16_t half) {
    const uint32_t sign = static_cast<uint32_t>(half & 0x8000u) << 16;
    const uint32_t exponent = (half >> 10) & 0x1fu;
    const uint32_t mantissa = half & 0x3ffu;
    uint32_t bits;
    if (exponent == 0x1fu) {
        bits = sign | 0x7f800000u | (mantissa << 13) | (mantissa != 0 ? 0x400000u : 0u);
    } else if (exponent != 0) {
        bits = sign | ((exponent + 112u) << 23) | (mantissa << 13);
    } else {
        const float small = static_cast<float>(mantissa) * 5.9604644775390625e-8f;  // 2^-24
        std::memcpy(&bits, &small, sizeof bits);
        bits |= sign;
    }
    float out;
    std::memcpy(&out, &bits, sizeof out);
    return out;
}
