// The attention poll: per-thread counters and fault injection, the
// process-wide abort, per-thread deadlines, and the exceptions they become.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "vexstd/exception.h"
#include "vexsys/attention.h"

namespace {

// Polls until the status is not 0. The bound only keeps a broken poll from
// hanging the run; nothing is asserted about how long it took.
long pollUntilSet(long& polls) {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (polls = 1;; ++polls) {
    if (const long status = vsys_attention_check(); status != VSYS_OK) return status;
    if (polls % 1024 == 0 && std::chrono::steady_clock::now() > giveUp) return VSYS_OK;
  }
}

class AttentionTest : public ::testing::Test {
 protected:
  // The abort is process-wide and the test threads are reused: leave both clean.
  void TearDown() override {
    vsys_clear_abort();
    vsys_set_timeout(0);
    vsys_fail_poll_after(0, VSYS_OK);
  }
};

TEST_F(AttentionTest, CountsPollsPerThread) {
  const long start = vsys_attention_polls();
  for (int i = 0; i < 5; ++i) vsys_attention_check();
  long otherStart = -1, otherEnd = -1;
  std::thread([&] {
    otherStart = vsys_attention_polls();
    vsys_attention_check();
    otherEnd = vsys_attention_polls();
  }).join();
  EXPECT_EQ(vsys_attention_polls(), start + 5);
  EXPECT_EQ(otherStart, 0);  // a new thread has made no polls
  EXPECT_EQ(otherEnd, 1);
}

TEST_F(AttentionTest, FailAfterFiresOnTheNthPollOnce) {
  for (long n : {1L, 2L, 5L}) {
    vsys_fail_poll_after(n, VSYS_TIMED_OUT);
    for (long i = 1; i < n; ++i) EXPECT_EQ(vsys_attention_check(), VSYS_OK) << "n=" << n << " poll " << i;
    EXPECT_EQ(vsys_attention_check(), VSYS_TIMED_OUT) << "n=" << n;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(vsys_attention_check(), VSYS_OK) << "fired twice, n=" << n;
  }
  vsys_fail_poll_after(2, VSYS_ABORTED);
  vsys_fail_poll_after(0, VSYS_ABORTED);  // disarms
  for (int i = 0; i < 4; ++i) EXPECT_EQ(vsys_attention_check(), VSYS_OK);

  // Armed on one thread, it does not fire on another.
  vsys_fail_poll_after(1, VSYS_ABORTED);
  long other = -1;
  std::thread([&] { other = vsys_attention_check(); }).join();
  EXPECT_EQ(other, VSYS_OK);
  EXPECT_EQ(vsys_attention_check(), VSYS_ABORTED);
}

TEST_F(AttentionTest, AbortFromAnotherThreadReachesAPollingLoop) {
  std::atomic<bool> polling{false};
  long status = VSYS_OK, polls = 0;
  std::thread worker([&] {
    polling = true;
    status = pollUntilSet(polls);
  });
  // Request the abort only once the worker is inside its loop.
  while (!polling) std::this_thread::yield();
  vsys_request_abort();
  worker.join();
  EXPECT_EQ(status, VSYS_ABORTED);

  // The request stays pending, for every thread, until it is cleared.
  EXPECT_EQ(vsys_attention_check(), VSYS_ABORTED);
  EXPECT_EQ(vsys_attention_check(), VSYS_ABORTED);
  vsys_clear_abort();
  EXPECT_EQ(vsys_attention_check(), VSYS_OK);
}

TEST_F(AttentionTest, TimeoutBelongsToTheThreadThatSetIt) {
  vsys_set_timeout(1e-9);
  long polls = 0;
  ASSERT_EQ(pollUntilSet(polls), VSYS_TIMED_OUT);

  // While this thread's deadline has passed, another thread polls freely.
  std::atomic<bool> stop{false};
  std::atomic<long> otherWorst{VSYS_OK}, otherPolls{0};
  std::thread other([&] {
    while (!stop) {
      if (const long s = vsys_attention_check(); s != VSYS_OK) otherWorst = s;
      ++otherPolls;
    }
  });
  while (otherPolls < 100) std::this_thread::yield();
  EXPECT_EQ(vsys_attention_check(), VSYS_TIMED_OUT);  // still expired here
  stop = true;
  other.join();
  EXPECT_EQ(otherWorst, VSYS_OK);

  vsys_set_timeout(0);
  EXPECT_EQ(vsys_attention_check(), VSYS_OK);
  // A far deadline does not fire.
  vsys_set_timeout(3600);
  EXPECT_EQ(vsys_attention_check(), VSYS_OK);
}

TEST_F(AttentionTest, StatusesBecomeTheirExceptions) {
  EXPECT_NO_THROW(vfThrowExceptionOnFailure(VSYS_OK));
  EXPECT_THROW(vfThrowExceptionOnFailure(VSYS_ABORTED), vcAbortRequested);
  EXPECT_THROW(vfThrowExceptionOnFailure(VSYS_TIMED_OUT), vcTimedOut);
  static_assert(std::is_base_of_v<vcException, vcAbortRequested> && std::is_base_of_v<vcException, vcTimedOut>);
  EXPECT_NE(vcAbortRequested().errorNumber(), vcTimedOut().errorNumber());

  // The poll pair as the library uses it.
  vsys_fail_poll_after(1, VSYS_ABORTED);
  EXPECT_THROW(vfThrowExceptionOnFailure(vsys_attention_check()), vcAbortRequested);
  EXPECT_NO_THROW(vfThrowExceptionOnFailure(vsys_attention_check()));
}

// suicideAndRethrow from a base pointer must throw the concrete class (and
// free the heap object, which the sanitizer build checks).
template <class E>
void expectRethrowsOwnClass(vcException* heap, long number) {
  try {
    heap->suicideAndRethrow();
    ADD_FAILURE() << "suicideAndRethrow returned";
  } catch (const E& e) {
    EXPECT_EQ(e.errorNumber(), number);
  } catch (...) {
    ADD_FAILURE() << "rethrown as another class";
  }
}

TEST_F(AttentionTest, SuicideAndRethrowKeepsTheConcreteClass) {
  expectRethrowsOwnClass<vcTimedOut>(new vcTimedOut(), vcTimedOut().errorNumber());
  expectRethrowsOwnClass<vcAbortRequested>(new vcAbortRequested(), vcAbortRequested().errorNumber());
  expectRethrowsOwnClass<vcPlatformError>(new vcPlatformError("bad window"), vcPlatformError().errorNumber());
  try {
    (new vcPlatformError("bad window"))->suicideAndRethrow();
  } catch (const vcException& e) {
    EXPECT_EQ(e.message(), "bad window");
    EXPECT_STREQ(e.what(), "bad window");
  }
}

}  // namespace
