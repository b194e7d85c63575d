// The library's error classes: numbers, messages, copies, rethrowing and their record.
// (Registration order: freqfilt/filter_persistence_test; records of every class loaded
// and stored back, polymorphically too: the fuzz_replay_error_record and
// fuzz_replay_load_object tests.)

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
          [](Defs::Errors* e) {
            try {
              e->suicideAndRethrow();  // deletes e (leak checkers watch this)
            } catch (const X& x) {
              EXPECT_EQ(typeid(x), typeid(X));
              EXPECT_STREQ(x.text(), "text kept");
            }
          }};
}

const ErrorKind kKinds[] = {
    kind<Defs::InvalidArgument>("vcFrequencyDefs::InvalidArgument", 0x10006300),
    kind<Defs::Uninitialized>("vcFrequencyDefs::Uninitialized", 0x10006301),
    kind<Defs::InvalidSize>("vcFrequencyDefs::InvalidSize", 0x10006302),
    kind<Defs::UnboundWindow>("vcFrequencyDefs::UnboundWindow", 0x10006303),
    kind<Defs::InvalidBuffer>("vcFrequencyDefs::InvalidBuffer", 0x10006304),
    kind<Defs::BadCoord>("vcFrequencyDefs::BadCoord", 0x10006305),
};

// Exposes the protected persistence step, as a derived host class could.
template <class X>
struct Probe : X {
  using X::X;
  void serialize(vcArchive& ar) { this->dispatchSerialize(ar); }
};

}  // namespace

TEST(Errors, NumbersMessagesFactoriesAndRethrow) {
  // Caught through every base.
  static_assert(std::is_convertible_v<Defs::Errors*, vcExceptionWithString*> &&
                std::is_convertible_v<Defs::Errors*, vcPersistent*> &&
                std::is_convertible_v<Defs::Errors*, std::exception*>);
  for (const ErrorKind& k : kKinds) {
    SCOPED_TRACE(k.name);
    std::unique_ptr<Defs::Errors> withText(k.make("some text")), noText(k.make(nullptr));
    EXPECT_EQ(withText->errorNumber(), k.number);
    EXPECT_STREQ(withText->text(), "some text");
    EXPECT_EQ(withText->message(), "some text");
    EXPECT_STREQ(withText->what(), "some text");
    EXPECT_EQ(noText->text(), nullptr);
    EXPECT_EQ(noText->message(), "");
    // The registry's factory makes an error without text, of the right class.
    std::unique_ptr<vcPersistent> made(vc_Instantiator::make(k.name));
    auto* madeError = dynamic_cast<Defs::Errors*>(made.get());
    ASSERT_NE(madeError, nullptr);
    EXPECT_EQ(madeError->errorNumber(), k.number);
    EXPECT_EQ(madeError->text(), nullptr);
    k.rethrowCheck(k.make("text kept"));
  }
}

TEST(Errors, RecordHasTwoVersionBytesAndIsWrittenOncePerPass) {
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

  // An unknown version byte names its level and leaves the target alone.
  for (int level = 0; level < 2; ++level) {
    std::vector<unsigned char> bytes = once;
    bytes[level] = 1;
    Probe<Defs::InvalidArgument> target;
    vcMemoryArchive bad(bytes);
    try {
      target.serialize(bad);
      ADD_FAILURE() << "loaded";
    } catch (const vcArchive::UnknownVersion& u) {
      EXPECT_STREQ(u.text(), level == 0 ? "vcFrequencyDefs::InvalidArgument" : "vcFrequencyDefs::Errors");
      EXPECT_EQ(u.number(), 0);
    }
    EXPECT_EQ(target.text(), nullptr);
  }
}
