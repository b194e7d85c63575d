// The library's error classes: numbers, copying, rethrowing, persistence.

#include "filt/fft.h"

// ---- the abstract base ----

vcFrequencyDefs::Errors::Errors(const char* message) : vcExceptionWithString(message) {}

vcFrequencyDefs::Errors::~Errors() = default;

void vcFrequencyDefs::Errors::dispatchSerialize(vcArchive& ar) {
  if (vcPersistent::haveVisited(this, sizeof(Errors))) return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  vcPersistent::setVisited(this, sizeof(Errors));
}

void vcFrequencyDefs::Errors::serialize_(vcArchive& ar, unsigned char version) {
  if (version != 0) throw vcArchive::UnknownVersion("vcFrequencyDefs::Errors", 0);
  vcException::dispatchSerialize(ar);
}

// ---- the six concrete classes ----
//
// They differ only in name and number; one definition serves all six. Each
// level of the archive record checks its own version byte, so a bad byte of
// the concrete class is reported with its qualified name.

#define VEXFILT_DEFINE_ERROR(Name, Number)                                              \
  vcFrequencyDefs::Name::Name(const char* message) : Errors(message) {}                 \
  vcFrequencyDefs::Name::Name(const Name& other) = default;                             \
  vcFrequencyDefs::Name& vcFrequencyDefs::Name::operator=(const Name& other) = default; \
  vcFrequencyDefs::Name::~Name() = default;                                             \
  long vcFrequencyDefs::Name::errorNumber() const {                                     \
    return Number;                                                                      \
  }                                                                                     \
  void vcFrequencyDefs::Name::suicideAndRethrow() {                                     \
    Name copy(*this);                                                                   \
    delete this;                                                                        \
    throw copy;                                                                         \
  }                                                                                     \
  vcPersistent* vcFrequencyDefs::Name::make() {                                         \
    return new Name();                                                                  \
  }                                                                                     \
  void vcFrequencyDefs::Name::dispatchSerialize(vcArchive& ar) {                        \
    if (vcPersistent::haveVisited(this, sizeof(Name))) return;                          \
    unsigned char version = 0;                                                          \
    ar || version;                                                                      \
    serialize_(ar, version);                                                            \
    vcPersistent::setVisited(this, sizeof(Name));                                       \
  }                                                                                     \
  void vcFrequencyDefs::Name::serialize_(vcArchive& ar, unsigned char version) {        \
    if (version != 0) throw vcArchive::UnknownVersion("vcFrequencyDefs::" #Name, 0);    \
    Errors::dispatchSerialize(ar);                                                      \
  }

VEXFILT_DEFINE_ERROR(InvalidArgument, 0x10006300)
VEXFILT_DEFINE_ERROR(Uninitialized, 0x10006301)
VEXFILT_DEFINE_ERROR(InvalidSize, 0x10006302)
VEXFILT_DEFINE_ERROR(UnboundWindow, 0x10006303)
VEXFILT_DEFINE_ERROR(InvalidBuffer, 0x10006304)
VEXFILT_DEFINE_ERROR(BadCoord, 0x10006305)

#undef VEXFILT_DEFINE_ERROR
