// vexfilt11: frequency-domain filters, built once for one spectrum size and
// applied to any number of frequency buffers of that size.
//
// Five filters derive from vcFrequencyFilter: band-pass and band-reject rings
// around the zero frequency, Gabor and Gabor-reject patches around an
// oriented frequency, and a filter that multiplies by a given spectrum. All
// are values (copy, assignment, equality), polymorphic (clone, apply) and
// persistent (archive records, polymorphic loading).
//
// Frequencies, widths and plateaus are normalised: cycles per pixel, 0.5 is
// the Nyquist frequency, scaled to pixels by the filter width; row distances
// are rescaled by width/height so that a filter follows the same normalised
// frequency in both directions of a non-square spectrum.
//
// The four parametric filters hold their coefficients exactly while built.
// In the Empty state (default construction, assignment from an Empty filter)
// every getter, setter and apply throws Uninitialized "FrequencyFilter has not
// been initialized" (apply checks the buffer first). Construction, set and
// the setters validate all parameters first and change nothing on failure;
// a setter given the stored value does nothing. A support (coefficient count)
// above 2^28 floats is refused with InvalidArgument "Filter support is too
// large." instead of being allocated.
//
// apply(buffer) filters in place; apply(source, target) writes the filtered
// source into target (sized like source) and may be given the same buffer
// twice. Both are const: one filter may be applied from several threads to
// different buffers at once. Both throw, in order: Uninitialized
// "FrequencyBuffer has not been initialized" (the buffer or source),
// Uninitialized "FrequencyFilter has not been initialized", InvalidSize "Size
// of frequency buffer does not match size of filter." (padded width, then
// height). Filters make no attention poll.
#pragma once

#include <vector>

#include "filt/fft.h"

template <class Filter>
struct vc_CoefficientFilter;

// The coefficient array of a parametric filter: supportWidth x supportHeight
// floats at `data`, the first 16-byte aligned float of `storage`; `data` is
// null while the filter holds no coefficients.
struct vc_Coefficients {
  long supportWidth = 0;
  long supportHeight = 0;
  std::vector<float> storage;
  float* data = nullptr;
};

// The root of the filter family: what a host needs to hold, copy, apply and
// store any filter through a base pointer. Persistent: store a filter with
// vcArchive::storeObject and load it, of whatever class, with loadObject.
class VEXFILT_API vcFrequencyFilter : public virtual vcPersistent, public virtual vcRepBase {
 public:
  // Not initialized; derived classes start Empty.
  vcFrequencyFilter();
  ~vcFrequencyFilter() override;

  // A new heap copy of the same concrete class, owned by the caller.
  virtual vcFrequencyFilter* clone() const = 0;
  // The initialized flag: true once the filter has been built (parameter
  // constructor, set, setImage, or assignment from or loading of a built
  // filter). apply does not consult it. Never throws.
  virtual bool isInitialized();
  // Writes the filtered `source` into `target`; `source` is not changed.
  // Throws as listed at the top. The four parametric filters give `target`
  // the padded size as its image size and keep its own offset and
  // transform, so the inverse of `target` is a padded-size image; to keep
  // the image's size and offset, filter a copy of the buffer in place.
  virtual void apply(const vcFrequencyBuffer& source, vcFrequencyBuffer& target) const = 0;
  // Filters `buffer` in place, keeping its image size, offset and transform.
  // Throws as listed at the top.
  virtual void apply(vcFrequencyBuffer& buffer) const = 0;

 protected:
  // Sets up fresh platform bases; copies the initialized flag.
  vcFrequencyFilter(const vcFrequencyFilter& other);
  // Copies the initialized flag only.
  vcFrequencyFilter& operator=(const vcFrequencyFilter& other);

  // The base level of every filter's record: version byte 0, the platform's
  // part, the initialized flag.
  virtual void serialize_(vcArchive& ar, unsigned char version);
  void dispatchSerialize(vcArchive& ar) override;

  // Access to a buffer's private state for derived filters; no checks.
  static float* getFrequencyBufferData(vcFrequencyBuffer& buffer);
  static const float* getFrequencyBufferData(const vcFrequencyBuffer& buffer);
  // Sets the buffer's row band; the caller guarantees that every row outside
  // [maskedMiny, maskedMaxy] (centered row frame) is zero.
  static void maskFrequencyBuffer(vcFrequencyBuffer& buffer, bool masked, long maskedMiny, long maskedMaxy);
  // The buffer's sizing (2048 limit, InvalidSize).
  static void setAndAllocateFrequencyBuffer(vcFrequencyBuffer& buffer, long width, long height);

  bool initialized_ = false;

  template <class Filter>
  friend struct vc_CoefficientFilter;
};

// ---------------------------------------------------------------------------
// Band-pass and band-reject rings
//
// The response depends on the distance d of an element from the ring of
// radius `frequency` around the zero frequency: 1 within `plateau` of it,
// then a Gaussian of standard deviation `sigma`: exp(-max(0, d - plateau)^2 /
// (2 sigma^2)) for the band-pass filter, one minus that for the band-reject
// filter. It is kept as a radial profile sampled 32 times per pixel over
// supportWidth() = L = trunc(X plateau + 4 X sigma + 0.05 X) pixels (made odd;
// X = size.x) and looked up per element; elements farther than L pixels from
// the ring are outside it: the band-pass filter zeroes them, the band-reject
// filter leaves them as they are. Rows are scanned exactly: a row is skipped
// whole only when no element of it can lie in the ring.
//
// The band-pass filter then zeroes the (2r - 1) x (2r - 1) square around the
// zero frequency (r = dcRemovalRadius, 0: none); the band-reject filter
// gives that square (r = dcProtectionRadius) back unchanged. A square
// reaching outside the buffer throws BadCoord "Coordinates are out of bounds"
// when applied (the band-pass filter has filtered by then). Both clear the
// buffer's row band.
//
// Validation, in order: InvalidArgument "Frequency must be between 0.0 and
// 0.5.", "Sigma must be positive.", "Plateau cannot be negative.", "DC Removal
// Radius cannot be negative." (band-pass) / "DC Protection Radius cannot be
// negative." (band-reject); InvalidSize "Size must be a power of 2." (x, then
// y; 1 is a power of two).
// ---------------------------------------------------------------------------

class VEXFILT_API vcFrequencyFilterBandPass : public vcFrequencyFilter {
 public:
  // Empty: holds no coefficients until set or assigned.
  vcFrequencyFilterBandPass();
  // Built for spectra of padded size `size` (width, height: powers of two).
  // Throws InvalidArgument or InvalidSize as listed under Validation above.
  vcFrequencyFilterBandPass(double sigma, double plateau, double frequency, const vcPair<long>& size,
                            long dcRemovalRadius);
  // Copies parameters and coefficients (an Empty filter copies as Empty).
  vcFrequencyFilterBandPass(const vcFrequencyFilterBandPass& other);
  vcFrequencyFilterBandPass& operator=(const vcFrequencyFilterBandPass& other);
  ~vcFrequencyFilterBandPass() override;
  // Exact: flags, supports, parameters (a NaN never matches) and coefficients.
  bool operator==(const vcFrequencyFilterBandPass& other) const;

  // Rebuilds with new parameters; validates them all first, as the
  // constructor, and changes nothing when one is refused. Works on an Empty
  // filter too.
  void set(double sigma, double plateau, double frequency, const vcPair<long>& size, long dcRemovalRadius);

  // The parameters, one getter and one setter each. All throw Uninitialized
  // "FrequencyFilter has not been initialized" while Empty. A setter
  // validates like set (the same errors, nothing changed on failure) and
  // rebuilds the coefficients; given the stored value it does nothing.
  double frequency() const;
  void frequency(double value);
  double sigma() const;
  void sigma(double value);
  double plateau() const;
  void plateau(double value);
  vcPair<long> size() const;
  void size(const vcPair<long>& value);
  long dcRemovalRadius() const;
  void dcRemovalRadius(long value);
  // L, the profile's reach in pixels from the ring (see above); Uninitialized
  // while Empty.
  long supportWidth() const;

  // As in vcFrequencyFilter; apply zeroes elements outside the ring, then
  // the DC square (BadCoord when the square leaves the buffer).
  vcFrequencyFilter* clone() const override;
  void apply(const vcFrequencyBuffer& source, vcFrequencyBuffer& target) const override;
  void apply(vcFrequencyBuffer& buffer) const override;

 protected:
  // The profile: supportWidth() * 32 floats.
  float* data() const;
  // This class's level of the filter's record: version byte 0, the base
  // level, supports, parameters, coefficients. Loading throws
  // vcArchive::UnknownVersion, BadData or EndOfData for a record that cannot
  // be right, before allocating for it.
  void serialize_(vcArchive& ar, unsigned char version) override;
  void dispatchSerialize(vcArchive& ar) override;

 private:
  struct Params {
    double frequency = 0.0;
    double sigma = 0.0;
    double plateau = 0.0;
    vcPair<long> size;
    long dcRadius = 0;
  };
  struct Traits;

  void create(double sigma, double plateau, double frequency, const vcPair<long>& size, long dcRemovalRadius);
  static vcPersistent* make();
  static vc_Instantiator sExemplar;

  Params params_;
  vc_Coefficients coefficients_;

  friend struct vc_CoefficientFilter<vcFrequencyFilterBandPass>;
};

// Members as for the band-pass filter; the DC radius protects instead of
// removing.
class VEXFILT_API vcFrequencyFilterBandReject : public vcFrequencyFilter {
 public:
  // Empty.
  vcFrequencyFilterBandReject();
  // Built; throws as listed under Validation above.
  vcFrequencyFilterBandReject(double sigma, double plateau, double frequency, const vcPair<long>& size,
                              long dcProtectionRadius);
  vcFrequencyFilterBandReject(const vcFrequencyFilterBandReject& other);
  vcFrequencyFilterBandReject& operator=(const vcFrequencyFilterBandReject& other);
  ~vcFrequencyFilterBandReject() override;
  // Exact, as for the band-pass filter.
  bool operator==(const vcFrequencyFilterBandReject& other) const;

  // Rebuilds; validates first, changes nothing on failure.
  void set(double sigma, double plateau, double frequency, const vcPair<long>& size, long dcProtectionRadius);

  // Getters and setters: Uninitialized while Empty; setters validate like
  // set and rebuild.
  double frequency() const;
  void frequency(double value);
  double sigma() const;
  void sigma(double value);
  double plateau() const;
  void plateau(double value);
  vcPair<long> size() const;
  void size(const vcPair<long>& value);
  long dcProtectionRadius() const;
  void dcProtectionRadius(long value);
  // L, as for the band-pass filter.
  long supportWidth() const;

  // As in vcFrequencyFilter; a DC square that leaves the buffer throws
  // BadCoord before the pass (the two-buffer form has resized `target`).
  vcFrequencyFilter* clone() const override;
  void apply(const vcFrequencyBuffer& source, vcFrequencyBuffer& target) const override;
  void apply(vcFrequencyBuffer& buffer) const override;

 protected:
  // The profile: supportWidth() * 32 floats.
  float* data() const;
  // The record, as for the band-pass filter.
  void serialize_(vcArchive& ar, unsigned char version) override;
  void dispatchSerialize(vcArchive& ar) override;

 private:
  struct Params {
    double frequency = 0.0;
    double sigma = 0.0;
    double plateau = 0.0;
    vcPair<long> size;
    long dcRadius = 0;
  };
  struct Traits;

  void create(double sigma, double plateau, double frequency, const vcPair<long>& size, long dcProtectionRadius);
  static vcPersistent* make();
  static vc_Instantiator sExemplar;

  Params params_;
  vc_Coefficients coefficients_;

  friend struct vc_CoefficientFilter<vcFrequencyFilterBandReject>;
};

// ---------------------------------------------------------------------------
// Gabor and Gabor-reject patches
//
// A two-dimensional Gaussian with a flat top, centred at `frequency` in the
// direction `angle` (0 along increasing columns, a quarter turn along
// increasing rows), with standard deviations and plateau half-widths x along
// and y across that direction. The Gabor filter passes only that patch (not
// its mirror through the zero frequency) and zeroes everything else; the
// Gabor-reject filter multiplies the patch by one minus the Gaussian and
// leaves the rest unchanged.
//
// The coefficients are a supportWidth() x supportHeight() window (odd sizes,
// four standard deviations and the plateau each side, projected on the axes,
// plus 5 % of the size), sampled around the exact sub-pixel patch centre and
// applied around the cell that contains it, so the peak lands on the exact
// frequency in every direction. Window cells that fall outside the array are
// dropped (no wrap-around).
//
// After a Gabor apply the buffer written carries the row band of the window
// (masked 1, maskedMiny/maskedMaxy its first and last row in the centered
// frame, stored as computed even beyond the array), which lets the inverse
// transform skip every other row. Gabor-reject clears the band. DC squares
// as for the band filters (dcRemovalRadius zeroes after the pass,
// dcProtectionRadius keeps).
//
// Validation, in order: InvalidArgument "Frequency must be between 0.0 and
// 0.5.", "Sigma values must be positive.", "Plateau values cannot be
// negative.", "DC Removal Radius cannot be negative." (Gabor) / "DC Protection
// Radius cannot be negative." (Gabor-reject); InvalidSize "Size must be a
// power of 2.".
// ---------------------------------------------------------------------------

class VEXFILT_API vcFrequencyFilterGabor : public vcFrequencyFilter {
 public:
  // Empty.
  vcFrequencyFilterGabor();
  // Built for spectra of padded size `size`; sigma and plateau are (along,
  // across) the angle. Throws as listed under Validation above.
  vcFrequencyFilterGabor(const vcPair<double>& sigma, const vcPair<double>& plateau, vcRadian angle, double frequency,
                         const vcPair<long>& size, long dcRemovalRadius);
  // Copies parameters and coefficients (an Empty filter copies as Empty).
  vcFrequencyFilterGabor(const vcFrequencyFilterGabor& other);
  vcFrequencyFilterGabor& operator=(const vcFrequencyFilterGabor& other);
  ~vcFrequencyFilterGabor() override;
  // Exact: flags, supports, parameters (a NaN never matches) and coefficients.
  bool operator==(const vcFrequencyFilterGabor& other) const;

  // Rebuilds; validates first, changes nothing on failure.
  void set(const vcPair<double>& sigma, const vcPair<double>& plateau, vcRadian angle, double frequency,
           const vcPair<long>& size, long dcRemovalRadius);

  // The parameters. All throw Uninitialized while Empty; a setter validates
  // like set and rebuilds, and does nothing for the stored value.
  vcRadian angle() const;
  void angle(vcRadian value);
  double frequency() const;
  void frequency(double value);
  vcPair<double> sigma() const;
  void sigma(const vcPair<double>& value);
  vcPair<double> plateau() const;
  void plateau(const vcPair<double>& value);
  vcPair<long> size() const;
  void size(const vcPair<long>& value);
  long dcRemovalRadius() const;
  void dcRemovalRadius(long value);
  // The coefficient window's size (odd); Uninitialized while Empty.
  long supportWidth() const;
  long supportHeight() const;
  // The window, supportHeight() rows of supportWidth() floats; entry (i, j)
  // (-(sw>>1) <= i <= sw>>1, likewise j) is the coefficient i columns and j
  // rows from the centre cell. Null while Empty.
  float* data() const;

  // As in vcFrequencyFilter; the result carries the window's row band (see
  // above), and a DC square leaving the buffer throws BadCoord after the
  // pass.
  vcFrequencyFilter* clone() const override;
  void apply(const vcFrequencyBuffer& source, vcFrequencyBuffer& target) const override;
  void apply(vcFrequencyBuffer& buffer) const override;

  // This class's level of the filter's record, as for the band-pass filter.
  void serialize_(vcArchive& ar, unsigned char version) override;

 protected:
  void dispatchSerialize(vcArchive& ar) override;

 private:
  struct Params {
    vcRadian angle;
    double frequency = 0.0;
    vcPair<double> sigma;
    vcPair<double> plateau;
    vcPair<long> size;
    long dcRadius = 0;
  };
  struct Traits;

  void create(const vcPair<double>& sigma, const vcPair<double>& plateau, vcRadian angle, double frequency,
              const vcPair<long>& size, long dcRemovalRadius);
  static vcPersistent* make();
  static vc_Instantiator sExemplar;

  Params params_;
  vc_Coefficients coefficients_;

  friend struct vc_CoefficientFilter<vcFrequencyFilterGabor>;
};

// Members as for the Gabor filter; the DC radius protects instead of
// removing. Only the patch at `angle` is rejected, not its mirror at angle +
// pi: to remove a real grating, apply a second filter at angle + pi too.
class VEXFILT_API vcFrequencyFilterGaborReject : public vcFrequencyFilter {
 public:
  // Empty.
  vcFrequencyFilterGaborReject();
  // Built; throws as listed under Validation above.
  vcFrequencyFilterGaborReject(const vcPair<double>& sigma, const vcPair<double>& plateau, vcRadian angle,
                               double frequency, const vcPair<long>& size, long dcProtectionRadius);
  vcFrequencyFilterGaborReject(const vcFrequencyFilterGaborReject& other);
  vcFrequencyFilterGaborReject& operator=(const vcFrequencyFilterGaborReject& other);
  ~vcFrequencyFilterGaborReject() override;
  // Exact, as for the Gabor filter.
  bool operator==(const vcFrequencyFilterGaborReject& other) const;

  // Rebuilds; validates first, changes nothing on failure.
  void set(const vcPair<double>& sigma, const vcPair<double>& plateau, vcRadian angle, double frequency,
           const vcPair<long>& size, long dcProtectionRadius);

  // Getters and setters: Uninitialized while Empty; setters validate like
  // set and rebuild.
  vcRadian angle() const;
  void angle(vcRadian value);
  double frequency() const;
  void frequency(double value);
  vcPair<double> sigma() const;
  void sigma(const vcPair<double>& value);
  vcPair<double> plateau() const;
  void plateau(const vcPair<double>& value);
  vcPair<long> size() const;
  void size(const vcPair<long>& value);
  long dcProtectionRadius() const;
  void dcProtectionRadius(long value);
  // The coefficient window's size (odd); Uninitialized while Empty.
  long supportWidth() const;
  long supportHeight() const;

  // As in vcFrequencyFilter; clears the row band. A DC square leaving the
  // buffer throws BadCoord before anything is written.
  vcFrequencyFilter* clone() const override;
  void apply(const vcFrequencyBuffer& source, vcFrequencyBuffer& target) const override;
  void apply(vcFrequencyBuffer& buffer) const override;

 protected:
  // The window, as for the Gabor filter.
  float* data() const;
  // The record, as for the band-pass filter.
  void serialize_(vcArchive& ar, unsigned char version) override;
  void dispatchSerialize(vcArchive& ar) override;

 private:
  struct Params {
    vcRadian angle;
    double frequency = 0.0;
    vcPair<double> sigma;
    vcPair<double> plateau;
    vcPair<long> size;
    long dcRadius = 0;
  };
  struct Traits;

  void create(const vcPair<double>& sigma, const vcPair<double>& plateau, vcRadian angle, double frequency,
              const vcPair<long>& size, long dcProtectionRadius);
  static vcPersistent* make();
  static vc_Instantiator sExemplar;

  Params params_;
  vc_Coefficients coefficients_;

  friend struct vc_CoefficientFilter<vcFrequencyFilterGaborReject>;
};

// ---------------------------------------------------------------------------
// Image filter: multiplies by a stored spectrum (complex product), e.g. the
// transform of a kernel image, giving a circular convolution with it.
// It holds its own copy of the buffer it is given; its size is that buffer's
// padded size.
// ---------------------------------------------------------------------------

class VEXFILT_API vcFrequencyFilterImage : public vcFrequencyFilter {
 public:
  // Empty: no image.
  vcFrequencyFilterImage();
  // Throws Uninitialized "FrequencyBuffer has not been initialized" for an
  // empty buffer.
  explicit vcFrequencyFilterImage(const vcFrequencyBuffer& image);
  // Copies the flag and the image.
  vcFrequencyFilterImage(const vcFrequencyFilterImage& other);
  vcFrequencyFilterImage& operator=(const vcFrequencyFilterImage& other);
  ~vcFrequencyFilterImage() override;
  // Equal flags and equal buffers.
  bool operator==(const vcFrequencyFilterImage& other) const;

  // Replaces the coefficients with a copy of `image`; an empty buffer throws
  // Uninitialized "FrequencyBuffer has not been initialized" and changes
  // nothing.
  void setImage(const vcFrequencyBuffer& image);
  // The padded size of the image; Uninitialized "FrequencyBuffer has not
  // been initialized" when none is set.
  long supportWidth() const;
  long supportHeight() const;

  // A new heap copy, owned by the caller.
  vcFrequencyFilter* clone() const override;
  // Both forms multiply by the image (vfFrequencyMultiply, so a buffer holding
  // an in-place inverse throws InvalidBuffer; the two-buffer form has then
  // already assigned source to target) and clear the row band.
  void apply(const vcFrequencyBuffer& source, vcFrequencyBuffer& target) const override;
  void apply(vcFrequencyBuffer& buffer) const override;

 protected:
  // This class's level of the record: version byte 0, the base level, the
  // image's buffer record (see operator|| in fft.h, with its load errors).
  void serialize_(vcArchive& ar, unsigned char version) override;
  void dispatchSerialize(vcArchive& ar) override;

 private:
  void create(const vcFrequencyBuffer& image);
  // The size checks shared by both apply forms.
  void check(const vcFrequencyBuffer& buffer) const;
  static vcPersistent* make();
  static vc_Instantiator sExemplar;

  vcFrequencyBuffer image_;
};
