#include "vexstd/archive.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>

static_assert(sizeof(long) == 8 && sizeof(unsigned long) == 8, "the archive encodes long as 8 bytes");
static_assert(std::numeric_limits<float>::is_iec559 && std::numeric_limits<double>::is_iec559);

namespace {

// The archives alive on this thread, innermost last: the visit marks of
// vcPersistent refer to the innermost one.
thread_local std::vector<vcArchive*> tLiveArchives;

// Longest class name an archive may record.
constexpr std::uint64_t kMaxClassName = 1024;

// Tag of an object record (room for other kinds of record later).
constexpr unsigned char kObjectRecord = 1;

template <class U>
void encodeLE(U v, unsigned char* out) {
  for (std::size_t i = 0; i < sizeof(U); ++i) out[i] = static_cast<unsigned char>(v >> (8 * i));
}

template <class U>
U decodeLE(const unsigned char* in) {
  U v = 0;
  for (std::size_t i = 0; i < sizeof(U); ++i) v |= static_cast<U>(in[i]) << (8 * i);
  return v;
}

template <class T>
struct Bits;
template <>
struct Bits<long> {
  using type = std::uint64_t;
};
template <>
struct Bits<unsigned long> {
  using type = std::uint64_t;
};
template <>
struct Bits<double> {
  using type = std::uint64_t;
};
template <>
struct Bits<float> {
  using type = std::uint32_t;
};

}  // namespace

vcArchive::vcArchive(bool storing) : storing_(storing) {
  tLiveArchives.push_back(this);
}

vcArchive::~vcArchive() {
  auto it = std::find(tLiveArchives.rbegin(), tLiveArchives.rend(), this);
  if (it != tLiveArchives.rend()) tLiveArchives.erase(std::next(it).base());
}

template <class T>
void vcArchive::exchangeScalar(T& v) {
  using U = typename Bits<T>::type;
  unsigned char b[sizeof(U)];
  if (storing_) {
    encodeLE(std::bit_cast<U>(v), b);
    write(b, sizeof b);
  } else {
    read(b, sizeof b);
    v = std::bit_cast<T>(decodeLE<U>(b));
  }
}

vcArchive& vcArchive::operator||(long& v) {
  exchangeScalar(v);
  return *this;
}
vcArchive& vcArchive::operator||(unsigned long& v) {
  exchangeScalar(v);
  return *this;
}
vcArchive& vcArchive::operator||(float& v) {
  exchangeScalar(v);
  return *this;
}
vcArchive& vcArchive::operator||(double& v) {
  exchangeScalar(v);
  return *this;
}

vcArchive& vcArchive::operator||(bool& v) {
  unsigned char b = v ? 1 : 0;
  exchangeByte(b);
  if (!storing_) {
    if (b > 1) throw BadData("Archive holds a bool that is neither 0 nor 1");
    v = b != 0;
  }
  return *this;
}

vcArchive& vcArchive::operator||(std::string& v) {
  unsigned long n = v.size();
  *this || n;
  if (storing_) {
    write(v.data(), v.size());
  } else {
    requireReadable(n, 1);
    std::string s(n, '\0');
    read(s.data(), n);
    v = std::move(s);
  }
  return *this;
}

void vcArchive::exchangeByte(unsigned char& v) {
  if (storing_)
    write(&v, 1);
  else
    read(&v, 1);
}

void vcArchive::exchangeFloats(float* values, std::size_t count) {
  // Records are little-endian: on such a host the floats are their own
  // encoding and move in one copy.
  if constexpr (std::endian::native == std::endian::little) {
    if (storing_) {
      write(reinterpret_cast<const unsigned char*>(values), count * sizeof(float));
    } else {
      read(reinterpret_cast<unsigned char*>(values), count * sizeof(float));
    }
    return;
  }
  constexpr std::size_t kChunk = 1024;
  unsigned char b[kChunk * 4];
  while (count > 0) {
    const std::size_t n = std::min(count, kChunk);
    if (storing_) {
      for (std::size_t i = 0; i < n; ++i) encodeLE(std::bit_cast<std::uint32_t>(values[i]), b + 4 * i);
      write(b, 4 * n);
    } else {
      read(b, 4 * n);
      for (std::size_t i = 0; i < n; ++i) values[i] = std::bit_cast<float>(decodeLE<std::uint32_t>(b + 4 * i));
    }
    values += n;
    count -= n;
  }
}

bool vcArchive::canRead(std::uint64_t count, std::size_t itemSize) const {
  if (storing_) return true;
  if (itemSize == 0) return true;
  return count <= remaining() / itemSize;
}

void vcArchive::requireReadable(std::uint64_t count, std::size_t itemSize) const {
  if (!canRead(count, itemSize)) throw EndOfData("Archive record claims more data than the archive holds");
}

template <class Step>
void vcArchive::withOwnMarks(Step step) {
  std::set<std::pair<const void*, unsigned>> pass = std::move(visited_);
  visited_.clear();
  try {
    step();
  } catch (...) {
    visited_ = std::move(pass);
    throw;
  }
  visited_ = std::move(pass);
}

void vcArchive::storeObject(vcPersistent& object) {
  if (!storing_) throw BadData("storeObject on an archive that is loading");
  const std::type_info& type = typeid(object);
  if (!vc_Instantiator::isRegistered(type))
    throw UnknownClass(("Cannot store an object of an unregistered class: " + vc_Instantiator::nameOf(type)).c_str());
  unsigned char tag = kObjectRecord;
  exchangeByte(tag);
  std::string name = vc_Instantiator::nameOf(type);
  *this || name;
  withOwnMarks([&] { object.dispatchSerialize(*this); });
}

std::unique_ptr<vcPersistent> vcArchive::loadObject() {
  if (storing_) throw BadData("loadObject on an archive that is storing");
  unsigned char tag = 0;
  exchangeByte(tag);
  if (tag != kObjectRecord) throw BadData("Archive holds no object record here");
  unsigned long n = 0;
  *this || n;
  if (n > kMaxClassName) throw BadData("Archive holds an over-long class name");
  requireReadable(n, 1);
  std::string name(n, '\0');
  read(name.data(), n);
  std::unique_ptr<vcPersistent> object(vc_Instantiator::make(name));
  if (!object) throw UnknownClass(("Archive names a class that is not registered: " + name).c_str());
  withOwnMarks([&] {
    object->reInit();
    object->loadSimple(*this);
  });
  return object;
}

vcArchive::Errors::~Errors() = default;

vcArchive::UnknownVersion::UnknownVersion(const char* text, int number) : vcExceptionImpl(text), number_(number) {
  what_ = "Unknown archive version";
  if (text != nullptr) what_ += std::string(" in ") + text;
  if (number != 0) what_ += " (line " + std::to_string(number) + ")";
}

void vcArchive::UnknownVersion::message_(std::ostream& out) const {
  out << what_;
}

// ---- memory archive ----

vcMemoryArchive::vcMemoryArchive() : vcArchive(true) {}

vcMemoryArchive::vcMemoryArchive(std::vector<unsigned char> bytes) : vcArchive(false), bytes_(std::move(bytes)) {}

vcMemoryArchive::~vcMemoryArchive() = default;

void vcMemoryArchive::write(const void* bytes, std::size_t n) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  bytes_.insert(bytes_.end(), p, p + n);
}

void vcMemoryArchive::read(void* bytes, std::size_t n) {
  if (n > bytes_.size() - pos_) throw EndOfData();
  if (n != 0) std::memcpy(bytes, bytes_.data() + pos_, n);
  pos_ += n;
}

std::uint64_t vcMemoryArchive::remaining() const {
  return isStoring() ? 0 : bytes_.size() - pos_;
}

// ---- file archive ----

vcFileArchive::vcFileArchive(const std::string& path, Mode mode) : vcArchive(mode == Mode::store), path_(path) {
  file_ = std::fopen(path.c_str(), mode == Mode::store ? "wb" : "rb");
  if (file_ == nullptr) throw IOError(("Cannot open archive file " + path + ": " + std::strerror(errno)).c_str());
  if (mode == Mode::load) {
    // The size bounds every count a record may claim.
    if (std::fseek(file_, 0, SEEK_END) != 0 || std::ftell(file_) < 0) {
      std::fclose(file_);
      throw IOError(("Cannot determine the size of archive file " + path).c_str());
    }
    size_ = static_cast<std::uint64_t>(std::ftell(file_));
    std::rewind(file_);
  }
}

vcFileArchive::~vcFileArchive() {
  if (file_ != nullptr) std::fclose(file_);
}

void vcFileArchive::close() {
  if (file_ == nullptr) return;
  const bool flushed = std::fflush(file_) == 0;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!flushed || !closed) throw IOError(("Cannot write archive file " + path_).c_str());
}

void vcFileArchive::write(const void* bytes, std::size_t n) {
  if (file_ == nullptr) throw IOError(("Archive file is closed: " + path_).c_str());
  if (std::fwrite(bytes, 1, n, file_) != n) throw IOError(("Cannot write archive file " + path_).c_str());
}

void vcFileArchive::read(void* bytes, std::size_t n) {
  if (file_ == nullptr) throw IOError(("Archive file is closed: " + path_).c_str());
  if (n > size_ - pos_) throw EndOfData();
  if (std::fread(bytes, 1, n, file_) != n) throw IOError(("Cannot read archive file " + path_).c_str());
  pos_ += n;
}

std::uint64_t vcFileArchive::remaining() const {
  return isStoring() ? 0 : size_ - pos_;
}

vcArchive& operator||(vcArchive& ar, unsigned char& v) {
  ar.exchangeByte(v);
  return ar;
}

// ---- visit marks (vcPersistent's statics live here, beside the archives) ----

bool vcPersistent::haveVisited(const void* object, unsigned size) {
  if (tLiveArchives.empty()) return false;
  return tLiveArchives.back()->visited_.count(std::make_pair(object, size)) != 0;
}

void vcPersistent::setVisited(const void* object, unsigned size) {
  if (tLiveArchives.empty()) return;
  tLiveArchives.back()->visited_.insert(std::make_pair(object, size));
}
