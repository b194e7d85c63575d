#include "vexstd/geometry.h"

#include <cmath>
#include <numbers>

#include "vexstd/archive.h"
#include "vexstd/exception.h"

vcRadian vcRadian::norm() const {
  constexpr double kTwoPi = 2.0 * std::numbers::pi;
  double r = std::fmod(value_, kTwoPi);
  if (r < 0.0) r += kTwoPi;
  // fmod of a tiny negative angle plus 2*pi can round up to 2*pi itself.
  // ... and -0.0 (or a negative multiple of 2*pi) folds to +0.
  if (r >= kTwoPi || r == 0.0) r = 0.0;
  return vcRadian(r);
}

double cos(vcRadian angle) {
  return std::cos(angle.value());
}
double sin(vcRadian angle) {
  return std::sin(angle.value());
}

vcMatrix<2>::vcMatrix(vcRadian rotation, vcRadian skew, double xScale, double yScale) {
  const double c = std::cos(rotation.value()), s = std::sin(rotation.value());
  const double ks = std::sin(skew.value()), kc = std::cos(skew.value());
  // R * K * S with K = [[1, -ks], [0, kc]] and S = diag(xScale, yScale).
  const vcMatrix r = fromElements(c, -s, s, c);
  const vcMatrix k = fromElements(1.0, -ks, 0.0, kc);
  *this = r * k * fromElements(xScale, 0.0, 0.0, yScale);
}

vcMatrix<2>::vcMatrix(double xScale, double yScale, vcRadian skew, vcRadian rotation)
    : vcMatrix(rotation, skew, xScale, yScale) {}

vcMatrix<2> vcMatrix<2>::inverse() const {
  const double det = determinant();
  if (det == 0.0 || !std::isfinite(det)) throw vcPlatformError("vcMatrix<2>::inverse: the matrix is singular");
  return fromElements(e_[1][1] / det, -e_[0][1] / det, -e_[1][0] / det, e_[0][0] / det);
}

vcXform<2> vcXform<2>::inverse() const {
  const vcMatrix<2> mi = m_.inverse();
  return vcXform(mi, -1.0 * (mi * t_));
}

vcArchive& operator||(vcArchive& ar, vcXform<2>& xform) {
  double e[6] = {xform.matrix()(0, 0), xform.matrix()(0, 1), xform.matrix()(1, 0),
                 xform.matrix()(1, 1), xform.trans().x(),    xform.trans().y()};
  for (double& v : e) ar || v;
  if (ar.isLoading()) xform = vcXform<2>(vcMatrix<2>::fromElements(e[0], e[1], e[2], e[3]), vcVector<2>(e[4], e[5]));
  return ar;
}

vc2XformBase::~vc2XformBase() = default;

vc2XformLinear::~vc2XformLinear() = default;

std::unique_ptr<vc2XformBase> vc2XformLinear::clone() const {
  return std::make_unique<vc2XformLinear>(*this);
}

namespace {
const std::shared_ptr<const vc2XformBase>& identityXform() {
  // Immutable and shared by every identity cache; never changed after it is
  // made, so sharing it across threads is safe.
  static const std::shared_ptr<const vc2XformBase> identity = std::make_shared<vc2XformLinear>();
  return identity;
}
}  // namespace

vc2XformCache::vc2XformCache() : xform_(identityXform()) {}

vc2XformCache::~vc2XformCache() = default;

void vc2XformCache::setIdentity() {
  xform_ = identityXform();
  linear_ = true;
}

bool vc2XformCache::isIdentity() const {
  if (xform_ == identityXform()) return true;
  return linear_ && static_cast<const vc2XformLinear&>(*xform_).xform() == vcXform<2>();
}

void vc2XformCache::xform(const vc2XformBase& x) {
  std::shared_ptr<const vc2XformBase> copy(x.clone());
  if (!copy) throw vcPlatformError("vc2XformCache::xform: the transform's clone() returned null");
  linear_ = copy->isLinear() && dynamic_cast<const vc2XformLinear*>(copy.get()) != nullptr;
  xform_ = std::move(copy);
}

vc2XformLinear vc2XformCache::linearXform() const {
  if (!linear_) throw vcPlatformError("vc2XformCache::linearXform: the transform is not linear");
  return static_cast<const vc2XformLinear&>(*xform_);
}

vcArchive& operator||(vcArchive& ar, vc2XformCache& cache) {
  // Refuse a non-linear transform before anything is written, so that a
  // caller that catches the error is not left with half a record.
  vcXform<2> x = ar.isStoring() ? cache.linearXform().xform() : vcXform<2>();
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw vcArchive::UnknownVersion("vc2XformCache", 0);
  ar || x;
  if (ar.isLoading()) {
    if (x == vcXform<2>())
      cache.setIdentity();
    else
      cache.xform(vc2XformLinear(x));
  }
  return ar;
}
