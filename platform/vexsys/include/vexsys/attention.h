// The attention poll: how long-running operations learn that the host wants
// them to stop. A process-wide abort request (settable from any thread) and a
// per-thread deadline are folded into one status that operations poll.
#pragma once

#if defined(VEXSYS_BUILDING)
#define VEXSYS_API __attribute__((visibility("default")))
#else
#define VEXSYS_API
#endif

// Poll statuses. 0 means nothing is pending.
inline constexpr long VSYS_OK = 0;
inline constexpr long VSYS_ABORTED = 1;
inline constexpr long VSYS_TIMED_OUT = 2;

extern "C" {

// 0 while nothing is pending; VSYS_ABORTED once an abort was requested (until
// vsys_clear_abort); VSYS_TIMED_OUT once the calling thread's deadline has
// passed (until the deadline is reset). An armed fail-after (see below) takes
// precedence on the poll it fires on.
VEXSYS_API long vsys_attention_check();

// Process-wide abort request, callable from any thread at any time; it stays
// pending until cleared.
VEXSYS_API void vsys_request_abort();
VEXSYS_API void vsys_clear_abort();

// Deadline for the calling thread, `seconds` from now. 0 (or a negative value,
// a NaN or an infinity) clears it. Other threads are not affected.
VEXSYS_API void vsys_set_timeout(double seconds);

// Instrumentation for tests of hosts and of the library.
// Number of polls made on the calling thread since it started.
VEXSYS_API long vsys_attention_polls();
// Makes the n-th following poll on the calling thread return `status` once
// (n = 1: the very next poll). n <= 0 disarms.
VEXSYS_API void vsys_fail_poll_after(long n, long status);

}  // extern "C"
