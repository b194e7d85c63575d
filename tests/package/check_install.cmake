# Installs the build tree into a scratch prefix, then configures, builds and
# runs the consumer project against it (CMake package) and compiles it once
# more with the pkg-config flags.
#   -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DCXX=...
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGV}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/consumer)

find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs vexfilt OUTPUT_VARIABLE flags
                  RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know vexfilt")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run(${CXX} ${SOURCE_DIR}/main.cpp -o ${WORK_DIR}/consumer-pc ${flags})
  run(${WORK_DIR}/consumer-pc)
endif()
