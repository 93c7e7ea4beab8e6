// Checked arithmetic for sizes derived from untrusted input.
//
// Readers guard every multiplication of file-derived values with these helpers
// on the line before the value is used. Where a file format's rules are stated
// in 32-bit signed arithmetic, compute in 64 bits and narrow through
// wrap_to_i32(), because signed overflow is undefined behaviour in C++.
#pragma once

#include <cstdint>
#include <limits>

namespace imaging {

// Stores a * b in *out and returns true, or returns false when the product does
// not fit in T (then *out is unspecified).
template <typename T>
[[nodiscard]] constexpr bool checked_mul(T a, T b, T* out) {
    return !__builtin_mul_overflow(a, b, out);
}

// Stores a + b in *out and returns true, or returns false on overflow.
template <typename T>
[[nodiscard]] constexpr bool checked_add(T a, T b, T* out) {
    return !__builtin_add_overflow(a, b, out);
}

// The low 32 bits of v as a two's complement signed value: what a 32-bit
// signed computation of the same expression would have produced.
constexpr int32_t wrap_to_i32(int64_t v) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

// v limited to the signed 32-bit range.
constexpr int32_t clamp_to_i32(int64_t v) {
    if (v > std::numeric_limits<int32_t>::max()) {
        return std::numeric_limits<int32_t>::max();
    }
    if (v < std::numeric_limits<int32_t>::min()) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(v);
}

}  // namespace imaging
