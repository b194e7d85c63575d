// The defect model: statistics of smoothed log energies of defect-free
// texture, Mahalanobis distances, a threshold at a chosen false-alarm rate.

#include <algorithm>
#include <cmath>
#include <numbers>

#include "filt/vision/texture.h"
#include "vexsys/attention.h"

namespace {

using Defs = vcFrequencyDefs;

void poll() {
  vfThrowExceptionOnFailure(vsys_attention_check());
}

// Box average of radius rx across the rows and ry down the columns over a
// w x h plane, the box cut at the border (the mean of the pixels it covers
// there). Running sums, in double; a radius of 0 leaves that pass out.
template <class V>
void boxSmooth(V* plane, long w, long h, long rx, long ry) {
  if (rx <= 0 && ry <= 0) return;
  std::vector<double> line(static_cast<std::size_t>(std::max(w, h)));
  std::vector<double> prefix(static_cast<std::size_t>(std::max(w, h)) + 1);
  const auto pass = [&](long count, long length, long stride, long across, long r) {
    if (r <= 0) return;
    for (long i = 0; i < count; ++i) {
      V* p = plane + i * across;
      prefix[0] = 0.0;
      for (long t = 0; t < length; ++t)
        prefix[static_cast<std::size_t>(t + 1)] = prefix[static_cast<std::size_t>(t)] + p[t * stride];
      for (long t = 0; t < length; ++t) {
        const long a = std::max(0L, t - r), b = std::min(length - 1, t + r);
        line[static_cast<std::size_t>(t)] =
            (prefix[static_cast<std::size_t>(b + 1)] - prefix[static_cast<std::size_t>(a)]) /
            static_cast<double>(b - a + 1);
      }
      for (long t = 0; t < length; ++t) p[t * stride] = static_cast<V>(line[static_cast<std::size_t>(t)]);
    }
  };
  pass(h, w, 1, w, rx);  // rows
  poll();
  pass(w, h, w, 1, ry);  // columns
}

template <class V>
void boxSmooth(V* plane, long w, long h, long r) {
  boxSmooth(plane, w, h, r, r);
}

// Lower Cholesky factor of an n x n symmetric matrix; false when it is not
// positive definite.
bool cholesky(const std::vector<double>& a, long n, std::vector<double>& l) {
  l.assign(static_cast<std::size_t>(n * n), 0.0);
  for (long i = 0; i < n; ++i)
    for (long j = 0; j <= i; ++j) {
      double s = a[static_cast<std::size_t>(i * n + j)];
      for (long k = 0; k < j; ++k) s -= l[static_cast<std::size_t>(i * n + k)] * l[static_cast<std::size_t>(j * n + k)];
      if (i == j) {
        if (!(s > 0.0) || !std::isfinite(s)) return false;
        l[static_cast<std::size_t>(i * n + i)] = std::sqrt(s);
      } else {
        l[static_cast<std::size_t>(i * n + j)] = s / l[static_cast<std::size_t>(j * n + j)];
      }
    }
  return true;
}

// The covariance the distances use: shrunk toward its diagonal by `shrinkage`,
// plus the ridge.
std::vector<double> ridged(const std::vector<double>& cov, long n, double shrinkage) {
  std::vector<double> a = cov;
  for (long i = 0; i < n; ++i)
    for (long j = 0; j < n; ++j)
      if (i != j) a[static_cast<std::size_t>(i * n + j)] *= 1.0 - shrinkage;
  double diagonal = 0.0;
  for (long i = 0; i < n; ++i) diagonal += cov[static_cast<std::size_t>(i * n + i)];
  const double ridge = 1e-9 * diagonal / static_cast<double>(n) + 1e-300;
  for (long i = 0; i < n; ++i) a[static_cast<std::size_t>(i * n + i)] += ridge;
  return a;
}

// Edge-preserving choice of the box (as in Kuwahara's filter): every pixel p
// of `f` takes all its features from the box centred at p + d, d one of the
// centre (first) and (-o, -o), (-o, 0), (-o, o), (0, -o), (0, o), (o, -o),
// (o, 0), (o, o) ((rows, columns)), whose `step` (its inhomogeneity) is the
// least; ties go to the earlier candidate. Candidates centred outside the
// image are left out (the centre never is).
void selectBoxes(vcTextureStack& f, const std::vector<double>& step, long o) {
  const long w = f.width, h = f.height;
  if (o <= 0) return;  // every candidate is the centred box
  constexpr long kOffsets[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}};
  std::vector<long> from(static_cast<std::size_t>(w * h));
  for (long y = 0; y < h; ++y) {
    if ((y & 63) == 0) poll();
    for (long x = 0; x < w; ++x) {
      long best = y * w + x;
      double least = step[static_cast<std::size_t>(best)];
      for (const auto& d : kOffsets) {
        const long yy = y + d[0] * o, xx = x + d[1] * o;
        if (yy < 0 || yy >= h || xx < 0 || xx >= w) continue;
        const double v = step[static_cast<std::size_t>(yy * w + xx)];
        if (v < least) {
          least = v;
          best = yy * w + xx;
        }
      }
      from[static_cast<std::size_t>(y * w + x)] = best;
    }
  }
  std::vector<float> plane(static_cast<std::size_t>(w * h));
  for (long k = 0; k < f.filters; ++k) {
    float* p = f.plane(k);
    std::copy(p, p + w * h, plane.begin());
    for (std::size_t i = 0; i < plane.size(); ++i) p[i] = plane[static_cast<std::size_t>(from[i])];
  }
}

// The invariant features of an energy stack of `orientations` directions per
// frequency: per frequency m, planes 3m, 3m + 1, 3m + 2 hold ln(<S> + floor),
// |<Z>| / (<S> + floor) and the standard deviation of ln(S + floor) over the
// box, S = sum_n E_n and Z = sum_n E_n e^{2 i theta_n} at every pixel, <.>
// the box average of radius r. All in double, rounded to float once on
// store. An empty `floors` is filled first: 1e-3 times the mean of S over
// the pixels at least `margin` from the border (as the per-filter floors).
// `sharp`: every pixel's features from the most homogeneous of 9 boxes
// around it (selectBoxes below).
vcTextureStack invariantFeatures(const vcTextureStack& e, long orientations, long r, long margin,
                                 std::vector<double>& floors, bool sharp) {
  const long N = orientations, M = e.filters / N, w = e.width, h = e.height;
  const std::size_t size = static_cast<std::size_t>(w * h);
  vcTextureStack out;
  out.filters = 3 * M;
  out.width = w;
  out.height = h;
  out.values.assign(static_cast<std::size_t>(out.filters) * size, 0.0f);
  std::vector<double> c2(static_cast<std::size_t>(N)), s2(static_cast<std::size_t>(N));
  for (long n = 0; n < N; ++n) {
    const double angle = 2.0 * std::numbers::pi * static_cast<double>(n) / static_cast<double>(N);
    c2[static_cast<std::size_t>(n)] = std::cos(angle);
    s2[static_cast<std::size_t>(n)] = std::sin(angle);
  }
  const bool fill = floors.empty();
  if (fill) floors.assign(static_cast<std::size_t>(M), 0.0);
  std::vector<double> sum(size), zr(size), zi(size), lg(size), lg2(size);
  // Sharp: the step of ln(S + floor) across every box, summed over the
  // frequencies, and the means of ln(S + floor) over half boxes.
  const long o = r / 2;
  std::vector<double> step(sharp ? size : 0), across(sharp ? size : 0), down(sharp ? size : 0);
  for (long m = 0; m < M; ++m) {
    poll();
    std::fill(sum.begin(), sum.end(), 0.0);
    std::fill(zr.begin(), zr.end(), 0.0);
    std::fill(zi.begin(), zi.end(), 0.0);
    for (long n = 0; n < N; ++n) {
      const float* p = e.plane(m * N + n);
      const double c = c2[static_cast<std::size_t>(n)], s = s2[static_cast<std::size_t>(n)];
      for (std::size_t i = 0; i < size; ++i) {
        const double v = static_cast<double>(p[i]);
        sum[i] += v;
        zr[i] += v * c;
        zi[i] += v * s;
      }
    }
    if (fill) {
      double total = 0.0;
      for (long y = margin; y < h - margin; ++y)
        for (long x = margin; x < w - margin; ++x) total += sum[static_cast<std::size_t>(y * w + x)];
      const long count = std::max(1L, (w - 2 * margin) * (h - 2 * margin));
      floors[static_cast<std::size_t>(m)] = 1e-3 * total / static_cast<double>(count) + 1e-30;
    }
    const double fl = floors[static_cast<std::size_t>(m)];
    for (std::size_t i = 0; i < size; ++i) {
      lg[i] = std::log(sum[i] + fl);
      lg2[i] = lg[i] * lg[i];
    }
    if (sharp) {
      // Half boxes: (r + 1) wide and 2 r + 1 high (`across`: the left half
      // of the box at p is centred at p - o, the right at p + o), and the
      // same turned (`down`). Reads beyond the image take its nearest pixel.
      across = lg;
      down = lg;
      boxSmooth(across.data(), w, h, o, r);
      boxSmooth(down.data(), w, h, r, o);
      for (long y = 0; y < h; ++y) {
        const long ya = std::max(0L, y - o), yb = std::min(h - 1, y + o);
        for (long x = 0; x < w; ++x) {
          const long xa = std::max(0L, x - o), xb = std::min(w - 1, x + o);
          const double dx = across[static_cast<std::size_t>(y * w + xb)] - across[static_cast<std::size_t>(y * w + xa)];
          const double dy = down[static_cast<std::size_t>(yb * w + x)] - down[static_cast<std::size_t>(ya * w + x)];
          step[static_cast<std::size_t>(y * w + x)] += dx * dx + dy * dy;
        }
      }
    }
    for (std::vector<double>* plane : {&sum, &zr, &zi, &lg, &lg2}) boxSmooth(plane->data(), w, h, r);
    float* level = out.plane(3 * m);
    float* coherence = out.plane(3 * m + 1);
    float* spread = out.plane(3 * m + 2);
    for (std::size_t i = 0; i < size; ++i) {
      const double s = sum[i] + fl;
      level[i] = static_cast<float>(std::log(s));
      coherence[i] = static_cast<float>(std::hypot(zr[i], zi[i]) / s);
      spread[i] = static_cast<float>(std::sqrt(std::max(0.0, lg2[i] - lg[i] * lg[i])));
    }
  }
  if (sharp) selectBoxes(out, step, o);
  return out;
}

}  // namespace

vcTextureModel::vcTextureModel(const vcGaborBank& bank, double falseAlarmRate, long smoothing, long margin,
                               double shrinkage, Features features) {
  if (bank.filters() == 0) throw Defs::Uninitialized("Gabor bank has no filters");
  if (!(falseAlarmRate > 0.0 && falseAlarmRate <= 0.5))
    throw Defs::InvalidArgument("False-alarm rate must be above 0 and at most 0.5.");
  const double s = bank.envelopeSigma();
  if (features != Features::perFilter && features != Features::invariant && features != Features::invariantSharp)
    throw Defs::InvalidArgument("Unknown texture feature set.");
  const bool sharp = features == Features::invariantSharp;
  if (smoothing < 0) smoothing = features != Features::perFilter ? kInvariantSmoothing : 0;
  // Checked before the default margin is made from it, which must not overflow.
  if (smoothing > kMaxSmoothing) throw Defs::InvalidArgument("Smoothing radius must be at most 256.");
  // The sharp set's boxes reach r / 2 further: the margin grows by as much.
  if (margin < 0)
    margin = std::min(kMaxMargin, static_cast<long>(std::ceil(3.0 * s)) + smoothing + (sharp ? smoothing / 2 : 0));
  if (margin > kMaxMargin) throw Defs::InvalidArgument("Margin must be at most 1024.");
  if (!(shrinkage >= 0.0 && shrinkage <= 1.0)) throw Defs::InvalidArgument("Shrinkage must be between 0 and 1.");
  bank_ = bank;
  hasBank_ = true;
  falseAlarmRate_ = falseAlarmRate;
  smoothing_ = smoothing;
  margin_ = margin;
  shrinkage_ = shrinkage;
  features_ = features;
}

long vcTextureModel::featureCount() const {
  return features_ != Features::perFilter ? 3 * static_cast<long>(bank_.frequencies().size()) : bank_.filters();
}

bool vcTextureModel::operator==(const vcTextureModel& other) const {
  return hasBank_ == other.hasBank_ && bank_ == other.bank_ && trained_ == other.trained_ &&
         falseAlarmRate_ == other.falseAlarmRate_ && smoothing_ == other.smoothing_ && margin_ == other.margin_ &&
         shrinkage_ == other.shrinkage_ && features_ == other.features_ && threshold_ == other.threshold_ &&
         floor_ == other.floor_ && mean_ == other.mean_ && covariance_ == other.covariance_;
}

void vcTextureModel::requireTrained() const {
  if (!hasBank_) throw Defs::Uninitialized("Texture model has no bank");
  if (!trained_) throw Defs::Uninitialized("Texture model has not been trained");
}

double vcTextureModel::threshold() const {
  requireTrained();
  return threshold_;
}

void vcTextureModel::threshold(double value) {
  requireTrained();
  if (!(value >= 0.0) || !std::isfinite(value)) throw Defs::InvalidArgument("Threshold must be finite and >= 0.");
  threshold_ = value;
}

template <class T>
vcTextureStack vcTextureModel::featuresOf(const vcPelBuffer_const<T>& image) const {
  vcTextureStack stack = bank_.energy(image, 1);
  if (features_ != Features::perFilter) {
    std::vector<double> floors = floor_;
    return invariantFeatures(stack, bank_.orientations(), smoothing_, margin_, floors,
                             features_ == Features::invariantSharp);
  }
  const long n = stack.filters, w = stack.width, h = stack.height;
  for (long k = 0; k < n; ++k) {
    float* p = stack.plane(k);
    boxSmooth(p, w, h, smoothing_);
    if (!floor_.empty()) {
      const double fl = floor_[static_cast<std::size_t>(k)];
      for (long i = 0; i < w * h; ++i) p[i] = static_cast<float>(std::log(static_cast<double>(p[i]) + fl));
    }
  }
  return stack;
}

vcPelBuffer<double> vcTextureModel::distanceOf(const vcTextureStack& f) const {
  const long n = f.filters, w = f.width, h = f.height;
  vcPelBuffer<double> out(w, h);
  const std::size_t planeSize = static_cast<std::size_t>(w * h);
  std::vector<double> d(static_cast<std::size_t>(n));
  for (long y = margin_; y < h - margin_; ++y) {
    if ((y & 63) == 0) poll();
    double* row = out.pointToOffset() + y * out.rep().rowStride();
    for (long x = margin_; x < w - margin_; ++x) {
      const std::size_t at = static_cast<std::size_t>(y * w + x);
      double sum = 0.0;
      // Forward substitution L z = x - mean; the distance is |z|.
      for (long i = 0; i < n; ++i) {
        double s = static_cast<double>(f.values[static_cast<std::size_t>(i) * planeSize + at]) -
                   mean_[static_cast<std::size_t>(i)];
        const double* li = cholesky_.data() + i * n;
        for (long k = 0; k < i; ++k) s -= li[k] * d[static_cast<std::size_t>(k)];
        d[static_cast<std::size_t>(i)] = s / li[i];
        sum += d[static_cast<std::size_t>(i)] * d[static_cast<std::size_t>(i)];
      }
      row[x] = std::sqrt(sum);
    }
  }
  return out;
}

// Running sums of feature vectors (shifted): their count, sum and lower
// triangle of the sum of products; fit() makes a model's mean, covariance and
// Cholesky factor of them.
struct vcTextureModel::Sums {
  explicit Sums(long n) : n(n), s1(static_cast<std::size_t>(n), 0.0), s2(static_cast<std::size_t>(n * n), 0.0) {}
  void add(const std::vector<double>& x) {
    for (long i = 0; i < n; ++i) {
      const double xi = x[static_cast<std::size_t>(i)];
      s1[static_cast<std::size_t>(i)] += xi;
      double* r = s2.data() + i * n;
      for (long j = 0; j <= i; ++j) r[j] += xi * x[static_cast<std::size_t>(j)];
    }
    count += 1.0;
  }
  void add(const Sums& other) {
    for (std::size_t i = 0; i < s1.size(); ++i) s1[i] += other.s1[i];
    for (std::size_t i = 0; i < s2.size(); ++i) s2[i] += other.s2[i];
    count += other.count;
  }
  // False (the model untouched but for mean and covariance) when the
  // covariance is not positive definite or there are no samples.
  bool fit(const std::vector<double>& shift, double shrinkage, vcTextureModel& model) const {
    if (count <= 0.0) return false;
    model.mean_.assign(static_cast<std::size_t>(n), 0.0);
    model.covariance_.assign(static_cast<std::size_t>(n * n), 0.0);
    for (long i = 0; i < n; ++i)
      model.mean_[static_cast<std::size_t>(i)] =
          shift[static_cast<std::size_t>(i)] + s1[static_cast<std::size_t>(i)] / count;
    for (long i = 0; i < n; ++i)
      for (long j = 0; j <= i; ++j) {
        const double c = s2[static_cast<std::size_t>(i * n + j)] / count -
                         (s1[static_cast<std::size_t>(i)] / count) * (s1[static_cast<std::size_t>(j)] / count);
        model.covariance_[static_cast<std::size_t>(i * n + j)] = c;
        model.covariance_[static_cast<std::size_t>(j * n + i)] = c;
      }
    return cholesky(ridged(model.covariance_, n, shrinkage), n, model.cholesky_);
  }

  long n;
  std::vector<double> s1, s2;
  double count = 0.0;
};

template <class T>
void vcTextureModel::train(const std::vector<vcPelBuffer_const<T>>& images) {
  if (!hasBank_) throw Defs::Uninitialized("Texture model has no bank");
  if (images.empty()) throw Defs::InvalidArgument("Training needs at least one image.");
  for (const auto& image : images)
    if (image.isBound() && (image.width() <= 2 * margin_ || image.height() <= 2 * margin_))
      throw Defs::InvalidSize("Image is too small for the model's margin.");
  const long n = featureCount();

  // Work on a copy so that a failure leaves this model as it was.
  vcTextureModel next = *this;
  next.trained_ = false;
  next.floor_.clear();
  // Sums of the features (shifted by the first image's means, for rounding)
  // over the two halves of every image's inner rows: the upper (0) and the
  // lower (1).
  std::vector<double> shift(static_cast<std::size_t>(n), 0.0);
  Sums halves[2] = {Sums(n), Sums(n)};
  std::vector<double> x(static_cast<std::size_t>(n));
  for (std::size_t im = 0; im < images.size(); ++im) {
    // The first image's invariant features set the floors as they are made.
    const bool invariant = features_ != Features::perFilter;
    vcTextureStack f = im == 0 && invariant
                           ? invariantFeatures(next.bank_.energy(images[0], 1), bank_.orientations(), smoothing_,
                                               margin_, next.floor_, features_ == Features::invariantSharp)
                           : next.featuresOf(images[im]);
    const long w = f.width, h = f.height, m = margin_;
    const std::size_t planeSize = static_cast<std::size_t>(w * h);
    if (im == 0 && invariant) {
      for (long k = 0; k < n; ++k) {
        double fs = 0.0;
        for (long y = m; y < h - m; ++y)
          for (long xx = m; xx < w - m; ++xx) fs += f.plane(k)[y * w + xx];
        shift[static_cast<std::size_t>(k)] = fs / static_cast<double>((w - 2 * m) * (h - 2 * m));
      }
    } else if (im == 0) {
      // Floors from the first image's smoothed energies, then its features.
      next.floor_.assign(static_cast<std::size_t>(n), 0.0);
      for (long k = 0; k < n; ++k) {
        double sum = 0.0;
        for (long y = m; y < h - m; ++y)
          for (long xx = m; xx < w - m; ++xx) sum += f.plane(k)[y * w + xx];
        const double mean = sum / static_cast<double>((w - 2 * m) * (h - 2 * m));
        next.floor_[static_cast<std::size_t>(k)] = 1e-3 * mean + 1e-30;
        float* p = f.plane(k);
        for (long i = 0; i < w * h; ++i)
          p[i] = static_cast<float>(std::log(static_cast<double>(p[i]) + next.floor_[static_cast<std::size_t>(k)]));
        double fs = 0.0;
        for (long y = m; y < h - m; ++y)
          for (long xx = m; xx < w - m; ++xx) fs += p[y * w + xx];
        shift[static_cast<std::size_t>(k)] = fs / static_cast<double>((w - 2 * m) * (h - 2 * m));
      }
    }
    const long middle = m + (h - 2 * m) / 2;
    for (long y = m; y < h - m; ++y) {
      if ((y & 63) == 0) poll();
      Sums& into = halves[y < middle ? 0 : 1];
      for (long xx = m; xx < w - m; ++xx) {
        const std::size_t at = static_cast<std::size_t>(y * w + xx);
        for (long i = 0; i < n; ++i)
          x[static_cast<std::size_t>(i)] = static_cast<double>(f.values[static_cast<std::size_t>(i) * planeSize + at]) -
                                           shift[static_cast<std::size_t>(i)];
        into.add(x);
      }
    }
  }
  Sums all(n);
  all.add(halves[0]);
  all.add(halves[1]);
  if (!all.fit(shift, shrinkage_, next)) throw Defs::InvalidArgument("Training images give a degenerate covariance.");

  // The threshold: the (1 - rate) quantile of held-out distances. Each half
  // is measured by a model fitted to the other half (the training pixels
  // themselves lie closer to a model fitted to them than new pixels of the
  // same texture do: their quantile would understate the rate on new
  // images), and the threshold is the larger of the two halves' quantiles,
  // so that the rate holds on either half (a texture that drifts across the
  // images is not averaged away). Halves too small for a covariance (under 8
  // samples per feature) fall back to the training pixels' own distances.
  // Distances are kept in double: the comparison in defects() is on the
  // double distance, and a threshold rounded to float would flag the pixels
  // it rounded down.
  vcTextureModel folds[2] = {next, next};
  const bool heldOut = halves[0].count >= 8.0 * static_cast<double>(n) &&
                       halves[1].count >= 8.0 * static_cast<double>(n) && halves[1].fit(shift, shrinkage_, folds[0]) &&
                       halves[0].fit(shift, shrinkage_, folds[1]);
  std::vector<double> distances[2];
  for (const auto& image : images) {
    const vcTextureStack f = next.featuresOf(image);
    const long middle = margin_ + (f.height - 2 * margin_) / 2;
    for (long half = 0; half < (heldOut ? 2 : 1); ++half) {
      // Half `half` by the model fitted without it (or everything by the model).
      const vcPelBuffer<double> d = (heldOut ? folds[half] : next).distanceOf(f);
      const long y0 = heldOut && half == 1 ? middle : margin_;
      const long y1 = heldOut && half == 0 ? middle : d.height() - margin_;
      std::vector<double>& into = distances[half];
      for (long y = y0; y < y1; ++y) {
        const double* row = d.pointToOffset() + y * d.rep().rowStride();
        into.insert(into.end(), row + margin_, row + d.width() - margin_);
      }
    }
  }
  const double q = 1.0 - falseAlarmRate_;
  next.threshold_ = 0.0;
  for (std::vector<double>& part : distances) {
    if (part.empty()) continue;
    const std::size_t at =
        std::min(part.size() - 1, static_cast<std::size_t>(std::ceil(q * static_cast<double>(part.size()))) - 1);
    std::nth_element(part.begin(), part.begin() + static_cast<std::ptrdiff_t>(at), part.end());
    next.threshold_ = std::max(next.threshold_, part[at]);
  }
  next.trained_ = true;
  *this = std::move(next);
}

template <class T>
vcPelBuffer<double> vcTextureModel::distance(const vcPelBuffer_const<T>& image) const {
  requireTrained();
  return distanceOf(featuresOf(image));
}

template <class T>
vcTextureStack vcTextureModel::featureMaps(const vcPelBuffer_const<T>& image) const {
  requireTrained();
  return featuresOf(image);
}

template <class T>
vcPelBuffer<unsigned char> vcTextureModel::defects(const vcPelBuffer_const<T>& image) const {
  return defectsFromDistances(distance(image));
}

vcPelBuffer<unsigned char> vcTextureModel::defectsFromDistances(const vcPelBuffer_const<double>& distances) const {
  requireTrained();
  if (!distances.isBound()) throw Defs::UnboundWindow();
  vcPelBuffer<unsigned char> out(distances.width(), distances.height());
  for (long y = 0; y < distances.height(); ++y) {
    const double* d = distances.pointToOffset() + y * distances.rep().rowStride();
    unsigned char* o = out.pointToOffset() + y * out.rep().rowStride();
    for (long x = 0; x < distances.width(); ++x) o[x] = d[x] > threshold_ ? 1 : 0;
  }
  return out;
}

#define VEXFILT_TEXTURE_MODEL_INSTANCES(T)                                                                       \
  template VEXFILT_API void vcTextureModel::train<T>(const std::vector<vcPelBuffer_const<T>>&);                  \
  template VEXFILT_API vcPelBuffer<double> vcTextureModel::distance<T>(const vcPelBuffer_const<T>&) const;       \
  template VEXFILT_API vcPelBuffer<unsigned char> vcTextureModel::defects<T>(const vcPelBuffer_const<T>&) const; \
  template VEXFILT_API vcTextureStack vcTextureModel::featureMaps<T>(const vcPelBuffer_const<T>&) const;
VEXFILT_TEXTURE_MODEL_INSTANCES(unsigned char)
VEXFILT_TEXTURE_MODEL_INSTANCES(unsigned short)
VEXFILT_TEXTURE_MODEL_INSTANCES(double)
#undef VEXFILT_TEXTURE_MODEL_INSTANCES

// ---------------------------------------------------------------------------
// Archive records
//
// Bank: version byte 0, unsigned long M (1..16), M times (frequency, sigma
// along, sigma across) doubles, orientations (long), support (double),
// oversample (long).
// Model: version byte 1, has-bank (bool); with a bank: the bank's record,
// false-alarm rate (double), smoothing, margin (longs), shrinkage (double),
// feature set (unsigned char: 0 per filter, 1 invariant), trained (bool);
// when trained: unsigned long n (featureCount()), the floors (n per filter,
// n / 3 invariant), n means, n * n covariance entries, threshold (doubles).
// Version 0 (written before the feature sets) is the same without the
// feature-set byte and is loaded as per-filter features. Version 2 is
// version 1 with feature set 2 (invariantSharp) allowed; a model is stored
// with the lowest version that carries its feature set (2 only for the
// sharp set), so the records of the other sets are those of version 1.
// Loading checks every count and range before allocating for it, rejects a
// record that cannot be right with vcArchive::BadData (UnknownVersion for a
// bank version other than 0 or a model version above 2; BadData for a
// feature set its version cannot hold), and leaves the object as it was on
// failure.
// ---------------------------------------------------------------------------

vcArchive& operator||(vcArchive& ar, vcGaborBank& bank) {
  unsigned char version = 0;
  ar || version;
  if (ar.isStoring()) {
    unsigned long m = bank.frequencies_.size();
    ar || m;
    for (std::size_t i = 0; i < m; ++i) ar || bank.frequencies_[i] || bank.sigmas_[i].x || bank.sigmas_[i].y;
    ar || bank.orientations_ || bank.support_ || bank.oversample_;
    return ar;
  }
  if (version != 0) throw vcArchive::UnknownVersion(__FILE__, __LINE__);
  unsigned long m = 0;
  ar || m;
  if (m < 1 || m > static_cast<unsigned long>(vcGaborBank::kMaxFrequencies))
    throw vcArchive::BadData("Gabor bank record: frequency count out of range");
  ar.requireReadable(3 * m, 8);
  std::vector<double> frequencies(m);
  std::vector<vcPair<double>> sigmas(m);
  for (std::size_t i = 0; i < m; ++i) ar || frequencies[i] || sigmas[i].x || sigmas[i].y;
  long orientations = 0, oversample = 0;
  double support = 0.0;
  ar || orientations || support || oversample;
  try {
    vcGaborBank loaded(frequencies, orientations, sigmas);
    loaded.support(support);
    loaded.oversample(oversample);
    bank = std::move(loaded);
  } catch (const vcFrequencyDefs::Errors&) {
    throw vcArchive::BadData("Gabor bank record: parameter out of range");
  }
  return ar;
}

vcArchive& operator||(vcArchive& ar, vcTextureModel& model) {
  unsigned char version =
      ar.isStoring() && model.hasBank_ && model.features_ == vcTextureModel::Features::invariantSharp ? 2 : 1;
  ar || version;
  if (ar.isStoring()) {
    ar || model.hasBank_;
    if (!model.hasBank_) return ar;
    unsigned char features = static_cast<unsigned char>(model.features_);
    ar || model.bank_ || model.falseAlarmRate_ || model.smoothing_ || model.margin_ || model.shrinkage_ || features ||
        model.trained_;
    if (!model.trained_) return ar;
    unsigned long n = static_cast<unsigned long>(model.featureCount());
    ar || n;
    for (double& v : model.floor_) ar || v;
    for (double& v : model.mean_) ar || v;
    for (double& v : model.covariance_) ar || v;
    ar || model.threshold_;
    return ar;
  }
  if (version > 2) throw vcArchive::UnknownVersion(__FILE__, __LINE__);
  vcTextureModel loaded;
  ar || loaded.hasBank_;
  if (loaded.hasBank_) {
    ar || loaded.bank_ || loaded.falseAlarmRate_ || loaded.smoothing_ || loaded.margin_ || loaded.shrinkage_;
    unsigned char features = 0;
    if (version >= 1) ar || features;
    if (features > (version >= 2 ? 2 : 1)) throw vcArchive::BadData("Texture model record: unknown feature set");
    loaded.features_ = static_cast<vcTextureModel::Features>(features);
    ar || loaded.trained_;
    if (!(loaded.falseAlarmRate_ > 0.0 && loaded.falseAlarmRate_ <= 0.5) || loaded.smoothing_ < 0 ||
        loaded.smoothing_ > vcTextureModel::kMaxSmoothing || loaded.margin_ < 0 ||
        loaded.margin_ > vcTextureModel::kMaxMargin || !(loaded.shrinkage_ >= 0.0 && loaded.shrinkage_ <= 1.0))
      throw vcArchive::BadData("Texture model record: parameter out of range");
    if (loaded.trained_) {
      unsigned long n = 0;
      ar || n;
      if (n != static_cast<unsigned long>(loaded.featureCount()))
        throw vcArchive::BadData("Texture model record: feature count does not match the bank");
      const unsigned long floors = loaded.features_ != vcTextureModel::Features::perFilter ? n / 3 : n;
      ar.requireReadable(n * n + n + floors + 1, 8);
      loaded.floor_.resize(floors);
      loaded.mean_.resize(n);
      loaded.covariance_.resize(n * n);
      for (double& v : loaded.floor_) ar || v;
      for (double& v : loaded.mean_) ar || v;
      for (double& v : loaded.covariance_) ar || v;
      ar || loaded.threshold_;
      const long nl = static_cast<long>(n);
      bool good = std::isfinite(loaded.threshold_) && loaded.threshold_ >= 0.0;
      for (const double v : loaded.floor_) good = good && v > 0.0 && std::isfinite(v);
      for (long i = 0; i < nl && good; ++i) {
        good = std::isfinite(loaded.mean_[static_cast<std::size_t>(i)]);
        for (long j = 0; j < nl && good; ++j)
          good = loaded.covariance_[static_cast<std::size_t>(i * nl + j)] ==
                 loaded.covariance_[static_cast<std::size_t>(j * nl + i)];
      }
      if (!good || !cholesky(ridged(loaded.covariance_, nl, loaded.shrinkage_), nl, loaded.cholesky_))
        throw vcArchive::BadData("Texture model record: statistics that cannot be right");
    }
  }
  model = std::move(loaded);
  return ar;
}
