# Installation: headers under include/, libraries under lib/, a CMake package
# (find_package(vexfilt CONFIG)) with the targets vexfilt::vexsys11,
# vexfilt::vexstd11 and vexfilt::vexfilt11, and a pkg-config file.

include(CMakePackageConfigHelpers)

set(VEXFILT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vexfilt)

# Installed libraries find each other next to themselves.
set_target_properties(vexsys11 vexstd11 vexfilt11 PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS vexsys11 vexstd11 vexfilt11
  EXPORT vexfiltTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT vexfiltTargets NAMESPACE vexfilt:: DESTINATION ${VEXFILT_CMAKE_DIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vexfiltConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vexfiltConfig.cmake
  INSTALL_DESTINATION ${VEXFILT_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vexfiltConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vexfiltConfig.cmake ${PROJECT_BINARY_DIR}/vexfiltConfigVersion.cmake
  DESTINATION ${VEXFILT_CMAKE_DIR})

configure_file(${PROJECT_SOURCE_DIR}/cmake/vexfilt.pc.in ${PROJECT_BINARY_DIR}/vexfilt.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vexfilt.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
