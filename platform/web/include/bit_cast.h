#pragma once

// The C++ library of Debian's Emscripten (3.1.6) predates std::bit_cast,
// which the solver and the math use to read a float's bits; the compiler's
// built-in does the same. Forced into every unit of the web build.

#include <bit>

#if !defined(__cpp_lib_bit_cast)
namespace std {
template <class To, class From>
constexpr To bit_cast(const From& from) noexcept {
    return __builtin_bit_cast(To, from);
}
}  // namespace std
#endif
