// The attention poll: per-thread counters and fault injection, the process-wide abort,
// per-thread deadlines, and the exceptions they become.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "vexstd/exception.h"
#include "vexsys/attention.h"

namespace {

// Polls until the status is not 0. The bound only keeps a broken poll from hanging the
// run; nothing is asserted about how long it took.
long pollUntilSet() {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (long polls = 1;; ++polls) {
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

// An abort requested once the worker is inside its loop reaches it, and stays pending,
// for every thread, until it is cleared.
TEST_F(AttentionTest, AbortFromAnotherThreadReachesAPollingLoop) {
  std::atomic<bool> polling{false};
  long status = VSYS_OK;
  std::thread worker([&] {
    polling = true;
    status = pollUntilSet();
  });
  while (!polling) std::this_thread::yield();
  vsys_request_abort();
  worker.join();
  EXPECT_EQ(status, VSYS_ABORTED);
  EXPECT_EQ(vsys_attention_check(), VSYS_ABORTED);
  EXPECT_EQ(vsys_attention_check(), VSYS_ABORTED);
  vsys_clear_abort();
  EXPECT_EQ(vsys_attention_check(), VSYS_OK);
}

// While this thread's deadline has passed, another thread polls freely.
TEST_F(AttentionTest, TimeoutBelongsToTheThreadThatSetIt) {
  vsys_set_timeout(1e-9);
  ASSERT_EQ(pollUntilSet(), VSYS_TIMED_OUT);
  std::atomic<bool> stop{false};
  std::atomic<long> otherWorst{VSYS_OK}, otherPolls{0};
  std::thread other([&] {
    for (; !stop; ++otherPolls)
      if (const long s = vsys_attention_check(); s != VSYS_OK) otherWorst = s;
  });
  while (otherPolls < 100) std::this_thread::yield();
  EXPECT_EQ(vsys_attention_check(), VSYS_TIMED_OUT);  // still expired here
  stop = true;
  other.join();
  EXPECT_EQ(otherWorst, VSYS_OK);
  vsys_set_timeout(0);
  EXPECT_EQ(vsys_attention_check(), VSYS_OK);
}

}  // namespace
