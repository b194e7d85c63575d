# Included by the top-level list before any target when VEXFILT_BUILD_FUZZERS
# is on: every target of the build (libraries, tests, tools) is compiled with
# libFuzzer's coverage instrumentation and AddressSanitizer +
# UndefinedBehaviorSanitizer, so such a build directory is for fuzzing only.
# Without clang and its libFuzzer runtime the fuzzers are left out and the
# build is an ordinary one.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  vexfilt_note_missing("the fuzzers" "libFuzzer needs clang (configure with -DCMAKE_CXX_COMPILER=clang++-14)"
                       "clang-14 libfuzzer-14-dev libclang-rt-14-dev")
  set(VEXFILT_BUILD_FUZZERS OFF)
  return()
endif()
include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_FLAGS "-fsanitize=fuzzer,address,undefined")
set(CMAKE_REQUIRED_LINK_OPTIONS "-fsanitize=fuzzer,address,undefined")
check_cxx_source_compiles([[
#include <cstddef>
#include <cstdint>
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }
]] VEXFILT_HAVE_LIBFUZZER)
unset(CMAKE_REQUIRED_FLAGS)
unset(CMAKE_REQUIRED_LINK_OPTIONS)
if(NOT VEXFILT_HAVE_LIBFUZZER)
  vexfilt_note_missing("the fuzzers" "clang's libFuzzer and sanitizer runtimes are not installed"
                       "libfuzzer-14-dev libclang-rt-14-dev")
  set(VEXFILT_BUILD_FUZZERS OFF)
  return()
endif()
set(VEXFILT_FUZZ_SANITIZERS "address,undefined")
add_compile_options(-fsanitize=fuzzer-no-link,${VEXFILT_FUZZ_SANITIZERS} -fno-sanitize-recover=all
                    -fno-omit-frame-pointer -g)
add_link_options(-fsanitize=${VEXFILT_FUZZ_SANITIZERS})
