// Twiddles of the row transform.
//
// The table: entry k serves the split-radix stage of span 2^k (k = 0 ... 15, spans 1
// to 32768) and holds cos(theta), sin(theta), cos(3 theta), sin(3 theta) for
// theta = 2 pi / 2^k. The values are computed in double and rounded to float: every
// stage starts its twiddle recurrence from these single-precision values, so results
// do not depend on how precisely a platform's libm evaluates the angles of the deeper
// stages. The angles are positive; the butterflies multiply by the conjugates, which
// gives the forward kernel exp(-2 pi i ...).
//
// The sequences: stage s runs w1 and w3 through the recurrence w <- w * (table
// value), carried in double and started at 1, one step per butterfly index j. The
// sequence depends on s alone, not on the row or on where in the row the stage's
// blocks lie, so it is evaluated once per call and read by every butterfly of span s
// of every row. That gives exactly the doubles the running recurrence would give.
//
// Both are values built afresh by every engine call, in that call's own storage: the
// engine keeps no state between calls.
#pragma once

#include <cmath>
#include <cstddef>
#include <memory>

struct vc_Twiddles {
  static constexpr int kEntries = 16;
  float cos1[kEntries];
  float sin1[kEntries];
  float cos3[kEntries];
  float sin3[kEntries];
};

inline vc_Twiddles vf_MakeTwiddles() {
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

// w1 = c1 + i s1 and w3 = c3 + i s3 of one butterfly index j of one span.
struct vc_StageTwiddle {
  double c1, s1, c3, s3;
};

// The sequences of every span s = 4, 8, ..., up to a longest row length: the s/4
// values of span s start at entry s/4 - 1, so one set serves every shorter length too.
class vc_StageTwiddles {
 public:
  vc_StageTwiddles(const vc_Twiddles& table, long longest)
      : count_(longest >= 4 ? longest / 2 - 1 : 0),
        w_(std::make_unique_for_overwrite<vc_StageTwiddle[]>(static_cast<std::size_t>(count_))) {
    for (long q = 1, k = 2; 4 * q <= longest; q *= 2, ++k) {
      const double c1 = table.cos1[k], s1 = table.sin1[k];
      const double c3 = table.cos3[k], s3 = table.sin3[k];
      double w1r = 1.0, w1i = 0.0, w3r = 1.0, w3i = 0.0;
      vc_StageTwiddle* w = w_.get() + (q - 1);
      for (long j = 0; j < q; ++j) {
        w[j] = {w1r, w1i, w3r, w3i};
        const double t1 = w1r;
        w1r = t1 * c1 - w1i * s1;
        w1i = t1 * s1 + w1i * c1;
        const double t3 = w3r;
        w3r = t3 * c3 - w3i * s3;
        w3i = t3 * s3 + w3i * c3;
      }
    }
  }

  // Entry 0; the sequence of span s starts at data() + s/4 - 1.
  const vc_StageTwiddle* data() const { return w_.get(); }

 private:
  long count_;
  std::unique_ptr<vc_StageTwiddle[]> w_;
};
