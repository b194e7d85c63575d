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
#include "vexstd/vexstd.h"

// Scope of the library's error classes and of the display mappings.
class VEXFILT_API vcFrequencyDefs {
 public:
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
  class VEXFILT_API Errors : public vcExceptionWithString {
   public:
    Errors(const Errors&) = default;
    Errors& operator=(const Errors&) = default;
    ~Errors() override;

   protected:
    Errors(const char* message = nullptr);
    void dispatchSerialize(vcArchive& ar) override;
    void serialize_(vcArchive& ar, unsigned char version);
  };

// Each concrete error: built from a literal message or none; errorNumber()
// answers its constant; suicideAndRethrow() deletes the (heap) object and
// throws a copy of it as its own class.
#define VEXFILT_DECLARE_ERROR(Name)                                \
  class VEXFILT_API Name : public Errors {                         \
   public:                                                         \
    Name(const char* message = nullptr);                                 \
    Name(const Name&);                                             \
    Name& operator=(const Name&);                                  \
    ~Name() override;                                              \
    long errorNumber() const override;                             \
    [[noreturn]] void suicideAndRethrow() override;                \
                                                                   \
   protected:                                                      \
    void dispatchSerialize(vcArchive& ar) override;                \
    void serialize_(vcArchive& ar, unsigned char version);         \
                                                                   \
   private:                                                        \
    static vcPersistent* make();                                   \
    static vc_Instantiator sExemplar;                              \
  };

  // 0x10006300: a filter parameter out of its range.
  VEXFILT_DECLARE_ERROR(InvalidArgument)
  // 0x10006301: a buffer or filter used before it holds data.
  VEXFILT_DECLARE_ERROR(Uninitialized)
  // 0x10006302: a size that is unsupported, too large, or does not match.
  VEXFILT_DECLARE_ERROR(InvalidSize)
  // 0x10006303: an input image that is not bound to pixel memory (no text).
  VEXFILT_DECLARE_ERROR(UnboundWindow)
  // 0x10006304: spectrum access to a buffer holding an in-place inverse.
  VEXFILT_DECLARE_ERROR(InvalidBuffer)
  // 0x10006305: a coordinate outside the buffer.
  VEXFILT_DECLARE_ERROR(BadCoord)

#undef VEXFILT_DECLARE_ERROR
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
  ~vcFrequencyBuffer();

  // Copies sizes, transform, offset, flags, band and array; assigning an
  // empty buffer empties this one (its other fields are kept).
  vcFrequencyBuffer& operator=(const vcFrequencyBuffer& source);
  vcFrequencyBuffer& operator=(vcFrequencyBuffer&& other) noexcept;
  // Exact comparison of sizes, image sizes, flags, band (only while masked),
  // offset and every float (a NaN equals nothing). The transform takes no
  // part. Two empty buffers are equal.
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
