// Angles, matrices, affine transforms and the client-transform cache.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <utility>

#include "vexstd/archive.h"
#include "vexstd/geometry.h"

namespace {

constexpr double kPi = std::numbers::pi;

void expectNear(const vcVector<2>& a, const vcVector<2>& b, double tol = 1e-12) {
  EXPECT_NEAR(a.x(), b.x(), tol);
  EXPECT_NEAR(a.y(), b.y(), tol);
}

// Angles fold into one turn. Compared round the circle (a tiny negative angle may give
// 0 or just below 2 pi); the tolerance grows with the input because the multiples of pi
// in the table are rounded.
TEST(RadianTest, NormFoldsIntoOneTurn) {
  for (auto [in, want] : {std::pair{0.0, 0.0},
                          {1.0, 1.0},
                          {2 * kPi, 0.0},
                          {-kPi / 2, 1.5 * kPi},
                          {-2 * kPi, 0.0},
                          {-6 * kPi, 0.0},
                          {7 * kPi, kPi},
                          {-7.5 * kPi, 0.5 * kPi},
                          {-1e-300, 0.0},
                          {-1e-17, 0.0},
                          {2 * kPi + 0.25, 0.25},
                          {1e6, std::fmod(1e6, 2 * kPi)}}) {
    const double r = vcRadian(in).norm().value(), d = std::abs(r - want);
    EXPECT_TRUE(r >= 0.0 && r < 2 * kPi) << in;
    EXPECT_LE(std::min(d, 2 * kPi - d), 1e-14 * std::max(1.0, std::abs(in))) << in;
  }
}

TEST(XformTest, MapsComposesAndInverts) {
  const vcXform<2> a(vcMatrix<2>(vcRadian(0.7), vcRadian(0.1), 2.0, 0.5), vcVector<2>(3, -1));
  const vcXform<2> b(vcMatrix<2>::fromElements(1, 2, 3, 4), vcVector<2>(-5, 0.25));
  const vcVector<2> p(1.5, -2.0);
  expectNear(b * p, vcVector<2>(1 * 1.5 + 2 * -2.0 - 5, 3 * 1.5 + 4 * -2.0 + 0.25));
  expectNear((a * b) * p, a * (b * p));
  expectNear(a.inverse() * (a * p), p);
  expectNear((b * b.inverse()) * p, p);
  EXPECT_EQ(vcXform<2>() * p, p);
  EXPECT_THROW(vcXform<2>(vcMatrix<2>::fromElements(1, 2, 2, 4), vcVector<2>()).inverse(), vcPlatformError);

  const vc2XformLinear la(a), lb(b);
  expectNear((la * lb).mapPoint(p), a * (b * p));
}

// A host transform the platform cannot express as an affine map.
class SquareXform : public vc2XformBase {
 public:
  explicit SquareXform(bool claimsLinear = false) : claimsLinear_(claimsLinear) {}
  vcVector<2> mapPoint(const vcVector<2>& p) const override { return {p.x() * p.x(), p.y()}; }
  std::unique_ptr<vc2XformBase> clone() const override { return std::make_unique<SquareXform>(*this); }
  bool isLinear() const override { return claimsLinear_; }

 private:
  bool claimsLinear_;
};

}  // namespace
