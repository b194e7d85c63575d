// vexfilt11 vision: texture inspection with a bank of Gabor filters computed
// from one forward transform per image, orientation and energy maps, and a
// defect model trained on defect-free images.
//
// The bank. Filter k = m * orientations() + n passes a Gaussian patch of the
// spectrum centred at frequency f_m (cycles per pixel) in the direction
// theta_n = n * pi / orientations() (0 along increasing columns, a quarter
// turn along increasing rows: the direction of the wave vector, i.e. across
// the stripes of a grating). Its standard deviations (sigma_u along the
// direction, sigma_v across it, cycles per pixel) are given, or derived so
// that neighbouring filters cross at half their peak:
//   sigma_u = f (2^B - 1) / ((2^B + 1) sqrt(2 ln 2))     B: bandwidth, octaves
//   sigma_v = f tan(A / 2) / sqrt(2 ln 2)                A: angular bandwidth
// (full widths at half peak). B = 1 octave and A = pi / orientations() make
// neighbours cross at half peak; A defaults to twice that (neighbours cross
// at 0.84 of their peak), which the orientation's refinement needs: on
// scikit-image's brick rotated by angles between the filters its error is
// 0.2 degrees with A = 2 pi / N and 3.3 degrees with pi / N. The patch is
// the library's Gabor patch (vcFrequencyFilterGabor with no plateau), which is
// one-sided: it holds the patch at theta_n but not its mirror at theta_n + pi.
// The response of a real image to it is the complex analytic signal
// (even + i odd) / 2 of the mirrored, real filter pair, and its magnitude is
// the local energy (the envelope of the mirrored filter's real, even
// response). A grating a cos(2 pi (f x cos t + f y sin t)) with (f, t) on a
// filter's centre has energy a / 2 in that filter.
//
// The zero frequency (the image's mean) is removed before filtering. The
// transform is periodic: images whose size is not a power of two are padded
// with zeros, and in either case energies within a few envelope widths of the
// border see the opposite border or the padding (the defect model leaves a
// margin out for that reason).
//
// Energy, two ways:
//  - energyExact: per filter, the library's Gabor filter applied to the
//    spectrum and its banded inverse (rows outside the patch skipped); the
//    magnitude of the full-size inverse. The reference.
//  - energy: per filter, the patch's cells within support() standard
//    deviations (the ellipse) are moved so that the centre cell lands on the
//    zero frequency (the response gains a phase of magnitude 1) and folded
//    modulo a small array of (W / g) x (H / g') cells; its inverse is the
//    full-size response sampled every g columns and g' rows, exactly (cell u
//    and u + W / g give the same samples), up to float rounding and the
//    truncation. Per axis, g is the coarsest power of two on which the
//    envelope's spectrum (Gaussian, standard deviation s cycles per pixel
//    along that axis) has s g <= 0.2272 / oversample(): outputs every
//    `step` >= g pixels are read off a grid of `step` (exact), finer ones
//    interpolated from grid g down, then along the rows, on the complex
//    envelope, with 8 weights per fraction: the least-squares interpolator
//    of a signal of that Gaussian spectrum, summing to 1; the magnitude
//    is taken last. energyBound() states the accuracy: for every pixel
//    |energy - E| <= bound * S + float rounding, E the full-size magnitude
//    with the untruncated Gaussian, S the sum over the
//    image's frequency components of the energy each alone would give at
//    the filter's centre (for one grating: its energy there, so the bound
//    is relative). With the defaults (support 4, oversample 2) the bound is
//    3.4e-4 (the truncation) read off and 1.1e-3 to 1.6e-3 interpolated;
//    measured on textures, the largest difference from energyExact was
//    2.9e-3 of the largest energy interpolated (scikit-image's gravel, a
//    broadband texture) and 6.5e-4 read off (both windows' truncations).
//
// Errors: parameters out of range throw vcFrequencyDefs::InvalidArgument;
// images are checked by the forward transform (UnboundWindow, InvalidSize
// above 2048). Long calls poll the attention check (per filter, per row band
// of the per-pixel loops) and leave by its exception, releasing everything.
// All runs are const: one bank or trained model serves many threads.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "filt/fft.h"
#include "filt/freqfilt.h"

// Storage of a stack's values: an allocator whose new floats are left
// uninitialised (every producer writes every value, so a 16-plane 2048^2
// stack, 256 MiB, is not zero-filled before it is written); otherwise an
// ordinary std::vector<float>.
template <class T>
struct vcTextureAllocator {
  using value_type = T;
  vcTextureAllocator() = default;
  template <class U>
  vcTextureAllocator(const vcTextureAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
  void deallocate(T* p, std::size_t n) noexcept { std::allocator<T>().deallocate(p, n); }
  // Default-initialises: no zero fill for values about to be written.
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    if constexpr (sizeof...(Args) == 0)
      ::new (static_cast<void*>(p)) U;
    else
      ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <class U>
  bool operator==(const vcTextureAllocator<U>&) const noexcept {
    return true;
  }
};

// A stack of maps: `filters` planes of height x width floats, plane-major,
// row-major (the Python shape (filters, height, width)).
struct VEXFILT_API vcTextureStack {
  long filters = 0;
  long width = 0;
  long height = 0;
  std::vector<float, vcTextureAllocator<float>> values;

  float* plane(long k) { return values.data() + static_cast<std::size_t>(k * width * height); }
  const float* plane(long k) const { return values.data() + static_cast<std::size_t>(k * width * height); }
};

// The per-pixel maps of a stack (all width x height double images).
struct VEXFILT_API vcTextureMaps {
  // Dominant wave-vector direction in radians [0, pi): the orientation of the
  // largest energy summed over the frequencies, refined by a parabola through
  // the logarithms of it and its two neighbours (exact for energies Gaussian
  // in angle).
  vcPelBuffer<double> orientation;
  // |sum_n E_n exp(2 i theta_n)| / sum_n E_n in [0, 1]: 1 for one direction,
  // 0 for energy spread evenly over the directions.
  vcPelBuffer<double> coherence;
  // sqrt(sum_k E_k^2): the texture's local energy in the bank's band.
  vcPelBuffer<double> energy;
};

class vcGaborBank;
VEXFILT_API vcArchive& operator||(vcArchive& ar, vcGaborBank& bank);

class VEXFILT_API vcGaborBank {
 public:
  // Bounds of a bank.
  static constexpr long kMaxFrequencies = 16;
  static constexpr long kMaxOrientations = 64;
  // Sigmas (cycles per pixel) are at least this: an envelope wider than any
  // image by far, and a filter whose Gaussian terms stay finite.
  static constexpr double kMinSigma = 1e-6;

  // Empty: no filters (filters() is 0); every run throws Uninitialized.
  vcGaborBank() = default;
  // Frequencies in (0, 0.5] cycles per pixel, 1..kMaxOrientations
  // orientations, bandwidth in octaves (> 0, <= 8), angular bandwidth in
  // radians (0: 2 pi / orientations; else in (0, pi)).
  vcGaborBank(const std::vector<double>& frequencies, long orientations, double bandwidth = 1.0,
              double angularBandwidth = 0.0);
  // Sigmas given, one (along, across) pair per frequency, each in
  // [kMinSigma, 0.5]. Sigmas derived from the bandwidths must lie there too.
  vcGaborBank(const std::vector<double>& frequencies, long orientations, const std::vector<vcPair<double>>& sigmas);

  bool operator==(const vcGaborBank& other) const;
  bool operator!=(const vcGaborBank& other) const { return !(*this == other); }

  long filters() const { return static_cast<long>(frequencies_.size()) * orientations_; }
  long orientations() const { return orientations_; }
  const std::vector<double>& frequencies() const { return frequencies_; }
  // Filter k's parameters; k outside [0, filters()) throws BadCoord.
  double frequency(long k) const;
  vcRadian angle(long k) const;
  vcPair<double> sigma(long k) const;
  // The Gaussian's truncation of energy(), in standard deviations (>= 2,
  // <= 8; default 4): beyond it, cells weigh less than exp(-s^2 / 2).
  double support() const { return support_; }
  void support(double value);
  // How finely energy() samples the envelope before interpolating: 1, 2, 4
  // or 8 (default 2); the grid g of each axis is the coarsest power of two
  // with s g <= 0.2272 / oversample (see the top). Each doubling halves the
  // grids (4 x the small arrays) and shrinks the interpolation's bound.
  long oversample() const { return oversample_; }
  void oversample(long value);
  // The largest spatial standard deviation of the filters' envelopes, in
  // pixels: 1 / (2 pi sigma) over all sigmas.
  double envelopeSigma() const;

  // Filter k as the library's Gabor filter for spectra of padded size
  // `size` (DC removal radius 1).
  vcFrequencyFilterGabor filter(long k, const vcPair<long>& size) const;

  // The spectrum the bank filters: the image's forward transform with the
  // zero frequency cleared. T = unsigned char, unsigned short, double.
  template <class T>
  vcFrequencyBuffer spectrum(const vcPelBuffer_const<T>& image) const;

  // Energies of all filters, every `step`-th pixel (step a power of two, 1 to
  // 64): planes of ceil(w / step) x ceil(h / step), pixel (i, j) at image
  // pixel (i * step, j * step). The fast path (see the top).
  template <class T>
  vcTextureStack energy(const vcPelBuffer_const<T>& image, long step = 1) const;
  // One filter of a spectrum made by spectrum(): a job a host may run on its
  // own thread. Writes ceil(w / step) x ceil(h / step) floats, rows `pitch`
  // floats apart.
  void energy(const vcFrequencyBuffer& spectrum, long k, long step, float* out, long pitch) const;
  // The accuracy bound of energy() for filter k at `step` on spectra of
  // padded size `size` (powers of two up to 2048; else InvalidSize): for
  // every pixel, |energy - E| <= bound * S + float rounding (E and S as at
  // the top), S the sum
  // over the image's frequency components of the energy each alone would
  // give at the filter's centre (for one grating, its energy there: the
  // bound is then relative). exp(-support^2 / 2) for the truncation plus
  // the interpolation's bound (0 where the outputs are read off).
  double energyBound(long k, long step, const vcPair<long>& size) const;
  // Energies through the library's filter and banded inverse, full size.
  template <class T>
  vcTextureStack energyExact(const vcPelBuffer_const<T>& image) const;
  void energyExact(const vcFrequencyBuffer& spectrum, long k, float* out, long pitch) const;

  // Maps of a stack made by this bank (InvalidSize for another filter count).
  vcTextureMaps maps(const vcTextureStack& stack) const;
  // The orientation map of an image (maps(energy(image, step)).orientation).
  template <class T>
  vcPelBuffer<double> orientation(const vcPelBuffer_const<T>& image, long step = 1) const;

 private:
  void build(const std::vector<double>& frequencies, long orientations, const std::vector<vcPair<double>>& sigmas);
  void requireBuilt() const;
  void requireFilter(long k) const;

  std::vector<double> frequencies_;
  std::vector<vcPair<double>> sigmas_;  // one per frequency
  long orientations_ = 0;
  double support_ = 4.0;
  long oversample_ = 2;

  friend VEXFILT_API vcArchive& operator||(vcArchive& ar, vcGaborBank& bank);
};

// ---------------------------------------------------------------------------
// The defect model
//
// Features: per pixel and filter, x_k = ln(e_k + floor_k), e_k the energy
// averaged over a (2r + 1)^2 box (r = smoothing()), floor_k = 1e-3 times the
// mean of e_k over the first training image. Training estimates the mean and
// covariance of x over the training pixels (all pixels at least margin()
// from the border, full resolution), and sets the threshold to the
// (1 - falseAlarmRate) quantile of held-out distances: the inner rows of
// every training image are split into an upper and a lower half, and each
// half is measured by a model fitted to the other half; the larger of the
// two halves' quantiles is taken, so that the rate holds on either. (A
// model's own training pixels lie closer to it than new pixels of the same
// texture, so their quantile would understate the rate on new images.
// Halves of fewer than 8 samples per feature fall back to the training
// pixels' own distances.) The training pixels themselves are then flagged
// at most at the stated rate, new images of a stationary texture near it.
// A pixel's
// distance is the Mahalanobis distance sqrt((x - mean)' C^-1 (x - mean));
// pixels closer than margin() to the border get distance 0 and are never
// defects. The distances use the covariance with its off-diagonal entries
// scaled by 1 - shrinkage() (1: features taken as independent; helps when
// the training images hold few independent samples of the texture). The
// covariance gets a ridge of 1e-9 times its mean diagonal so
// that it is always invertible.
//
// Two feature sets (features()):
//  - perFilter (the default): the log energy of every filter, as above;
//    filters() features. Sees a change of orientation (a turned weave).
//  - invariant: per frequency f_m, three features that do not change when
//    the texture turns: the log of the orientation-summed energy
//    S = sum_n E_{m,n} averaged over the box, ln(<S> + floor_m); its
//    coherence |<sum_n E_{m,n} e^{2 i theta_n}>| / (<S> + floor_m) in [0, 1]
//    (how strongly oriented the texture is at that scale, whatever the
//    direction); and the spread of ln(S + floor_m) over the box (its
//    standard deviation: a texture of sparse edges against one of dense
//    detail). <.> is the box average of radius smoothing(), which for this
//    set defaults to kInvariantSmoothing. 3 * frequencies features. Natural
//    textures (grass, gravel, a brick wall in perspective) are told apart by
//    the shape of their energy over the scales more than by its direction,
//    and a photograph's drift in scale or orientation moves the per-filter
//    energies far more than these. Exact functions of the energies: no
//    approximation beyond the bank's.
//  - invariantSharp: the invariant features, each pixel's taken from the
//    most homogeneous of 9 boxes of radius r around it (edge-preserving, as
//    in Kuwahara's filter): the centred box and the 8 centred at offsets of
//    o = r / 2 (rounded down) along the rows, the columns and the diagonals
//    ((+-o, +-o)). A box's inhomogeneity is the step of ln(S + floor_m)
//    across it, summed over the frequencies: the squared difference of its
//    mean over the box's left and right halves (boxes of (r + 1) x (2 r + 1)
//    centred o to either side) plus that of the upper and lower halves. The
//    least step wins (ties: the centred box, then the order above); all
//    3 * frequencies features come from that box. A pixel near an edge
//    between two textures then takes a box on its own side, which narrows
//    the halo around a flaw from about r to about r / 2. Candidates whose
//    centre falls outside the image are left out, and the halves are read
//    at the nearest pixel inside it; the default margin grows by o so that
//    the boxes of pixels outside the margin stay as far from the border as
//    the plain set's. Training uses the same choice.
// ---------------------------------------------------------------------------

class vcTextureModel;
VEXFILT_API vcArchive& operator||(vcArchive& ar, vcTextureModel& model);

class VEXFILT_API vcTextureModel {
 public:
  static constexpr long kMaxSmoothing = 256;
  static constexpr long kMaxMargin = 1024;
  // The feature sets (see above); the archive stores the enumerator's value.
  enum class Features : unsigned char { perFilter = 0, invariant = 1, invariantSharp = 2 };
  // The invariant set's default box radius: its coherence and spread are
  // statistics over the box and need area (a 49-pixel box).
  static constexpr long kInvariantSmoothing = 24;

  // Empty: no bank; everything but assignment and loading throws Uninitialized.
  vcTextureModel() = default;
  // An untrained model. smoothing and margin < 0 take their defaults: r = 0
  // for per-filter features (the energies are already averages over their
  // envelopes; a box widens the halo around a flaw by its radius),
  // kInvariantSmoothing for invariant ones, and margin = ceil(3 s) + r
  // (+ r / 2 for invariantSharp), s = bank.envelopeSigma().
  // falseAlarmRate in (0, 0.5].
  // shrinkage in [0, 1] (default 0: the full covariance).
  explicit vcTextureModel(const vcGaborBank& bank, double falseAlarmRate = 0.01, long smoothing = -1, long margin = -1,
                          double shrinkage = 0.0, Features features = Features::perFilter);

  bool operator==(const vcTextureModel& other) const;

  const vcGaborBank& bank() const { return bank_; }
  bool isTrained() const { return trained_; }
  double falseAlarmRate() const { return falseAlarmRate_; }
  long smoothing() const { return smoothing_; }
  long margin() const { return margin_; }
  double shrinkage() const { return shrinkage_; }
  Features features() const { return features_; }
  // Features per pixel: filters() per filter, 3 * frequencies invariant
  // (either invariant set).
  long featureCount() const;
  // The decision threshold on the distance; set by training, may be changed.
  double threshold() const;
  void threshold(double value);
  // Mean (featureCount()) and covariance (its square, row-major) of the
  // features.
  const std::vector<double>& mean() const { return mean_; }
  const std::vector<double>& covariance() const { return covariance_; }

  // Trains on defect-free images (each larger than 2 margin() + 1 both
  // ways); replaces any earlier training. Throws InvalidArgument for an empty
  // list, InvalidSize for an image too small for the margin.
  template <class T>
  void train(const std::vector<vcPelBuffer_const<T>>& images);
  // Distance of every pixel from the model (image size; 0 in the margin).
  template <class T>
  vcPelBuffer<double> distance(const vcPelBuffer_const<T>& image) const;
  // 1 where distance > threshold(), else 0.
  template <class T>
  vcPelBuffer<unsigned char> defects(const vcPelBuffer_const<T>& image) const;
  // The same from a distance map (a name of its own: as an overload of
  // defects() it would take every double image for a distance map).
  vcPelBuffer<unsigned char> defectsFromDistances(const vcPelBuffer_const<double>& distances) const;
  // The features the distances are made of, featureCount() planes of the
  // image's size in the order of mean(): per filter, or per frequency its
  // level, coherence and spread (planes 3m, 3m + 1, 3m + 2). Trained models.
  template <class T>
  vcTextureStack featureMaps(const vcPelBuffer_const<T>& image) const;

 private:
  struct Sums;  // running sums of the training features
  void requireTrained() const;
  void factor();  // cholesky_ from covariance_; false when not positive definite
  // Features of an image: featureCount() planes of w x h (before training,
  // per filter: the smoothed energies without the logarithm; invariant: with
  // floors from the image itself).
  template <class T>
  vcTextureStack featuresOf(const vcPelBuffer_const<T>& image) const;
  vcPelBuffer<double> distanceOf(const vcTextureStack& features) const;

  vcGaborBank bank_;
  bool hasBank_ = false;
  bool trained_ = false;
  double falseAlarmRate_ = 0.01;
  long smoothing_ = 0;
  long margin_ = 0;
  double shrinkage_ = 0.0;
  Features features_ = Features::perFilter;
  double threshold_ = 0.0;
  std::vector<double> floor_;  // per filter, or per frequency for invariant features
  std::vector<double> mean_;
  std::vector<double> covariance_;
  std::vector<double> cholesky_;  // lower factor of the ridged covariance (derived)

  friend VEXFILT_API vcArchive& operator||(vcArchive& ar, vcTextureModel& model);
};
