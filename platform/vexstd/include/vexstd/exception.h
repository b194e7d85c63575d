// Exception bases of the platform. Every exception is a persistent object
// with a numeric error code; it can destroy itself and rethrow a copy of its
// concrete class from a base reference (suicideAndRethrow).
#pragma once

#include <exception>
#include <iosfwd>
#include <string>

#include "vexstd/export.h"
#include "vexstd/persistent.h"

class VEXSTD_API vcException : public vcPersistent, public std::exception {
 public:
  ~vcException() override;

  virtual long errorNumber() const = 0;
  // Copies the concrete object, deletes `this` (which must live on the heap)
  // and throws the copy. Never returns.
  virtual void suicideAndRethrow() = 0;

  // What message_ writes; "" when there is no text.
  std::string message() const;
  const char* what() const noexcept override;

 protected:
  vcException() = default;
  vcException(const vcException&) = default;
  vcException& operator=(const vcException&) = default;

  // The exception's archive part: version byte 0, the platform part of
  // vcPersistent, then the message (a presence flag and the text).
  void dispatchSerialize(vcArchive& ar) override;
  // Writes the message text; nothing by default.
  virtual void message_(std::ostream& out) const;
};

// An exception that carries a message text, or none.
class VEXSTD_API vcExceptionWithString : public vcException {
 public:
  vcExceptionWithString(const vcExceptionWithString&) = default;
  vcExceptionWithString& operator=(const vcExceptionWithString&) = default;
  ~vcExceptionWithString() override;

  // The text, or null when the exception was built without one.
  const char* text() const noexcept { return hasText_ ? text_.c_str() : nullptr; }
  const char* what() const noexcept override { return text_.c_str(); }

 protected:
  explicit vcExceptionWithString(const char* text = nullptr);
  void message_(std::ostream& out) const override;

 private:
  std::string text_;
  bool hasText_ = false;

  friend class vcException;  // restores the text when loading
};

// Gives a concrete exception class its error number and suicideAndRethrow.
template <class Derived, class Base, long Number>
class vcExceptionImpl : public Base {
 public:
  using Base::Base;
  long errorNumber() const override { return Number; }
  void suicideAndRethrow() override {
    Derived copy(static_cast<const Derived&>(*this));
    delete this;
    throw copy;
  }
};

// Misuse of a platform class (an unbound image, a window outside its parent,
// a singular transform, ...). The message says what.
class VEXSTD_API vcPlatformError : public vcExceptionImpl<vcPlatformError, vcExceptionWithString, 0x10000001> {
 public:
  explicit vcPlatformError(const char* text = nullptr) : vcExceptionImpl(text) {}
};

// Raised by the attention poll (vfThrowExceptionOnFailure).
class VEXSTD_API vcAbortRequested : public vcExceptionImpl<vcAbortRequested, vcExceptionWithString, 0x10000002> {
 public:
  explicit vcAbortRequested(const char* text = "Operation aborted") : vcExceptionImpl(text) {}
};

class VEXSTD_API vcTimedOut : public vcExceptionImpl<vcTimedOut, vcExceptionWithString, 0x10000003> {
 public:
  explicit vcTimedOut(const char* text = "Operation timed out") : vcExceptionImpl(text) {}
};

// Turns a status of vsys_attention_check() into an exception: returns for 0,
// throws vcTimedOut for a time-out and vcAbortRequested for anything else.
VEXSTD_API void vfThrowExceptionOnFailure(long status);
