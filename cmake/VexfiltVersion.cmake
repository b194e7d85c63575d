# The version header: filt/version.h, generated into the build tree's include
# directory from project(VERSION), seen by every target that includes the
# public headers and installed beside them.

set(VEXFILT_GENERATED_INCLUDE_DIR ${PROJECT_BINARY_DIR}/include)
configure_file(${PROJECT_SOURCE_DIR}/cmake/version.h.in ${VEXFILT_GENERATED_INCLUDE_DIR}/filt/version.h @ONLY)

target_include_directories(vexfilt_objects PUBLIC $<BUILD_INTERFACE:${VEXFILT_GENERATED_INCLUDE_DIR}>)
target_include_directories(vexfilt_core PUBLIC $<BUILD_INTERFACE:${VEXFILT_GENERATED_INCLUDE_DIR}>)
target_include_directories(vexfilt11 PUBLIC $<BUILD_INTERFACE:${VEXFILT_GENERATED_INCLUDE_DIR}>)

install(FILES ${VEXFILT_GENERATED_INCLUDE_DIR}/filt/version.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/filt)
