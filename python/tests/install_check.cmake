# Installs the build into a fresh prefix and imports vexfilt from it with
# Debian's interpreter, PYTHONPATH set to the prefix's site directory; the
# extension must find libvexfilt11 in <prefix>/lib through its RPATH (not in
# the build tree) and transform an image.
#   cmake -DBUILD_DIR=... -DPREFIX=... -DSITE=... -DPYTHON=... -P install_check.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc})")
endif()
if(IS_ABSOLUTE "${SITE}")
  set(site "${SITE}")
else()
  set(site "${PREFIX}/${SITE}")
endif()
set(script [=[
import os, sys, numpy, vexfilt
prefix = os.path.realpath(sys.argv[1])
assert os.path.realpath(vexfilt._vexfilt.__file__).startswith(prefix), vexfilt._vexfilt.__file__
libs = [line.split()[-1] for line in open("/proc/self/maps") if "libvexfilt11.so" in line]
assert libs and all(os.path.realpath(p).startswith(prefix) for p in libs), libs
image = numpy.zeros((3, 5), numpy.uint8)
image[1, 2] = 40
spectrum = vexfilt.forward(image)
assert spectrum.shape == (4, 8) and abs(spectrum.array[0, 0] - 40) == 0
print("vexfilt", vexfilt.__version__, "from", os.path.dirname(vexfilt.__file__))
]=])
# Run from the prefix: the current directory comes first on sys.path.
execute_process(COMMAND ${CMAKE_COMMAND} -E env "PYTHONPATH=${site}" PYTHONDONTWRITEBYTECODE=1
                        "${PYTHON}" -c "${script}" "${PREFIX}"
                WORKING_DIRECTORY "${PREFIX}"
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "import vexfilt from ${site} failed (${rc})")
endif()
