#include "vexstd/exception.h"

#include <ostream>
#include <sstream>

#include "vexstd/archive.h"
#include "vexsys/attention.h"

vcException::~vcException() = default;

std::string vcException::message() const {
  std::ostringstream out;
  message_(out);
  return out.str();
}

const char* vcException::what() const noexcept {
  return "vcException";
}

void vcException::message_(std::ostream&) const {}

void vcException::dispatchSerialize(vcArchive& ar) {
  if (haveVisited(this, sizeof(vcException))) return;
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw vcArchive::UnknownVersion("vcException", 0);
  vcPersistent::dispatchSerialize(ar);

  // The message travels with the exception when it has one of its own.
  auto* withString = dynamic_cast<vcExceptionWithString*>(this);
  bool hasText = withString != nullptr && withString->hasText_;
  std::string text = hasText ? withString->text_ : std::string();
  ar || hasText;
  if (hasText) ar || text;
  if (ar.isLoading() && withString != nullptr) {
    withString->text_ = std::move(text);
    withString->hasText_ = hasText;
  }
  setVisited(this, sizeof(vcException));
}

vcExceptionWithString::vcExceptionWithString(const char* text)
    : text_(text != nullptr ? text : ""), hasText_(text != nullptr) {}

vcExceptionWithString::~vcExceptionWithString() = default;

void vcExceptionWithString::message_(std::ostream& out) const {
  out << text_;
}

void vfThrowExceptionOnFailure(long status) {
  if (status == VSYS_OK) return;
  if (status == VSYS_TIMED_OUT) throw vcTimedOut();
  throw vcAbortRequested();
}
