// Conversions of option values that stop at the ends of the target type instead of overflowing.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

template <typename T, typename S>
T SaturatingCast(S value)
{
    static_assert(std::is_signed_v<T> && std::is_integral_v<T>, "signed integer targets only");
    static_assert(std::is_floating_point_v<S> || (std::is_integral_v<S> && std::is_signed_v<S>),
                  "floating-point or signed sources only");
    if constexpr (std::is_floating_point_v<S>) {
        if (std::isnan(value))
            return 0;
        if (value >= static_cast<S>(std::numeric_limits<T>::max()))
            return std::numeric_limits<T>::max();
        if (value <= static_cast<S>(std::numeric_limits<T>::lowest()))
            return std::numeric_limits<T>::lowest();
        return static_cast<T>(value);
    } else {
        const auto wide = static_cast<int64_t>(value);
        if (wide > static_cast<int64_t>(std::numeric_limits<T>::max()))
            return std::numeric_limits<T>::max();
        if (wide < static_cast<int64_t>(std::numeric_limits<T>::lowest()))
            return std::numeric_limits<T>::lowest();
        return static_cast<T>(wide);
    }
}
