// Plane geometry: pairs, angles, 2-vectors, 2x2 matrices and the affine
// transforms that relate an image's pixel grid to its client coordinates.
#pragma once

#include <memory>

#include "vexstd/export.h"

class vcArchive;

// A plain pair: x first, y second (for sizes x is the width, y the height).
template <class T>
struct vcPair {
  T x = T();
  T y = T();
  constexpr vcPair() = default;
  constexpr vcPair(T x_, T y_) : x(x_), y(y_) {}
  friend constexpr bool operator==(const vcPair& a, const vcPair& b) { return a.x == b.x && a.y == b.y; }
  friend constexpr bool operator!=(const vcPair& a, const vcPair& b) { return !(a == b); }
};

// An angle in radians. Arithmetic keeps the raw value; norm() folds it into
// [0, 2*pi).
class VEXSTD_API vcRadian {
 public:
  constexpr explicit vcRadian(double radians = 0.0) : value_(radians) {}
  constexpr double value() const { return value_; }
  // The same direction as an angle in [0, 2*pi). A NaN stays NaN.
  vcRadian norm() const;

  constexpr vcRadian operator-() const { return vcRadian(-value_); }
  friend constexpr vcRadian operator+(vcRadian a, vcRadian b) { return vcRadian(a.value_ + b.value_); }
  friend constexpr vcRadian operator-(vcRadian a, vcRadian b) { return vcRadian(a.value_ - b.value_); }
  friend constexpr vcRadian operator*(vcRadian a, double s) { return vcRadian(a.value_ * s); }
  friend constexpr vcRadian operator*(double s, vcRadian a) { return vcRadian(a.value_ * s); }
  friend constexpr bool operator==(vcRadian a, vcRadian b) { return a.value_ == b.value_; }
  friend constexpr bool operator!=(vcRadian a, vcRadian b) { return a.value_ != b.value_; }

 private:
  double value_;
};

VEXSTD_API double cos(vcRadian angle);
VEXSTD_API double sin(vcRadian angle);

template <int N>
class vcVector;
template <int N>
class vcMatrix;
template <int N>
class vcXform;

// A 2-vector (or point) in double precision.
template <>
class VEXSTD_API vcVector<2> {
 public:
  constexpr vcVector() = default;
  constexpr vcVector(double x, double y) : v_{x, y} {}
  constexpr double x() const { return v_[0]; }
  constexpr double y() const { return v_[1]; }
  constexpr double operator[](int i) const { return v_[i]; }
  constexpr double& operator[](int i) { return v_[i]; }

  friend constexpr vcVector operator+(const vcVector& a, const vcVector& b) { return {a.x() + b.x(), a.y() + b.y()}; }
  friend constexpr vcVector operator-(const vcVector& a, const vcVector& b) { return {a.x() - b.x(), a.y() - b.y()}; }
  friend constexpr vcVector operator*(const vcVector& a, double s) { return {a.x() * s, a.y() * s}; }
  friend constexpr vcVector operator*(double s, const vcVector& a) { return {a.x() * s, a.y() * s}; }
  friend constexpr bool operator==(const vcVector& a, const vcVector& b) { return a.x() == b.x() && a.y() == b.y(); }
  friend constexpr bool operator!=(const vcVector& a, const vcVector& b) { return !(a == b); }

 private:
  double v_[2] = {0.0, 0.0};
};

// A 2x2 matrix. The angle/scale constructors build
//     M = R(rotation) * K(skew) * diag(xScale, yScale)
// where R is the counter-clockwise rotation [[c, -s], [s, c]] and K tilts the
// y axis by `skew` from the perpendicular: K = [[1, -sin skew], [0, cos skew]].
// So vcMatrix<2>(1.0, 1.0, vcRadian(0), vcRadian(-a)) maps (dx, dy) to
// (dx cos a + dy sin a, -dx sin a + dy cos a).
template <>
class VEXSTD_API vcMatrix<2> {
 public:
  // The identity.
  constexpr vcMatrix() = default;
  vcMatrix(vcRadian rotation, vcRadian skew, double xScale, double yScale);
  vcMatrix(double xScale, double yScale, vcRadian skew, vcRadian rotation);
  // Row-major elements.
  static constexpr vcMatrix fromElements(double e00, double e01, double e10, double e11) {
    vcMatrix m;
    m.e_[0][0] = e00;
    m.e_[0][1] = e01;
    m.e_[1][0] = e10;
    m.e_[1][1] = e11;
    return m;
  }

  constexpr double element(int row, int col) const { return e_[row][col]; }
  constexpr double operator()(int row, int col) const { return e_[row][col]; }
  constexpr double determinant() const { return e_[0][0] * e_[1][1] - e_[0][1] * e_[1][0]; }
  // Throws vcPlatformError for a singular matrix.
  vcMatrix inverse() const;

  friend constexpr vcMatrix operator*(const vcMatrix& a, const vcMatrix& b) {
    return fromElements(
        a.e_[0][0] * b.e_[0][0] + a.e_[0][1] * b.e_[1][0], a.e_[0][0] * b.e_[0][1] + a.e_[0][1] * b.e_[1][1],
        a.e_[1][0] * b.e_[0][0] + a.e_[1][1] * b.e_[1][0], a.e_[1][0] * b.e_[0][1] + a.e_[1][1] * b.e_[1][1]);
  }
  friend constexpr vcVector<2> operator*(const vcMatrix& m, const vcVector<2>& v) {
    return {m.e_[0][0] * v.x() + m.e_[0][1] * v.y(), m.e_[1][0] * v.x() + m.e_[1][1] * v.y()};
  }
  friend constexpr bool operator==(const vcMatrix& a, const vcMatrix& b) {
    return a.e_[0][0] == b.e_[0][0] && a.e_[0][1] == b.e_[0][1] && a.e_[1][0] == b.e_[1][0] && a.e_[1][1] == b.e_[1][1];
  }
  friend constexpr bool operator!=(const vcMatrix& a, const vcMatrix& b) { return !(a == b); }

 private:
  double e_[2][2] = {{1.0, 0.0}, {0.0, 1.0}};
};

// An affine map p -> M p + t.
template <>
class VEXSTD_API vcXform<2> {
 public:
  constexpr vcXform() = default;  // the identity
  constexpr vcXform(const vcMatrix<2>& matrix, const vcVector<2>& trans) : m_(matrix), t_(trans) {}

  constexpr const vcMatrix<2>& matrix() const { return m_; }
  constexpr const vcVector<2>& trans() const { return t_; }
  void matrix(const vcMatrix<2>& m) { m_ = m; }
  void trans(const vcVector<2>& t) { t_ = t; }

  // Maps a point: M p + t.
  constexpr vcVector<2> operator*(const vcVector<2>& p) const { return m_ * p + t_; }
  // Composition: (a * b)(p) = a(b(p)).
  friend constexpr vcXform operator*(const vcXform& a, const vcXform& b) {
    return vcXform(a.m_ * b.m_, a.m_ * b.t_ + a.t_);
  }
  // Throws vcPlatformError when the linear part is singular.
  vcXform inverse() const;

  friend constexpr bool operator==(const vcXform& a, const vcXform& b) { return a.m_ == b.m_ && a.t_ == b.t_; }
  friend constexpr bool operator!=(const vcXform& a, const vcXform& b) { return !(a == b); }

 private:
  vcMatrix<2> m_;
  vcVector<2> t_;
};

// Archive form: the four matrix elements row by row, then the translation,
// all as doubles.
VEXSTD_API vcArchive& operator||(vcArchive& ar, vcXform<2>& xform);

// A 2-D transform from client coordinates of one frame to another. Hosts may
// derive their own (non-linear) transforms; the platform knows the linear one.
class VEXSTD_API vc2XformBase {
 public:
  vc2XformBase() = default;
  virtual ~vc2XformBase();
  virtual vcVector<2> mapPoint(const vcVector<2>& p) const = 0;
  virtual std::unique_ptr<vc2XformBase> clone() const = 0;
  virtual bool isLinear() const { return false; }

 protected:
  vc2XformBase(const vc2XformBase&) = default;
  vc2XformBase& operator=(const vc2XformBase&) = default;
};

// An affine transform as a vc2XformBase.
class VEXSTD_API vc2XformLinear : public vc2XformBase {
 public:
  vc2XformLinear() = default;
  explicit vc2XformLinear(const vcXform<2>& xform) : xform_(xform) {}
  vc2XformLinear(const vcMatrix<2>& matrix, const vcVector<2>& trans) : xform_(matrix, trans) {}
  vc2XformLinear(const vc2XformLinear&) = default;
  vc2XformLinear& operator=(const vc2XformLinear&) = default;
  ~vc2XformLinear() override;

  const vcXform<2>& xform() const { return xform_; }
  vcVector<2> mapPoint(const vcVector<2>& p) const override { return xform_ * p; }
  std::unique_ptr<vc2XformBase> clone() const override;
  bool isLinear() const override { return true; }

  // Composition: (a * b) maps p to a(b(p)).
  friend vc2XformLinear operator*(const vc2XformLinear& a, const vc2XformLinear& b) {
    return vc2XformLinear(a.xform_ * b.xform_);
  }
  friend bool operator==(const vc2XformLinear& a, const vc2XformLinear& b) { return a.xform_ == b.xform_; }
  friend bool operator!=(const vc2XformLinear& a, const vc2XformLinear& b) { return !(a == b); }

 private:
  vcXform<2> xform_;
};

// The client-coordinate transform an image or spectrum carries. Copies share
// the (immutable) transform. The state flag isLinear() tells whether the
// transform is affine, so that it can be composed with other affine maps
// (linearXform); the default is the identity, which is linear.
class VEXSTD_API vc2XformCache {
 public:
  vc2XformCache();
  vc2XformCache(const vc2XformCache&) = default;
  vc2XformCache& operator=(const vc2XformCache&) = default;
  ~vc2XformCache();

  void setIdentity();
  bool isIdentity() const;
  // Sets (a copy of) the given transform.
  void xform(const vc2XformBase& xform);
  const vc2XformBase& xform() const { return *xform_; }
  // The transform as an affine map; throws vcPlatformError when !isLinear().
  vc2XformLinear linearXform() const;
  // The state flag: true while the transform is affine.
  bool isLinear() const { return linear_; }
  vcVector<2> mapPoint(const vcVector<2>& p) const { return xform_->mapPoint(p); }

 private:
  std::shared_ptr<const vc2XformBase> xform_;
  bool linear_ = true;
};

// Archive form: version byte 0, then the affine transform as vcXform<2>.
// Storing a non-linear transform throws vcPlatformError.
VEXSTD_API vcArchive& operator||(vcArchive& ar, vc2XformCache& cache);
