// The texture bank's vector kernels: the AVX2 build gives the plain build's
// outputs bit for bit (same operations in the same order), on lengths that
// leave every remainder of the vector loops, and both match a long-hand sum
// of the weights as given (the kernels' mirror-pair forms regroup it).

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

// F - 1 sets of 8 weights in mirror pairs (fraction F - r the reverse of
// fraction r, the middle one symmetric), as the bank makes them.
std::vector<double> mirroredWeights(long F, std::uint32_t salt) {
  std::vector<double> w(static_cast<std::size_t>(8 * (F - 1)));
  const std::vector<double> v = randomValues(8 * F, salt);
  for (long r = 1; 2 * r <= F; ++r)
    for (long j = 0; j < 8; ++j) {
      const double x = v[static_cast<std::size_t>(8 * r + j)] * 1e-3;
      w[static_cast<std::size_t>(8 * (r - 1) + j)] = x;
      w[static_cast<std::size_t>(8 * (F - r - 1) + 7 - j)] = x;
    }
  for (long j = 0; j < 4; ++j)  // the middle fraction: symmetric
    w[static_cast<std::size_t>(8 * (F / 2 - 1) + 7 - j)] = w[static_cast<std::size_t>(8 * (F / 2 - 1) + j)];
  return w;
}

void checkTable(const vf_texture::Kernels& k, const vf_texture::Kernels& plain, long n) {
  const std::vector<double> re = randomValues(n + 8, 1), im = randomValues(n + 8, 2);
  std::vector<std::vector<double>> rows;
  std::vector<const double*> ptrs;
  for (std::uint32_t t = 0; t < 8; ++t) rows.push_back(randomValues(2 * n, 10 + t));
  for (const auto& r : rows) ptrs.push_back(r.data());
  std::vector<float> fa(static_cast<std::size_t>(8 * n)), fb(fa.size());
  for (const long F : {2L, 4L, 8L}) {
    const std::vector<double> w = mirroredWeights(F, static_cast<std::uint32_t>(F));
    // interpolateDown: F - 1 rows between grid rows, from eight rows of 2n.
    std::vector<std::vector<double>> da(static_cast<std::size_t>(F - 1), std::vector<double>(2 * n)), db = da;
    std::vector<double*> pa, pb;
    for (long r = 0; r + 1 < F; ++r) {
      pa.push_back(da[static_cast<std::size_t>(r)].data());
      pb.push_back(db[static_cast<std::size_t>(r)].data());
    }
    k.interpolateDown(w.data(), F, ptrs.data(), 2 * n, pa.data());
    plain.interpolateDown(w.data(), F, ptrs.data(), 2 * n, pb.data());
    for (long r = 1; r < F; ++r) {
      const auto& x = da[static_cast<std::size_t>(r - 1)];
      EXPECT_EQ(0, std::memcmp(x.data(), db[static_cast<std::size_t>(r - 1)].data(), x.size() * sizeof(double)))
          << "F " << F << " n " << n;
      for (long i = 0; i < 2 * n; ++i) {  // the long-hand sum of the weights as given
        double sum = 0.0, mag = 0.0;
        for (long t = 0; t < 8; ++t) {
          const double term = w[static_cast<std::size_t>(8 * (r - 1) + t)] *
                              rows[static_cast<std::size_t>(t)][static_cast<std::size_t>(i)];
          sum += term;
          mag += std::fabs(term);
        }
        ASSERT_NEAR(x[static_cast<std::size_t>(i)], sum, 1e-14 * mag + 1e-300) << F << " " << r << " " << i;
      }
    }
    if (F == 2) {  // interpolateDownFour: four intervals, the same bits as four single calls
      std::vector<std::vector<double>> more;
      std::vector<const double*> eleven;
      for (std::uint32_t t = 0; t < 11; ++t) more.push_back(randomValues(2 * n, 30 + t));
      for (const auto& r : more) eleven.push_back(r.data());
      std::vector<std::vector<double>> four(4, std::vector<double>(static_cast<std::size_t>(2 * n)));
      std::vector<double*> fp;
      for (auto& r : four) fp.push_back(r.data());
      k.interpolateDownFour(w.data(), eleven.data(), 2 * n, fp.data());
      for (long b = 0; b < 4; ++b) {
        std::vector<double> one(static_cast<std::size_t>(2 * n));
        double* op = one.data();
        plain.interpolateDown(w.data(), 2, eleven.data() + b, 2 * n, &op);
        EXPECT_EQ(0, std::memcmp(one.data(), four[static_cast<std::size_t>(b)].data(), one.size() * sizeof(double)))
            << "interval " << b << " n " << n;
      }
    }
    // magnitudeAcross: count outputs (whole groups of F and a partial one).
    for (const long count : {F * n, F * n - 1, n + 1}) {
      k.magnitudeAcross(w.data(), F, re.data(), im.data(), count, 1.0 / 4096.0, fa.data());
      plain.magnitudeAcross(w.data(), F, re.data(), im.data(), count, 1.0 / 4096.0, fb.data());
      EXPECT_EQ(0, std::memcmp(fa.data(), fb.data(), static_cast<std::size_t>(count) * sizeof(float)))
          << "F " << F << " count " << count;
      for (long i = 0; i < count; ++i) {
        const long m = i / F, r = i % F;
        double sr = 0.0, si = 0.0;
        if (r == 0) {
          sr = re[static_cast<std::size_t>(m + 3)];
          si = im[static_cast<std::size_t>(m + 3)];
        } else {
          for (long t = 0; t < 8; ++t) {
            sr += w[static_cast<std::size_t>(8 * (r - 1) + t)] * re[static_cast<std::size_t>(m + t)];
            si += w[static_cast<std::size_t>(8 * (r - 1) + t)] * im[static_cast<std::size_t>(m + t)];
          }
        }
        const double want = std::hypot(sr, si) / 4096.0;
        ASSERT_NEAR(fa[static_cast<std::size_t>(i)], want, 1e-6 * want + 1e-12) << F << " " << i;
      }
    }
  }
  // magnitudeInterleaved, of floats.
  std::vector<float> z(static_cast<std::size_t>(2 * n));
  for (long i = 0; i < 2 * n; ++i)
    z[static_cast<std::size_t>(i)] = static_cast<float>(re[static_cast<std::size_t>(i % n)] * (i % 2 ? -1.0 : 1.0));
  k.magnitudeInterleaved(z.data(), n, 0.25, fa.data());
  plain.magnitudeInterleaved(z.data(), n, 0.25, fb.data());
  EXPECT_EQ(0, std::memcmp(fa.data(), fb.data(), static_cast<std::size_t>(n) * sizeof(float))) << n;
  for (long i = 0; i < n; ++i)
    ASSERT_EQ(fa[static_cast<std::size_t>(i)],
              static_cast<float>(std::hypot(static_cast<double>(z[static_cast<std::size_t>(2 * i)]),
                                            static_cast<double>(z[static_cast<std::size_t>(2 * i + 1)])) *
                                 0.25));
  // widen: exact, so equal to the plain casts.
  std::vector<double> wr(static_cast<std::size_t>(n)), wi(wr.size());
  k.widen(z.data(), n, wr.data(), wi.data());
  for (long i = 0; i < n; ++i) {
    ASSERT_EQ(wr[static_cast<std::size_t>(i)], static_cast<double>(z[static_cast<std::size_t>(2 * i)]));
    ASSERT_EQ(wi[static_cast<std::size_t>(i)], static_cast<double>(z[static_cast<std::size_t>(2 * i + 1)]));
  }
  // scaleCells: each complex float times its weight, rounded once to float.
  std::vector<float> sa(static_cast<std::size_t>(2 * n)), sb(sa.size());
  const std::vector<double> g = randomValues(n, 5);
  k.scaleCells(z.data(), g.data(), n, sa.data());
  plain.scaleCells(z.data(), g.data(), n, sb.data());
  EXPECT_EQ(0, std::memcmp(sa.data(), sb.data(), sa.size() * sizeof(float))) << n;
  for (long i = 0; i < 2 * n; ++i)
    ASSERT_EQ(sa[static_cast<std::size_t>(i)], static_cast<float>(static_cast<double>(z[static_cast<std::size_t>(i)]) *
                                                                  g[static_cast<std::size_t>(i / 2)]));
  // magnitude.
  k.magnitude(re.data(), im.data(), n, 0.5, fa.data());
  plain.magnitude(re.data(), im.data(), n, 0.5, fb.data());
  EXPECT_EQ(0, std::memcmp(fa.data(), fb.data(), static_cast<std::size_t>(n) * sizeof(float))) << n;
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
    ASSERT_NE(vf_texture::avx2Kernels().interpolateDown, nullptr);
    tables.push_back(vf_texture::avx2Kernels());
  } else {
    std::printf("no AVX2 on this processor: the plain build alone\n");
  }
#endif
  for (const auto& table : tables)
    for (const long n : {1L, 3L, 4L, 7L, 8L, 17L, 1000L}) checkTable(table, plain, n);
}
