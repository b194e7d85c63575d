// The texture bank's vector kernels: the AVX2 build gives the plain build's
// outputs bit for bit (same operations in the same order), on lengths that
// leave every remainder of the vector loops, and both match a long-hand sum.

#include "vision/texture_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

std::vector<double> randomValues(long n, std::uint32_t salt) {
  std::vector<double> v(static_cast<std::size_t>(n));
  std::uint32_t s = salt * 2654435761u + 7u;
  for (double& x : v) {
    s = s * 1664525u + 1013904223u;
    x = (static_cast<double>(s >> 8) / 16777216.0 - 0.5) * 1e3;
  }
  return v;
}

void checkTable(const vf_texture::Kernels& k, const vf_texture::Kernels& plain, long n) {
  const std::vector<double> w = {-0.01, 0.05, -0.2, 0.9, 0.3, -0.06, 0.015, 0.005};
  const std::vector<double> re = randomValues(n + 8, 1), im = randomValues(n + 8, 2);
  // interpolate, stride 3 (the outputs of one fraction of three).
  std::vector<double> ar(static_cast<std::size_t>(3 * n)), ai(ar.size()), br(ar.size()), bi(ar.size());
  k.interpolate(w.data(), re.data(), im.data(), n, ar.data(), ai.data(), 3);
  plain.interpolate(w.data(), re.data(), im.data(), n, br.data(), bi.data(), 3);
  EXPECT_EQ(0, std::memcmp(ar.data(), br.data(), ar.size() * sizeof(double))) << n;
  EXPECT_EQ(0, std::memcmp(ai.data(), bi.data(), ai.size() * sizeof(double))) << n;
  for (long i = 0; i < n; ++i) {
    double sr = 0.0;
    for (long t = 0; t < 8; ++t) sr += w[static_cast<std::size_t>(t)] * re[static_cast<std::size_t>(i + t)];
    ASSERT_NEAR(ar[static_cast<std::size_t>(3 * i)], sr, 1e-9) << i;
  }
  // magnitudeDown: eight rows of n real then n imaginary parts.
  std::vector<std::vector<double>> rows;
  std::vector<const double*> ptrs;
  for (std::uint32_t t = 0; t < 8; ++t) rows.push_back(randomValues(2 * n, 10 + t));
  for (const auto& r : rows) ptrs.push_back(r.data());
  std::vector<float> fa(static_cast<std::size_t>(n)), fb(fa.size());
  k.magnitudeDown(w.data(), ptrs.data(), n, 1.0 / 4096.0, fa.data());
  plain.magnitudeDown(w.data(), ptrs.data(), n, 1.0 / 4096.0, fb.data());
  EXPECT_EQ(0, std::memcmp(fa.data(), fb.data(), fa.size() * sizeof(float))) << n;
  for (long i = 0; i < n; ++i) {
    double sr = 0.0, si = 0.0;
    for (long t = 0; t < 8; ++t) {
      sr += w[static_cast<std::size_t>(t)] * rows[static_cast<std::size_t>(t)][static_cast<std::size_t>(i)];
      si += w[static_cast<std::size_t>(t)] * rows[static_cast<std::size_t>(t)][static_cast<std::size_t>(n + i)];
    }
    ASSERT_NEAR(fa[static_cast<std::size_t>(i)], std::hypot(sr, si) / 4096.0, 1e-6) << i;
  }
  // magnitudeInterleaved, of floats.
  std::vector<float> z(static_cast<std::size_t>(2 * n));
  for (long i = 0; i < 2 * n; ++i)
    z[static_cast<std::size_t>(i)] = static_cast<float>(re[static_cast<std::size_t>(i % n)] * (i % 2 ? -1.0 : 1.0));
  k.magnitudeInterleaved(z.data(), n, 0.25, fa.data());
  plain.magnitudeInterleaved(z.data(), n, 0.25, fb.data());
  EXPECT_EQ(0, std::memcmp(fa.data(), fb.data(), fa.size() * sizeof(float))) << n;
  for (long i = 0; i < n; ++i)
    ASSERT_EQ(fa[static_cast<std::size_t>(i)],
              static_cast<float>(std::hypot(static_cast<double>(z[static_cast<std::size_t>(2 * i)]),
                                            static_cast<double>(z[static_cast<std::size_t>(2 * i + 1)])) *
                                 0.25));
  // magnitude.
  k.magnitude(re.data(), im.data(), n, 0.5, fa.data());
  plain.magnitude(re.data(), im.data(), n, 0.5, fb.data());
  EXPECT_EQ(0, std::memcmp(fa.data(), fb.data(), fa.size() * sizeof(float))) << n;
  for (long i = 0; i < n; ++i)
    ASSERT_EQ(fa[static_cast<std::size_t>(i)],
              static_cast<float>(std::sqrt(re[static_cast<std::size_t>(i)] * re[static_cast<std::size_t>(i)] +
                                           im[static_cast<std::size_t>(i)] * im[static_cast<std::size_t>(i)]) *
                                 0.5));
}

}  // namespace

TEST(TextureKernels, EveryBuildMatchesThePlainOneBitForBit) {
  const vf_texture::Kernels plain = vf_texture::plainKernels();
  std::vector<vf_texture::Kernels> tables = {plain, vf_texture::bestKernels()};
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) {
    ASSERT_NE(vf_texture::avx2Kernels().interpolate, nullptr);
    tables.push_back(vf_texture::avx2Kernels());
  } else {
    std::printf("no AVX2 on this processor: the plain build alone\n");
  }
#endif
  for (const auto& table : tables)
    for (const long n : {1L, 3L, 4L, 7L, 8L, 17L, 1000L}) checkTable(table, plain, n);
}
