#pragma once
// Integer sums and products that stop at the type's largest or smallest value instead of wrapping round:
// for counts and sizes read from files that may lie.
#include <concepts>
#include <limits>
#include <type_traits>

namespace wm {

// The sum in the type of a; b is converted to it.
template <std::integral T>
constexpr T saturatingAdd(T a, std::type_identity_t<T> b) {
    T sum;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    // Only a negative b can pass below the smallest value.
    return b < 0 ? std::numeric_limits<T>::min() : std::numeric_limits<T>::max();
}

// The product in the type of a; b is converted to it.
template <std::integral T>
constexpr T saturatingMultiply(T a, std::type_identity_t<T> b) {
    T product;
    if (!__builtin_mul_overflow(a, b, &product)) return product;
    // The true product is negative only when the signs differ.
    return (a < 0) != (b < 0) ? std::numeric_limits<T>::min() : std::numeric_limits<T>::max();
}

}  // namespace wm
