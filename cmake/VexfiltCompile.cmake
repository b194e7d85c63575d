# Compile settings shared by every target of the project. Applied per target,
# never as global flags, so that consumers of the installed package are not
# affected.

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

# vexfilt_configure_target(<target> [NUMERIC])
#   Warnings for every target; NUMERIC targets also get the floating-point
#   contract: results are specified bit for bit, so the compiler must neither
#   fuse multiply-adds nor reassociate.
function(vexfilt_configure_target target)
  cmake_parse_arguments(ARG "NUMERIC" "" "" ${ARGN})
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(VEXFILT_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(ARG_NUMERIC)
    target_compile_options(${target} PRIVATE -ffp-contract=off -fno-fast-math)
  endif()
endfunction()

# Shared libraries export only what is marked for export.
function(vexfilt_hide_symbols target)
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
endfunction()
