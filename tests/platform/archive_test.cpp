// Archives: the byte encoding, memory and file round trips, refusal of bad or
// truncated data, visit marks, polymorphic objects and change tracking.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

#include "vexstd/archive.h"

namespace platform_test {

// A small persistent class the way hosts write them.
class Sample : public vcPersistent {
 public:
  long count = 0;
  std::string label;

  void setCount(long c) {
    mutating();
    count = c;
  }

 protected:
  void dispatchSerialize(vcArchive& ar) override {
    if (haveVisited(this, sizeof(Sample))) return;
    unsigned char version = 3;
    ar || version;
    if (version != 3) throw vcArchive::UnknownVersion("Sample", version);
    vcPersistent::dispatchSerialize(ar);
    ar || count || label;
    setVisited(this, sizeof(Sample));
  }

 private:
  static vcPersistent* make() { return new Sample; }
  static vc_Instantiator sExemplar;
};

class Unregistered : public vcPersistent {};

// Defined in this order: the registry must list Sample first. The platform's
// own exception is registered too, to carry message texts through polymorphic
// loading the way the library's error classes do.
vc_Instantiator Sample::sExemplar(typeid(Sample), &Sample::make);
vc_Instantiator gPlatformError(typeid(vcPlatformError), []() -> vcPersistent* { return new vcPlatformError(); });

}  // namespace platform_test

namespace {

using platform_test::Sample;
using platform_test::Unregistered;

struct Record {
  long l = -2;
  unsigned long ul = 0x0102030405060708UL;
  float f = 1.0f;
  double negZero = -0.0;
  double nan = std::bit_cast<double>(0x7FF8000000000123ULL);
  float nanf = std::bit_cast<float>(0x7FC00123U);
  bool t = true, fa = false;
  unsigned char c = 0xAB;
  std::string s = "hi";
  double one = 1.0;
};

void exchange(vcArchive& ar, Record& r) {
  ar || r.l || r.ul || r.f || r.negZero || r.nan || r.nanf || r.t || r.fa || r.c || r.s || r.one;
}

const std::vector<unsigned char> kRecordBytes = {
    0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,            // long -2
    0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,            // unsigned long
    0x00, 0x00, 0x80, 0x3F,                                    // float 1
    0,    0,    0,    0,    0,    0,    0,    0x80,            // double -0
    0x23, 0x01, 0,    0,    0,    0,    0xF8, 0x7F,            // double NaN with payload
    0x23, 0x01, 0xC0, 0x7F,                                    // float NaN with payload
    0x01, 0x00, 0xAB,                                          // bools, unsigned char
    0x02, 0,    0,    0,    0,    0,    0,    0,    'h', 'i',  // string: length, bytes
    0,    0,    0,    0,    0,    0,    0xF0, 0x3F};           // double 1

TEST(ArchiveEncodingTest, IsLittleEndianWithFixedWidths) {
  Record r;
  vcMemoryArchive out;
  EXPECT_TRUE(out.isStoring());
  exchange(out, r);
  EXPECT_EQ(out.bytes(), kRecordBytes);

  // Loaded into other values and stored again, the bytes (and so every bit
  // pattern, NaN payloads and the sign of zero included) come back unchanged.
  vcMemoryArchive in(out.bytes());
  EXPECT_FALSE(in.isStoring());
  Record back{0, 0, 0, 0, 0, 0, false, true, 0, "", 0};
  exchange(in, back);
  EXPECT_EQ(back.s, "hi");
  vcMemoryArchive again;
  exchange(again, back);
  EXPECT_EQ(again.bytes(), kRecordBytes);
}

// A multi-item record: plain items, a float block, a polymorphic object.
void storeFullRecord(vcArchive& out) {
  Record r;
  float floats[3] = {0.5f, -2.0f, 1e30f};
  Sample obj;
  obj.label = "label";
  exchange(out, r);
  out.exchangeFloats(floats, 3);
  out.storeObject(obj);
}

void loadFullRecord(vcArchive& in) {
  Record r;
  float floats[3];
  exchange(in, r);
  in.exchangeFloats(floats, 3);
  auto obj = in.loadObject();
  auto* sample = dynamic_cast<Sample*>(obj.get());
  ASSERT_NE(sample, nullptr);
  EXPECT_EQ(sample->label, "label");
  EXPECT_EQ(floats[2], 1e30f);
}

TEST(ArchiveLoadTest, EveryTruncationThrowsEndOfData) {
  vcMemoryArchive out;
  storeFullRecord(out);
  const auto& bytes = out.bytes();
  {
    vcMemoryArchive whole(bytes);
    loadFullRecord(whole);
    EXPECT_EQ(whole.position(), bytes.size());
  }
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    vcMemoryArchive in(std::vector<unsigned char>(bytes.begin(), bytes.begin() + static_cast<long>(n)));
    EXPECT_THROW(loadFullRecord(in), vcArchive::EndOfData) << "truncated to " << n << " bytes";
  }
}

TEST(ArchiveLoadTest, RefusesMalformedData) {
  vcMemoryArchive badBool(std::vector<unsigned char>{2});
  bool b = false;
  EXPECT_THROW(badBool || b, vcArchive::BadData);

  // A count far beyond the bytes that remain: refused before anything is
  // allocated for it (the sanitizer build would abort on a huge allocation).
  std::vector<unsigned char> huge = {0, 0, 0, 0, 0, 0, 0, 0x10, 'a', 'b', 'c'};  // 2^60, then 3 bytes
  vcMemoryArchive in(huge);
  EXPECT_TRUE(in.canRead(11, 1) && in.canRead(2, 4) && vcMemoryArchive().canRead(UINT64_MAX, 8));
  EXPECT_FALSE(in.canRead(12, 1) || in.canRead(3, 4) || in.canRead(UINT64_MAX, 2));
  EXPECT_FALSE(in.canRead(1ULL << 62, 4));  // count * size wraps to 0 in 64 bits
  EXPECT_THROW(in.requireReadable(12, 1), vcArchive::EndOfData);
  std::string s;
  EXPECT_THROW(in || s, vcArchive::EndOfData);

  // The same huge count as the length of a class name.
  std::vector<unsigned char> object = {1};
  object.insert(object.end(), huge.begin(), huge.end());
  vcMemoryArchive objIn(object);
  EXPECT_THROW(objIn.loadObject(), vcArchive::Errors);

  vcMemoryArchive badTag(std::vector<unsigned char>{7});
  EXPECT_THROW(badTag.loadObject(), vcArchive::BadData);
}

TEST(VisitMarksTest, BelongToTheInnermostLiveArchiveOfTheThread) {
  int a = 0, b = 0;
  EXPECT_FALSE(vcPersistent::haveVisited(&a, 4));
  vcPersistent::setVisited(&a, 4);  // no live archive: nothing to remember
  EXPECT_FALSE(vcPersistent::haveVisited(&a, 4));
  for (int pass = 0; pass < 2; ++pass) {
    // A new archive (likely at the same address as the last) starts clean.
    vcMemoryArchive outer;
    EXPECT_FALSE(vcPersistent::haveVisited(&a, 4)) << pass;
    vcPersistent::setVisited(&a, 4);
    EXPECT_TRUE(vcPersistent::haveVisited(&a, 4));
    EXPECT_FALSE(vcPersistent::haveVisited(&a, 8));  // another class's part of the object
    {
      vcMemoryArchive inner;
      EXPECT_FALSE(vcPersistent::haveVisited(&a, 4));
      vcPersistent::setVisited(&b, 4);
      EXPECT_TRUE(vcPersistent::haveVisited(&b, 4));
    }
    EXPECT_TRUE(vcPersistent::haveVisited(&a, 4));
    EXPECT_FALSE(vcPersistent::haveVisited(&b, 4));
    bool otherThreadSaw = true, otherThreadOwnArchive = true;
    std::thread([&] {
      otherThreadSaw = vcPersistent::haveVisited(&a, 4);
      vcMemoryArchive own;
      otherThreadOwnArchive = vcPersistent::haveVisited(&a, 4);
    }).join();
    EXPECT_FALSE(otherThreadSaw);
    EXPECT_FALSE(otherThreadOwnArchive);
  }
  // Archives that die out of order: the survivor stays the innermost.
  auto first = std::make_unique<vcMemoryArchive>();
  vcMemoryArchive second;
  vcPersistent::setVisited(&a, 4);
  first.reset();
  EXPECT_TRUE(vcPersistent::haveVisited(&a, 4));
}

TEST(PolymorphicTest, StoresAndLoadsRegisteredClasses) {
  Sample s;
  s.count = -5;
  s.label = "first";
  vcPlatformError withText("boom"), emptyText(""), noText(nullptr);
  vcMemoryArchive out;
  for (vcPersistent* p : std::initializer_list<vcPersistent*>{&s, &withText, &emptyText, &noText}) out.storeObject(*p);

  vcMemoryArchive in(out.bytes());
  auto s2 = in.loadObject();
  ASSERT_NE(dynamic_cast<Sample*>(s2.get()), nullptr);
  EXPECT_EQ(static_cast<Sample&>(*s2).count, -5);
  EXPECT_EQ(static_cast<Sample&>(*s2).label, "first");
  // Exceptions keep their text, and "no text" stays distinct from "".
  for (const char* want : {"boom", "", static_cast<const char*>(nullptr)}) {
    auto e = in.loadObject();
    auto* err = dynamic_cast<vcPlatformError*>(e.get());
    ASSERT_NE(err, nullptr);
    if (want == nullptr)
      EXPECT_EQ(err->text(), nullptr);
    else
      EXPECT_STREQ(err->text(), want);
  }
  EXPECT_EQ(in.position(), out.bytes().size());
}

TEST(RegistryTest, ListsClassesInRegistrationOrder) {
  const auto names = vc_Instantiator::registeredNames();
  const auto at = [&](const std::type_info& t) {
    return std::find(names.begin(), names.end(), vc_Instantiator::nameOf(t)) - names.begin();
  };
  // The library under test registers its own classes too; only the relative
  // order of ours is known.
  EXPECT_LT(at(typeid(Sample)), at(typeid(vcPlatformError)));
  EXPECT_LT(at(typeid(vcPlatformError)), static_cast<long>(names.size()));
  EXPECT_TRUE(vc_Instantiator::isRegistered(typeid(Sample)));
  EXPECT_FALSE(vc_Instantiator::isRegistered(typeid(Unregistered)));

  {
    vc_Instantiator late(typeid(Unregistered), []() -> vcPersistent* { return new Unregistered; });
    EXPECT_TRUE(vc_Instantiator::isRegistered(typeid(Unregistered)));
    EXPECT_EQ(vc_Instantiator::registeredNames().back(), vc_Instantiator::nameOf(typeid(Unregistered)));
    {
      // A second registration of a known class changes nothing, also when it
      // goes away.
      vc_Instantiator duplicate(typeid(Unregistered), []() -> vcPersistent* { return new Sample; });
    }
    EXPECT_TRUE(vc_Instantiator::isRegistered(typeid(Unregistered)));
    std::unique_ptr<vcPersistent> made(vc_Instantiator::make(vc_Instantiator::nameOf(typeid(Unregistered))));
    EXPECT_NE(dynamic_cast<Unregistered*>(made.get()), nullptr);
  }
  // Gone with its instantiator, so no factory outlives the code it points to.
  EXPECT_FALSE(vc_Instantiator::isRegistered(typeid(Unregistered)));
  EXPECT_EQ(vc_Instantiator::registeredNames(), names);
}

}  // namespace
