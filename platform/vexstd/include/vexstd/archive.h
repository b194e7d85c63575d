// Binary archives. One routine both stores and loads an object: every item
// goes through operator||, and the archive's direction decides.
//
// Encoding: no stream header (a record's first byte is its first item), little
// endian, fixed widths: unsigned char and bool 1 byte, float 4, long,
// unsigned long and double 8, floating values as IEEE 754 bit patterns. The
// bytes are the same on every machine.
//
// Loading never reads past the data and never trusts a count: loaders ask
// canRead()/requireReadable() before they allocate for what a record claims.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "vexstd/exception.h"
#include "vexstd/export.h"
#include "vexstd/persistent.h"

// An archive belongs to the thread that makes it: use and destroy it there
// (its visit marks are found through that thread's list of live archives).
class VEXSTD_API vcArchive {
 public:
  // Base of every archive failure.
  class Errors;
  // A version byte the loader does not know.
  class UnknownVersion;
  // The data ended inside a record.
  class EndOfData;
  // A record that cannot be right: a bad count, size, flag or tag.
  class BadData;
  // A class name that is not registered.
  class UnknownClass;
  // The file could not be opened, read or written.
  class IOError;

  virtual ~vcArchive();
  vcArchive(const vcArchive&) = delete;
  vcArchive& operator=(const vcArchive&) = delete;

  bool isStoring() const { return storing_; }
  bool isLoading() const { return !storing_; }

  vcArchive& operator||(long& v);
  vcArchive& operator||(unsigned long& v);
  vcArchive& operator||(float& v);
  vcArchive& operator||(double& v);
  // Stored as one byte, 0 or 1; any other byte fails to load (BadData).
  vcArchive& operator||(bool& v);
  // An unsigned long length, then the bytes.
  vcArchive& operator||(std::string& v);

  // Raw unsigned chars; the free operator|| for unsigned char uses this.
  void exchangeByte(unsigned char& v);
  // `count` floats in one call (same bytes as count single items).
  void exchangeFloats(float* values, std::size_t count);

  // True when storing, or when `count` items of `itemSize` bytes can still be
  // read. Loaders call this before allocating for a count read from the data.
  bool canRead(std::uint64_t count, std::size_t itemSize) const;
  // Throws EndOfData unless canRead(count, itemSize).
  void requireReadable(std::uint64_t count, std::size_t itemSize) const;

  // Polymorphic objects. storeObject writes the object's registered class
  // name, then the object; loadObject makes an object of the recorded class
  // with its registered factory and loads it. Each such record is complete in
  // itself: the object is written with visit marks of its own, so storing an
  // object twice writes it twice (objects may die and others take their
  // address within one archive), and each record loads into its own owner.
  // Throws UnknownClass for a class that is not registered.
  void storeObject(vcPersistent& object);
  std::unique_ptr<vcPersistent> loadObject();

 protected:
  explicit vcArchive(bool storing);

  virtual void write(const void* bytes, std::size_t n) = 0;
  // Reads exactly n bytes or throws EndOfData (reading nothing on failure).
  virtual void read(void* bytes, std::size_t n) = 0;
  // Bytes left to read (0 when storing).
  virtual std::uint64_t remaining() const = 0;

 private:
  template <class T>
  void exchangeScalar(T& v);

  bool storing_;
  // Runs `step` with visit marks of its own, then restores the pass's marks.
  template <class Step>
  void withOwnMarks(Step step);

  std::set<std::pair<const void*, unsigned>> visited_;

  friend class vcPersistent;
};

VEXSTD_API vcArchive& operator||(vcArchive& ar, unsigned char& v);

class VEXSTD_API vcArchive::Errors : public vcExceptionWithString {
 public:
  Errors(const Errors&) = default;
  Errors& operator=(const Errors&) = default;
  ~Errors() override;

 protected:
  explicit Errors(const char* text = nullptr) : vcExceptionWithString(text) {}
};

// Built from a text (a class name or a source path, or null) and a number (a
// source line, or 0). text() answers the text as given; the message (what())
// names both.
class VEXSTD_API vcArchive::UnknownVersion
    : public vcExceptionImpl<vcArchive::UnknownVersion, vcArchive::Errors, 0x10000010> {
 public:
  UnknownVersion(const char* text, int number);
  int number() const { return number_; }
  const char* what() const noexcept override { return what_.c_str(); }

 protected:
  void message_(std::ostream& out) const override;

 private:
  int number_;
  std::string what_;
};

class VEXSTD_API vcArchive::EndOfData : public vcExceptionImpl<vcArchive::EndOfData, vcArchive::Errors, 0x10000011> {
 public:
  explicit EndOfData(const char* text = "Archive data ended inside a record") : vcExceptionImpl(text) {}
};

class VEXSTD_API vcArchive::BadData : public vcExceptionImpl<vcArchive::BadData, vcArchive::Errors, 0x10000012> {
 public:
  explicit BadData(const char* text = "Malformed archive record") : vcExceptionImpl(text) {}
};

class VEXSTD_API vcArchive::UnknownClass
    : public vcExceptionImpl<vcArchive::UnknownClass, vcArchive::Errors, 0x10000013> {
 public:
  explicit UnknownClass(const char* text = "Archive names a class that is not registered") : vcExceptionImpl(text) {}
};

class VEXSTD_API vcArchive::IOError : public vcExceptionImpl<vcArchive::IOError, vcArchive::Errors, 0x10000014> {
 public:
  explicit IOError(const char* text = "Archive file input/output failed") : vcExceptionImpl(text) {}
};

// An archive in memory: vcMemoryArchive() stores, vcMemoryArchive(bytes)
// loads from the given bytes.
class VEXSTD_API vcMemoryArchive : public vcArchive {
 public:
  vcMemoryArchive();
  explicit vcMemoryArchive(std::vector<unsigned char> bytes);
  ~vcMemoryArchive() override;

  const std::vector<unsigned char>& bytes() const { return bytes_; }
  // Bytes read so far (loading).
  std::size_t position() const { return pos_; }

 protected:
  void write(const void* bytes, std::size_t n) override;
  void read(void* bytes, std::size_t n) override;
  std::uint64_t remaining() const override;

 private:
  std::vector<unsigned char> bytes_;
  std::size_t pos_ = 0;
};

// An archive in a file. Storing creates (or truncates) the file; close()
// flushes it and reports a failure, the destructor closes silently.
class VEXSTD_API vcFileArchive : public vcArchive {
 public:
  enum class Mode { store, load };

  // Throws vcArchive::IOError when the file cannot be opened.
  vcFileArchive(const std::string& path, Mode mode);
  ~vcFileArchive() override;

  // Flushes and closes; throws vcArchive::IOError when that fails. Further
  // items throw IOError.
  void close();
  const std::string& path() const { return path_; }

 protected:
  void write(const void* bytes, std::size_t n) override;
  void read(void* bytes, std::size_t n) override;
  std::uint64_t remaining() const override;

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  std::uint64_t size_ = 0;
  std::uint64_t pos_ = 0;
};
