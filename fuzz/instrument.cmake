# Included by the top-level list before any target when VEXFILT_BUILD_FUZZERS
# is on: every target of the build (libraries, tests, tools) is compiled with
# libFuzzer's coverage instrumentation and AddressSanitizer +
# UndefinedBehaviorSanitizer, so such a build directory is for fuzzing only.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "VEXFILT_BUILD_FUZZERS needs clang (libFuzzer); the compiler is ${CMAKE_CXX_COMPILER_ID}. "
                      "Configure with -DCMAKE_CXX_COMPILER=clang++-14.")
endif()
set(VEXFILT_FUZZ_SANITIZERS "address,undefined")
add_compile_options(-fsanitize=fuzzer-no-link,${VEXFILT_FUZZ_SANITIZERS} -fno-sanitize-recover=all
                    -fno-omit-frame-pointer -g)
add_link_options(-fsanitize=${VEXFILT_FUZZ_SANITIZERS})
