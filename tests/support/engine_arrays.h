// Test arrays for the FFT engine.
#pragma once

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace engine_test {

struct Size
{
    long w;
    long h;
};

inline void PrintTo(const Size& s, std::ostream* os) { *os << s.w << "x" << s.h; }

// 2*w*h deterministic floats in [-1, 1), the same on every platform.
inline std::vector<float> randomArray(long w, long h, std::uint32_t seed)
{
    std::vector<float> a(static_cast<std::size_t>(2 * w * h));
    std::uint32_t s = seed * 2654435761u + 12345u;
    for (float& v : a) {
        s = s * 1664525u + 1013904223u;
        v = static_cast<float>(s >> 8) / 8388608.0f - 1.0f;
    }
    return a;
}

// Real input for vf_RealFFT2D: samples in the first half of each row slot, noise in
// the working half, except that width 1 needs a 0 after each sample.
inline std::vector<float> realInput(long w, long h, std::uint32_t seed)
{
    std::vector<float> a = randomArray(w, h, seed);
    for (long y = 0; w == 1 && y < h; ++y) {
        a[2 * y + 1] = 0.0f;
    }
    return a;
}

inline ::testing::AssertionResult sameBits(const std::vector<float>& a, const std::vector<float>& b)
{
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) {
            return ::testing::AssertionFailure() << "float " << i << ": " << a[i] << " vs " << b[i];
        }
    }
    return ::testing::AssertionSuccess();
}

} // namespace engine_test
