#define VEXSYS_BUILDING 1
#include "vexsys/attention.h"

#include <atomic>
#include <chrono>
#include <cmath>

namespace {

using Clock = std::chrono::steady_clock;

// The abort request is the one piece of process-wide state: any thread may set
// it while another is inside a long operation.
std::atomic<bool> gAbortRequested{false};

// Everything else belongs to the calling thread.
struct ThreadAttention {
  bool hasDeadline = false;
  Clock::time_point deadline{};
  long polls = 0;
  long failCountdown = 0;  // 0: disarmed
  long failStatus = VSYS_OK;
};

thread_local ThreadAttention tAttention;

}  // namespace

extern "C" {

long vsys_attention_check() {
  ThreadAttention& t = tAttention;
  ++t.polls;
  if (t.failCountdown > 0 && --t.failCountdown == 0) return t.failStatus;
  if (gAbortRequested.load(std::memory_order_relaxed)) return VSYS_ABORTED;
  if (t.hasDeadline && Clock::now() >= t.deadline) return VSYS_TIMED_OUT;
  return VSYS_OK;
}

void vsys_request_abort() {
  gAbortRequested.store(true, std::memory_order_relaxed);
}

void vsys_clear_abort() {
  gAbortRequested.store(false, std::memory_order_relaxed);
}

void vsys_set_timeout(double seconds) {
  ThreadAttention& t = tAttention;
  // A deadline further away than this is no deadline; it also keeps the
  // conversion to clock ticks from overflowing.
  constexpr double kMaxSeconds = 1.0e9;
  if (!(seconds > 0.0) || !std::isfinite(seconds) || seconds > kMaxSeconds) {
    t.hasDeadline = false;
    return;
  }
  t.hasDeadline = true;
  t.deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

long vsys_attention_polls() {
  return tAttention.polls;
}

void vsys_fail_poll_after(long n, long status) {
  ThreadAttention& t = tAttention;
  t.failCountdown = n > 0 ? n : 0;
  t.failStatus = status;
}

}  // extern "C"
