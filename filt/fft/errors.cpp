// The library's error classes: numbers, copying, rethrowing, persistence.

#include "filt/fft.h"
#include "records/record_level.h"

// ---- the abstract base ----

vcFrequencyDefs::Errors::Errors(const char* message) : vcExceptionWithString(message) {}

vcFrequencyDefs::Errors::~Errors() = default;

void vcFrequencyDefs::Errors::dispatchSerialize(vcArchive& ar) {
  vf_RecordLevel(ar, this, sizeof(Errors), [&](unsigned char version) { serialize_(ar, version); });
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

namespace {

// The pattern of every concrete error class, written once.
template <class E>
[[noreturn]] void rethrowAs(E* e) {
  E copy(*e);
  delete e;
  throw copy;
}

void checkVersion(unsigned char version, const char* name) {
  if (version != 0) throw vcArchive::UnknownVersion(name, 0);
}

}  // namespace

vcFrequencyDefs::InvalidArgument::InvalidArgument(const char* message) : Errors(message) {}
vcFrequencyDefs::InvalidArgument::InvalidArgument(const InvalidArgument&) = default;
vcFrequencyDefs::InvalidArgument& vcFrequencyDefs::InvalidArgument::operator=(const InvalidArgument&) = default;
vcFrequencyDefs::InvalidArgument::~InvalidArgument() = default;
long vcFrequencyDefs::InvalidArgument::errorNumber() const {
  return 0x10006300;
}
void vcFrequencyDefs::InvalidArgument::suicideAndRethrow() {
  rethrowAs(this);
}
vcPersistent* vcFrequencyDefs::InvalidArgument::make() {
  return new InvalidArgument();
}
void vcFrequencyDefs::InvalidArgument::dispatchSerialize(vcArchive& ar) {
  vf_RecordLevel(ar, this, sizeof(InvalidArgument), [&](unsigned char version) { serialize_(ar, version); });
}
void vcFrequencyDefs::InvalidArgument::serialize_(vcArchive& ar, unsigned char version) {
  checkVersion(version, "vcFrequencyDefs::InvalidArgument");
  Errors::dispatchSerialize(ar);
}

vcFrequencyDefs::Uninitialized::Uninitialized(const char* message) : Errors(message) {}
vcFrequencyDefs::Uninitialized::Uninitialized(const Uninitialized&) = default;
vcFrequencyDefs::Uninitialized& vcFrequencyDefs::Uninitialized::operator=(const Uninitialized&) = default;
vcFrequencyDefs::Uninitialized::~Uninitialized() = default;
long vcFrequencyDefs::Uninitialized::errorNumber() const {
  return 0x10006301;
}
void vcFrequencyDefs::Uninitialized::suicideAndRethrow() {
  rethrowAs(this);
}
vcPersistent* vcFrequencyDefs::Uninitialized::make() {
  return new Uninitialized();
}
void vcFrequencyDefs::Uninitialized::dispatchSerialize(vcArchive& ar) {
  vf_RecordLevel(ar, this, sizeof(Uninitialized), [&](unsigned char version) { serialize_(ar, version); });
}
void vcFrequencyDefs::Uninitialized::serialize_(vcArchive& ar, unsigned char version) {
  checkVersion(version, "vcFrequencyDefs::Uninitialized");
  Errors::dispatchSerialize(ar);
}

vcFrequencyDefs::InvalidSize::InvalidSize(const char* message) : Errors(message) {}
vcFrequencyDefs::InvalidSize::InvalidSize(const InvalidSize&) = default;
vcFrequencyDefs::InvalidSize& vcFrequencyDefs::InvalidSize::operator=(const InvalidSize&) = default;
vcFrequencyDefs::InvalidSize::~InvalidSize() = default;
long vcFrequencyDefs::InvalidSize::errorNumber() const {
  return 0x10006302;
}
void vcFrequencyDefs::InvalidSize::suicideAndRethrow() {
  rethrowAs(this);
}
vcPersistent* vcFrequencyDefs::InvalidSize::make() {
  return new InvalidSize();
}
void vcFrequencyDefs::InvalidSize::dispatchSerialize(vcArchive& ar) {
  vf_RecordLevel(ar, this, sizeof(InvalidSize), [&](unsigned char version) { serialize_(ar, version); });
}
void vcFrequencyDefs::InvalidSize::serialize_(vcArchive& ar, unsigned char version) {
  checkVersion(version, "vcFrequencyDefs::InvalidSize");
  Errors::dispatchSerialize(ar);
}

vcFrequencyDefs::UnboundWindow::UnboundWindow(const char* message) : Errors(message) {}
vcFrequencyDefs::UnboundWindow::UnboundWindow(const UnboundWindow&) = default;
vcFrequencyDefs::UnboundWindow& vcFrequencyDefs::UnboundWindow::operator=(const UnboundWindow&) = default;
vcFrequencyDefs::UnboundWindow::~UnboundWindow() = default;
long vcFrequencyDefs::UnboundWindow::errorNumber() const {
  return 0x10006303;
}
void vcFrequencyDefs::UnboundWindow::suicideAndRethrow() {
  rethrowAs(this);
}
vcPersistent* vcFrequencyDefs::UnboundWindow::make() {
  return new UnboundWindow();
}
void vcFrequencyDefs::UnboundWindow::dispatchSerialize(vcArchive& ar) {
  vf_RecordLevel(ar, this, sizeof(UnboundWindow), [&](unsigned char version) { serialize_(ar, version); });
}
void vcFrequencyDefs::UnboundWindow::serialize_(vcArchive& ar, unsigned char version) {
  checkVersion(version, "vcFrequencyDefs::UnboundWindow");
  Errors::dispatchSerialize(ar);
}

vcFrequencyDefs::InvalidBuffer::InvalidBuffer(const char* message) : Errors(message) {}
vcFrequencyDefs::InvalidBuffer::InvalidBuffer(const InvalidBuffer&) = default;
vcFrequencyDefs::InvalidBuffer& vcFrequencyDefs::InvalidBuffer::operator=(const InvalidBuffer&) = default;
vcFrequencyDefs::InvalidBuffer::~InvalidBuffer() = default;
long vcFrequencyDefs::InvalidBuffer::errorNumber() const {
  return 0x10006304;
}
void vcFrequencyDefs::InvalidBuffer::suicideAndRethrow() {
  rethrowAs(this);
}
vcPersistent* vcFrequencyDefs::InvalidBuffer::make() {
  return new InvalidBuffer();
}
void vcFrequencyDefs::InvalidBuffer::dispatchSerialize(vcArchive& ar) {
  vf_RecordLevel(ar, this, sizeof(InvalidBuffer), [&](unsigned char version) { serialize_(ar, version); });
}
void vcFrequencyDefs::InvalidBuffer::serialize_(vcArchive& ar, unsigned char version) {
  checkVersion(version, "vcFrequencyDefs::InvalidBuffer");
  Errors::dispatchSerialize(ar);
}

vcFrequencyDefs::BadCoord::BadCoord(const char* message) : Errors(message) {}
vcFrequencyDefs::BadCoord::BadCoord(const BadCoord&) = default;
vcFrequencyDefs::BadCoord& vcFrequencyDefs::BadCoord::operator=(const BadCoord&) = default;
vcFrequencyDefs::BadCoord::~BadCoord() = default;
long vcFrequencyDefs::BadCoord::errorNumber() const {
  return 0x10006305;
}
void vcFrequencyDefs::BadCoord::suicideAndRethrow() {
  rethrowAs(this);
}
vcPersistent* vcFrequencyDefs::BadCoord::make() {
  return new BadCoord();
}
void vcFrequencyDefs::BadCoord::dispatchSerialize(vcArchive& ar) {
  vf_RecordLevel(ar, this, sizeof(BadCoord), [&](unsigned char version) { serialize_(ar, version); });
}
void vcFrequencyDefs::BadCoord::serialize_(vcArchive& ar, unsigned char version) {
  checkVersion(version, "vcFrequencyDefs::BadCoord");
  Errors::dispatchSerialize(ar);
}
