// Failures of the demo itself, each carrying the exit status it ends with.
// Library errors (vcException) are turned into these at the pipeline's stage
// boundaries, so main prints every failure as one line.
#pragma once

#include <stdexcept>
#include <string>

namespace demo {

inline constexpr int kExitFailure = 1;   // the library, or writing the output, failed
inline constexpr int kExitBadInput = 2;  // a bad command line or an unreadable image

class Error : public std::runtime_error {
 public:
  Error(int status, const std::string& what) : std::runtime_error(what), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

// The command line cannot be run as given.
class UsageError : public Error {
 public:
  explicit UsageError(const std::string& what) : Error(kExitBadInput, what) {}
};

// An input image that cannot be read: missing, unsupported or corrupt.
class InputError : public Error {
 public:
  explicit InputError(const std::string& what) : Error(kExitBadInput, what) {}
};

// The library refused or failed, or an output could not be written.
class RunError : public Error {
 public:
  explicit RunError(const std::string& what) : Error(kExitFailure, what) {}
};

}  // namespace demo
