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

TEST(MatrixTest, AngleConstructorsBuildRotationAndScale) {
  for (double a : {0.0, 0.3, -1.2, kPi / 2, 3.0}) {
    const vcMatrix<2> m(1.0, 1.0, vcRadian(0), vcRadian(-a));
    for (const vcVector<2>& d : {vcVector<2>(1, 0), vcVector<2>(0, 1), vcVector<2>(2.5, -4)})
      expectNear(m * d,
                 vcVector<2>(d.x() * std::cos(a) + d.y() * std::sin(a), -d.x() * std::sin(a) + d.y() * std::cos(a)));
    // Both argument orders describe the same matrix.
    EXPECT_EQ(m, vcMatrix<2>(vcRadian(-a), vcRadian(0), 1.0, 1.0));
  }
  EXPECT_EQ(vcMatrix<2>(vcRadian(0), vcRadian(0), 2.0, -3.0), vcMatrix<2>::fromElements(2.0, 0.0, 0.0, -3.0));
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

TEST(XformCacheTest, TracksWhetherTheTransformIsAffine) {
  vc2XformCache cache;
  EXPECT_EQ(std::pair(cache.isLinear(), cache.isIdentity()), std::pair(true, true));
  EXPECT_EQ(cache.linearXform().xform(), vcXform<2>());

  const vcXform<2> x(vcMatrix<2>(vcRadian(0.2), vcRadian(0), 1.5, 1.5), vcVector<2>(4, 5));
  cache.xform(vc2XformLinear(x));
  EXPECT_EQ(std::pair(cache.isLinear(), cache.isIdentity()), std::pair(true, false));
  EXPECT_EQ(cache.linearXform().xform(), x);

  const vc2XformCache linearCopy = cache;
  cache.xform(SquareXform());
  EXPECT_FALSE(cache.isLinear());
  EXPECT_THROW(cache.linearXform(), vcPlatformError);
  expectNear(cache.mapPoint(vcVector<2>(3, 2)), vcVector<2>(9, 2));
  EXPECT_EQ(linearCopy.linearXform().xform(), x);  // the copy kept its own transform

  // A host class that claims to be linear is still not the platform's affine
  // type; treating it as one would misread its memory.
  cache.xform(SquareXform(true));
  EXPECT_FALSE(cache.isLinear());
  EXPECT_THROW(cache.linearXform(), vcPlatformError);

  cache.setIdentity();
  EXPECT_EQ(std::pair(cache.isLinear(), cache.isIdentity()), std::pair(true, true));
}

TEST(XformArchiveTest, RoundTripsAffineTransforms) {
  vcXform<2> x(vcMatrix<2>::fromElements(1.25, -0.1, 1e-300, -7), vcVector<2>(-0.0, 123456.789));
  vc2XformCache linear, identity;
  linear.xform(vc2XformLinear(x));
  vcMemoryArchive out;
  out || x || linear || identity;
  ASSERT_EQ(out.bytes().size(), 48u + 2 * 49u);  // six doubles; version byte + six doubles, twice

  vcMemoryArchive in(out.bytes());
  vcXform<2> x2;
  vc2XformCache linear2, identity2;
  identity2.xform(SquareXform());  // loading must replace whatever was there
  in || x2 || linear2 || identity2;
  EXPECT_EQ(x2, x);
  EXPECT_TRUE(std::signbit(x2.trans().x()));
  EXPECT_EQ(linear2.linearXform().xform(), x);
  EXPECT_EQ(std::pair(identity2.isLinear(), identity2.isIdentity()), std::pair(true, true));

  std::vector<unsigned char> badVersion = out.bytes();
  badVersion[48] = 1;
  vcMemoryArchive bad(badVersion);
  bad || x2;
  EXPECT_THROW(bad || linear2, vcArchive::UnknownVersion);

  // A transform that is not affine is refused, and nothing of the refused record is
  // left behind: a host that catches the error and goes on storing must not get a
  // stray byte in its stream.
  vcMemoryArchive refused;
  linear2.xform(SquareXform());
  EXPECT_THROW(refused || linear2, vcPlatformError);
  EXPECT_TRUE(refused.bytes().empty());
}

}  // namespace
