// Rational helpers on 32-bit numerator/denominator pairs.
#pragma once

#include "libs/AVEntryPoints.h"

#include <climits>

// a - b, reduced.
inline AVRational RationalSub(AVRational a, AVRational b)
{
    AVRational result{0, 1};
    avlib::avutil.av_reduce(&result.num, &result.den,
                            static_cast<int64_t>(a.num) * b.den - static_cast<int64_t>(b.num) * a.den,
                            static_cast<int64_t>(a.den) * b.den, INT_MAX);
    return result;
}

// -1, 0 or 1 as a is below, equal to or above b (denominators positive).
inline int RationalCompare(AVRational a, AVRational b)
{
    const int64_t left = static_cast<int64_t>(a.num) * b.den;
    const int64_t right = static_cast<int64_t>(b.num) * a.den;
    return left < right ? -1 : left > right ? 1 : 0;
}

// The closest rational whose numerator and denominator do not exceed max.
inline AVRational RationalFromDouble(double value, int max) { return avlib::avutil.av_d2q(value, max); }
