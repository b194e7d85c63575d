// Errors and attention: the translation of the library's exceptions into the
// Python classes of vexfilt/_errors.py, the scope of heavy calls (GIL
// released, Ctrl-C turned into an abort request), and the attention controls
// (abort request, per-thread deadline).
//
// How Ctrl-C stops a long call. A heavy call runs on the calling thread with
// the GIL released, so Python cannot run its signal handlers until the call
// returns. While at least one heavy call is running, SIGINT goes first to a
// small handler of ours that requests the library's abort
// (vsys_request_abort, an atomic store, safe in a signal handler) and then
// calls the handler that was installed before (Python's, which records the
// signal as usual). The library's attention poll sees the request within 16
// transformed rows and the call leaves with vcAbortRequested; after the GIL
// is taken back, Python's pending handler runs (PyErr_CheckSignals) and
// raises KeyboardInterrupt on the main thread (or whatever a custom SIGINT
// handler does). On other threads the abort arrives as vexfilt.Aborted, a
// KeyboardInterrupt. The request is process-wide, so it stops every vexfilt
// call in flight; the last call to leave clears it. When no call is running
// Python's handler is installed alone and nothing changes.
#include <pybind11/pybind11.h>
#include <signal.h>
#include <vexsys/attention.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>

#include "convert.h"

namespace vfpy {
namespace {

// ---- the SIGINT scope ----

std::mutex gScopeMutex;
long gScopeDepth = 0;           // heavy calls running (guarded by gScopeMutex)
bool gInstalled = false;        // our handler is installed (guarded)
struct sigaction gPrevious {};  // what it replaced; read by the handler
std::atomic<bool> gAbortFromSignal{false};

extern "C" void onInterrupt(int signal, siginfo_t* info, void* context) {
  gAbortFromSignal.store(true);
  vsys_request_abort();
  if (gPrevious.sa_flags & SA_SIGINFO) {
    if (gPrevious.sa_sigaction != nullptr) gPrevious.sa_sigaction(signal, info, context);
  } else if (gPrevious.sa_handler != SIG_DFL && gPrevious.sa_handler != SIG_IGN) {
    gPrevious.sa_handler(signal);
  }
}

bool isHandlerFunction(const struct sigaction& action) {
  if (action.sa_flags & SA_SIGINFO) return action.sa_sigaction != nullptr;
  return action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN;
}

// ---- the Python exception classes ----

struct ErrorClasses {
  py::object error, invalidArgument, uninitialized, invalidSize, unboundWindow, invalidBuffer, badCoord, archive,
      platform, timedOut, aborted;
};

// Filled once when the module is imported; never released (the classes live
// as long as the interpreter, and releasing at exit would race its teardown).
ErrorClasses* gClasses = nullptr;

const py::object& classFor(const vcException& e) {
  const ErrorClasses& c = *gClasses;
  switch (e.errorNumber()) {
    case 0x10006300:
      return c.invalidArgument;
    case 0x10006301:
      return c.uninitialized;
    case 0x10006302:
      return c.invalidSize;
    case 0x10006303:
      return c.unboundWindow;
    case 0x10006304:
      return c.invalidBuffer;
    case 0x10006305:
      return c.badCoord;
    default:
      break;
  }
  if (dynamic_cast<const vcTimedOut*>(&e) != nullptr) return c.timedOut;
  if (dynamic_cast<const vcAbortRequested*>(&e) != nullptr) return c.aborted;
  if (dynamic_cast<const vcArchive::Errors*>(&e) != nullptr) return c.archive;
  if (dynamic_cast<const vcPlatformError*>(&e) != nullptr) return c.platform;
  return c.error;
}

void raise(const vcException& e) {
  if (dynamic_cast<const vcAbortRequested*>(&e) != nullptr) {
    // On the main thread after Ctrl-C, Python's own handler raises here.
    if (PyErr_CheckSignals() != 0) return;
  }
  const py::object& cls = classFor(e);
  py::object instance = cls(py::str(e.what()), py::str(vc_Instantiator::nameOf(typeid(e))), e.errorNumber());
  PyErr_SetObject(cls.ptr(), instance.ptr());
}

}  // namespace

CallScope::CallScope() {
  std::lock_guard<std::mutex> lock(gScopeMutex);
  if (gScopeDepth++ > 0) return;
  struct sigaction current {};
  if (sigaction(SIGINT, nullptr, &current) != 0 || !isHandlerFunction(current)) return;
  gPrevious = current;
  struct sigaction ours {};
  ours.sa_sigaction = onInterrupt;
  ours.sa_flags = SA_SIGINFO | (current.sa_flags & SA_RESTART);
  sigemptyset(&ours.sa_mask);
  gInstalled = sigaction(SIGINT, &ours, nullptr) == 0;
}

CallScope::~CallScope() {
  std::lock_guard<std::mutex> lock(gScopeMutex);
  if (--gScopeDepth > 0) return;
  if (gInstalled) {
    // Put the previous handler back unless someone replaced ours meanwhile.
    struct sigaction current {};
    if (sigaction(SIGINT, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) &&
        current.sa_sigaction == onInterrupt)
      sigaction(SIGINT, &gPrevious, nullptr);
    gInstalled = false;
  }
  if (gAbortFromSignal.exchange(false)) vsys_clear_abort();
}

void bindErrors(py::module_& m) {
  py::module_ errors = py::module_::import("vexfilt._errors");
  gClasses = new ErrorClasses{errors.attr("Error"),       errors.attr("InvalidArgument"), errors.attr("Uninitialized"),
                              errors.attr("InvalidSize"), errors.attr("UnboundWindow"),   errors.attr("InvalidBuffer"),
                              errors.attr("BadCoord"),    errors.attr("ArchiveError"),    errors.attr("PlatformError"),
                              errors.attr("TimedOut"),    errors.attr("Aborted")};

  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const vcException& e) {
      raise(e);
    }
  });

  m.def(
      "request_abort", [] { vsys_request_abort(); },
      "Asks every running vexfilt call to stop (process-wide). Calls poll the request while they\n"
      "work and leave with KeyboardInterrupt (vexfilt.Aborted); the request stays pending, so\n"
      "later calls stop too, until clear_abort().");
  m.def(
      "clear_abort", [] { vsys_clear_abort(); }, "Withdraws an abort request.");
  m.def(
      "set_timeout", [](double seconds) { vsys_set_timeout(seconds); }, py::arg("seconds"),
      "Sets a deadline `seconds` from now for the calling thread's vexfilt calls; a call still\n"
      "running then leaves with vexfilt.TimedOut (a TimeoutError), and so does every later call\n"
      "until the deadline is cleared with set_timeout(0). Other threads are not affected.\n"
      "See vexfilt.deadline() for a context manager.");
  m.def(
      "_attention_polls", [] { return vsys_attention_polls(); },
      "Polls of the attention check made on the calling thread so far (for tests).");
  m.def(
      "_fail_poll_after", [](long n, long status) { vsys_fail_poll_after(n, status); }, py::arg("n"), py::arg("status"),
      "Makes the n-th following poll on the calling thread report `status` once (1 abort,\n"
      "2 time-out; n <= 0 disarms). For tests.");
}

}  // namespace vfpy
