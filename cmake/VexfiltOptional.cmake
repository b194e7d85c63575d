# Optional dependencies. None of them is needed by the library; each enables a
# part of the tests, tools or benchmarks. A part whose dependency is missing is
# left out with one configure line saying what, why, and which Debian package
# brings it, and the rest of the build goes on. Hide any of them with CMake's
# own -DCMAKE_DISABLE_FIND_PACKAGE_<Name>=ON (PkgConfig hides FFTW).

# vexfilt_note_missing(<part> <why> <debian packages>)
function(vexfilt_note_missing part why packages)
  message(STATUS "vexfilt: ${part} left out: ${why} (Debian: apt-get install ${packages})")
endfunction()

# vexfilt_optional_fftw(<module> <what it serves>)
#   Defines the imported target PkgConfig::<module> (fftw3 or fftw3f) when
#   pkg-config finds it; otherwise notes what is left out.
function(vexfilt_optional_fftw module what)
  if(TARGET PkgConfig::${module})
    return()
  endif()
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(${module} QUIET IMPORTED_TARGET GLOBAL ${module})
  endif()
  if(NOT TARGET PkgConfig::${module})
    vexfilt_note_missing("FFTW (${module})" "${what} needs it" "libfftw3-dev")
  endif()
endfunction()
