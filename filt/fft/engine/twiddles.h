// Twiddle table of the row transform.
//
// Entry k serves the split-radix stage of span 2^k (k = 0 ... 15, spans 1 to 32768)
// and holds cos(theta), sin(theta), cos(3 theta), sin(3 theta) for theta = 2 pi / 2^k.
// The values are computed in double and rounded to float: every stage starts its
// twiddle recurrence from these single-precision values, so results do not depend on
// how precisely a platform's libm evaluates the angles of the deeper stages.
// The angles are positive; the butterflies multiply by the conjugates, which gives the
// forward kernel exp(-2 pi i ...).
//
// The table is a value built afresh by every engine call, in that call's local
// storage: the engine keeps no state between calls.
#pragma once

#include <cmath>

struct vc_Twiddles
{
    static constexpr int kEntries = 16;
    float cos1[kEntries];
    float sin1[kEntries];
    float cos3[kEntries];
    float sin3[kEntries];
};

inline vc_Twiddles vf_MakeTwiddles()
{
    // 2 pi as the nearest double, written out so that every build uses the same value.
    constexpr double twoPi = 6.283185307179586;
    vc_Twiddles table{};
    for (int k = 0; k < vc_Twiddles::kEntries; ++k) {
        const double theta = twoPi / static_cast<double>(1L << k);
        table.cos1[k] = static_cast<float>(std::cos(theta));
        table.sin1[k] = static_cast<float>(std::sin(theta));
        table.cos3[k] = static_cast<float>(std::cos(3.0 * theta));
        table.sin3[k] = static_cast<float>(std::sin(3.0 * theta));
    }
    return table;
}
