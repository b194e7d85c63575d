// The library's error classes: numbers, messages, rethrowing, persistence and
// registration.

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "filt/fft.h"

namespace {

using Defs = vcFrequencyDefs;

struct ErrorKind {
  const char* name;
  long number;
  std::function<Defs::Errors*(const char*)> make;
  std::function<void(Defs::Errors*)> rethrowCheck;  // expects suicideAndRethrow to throw the same class
};

template <class X>
ErrorKind kind(const char* name, long number) {
  return {name, number, [](const char* m) -> Defs::Errors* { return new X(m); },
          [](Defs::Errors* e) { EXPECT_THROW(e->suicideAndRethrow(), X); }};
}

const std::vector<ErrorKind>& kinds() {
  static const std::vector<ErrorKind> k = {
      kind<Defs::InvalidArgument>("vcFrequencyDefs::InvalidArgument", 0x10006300),
      kind<Defs::Uninitialized>("vcFrequencyDefs::Uninitialized", 0x10006301),
      kind<Defs::InvalidSize>("vcFrequencyDefs::InvalidSize", 0x10006302),
      kind<Defs::UnboundWindow>("vcFrequencyDefs::UnboundWindow", 0x10006303),
      kind<Defs::InvalidBuffer>("vcFrequencyDefs::InvalidBuffer", 0x10006304),
      kind<Defs::BadCoord>("vcFrequencyDefs::BadCoord", 0x10006305),
  };
  return k;
}

// Exposes the protected persistence step, as a derived host class could.
template <class X>
struct Probe : X {
  using X::X;
  void serialize(vcArchive& ar) { this->dispatchSerialize(ar); }
};

}  // namespace

TEST(Errors, NumbersMessagesAndBases) {
  for (const ErrorKind& k : kinds()) {
    SCOPED_TRACE(k.name);
    std::unique_ptr<Defs::Errors> withText(k.make("some text"));
    std::unique_ptr<Defs::Errors> noText(k.make(nullptr));
    const Defs::Errors& base = *withText;
    EXPECT_EQ(base.errorNumber(), k.number);
    EXPECT_STREQ(withText->text(), "some text");
    EXPECT_EQ(withText->message(), "some text");
    EXPECT_STREQ(withText->what(), "some text");
    EXPECT_EQ(noText->text(), nullptr);
    EXPECT_EQ(noText->message(), "");
    // The registry's factory makes an error without text, of the right class.
    std::unique_ptr<vcPersistent> made(vc_Instantiator::make(k.name));
    ASSERT_NE(made, nullptr);
    auto* madeError = dynamic_cast<Defs::Errors*>(made.get());
    ASSERT_NE(madeError, nullptr);
    EXPECT_EQ(madeError->errorNumber(), k.number);
    EXPECT_EQ(madeError->text(), nullptr);
  }
}

TEST(Errors, CopiesKeepTextOrItsAbsence) {
  Defs::BadCoord a("Coordinates are out of bounds"), none;
  Defs::BadCoord b(a), c(none);
  EXPECT_STREQ(b.text(), "Coordinates are out of bounds");
  EXPECT_EQ(c.text(), nullptr);
  c = a;
  EXPECT_STREQ(c.text(), "Coordinates are out of bounds");
  b = none;
  EXPECT_EQ(b.text(), nullptr);
}

TEST(Errors, CaughtThroughEveryBase) {
  try {
    (void)vcFrequencyBuffer().width();
    FAIL() << "no throw";
  } catch (const vcPersistent& p) {
    const auto* e = dynamic_cast<const vcException*>(&p);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->errorNumber(), 0x10006301);
  }
  EXPECT_THROW((void)vcFrequencyBuffer().height(), vcException);
  EXPECT_THROW((void)vcFrequencyBuffer().height(), vcExceptionWithString);
  EXPECT_THROW((void)vcFrequencyBuffer().height(), std::exception);
}

TEST(Errors, SuicideAndRethrowKeepsClassAndMessage) {
  for (const ErrorKind& k : kinds()) {
    SCOPED_TRACE(k.name);
    k.rethrowCheck(k.make("text kept"));  // the object is deleted by the call (leak checkers watch this)
  }
  Defs::Errors* held = new Defs::InvalidSize("Size must be a power of 2.");
  try {
    held->suicideAndRethrow();
  } catch (const Defs::InvalidSize& e) {
    EXPECT_STREQ(e.text(), "Size must be a power of 2.");
  }
}

TEST(Errors, RecordStartsWithTwoVersionBytesAndIsWrittenOncePerPass) {
  Probe<Defs::InvalidArgument> e("bad");
  vcMemoryArchive ar;
  e.serialize(ar);
  const std::vector<unsigned char> once = ar.bytes();
  ASSERT_GE(once.size(), 3u);
  EXPECT_EQ(once[0], 0);
  EXPECT_EQ(once[1], 0);
  e.serialize(ar);  // same object, same pass: nothing more
  EXPECT_EQ(ar.bytes(), once);

  vcMemoryArchive again;  // a new pass writes it again
  e.serialize(again);
  EXPECT_EQ(again.bytes(), once);

  Probe<Defs::InvalidArgument> loaded;
  vcMemoryArchive in(once);
  loaded.serialize(in);
  EXPECT_STREQ(loaded.text(), "bad");
  EXPECT_EQ(in.position(), once.size());
}

TEST(Errors, VersionFailuresNameTheLevel) {
  Probe<Defs::InvalidArgument> e("x");
  vcMemoryArchive ar;
  e.serialize(ar);
  for (int level = 0; level < 2; ++level) {
    std::vector<unsigned char> bytes = ar.bytes();
    bytes[level] = 1;
    Probe<Defs::InvalidArgument> target;
    vcMemoryArchive in(bytes);
    try {
      target.serialize(in);
      FAIL() << "no throw";
    } catch (const vcArchive::UnknownVersion& u) {
      EXPECT_STREQ(u.text(), level == 0 ? "vcFrequencyDefs::InvalidArgument" : "vcFrequencyDefs::Errors");
      EXPECT_EQ(u.number(), 0);
    }
    EXPECT_EQ(target.text(), nullptr);
  }
}

TEST(Errors, PolymorphicRoundTrip) {
  vcMemoryArchive out;
  for (const ErrorKind& k : kinds()) {
    std::unique_ptr<Defs::Errors> e(k.make(k.name));
    out.storeObject(*e);
  }
  vcMemoryArchive in(out.bytes());
  for (const ErrorKind& k : kinds()) {
    SCOPED_TRACE(k.name);
    std::unique_ptr<vcPersistent> p = in.loadObject();
    auto* e = dynamic_cast<Defs::Errors*>(p.get());
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->errorNumber(), k.number);
    EXPECT_STREQ(e->text(), k.name);
  }
}

TEST(Errors, RegisteredAtLoadInOrder) {
  std::vector<std::string> ours;
  for (const std::string& n : vc_Instantiator::registeredNames())
    if (n.rfind("vcFrequency", 0) == 0) ours.push_back(n);
  std::vector<std::string> expected;
  for (const ErrorKind& k : kinds()) expected.push_back(k.name);
  ASSERT_GE(ours.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(ours.begin(), ours.begin() + 6), expected);
}
