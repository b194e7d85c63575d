// vexfilt11: frequency buffers, transforms, spectrum views and arithmetic.
//
// Conventions used throughout:
//  - A spectrum is a vcFrequencyBuffer: single-precision complex values,
//    interleaved (re, im), row-major, width x height padded to powers of two
//    from 1 to 2048, in natural transform order: element (0, 0) is the zero
//    frequency, columns >= width/2 and rows >= height/2 hold the negative
//    frequencies.
//  - Forward transforms are unscaled; the inverse transforms to images apply
//    1/(width*height).
//  - Kernels load floats, compute in double and round once on each store.
//  - Failures throw one of the vcFrequencyDefs error classes (below) by
//    value; a failed call leaves its arguments as they were unless its
//    documentation says otherwise. Long operations poll the platform's
//    attention check and leave by its exception (vcAbortRequested,
//    vcTimedOut) when the host aborts or a deadline passes.
#pragma once

#include <cstdint>
#include <vector>

#include "filt/export.h"
#include "filt/version.h"
#include "vexstd/vexstd.h"

// Scope of the library's error classes and of the display mappings.
class VEXFILT_API vcFrequencyDefs {
 public:
  // A scope, not a value: construction and copying do nothing.
  vcFrequencyDefs() = default;
  vcFrequencyDefs(const vcFrequencyDefs&) = default;
  // Holds no data: assignment does nothing.
  vcFrequencyDefs& operator=(const vcFrequencyDefs&) { return *this; }

  // Display mappings of a double image to 8-bit pixels (vfFrequencyMapImage).
  enum FrequencyMapping : std::int32_t {
    eMapClip = 0,    // p clamped to 0..255, truncated
    eMapLinear = 1,  // linear over the image's own range
    eMapRange = 2,   // linear over a range given by the caller, clamped
    eMapLog = 3,     // logarithmic over the image's own range
    eMapPhase = 4    // p * 40.58451: angles in [0, 2*pi) to 0..254
  };

  // Base of the six error classes. Every error carries an optional message
  // (null for none) and a fixed error number, and is persistent: an archive
  // record holds the concrete class's version byte (0), this level's version
  // byte (0), then the platform's exception part.
  // Catch this to handle any error of the library alike.
  class VEXFILT_API Errors : public vcExceptionWithString {
   public:
    // Copies carry the message and the error number.
    Errors(const Errors&) = default;
    Errors& operator=(const Errors&) = default;
    ~Errors() override;

   protected:
    Errors(const char* message = nullptr);
    // This level of the record (its version byte, then the platform's part);
    // loading throws vcArchive::UnknownVersion for a version other than 0.
    void dispatchSerialize(vcArchive& ar) override;
    void serialize_(vcArchive& ar, unsigned char version);
  };

  // The concrete errors, one class each: built from a literal message or
  // none; errorNumber() answers the class's constant; suicideAndRethrow()
  // deletes the (heap) object and throws a copy of it as its own class.

  // 0x10006300: a filter parameter out of its range.
  class VEXFILT_API InvalidArgument : public Errors {
   public:
    InvalidArgument(const char* message = nullptr);
    InvalidArgument(const InvalidArgument&);
    InvalidArgument& operator=(const InvalidArgument&);
    ~InvalidArgument() override;
    long errorNumber() const override;
    [[noreturn]] void suicideAndRethrow() override;

   protected:
    void dispatchSerialize(vcArchive& ar) override;
    void serialize_(vcArchive& ar, unsigned char version);

   private:
    static vcPersistent* make();
    static vc_Instantiator sExemplar;
  };

  // 0x10006301: a buffer or filter used before it holds data.
  class VEXFILT_API Uninitialized : public Errors {
   public:
    Uninitialized(const char* message = nullptr);
    Uninitialized(const Uninitialized&);
    Uninitialized& operator=(const Uninitialized&);
    ~Uninitialized() override;
    long errorNumber() const override;
    [[noreturn]] void suicideAndRethrow() override;

   protected:
    void dispatchSerialize(vcArchive& ar) override;
    void serialize_(vcArchive& ar, unsigned char version);

   private:
    static vcPersistent* make();
    static vc_Instantiator sExemplar;
  };

  // 0x10006302: a size that is unsupported, too large, or does not match.
  class VEXFILT_API InvalidSize : public Errors {
   public:
    InvalidSize(const char* message = nullptr);
    InvalidSize(const InvalidSize&);
    InvalidSize& operator=(const InvalidSize&);
    ~InvalidSize() override;
    long errorNumber() const override;
    [[noreturn]] void suicideAndRethrow() override;

   protected:
    void dispatchSerialize(vcArchive& ar) override;
    void serialize_(vcArchive& ar, unsigned char version);

   private:
    static vcPersistent* make();
    static vc_Instantiator sExemplar;
  };

  // 0x10006303: an input image that is not bound to pixel memory (no text).
  class VEXFILT_API UnboundWindow : public Errors {
   public:
    UnboundWindow(const char* message = nullptr);
    UnboundWindow(const UnboundWindow&);
    UnboundWindow& operator=(const UnboundWindow&);
    ~UnboundWindow() override;
    long errorNumber() const override;
    [[noreturn]] void suicideAndRethrow() override;

   protected:
    void dispatchSerialize(vcArchive& ar) override;
    void serialize_(vcArchive& ar, unsigned char version);

   private:
    static vcPersistent* make();
    static vc_Instantiator sExemplar;
  };

  // 0x10006304: spectrum access to a buffer holding an in-place inverse.
  class VEXFILT_API InvalidBuffer : public Errors {
   public:
    InvalidBuffer(const char* message = nullptr);
    InvalidBuffer(const InvalidBuffer&);
    InvalidBuffer& operator=(const InvalidBuffer&);
    ~InvalidBuffer() override;
    long errorNumber() const override;
    [[noreturn]] void suicideAndRethrow() override;

   protected:
    void dispatchSerialize(vcArchive& ar) override;
    void serialize_(vcArchive& ar, unsigned char version);

   private:
    static vcPersistent* make();
    static vc_Instantiator sExemplar;
  };

  // 0x10006305: a coordinate outside the buffer.
  class VEXFILT_API BadCoord : public Errors {
   public:
    BadCoord(const char* message = nullptr);
    BadCoord(const BadCoord&);
    BadCoord& operator=(const BadCoord&);
    ~BadCoord() override;
    long errorNumber() const override;
    [[noreturn]] void suicideAndRethrow() override;

   protected:
    void dispatchSerialize(vcArchive& ar) override;
    void serialize_(vcArchive& ar, unsigned char version);

   private:
    static vcPersistent* make();
    static vc_Instantiator sExemplar;
  };
};

class vcFrequencyBuffer;
class vcFrequencyFilter;
class vc_FrequencyBufferAccess;

// Stores or loads a buffer (one routine, the archive's direction decides).
// Record: version byte (1), width, height, imageWidth, imageHeight, masked,
// maskedMiny, maskedMaxy (longs), inverseComputed (bool), the transform cache,
// a pair record (version byte 0, offset x, offset y), has-data (bool), then a
// float array record (version byte 0, unsigned long count, count floats).
// Version-0 records (a vcXform<2> in place of the cache) load too.
// Loading throws vcArchive::UnknownVersion for a version above 1 or a
// non-zero nested version, and vcArchive::BadData / EndOfData for a record
// that cannot be right (sizes that are not powers of two from 1 to 2048, an
// image size above the padded size, a count other than 2*width*height, or 0
// without data, a record shorter than it claims). Nothing is allocated for a
// record before it has passed those checks, and a failed load leaves the
// buffer as it was.
VEXFILT_API vcArchive& operator||(vcArchive& ar, vcFrequencyBuffer& buffer);

// A two-dimensional complex spectrum (see the conventions at the top).
//
// Besides the array a buffer holds the size of the image that filled it
// (imageWidth x imageHeight, the top-left part of the array), that image's
// offset and client transform (handed on to the images the inverse
// transforms make), a band of rows outside which the array is known to be
// zero (masked, maskedMiny, maskedMaxy, counted in the centered row frame
// where row height/2 holds the zero vertical frequency) and the flag
// inverseComputed (the array holds an in-place inverse result, not a
// spectrum; spectrum access is then refused).
//
// Coordinates: stored (centered == false) x in [0, width), y in [0, height);
// centered (centered == true) signed frequencies x in [-(width>>1),
// (width+1)>>1), y likewise, a negative value addressing column x + width
// (row y + height).
class VEXFILT_API vcFrequencyBuffer {
 public:
  // An empty buffer: no data; width() and height() throw Uninitialized.
  vcFrequencyBuffer();
  // A zeroed buffer padded from width x height (values below 1 give 1),
  // identity transform, offset (0, 0). Throws InvalidSize "Width and Height
  // must be no larger than 2048." above 2048.
  vcFrequencyBuffer(long width, long height);
  // Real parts from `real`, imaginary parts from `imaginary` (each double
  // rounded to float), zero-padded; nothing is transformed. Takes the real
  // image's offset and transform. Throws UnboundWindow (no text) for an
  // unbound image (real first), InvalidSize "Real and Imaginary PelBuffers
  // must have the same dimensions and offset." and the 2048 limit's
  // InvalidSize; polls the attention check once.
  vcFrequencyBuffer(const vcPelBuffer_const<double>& real, const vcPelBuffer_const<double>& imaginary);
  // A deep copy of everything (as operator=); never throws a library error.
  vcFrequencyBuffer(const vcFrequencyBuffer& source);
  // The cropping copy: the low-frequency width x height part of `source`, in
  // natural order. imageWidth/imageHeight scale with the size, the transform
  // is composed with the scale. Checks, in order: InvalidSize "Copied width
  // must be > 1", "Copied height must be > 1"; Uninitialized for an empty
  // source; InvalidSize "Copied width cannot be greater than source width",
  // "Copied height cannot be greater than source height", "Unsupported
  // width", "Unsupported height" (not a power of two).
  vcFrequencyBuffer(const vcFrequencyBuffer& source, long width, long height);
  // Moves leave `other` empty.
  vcFrequencyBuffer(vcFrequencyBuffer&& other) noexcept;
  // Releases the array.
  ~vcFrequencyBuffer();

  // Copies sizes, transform, offset, flags, band and array; assigning an
  // empty buffer empties this one (its other fields are kept). The move form
  // leaves `other` empty.
  vcFrequencyBuffer& operator=(const vcFrequencyBuffer& source);
  vcFrequencyBuffer& operator=(vcFrequencyBuffer&& other) noexcept;
  // Exact comparison of sizes, image sizes, flags, band (only while masked),
  // offset and every float (a NaN equals nothing). The transform takes no
  // part. Two empty buffers are equal. Neither form throws.
  bool operator==(const vcFrequencyBuffer& other) const;
  bool operator!=(const vcFrequencyBuffer& other) const { return !(*this == other); }

  // Padded sizes; throw Uninitialized "FrequencyBuffer has not been
  // initialized" while the buffer is empty.
  long width() const;
  long height() const;

  // Plain fields (never throw).
  long imageWidth() const { return imageWidth_; }
  long imageHeight() const { return imageHeight_; }
  vcPair<long> offset() const { return offset_; }
  const vc2XformCache& xforms() const { return xforms_; }
  bool inverseComputed() const { return inverseComputed_; }
  bool isEmpty() const { return data_ == nullptr; }
  long masked() const { return masked_; }
  long maskedMiny() const { return maskedMiny_; }
  long maskedMaxy() const { return maskedMaxy_; }

  // Point access. Each throws, in this order: Uninitialized "FrequencyBuffer
  // has not been initialized" (empty), InvalidBuffer "Cannot access frequency
  // data once inverse has been computed.", BadCoord "Coordinates are out of
  // bounds". Values are widened to double on reading and rounded to the
  // nearest float on writing.
  vcPair<double> get(long x, long y, bool centered) const;
  double getReal(long x, long y, bool centered) const;
  double getImaginary(long x, long y, bool centered) const;
  void put(long x, long y, vcPair<double> value, bool centered);
  void putReal(long x, long y, double value, bool centered);
  void putImaginary(long x, long y, double value, bool centered);

  // Spectrum images: one quantity of every element as a new width x height
  // double image (offset (0, 0), identity transform): re, im, sqrt(re^2 +
  // im^2), or the phase atan2(im, re) folded into [0, 2*pi). Unscaled. With
  // `centered` the quadrants are swapped: element (x, y) goes to pixel
  // ((x + width/2) mod width, (y + height/2) mod height), so the zero
  // frequency lands at (width/2, height/2). Throw Uninitialized "FrequencyBuffer
  // has not been initialized" and InvalidBuffer "Cannot access frequency data
  // once inverse has been computed.".
  vcPelBuffer<double> getRealImage(bool centered) const;
  vcPelBuffer<double> getImaginaryImage(bool centered) const;
  vcPelBuffer<double> getMagnitudeImage(bool centered) const;
  vcPelBuffer<double> getPhaseImage(bool centered) const;

 private:
  friend class vc_FrequencyBufferAccess;
  friend class vcFrequencyFilter;
  friend VEXFILT_API vcArchive& operator||(vcArchive& ar, vcFrequencyBuffer& buffer);

  float* data() const { return data_; }
  void masked(long v) { masked_ = v; }
  void maskedMiny(long v) { maskedMiny_ = v; }
  void maskedMaxy(long v) { maskedMaxy_ = v; }
  // Sets the image size and the padded sizes, clears the band and the
  // inverse flag, and makes storage ready; keeps the array when the padded
  // size is unchanged. Throws InvalidSize above 2048 (changing nothing).
  void setAndAllocate(long width, long height);
  // Checks shared by the point accessors; returns the element's first float.
  float* element(long x, long y, bool centered) const;
  // Makes storage hold 2 * width_ * height_ + 7 floats and points data_ at
  // its first 16-byte aligned float.
  void allocate();

  long width_ = 0;
  long height_ = 0;
  long imageWidth_ = 0;
  long imageHeight_ = 0;
  long masked_ = 0;
  long maskedMiny_ = 0;
  long maskedMaxy_ = 0;
  vc2XformCache xforms_;
  vcPair<long> offset_;
  std::vector<float> storage_;
  float* data_ = nullptr;
  bool inverseComputed_ = false;
};

// ---------------------------------------------------------------------------
// Forward transforms
//
// The spectrum is unscaled and in natural order. The result buffer takes the
// image's size (padded to powers of two), offset and client transform, and
// ends with masked 0 and inverseComputed false. The image's pixels go to the
// top-left of the array unmoved whatever its offset (the offset is only
// recorded), so an inverse transform gives back the image and its offset.
// 8- and 16-bit pixels convert exactly, doubles round to the nearest float.
//
// Throws UnboundWindow (no text) for an unbound image (a pair: real first),
// InvalidSize "Real and Imaginary buffers must have the same size and
// offset." for a pair that differs, InvalidSize "Width and Height must be no
// larger than 2048." -- all before the result is touched -- and the
// attention poll's exception (the result then holds the new size and a partly
// transformed array).
// ---------------------------------------------------------------------------

// The overloads behind the vfForwardFFT templates: one real image, or a real
// and an imaginary image of the same size and offset.
VEXFILT_API void vf_ForwardFFT(const vcPelBuffer_const<unsigned char>& image, vcFrequencyBuffer& result);
VEXFILT_API void vf_ForwardFFT(const vcPelBuffer_const<unsigned short>& image, vcFrequencyBuffer& result);
VEXFILT_API void vf_ForwardFFT(const vcPelBuffer_const<double>& image, vcFrequencyBuffer& result);
VEXFILT_API void vf_ForwardFFT(const vcPelBuffer_const<unsigned char>& real,
                               const vcPelBuffer_const<unsigned char>& imaginary, vcFrequencyBuffer& result);
VEXFILT_API void vf_ForwardFFT(const vcPelBuffer_const<unsigned short>& real,
                               const vcPelBuffer_const<unsigned short>& imaginary, vcFrequencyBuffer& result);
VEXFILT_API void vf_ForwardFFT(const vcPelBuffer_const<double>& real, const vcPelBuffer_const<double>& imaginary,
                               vcFrequencyBuffer& result);

// The spectrum of one image (real samples), for T = unsigned char,
// unsigned short, double.
template <class T>
VEXFILT_API void vfForwardFFT(const vcPelBuffer_const<T>& image, vcFrequencyBuffer& result) {
  vf_ForwardFFT(image, result);
}

// The spectrum of real + i * imaginary (equal sizes and offsets).
template <class T>
VEXFILT_API void vfForwardFFT(const vcPelBuffer_const<T>& real, const vcPelBuffer_const<T>& imaginary,
                              vcFrequencyBuffer& result) {
  vf_ForwardFFT(real, imaginary, result);
}

// The templates are instantiated in the library for the three pixel types.
extern template VEXFILT_API void vfForwardFFT<unsigned char>(const vcPelBuffer_const<unsigned char>&,
                                                             vcFrequencyBuffer&);
extern template VEXFILT_API void vfForwardFFT<unsigned short>(const vcPelBuffer_const<unsigned short>&,
                                                              vcFrequencyBuffer&);
extern template VEXFILT_API void vfForwardFFT<double>(const vcPelBuffer_const<double>&, vcFrequencyBuffer&);
extern template VEXFILT_API void vfForwardFFT<unsigned char>(const vcPelBuffer_const<unsigned char>&,
                                                             const vcPelBuffer_const<unsigned char>&,
                                                             vcFrequencyBuffer&);
extern template VEXFILT_API void vfForwardFFT<unsigned short>(const vcPelBuffer_const<unsigned short>&,
                                                              const vcPelBuffer_const<unsigned short>&,
                                                              vcFrequencyBuffer&);
extern template VEXFILT_API void vfForwardFFT<double>(const vcPelBuffer_const<double>&,
                                                      const vcPelBuffer_const<double>&, vcFrequencyBuffer&);

// The forward transform of a buffer's array (every row; the source's band
// and inverse flag are ignored). Throws Uninitialized "FrequencyBuffer has
// not been initialized" for an empty source.
VEXFILT_API void vfForwardFFT(const vcFrequencyBuffer& source, vcFrequencyBuffer& destination);

// ---------------------------------------------------------------------------
// Inverse transforms
//
// The inverse runs on a copy of the buffer, or with inPlace on the buffer's
// own array, which then holds the spatial result and is marked
// inverseComputed (set as soon as the array has been overwritten). A buffer so
// marked is accepted by every inverse again, which then re-reads the result
// without transforming. A masked buffer's band is handed to the engine,
// which skips the rows outside it (they must be zero).
//
// Image outputs are imageWidth x imageHeight (the top-left of the array;
// empty when the buffer's image size is 0 or less) with the buffer's offset
// and client transform: a forward transform followed by an inverse gives back
// the image and its offset. An unbound output image is assigned a new image;
// a bound one keeps its own size and offset and receives the pixels at the
// positions it shares with the result (vfPelCopy). It keeps its own
// transform too, except for the double pair, whose two images take the
// buffer's transform once every poll has passed.
//
// Pixels, with m = |element| and k = 1/(width*height) (k passed to the pixel
// loops as a float): 8/16-bit round(m*k) saturated at 255/65535, or with
// stretch round((m*k - low)*scale) over the image's own range (low and scale
// as floats), taking the low 8/16 bits; double m*k (stretch ignored). round()
// is to nearest, ties to even; a NaN gives 0.
//
// Throws Uninitialized "FrequencyBuffer has not been initialized" for an
// empty buffer before changing anything; otherwise only the attention poll's
// exception (unbound outputs may by then hold new images).
// ---------------------------------------------------------------------------

// The raw complex inverse (unscaled, the whole padded array) into `result`,
// which ends with inverseComputed false and masked 0; `result` may be
// `source`. The const form never works in place.
VEXFILT_API void vfInverseFFT(vcFrequencyBuffer& source, vcFrequencyBuffer& result, bool inPlace);
VEXFILT_API void vfInverseFFT(const vcFrequencyBuffer& source, vcFrequencyBuffer& result);

// Real and imaginary parts of the result times k, as double images (the
// whole complex result, e.g. the signed output of a symmetric filter); both
// images, bound or not, take the buffer's transform. The const form never
// works in place.
VEXFILT_API void vfInverseFFT(vcFrequencyBuffer& source, vcPelBuffer<double>& real, vcPelBuffer<double>& imaginary,
                              bool inPlace);
VEXFILT_API void vfInverseFFT(const vcFrequencyBuffer& source, vcPelBuffer<double>& real,
                              vcPelBuffer<double>& imaginary);

// The overloads behind the image templates: an angle image (by pointer, made
// when not null) or a quadrant image (always made) beside the magnitude.
VEXFILT_API void vf_InverseFFT(vcFrequencyBuffer& buffer, vcPelBuffer<unsigned char>& image,
                               vcPelBuffer<unsigned char>& quadrant, bool stretch, bool inPlace);
VEXFILT_API void vf_InverseFFT(vcFrequencyBuffer& buffer, vcPelBuffer<unsigned char>& image, vcPelBuffer<double>* angle,
                               bool stretch, bool inPlace);
VEXFILT_API void vf_InverseFFT(vcFrequencyBuffer& buffer, vcPelBuffer<unsigned short>& image,
                               vcPelBuffer<unsigned char>& quadrant, bool stretch, bool inPlace);
VEXFILT_API void vf_InverseFFT(vcFrequencyBuffer& buffer, vcPelBuffer<unsigned short>& image,
                               vcPelBuffer<double>* angle, bool stretch, bool inPlace);
VEXFILT_API void vf_InverseFFT(vcFrequencyBuffer& buffer, vcPelBuffer<double>& image,
                               vcPelBuffer<unsigned char>& quadrant, bool stretch, bool inPlace);
VEXFILT_API void vf_InverseFFT(vcFrequencyBuffer& buffer, vcPelBuffer<double>& image, vcPelBuffer<double>* angle,
                               bool stretch, bool inPlace);

// Side outputs over any buffer with data, reading the top-left imageWidth x
// imageHeight elements as they are: atan2(im, re) in [-pi, pi], and the
// quadrant code (1 if re < 0) + (2 if im < 0), a zero of either sign counting
// as not negative. Output images are handled as by the inverse transforms;
// throw Uninitialized for an empty buffer, and the attention poll's exception.
VEXFILT_API void vf_ComputeAngleImage(const vcFrequencyBuffer& buffer, vcPelBuffer<double>& angle);
VEXFILT_API void vf_ComputeQuadrantImage(const vcFrequencyBuffer& buffer, vcPelBuffer<unsigned char>& quadrant);

// The magnitude image of the inverse, for T = unsigned char, unsigned short,
// double; the const forms never mark the buffer.
template <class T>
VEXFILT_API void vfInverseFFT(vcFrequencyBuffer& buffer, vcPelBuffer<T>& image, bool stretch, bool inPlace) {
  vf_InverseFFT(buffer, image, static_cast<vcPelBuffer<double>*>(nullptr), stretch, inPlace);
}
template <class T>
VEXFILT_API void vfInverseFFT(const vcFrequencyBuffer& buffer, vcPelBuffer<T>& image, bool stretch) {
  vf_InverseFFT(const_cast<vcFrequencyBuffer&>(buffer), image, static_cast<vcPelBuffer<double>*>(nullptr), stretch,
                false);
}
// ... with the angle image beside it.
template <class T>
VEXFILT_API void vfInverseFFTAngle(vcFrequencyBuffer& buffer, vcPelBuffer<T>& image, vcPelBuffer<double>& angle,
                                   bool stretch, bool inPlace) {
  vf_InverseFFT(buffer, image, &angle, stretch, inPlace);
}
template <class T>
VEXFILT_API void vfInverseFFTAngle(const vcFrequencyBuffer& buffer, vcPelBuffer<T>& image, vcPelBuffer<double>& angle,
                                   bool stretch) {
  vf_InverseFFT(const_cast<vcFrequencyBuffer&>(buffer), image, &angle, stretch, false);
}
// ... with the quadrant image beside it.
template <class T>
VEXFILT_API void vfInverseFFTQuadrant(vcFrequencyBuffer& buffer, vcPelBuffer<T>& image,
                                      vcPelBuffer<unsigned char>& quadrant, bool stretch, bool inPlace) {
  vf_InverseFFT(buffer, image, quadrant, stretch, inPlace);
}
template <class T>
VEXFILT_API void vfInverseFFTQuadrant(const vcFrequencyBuffer& buffer, vcPelBuffer<T>& image,
                                      vcPelBuffer<unsigned char>& quadrant, bool stretch) {
  vf_InverseFFT(const_cast<vcFrequencyBuffer&>(buffer), image, quadrant, stretch, false);
}

// The inverse templates, instantiated in the library for the three pixel types.
#define VEXFILT_EXTERN_INVERSE(T)                                                                                  \
  extern template VEXFILT_API void vfInverseFFT<T>(vcFrequencyBuffer&, vcPelBuffer<T>&, bool, bool);               \
  extern template VEXFILT_API void vfInverseFFT<T>(const vcFrequencyBuffer&, vcPelBuffer<T>&, bool);               \
  extern template VEXFILT_API void vfInverseFFTAngle<T>(vcFrequencyBuffer&, vcPelBuffer<T>&, vcPelBuffer<double>&, \
                                                        bool, bool);                                               \
  extern template VEXFILT_API void vfInverseFFTAngle<T>(const vcFrequencyBuffer&, vcPelBuffer<T>&,                 \
                                                        vcPelBuffer<double>&, bool);                               \
  extern template VEXFILT_API void vfInverseFFTQuadrant<T>(vcFrequencyBuffer&, vcPelBuffer<T>&,                    \
                                                           vcPelBuffer<unsigned char>&, bool, bool);               \
  extern template VEXFILT_API void vfInverseFFTQuadrant<T>(const vcFrequencyBuffer&, vcPelBuffer<T>&,              \
                                                           vcPelBuffer<unsigned char>&, bool);
VEXFILT_EXTERN_INVERSE(unsigned char)
VEXFILT_EXTERN_INVERSE(unsigned short)
VEXFILT_EXTERN_INVERSE(double)
#undef VEXFILT_EXTERN_INVERSE

// The per-pixel loops of the inverse transforms, under plain names. Each
// walks *rows rows of `columns` elements: the source steps 2*width floats a
// row, the destination `pitch` bytes; *rows is 0 on return. The scratch word
// carries nothing. Names in one declaration share one body.
extern "C" {
// 8-bit round(m*k), saturated at 255.
VEXFILT_API void vf_InverseFFTInline4(const float* source, unsigned char* destination, unsigned short* scratch, float k,
                                      long width, long columns, long pitch, long* rows);
VEXFILT_API void vf_InverseFFTInline11(const float* source, unsigned char* destination, unsigned short* scratch,
                                       float k, long width, long columns, long pitch, long* rows);
// 8-bit round((m*k - low)*scale), low 8 bits.
VEXFILT_API void vf_InverseFFTInline2(const float* source, unsigned char* destination, unsigned short* scratch,
                                      float scale, float low, float k, long width, long columns, long pitch,
                                      long* rows);
VEXFILT_API void vf_InverseFFTInline9(const float* source, unsigned char* destination, unsigned short* scratch,
                                      float scale, float low, float k, long width, long columns, long pitch,
                                      long* rows);
// 16-bit round(m*k), saturated at 65535.
VEXFILT_API void vf_InverseFFTInline6(const float* source, unsigned short* destination, unsigned int* scratch, float k,
                                      long width, long columns, long pitch, long* rows);
VEXFILT_API void vf_InverseFFTInline13(const float* source, unsigned short* destination, unsigned int* scratch, float k,
                                       long width, long columns, long pitch, long* rows);
// 16-bit round((m*k - low)*scale), low 16 bits.
VEXFILT_API void vf_InverseFFTInline5(const float* source, unsigned short* destination, unsigned int* scratch,
                                      float scale, float low, float k, long width, long columns, long pitch,
                                      long* rows);
VEXFILT_API void vf_InverseFFTInline12(const float* source, unsigned short* destination, unsigned int* scratch,
                                       float scale, float low, float k, long width, long columns, long pitch,
                                       long* rows);
// Double m*k.
VEXFILT_API void vf_InverseFFTInline7(const float* source, double* destination, long columns, float k, long width,
                                      long pitch, long* rows);
// Double m*k and the quadrant code into an 8-bit image (its own pitch).
VEXFILT_API void vf_InverseFFTInline14(const float* source, double* destination, unsigned char* quadrant, float k,
                                       unsigned short* scratch, long width, long columns, long pitch,
                                       long quadrantPitch, long* rows);
}

// ---------------------------------------------------------------------------
// Display mapping
// ---------------------------------------------------------------------------

// Maps a double image to a new 8-bit image of its size (with its client
// transform) for display. lo/hi are the image's minimum and maximum
// (eMapLinear, eMapLog) or (a, b) (eMapRange); R = hi - lo when lo < 0,
// else hi; R <= 0 counts as 1. Per pixel p, trunc() toward zero:
//   eMapClip   : p clamped to 0..255, truncated
// With s = 255/R (rounded before use, so a maximum may map to 254):
//   eMapLinear : trunc((p - lo) * s) when lo < 0, else trunc(p * s)
//   eMapRange  : (p - a) * s clamped to 0..255, truncated
//   eMapLog    : ln(p - lo + 1) (lo < 0) or ln(p + 1), times 255/ln(max(R, 2)),
//                above 255 gives 255, truncated
//   eMapPhase  : the low 8 bits of trunc(p * 40.58451) (radians in [0, 2*pi)
//                to 0..254)
// Any other mapping value returns an image of the right size, all 0.
// NaN pixels take no part in the min/max scan and map to 0; a value that
// would leave 0..255 saturates, except in eMapPhase, which takes the low 8
// bits of the exact integer part of any finite value (infinities give 0).
// Throws UnboundWindow (no text) for an unbound input.
VEXFILT_API vcPelBuffer<unsigned char> vfFrequencyMapImage(const vcPelBuffer_const<double>& image,
                                                           vcFrequencyDefs::FrequencyMapping mapping, double a,
                                                           double b);

// ---------------------------------------------------------------------------
// Spectrum arithmetic
//
// Element by element over the whole padded array, in double, rounded once to
// float on each store. Two-operand forms update their second argument and
// change nothing else in it; three-operand forms first assign the first
// operand to the result (which then carries its sizes, offset, transform and
// band) and may alias either operand. Add and multiply into r == b instead
// work in place on b (a commutes), so b keeps its own fields there; subtract
// into b saves b, then assigns a. Sizes compared are the padded ones.
// All checks come before anything is written:
//   add, subtract (a, r):   Uninitialized, InvalidBuffer, InvalidSize
//   multiply (a, r):        Uninitialized, InvalidSize, InvalidBuffer
//   add, multiply (a, b, r): Uninitialized, InvalidBuffer, InvalidSize (a and b only)
//   subtract (a, b, r):     Uninitialized (a, then b), InvalidSize, InvalidBuffer
//   conjugate:              Uninitialized, InvalidBuffer
// with the messages "FrequencyBuffer has not been initialized", "Cannot access
// frequency data once inverse has been computed." and "Can only add (subtract,
// multiply) equal-sized frequency buffers.".
// ---------------------------------------------------------------------------

// r = r + a
VEXFILT_API void vfFrequencyAdd(const vcFrequencyBuffer& a, vcFrequencyBuffer& r);
// r = a + b
VEXFILT_API void vfFrequencyAdd(const vcFrequencyBuffer& a, const vcFrequencyBuffer& b, vcFrequencyBuffer& r);
// r = r - a
VEXFILT_API void vfFrequencySubtract(const vcFrequencyBuffer& a, vcFrequencyBuffer& r);
// r = a - b (also when r is b)
VEXFILT_API void vfFrequencySubtract(const vcFrequencyBuffer& a, const vcFrequencyBuffer& b, vcFrequencyBuffer& r);
// r = a * r (complex product)
VEXFILT_API void vfFrequencyMultiply(const vcFrequencyBuffer& a, vcFrequencyBuffer& r);
// r = a * b
VEXFILT_API void vfFrequencyMultiply(const vcFrequencyBuffer& a, const vcFrequencyBuffer& b, vcFrequencyBuffer& r);
// r = conj(r)
VEXFILT_API void vfFrequencyConjugate(vcFrequencyBuffer& r);
// r = conj(a)
VEXFILT_API void vfFrequencyConjugate(const vcFrequencyBuffer& a, vcFrequencyBuffer& r);
