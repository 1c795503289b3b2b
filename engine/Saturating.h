// Conversions of option values that stop at the ends of the target type instead of overflowing.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

template <typename T> T SaturatingCast(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<double>(std::numeric_limits<T>::max()))
        return std::numeric_limits<T>::max();
    if (value <= static_cast<double>(std::numeric_limits<T>::lowest()))
        return std::numeric_limits<T>::lowest();
    return static_cast<T>(value);
}

template <typename T> T SaturatingCast(int64_t value)
{
    if (value > static_cast<int64_t>(std::numeric_limits<T>::max()))
        return std::numeric_limits<T>::max();
    if (value < static_cast<int64_t>(std::numeric_limits<T>::lowest()))
        return std::numeric_limits<T>::lowest();
    return static_cast<T>(value);
}
