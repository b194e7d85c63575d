# Installs the build tree into a scratch prefix, then configures, builds and
# runs the consumer project against it (CMake package): its own check and the
# examples from the source tree, compiled against the installed headers. Then
# compiles the consumer and one example once more with the pkg-config flags,
# and runs the installed demo when there is one.
#   -DBUILD_DIR=... -DSOURCE_DIR=... -DEXAMPLES_DIR=... -DVERSION=... -DWORK_DIR=... -DCXX=...
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGV}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
if(NOT EXISTS ${prefix}/include/filt/version.h)
  message(FATAL_ERROR "filt/version.h is not installed")
endif()

run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX}
    -DEXPECTED_VERSION=${VERSION} -DEXAMPLES_DIR=${EXAMPLES_DIR})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/consumer)
file(GLOB examples ${EXAMPLES_DIR}/*.cpp)
foreach(source IN LISTS examples)
  get_filename_component(name ${source} NAME_WE)
  run(${WORK_DIR}/build/example_${name} ${WORK_DIR}/${name}.bin)
endforeach()

find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
  execute_process(COMMAND ${PKG_CONFIG} --modversion vexfilt OUTPUT_VARIABLE version
                  RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0 OR NOT version STREQUAL VERSION)
    message(FATAL_ERROR "pkg-config knows vexfilt as '${version}', not ${VERSION}")
  endif()
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs vexfilt OUTPUT_VARIABLE flags
                  RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run(${CXX} ${SOURCE_DIR}/main.cpp -o ${WORK_DIR}/consumer-pc -DEXPECTED_VERSION="${VERSION}" ${flags})
  run(${WORK_DIR}/consumer-pc)
  run(${CXX} ${EXAMPLES_DIR}/filter_threads.cpp -o ${WORK_DIR}/filter-threads-pc ${flags} -pthread)
  run(${WORK_DIR}/filter-threads-pc)
endif()

if(EXISTS ${prefix}/bin/vexfilt-demo)
  run(${prefix}/bin/vexfilt-demo --scene-size 64 -o ${WORK_DIR}/demo-out)
endif()
